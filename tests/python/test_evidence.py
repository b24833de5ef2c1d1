"""Evidence read as the engine sees it: deleted nodes are not rows, a table is its own
tree, unusual catalog rows are listed instead of fatal, FILETIMEs in DateTime columns,
zero-length values and C string terminators in the typed view, an honest verify, and
recovered records compared with the live rows."""

from __future__ import annotations

import datetime as dt
import json
import struct

import pyarrow as pa
import pytest

import esefile as ef
from esefile import (BINARY, DATETIME, LONG, LONG_BINARY, TEXT, UNSIGNED_SHORT, Column, EseFile, LongValue,
                     RecordEncoder, Table, catalog_index_record, catalog_key, catalog_record, leaf_entry, lv_ref,
                     patch)
from quarrow import EseDatabase
from helpers import double_bits, filetime, ole_bits
from test_cli import exe, run  # noqa: F401  (the installed program and its runner)

PEOPLE = [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1200), Column("Note", TEXT, 256)]


def rows(n: int, start: int = 0) -> list[dict]:
    return [{"Id": i, "Name": f"person number {i}", "Note": None} for i in range(start, start + n)]


def set_next(db: EseFile, data: bytes, page: int, next_page: int) -> bytes:
    return db.fix_checksum(patch(data, db.page_offset(page) + 20, struct.pack("<I", next_page)), page)


def ids_of_every_reader(exe, path, table: str, tmp_path) -> dict[str, list[int]]:
    """The Id column as each reader of rows gives it."""
    db = EseDatabase(path)
    out = {"read_table": [r["Id"] for r in db.read_table(table)],
           "iter_table": [r["Id"] for r in db.iter_table(table)],
           "arrow_table": pa.table(db.arrow_table(table)).column("Id").to_pylist()}
    target = tmp_path / f"{table}.jsonl"
    db.export_table(table, str(target))
    out["export_table"] = [json.loads(line)["Id"] for line in target.read_text().splitlines()]
    for name, args in (("dump", ()), ("dump --decoded", ("--decoded",))):
        text, _ = run(exe, "dump", *args, path, table)
        out[name] = [json.loads(line)["Id"] for line in text.decode().splitlines()]
    text, _ = run(exe, "info", "--json", "--count", path)
    count = {t["name"]: t["records"] for t in json.loads(text)["tables"]}[table]
    out["info --count"] = list(out["read_table"]) if count == len(out["read_table"]) else [count]
    return out


def assert_every_reader(exe, path, table, tmp_path, expected):
    got = ids_of_every_reader(exe, path, table, tmp_path)
    assert got == {name: expected for name in got}


# ---- deleted nodes -------------------------------------------------------------------

@pytest.mark.parametrize("page_size", [4096, 32768])
def test_deleted_nodes_are_not_rows(exe, write_db, tmp_path, page_size):
    db = EseFile(page_size=page_size)
    db.add_table(Table("T", PEOPLE, rows(12), records_per_page=4, object_id=9))
    data = db.build()
    leaves = db.table_leaf_pages("T")
    data = db.flag_tags(data, leaves[0], [2])                          # Id 1: deleted, versioned
    data = db.flag_tags(data, leaves[1], [1], flags=ef.TAG_DELETED)    # Id 4
    data = db.flag_tags(data, leaves[2], [4], flags=ef.TAG_VERSION)    # Id 11: versioned only, live
    path = write_db(data)
    assert_every_reader(exe, path, "T", tmp_path, [i for i in range(12) if i not in (1, 4)])
    flagged = [(r["record"]["Id"], r["page"]) for r in EseDatabase(path).recover_records("T")
               if r["source"] == "flagged_deleted"]
    assert flagged == [(1, leaves[0]), (4, leaves[1])]


