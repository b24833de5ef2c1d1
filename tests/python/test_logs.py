"""Transaction logs read as evidence: quarrow.EseLogs and `quarrow logs`, on files the
log writer (testing/esefile/log.py) lays out and on the real SRUM sets beside the
checkout (skipped when absent)."""

from __future__ import annotations

import datetime
import json
import struct
import subprocess
import warnings
from pathlib import Path

import pytest

import quarrow
from esefile import DATETIME, LONG, TEXT, Column, EseFile, RecordEncoder, Table
from esefile import log as L

from helpers import QUARROW, SHARED_LOGS as LOG_SETS



def write(directory: Path, files: dict[str, bytes]) -> str:
    for name, data in files.items():
        (directory / name).write_bytes(data)
    return str(directory)


def many_records(n=40, size=300, trx=100):
    node = L.Node(trx=trx, level=2)
    return [L.insert(node, b"\x7f" + struct.pack(">I", i), bytes([i % 251]) * size) for i in range(n)]


# ---------------------------------------------------------------------------
# Framing: segments, fragments, the end of the data
# ---------------------------------------------------------------------------

def test_fragments_are_joined_into_the_records_written(tmp_path):
    f = L.LogFile(0x51)
    records = many_records()
    f.transaction(9, 100, records)
    logs = quarrow.EseLogs(write(tmp_path, {"SRU.log": f.build()}))
    got = [r for r in logs.records() if r["type"] == "Insert"]
    assert [r["size"] for r in got] == [len(x) for x in records]
    assert any(r["fragmented"] for r in got)
    assert [r["fields"]["data"] for r in got] == [x[55:] for x in records]
    info = logs.files()[0]
    assert info["records"] == len(records) + 3 and info["problems"] == []
    assert info["segments"]["shadow"] == 1 and not logs.checksum_failed


@pytest.mark.parametrize("damage, status, problem", [
    ("torn", "shadow", "read from its shadow copy"),
    ("one_bit", "corrected", "one flipped bit at bit"),
    ("two_bits", "damaged", "damaged"),
])
def test_damaged_segments(tmp_path, damage, status, problem):
    f = L.LogFile(0x51)
    f.transaction(9, 100, many_records(25))
    data = f.build()
    last = len(f.segments())            # the last data segment; its shadow follows it
    # A torn write hits the last segment (its shadow restores it); bit flips hit the
    # first, which has no shadow.
    at = last * 4096 + 60 if damage == "torn" else 4096 + 1000
    intact = [r["position"] for r in quarrow.EseLogs(write(tmp_path, {"SRU.log": data})).records()]
    if damage == "torn":
        data = L.tear_last_segment(f, data, keep=60)
    elif damage == "one_bit":
        data = L.flip_bit(data, at * 8 + 4)
    else:
        data = L.flip_bit(L.flip_bit(data, at * 8 + 4), at * 8 + 900)
    (tmp_path / "SRU.log").write_bytes(data)
    logs = quarrow.EseLogs(str(tmp_path))
    info = logs.files()[0]
    assert any(problem in p for p in info["problems"]), info["problems"]
    assert info["segments"][status] >= 1
    assert logs.checksum_failed == (damage != "torn")
    positions = [r["position"] for r in logs.records()]
    if damage == "two_bits":
        assert positions == [] or positions == [p for p in intact if int(p.split(",")[1], 16) < 1]
    else:
        assert positions == intact
    if damage == "one_bit":
        assert f"bit {1000 * 8 + 4}" in " ".join(info["problems"])


def test_recycled_file_stale_segments_end_the_data(tmp_path):
    f = L.LogFile(0x5A)
    f.add(L.init2(), L.shutdown_mark())
    f.shadow = False
    f.stale_from = 2
    logs = quarrow.EseLogs(write(tmp_path, {"SRUtmp.log": f.build()}))
    info = logs.files()[0]
    assert info["role"] == "next" and info["records"] == 2
    assert info["segments"]["stale"] == 14 and info["problems"] == []


@pytest.mark.parametrize("mutate, expect", [
    (lambda d: d[:4096 * 3 + 100], "truncated"),
    (lambda d: d[:4] + b"\0" + d[5:], "header checksum wrong"),
    (lambda d: d[:4096] + b"\x55" * (len(d) - 4096), "damaged"),
])
def test_hostile_files_give_problems(tmp_path, mutate, expect):
    f = L.LogFile(0x51)
    f.transaction(9, 100, many_records(20))
    logs = quarrow.EseLogs(write(tmp_path, {"SRU.log": mutate(f.build())}))
    assert any(expect in p for p in logs.files()[0]["problems"])
    list(logs.records())
    logs.timeline()


