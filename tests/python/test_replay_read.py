"""Reading a database as replaying its transaction logs leaves it: EseDatabase(path,
logs=...), replay_report(), the tool's --logs DIR, and quarrow_fleet's logs=.

The real log sets (../shared/logs): srum-belka and srum-w11 hold nothing the file
lacks, so every reading with their logs equals the reading without; srum-ws2022's
logs roll a clean early copy forward to the machine's later state."""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import quarrow

from helpers import SHARED_LOGS as LOG_SETS, run_quarrow


UNCHANGED_SETS = ["srum-belka", "srum-w11"]

# The later state of srum-ws2022 as the machine had it: the copy's six tables plus
# six provider tables the logs created, with these row counts.
WS2022_ROWS = {
    "MSysObjects": 161, "MSysObjectsShadow": 161, "MSysObjids": 28, "MSysLocales": 7,
    "SruDbIdMapTable": 96, "SruDbCheckpointTable": 0,
    "{17F4D97B-F26A-5E79-3A82-90040A47D13D}": 4, "{841A7317-3805-518B-C2EA-AD224CB4AF84}": 2,
    "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}": 153, "{DC3D3B50-BB90-5066-FA4E-A5F90DD8B677}": 2,
    "{DD6636C4-8929-4683-974E-22C046A43763}": 4, "{EEE2F477-0659-5C47-EF03-6D6BEFD441B3}": 2,
}
WS2022_FILE_ROWS = {"MSysObjects": 86, "MSysObjectsShadow": 86, "MSysObjids": 10, "MSysLocales": 7,
                    "SruDbIdMapTable": 2, "SruDbCheckpointTable": 0}


def log_set(name: str) -> Path:
    if LOG_SETS is None or not (LOG_SETS / name).is_dir():
        pytest.skip("real log sets not available")
    return LOG_SETS / name


def replayed(path, logs) -> quarrow.EseDatabase:
    """The database read with its logs; skips while this build has no redo engine."""
    try:
        return quarrow.EseDatabase(path, logs=logs)
    except OSError as exc:
        if "not available yet" in str(exc):
            pytest.skip("log replay not built yet")
        raise


def fingerprints(folder: Path) -> dict:
    """Size, modification time and SHA-256 of every file of an evidence folder."""
    out = {}
    for f in sorted(folder.iterdir()):
        st = f.stat()
        out[f.name] = (st.st_size, st.st_mtime_ns, hashlib.sha256(f.read_bytes()).hexdigest())
    return out


@pytest.fixture
def untouched():
    """Checks, after the test, that the evidence folders it named were not changed."""
    folders = []

    def watch(folder: Path) -> Path:
        folders.append((folder, fingerprints(folder)))
        return folder
    yield watch
    for folder, before in folders:
        assert fingerprints(folder) == before, f"{folder} changed"


def run(*args, expect=0) -> subprocess.CompletedProcess:
    return run_quarrow(*args, expect=expect)


# ---- Sets that need no replay: the same database, byte for byte ---------------------

@pytest.mark.parametrize("name", UNCHANGED_SETS)
def test_logs_that_change_nothing_give_the_file_as_it_is(name, tmp_path, untouched):
    folder = untouched(log_set(name))
    path = folder / "SRUDB.dat"
    plain = quarrow.EseDatabase(path)
    db = replayed(path, folder)
    assert db.get_tables() == plain.get_tables()
    assert db.total_pages == plain.total_pages
    for table in plain.get_tables():
        a, b = tmp_path / f"{table}.plain.jsonl", tmp_path / f"{table}.logs.jsonl"
        plain.export_table(table, a)
        db.export_table(table, b)
        assert a.read_bytes() == b.read_bytes(), table
        assert db.recover_records(table) == plain.recover_records(table), table
    assert db.read_view("id_map") == plain.read_view("id_map")
    assert db.carve_utf16le_strings_scoped("all", max_hits=0) == plain.carve_utf16le_strings_scoped("all", max_hits=0)
    assert db.verify() == plain.verify()

    report = db.replay_report()
    assert report["needed"] is False
    assert report["pages_changed"] == report["pages_created"] == 0
    assert report["generations"], "the report names the generations it read"
    assert plain.replay_report() is None


@pytest.mark.parametrize("name", ["srum-ws2022", *UNCHANGED_SETS])
def test_the_logs_verdict_counts_the_records_the_replay_applies(name):
    folder = log_set(name)
    path = folder / "SRUDB.dat"
    report = replayed(path, folder).replay_report()
    line = next(x for x in run("logs", folder, "--db", path).stdout.decode().splitlines() if "replay:" in x)
    verdict = line.split("replay:", 1)[1].strip()
    if report["needed"]:
        assert verdict.startswith(f"{report['records_applied']} records would be replayed ("), verdict
    else:
        assert verdict.startswith("needs no replay") and report["records_applied"] == 0, verdict


