"""Profiles of known databases: recognition, the views of the shipped profiles on
the real files (with the figures checked by hand on them), every conversion's edge
cases on written databases, malformed profile files, and the tool's view commands."""

from __future__ import annotations

import collections
import datetime as dt
import json
import struct
import uuid
from pathlib import Path

import pyarrow as pa
import pytest

from esefile import (BINARY, DATETIME, GUID, LONG, LONG_BINARY, LONG_LONG, LONG_TEXT, TEXT, UNSIGNED_BYTE,
                     UNSIGNED_SHORT, Column, EseFile, Table, patch)
from quarrow import EseDatabase
from helpers import filetime, ole_days
from test_cli import exe, run  # noqa: F401  (the fixture)

UTC = dt.timezone.utc


def utc(*args) -> dt.datetime:
    return dt.datetime(*args, tzinfo=UTC)


def sid_blob(authority: int, *subs: int) -> bytes:
    return bytes([1, len(subs)]) + authority.to_bytes(6, "big") + b"".join(struct.pack("<I", s) for s in subs)


def u64(v: int) -> bytes:
    return struct.pack("<Q", v)


# ---------------------------------------------------------------------------
# The shipped profiles on the real files
# ---------------------------------------------------------------------------

def test_recognition_of_the_real_files(data_dir):
    kinds = {p.name: EseDatabase(str(p)).profile for p in sorted(data_dir.iterdir())
             if p.suffix in (".edb", ".dat", ".mdb")}
    assert kinds["srum-small.dat"] == "srum"
    assert kinds["ual-current.mdb"] == "ual"
    assert kinds["windows-search-w10.edb"] == "windows_search"
    # A File History catalog despite its name, and the writer's test files: no profile.
    assert kinds["search-catalog.edb"] is None
    assert kinds["basic.edb"] is None


def test_srum_ids_sids_and_times(data_dir):
    db = EseDatabase(str(data_dir / "srum-small.dat"))
    providers = [v for v in db.views() if v not in ("id_map", "checkpoints")]
    assert len(providers) == 6
    apps, users, times = collections.Counter(), collections.Counter(), []
    for view in providers:
        for row in db.read_view(view):
            apps["placeholder" if row["App"] == "(none)" else "resolved" if row["App"] else "unresolved"] += 1
            users["placeholder" if row["UserSid"] == "(none)" else "resolved" if row["UserSid"] else "unresolved"] += 1
            times.append(row["TimeStamp"])
    assert apps == {"resolved": 217, "placeholder": 3}
    assert users == {"resolved": 203, "placeholder": 17}
    assert min(times) == utc(2021, 11, 16, 19, 18) and max(times) == utc(2021, 11, 17, 3, 3)
    ids = db.read_view("id_map")
    sids = [r["Text"] for r in ids if r["IdType"] == 3 and r["Text"] != "(none)"]
    assert len(sids) == 37 and all(s.startswith("S-1-5-") for s in sids)
    names = {r["Text"]: r["UserName"] for r in ids if r["IdType"] == 3}
    assert names["S-1-5-18"] == "NT AUTHORITY\\SYSTEM"
    assert names["S-1-5-90-0-1"] == "Window Manager\\DWM-1"
    connections = db.read_view("network_connectivity")
    starts = sorted(r["ConnectStartTime"] for r in connections)
    assert starts[0] == utc(2021, 11, 16, 18, 17, 44, 200939)
    assert {r["InterfaceType"] for r in connections} == {"IF_TYPE_ETHERNET_CSMACD"}
    assert all(isinstance(r["ConnectedTime"], dt.timedelta) for r in connections)


def test_ual_addresses_roles_and_days(data_dir):
    db = EseDatabase(str(data_dir / "ual-current.mdb"))
    clients = db.read_view("clients")
    assert len(clients) == 19
    assert all(c["Address"] for c in clients) and sum(":" in c["Address"] for c in clients) == 6
    assert collections.Counter(c["Role"] for c in clients) == {"Active Directory Domain Services": 10,
                                                               "File Server": 9}
    assert {r["Role"] for r in db.read_view("role_access")} == {
        "Active Directory Domain Services", "Print and Document Services", "File Server"}
    sums = collections.Counter()
    days = collections.defaultdict(list)
    for d in db.read_view("client_days"):
        key = (d["RoleGuid"], d["Address"], d["AuthenticatedUserName"])
        sums[key] += d["Accesses"]
        days[key].append(d["Date"])
    for c in clients:
        key = (c["RoleGuid"], c["Address"], c["AuthenticatedUserName"])
        assert sums[key] == c["TotalAccesses"]
        # First and last day with accesses are the days of InsertDate and LastAccess.
        assert min(days[key]).date() == c["InsertDate"].date()
        assert max(days[key]).date() == c["LastAccess"].date()
    assert min(c["InsertDate"] for c in clients).date() == dt.date(2021, 7, 23)


def test_windows_search_paths_and_properties(data_dir):
    db = EseDatabase(str(data_dir / "windows-search-w10.edb"))
    files = db.read_view("files")
    assert len(files) == 918
    assert sum(f["Path"] == f["System.ItemUrl"] for f in files) == 918
    gathered = [f["System.Search.GatherTime"] for f in files if f["System.Search.GatherTime"]]
    assert min(gathered).date() >= dt.date(2022, 2, 5) and max(gathered).date() <= dt.date(2022, 2, 8)
    props = pa.table(db.arrow_view("properties"))
    assert props.num_rows == 918
    assert "System.ItemPathDisplay" in props.column_names and "4447-System_ItemPathDisplay" not in props.column_names
    assert props.schema.field("System.DateModified").type == pa.timestamp("us", tz="UTC")
    assert db.read_view("catalogs")[0]["CatalogName"] == "SystemIndex"
    gather = db.read_view("gather", columns=["DocumentID", "LastModified"])
    modified = [g["LastModified"] for g in gather if g["LastModified"]]
    assert len(modified) == 842 and min(modified).date() >= dt.date(2021, 11, 16)


# ---------------------------------------------------------------------------
# Conversions on written databases
# ---------------------------------------------------------------------------

# Columns of the test table: one per stored type the conversions read.
COLUMNS = {
    "ll": Column("ll", LONG_LONG, 1), "dt": Column("dt", DATETIME, 2), "long": Column("long", LONG, 3),
    "us": Column("us", UNSIGNED_SHORT, 4), "guid": Column("guid", GUID, 5),
    "bin": Column("bin", BINARY, 128), "lbin": Column("lbin", LONG_BINARY, 256),
    "utext": Column("utext", LONG_TEXT, 257, codepage=1200), "text": Column("text", TEXT, 129),
}