def test_garbage_fragment_and_unknown_type(tmp_path):
    f = L.LogFile(0x51)
    f.add(L.init2(), struct.pack("<BIH", L.FRAGMENT_BEGIN, 0xFFFFFFF0, 4) + b"abcd", L.shutdown_mark())
    f.add(bytes([120]) + bytes(10))
    logs = quarrow.EseLogs(write(tmp_path, {"SRU.log": f.build()}))
    problems = " ".join(logs.files()[0]["problems"])
    assert "FragmentBegin claims" in problems and "unknown record type 120" in problems
    assert [r["type"] for r in logs.records()] == ["Init2", "ShutDownMark"]


# ---------------------------------------------------------------------------
# Generations, checkpoint, what a database needs, row changes
# ---------------------------------------------------------------------------

def test_chain_gaps_and_checkpoint(tmp_path):
    files = [L.LogFile(g, created=L.log_time(sec=g % 60)) for g in (0x4E, 0x4F, 0x50)]
    for f in files:
        f.add(L.init2(), L.shutdown_mark())
    built = L.chain(files)
    later = L.LogFile(0x53, log_signature=files[0].log_signature)
    later.add(L.init2())
    (tmp_path / "SRU.log").write_bytes(later.build())
    for f, data in zip(files, built):
        (tmp_path / f"SRU{f.generation:05X}.log").write_bytes(data)
    (tmp_path / "SRU.chk").write_bytes(L.checkpoint(L.position(0x53, 1, 0), files[0].log_signature))
    logs = quarrow.EseLogs(str(tmp_path))
    assert logs.generations() == [0x4E, 0x4F, 0x50, 0x53]
    assert logs.gaps() == [(0x51, 0x52)]
    assert [(c["from"], c["time_ok"], c["signature_ok"], c["segments_ok"]) for c in logs.chain()] == [
        (0x4E, True, True, True), (0x4F, True, True, True)]
    assert logs.checkpoint()["checkpoint"] == "000053,0001,0000" and logs.checkpoint()["readable"]
    # A broken link: the last generation's predecessor time no longer matches.
    (tmp_path / "SRU00050.log").write_bytes(L.LogFile(0x50).add(L.init2()).build())
    assert not quarrow.EseLogs(str(tmp_path)).chain()[1]["time_ok"]


COLUMNS = [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1252)]


def database_with_logs(tmp_path, outcomes):
    db = EseFile()
    db.add_table(Table("People", COLUMNS, [{"Id": 1, "Name": "Ann"}]))
    db_path = tmp_path / "db.edb"
    data = db.write(db_path)
    catalog = quarrow.EseDatabase(str(db_path)).read_table("MSysObjects")
    root = next(r["ColtypOrPgnoFDP"] for r in catalog if r["Name"] == "People" and r["Type"] == 1)
    f = L.LogFile(0x51)
    f.add(L.init2(), L.attach_db(1, data[24:52], str(db_path)))
    encoder = RecordEncoder(COLUMNS)
    for k, outcome in enumerate(outcomes):
        node = L.Node(trx=200 + k, level=2, root=root, page=root, dbtime=100000)
        row = {"Id": 10 + k, "Name": f"row {k}"}
        f.transaction(9, 200 + k, [L.insert(node, b"\x7f" + struct.pack(">I", 10 + k), encoder.encode(row)),
                                   L.flag_delete(node)], outcome=outcome)
    write(tmp_path, {"SRU.log": f.build()})
    return str(db_path)