@pytest.mark.parametrize("name", UNCHANGED_SETS)
def test_tool_with_logs_that_change_nothing_writes_the_same_bytes(name, tmp_path, untouched):
    folder = untouched(log_set(name))
    path = folder / "SRUDB.dat"
    replayed(path, folder)  # skips without a redo engine
    for args in (["tables"], ["schema", "--json"], ["views", "--json"]):
        assert run(*args, "--logs", folder, path).stdout == run(*args, path).stdout, args
    for table in ("SruDbIdMapTable", "MSysObjects"):
        assert run("dump", "--logs", folder, path, table).stdout == run("dump", path, table).stdout
        assert run("recover", "-q", "--logs", folder, path, table).stdout == run("recover", "-q", path, table).stdout
    assert (run("carve", "-q", "--scope", "all", "--logs", folder, path).stdout ==
            run("carve", "-q", "--scope", "all", path).stdout)
    run("export", "-q", "--logs", folder, path, "-o", tmp_path / "logs")
    run("export", "-q", path, "-o", tmp_path / "plain")
    for f in sorted((tmp_path / "plain").iterdir()):
        assert (tmp_path / "logs" / f.name).read_bytes() == f.read_bytes(), f.name


# ---- srum-ws2022: the logs roll the copy forward -----------------------------------

def test_ws2022_replayed_has_the_later_tables_and_rows(untouched):
    folder = untouched(log_set("srum-ws2022"))
    path = folder / "SRUDB.dat"
    db = replayed(path, folder)
    assert sorted(db.get_tables()) == sorted(WS2022_ROWS)
    for table, rows in WS2022_ROWS.items():
        assert len(db.read_table(table)) == rows, table
        assert sum(1 for _ in db.iter_table(table)) == rows, table
    pa = pytest.importorskip("pyarrow")
    for table, rows in WS2022_ROWS.items():
        assert pa.table(db.arrow_table(table)).num_rows == rows, table
    # The tables of the copy keep every row it had.
    plain = quarrow.EseDatabase(path)
    for table, rows in WS2022_FILE_ROWS.items():
        assert len(plain.read_table(table)) == rows
        before = {tuple(sorted(r.items())) for r in plain.read_table(table)} if table == "MSysLocales" else None
        if before is not None:
            assert {tuple(sorted(r.items())) for r in db.read_table(table)} == before
    assert len(db.read_view("id_map")) == 96
    assert set(plain.views()) <= set(db.views())

    # The pages the logs added but never wrote (the file grew) read as zeros: the
    # checks of every page run to the end on the replayed state.
    assert isinstance(db.verify(), list)
    assert db.header_info()["state"] == "clean shutdown"
    assert db.total_pages > plain.total_pages

    report = db.replay_report()
    assert report["needed"] is True
    assert report["generations"] == [2, 3, 4, 5]  # generation 1 ends before the copy's position
    assert report["dbtime_before"] == 457 and report["dbtime_after"] == 1566
    assert report["writes_at_before"] == 1032
    assert report["writes_creating"] == 86
    assert report["writes_already_applied"] + report["writes_same_operation"] >= 34
    inserted = {t["name"]: t["inserted"] for t in report["tables"] if t["name"]}
    for table, rows in WS2022_ROWS.items():
        if table in inserted:
            assert inserted[table] >= rows - WS2022_FILE_ROWS.get(table, 0), table


def test_ws2022_tool_reads_the_replayed_database(tmp_path, untouched):
    folder = untouched(log_set("srum-ws2022"))
    path = folder / "SRUDB.dat"
    replayed(path, folder)
    tables = run("tables", "--logs", folder, path).stdout.decode().split()
    assert sorted(tables) == sorted(WS2022_ROWS)
    for table in ("SruDbIdMapTable", "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}"):
        assert len(run("dump", "--logs", folder, path, table).stdout.splitlines()) == WS2022_ROWS[table]
    run("export", "-q", "--logs", folder, path, "-o", tmp_path / "out")
    for table, rows in WS2022_ROWS.items():
        assert len((tmp_path / "out" / f"{table}.jsonl").read_bytes().splitlines()) == rows, table
    info = run("info", "--json", "--logs", folder, "--replay", path).stdout.decode()
    assert '"replay":{"generations":[2,3,4,5]' in info  # generation 1 ends before the copy's position
    assert '"state":"clean shutdown"' in info
    # Without --replay, info still describes the file and what it needs of the logs.
    assert '"replay"' not in run("info", "--json", "--logs", folder, path).stdout.decode()


# ---- Errors -------------------------------------------------------------------------

@pytest.mark.parametrize("logs, error", [
    ("missing-folder", FileNotFoundError),
    (5, TypeError),
    (b"bytes-path", TypeError),
])
def test_bad_logs_arguments(empty_db, tmp_path, logs, error):
    if logs == "missing-folder":
        logs = tmp_path / "no such folder"
    with pytest.raises(error) as raised:
        quarrow.EseDatabase(empty_db, logs=logs)
    if error is FileNotFoundError:
        assert str(raised.value) == f"Log folder not found: {logs}"


