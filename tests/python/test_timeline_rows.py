"""The timeline's row changes: with logs, each row the logs insert, replace or delete in
the database's tables is an event at its record's time, with its key, where it is in
the logs and the row's values after the change (before it for a delete), the same from
the tool and the module; on the real log sets as many per kind as EseLogs.changes()."""

from __future__ import annotations

import collections
import json
import warnings

import pytest

import quarrow
from esefile import LONG, TEXT, Column, EseFile, RecordEncoder, Table
from esefile import log as L
from test_replay import OBJID, ROOT, database, key, node, row, run, write_case
from test_row_history import written_case
from test_timeline import FIELDS, LOG_SETS, logs_dir  # noqa: F401  (fixture)

DESCRIPTIONS = {"insert": "row inserted", "flag-insert": "row inserted", "replace": "row replaced",
                "replace-diff": "row replaced", "flag-delete": "row deleted", "delete": "row deleted"}


def tool_events(*args) -> list[dict]:
    return [json.loads(x) for x in run("timeline", *args, "-q").stdout.splitlines()]


def changes_of(events: list[dict]) -> list[dict]:
    return [e for e in events if e["kind"] == "row_change"]


def test_written_changes_are_events_with_key_and_values(tmp_path):
    db, logs = written_case(tmp_path)
    events = tool_events(db, "--logs", logs)
    got = [(e["timestamp_desc"], e["operation"], e["key"], e["outcome"], e.get("Id"), e.get("Name"))
           for e in changes_of(events)]
    # One second holds all of them: the logs' order, as row numbers, keeps an insert
    # before the undo's rollback and each change where it happened.
    assert got == [("row inserted", "insert", key(6).hex(), "committed", 6, "n6"),
                   ("row replaced", "replace", key(1).hex(), "committed", 1, "changed"),
                   ("row deleted", "flag-delete", key(2).hex(), "committed", 2, "n2"),
                   ("row deleted", "delete", key(3).hex(), "committed", 3, "n3"),
                   ("row inserted", "insert", key(7).hex(), "rolled back", 7, "n7")]
    first = changes_of(events)[0]
    assert first["table"] == "People" and first["source_file"] == str(db) and first["session"] == 9
    assert first["message"] == f"People: row {key(6).hex()} inserted (session 9, transaction 100 committed)"
    assert [e["row"] for e in changes_of(events)] == [0, 1, 2, 3, 4]  # the undo (5) is no event
    # The transaction events' clock: each change at its record's segment time.
    transactions = [e for e in events if e["kind"] == "transaction"]
    assert {e["timestamp"] for e in changes_of(events)} == {transactions[0]["timestamp"]}
    # The module gives the same members and values, through either way of naming the logs.
    with quarrow.EseDatabase(str(db)) as opened:
        module = [e for e in opened.timeline(logs=str(logs)) if e["kind"] == "row_change"]
    with quarrow.EseDatabase(str(db), logs=str(logs)) as replayed:
        from_open = [e for e in replayed.timeline(kinds=["row_change"])]
    for m, t in zip(module, changes_of(events), strict=True):
        assert list(m) == list(t) and m["datetime"].isoformat() == t["datetime"]
        assert {k: v for k, v in m.items() if k != "datetime"} == {k: v for k, v in t.items() if k != "datetime"}
    assert [(e["key"], e.get("Name")) for e in from_open] == [(e["key"], e.get("Name")) for e in module]


@pytest.mark.parametrize("args, expected", [
    (["--kinds", "row_change"], 5),
    (["--kinds", "row,header"], 0),
    (["--views", "People"], 5),          # the table of a database no profile knows
    (["--views", "header"], 0),
    (["--from", "2030-01-01"], 0),
])
def test_kinds_views_and_range_select_row_changes(tmp_path, args, expected):
    db, logs = written_case(tmp_path)
    events = tool_events(db, "--logs", logs, *args)
    assert len(changes_of(events)) == expected
    if args[0] == "--kinds" and expected:
        assert {e["kind"] for e in events} == {"row_change"}


