"""The timeline: every dated fact of databases and logs in time order, as the tool
writes it (JSON Lines, CSV) and as EseDatabase.timeline / quarrow_fleet.timeline give
it; counts on the real files against their views, the importer's columns, filters at
their edges and a stable order."""

from __future__ import annotations

import collections
import csv
import datetime as dt
import io
import json
import re
import struct
from pathlib import Path

import pytest

import esefile as ef
from quarrow import EseDatabase
from test_cli import exe, run  # noqa: F401  (fixture)

ROOT = Path(__file__).resolve().parents[2]
FIELDS = ["message", "datetime", "timestamp_desc", "timestamp", "source_file", "kind", "table", "row"]
REAL = ["srum-small.dat", "ual-current.mdb", "windows-search-w10.edb"]
LOG_SETS = ["srum-belka", "srum-w11", "srum-ws2022"]
UTC = dt.timezone.utc


def lines(out: bytes) -> list[dict]:
    return [json.loads(line) for line in out.decode().splitlines()]


def profile_events() -> dict:
    """view name -> the columns that date events, from the shipped profiles."""
    out = {}
    for f in (ROOT / "profiles").glob("*.json"):
        text = re.sub(r"^\s*//.*$", "", f.read_text(), flags=re.M)
        for view in json.loads(text)["views"]:
            out[view["name"]] = list(view.get("events", {}))
    return out


def dated_values(db: EseDatabase) -> int:
    """The non-null dated values of the database's views, read through read_view."""
    events = profile_events()
    total = 0
    for view in db.views():
        name = view["name"] if isinstance(view, dict) else view
        for row in db.read_view(name):
            total += sum(1 for c in events.get(name, []) if row.get(c) is not None)
    return total


def profile_views() -> dict:
    """view name -> its definition, from the shipped profiles."""
    out = {}
    for f in (ROOT / "profiles").glob("*.json"):
        text = re.sub(r"^\s*//.*$", "", f.read_text(), flags=re.M)
        out.update((view["name"], view) for view in json.loads(text)["views"])
    return out