def conversion_db(write_db, tmp_path, column: dict, values: list, table_columns=None, **view_extra):
    """A database with table Conv holding `values` in the column named by
    column["from"], and a profile whose view "v" has `column` as its only column."""
    src = column["from"]
    cols = table_columns or [COLUMNS["long"], COLUMNS[src]] if src != "long" else [COLUMNS["long"]]
    records = [{src: v} if src != "long" else {"long": v} for v in values]
    path = write_db([Table("Conv", cols, records=records)])
    view = {"name": "v", "table": "Conv", "columns": [column], **view_extra}
    profile = tmp_path / "test.json"
    profile.write_text(json.dumps({"profile": "test", "recognize": [["Conv"]], "views": [view],
                                   "lookups": {"if": {"6": "ethernet"}, "fb": {"7": "seven"}}}))
    return EseDatabase(path, profiles=[profile])


NAN = u64(0x7FF8000000000000)
EDGE_CASES = [
    # (column, stored values, expected view values)
    ({"from": "ll", "convert": "filetime"},
     [filetime(utc(2021, 11, 16, 18, 17, 44, 200939)), 0, u64(2**64 - 1)],
     [utc(2021, 11, 16, 18, 17, 44, 200939), None, None]),
    ({"from": "dt", "convert": "filetime"}, [u64(filetime(utc(2021, 7, 23, 10, 30, 55)))], [utc(2021, 7, 23, 10, 30, 55)]),
    ({"from": "bin", "convert": "filetime"}, [u64(filetime(utc(2022, 2, 8))), b"\x01" * 7], [utc(2022, 2, 8), None]),
    ({"from": "bin", "convert": "filetime_be"},
     [struct.pack(">Q", filetime(utc(2022, 2, 5, 19, 47))), bytes(8)], [utc(2022, 2, 5, 19, 47), None]),
    ({"from": "dt", "convert": "ole_date"}, [struct.pack("<d", ole_days(utc(2021, 11, 16, 19, 18))), NAN],
     [utc(2021, 11, 16, 19, 18), None]),
    # The DateTime rule: zero is OLE day 0, tiny non-zero doubles are FILETIMEs,
    # OLE doubles in range are dates, NaN is neither.
    ({"from": "dt", "convert": "datetime"},
     [u64(0), u64(1), struct.pack("<d", ole_days(utc(2021, 11, 16, 19, 18))), u64(filetime(utc(2021, 7, 23))), NAN,
      struct.pack("<d", 3.0e6)],
     [utc(1899, 12, 30), utc(1601, 1, 1), utc(2021, 11, 16, 19, 18), utc(2021, 7, 23), None, None]),
    ({"from": "long", "convert": "duration_ms"}, [1500, -2], [dt.timedelta(seconds=1.5), dt.timedelta(milliseconds=-2)]),
    ({"from": "long", "convert": "duration_s"}, [3615], [dt.timedelta(seconds=3615)]),
    ({"from": "bin", "convert": "duration_100ns"}, [u64(10_000_000)], [dt.timedelta(seconds=1)]),
    ({"from": "lbin", "convert": "sid"},
     [sid_blob(5, 21, 1, 2, 3, 500), sid_blob(5, 18)[:-1], bytes(8), sid_blob(2**40, 1)],
     ["S-1-5-21-1-2-3-500", None, None, "S-1-0x010000000000-1"]),
    ({"from": "lbin", "convert": "sid_name"},
     [sid_blob(5, 18), sid_blob(5, 96, 0, 3), sid_blob(5, 21, 1, 2, 3, 1001)],
     ["NT AUTHORITY\\SYSTEM", "Font Driver Host\\UMFD-3", None]),
    ({"from": "lbin", "convert": "utf16"}, ["Dnscache\0\0".encode("utf-16-le"), b"a\x00b"], ["Dnscache", "a"]),
    ({"from": "lbin", "convert": "utf16_list"}, ["link\0program\0".encode("utf-16-le")], ["link; program"]),
    ({"from": "bin", "convert": "ip"},
     [bytes([10, 10, 10, 120]), bytes(15) + b"\x01", bytes.fromhex("fe800000000000008804fd0e088a0abe"), b"\x01" * 5,
      bytes.fromhex("20010db8000000000001000000000001")],
     ["10.10.10.120", "::1", "fe80::8804:fd0e:88a:abe", None, "2001:db8::1:0:0:1"]),
    ({"from": "utext", "convert": "ip"}, ["10.199.5.144\0"], ["10.199.5.144"]),
    ({"from": "utext", "convert": "text"}, ["blackclover\\dc$\0"], ["blackclover\\dc$"]),
    ({"from": "bin", "convert": "guid"}, [uuid.UUID("ad495fc3-0eaa-413d-ba7d-8b13fa7ec598").bytes_le, b"\x00"],
     ["ad495fc3-0eaa-413d-ba7d-8b13fa7ec598", None]),
    ({"from": "ll", "convert": "bits", "shift": 48, "bits": 16, "lookup": "if"},
     [(6 << 48) | (32769 << 24), 53 << 48], ["ethernet", "53"]),
    ({"from": "us", "convert": "signed16"}, [65116, 120], [-420, 120]),
    ({"from": "ll"}, [u64(2**63), 5], [None, 5]),                       # past 2^63: invalid, not negative
    ({"from": "bin", "convert": "hex64"}, [bytes.fromhex("6329da9812d9bdce")], ["cebdd91298da2963"]),
    ({"from": "long", "convert": "unix_seconds"}, [0], [utc(1970, 1, 1)]),
    # A code page 1252 text column holding UTF-16LE (as CatalogStorageManager does).
    ({"from": "text", "convert": "utf16"}, ["SystemIndex".encode("utf-16-le")], ["SystemIndex"]),
    ({"from": "guid"}, [uuid.UUID("10a9226f-50ee-49d8-a393-9a501d47ce04")], ["10a9226f-50ee-49d8-a393-9a501d47ce04"]),
    ({"from": "dt"}, [u64(filetime(utc(2021, 7, 23)))], [utc(2021, 7, 23)]),   # DateTime as it is: the rule
]


@pytest.mark.parametrize("column,stored,expected", EDGE_CASES,
                         ids=[f"{c.get('convert', 'value')}-{c['from']}" for c, _, _ in EDGE_CASES])