def test_deleted_catalog_rows_are_gone(write_db):
    # T (object 9) was dropped and created again as object 12, after U: the old rows are
    # flagged deleted and the live definition decides the name's place and root.
    db = EseFile()
    db.add_table(Table("T", PEOPLE, rows(2), object_id=9))
    db.add_table(Table("U", PEOPLE, rows(1), object_id=10))
    db.add_table(Table("V", [Column("Other", LONG, 1)], [{"Other": 5}], object_id=12))
    data = db.build()
    row = data.index(struct.pack("<IHI", 12, 1, 12)) - 4
    data = patch(data, row + 33, b"T")                      # V's table row now names T
    for page in db.catalog_pages():
        base = db.page_offset(page)
        count = struct.unpack_from("<H", data, base + 34)[0] & 0xFFF
        old = []
        for i in range(1, count):
            size, offset = struct.unpack_from("<HH", data, base + 4096 - 4 * (i + 1))
            value = data[base + 40 + (offset & 0x1FFF):][:size]
            if struct.pack("<IH", 9, 1) in value or struct.pack("<IH", 9, 2) in value:
                old.append(i)
        data = db.flag_tags(db.fix_checksum(data, page), page, old) if old else db.fix_checksum(data, page)
    edb = EseDatabase(write_db(data))
    assert edb.get_tables() == ["MSysObjects", "U", "T"]
    assert edb.read_table("T") == [{"Other": 5}]
    assert edb.catalog_problems() == []


# ---- a table is its own tree ---------------------------------------------------------

def two_tables(page_size=4096, **lv):
    db = EseFile(page_size=page_size)
    db.add_table(Table("A", PEOPLE, rows(12), records_per_page=3, object_id=9, **lv))
    db.add_table(Table("B", PEOPLE, rows(9, 100), records_per_page=3, object_id=10, **lv))
    return db, db.build()


@pytest.mark.parametrize("page_size", [4096, 32768])
@pytest.mark.parametrize("damage, expected", [
    ("none", list(range(12))),
    # A's first leaf links into B's second leaf and on through B: A's second leaf is skipped.
    ("into B", list(range(12))),
    # A's tree no longer names its third leaf; only the chain reaches it: read after.
    ("chain only", list(range(6)) + list(range(9, 12)) + list(range(6, 9))),
])
def test_a_table_is_its_own_tree(exe, write_db, tmp_path, page_size, damage, expected):
    db, data = two_tables(page_size)
    a, b = db.table_leaf_pages("A"), db.table_leaf_pages("B")
    if damage == "into B":
        data = set_next(db, data, a[0], b[1])
    elif damage == "chain only":
        data = db.remove_tags(data, db.table_pages("A")[0], [3])
    path = write_db(data)
    assert_every_reader(exe, path, "A", tmp_path, expected)
    assert_every_reader(exe, path, "B", tmp_path, list(range(100, 109)))
    # Carving names the owner of each page by the same rule; recovery finds nothing.
    edb = EseDatabase(path)
    owners = {h["page"]: h["table"] for h in edb.carve_utf16le_strings_scoped("all", needle="person", min_chars=6)}
    assert {p: owners.get(p) for p in a + b} == {**{p: "A" for p in a}, **{p: "B" for p in b}}
    assert edb.recover_records("A") == [] and edb.recover_records("B") == []


def test_fleet_reads_the_own_tree(write_db):
    pytest.importorskip("dask")
    from quarrow_fleet import read_tables
    db, data = two_tables()
    data = set_next(db, data, db.table_leaf_pages("A")[0], db.table_leaf_pages("B")[1])
    frame = read_tables([write_db(data)], "A").compute(scheduler="synchronous")
    assert list(frame["Id"]) == list(range(12))


def test_long_values_come_from_the_own_tree(write_db):
    columns = [Column("Id", LONG, 1), Column("Doc", LONG_BINARY, 256)]
    values = {t: [bytes([k + (50 if t == "B" else 0)]) * 3000 for k in range(4)] for t in "AB"}
    db = EseFile()
    for t, oid in (("A", 9), ("B", 10)):
        db.add_table(Table(t, columns, [{"Id": k, "Doc": LongValue(v)} for k, v in enumerate(values[t])],
                           object_id=oid, lv_chunk_size=1000, lv_records_per_page=2))
    data = db.build()
    a, b = db.lv_leaf_pages("A"), db.lv_leaf_pages("B")
    data = set_next(db, data, a[1], b[3])  # A's long-value chain runs into B's and skips A's own
    edb = EseDatabase(write_db(data))
    for t in "AB":
        assert [r["Doc"] for r in edb.read_table(t)] == values[t]
        assert pa.table(edb.arrow_table(t)).column("Doc").to_pylist() == values[t]


# ---- catalog rows the reader does not use ----------------------------------------------