@pytest.mark.parametrize("logs", [None, False])
def test_no_logs_is_the_file_as_it_is(empty_db, logs):
    db = quarrow.EseDatabase(empty_db, logs=logs)
    assert db.replay_report() is None
    assert db.get_tables() == quarrow.EseDatabase(empty_db).get_tables()


def test_a_missing_generation_fails_the_open_naming_where(tmp_path, untouched):
    folder = untouched(log_set("srum-ws2022"))
    replayed(folder / "SRUDB.dat", folder)
    partial = tmp_path / "logs"
    partial.mkdir()
    for f in folder.iterdir():
        if f.name not in ("SRUDB.dat", "SRU00003.log"):
            shutil.copyfile(f, partial / f.name)
    with pytest.raises(OSError, match="^Failed to replay logs: ") as raised:
        quarrow.EseDatabase(folder / "SRUDB.dat", logs=partial)
    assert "3" in str(raised.value)


def test_tool_errors(empty_db, tmp_path):
    missing = tmp_path / "nowhere"
    for command in (["tables"], ["schema"], ["views"], ["carve"], ["recover"], ["dump"]):
        extra = ["MSysObjects"] if command[0] in ("recover", "dump") else []
        p = run(*command, "--logs", missing, empty_db, *extra, expect=1)
        assert p.stdout == b""
        assert p.stderr.decode().strip() == f"quarrow: {empty_db}: Log folder not found: {missing}"
    p = run("info", "--replay", empty_db, expect=2)
    assert "--replay needs --logs DIR" in p.stderr.decode()


def test_export_refuses_to_write_over_a_log_file(tmp_path):
    """An export whose output path is a file of the log folder (by another name)
    is refused like one over the input database."""
    folder = log_set("srum-ws2022")
    db = folder / "SRUDB.dat"
    replayed(db, folder)
    logs = tmp_path / "logs"
    shutil.copytree(folder, logs)
    out = tmp_path / "out"
    out.mkdir()
    os.link(logs / "SRU00001.log", out / "MSysLocales.jsonl")
    before = (logs / "SRU00001.log").read_bytes()
    run("export", "-q", "--force", "--logs", logs, "-t", "MSysLocales", logs / "SRUDB.dat", "-o", out, expect=1)
    assert (logs / "SRU00001.log").read_bytes() == before


def test_module_export_refuses_to_write_over_a_log_file(tmp_path):
    folder = log_set("srum-belka")
    replayed(folder / "SRUDB.dat", folder)
    logs = tmp_path / "logs"
    shutil.copytree(folder, logs)
    db = quarrow.EseDatabase(logs / "SRUDB.dat", logs=logs)
    before = (logs / "SRU00051.log").read_bytes()
    for target in (logs / "SRU00051.log", tmp_path / "link.jsonl"):
        if target.name == "link.jsonl":
            os.link(logs / "SRU00051.log", target)
        with pytest.raises(OSError, match="a file of the log folder"):
            db.export_table("MSysLocales", target)
    assert (logs / "SRU00051.log").read_bytes() == before


# ---- quarrow_fleet ------------------------------------------------------------------

def test_fleet_reads_with_logs(untouched):
    pytest.importorskip("dask")
    pytest.importorskip("pyarrow")
    import quarrow_fleet
    belka = untouched(log_set("srum-belka")) / "SRUDB.dat"
    ws2022 = untouched(log_set("srum-ws2022")) / "SRUDB.dat"
    replayed(ws2022, ws2022.parent)
    paths = [str(belka), str(ws2022)]
    plain = quarrow_fleet.read_tables(paths, "SruDbIdMapTable").compute()
    for logs in (True, [True, ws2022.parent], {str(belka): None, str(ws2022): str(ws2022.parent)}):
        frame = quarrow_fleet.read_tables(paths, "SruDbIdMapTable", logs=logs).compute()
        counts = frame.groupby("source").size().to_dict()
        assert counts[str(belka)] == (plain["source"] == str(belka)).sum()
        assert counts[str(ws2022)] == WS2022_ROWS["SruDbIdMapTable"]
    views = quarrow_fleet.read_views([str(ws2022)], "id_map", logs=True).compute()
    assert len(views) == WS2022_ROWS["SruDbIdMapTable"]


@pytest.mark.parametrize("logs, error", [([True], ValueError), ("one-folder", TypeError), (3, TypeError)])
def test_fleet_bad_logs(empty_db, logs, error):
    pytest.importorskip("dask")
    import quarrow_fleet
    with pytest.raises(error):
        quarrow_fleet.read_tables([empty_db, empty_db], "MSysObjects", logs=logs)