def test_conversion_edge_cases(write_db, tmp_path, column, stored, expected):
    db = conversion_db(write_db, tmp_path, {"name": "x", **column}, stored)
    assert db.profile == "test"
    assert [r["x"] for r in db.read_view("v")] == expected
    # The Arrow stream gives the same values.
    assert pa.table(db.arrow_view("v")).column("x").to_pylist() == expected


def test_out_of_range_date_is_null_with_its_raw_value(write_db, tmp_path):
    garbage = 0x0100080100f80000  # the 1829 filler seen in a dirty Windows Search file
    good = filetime(utc(2022, 2, 8))
    db = conversion_db(write_db, tmp_path, {"name": "t", "from": "ll", "convert": "filetime",
                                            "range": ["2000-01-01", "2099-12-31"], "raw": True}, [garbage, good])
    assert db.read_view("v") == [{"t": None, "t_raw": garbage}, {"t": utc(2022, 2, 8), "t_raw": good}]


def test_joins_placeholders_wrong_types_and_fallback(write_db, tmp_path):
    ids = Table("SruDbIdMapTable", [Column("IdType", UNSIGNED_BYTE, 1), Column("IdIndex", LONG, 2),
                                    Column("IdBlob", LONG_BINARY, 256)],
                records=[{"IdType": 0, "IdIndex": 1}, {"IdType": 3, "IdIndex": 2},
                         {"IdType": 0, "IdIndex": 10, "IdBlob": "\\Device\\x.exe\0".encode("utf-16-le")},
                         {"IdType": 3, "IdIndex": 11, "IdBlob": sid_blob(5, 18)},
                         {"IdType": 3, "IdIndex": 12, "IdBlob": bytes(8)}])
    checkpoints = Table("SruDbCheckpointTable", [Column("CheckpointId", LONG, 1)])
    provider = Table("{DD6636C4-8929-4683-974E-22C046A43763}",
                     [Column("AutoIncId", LONG, 1), Column("TimeStamp", DATETIME, 2), Column("AppId", LONG, 3),
                      Column("UserId", LONG, 4), Column("InterfaceLuid", LONG_LONG, 5)],
                     records=[{"AutoIncId": 1, "TimeStamp": dt.datetime(2021, 11, 16, 19, 18), "AppId": a, "UserId": u,
                               "InterfaceLuid": (71 << 48)} for a, u in [(1, 2), (10, 11), (11, 10), (99, 12)]])
    path = write_db([ids, checkpoints, provider])
    db = EseDatabase(path)
    assert db.profile == "srum" and db.views() == ["network_connectivity", "id_map", "checkpoints"]
    rows = db.read_view("network_connectivity", columns=["App", "AppType", "UserSid", "UserName", "InterfaceType"])
    assert rows == [
        {"App": "(none)", "AppType": "application", "UserSid": "(none)", "UserName": None,
         "InterfaceType": "IF_TYPE_IEEE80211"},
        {"App": "\\Device\\x.exe", "AppType": "application", "UserSid": "S-1-5-18",
         "UserName": "NT AUTHORITY\\SYSTEM", "InterfaceType": "IF_TYPE_IEEE80211"},
        # Ids pointing at an entry of the wrong type, or at none, are not trusted.
        {"App": None, "AppType": None, "UserSid": None, "UserName": None, "InterfaceType": "IF_TYPE_IEEE80211"},
        {"App": None, "AppType": None, "UserSid": None, "UserName": None, "InterfaceType": "IF_TYPE_IEEE80211"},
    ]
    # The raw ids stay.
    assert [r["AppId"] for r in db.read_view("network_connectivity")] == [1, 10, 11, 99]


def test_join_fallback_list_and_tree_loops(write_db, tmp_path):
    nodes = Table("Tree", [Column("Id", LONG, 1), Column("Parent", LONG, 2), Column("Name", LONG_TEXT, 256, codepage=1200)],
                  records=[{"Id": 2, "Parent": 1, "Name": "file:"}, {"Id": 3, "Parent": 2, "Name": "C:/"},
                           {"Id": 4, "Parent": 3, "Name": "[e42a59ae-c23e-44ec-838b-1c85bbbf5240]/"},
                           {"Id": 5, "Parent": 4, "Name": "Users/"},
                           {"Id": 8, "Parent": 9, "Name": "a/"}, {"Id": 9, "Parent": 8, "Name": "b/"}])
    items = Table("Items", [Column("Doc", LONG, 1), Column("Scope", LONG, 2), Column("Leaf", LONG_TEXT, 256, codepage=1200),
                            Column("Role", LONG, 3)],
                  records=[{"Doc": 1, "Scope": 5, "Leaf": "bob", "Role": 7}, {"Doc": 2, "Scope": 9, "Leaf": "x", "Role": 8},
                           {"Doc": 3, "Scope": 77, "Leaf": "y"}])
    path = write_db([nodes, items])
    tree = {"table": "Items", "key": "Doc", "scope": "Scope", "leaf": "Leaf", "tree_table": "Tree",
            "tree_id": "Id", "tree_parent": "Parent", "tree_name": "Name", "drop_bracketed": True}
    profile = tmp_path / "p.json"
    profile.write_text(json.dumps({
        "profile": "trees", "recognize": [["Items", "Tree"]], "lookups": {"roles": {"7": "seven"}},
        "views": [{"name": "items", "table": "Items", "columns": [
            "Doc", {"name": "Path", "from": "Doc", "convert": "tree_path", "tree": tree},
            {"name": "RoleName", "from": "Role", "convert": "join",
             "join": {"table": "Missing", "key": "k", "value": "v", "fallback": "roles"}}]}]}))
    db = EseDatabase(path, profiles=[str(profile)])
    # A parent loop gives no path (and no hang); an unknown scope none either.
    assert db.read_view("items") == [{"Doc": 1, "Path": "file:C:/Users/bob", "RoleName": "seven"},
                                     {"Doc": 2, "Path": None, "RoleName": None},
                                     {"Doc": 3, "Path": None, "RoleName": None}]