@pytest.mark.parametrize("page_size", [4096, 8192, 32768])
def test_unusual_catalog_rows_are_listed_not_fatal(exe, write_db, page_size):
    db = EseFile(page_size=page_size)
    db.add_table(Table("T", PEOPLE, rows(2), object_id=9))
    db.add_raw_catalog_record(catalog_record(9, 6, 30, 50, name=b"SLV"))     # old streaming-file tree
    db.add_raw_catalog_record(catalog_record(9, 5, 31, 0, name=b"cb"))       # callback
    db.add_raw_catalog_record(catalog_record(9, 9, 32, 0, name=b"x"))        # unknown type
    db.add_raw_catalog_record(catalog_record(9, 2, 300, 19, name=b"Odd"))    # column type 19
    db.add_raw_catalog_record(b"\x07\x80\x1f\x00" + struct.pack("<I", 9) + b"\x02")  # 9 bytes
    path = write_db(db)
    edb = EseDatabase(path)
    assert edb.get_tables() == ["MSysObjects", "T"]
    assert [c["name"] for c in edb.get_table_schema("T")] == ["Id", "Name", "Note"]
    assert [r["Id"] for r in edb.read_table("T")] == [0, 1]
    problems = edb.catalog_problems()
    assert [(p["object_id"], p["type"], p["error"]) for p in problems] == [
        (9, 6, "Unsupported catalog type: 6"), (9, 5, "Callback catalog type is not supported"),
        (9, 9, "Unsupported catalog type: 9"), (9, 2, "Unsupported column type: 19"),
        (9, None, "Invalid catalog entry")]
    assert all(p["page"] in db.catalog_pages() and p["tag"] > 0 for p in problems)
    out, _ = run(exe, "info", path)
    assert "  catalog problems: 5\n" in out.decode()
    out, _ = run(exe, "info", "--json", path)
    assert json.loads(out)["catalog_problems"] == problems


# ---- DateTime columns holding FILETIMEs ------------------------------------------------

DATES = [
    (0, dt.datetime(1899, 12, 30)),                                            # OLE day 0
    (ole_bits(dt.datetime(2021, 6, 12, 10, 30)), dt.datetime(2021, 6, 12, 10, 30)),
    (double_bits(-657434.5), dt.datetime(100, 1, 1, 12)),                      # first OLE year
    (132689224562760000, dt.datetime(2021, 6, 23, 11, 47, 36, 276000)),        # a UAL FILETIME
    (filetime(dt.datetime(9999, 12, 31, 23, 59, 59)) + 9999999, dt.datetime(9999, 12, 31, 23, 59, 59, 999999)),
    (1, dt.datetime(1601, 1, 1)),                                              # tiny as a double
    (double_bits(1e-7), None),                   # no OLE date, and as a FILETIME past 9999
    (double_bits(2958466.5), None),              # OLE year 10000
    (0xFFFFFFFFFFFFFFFF, None),                  # NaN
    (filetime(dt.datetime(9999, 12, 31)) + 864_000_000_000, None),             # 10000-01-01
]


def test_filetimes_in_datetime_columns(exe, write_db):
    table = Table("D", [Column("Id", LONG, 1), Column("When", DATETIME, 2)],
                  [{"Id": k, "When": struct.pack("<Q", bits)} for k, (bits, _) in enumerate(DATES)])
    path = write_db([table])
    edb = EseDatabase(path)
    assert [r["When"] for r in edb.read_table("D")] == [bits for bits, _ in DATES]   # raw stays raw
    assert pa.table(edb.arrow_table("D")).column("When").to_pylist() == [when for _, when in DATES]
    out, _ = run(exe, "dump", "--decoded", path, "D")
    decoded = [json.loads(line)["When"] for line in out.decode().splitlines()]
    assert decoded[3].startswith("2021-06-23T11:47:36.276") and decoded[6] is None