def test_a_column_named_like_a_member_keeps_its_value(tmp_path):
    # A table whose columns are named "key" and "message", like members of the event.
    columns = [Column("Id", LONG, 1), Column("key", TEXT, 128, codepage=1252), Column("message", LONG, 3)]
    db = EseFile()
    db.add_table(Table("Notes", columns, [{"Id": 1, "key": "k1", "message": 10}], object_id=OBJID, root_page=ROOT,
                       record_keys=[key(1)]))
    data = bytearray(db.build())
    data[104:108] = (1).to_bytes(4, "little")  # dbid 1, as the logs attach it
    data[108:136] = L.signature()
    data[56:64] = L.position(2, 0, 0)
    data = bytearray(db.fix_checksum(bytes(data), -1))
    data[4096:8192] = data[0:4096]
    path, logs = write_case(tmp_path, [L.begin0(9, 100, 2)])
    path.write_bytes(bytes(data))
    encode = RecordEncoder(columns, False, False, None, 1024).encode
    log = L.LogFile(generation=2, sectors=32)
    log.add(L.begin0(9, 100, 2), L.insert(node(9, 1, 1, 100), key(2), encode({"Id": 2, "key": "k2", "message": 20})),
            L.commit(9, 1), L.commit0(9, 1))
    (logs / "edb.log").write_bytes(log.build())
    (event,) = changes_of(tool_events(path, "--logs", logs))
    assert (event["key"], event["key_value"], event["message_value"], event["Id"]) == (key(2).hex(), "k2", 20, 2)
    assert event["message"].startswith("Notes: row ")


def test_another_databases_logs_give_no_row_changes(tmp_path):
    db, logs = written_case(tmp_path)
    # The same database under another log signature: the logs are not its own.
    data = bytearray(database({i: row(i) for i in range(1, 6)}))
    data[108:136] = L.signature(0x5A5A5A5A)
    data = bytearray(EseFile().fix_checksum(bytes(data), -1))
    data[4096:8192] = data[0:4096]
    other = tmp_path / "other.edb"
    other.write_bytes(bytes(data))
    done = run("timeline", other, db, "--logs", logs)
    events = [json.loads(x) for x in done.stdout.splitlines()]
    assert {e["source_file"] for e in changes_of(events)} == {str(db)}
    assert f"{other}: these logs belong to another database".encode() in done.stderr
    assert sum(e["kind"] == "transaction" for e in events) == 2  # the logs' own events stay
    with quarrow.EseDatabase(str(other)) as opened, pytest.warns(RuntimeWarning, match="another database"):
        assert changes_of(list(opened.timeline(logs=str(logs)))) == []


@pytest.mark.parametrize("folder", LOG_SETS)
def test_real_log_sets_give_as_many_row_changes_as_the_changes(logs_dir, folder):
    logs = logs_dir / folder
    events = changes_of(tool_events(logs / "SRUDB.dat", "--logs", logs))
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # the logs are the database's, read whole
        changes = [c for c in quarrow.EseLogs(str(logs)).changes(str(logs / "SRUDB.dat")) if c["kind"] != "undo"]
    per_kind = collections.Counter(e["timestamp_desc"] for e in events)
    assert per_kind == collections.Counter(DESCRIPTIONS[c["kind"]] for c in changes if c["time"] is not None)
    assert sorted(e["position"] for e in events) == sorted(c["position"] for c in changes if c["time"] is not None)
    # Every insert names its row and carries the values its record gives.
    inserts = [e for e in events if e["operation"] == "insert"]
    assert inserts and all(e["key"] and len(e) > len(FIELDS) + 6 for e in inserts)


def test_ws2022_opened_with_its_logs_knows_the_tables_they_create(logs_dir):
    # Opened with its logs, the database's catalog has the six tables the logs create,
    # so their inserts come too: as many as changes() of the replayed database gives.
    folder = logs_dir / "srum-ws2022"
    with quarrow.EseDatabase(str(folder / "SRUDB.dat"), logs=str(folder)) as db:
        events = changes_of(list(db.timeline(kinds=["row_change"])))
        assert len(events) == len(list(quarrow.EseLogs(str(folder)).changes(db))) == 620
    assert {e["timestamp_desc"] for e in events} == {"row inserted"}