def test_unpivot_days(write_db, tmp_path):
    cols = [Column("Who", LONG, 1), Column("InsertDate", DATETIME, 2), Column("Day1", UNSIGNED_SHORT, 3),
            Column("Day60", UNSIGNED_SHORT, 4), Column("Day366", UNSIGNED_SHORT, 5)]
    path = write_db([Table("CLIENTS", cols, null_bitmap=True, records=[
        {"Who": 1, "InsertDate": u64(filetime(utc(2020, 1, 1, 8))), "Day1": 3, "Day366": 1},
        {"Who": 2, "InsertDate": u64(filetime(utc(2021, 3, 1))), "Day60": 2},
        {"Who": 3, "Day1": 4}])])
    profile = tmp_path / "d.json"
    profile.write_text(json.dumps({"profile": "days", "recognize": [["CLIENTS"]], "views": [
        {"name": "days", "table": "CLIENTS", "columns": ["Who"],
         "unpivot": {"prefix": "Day", "year_from": "InsertDate", "count_column": "N"}}]}))
    db = EseDatabase(path, profiles=[profile])
    assert db.read_view("days") == [
        {"Who": 1, "Date": utc(2020, 1, 1), "N": 3}, {"Who": 1, "Date": utc(2020, 12, 31), "N": 1},
        {"Who": 2, "Date": utc(2021, 3, 1), "N": 2},
        {"Who": 3, "Date": None, "N": 4}]  # no year known: the count stays, the date is null


def test_a_profile_file_replaces_the_built_in_one(write_db, tmp_path):
    path = write_db([Table("SruDbIdMapTable", [Column("IdIndex", LONG, 1)], records=[{"IdIndex": 4}]),
                     Table("SruDbCheckpointTable", [Column("CheckpointId", LONG, 1)])])
    assert EseDatabase(path).profile == "srum"
    mine = tmp_path / "srum.json"
    mine.write_text(json.dumps({"profile": "srum", "recognize": [["SruDbIdMapTable"]],
                                "views": [{"name": "ids", "table": "SruDbIdMapTable", "columns": ["IdIndex"]}]}))
    db = EseDatabase(path, profiles=[mine])
    assert db.views() == ["ids"] and db.read_view("ids") == [{"IdIndex": 4}]


# ---------------------------------------------------------------------------
# API errors and malformed profiles
# ---------------------------------------------------------------------------

def test_view_api_errors(write_db, tmp_path):
    db = conversion_db(write_db, tmp_path, {"name": "x", "from": "long"}, [1])
    with pytest.raises(ValueError, match="View not found: nope"):
        db.read_view("nope")
    with pytest.raises(ValueError, match="Column not found: y"):
        db.arrow_view("v", columns=["y"])
    with pytest.raises(TypeError):
        db.read_view("v", columns="x")
    plain = EseDatabase(write_db([Table("T", [Column("a", LONG, 1)])]))
    assert plain.profile is None and plain.views() == []
    with pytest.raises(ValueError, match="no profile"):
        plain.arrow_view("v")
    with pytest.raises(TypeError):
        EseDatabase(plain.path, profiles="one.json")
    with pytest.raises(ValueError, match="Cannot read profile"):
        EseDatabase(plain.path, profiles=[tmp_path / "missing.json"])


MALFORMED = [
    ('{"profile": "x",\n "recognize": [["T"]],\n "views": [\n   {"name": "v" "table": "T"}]}', 4, "parse error"),
    ('{"profile": "x",\n "recognize": [["T"]],\n "views": [{"name": "v", "table": "T",\n'
     '   "columns": [{"from": "a",\n     "convert": "filetim"}]}]}', 5, 'unknown conversion "filetim"'),
    ('{"profile": "x",\n "recognize": [["T"]],\n "veiws": []}', 3, 'unknown key "veiws"'),
    ('{"profile": "x", "recognize": [["T"]]}', 1, 'needs "views"'),
    ('// comments are allowed\n{"profile": "x", "recognize": [["T"]], "views": [\n'
     '  {"name": "v", "table": "T", "columns": [{"from": "a", "range": ["2000-13-01", "2001-01-01"]}]}]}',
     3, "is not a date"),
    ('{"profile": "x", "recognize": [["T"]], "views": [\n {"name": "v", "table": "T", "columns": ["a", "a"]}]}',
     2, "two columns named"),
    ('{"profile": "x", "recognize": [["T"]], "views": [{"name": "v", "table": "T",\n'
     ' "columns": [{"from": "a", "convert": "join"}]}]}', 2, '"join" goes with'),
    ('{"profile": "x", "recognize": [["T"]], "views": [{"name": "v", "table": "T",\n'
     ' "columns": [{"from": "a", "lookup": "nope"}]}]}', 2, 'no lookup named "nope"'),
    ('{"profile": "x", "profile": "y"}', 1, 'duplicate key'),
    ('', 1, "parse error"),
]


@pytest.mark.parametrize("text,line,what", MALFORMED)
def test_malformed_profile_names_file_line_and_fault(write_db, tmp_path, text, line, what):
    path = write_db([Table("T", [Column("a", LONG, 1)])])
    bad = tmp_path / "bad.json"
    bad.write_text(text)
    with pytest.raises(ValueError) as info:
        EseDatabase(path, profiles=[bad])
    message = str(info.value)
    assert str(bad) in message and f"line {line}:" in message and what in message


# ---------------------------------------------------------------------------
# The tool
# ---------------------------------------------------------------------------

def test_tool_views_dump_and_export(exe, write_db, tmp_path):  # noqa: F811
    db = conversion_db(write_db, tmp_path, {"name": "t", "from": "ll", "convert": "filetime", "raw": True},
                       [filetime(utc(2022, 2, 8, 1, 2, 3)), u64(2**64 - 1)])
    profile = tmp_path / "test.json"
    out, _ = run(exe, "views", "--profile", profile, "--json", db.path)
    listed = json.loads(out)
    assert listed["profile"] == "test" and listed["views"][0]["columns"][0] == {
        "name": "t", "type": "timestamp", "source": "ll", "note": None}
    out, err = run(exe, "dump", "--view", "v", "--profile", profile, db.path)
    assert [json.loads(line) for line in out.splitlines()] == [
        {"t": "2022-02-08T01:02:03Z", "t_raw": filetime(utc(2022, 2, 8, 1, 2, 3))},
        {"t": None, "t_raw": 2**64 - 1}]
    assert "1 value could not be converted" in err
    out, _ = run(exe, "dump", "--view", "v", "--profile", profile, "-f", "csv", "-n", "1", db.path)
    assert out.decode() == f"t,t_raw\r\n2022-02-08T01:02:03Z,{filetime(utc(2022, 2, 8, 1, 2, 3))}\r\n"
    run(exe, "export", "--views", "--profile", profile, "-o", tmp_path / "out", db.path)
    assert len((tmp_path / "out" / "v.jsonl").read_text().splitlines()) == 2
    _, err = run(exe, "dump", "--view", "nope", "--profile", profile, db.path, check=1)
    assert "View not found" in err
    bad = tmp_path / "bad.json"
    bad.write_text("{\n  nope }")
    _, err = run(exe, "views", "--profile", bad, db.path, check=1)
    assert f"{bad}, line 2:" in err