def test_row_changes_decoded_with_outcomes(tmp_path):
    db_path = database_with_logs(tmp_path, ["commit", "rollback", "open"])
    logs = quarrow.EseLogs(str(tmp_path))
    changes = list(logs.changes(db_path))
    assert [(c["kind"], c["outcome"]) for c in changes] == [
        ("insert", "committed"), ("flag-delete", "committed"), ("insert", "rolled back"),
        ("flag-delete", "rolled back"), ("insert", "open"), ("flag-delete", "open")]
    inserts = [c for c in changes if c["kind"] == "insert"]
    assert [c["record"] for c in inserts] == [{"Id": 10 + k, "Name": f"row {k}"} for k in range(3)]
    assert inserts[0]["table"] == "People" and inserts[0]["key"] == b"\x7f\x00\x00\x00\x0a"
    assert [t["outcome"] for t in logs.timeline()] == ["committed", "rolled back", "open"]
    assert logs.timeline()[0]["inserts"] == 1 and logs.timeline()[0]["flag_deletes"] == 1
    # The same through an EseDatabase object.
    assert len(list(logs.changes(quarrow.EseDatabase(db_path)))) == 6


@pytest.mark.parametrize("call, error", [
    (lambda d: quarrow.EseLogs(42), TypeError),
    (lambda d: quarrow.EseLogs("/nonexistent/logs"), FileNotFoundError),
    (lambda d: quarrow.EseLogs("a\0b"), ValueError),
    (lambda d: quarrow.EseLogs(d).needs(42), TypeError),
    (lambda d: quarrow.EseLogs(d).changes("/nonexistent.edb"), FileNotFoundError),
    (lambda d: quarrow.EseLogs(d).needs(), TypeError),
])
def test_wrong_arguments(tmp_path, call, error):
    logs_dir = write(tmp_path, {"edb.log": L.LogFile(0x51).build()})
    with pytest.raises(error):
        call(logs_dir)


# ---------------------------------------------------------------------------
# The real sets
# ---------------------------------------------------------------------------

REAL = {
    "srum-belka": {"records": {"SRU0004E.log": 379, "SRU0004F.log": 625, "SRU00050.log": 276,
                               "SRU00051.log": 273, "SRU.log": 0},
                   "generations": [0x4E, 0x4F, 0x50, 0x51, 0x52], "gaps": [], "needed": [0x51], "inserts": 265},
    "srum-w11": {"records": {"SRU00059.log": 688, "SRU0005A.log": 584, "SRU0005B.log": 466, "SRU.log": 21,
                             "SRUtmp.log": 784},
                 "generations": [0x50, 0x59, 0x5A, 0x5B, 0x5C], "gaps": [(0x51, 0x58)], "needed": [0x5C],
                 "inserts": 438},
}


@pytest.fixture(params=sorted(REAL))
def real_set(request):
    if LOG_SETS is None or not (LOG_SETS / request.param).is_dir():
        pytest.skip("real log sets not available")
    return LOG_SETS / request.param, REAL[request.param]


def test_real_sets_figures(real_set):
    folder, want = real_set
    logs = quarrow.EseLogs(str(folder))
    counts = {f["name"]: f["records"] for f in logs.files() if f["kind"] == "log"}
    assert counts == want["records"]
    assert logs.generations() == want["generations"] and logs.gaps() == want["gaps"]
    assert not logs.checksum_failed and all(f["problems"] == [] for f in logs.files())
    assert all(c["time_ok"] and c["signature_ok"] and c["segments_ok"] is not False for c in logs.chain())
    needs = logs.needs(str(folder / "SRUDB.dat"))
    assert needs["needed"] == want["needed"] and needs["missing"] == []
    assert needs["log_signature_ok"] and needs["last_generation_time_ok"] and needs["attach_signature_ok"]
    assert needs["verdict"] == "needs no replay"
    if folder.name == "srum-w11":
        tmp = next(f for f in logs.files() if f["name"] == "SRUtmp.log")
        assert tmp["generation"] == 0x50 and tmp["role"] == "next"


