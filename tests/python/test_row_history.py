"""Row history: the changes of EseLogs.changes(db) and `quarrow logs --changes` name the
row of a replace, flag-delete or delete and give it before and after the change, read
from the logs replayed onto the database's file; row_history() and --table/--key give
one row's changes."""

from __future__ import annotations

import json
import warnings

import pytest

import quarrow
from test_replay import ENCODE, L, key, node, row, run, write_case
from test_replay_read import WS2022_ROWS, log_set, replayed, untouched  # noqa: F401  (untouched is a fixture)


def written_case(tmp_path):
    """People 1..5; committed: insert 6, replace 1, flag-delete 2, delete 3; rolled back:
    the insert of 7 and its Undo."""
    records = [L.begin0(9, 100, 2),
               L.insert(node(9, 1, 5, 100), key(6), ENCODE(row(6))),
               L.replace(node(9, 2, 0, 100), ENCODE(row(1, "changed"))),
               L.flag_delete(node(9, 3, 1, 100)),
               L.delete(node(9, 4, 2, 100)),
               L.commit(9, 1), L.commit0(9, 1),
               L.begin0(10, 101, 2),
               L.insert(node(10, 5, 5, 101), key(7), ENCODE(row(7))),
               L.undo(node(10, 6, 5, 101), key(7), operation=1, level=2),
               L.rollback(10, 2)]
    return write_case(tmp_path, records)


def test_written_changes_name_their_rows_with_before_and_after(tmp_path):
    db, logs = written_case(tmp_path)
    changes = list(quarrow.EseLogs(logs).changes(str(db)))
    got = [(c["kind"], c["key"], c["before"], c["after"]) for c in changes]
    assert got == [("insert", key(6), None, None),
                   ("replace", key(1), row(1), row(1, "changed")),
                   ("flag-delete", key(2), row(2), None),
                   ("delete", key(3), row(3), None),
                   ("insert", key(7), None, None),
                   ("undo", key(7), row(7), None)]
    assert changes[1]["record"] == row(1, "changed")
    # The same through a database opened with its logs: replayed again from its file.
    opened = quarrow.EseDatabase(str(db), logs=str(logs))
    assert [(c["key"], c["before"], c["after"]) for c in quarrow.EseLogs(logs).changes(opened)] == \
        [g[1:] for g in got]
    history = quarrow.EseLogs(logs).row_history(str(db), "People", key(1))
    assert history == [changes[1]]
    assert quarrow.EseLogs(logs).row_history(str(db), "People", bytearray(key(7))) == changes[4:]
    assert quarrow.EseLogs(logs).row_history(str(db), "People", key(9)) == []
    assert quarrow.EseLogs(logs).row_history(str(db), "Pets", key(1)) == []


def test_tool_gives_the_module_images_and_one_row(tmp_path):
    db, logs = written_case(tmp_path)
    module = list(quarrow.EseLogs(logs).changes(str(db)))
    lines = [json.loads(x) for x in run("logs", logs, "--changes", "--db", db).stdout.splitlines()]
    assert [(x["key"], x["before"], x["after"]) for x in lines] == \
        [(c["key"].hex().upper() if c["key"] else None, c["before"], c["after"]) for c in module]
    one = run("logs", logs, "--changes", "--db", db, "--table", "People", "--key", key(2).hex()).stdout
    assert [json.loads(x)["kind"] for x in one.splitlines()] == ["flag-delete"]


@pytest.mark.parametrize("args", [["--table", "People"], ["--key", "00"], ["--table", "People", "--key", "0g"],
                                  ["--table", "People", "--key", "000"]])
def test_tool_refuses_a_half_or_bad_row(tmp_path, args):
    db, logs = written_case(tmp_path)
    assert b"--key" in run("logs", logs, "--changes", "--db", db, *args, expect=2).stderr


def test_changes_the_file_already_holds_keep_todays_output(tmp_path):
    db, logs = written_case(tmp_path)
    later = tmp_path / "later.edb"
    run("replay", db, "--logs", logs, "-o", later)
    changes = list(quarrow.EseLogs(logs).changes(str(later)))
    assert [(c["kind"], c["key"], c["before"], c["after"]) for c in changes] == [
        ("insert", key(6), None, None), ("replace", None, None, None), ("flag-delete", None, None, None),
        ("delete", None, None, None), ("insert", key(7), None, None), ("undo", key(7), None, None)]


@pytest.mark.parametrize("bad", [1, "01"])
def test_row_history_key_must_be_bytes(tmp_path, bad):
    db, logs = written_case(tmp_path)
    with pytest.raises(TypeError):
        quarrow.EseLogs(logs).row_history(str(db), "People", bad)


def test_ws2022_changes_after_the_copy_are_named_by_the_replay(untouched):
    # The vector's replaces, flag-deletes and deletes are all of space trees (flag
    # 0x08), which are no row changes: its row changes are inserts. Read with the
    # replayed catalog, those of the tables the logs created come too.
    folder = untouched(log_set("srum-ws2022"))
    db = replayed(folder / "SRUDB.dat", folder)
    logs = quarrow.EseLogs(str(folder))
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # the replay for the images completed
        changes = list(logs.changes(db))
    assert {c["kind"] for c in changes} == {"insert"} and len(changes) == 620
    assert {c["table"] for c in changes} <= set(WS2022_ROWS)
    assert all(c["key"] and c["before"] is None and c["after"] is None for c in changes)
    assert len(list(logs.changes(str(folder / "SRUDB.dat")))) == 453  # the copy's six tables only
    # A row's history: the one insert of a row, in a table the logs created and in one
    # of the copy (the tool reads the copy's catalog).
    for table in ("{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}", "SruDbIdMapTable"):
        first = [c for c in changes if c["table"] == table][-1]
        assert logs.row_history(db, table, first["key"]) == [first]
    lines = run("logs", folder, "--changes", "--db", folder / "SRUDB.dat", "--table", table, "--key",
                first["key"].hex()).stdout.splitlines()
    assert [json.loads(x)["position"] for x in lines] == [first["position"]]


def test_a_replay_that_fails_leaves_the_changes_and_says_why(tmp_path):
    # A replace of a line the page does not have: the redo stops there.
    db, logs = write_case(tmp_path, [L.begin0(9, 100, 2), L.replace(node(9, 1, 40, 100), ENCODE(row(1))),
                                     L.commit(9, 1), L.commit0(9, 1)])
    it = quarrow.EseLogs(logs).changes(str(db))
    with pytest.warns(RuntimeWarning, match="could not be replayed"):
        changes = list(it)
    assert [(c["kind"], c["key"], c["before"], c["after"]) for c in changes] == [("replace", None, None, None)]
    assert changes[0]["record"] == row(1)
    done = run("logs", logs, "--changes", "--db", db)
    assert len(done.stdout.splitlines()) == 1 and b"could not be replayed" in done.stderr