def test_tool_on_real_files(exe, data_dir, tmp_path):  # noqa: F811
    out, _ = run(exe, "info", "--json", data_dir / "srum-small.dat")
    assert json.loads(out)["profile"] == "srum"
    out, _ = run(exe, "views", "--json", data_dir / "srum-small.dat")
    usage = next(v for v in json.loads(out)["views"] if v["name"] == "app_resource_usage")
    types = {c["name"]: c["type"] for c in usage["columns"]}
    assert (types["AppId"], types["App"], types["ForegroundCycleTime"]) == ("int32", "text", "int64")
    out, _ = run(exe, "dump", "--view", "clients", data_dir / "ual-current.mdb")
    rows = [json.loads(line) for line in out.splitlines()]
    assert len(rows) == 19 and rows[0]["InsertDate"].endswith("Z")
    run(exe, "export", "--views", "-o", tmp_path, data_dir / "windows-search-w10.edb")
    assert len((tmp_path / "files.jsonl").read_text(encoding="utf-8").splitlines()) == 918


def test_property_names_and_other_columns(write_db, tmp_path):
    cols = [Column("WorkID", UNSIGNED_SHORT, 1), Column("15F-System_DateModified", BINARY, 128),
            Column("4447-System_ItemPathDisplay", LONG_TEXT, 256, codepage=1200),
            Column("0F-InvertedOnlyMD5", BINARY, 129), Column("Plain_Name", LONG, 2)]
    path = write_db([Table("Store", cols, records=[
        {"WorkID": 1, "15F-System_DateModified": u64(filetime(utc(2022, 2, 8))),
         "4447-System_ItemPathDisplay": "C:\\x", "0F-InvertedOnlyMD5": b"\x01\x02", "Plain_Name": 5}])])
    profile = tmp_path / "s.json"
    profile.write_text(json.dumps({"profile": "store", "recognize": [["Store"]], "views": [
        {"name": "props", "table": "Store", "other_columns": "property",
         "columns": ["WorkID", {"name": "System.DateModified", "from": "System_DateModified", "convert": "filetime"}]}]}))
    db = EseDatabase(path, profiles=[profile])
    assert db.read_view("props") == [{"WorkID": 1, "System.DateModified": utc(2022, 2, 8), "Plain_Name": 5,
                                      "System.ItemPathDisplay": "C:\\x", "InvertedOnlyMD5": b"\x01\x02"}]


def test_fleet_reads_a_view_across_files(write_db, tmp_path):
    dask = pytest.importorskip("dask")
    quarrow_fleet = pytest.importorskip("quarrow_fleet")
    ids = Table("SruDbIdMapTable", [Column("IdType", UNSIGNED_BYTE, 1), Column("IdIndex", LONG, 2),
                                    Column("IdBlob", LONG_BINARY, 256)],
                records=[{"IdType": 3, "IdIndex": 2}, {"IdType": 3, "IdIndex": 5, "IdBlob": sid_blob(5, 19)}])
    checkpoints = Table("SruDbCheckpointTable", [Column("CheckpointId", LONG, 1)])

    def provider(n, extra):
        cols = [Column("AutoIncId", LONG, 1), Column("TimeStamp", DATETIME, 2), Column("AppId", LONG, 3),
                Column("UserId", LONG, 4)] + ([Column("ConnectedTime", LONG, 5)] if extra else [])
        return Table("{DD6636C4-8929-4683-974E-22C046A43763}", cols,
                     records=[{"AutoIncId": i, "TimeStamp": dt.datetime(2021, 11, 16, 19), "AppId": 1, "UserId": 5,
                               **({"ConnectedTime": 60} if extra else {})} for i in range(n)])
    paths = [write_db([ids, checkpoints, provider(3, False)]), write_db([ids, checkpoints, provider(2, True)]),
             write_db([Table("Other", [Column("a", LONG, 1)])]), str(tmp_path / "missing.dat")]
    frame = quarrow_fleet.read_views(paths, "network_connectivity")
    with dask.config.set(scheduler="synchronous"):
        rows, failed = dask.compute(frame, quarrow_fleet.failures(frame))
    assert len(rows) == 5 and set(rows["UserSid"]) == {"S-1-5-19"}
    # Text resolved through the id map is plain text in the frame, string methods and all.
    assert rows["UserSid"].str.startswith("S-1-5-").all()
    assert rows["ConnectedTime"].isna().sum() == 3          # the union of the columns
    assert list(failed["source"]) == [paths[3]]


# ---------------------------------------------------------------------------
# The shipped UAL and Windows Search profiles on written databases
# ---------------------------------------------------------------------------

def ual_database(write_db):
    clients = [Column("RoleGuid", GUID, 1), Column("TotalAccesses", LONG, 2), Column("InsertDate", DATETIME, 3),
               Column("LastAccess", DATETIME, 4), Column("Address", BINARY, 128),
               Column("AuthenticatedUserName", LONG_TEXT, 256, codepage=1200)]
    clients += [Column(f"Day{n}", UNSIGNED_SHORT, 4 + n) for n in range(1, 6)]
    role = "48eed6b2-9cdc-4358-b5a5-8dea3b2f3f6a"  # DHCP Server: in the fallback list only
    return write_db([
        Table("CLIENTS", clients, null_bitmap=True, records=[
            {"RoleGuid": role, "TotalAccesses": 5, "InsertDate": u64(filetime(utc(2024, 1, 2, 23, 59))),
             "LastAccess": u64(filetime(utc(2024, 1, 5))), "Address": bytes([192, 168, 0, 7]),
             "AuthenticatedUserName": "corp\\alice\0", "Day2": 3, "Day5": 2},
            {"RoleGuid": "00000000-0000-0000-0000-000000000001", "TotalAccesses": 1,
             "InsertDate": u64(0x0100080100f80000), "Address": b"\x01\x02\x03", "Day1": 1}]),
        Table("ROLE_ACCESS", [Column("RoleGuid", GUID, 1), Column("FirstSeen", DATETIME, 2)],
              records=[{"RoleGuid": role, "FirstSeen": u64(filetime(utc(2024, 1, 2)))}]),
        Table("DNS", [Column("LastSeen", DATETIME, 1), Column("Address", LONG_TEXT, 256, codepage=1200),
                      Column("HostName", LONG_TEXT, 257, codepage=1200)],
              records=[{"LastSeen": u64(filetime(utc(2024, 1, 3))), "Address": "10.0.0.1\0", "HostName": "dc-1\0"}]),
        Table("VIRTUALMACHINES", [Column("VmGuid", GUID, 1)])])