def test_real_sets_inserts_equal_database_rows(real_set):
    folder, want = real_set
    db = quarrow.EseDatabase(str(folder / "SRUDB.dat"))
    inserts = [c for c in quarrow.EseLogs(str(folder)).changes(db) if c["kind"] == "insert"]
    assert len(inserts) == want["inserts"]
    rows = {}
    compared = 0
    for c in inserts:
        table = c["table"]
        if table not in rows:
            primary = next(i for i in db.get_table_indexes(table) if i["primary"])
            names = [k["name"] for k in primary["columns"]]
            rows[table] = (names, {tuple(r[n] for n in names): r for r in db.read_table(table)})
        names, by_key = rows[table]
        row = by_key.get(tuple(c["record"][n] for n in names))
        if row is not None:
            assert row == c["record"]
            compared += 1
    assert compared == want["inserts"]


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_cli_exit_status(real_set, tmp_path):
    folder, want = real_set
    ok = subprocess.run([QUARROW, "logs", str(folder), "--db", str(folder / "SRUDB.dat")], capture_output=True,
                        text=True)
    assert ok.returncode == 0 and "needs no replay" in ok.stdout
    other = "srum-w11" if folder.name == "srum-belka" else "srum-belka"
    missing = subprocess.run([QUARROW, "logs", str(folder.parent / other), "--db", str(folder / "SRUDB.dat")],
                             capture_output=True, text=True)
    assert missing.returncode == 1 and "missing" in missing.stdout
    lines = subprocess.run([QUARROW, "logs", str(folder), "--records"], capture_output=True, text=True).stdout
    assert sum(1 for _ in lines.splitlines()) == sum(want["records"].values())
    changes = subprocess.run([QUARROW, "logs", str(folder), "--changes", "--db", str(folder / "SRUDB.dat")],
                             capture_output=True, text=True).stdout
    assert sum(json.loads(x)["kind"] == "insert" for x in changes.splitlines()) == want["inserts"]
    info = subprocess.run([QUARROW, "info", str(folder / "SRUDB.dat"), "--logs", str(folder)], capture_output=True,
                          text=True)
    assert "logs needed:" in info.stdout and "present in" in info.stdout


# ---------------------------------------------------------------------------
# A dirty database of the writer with its logs: needs(), `quarrow info --logs`
# ---------------------------------------------------------------------------