def test_real_ual_dates_fall_in_their_year(data_dir):
    edb = EseDatabase(str(data_dir / "ual-current.mdb"))
    raw = edb.read_table("CLIENTS")
    typed = pa.table(edb.arrow_table("CLIENTS")).select(["InsertDate", "LastAccess"]).to_pylist()
    assert len(raw) == len(typed) == 19
    for r, t in zip(raw, typed):
        for column in ("InsertDate", "LastAccess"):
            expected = dt.datetime(1601, 1, 1) + dt.timedelta(microseconds=r[column] // 10)
            assert t[column] == expected and t[column].year >= 2019, column


# ---- zero-length values and trailing NULs ----------------------------------------------

def test_zero_length_is_not_null_and_terminators_go(exe, write_db):
    columns = [Column("Id", LONG, 1), Column("Name", TEXT, 128), Column("Bin", BINARY, 129),
               Column("Wide", TEXT, 130, codepage=1200), Column("Tag", TEXT, 256), Column("TagBin", BINARY, 257)]
    records = [{"Id": 1, "Name": "", "Bin": b"", "Wide": "", "Tag": "", "TagBin": b""},
               {"Id": 2, "Name": "abc\0", "Bin": b"b\0", "Wide": "wide\0\0", "Tag": "t\0"},
               {"Id": 3}]
    path = write_db([Table("Z", columns, records)])
    edb = EseDatabase(path)
    raw = edb.read_table("Z")
    assert [raw[0][c] for c in ("Name", "Bin", "Wide", "Tag", "TagBin")] == [None] * 5   # the raw reading
    assert (raw[1]["Name"], raw[1]["Wide"], raw[1]["Bin"]) == ("abc\0", "wide\0\0", b"b\0")
    typed = pa.table(edb.arrow_table("Z")).to_pylist()
    assert typed == [{"Id": 1, "Name": "", "Bin": b"", "Wide": "", "Tag": "", "TagBin": b""},
                     {"Id": 2, "Name": "abc", "Bin": b"b\0", "Wide": "wide", "Tag": "t", "TagBin": None},
                     {"Id": 3, "Name": None, "Bin": None, "Wide": None, "Tag": None, "TagBin": None}]
    out, _ = run(exe, "dump", "--decoded", path, "Z")
    lines = [json.loads(line) for line in out.decode().splitlines()]
    assert (lines[0]["Name"], lines[0]["Bin"], lines[1]["Name"], lines[2]["Name"]) == ("", "", "abc", None)
    out, _ = run(exe, "dump", "--decoded", "--format", "csv", path, "Z")
    assert out.decode().splitlines()[1:] == ['1,"","","","",""', "2,abc,6200,wide,t,", "3,,,,,"]


# ---- verify --------------------------------------------------------------------------

def test_verify_fails_on_files_that_are_no_database(exe, tmp_path):
    cases = {"empty.edb": b"", "notes.txt": b"not a database\n" * 3,
             "long.txt": b"no signature here " * 400}
    for name, content in cases.items():
        (tmp_path / name).write_bytes(content)
    for name, message in (("empty.edb", "Invalid database header"), ("notes.txt", "Invalid database header"),
                          ("long.txt", "Invalid signature, expected 0x89ABCDEF, got 0x616e6769")):
        out, err = run(exe, "verify", tmp_path / name, check=1)
        assert out == b"" and err == f"quarrow: {tmp_path / name}: {message}\n"


def test_verify_reports_truncation_and_only_real_page_numbers(exe, write_db):
    db = EseFile()
    db.add_table(Table("T", PEOPLE, rows(30), records_per_page=5, object_id=9))
    data = db.build()
    pages = len(data) // 4096
    leaf = db.table_leaf_pages("T")[2]
    cut = data[:len(data) - 1000]
    problems = EseDatabase(write_db(cut)).verify()
    assert problems == [{"page": pages - 2, "problem": "truncated", "stored": 0, "computed": 0,
                         "bytes_present": 3096}]
    out, _ = run(exe, "verify", write_db(cut), check=1)
    assert out.decode().endswith(f"  page {pages - 2}: truncated, 3096 bytes present\n")
    # A flipped byte in the stored checksum: the number it implies is no page of the file.
    flipped = bytearray(data)
    flipped[db.page_offset(leaf) + 2] ^= 0xFF
    assert [(p["page"], p["problem"]) for p in EseDatabase(write_db(bytes(flipped))).verify()] == \
        [(leaf, "checksum mismatch")]
    # A whole page written at the wrong place names a page of the file.
    moved = bytearray(data)
    moved[db.page_offset(leaf):db.page_offset(leaf) + 4096] = data[db.page_offset(5):db.page_offset(5) + 4096]
    assert [(p["page"], p["problem"]) for p in EseDatabase(write_db(bytes(moved))).verify()] == \
        [(leaf, "page number mismatch")]


# ---- recover against the live rows -----------------------------------------------------

RECOVER_COLUMNS = [Column("Id", LONG, 1), Column("Count", UNSIGNED_SHORT, 2), Column("Name", TEXT, 128),
                   Column("Doc", LONG_BINARY, 256)]


def recover_case():
    records = [{"Id": i, "Count": i * 10, "Name": f"row {i}"} for i in range(10)]
    records[7]["Doc"] = lv_ref(99)                  # no such long value
    records[8]["Doc"] = LongValue(b"d" * 3000)      # so that the table has a long-value tree
    db = EseFile()
    db.add_table(Table("R", RECOVER_COLUMNS, records, object_id=9, null_bitmap=True))
    db.add_raw_catalog_record(catalog_index_record(9, 21, 31, "Primary", [(1, False)], flags=0x21),
                              key=catalog_key(9, ef.CATALOG_INDEX, 21))
    data = db.build()
    leaf = db.table_leaf_pages("R")[0]
    data = db.flag_tags(data, leaf, [4, 8])         # Id 3, and Id 7 with its lost long value
    # Record images left behind in the free space: a copy of live row 5, an older row 6.
    encoder = RecordEncoder(RECOVER_COLUMNS, null_bitmap=True)
    start, _ = db.free_area(data, leaf)
    at = start + 32
    for values in ({"Id": 5, "Count": 50, "Name": "row 5"}, {"Id": 6, "Count": 1, "Name": "row 6"}):
        value, _ = leaf_entry(struct.pack(">I", values["Id"] + 1), encoder.encode(values))
        data = patch(data, at, value)
        at += len(value) + 16
    return db, db.fix_checksum(data, leaf)


def test_recovered_records_say_what_is_new(exe, write_db):
    _, data = recover_case()
    path = write_db(data)
    found = EseDatabase(path).recover_records("R")
    got = sorted((r["record"]["Id"], r["source"], r["live"], r["missing_long_values"]) for r in found)
    assert got == [(3, "flagged_deleted", None, []), (5, "free_space", "identical", []),
                   (6, "free_space", "older_version", []), (7, "flagged_deleted", None, ["Doc"])]
    assert [r["record"]["Doc"] for r in found if r["record"]["Id"] == 7] == [None]
    out, err = run(exe, "recover", path, "R")
    lines = [json.loads(line) for line in out.decode().splitlines()]
    assert [(x["record"]["Id"], x["live"], x["missing_long_values"]) for x in lines] == \
        [(r["record"]["Id"], r["live"], r["missing_long_values"]) for r in found]
    assert "1 identical to live rows" in err and "1 older versions" in err
    out, _ = run(exe, "recover", "--exclude-live", path, "R")
    assert sorted(json.loads(line)["record"]["Id"] for line in out.decode().splitlines()) == [3, 6, 7]


# ---- real files ----------------------------------------------------------------------

def test_real_dirty_srum_rows_without_deleted_nodes(logs_dir):
    path = logs_dir / "srum-w11" / "SRUDB.dat"
    if not path.is_file():
        pytest.skip("../shared/logs/srum-w11 is not available")
    edb = EseDatabase(str(path))
    counts = {t: sum(1 for _ in edb.iter_table(t)) for t in ("MSysObjects", "MSysObjectsShadow", "MSysObjids")}
    assert counts == {"MSysObjects": 243, "MSysObjectsShadow": 243, "MSysObjids": 34}
    flagged = [r for r in edb.recover_records("MSysObjids") if r["source"] == "flagged_deleted"]
    assert len(flagged) == 2


def test_real_files_have_no_catalog_problems(data_dir):
    for path in sorted(data_dir.glob("*.*")) + sorted(data_dir.parent.glob("logs/*/SRUDB.dat")):
        if path.suffix in (".edb", ".dat", ".mdb"):
            assert EseDatabase(str(path)).catalog_problems() == [], path.name


def test_real_search_index_catalog_keeps_the_live_definitions(data_dir):
    # MSysObjids and MSysLocales were dropped and created again: their live rows come last.
    edb = EseDatabase(str(data_dir / "windows-search-w10.edb"))
    assert edb.get_tables()[-2:] == ["MSysObjids", "MSysLocales"]
    assert len(edb.read_table("MSysObjects")) == 795