def test_shipped_ual_profile_edges(write_db):
    db = EseDatabase(ual_database(write_db))
    assert db.profile == "ual"
    clients = db.read_view("clients")
    assert clients[0]["Role"] == "DHCP Server" and clients[0]["Address"] == "192.168.0.7"
    assert clients[0]["AuthenticatedUserName"] == "corp\\alice"
    # An unknown role, an address of 3 bytes and a garbage date: nulls, raw kept.
    assert clients[1]["Role"] is None and clients[1]["Address"] is None
    assert clients[1]["InsertDate"] is None and clients[1]["InsertDate_raw"] == 0x0100080100f80000
    days = db.read_view("client_days")
    assert [(d["Date"], d["Accesses"]) for d in days if d["Role"]] == [(utc(2024, 1, 2), 3), (utc(2024, 1, 5), 2)]
    # The garbage year gives no dates, but the count stays.
    assert [(d["Date"], d["Accesses"]) for d in days if not d["Role"]] == [(None, 1)]
    assert db.read_view("dns") == [{"LastSeen": utc(2024, 1, 3), "LastSeen_raw": filetime(utc(2024, 1, 3)),
                                    "Address": "10.0.0.1", "HostName": "dc-1"}]
    table = pa.table(db.arrow_view("client_days", batch_rows=1))
    assert table.num_rows == 3 and table.schema.field("Date").type == pa.timestamp("us", tz="UTC")


def test_shipped_search_profile_paths(write_db):
    store = Table("SystemIndex_PropertyStore", [
        Column("WorkID", LONG, 1), Column("13F-System_Size", BINARY, 128),
        Column("4631F-System_Search_GatherTime", BINARY, 129), Column("33-System_ItemUrl", LONG_TEXT, 256, codepage=1200),
        Column("4456-System_Kind", LONG_BINARY, 257)],
        records=[{"WorkID": 7, "13F-System_Size": u64(1234), "4631F-System_Search_GatherTime": u64(0x0100080100f80000),
                  "33-System_ItemUrl": "file:C:/Users/bob", "4456-System_Kind": "link\0program\0".encode("utf-16-le")}])
    gather = Table("SystemIndex_Gthr", [Column("ScopeID", LONG, 1), Column("DocumentID", LONG, 2),
                                        Column("LastModified", BINARY, 128),
                                        Column("FileName", LONG_TEXT, 256, codepage=1200)],
                   records=[{"ScopeID": 4, "DocumentID": 7, "LastModified": struct.pack(">Q", filetime(utc(2022, 2, 5))),
                             "FileName": "bob"},
                            {"ScopeID": 4, "DocumentID": 8, "LastModified": u64(1), "FileName": "x"}])
    paths = Table("SystemIndex_GthrPth", [Column("Scope", LONG, 1), Column("Parent", LONG, 2),
                                          Column("Name", LONG_TEXT, 256, codepage=1200)],
                  records=[{"Scope": 2, "Parent": 1, "Name": "file:"}, {"Scope": 3, "Parent": 2, "Name": "C:/"},
                           {"Scope": 5, "Parent": 3, "Name": "[e42a59ae-c23e-44ec-838b-1c85bbbf5240]/"},
                           {"Scope": 4, "Parent": 5, "Name": "Users/"}])
    db = EseDatabase(write_db([store, gather, paths]))
    assert db.profile == "windows_search"
    files = db.read_view("files")
    assert files == [{"WorkID": 7, "Path": "file:C:/Users/bob", "System.ItemUrl": "file:C:/Users/bob",
                      "System.Kind": "link; program", "System.Size": 1234, "System.Search.GatherTime": None,
                      "System.Search.GatherTime_raw": u64(0x0100080100f80000)}]
    gathered = db.read_view("gather", columns=["DocumentID", "Path", "LastModified"])
    # 1 is no time (before the plausible range): null, not 1601.
    assert gathered == [{"DocumentID": 7, "Path": "file:C:/Users/bob", "LastModified": utc(2022, 2, 5)},
                        {"DocumentID": 8, "Path": "file:C:/Users/x", "LastModified": None}]
    assert [p["Path"] for p in db.read_view("paths")] == ["file:", "file:C:/", "file:C:/", "file:C:/Users/"]


def test_tool_csv_and_several_files(exe, write_db, tmp_path):  # noqa: F811
    ual = ual_database(write_db)
    out, _ = run(exe, "dump", "--view", "dns", "-f", "csv", ual)
    assert out.decode().splitlines() == ["LastSeen,LastSeen_raw,Address,HostName",
                                         f"2024-01-03T00:00:00Z,{filetime(utc(2024, 1, 3))},10.0.0.1,dc-1"]
    text, _ = run(exe, "views", ual)
    assert text.decode().startswith(f"{ual}: ual\n") and "  client_days  (CLIENTS)" in text.decode()
    other = write_db([Table("T", [Column("a", LONG, 1)])], name="plain.edb")
    _, err = run(exe, "export", "--views", "-o", tmp_path / "out", ual, other, check=1)
    assert "no profile knows this database" in err
    exported = sorted(p.name for p in (tmp_path / "out" / Path(ual).name).iterdir())
    assert exported == ["client_days.jsonl", "clients.jsonl", "dns.jsonl", "role_access.jsonl",
                        "virtual_machines.jsonl"]
    _, err = run(exe, "dump", "--view", "dns", "--decoded", ual, check=2)
    assert "--decoded" in err


# ---------------------------------------------------------------------------
# Joins sharing one read of their table; schemas told without reading it
# ---------------------------------------------------------------------------