def recovered_time(value, column: dict | None) -> dt.datetime | None:
    """A recovered value as its view column dates it: a stored DateTime (an OLE date, as
    recovery gives its 8 bytes) or a FILETIME (a number, or 8 bytes) within its range."""
    if column is None:
        if not isinstance(value, int):
            return None
        days = struct.unpack("<d", struct.pack("<q", value))[0]
        try:
            return dt.datetime(1899, 12, 30, tzinfo=UTC) + dt.timedelta(days=days)
        except (OverflowError, ValueError):
            return None
    if isinstance(value, bytes) and len(value) == 8:
        value = int.from_bytes(value, "big" if column["convert"] == "filetime_be" else "little")
    if not isinstance(value, int) or value <= 0:
        return None
    try:
        t = dt.datetime(1601, 1, 1, tzinfo=UTC) + dt.timedelta(microseconds=value // 10)
    except OverflowError:
        return None
    low, high = (dt.datetime.fromisoformat(d).replace(tzinfo=UTC) for d in column["range"])
    return t if low <= t < high + dt.timedelta(days=1) else None


def recovered_dates(db: EseDatabase) -> int:
    """The dated values of the records recovery finds in the views' tables (copies of
    live rows left out), each stored column once per table."""
    views_by_name = profile_views()
    dates: dict[str, dict] = collections.defaultdict(dict)
    for name in db.views():
        view = views_by_name.get(name, {})
        for column in view.get("events", {}):
            column_def = next((c for c in view["columns"] if isinstance(c, dict) and c.get("name") == column), None)
            dates[view["table"]].setdefault(column_def["from"] if column_def else column, column_def)
    total = 0
    for table, columns in dates.items():
        for r in db.recover_records(table):
            if r["live"] == "identical":
                continue
            # Windows Search's stored names carry the property's id: "15F-System_DateModified".
            values = {re.sub(r"^[0-9A-F]+-", "", k): v for k, v in r["record"].items()}
            total += sum(recovered_time(values.get(c), column_def) is not None for c, column_def in columns.items())
    return total


def row_changes(logs: Path, db: Path) -> int:
    """The row changes EseLogs.changes() gives that the timeline shows: dated, no undo."""
    import quarrow
    return sum(c["kind"] != "undo" and c["time"] is not None for c in quarrow.EseLogs(str(logs)).changes(str(db)))


def header_times(db: EseDatabase) -> int:
    info = db.header_info()
    return sum(1 for k in ("creation_time", "last_attach_time", "last_detach_time", "last_consistent_time")
               if info.get(k) is not None)


@pytest.fixture(scope="module")
def logs_dir(data_dir) -> Path:
    folder = data_dir.parent / "logs"
    if not folder.is_dir():
        pytest.skip("real log sets not available")
    return folder


@pytest.mark.parametrize("name", REAL)
def test_real_file_counts_match_views(exe, data_dir, name):
    path = data_dir / name
    out, err = run(exe, "timeline", path)
    events = lines(out)
    kinds = collections.Counter(e["kind"] for e in events)
    with EseDatabase(str(path)) as db:
        expected = {"row": dated_values(db), "header": header_times(db), "recovered": recovered_dates(db)}
    assert kinds == {k: v for k, v in expected.items() if v} and len(events) == sum(expected.values())
    assert f"{len(events)} events" in err
    # Every recovered event is marked as a deleted row.
    assert all(e["timestamp_desc"].endswith("(deleted row)") for e in events if e["kind"] == "recovered")
    times = [e["timestamp"] for e in events]
    assert times == sorted(times)


@pytest.mark.parametrize("folder", LOG_SETS)
def test_log_sets_add_one_event_per_transaction(exe, logs_dir, folder):
    logs = logs_dir / folder
    out, _ = run(exe, "timeline", logs / "SRUDB.dat", "--logs", logs)
    events = lines(out)
    dated = [t for t in lines(run(exe, "logs", logs, "--timeline")[0]) if t["time"] is not None]
    transactions = [e for e in events if e["kind"] == "transaction"]
    assert len(transactions) == len(dated) > 0
    assert sorted(t["begin"] for t in transactions) == sorted(t["begin"] for t in dated)
    assert {e["source_file"] for e in transactions} == {str(logs)}
    # Every event accounted for: the file's own kinds, the transactions and the rows the
    # logs change.
    with EseDatabase(str(logs / "SRUDB.dat")) as db:
        expected = {"row": dated_values(db), "header": header_times(db), "recovered": recovered_dates(db),
                    "transaction": len(dated), "row_change": row_changes(logs, logs / "SRUDB.dat")}
    kinds = collections.Counter(e["kind"] for e in events)
    assert kinds == {k: v for k, v in expected.items() if v} and len(events) == sum(expected.values())
    assert kinds["row_change"] > 0


def test_csv_has_the_importer_columns_and_quotes(exe, data_dir, tmp_path):
    path = data_dir / "srum-small.dat"
    jsonl = lines(run(exe, "timeline", path)[0])
    raw = run(exe, "timeline", path, "-f", "csv")[0]
    assert raw.startswith(b"message,datetime,timestamp_desc,timestamp,")
    assert b"\r\n" in raw
    rows = list(csv.DictReader(io.StringIO(raw.decode(), newline="")))
    assert list(rows[0]) == FIELDS + ["attributes"]
    assert len(rows) == len(jsonl)
    for row, event in zip(rows, jsonl):
        # Messages with commas and quotes come back whole.
        assert row["message"] == event["message"]
        assert row["datetime"] == event["datetime"] and int(row["timestamp"]) == event["timestamp"]
        attributes = json.loads(row["attributes"])
        assert {k: event[k] for k in attributes} == attributes
    assert any("," in r["message"] for r in rows)
    # ISO 8601 in UTC that Python (as Timesketch) reads to the same instant.
    for event in jsonl:
        when = dt.datetime.fromisoformat(event["datetime"])
        assert when.utcoffset() == dt.timedelta(0)
        assert round(when.timestamp() * 1_000_000) == event["timestamp"]


def test_field_that_needs_quoting(exe, write_db, tmp_path):
    # A database no profile knows: its DateTime values are events named Table.Column,
    # and its text travels into the message and the attributes.
    when = dt.datetime(2022, 3, 4, 5, 6, 7)
    text = 'a "quoted", multi\nline value'
    table = ef.Table("Notes", [ef.Column("Id", ef.LONG, 1), ef.Column("Written", ef.DATETIME, 2),
                               ef.Column("Body", ef.LONG_TEXT, 256)],
                     [{"Id": 1, "Written": when, "Body": text}, {"Id": 2, "Written": None, "Body": "no date"}])
    path = write_db([table])
    events = lines(run(exe, "timeline", path, "--kinds", "row")[0])
    assert [(e["timestamp_desc"], e["datetime"], e["Body"]) for e in events] == \
        [("Notes.Written", "2022-03-04T05:06:07+00:00", text)]
    rows = list(csv.DictReader(io.StringIO(run(exe, "timeline", path, "--kinds", "row", "-f", "csv")[0].decode(),
                                           newline="")))
    assert len(rows) == 1 and json.loads(rows[0]["attributes"])["Body"] == text
    assert text in rows[0]["message"]


@pytest.mark.parametrize("bound, option, included", [
    (lambda t: t, "--from", True),
    (lambda t: t + dt.timedelta(microseconds=1), "--from", False),
    (lambda t: t, "--to", True),
    (lambda t: t - dt.timedelta(microseconds=1), "--to", False),
])
def test_range_edges(exe, data_dir, bound, option, included):
    path = data_dir / "ual-current.mdb"
    events = lines(run(exe, "timeline", path)[0])
    first = dt.datetime.fromisoformat(events[len(events) // 2]["datetime"])
    chosen = events[len(events) // 2]["timestamp"]
    text = bound(first).isoformat()
    got = lines(run(exe, "timeline", path, option, text)[0])
    assert (chosen in {e["timestamp"] for e in got}) == included


@pytest.mark.parametrize("start, end, lo, hi", [
    # A date as the upper bound includes the whole day.
    ("2021-11-16", "2021-11-16", dt.datetime(2021, 11, 16, tzinfo=UTC), dt.datetime(2021, 11, 17, tzinfo=UTC)),
    # A zone moves the bound: 21:00+01:00 is 20:00 UTC.
    ("2021-11-16T21:00+01:00", "2021-11-16T22:30:00+01:00", dt.datetime(2021, 11, 16, 20, tzinfo=UTC),
     dt.datetime(2021, 11, 16, 21, 31, tzinfo=UTC)),
    ("2021-11-16T20:00:00Z", "2021-11-16T21:30:00.000000Z", dt.datetime(2021, 11, 16, 20, tzinfo=UTC),
     dt.datetime(2021, 11, 16, 21, 30, 0, 1, tzinfo=UTC)),
])
def test_zones_and_dates_in_bounds(exe, data_dir, start, end, lo, hi):
    path = data_dir / "srum-small.dat"
    every = lines(run(exe, "timeline", path)[0])
    got = lines(run(exe, "timeline", path, "--from", start, "--to", end)[0])
    expected = [e for e in every if lo <= dt.datetime.fromisoformat(e["datetime"]) < hi]
    assert got == expected and got
    with EseDatabase(str(path)) as db:
        from_module = list(db.timeline(start=start, end=end))
    assert [e["timestamp"] for e in from_module] == [e["timestamp"] for e in got]


@pytest.mark.parametrize("args, message", [
    (["--from", "2021-02-30"], "--from '2021-02-30' is no time"),
    (["--to", "yesterday"], "is no time"),
    (["--from", "2021-11-17", "--to", "2021-11-16"], "--from is after --to"),
    (["-f", "xml"], "jsonl or csv"),
    (["--kinds", "rows"], "unknown kind 'rows'"),
])
def test_bad_options_are_usage_errors(exe, data_dir, args, message):
    _, err = run(exe, "timeline", data_dir / "srum-small.dat", *args, check=2)
    assert message in err


def test_order_is_stable_across_runs_jobs_and_spills(exe, data_dir, logs_dir, tmp_path):
    args = [data_dir / n for n in REAL] + [logs_dir / "srum-w11" / "SRUDB.dat", "--logs", logs_dir / "srum-w11", "-q"]
    one = run(exe, "timeline", *args, "--jobs", "1")[0]
    assert run(exe, "timeline", *args, "--jobs", "1")[0] == one
    assert run(exe, "timeline", *args, "--jobs", "2")[0] == one
    # Sorted runs through temporary files give the same bytes.
    spilled, err = run(exe, "timeline", *args[:-1], "--jobs", "2", "--sort-memory", "1", "--temp-dir", tmp_path)
    assert spilled == one and "sorted runs on disk" in err
    assert list(tmp_path.iterdir()) == []  # the runs leave nothing behind
    events = lines(one)
    keys = [(e["timestamp"], e["source_file"]) for e in events]
    assert keys == sorted(keys, key=lambda k: k[0])
    # Equal times keep the inputs' order.
    order = {str(a): k for k, a in enumerate(args[:4])}
    order[str(logs_dir / "srum-w11")] = 4
    ranked = [(e["timestamp"], order[e["source_file"]]) for e in events]
    assert ranked == sorted(ranked)


@pytest.mark.parametrize("fmt", ["jsonl", "csv"])
@pytest.mark.parametrize("shuffled", [False, True])
def test_rows_in_and_out_of_time_order_through_runs(exe, write_db, tmp_path, fmt, shuffled):
    # Rows whose dates rise with their key come in order (their buffers are written out
    # as they are); shuffled ones are sorted. Either way, through runs of a few events
    # each, the bytes are those of the timeline held in memory.
    start = dt.datetime(2022, 3, 4, 5, 6, 7)
    order = list(range(3000))
    if shuffled:
        order = order[::7] + [i for i in order if i % 7]
    rows = [{"Id": i + 1, "Written": start + dt.timedelta(seconds=order[i] // 3, microseconds=order[i] % 2),
             "Seen": start - dt.timedelta(days=order[i] % 5) if i % 4 else None,
             "Body": f'note "{i}"\\' + "x" * (i % 300)} for i in range(len(order))]
    table = ef.Table("Notes", [ef.Column("Id", ef.LONG, 1), ef.Column("Written", ef.DATETIME, 2),
                               ef.Column("Seen", ef.DATETIME, 3), ef.Column("Body", ef.LONG_TEXT, 256)], rows)
    path = write_db([table])
    whole, _ = run(exe, "timeline", path, "-f", fmt, "-q")
    runs = tmp_path / "runs"
    runs.mkdir()
    spilled, err = run(exe, "timeline", path, path, "-f", fmt, "--sort-memory", "1", "--temp-dir", runs)
    assert "sorted runs on disk" in err and list(runs.iterdir()) == []
    both, _ = run(exe, "timeline", path, path, "-f", fmt, "-q")
    assert spilled == both
    if fmt == "jsonl":
        events = lines(whole)
        assert len(events) == 3000 + sum(1 for r in rows if r["Seen"])
        keys = [(e["timestamp"], e["row"]) for e in events]
        assert keys == sorted(keys)
        assert sorted(lines(both), key=lambda e: (e["timestamp"], e["row"])) == \
            sorted(events + events, key=lambda e: (e["timestamp"], e["row"]))


def test_module_gives_the_tools_events(exe, data_dir, logs_dir):
    folder = logs_dir / "srum-ws2022"
    tool = lines(run(exe, "timeline", folder / "SRUDB.dat", "--logs", folder)[0])
    with EseDatabase(str(folder / "SRUDB.dat")) as db:
        module = list(db.timeline(logs=str(folder)))
    assert len(module) == len(tool)
    assert {"row", "header", "transaction", "row_change"} >= {t["kind"] for t in tool} >= {"transaction", "row_change"}
    for m, t in zip(module, tool):
        assert list(m)[:len(FIELDS)] == FIELDS
        assert m["datetime"] == dt.datetime.fromisoformat(t["datetime"])
        assert {k: v for k, v in m.items() if k != "datetime"} == {k: v for k, v in t.items() if k != "datetime"}


def test_module_arrow_gives_the_same_events(data_dir):
    pa = pytest.importorskip("pyarrow")
    with EseDatabase(str(data_dir / "ual-current.mdb")) as db:
        dicts = list(db.timeline())
        arrow = db.timeline(arrow=True, batch_rows=50)
        table = pa.table(arrow)
        with pytest.raises(ValueError, match="read already"):
            pa.table(arrow)
    assert table.column_names == FIELDS + ["attributes"]
    assert table.num_rows == len(dicts) and len(table.to_batches()) == -(-len(dicts) // 50)
    for row, event in zip(table.to_pylist(), dicts):
        assert {k: row[k] for k in FIELDS} == {k: event[k] for k in FIELDS}
        assert json.loads(row["attributes"]) == {k: v for k, v in event.items() if k not in FIELDS}


@pytest.mark.parametrize("kwargs, error", [
    ({"views": ["nonesuch"]}, ValueError),
    ({"views": "app_resource_usage"}, TypeError),
    ({"start": 5}, TypeError),
    ({"end": "soon"}, ValueError),
    ({"kinds": ["everything"]}, ValueError),
    ({"logs": "/nonexistent/logs"}, OSError),
    ({"batch_rows": 0}, ValueError),
    ({"temp_dir": "/nonexistent/tmp", "sort_memory_mb": 1}, None),
])
def test_module_refuses_bad_arguments(data_dir, kwargs, error):
    with EseDatabase(str(data_dir / "srum-small.dat")) as db:
        if error is None:
            # Few events fit the bound: nothing spills, so the folder is never needed.
            assert len(list(db.timeline(**kwargs))) == 227
            return
        with pytest.raises(error):
            db.timeline(**kwargs)


def test_views_and_kinds_select(exe, data_dir):
    path = data_dir / "ual-current.mdb"
    events = lines(run(exe, "timeline", path, "--views", "clients,dns", "--kinds", "row,recovered")[0])
    assert {e["table"] for e in events if e["kind"] == "row"} == {"clients", "dns"}
    assert {e["kind"] for e in events} <= {"row", "recovered"}
    with EseDatabase(str(path)) as db:
        datetimes = [e["datetime"] for e in db.timeline(views=["clients"], kinds=["row"], start=dt.datetime(2021, 8, 1))]
    assert datetimes and all(d >= dt.datetime(2021, 8, 1, tzinfo=UTC) for d in datetimes)
    _, err = run(exe, "timeline", path, "--views", "clients,nonesuch")
    assert "no database has a view or table named 'nonesuch'" in err
    # The header's times come with the views only when named.
    assert {e["table"] for e in lines(run(exe, "timeline", path, "--views", "dns")[0])} == {"dns"}
    assert {e["table"] for e in lines(run(exe, "timeline", path, "--views", "dns,header")[0])} == {"dns", "header"}


def test_profile_names_events_and_message(exe, write_db, tmp_path):
    table = ef.Table("Visits", [ef.Column("Id", ef.LONG, 1), ef.Column("Seen", ef.DATETIME, 2),
                                ef.Column("Who", ef.LONG_TEXT, 256)],
                     [{"Id": 1, "Seen": dt.datetime(2020, 1, 2, 3, 4, 5), "Who": "alice"}])
    path = write_db([table])
    profile = tmp_path / "visits.json"
    profile.write_text(json.dumps({"profile": "visits", "recognize": [["Visits"]], "views": [
        {"name": "visits", "table": "Visits", "columns": ["Id", "Seen", "Who"],
         "events": {"Seen": "visitor seen"}, "message": "{Who} visited (#{Id}, {Missing})"}]}))
    events = lines(run(exe, "timeline", path, "--profile", profile, "--kinds", "row")[0])
    assert [(e["timestamp_desc"], e["message"], e["table"]) for e in events] == \
        [("visitor seen", "alice visited (#1, -)", "visits")]
    profile.write_text(profile.read_text().replace("{Who}", "{Who"))
    _, err = run(exe, "timeline", path, "--profile", profile, check=1)
    assert "\"message\"" in err and "visits.json" in err


def test_fleet_partitions_and_parquet_by_day(data_dir, tmp_path):
    qf = pytest.importorskip("quarrow_fleet")
    import dask
    import pyarrow.parquet as pq
    paths = [str(data_dir / n) for n in REAL[:2]] + [str(tmp_path / "missing.edb")]
    frame = qf.timeline(paths)
    assert frame.npartitions == 3
    events, failed = dask.compute(frame, qf.failures(frame))
    assert list(failed["source"]) == [paths[2]]
    for path in paths[:2]:
        with EseDatabase(path) as db:
            expected = list(db.timeline())
        part = events[events["source_file"] == path]
        assert list(part["timestamp"]) == [e["timestamp"] for e in expected]
        assert json.loads(part["attributes"].iloc[0]) == {k: v for k, v in expected[0].items() if k not in FIELDS}
    report = qf.timeline_parquet(paths[:2], tmp_path / "out")
    assert report["events"] == len(events) and report["failures"] == []
    days = sorted(p.name for p in (tmp_path / "out").iterdir())
    assert days == sorted({f"day={d:%Y-%m-%d}" for d in events["datetime"]})
    table = pq.read_table(tmp_path / "out")
    assert table.num_rows == len(events)


def test_a_failing_input_leaves_the_others(exe, data_dir, tmp_path):
    good = data_dir / "ual-current.mdb"
    bad = tmp_path / "truncated.edb"
    bad.write_bytes((data_dir / "srum-small.dat").read_bytes()[:5000])
    alone = run(exe, "timeline", good, "-q")[0]
    out, err = run(exe, "timeline", bad, good, tmp_path / "missing.edb", "-q", "-j", "2", check=1)
    # None of a failed file's events, all of the others', and each failure named.
    assert out == alone
    assert "truncated.edb" in err and "missing.edb" in err


def test_spilling_into_a_missing_folder_is_an_error(exe, tmp_path):
    # A database large enough that its events pass a 1 MiB sort memory.
    rows = [{"Id": i, "At": dt.datetime(2020, 1, 1) + dt.timedelta(seconds=i), "Text": "x" * 200}
            for i in range(8000)]
    table = ef.Table("Big", [ef.Column("Id", ef.LONG, 1), ef.Column("At", ef.DATETIME, 2),
                             ef.Column("Text", ef.LONG_TEXT, 256)], rows)
    db = ef.EseFile(page_size=8192)
    db.add_table(table)
    path = tmp_path / "big.edb"
    path.write_bytes(db.build())
    with EseDatabase(str(path)) as opened:
        with pytest.raises(OSError):
            opened.timeline(sort_memory_mb=1, temp_dir=str(tmp_path / "nowhere"))
        events = list(opened.timeline(sort_memory_mb=1, temp_dir=str(tmp_path), kinds=["row"]))
    assert [e["Id"] for e in events] == list(range(8000))
    assert list(tmp_path.iterdir()) == [path]
    out, err = run(exe, "timeline", path, "--sort-memory", "1", "--temp-dir", tmp_path / "nowhere", check=1)
    assert out == b"" and "big.edb" in err and "No such file or directory" in err


def test_removed_rows_are_dated_deleted_rows(exe, tmp_path):
    when = dt.datetime(2023, 5, 6, 7, 8, 9)
    rows = [{"Id": i, "Written": when + dt.timedelta(hours=i), "Body": f"note {i}"} for i in range(1, 9)]
    db = ef.EseFile(page_size=4096)
    db.add_table(ef.Table("Notes", [ef.Column("Id", ef.LONG, 1), ef.Column("Written", ef.DATETIME, 2),
                                    ef.Column("Body", ef.LONG_TEXT, 256)], rows))
    data = db.build()
    leaf = db.table_leaf_pages("Notes")[0]
    # Tag i holds record i: records 3 and 6 leave their bytes in the page's free space.
    data = db.remove_tags(data, leaf, [3, 6])
    path = tmp_path / "notes.edb"
    path.write_bytes(data)
    events = lines(run(exe, "timeline", path, "--kinds", "row,recovered")[0])
    live = [e["Id"] for e in events if e["kind"] == "row"]
    deleted = [e for e in events if e["kind"] == "recovered"]
    assert live == [1, 2, 4, 5, 7, 8]
    assert [(e["Id"], e["timestamp_desc"], e["recovered_from"], e["page"], e["table"]) for e in deleted] == \
        [(i, "Notes.Written (deleted row)", "free_space", leaf, "Notes") for i in (3, 6)]
    assert [e["datetime"] for e in deleted] == [(when + dt.timedelta(hours=i)).isoformat() + "+00:00" for i in (3, 6)]
    # In time order among the live rows, and not there with --kinds row.
    assert [e["Id"] for e in events] == list(range(1, 9))
    assert all(e["kind"] == "row" for e in lines(run(exe, "timeline", path, "--kinds", "row")[0]))


@pytest.mark.parametrize("kwargs", [{"start": "2030-01-01"}, {"end": "1990-01-01"}, {"kinds": []}])
def test_nothing_in_range_is_an_empty_timeline(data_dir, kwargs):
    with EseDatabase(str(data_dir / "srum-small.dat")) as db:
        assert list(db.timeline(**kwargs)) == []


def test_fleet_raises_on_request_and_reports_failures(data_dir, tmp_path):
    qf = pytest.importorskip("quarrow_fleet")
    bad = tmp_path / "bad.edb"
    bad.write_bytes(b"\0" * 100)
    with pytest.raises(OSError, match="bad.edb"):
        qf.timeline([str(bad)], errors="raise").compute()
    with pytest.raises(ValueError):
        qf.timeline([], errors="collect")
    report = qf.timeline_parquet([str(data_dir / "srum-small.dat"), str(bad)], tmp_path / "out", kinds=["header"])
    assert report["events"] == 4 and [f["source"] for f in report["failures"]] == [str(bad)]
    with pytest.raises(FileExistsError):
        qf.timeline_parquet([str(bad)], tmp_path / "out")