def dirty_database(tmp_path, page_dbtime_at_least=False):
    """database_with_logs, its header made dirty: requires generation 0x51, names the
    logs' signature and the AttachDB at 000051,0001,0268 (right after the Init2)."""
    db_path = database_with_logs(tmp_path, ["commit"])
    db = EseFile()
    data = bytearray(Path(db_path).read_bytes())
    struct.pack_into("<I", data, 52, 2)
    data[80:88] = L.position(0x51, 1, 0x28 + 576)
    data[108:136] = L.signature()
    struct.pack_into("<ii", data, 296, 0x51, 0x51)
    data[672:680] = L.DEFAULT_TIME
    if page_dbtime_at_least:
        for page in range(1, len(data) // 4096 - 1):
            struct.pack_into("<Q", data, (page + 1) * 4096 + 8, 200000)
    Path(db_path).write_bytes(db.fix_checksum(bytes(data), -1))
    return db_path


@pytest.mark.parametrize("applied", [False, True])
def test_needs_of_a_dirty_database(tmp_path, applied):
    db_path = dirty_database(tmp_path, applied)
    needs = quarrow.EseLogs(str(tmp_path)).needs(db_path)
    assert needs["dirty"] and needs["needed"] == [0x51] and needs["missing"] == []
    assert needs["log_signature_ok"] and needs["last_generation_time_ok"] and needs["attach_signature_ok"]
    assert needs["records_after_attach"] == 2
    assert needs["verdict"] == ("needs no replay" if applied else "2 records would be replayed")


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_cli_info_logs_and_usage(tmp_path):
    db_path = dirty_database(tmp_path)
    present = subprocess.run([QUARROW, "info", db_path, "--logs", str(tmp_path)], capture_output=True, text=True)
    assert "logs needed:    generations 0x51 (present in" in present.stdout
    (tmp_path / "SRU.log").unlink()
    missing = subprocess.run([QUARROW, "info", "--json", db_path, "--logs", str(tmp_path)], capture_output=True,
                             text=True)
    assert missing.returncode == 1
    assert json.loads(missing.stdout)["log_generations_missing"] == [0x51]
    for args in (["logs"], ["logs", str(tmp_path), "--changes"], ["logs", str(tmp_path), "--records", "--timeline"]):
        assert subprocess.run([QUARROW, *args], capture_output=True).returncode == 2
    assert subprocess.run([QUARROW, "logs", str(tmp_path / "nowhere")], capture_output=True).returncode == 1


def test_record_fields_and_header_attachments(tmp_path):
    f = L.LogFile(0x51)
    f.attachments.append((1, b"D" * 28, r"C:\Windows\system32\SRU\SRUDB.dat"))
    f.add(L.init2(), L.attach_db(1, b"D" * 28, r"C:\db.edb"), L.trace(9, "Begin CreateIndex"),
          L.macro(L.MACRO_BEGIN, 9, 77), L.nop2(12), L.term2(L.position(0x51, 1, 0)))
    logs = quarrow.EseLogs(write(tmp_path, {"edb.log": f.build()}))
    records = list(logs.records())
    assert [r["type"] for r in records] == ["Init2", "AttachDB", "Trace", "MacroBegin", "NOP2", "Term2"]
    attach, trace, macro, nop2, term = records[1:]
    assert attach["dbid"] == 1 and attach["session"] is None
    assert attach["fields"]["path"] == r"C:\db.edb" and attach["fields"]["db_signature"] == b"D" * 28
    assert trace["session"] == 9 and trace["fields"]["text"] == "Begin CreateIndex"
    assert macro["fields"] == {"dbtime": 77} and nop2["fields"] == {"length": 12}
    assert term["fields"]["start"] == "000051,0001,0000" and term["position"] == "000051,0001,02F9"
    header = logs.files()[0]
    assert [(a["dbid"], a["path"], a["signature"]) for a in header["attached_databases"]] == [
        (1, r"C:\Windows\system32\SRU\SRUDB.dat", b"D" * 28)]


# ---------------------------------------------------------------------------
# Both front ends alike; what a reading could not read; logs of another database
# ---------------------------------------------------------------------------

def tool(*args):
    return subprocess.run([QUARROW, *map(str, args)], capture_output=True, text=True)


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
@pytest.mark.parametrize("mode", ["--records", "--changes", "--timeline"])
def test_tool_lines_carry_the_module_fields_in_its_order(tmp_path, mode):
    db_path = database_with_logs(tmp_path, ["commit", "rollback"])
    logs = quarrow.EseLogs(str(tmp_path))
    module = {"--records": lambda: list(logs.records()), "--changes": lambda: list(logs.changes(db_path)),
              "--timeline": logs.timeline}[mode]()
    done = tool("logs", tmp_path, mode, *(["--db", db_path] if mode == "--changes" else []))
    lines = [json.loads(x) for x in done.stdout.splitlines()]
    assert done.returncode == 0 and len(lines) == len(module) > 0
    for line, item in zip(lines, module):
        assert list(line) == list(item)
        # Times: datetimes (UTC) in the module, ISO 8601 in JSON; positions stay text.
        zone = "Z" if item["time"].tzinfo is not None else ""
        assert line["time"] == item["time"].replace(tzinfo=None).isoformat(timespec="milliseconds") + zone


def other_log_signature(db_path, unchained=False):
    """The dirty database's header made to name other logs: another log signature, or
    (unchained) the right one with another creation time of its last generation."""
    data = bytearray(Path(db_path).read_bytes())
    if unchained:
        data[672:680] = L.log_time(sec=33)
    else:
        data[108:112] = b"\x99\x88\x77\x66"
    Path(db_path).write_bytes(EseFile().fix_checksum(bytes(data), -1))


def test_logs_of_another_database_give_no_estimate(tmp_path):
    db_path = dirty_database(tmp_path)
    other_log_signature(db_path)
    logs = quarrow.EseLogs(str(tmp_path))
    needs = logs.needs(db_path)
    assert needs["another_database"] and needs["missing"] == [0x51] and needs["replay_records"] == 0
    assert needs["verdict"].startswith("these logs belong to another database: log signature ")
    changes = logs.changes(db_path)
    with pytest.warns(RuntimeWarning, match="another database"):
        assert list(changes) == []
    assert "another database" in changes.problems()[0]
    if QUARROW is not None:
        summary = tool("logs", tmp_path, "--db", db_path)
        assert summary.returncode == 1 and "these logs belong to another database" in summary.stdout
        assert "replay:" not in summary.stdout
        streamed = tool("logs", tmp_path, "--changes", "--db", db_path)
        assert streamed.returncode == 1 and streamed.stdout == "" and "another database" in streamed.stderr
        info = tool("info", db_path, "--logs", tmp_path)
        assert info.returncode == 1 and "(missing in " in info.stdout


def test_a_generation_that_does_not_chain_is_missing(tmp_path):
    db_path = dirty_database(tmp_path)
    other_log_signature(db_path, unchained=True)
    needs = quarrow.EseLogs(str(tmp_path)).needs(db_path)
    assert needs["present"] == [] and needs["missing"] == needs["unchained"] == [0x51]
    assert not needs["another_database"] and needs["verdict"] == "generations missing"
    if QUARROW is not None:
        summary = tool("logs", tmp_path, "--db", db_path)
        assert summary.returncode == 1 and "missing 0x51 (0x51 there, but not chained" in summary.stdout


@pytest.mark.parametrize("make, message", [
    (lambda d: database_with_logs(d, []), "Not a transaction log"),
    (lambda d: write(d, {"notes.txt": b"hello\n"}) + "/notes.txt", "Not a transaction log"),
    (lambda d: write(d, {"notes.txt": b"x" * 9000}) + "/notes.txt", "Not a transaction log"),
    (lambda d: write(d, {}), "No transaction logs in"),
    (lambda d: write(d, {"readme.log": b"not a log " * 900}), "No transaction logs in"),
])
def test_input_that_holds_no_log_is_an_error(tmp_path, make, message):
    (tmp_path / "in").mkdir()
    path = make(tmp_path / "in")
    with pytest.raises(OSError, match=message):
        quarrow.EseLogs(path)
    if QUARROW is not None:
        done = tool("logs", path)
        assert done.returncode == 1 and message in done.stderr and done.stdout == ""


def test_readings_say_what_they_could_not_read(tmp_path):
    db_path = database_with_logs(tmp_path, ["commit"] * 60)
    data = bytearray((tmp_path / "SRU.log").read_bytes())
    data[4096 + 200] ^= 0x03  # two bits of the first segment: the data ends before it
    (tmp_path / "SRU.log").write_bytes(bytes(data))
    logs = quarrow.EseLogs(str(tmp_path))
    records = logs.records()
    with pytest.warns(RuntimeWarning, match=r"SRU\.log: 000051,0001,0000 segment 1 damaged"):
        list(records)
    assert records.problems()[0].startswith("SRU.log: 000051,0001,0000 segment 1 damaged")
    with pytest.warns(RuntimeWarning, match="segment 1 damaged"):
        logs.timeline()
    if QUARROW is None:
        return
    for mode in (["--records"], ["--timeline"], ["--changes", "--db", db_path]):
        done = tool("logs", tmp_path, *mode)
        assert done.returncode == 1, mode
        assert "quarrow logs: SRU.log: 000051,0001,0000 segment 1 damaged" in done.stderr, mode


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_changes_decoded_as_dump_decodes(tmp_path):
    columns = COLUMNS + [Column("When", DATETIME, 3)]
    when = datetime.datetime(2022, 7, 3, 2, 5, 56)
    db = EseFile()
    db.add_table(Table("People", columns, [{"Id": 1, "Name": "Ann", "When": when}]))
    db_path = tmp_path / "db.edb"
    data = db.write(db_path)
    root = next(r["ColtypOrPgnoFDP"] for r in quarrow.EseDatabase(str(db_path)).read_table("MSysObjects")
                if r["Name"] == "People" and r["Type"] == 1)
    f = L.LogFile(0x51)
    f.add(L.init2(), L.attach_db(1, data[24:52], str(db_path)))
    node = L.Node(trx=200, level=2, root=root, page=root, dbtime=100000)
    row = RecordEncoder(columns).encode({"Id": 1, "Name": "Ann", "When": when})
    f.transaction(9, 200, [L.insert(node, b"\x7f\x80\x00\x00\x01", row)], outcome="commit")
    write(tmp_path, {"SRU.log": f.build()})
    decoded = [json.loads(x) for x in tool("logs", tmp_path, "--changes", "--decoded", "--db", db_path).stdout.splitlines()]
    raw = [json.loads(x) for x in tool("logs", tmp_path, "--changes", "--db", db_path).stdout.splitlines()]
    dumped = json.loads(tool("dump", "-q", "--decoded", db_path, "People").stdout.splitlines()[0])
    assert decoded[0]["record"] == dumped and raw[0]["record"] != dumped
    assert tool("logs", tmp_path, "--records", "--decoded").returncode == 2


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_info_gives_generations_in_hex(tmp_path):
    db_path = dirty_database(tmp_path)
    assert "logs required:  0x51 to 0x51\n" in tool("info", db_path).stdout


def test_real_log_times_are_utc_datetimes(real_set):
    folder, _ = real_set
    logs = quarrow.EseLogs(str(folder))
    first = next(iter(logs.records()))
    assert first["time"].tzinfo is datetime.timezone.utc
    assert all(f.get("created") is None or f["created"].tzinfo is datetime.timezone.utc for f in logs.files())


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_tool_summary_json_has_the_module_keys(tmp_path):
    db_path = dirty_database(tmp_path)
    (tmp_path / "SRU.chk").write_bytes(L.checkpoint(L.position(0x51, 1, 0), L.signature()))
    (tmp_path / "SRUres00001.jrs").write_bytes(bytes(65536))
    (tmp_path / "SRU00050.log").write_bytes(L.LogFile(0x50).add(L.init2()).build())
    logs = quarrow.EseLogs(str(tmp_path))
    done = tool("logs", "--json", tmp_path, "--db", db_path)
    summary = json.loads(done.stdout)
    module = {"path": logs.path, "files": logs.files(), "checkpoint": logs.checkpoint(),
              "generations": logs.generations(), "gaps": logs.gaps(), "chain": logs.chain(),
              "problems": logs.problems(), "record_count": logs.record_count,
              "checksum_failed": logs.checksum_failed, "needs": logs.needs(db_path)}
    assert list(summary) == list(module)
    assert [list(f) for f in summary["files"]] == [list(f) for f in module["files"]]
    assert {f["kind"] for f in summary["files"]} >= {"log", "unused"}
    for key in ("checkpoint", "needs"):
        assert list(summary[key]) == list(module[key])
    assert [list(c) for c in summary["chain"]] == [list(c) for c in module["chain"]] != []
    assert summary["needs"]["verdict"] == module["needs"]["verdict"]
    assert summary["generations"] == module["generations"] and summary["record_count"] == module["record_count"]


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_summary_json_of_real_sets_equals_the_module(real_set):
    folder, want = real_set
    db_path = folder / "SRUDB.dat"
    summary = json.loads(tool("logs", "--json", folder, "--db", db_path).stdout)
    logs = quarrow.EseLogs(str(folder))
    assert summary["needs"] == logs.needs(str(db_path))
    assert summary["generations"] == logs.generations() == want["generations"]
    assert [tuple(g) for g in summary["gaps"]] == logs.gaps() == want["gaps"]
    assert summary["chain"] == logs.chain() and summary["record_count"] == logs.record_count
    module_files = logs.files()
    for got, expected in zip(summary["files"], module_files, strict=True):
        assert list(got) == list(expected)
        for key in ("name", "role", "kind", "generation", "problems", "records", "segments", "first_record", "end"):
            assert got.get(key) == expected.get(key), (got["name"], key)
        if expected.get("created") is not None:
            assert got["created"] == expected["created"].isoformat(timespec="milliseconds").replace("+00:00", "Z")
            assert bytes.fromhex(got["signature"]) == expected["signature"]


def test_a_file_named_as_a_log_that_is_none_is_said_so(tmp_path):
    db_path = database_with_logs(tmp_path, ["commit"])
    (tmp_path / "copy.log").write_bytes(Path(db_path).read_bytes())
    logs = quarrow.EseLogs(str(tmp_path))
    copy = next(f for f in logs.files() if f["name"] == "copy.log")
    assert copy["kind"] == "not a log" and copy["generation"] is None
    assert copy["problems"][0].startswith("not a transaction log")
    records = logs.records()
    with pytest.warns(RuntimeWarning, match="copy.log: not read: not a transaction log"):
        assert len(list(records)) == logs.record_count
    if QUARROW is not None:
        done = tool("logs", tmp_path, "--records")
        assert done.returncode == 0 and "quarrow logs: copy.log: not read: not a transaction log" in done.stderr


def test_warnings_as_errors_stop_the_iteration_with_the_problems_kept(tmp_path):
    f = L.LogFile(0x51)
    f.transaction(9, 100, many_records(20))
    data = bytearray(f.build())
    data[4096 + 300] ^= 0x03
    logs = quarrow.EseLogs(write(tmp_path, {"SRU.log": bytes(data)}))
    records = logs.records()
    assert records.problems() == []  # nothing read yet
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        with pytest.raises(RuntimeWarning, match="segment 1 damaged"):
            list(records)
        assert list(records) == []  # exhausted: said once
    assert any("segment 1 damaged" in p for p in records.problems())