def shared_join_db(tmp_path, damaged_leaf=None, repeat=1):
    """Table Main (its eight records `repeat` times) refers to table Names by id (Ref)
    and by code (RefCode); the view joins Names nine ways, two naming columns Names
    lacks. Names has a duplicated id, a row written without id (read as 0), one without
    name and one of another kind, two rows per page; with `damaged_leaf`, Names' leaf
    of that number is zeroed."""
    names = Table("Names", [Column("Id", LONG, 1), Column("Kind", UNSIGNED_BYTE, 2), Column("Num", LONG, 3),
                            Column("Code", TEXT, 256, codepage=1252), Column("Name", LONG_TEXT, 257, codepage=1200)],
                  records=[{"Id": 1, "Kind": 0, "Num": 10, "Code": "a", "Name": "one"},
                           {"Id": 2, "Kind": 0, "Num": 20, "Code": "b", "Name": "two"},
                           {"Id": 2, "Kind": 0, "Num": 99, "Code": "c", "Name": "second two"},
                           {"Kind": 0, "Num": 40, "Code": "d", "Name": "no id"},
                           {"Id": 5, "Kind": 0, "Num": 50, "Code": "e"},
                           {"Id": 6, "Kind": 7, "Num": 60, "Code": "f", "Name": "six"}],
                  records_per_page=2)
    main = Table("Main", [Column("Ref", LONG, 1), Column("RefCode", TEXT, 256, codepage=1252)],
                 records=[{"Ref": r, "RefCode": c} for r, c in
                          [(1, "a"), (2, "c"), (5, "d"), (6, "f"), (7, "zz"), (None, None), (1, "b"), (2, "e")] * repeat])
    db = EseFile(page_size=4096)
    db.add_table(names)
    db.add_table(main)
    data = db.build()
    if damaged_leaf is not None:
        data = patch(data, db.page_offset(db.table_leaf_pages("Names")[damaged_leaf]), bytes(db.page_size))
    path = tmp_path / "joins.edb"
    path.write_bytes(data)

    def join(value, **extra):
        return {"table": "Names", "key": "Id", "value": value, **extra}
    profile = tmp_path / "joins.json"
    profile.write_text(json.dumps({
        "profile": "joins", "recognize": [["Main", "Names"]], "lookups": {"nums": {"10": "ten", "50": "fifty"}},
        "views": [{"name": "v", "table": "Main", "columns": [
            "Ref",
            {"name": "Name", "from": "Ref", "convert": "join", "join": join("Name")},
            {"name": "NameOrNone", "from": "Ref", "convert": "join", "join": join("Name", null_text="(none)")},
            {"name": "Num", "from": "Ref", "convert": "join", "join": join("Num")},
            {"name": "NumName", "from": "Ref", "convert": "join", "join": join("Num"), "lookup": "nums"},
            {"name": "Kind0", "from": "Ref", "convert": "join",
             "join": join("Name", type_column="Kind", expect_types=[0])},
            {"name": "ByKind", "from": "Ref", "convert": "join",
             "join": join("Num", type_column="Kind", convert="hex", convert_by_type={"7": "hex64"})},
            {"name": "ByCode", "from": "RefCode", "convert": "join",
             "join": {"table": "Names", "key": "Code", "value": "Name"}},
            # Columns Names lacks: these resolve nothing, the others of Names still do.
            {"name": "NoValue", "from": "Ref", "convert": "join", "join": join("Missing")},
            {"name": "NoType", "from": "Ref", "convert": "join", "join": join("Name", type_column="Missing")}]}]}))
    return EseDatabase(str(path), profiles=[str(profile)])


SHARED_JOIN_ROWS = [
    # Ref, Name, NameOrNone, Num, NumName, Kind0, ByKind, ByCode
    (1, "one", "one", 10, "ten", "one", "0x000000000000000a", "one"),
    (2, "two", "two", 20, "20", "two", "0x0000000000000014", "second two"),  # the first row of a key wins
    (5, None, "(none)", 50, "fifty", None, "0x0000000000000032", "no id"),  # the row without id has a code
    (6, "six", "six", 60, "60", None, "000000000000003c", "six"),  # kind 7: not trusted, another conversion
    (7, None, None, None, None, None, None, None),  # no such id or code
    (None, None, None, None, None, None, None, None),
    (1, "one", "one", 10, "ten", "one", "0x000000000000000a", "two"),
    (2, "two", "two", 20, "20", "two", "0x0000000000000014", None),
]
SHARED_JOIN_COLUMNS = ["Ref", "Name", "NameOrNone", "Num", "NumName", "Kind0", "ByKind", "ByCode"]


def view_rows(db, columns=None, batch_rows=65536):
    """The view's rows by read_view and by arrow_view, which must agree."""
    rows = db.read_view("v", columns=columns)
    table = pa.table(db.arrow_view("v", columns=columns, batch_rows=batch_rows))
    assert table.to_pylist() == rows
    return rows


# Batches of one row, a few, and one of 5,000 rows (its buffers grow past the first
# 4,096 rows' room).
@pytest.mark.parametrize("batch_rows,repeat", [(1, 1), (3, 1), (65536, 1), (65536, 625)])
def test_joins_sharing_a_table_resolve_each_by_its_own_conversion(tmp_path, batch_rows, repeat):
    db = shared_join_db(tmp_path, repeat=repeat)
    rows = view_rows(db, batch_rows=batch_rows)
    assert [tuple(r[c] for c in SHARED_JOIN_COLUMNS) for r in rows] == SHARED_JOIN_ROWS * repeat
    assert {(r["NoValue"], r["NoType"]) for r in rows} == {(None, None)}
    # Any subset, in any order, gives the same values as the whole view.
    for columns in (["ByCode", "Name"], ["Kind0"], ["NumName", "Ref", "Num"], ["NoValue", "ByKind"]):
        assert view_rows(db, columns) == [{c: r[c] for c in columns} for r in rows]


# On several threads (a view of 5,000 rows is cut into stretches): the rows of one
# thread in order, batches within batch_rows, each with its own dictionaries; parts
# together are the view.
@pytest.mark.parametrize("threads,batch_rows", [(2, 7), (3, 1000), (2, 65536), (8, 1)])
def test_view_threads_and_parts_give_the_rows_of_one_thread(tmp_path, threads, batch_rows):
    db = shared_join_db(tmp_path, repeat=625)
    one = pa.table(db.arrow_view("v", threads=1))
    reader = pa.RecordBatchReader.from_stream(db.arrow_view("v", threads=threads, batch_rows=batch_rows))
    batches = list(reader)
    assert all(b.num_rows <= batch_rows for b in batches) and len(batches) >= 2 * threads
    assert pa.Table.from_batches(batches, schema=reader.schema).to_pylist() == one.to_pylist()
    assert [tuple(r[c] for c in SHARED_JOIN_COLUMNS) for r in one.to_pylist()] == SHARED_JOIN_ROWS * 625
    parts = [pa.table(db.arrow_view("v", threads=threads, part=(k, 4), batch_rows=batch_rows)) for k in range(4)]
    assert pa.concat_tables(parts).to_pylist() == one.to_pylist()
    for bad, error in (({"threads": 0}, ValueError), ({"part": (4, 4)}, ValueError), ({"part": 1}, TypeError)):
        with pytest.raises(error):
            db.arrow_view("v", **bad)


@pytest.mark.parametrize("damaged_leaf,expected", [
    # A zeroed leaf is passed over: the duplicate id 2 becomes the first of its key.
    (0, [(None, None), (99, "second two"), (50, None), (60, "six"), (None, None), (None, None), (None, None),
         (99, "second two")]),
    (1, [(10, "one"), (20, "two"), (50, None), (60, "six"), (None, None), (None, None), (10, "one"), (20, "two")]),
    (2, [(10, "one"), (20, "two"), (None, None), (None, None), (None, None), (None, None), (10, "one"), (20, "two")]),
])
def test_damaged_joined_table_resolves_the_rows_it_still_has(tmp_path, damaged_leaf, expected):
    db = shared_join_db(tmp_path, damaged_leaf)
    rows = view_rows(db)
    # The view's own rows are all there; both joins of Ref see the same joined rows.
    assert [r["Ref"] for r in rows] == [row[0] for row in SHARED_JOIN_ROWS]
    assert [(r["Num"], r["Name"]) for r in rows] == expected


def view_schema_cases():
    yield "written", lambda tmp_path, data_dir: shared_join_db(tmp_path), "v"
    for name in ("srum-small.dat", "ual-current.mdb", "windows-search-w10.edb"):
        yield name, lambda tmp_path, data_dir, name=name: EseDatabase(str(data_dir / name)), None


@pytest.mark.parametrize("label,open_db,only", list(view_schema_cases()), ids=lambda v: v if isinstance(v, str) else "")
def test_view_schema_without_reading_matches_the_stream(tmp_path, request, label, open_db, only):
    data_dir = request.getfixturevalue("data_dir") if label != "written" else None
    db = open_db(tmp_path, data_dir)
    for name in [only] if only else db.views():
        view = db.arrow_view(name)
        # The schema is told without reading joined or tree tables; it must be the one
        # the stream's batches have.
        told = pa.schema(view)
        with pa.RecordBatchReader.from_stream(view) as reader:
            assert reader.schema == told
            table = reader.read_all()
            assert table.schema == told
        # The Arrow values (dictionaries decoded) are the Python ones.
        assert table.to_pylist() == db.read_view(name)


# Arrow types of views: stored 8-32-bit integers keep their width, text from another
# table is dictionary-encoded with each batch's own distinct values; what the usual
# consumers make of it.
TEXT_DICTIONARY = pa.dictionary(pa.int32(), pa.string())


@pytest.mark.parametrize("batch_rows", [2, 5, 65536])
def test_view_arrow_types_and_batch_dictionaries(tmp_path, batch_rows):
    db = shared_join_db(tmp_path, repeat=3)
    table = pa.table(db.arrow_view("v", batch_rows=batch_rows))
    types = {f.name: f.type for f in table.schema}
    assert types["Ref"] == pa.int32() and types["Num"] == pa.int64()
    assert [n for n, t in types.items() if t == TEXT_DICTIONARY] == [
        "Name", "NameOrNone", "NumName", "Kind0", "ByKind", "ByCode", "NoType"]
    for name in ("Name", "NumName", "ByCode"):
        for chunk in table.column(name).chunks:
            words = chunk.dictionary.to_pylist()
            assert len(set(words)) == len(words) == len(set(chunk.to_pylist()) - {None})
    assert table.to_pylist() == db.read_view("v")


def test_view_dictionaries_in_pandas_polars_and_duckdb(tmp_path):
    duckdb = pytest.importorskip("duckdb")
    pl = pytest.importorskip("polars")
    db = shared_join_db(tmp_path, repeat=2)
    expected = [r["Name"] for r in db.read_view("v")]
    frame = pa.table(db.arrow_view("v", batch_rows=3)).to_pandas()
    assert frame["Name"].dtype == "category"
    assert [None if isinstance(v, float) else v for v in frame["Name"].astype(object)] == expected
    polars = pl.from_arrow(pa.table(db.arrow_view("v", batch_rows=3)))
    assert polars["Name"].cast(pl.String).to_list() == expected
    stream = db.arrow_view("v", batch_rows=3)  # noqa: F841  (DuckDB finds it by name)
    assert [r[0] for r in duckdb.sql("select Name from stream").fetchall()] == expected


def test_joined_rows_kept_per_table_while_open(tmp_path):
    """The rows of a joined table are read once per open file and shared by later
    readings and other views, but two tables that a damaged catalog gives one object
    id are never taken for each other."""
    def names(name, text):
        return Table(name, [Column("Id", LONG, 1), Column("Name", TEXT, 256, codepage=1252)],
                     records=[{"Id": i, "Name": f"{text}{i}"} for i in range(1, 4)], object_id=40)
    main = Table("Main", [Column("Ref", LONG, 1)], records=[{"Ref": r} for r in (3, 1, 2, 9)])
    db = EseFile(page_size=4096)
    for t in (names("A", "a"), names("B", "b"), main):
        db.add_table(t)
    path = tmp_path / "two.edb"
    path.write_bytes(db.build())
    profile = tmp_path / "two.json"
    profile.write_text(json.dumps({"profile": "two", "recognize": [["Main"]], "views": [
        {"name": view, "table": "Main", "columns": [
            {"name": "Name", "from": "Ref", "convert": "join", "join": {"table": table, "key": "Id", "value": "Name"}}]}
        for view, table in (("via_a", "A"), ("via_b", "B"))]}))
    opened = EseDatabase(str(path), profiles=[str(profile)])
    # The catalog gives the columns to the last table of the id, so A has none: its
    # join resolves nothing, even after B's rows were read and kept.
    assert opened.get_table_schema("A") == []
    expected = {"via_a": [None] * 4, "via_b": ["b3", "b1", "b2", None]}
    for view in ("via_b", "via_a", "via_b", "via_a"):
        assert [r["Name"] for r in opened.read_view(view)] == expected[view]
        assert pa.table(opened.arrow_view(view)).column("Name").to_pylist() == expected[view]
