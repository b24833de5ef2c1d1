"""Projection (columns=), parallel Arrow batches (threads=), parts of a table
(part=), the tool's --columns and --jobs on one table, and work with the GIL
released: same values as the plain reading, on written and real databases."""

from __future__ import annotations

import json
import struct
import subprocess
import sys
import threading
from pathlib import Path

import pytest

pa = pytest.importorskip("pyarrow")

from esefile import BINARY, LONG, LONG_TEXT, TEXT, Column, EseFile, LongValue, Table, patch  # noqa: E402
from quarrow import EseDatabase  # noqa: E402

from helpers import SHARED_DATA, SHARED_LOGS  # noqa: E402

REAL_FILES = sorted([*(p for pattern in ("*.edb", "*.dat", "*.mdb") for p in SHARED_DATA.glob(pattern))]
                    if SHARED_DATA else []) + (sorted(SHARED_LOGS.glob("*/*.dat")) if SHARED_LOGS else [])
QUARROW = str(Path(sys.executable).with_name("quarrow"))

COLUMNS = [Column("Id", LONG, 1), Column("Name", TEXT, 256), Column("Blob", BINARY, 257),
           Column("Note", LONG_TEXT, 258)]


def rows_table(n=400, per_page=4):
    records = [{"Id": i, "Name": f"row {i}", "Blob": bytes([i % 256]) * (i % 7),
                "Note": LongValue(f"long value {i} " * 100) if i % 50 == 0 else f"note {i}"} for i in range(n)]
    return Table("T", COLUMNS, records, records_per_page=per_page, branch_fanout=5, lv_records_per_page=2)


@pytest.fixture
def big(write_db):
    db = EseFile(page_size=4096)
    db.add_table(rows_table())
    db.add_table(Table("Other", [Column("Id", LONG, 1), Column("Extra", TEXT, 256)],
                       [{"Id": 1, "Extra": "x"}]))
    return write_db(db)


# Tables of fewer than a few thousand records are read on one thread whatever
# threads= says: this one is cut into stretches.
THREADED_ROWS = 4400


@pytest.fixture
def threaded(write_db):
    db = EseFile(page_size=4096)
    db.add_table(rows_table(THREADED_ROWS))
    return write_db(db)


def arrow(db, table, **kwargs):
    return pa.table(db.arrow_table(table, **kwargs))


def projected(rows, names):
    return [{k: r[k] for k in r if k in names} for r in rows]


@pytest.mark.parametrize("threads, batch_rows", [(2, 7), (2, 65536), (3, 1000), (8, 1)])
def test_threads_give_the_values_and_order_of_one_thread(threaded, threads, batch_rows):
    db = EseDatabase(threaded)
    one = arrow(db, "T", threads=1, batch_rows=batch_rows)
    many = db.arrow_table("T", threads=threads, batch_rows=batch_rows)
    reader = pa.RecordBatchReader.from_stream(many)
    batches = list(reader)
    assert all(b.num_rows <= batch_rows for b in batches)
    # Every thread has several stretches to take, however large the batches may be.
    assert len(batches) >= 2 * threads
    assert pa.Table.from_batches(batches, schema=reader.schema).equals(one)
    assert one.column("Id").to_pylist() == list(range(THREADED_ROWS))


def test_small_tables_and_batch_memory(big):
    """A small table is read on one thread (one batch however many threads); the
    kept batch memory can be set, and readings with none kept give the same values."""
    db = EseDatabase(big)
    assert len(list(pa.RecordBatchReader.from_stream(db.arrow_table("T", threads=4)))) == 1
    assert db.batch_memory == 64 << 20
    one = arrow(db, "T", threads=1)
    for value in (0, 1 << 40, 1 << 70):
        db.batch_memory = value
        assert db.batch_memory == min(value, sys.maxsize * 2 + 1)
        assert arrow(db, "T", threads=2).equals(one)
    for value, error in ((-1, ValueError), ("1", TypeError), (None, TypeError), (1.5, TypeError)):
        with pytest.raises(error):
            db.batch_memory = value
    with pytest.raises(AttributeError):
        del db.batch_memory


@pytest.mark.parametrize("order", [["A", "B", "A"], ["B", "A", "B"]])
def test_each_long_value_tree_is_worked_out_for_its_own_table(write_db, order):
    """The database keeps each long-value tree's chain once worked out: a reading of
    one table after another's must still look its values up in its own tree."""
    db = EseFile(page_size=4096)
    for name in ("A", "B"):
        table = rows_table(120)
        table.name = name
        for r in table.records:
            if isinstance(r["Note"], LongValue):
                r["Note"] = LongValue(f"{name} " * 300 + str(r["Id"]))
        db.add_table(table)
    path = write_db(db)
    expected = {name: EseDatabase(path).read_table(name) for name in ("A", "B")}
    assert expected["A"] != expected["B"]
    shared = EseDatabase(path)
    for name in order:
        assert shared.read_table(name) == expected[name]
        assert arrow(shared, name, threads=2).to_pylist() == arrow(EseDatabase(path), name, threads=1).to_pylist()


@pytest.mark.parametrize("threads, batch_rows", [(1, 65536), (2, 65536), (3, 5)])
def test_parts_together_are_the_table(threaded, threads, batch_rows):
    """Parts of a table, each read on one or several threads (a part's stretches
    are cut from its own pages), put together give the table."""
    db = EseDatabase(threaded)
    whole = arrow(db, "T", threads=1)
    for count in (1, 2, 5, 1000):
        parts = [arrow(db, "T", part=(k, count), threads=threads, batch_rows=batch_rows) for k in range(count)]
        assert pa.concat_tables(parts).equals(whole), count


@pytest.mark.parametrize("names", [["Note"], ["Name", "Id"], ["Id", "Nope", "Blob"]])
def test_projection_keeps_the_table_order_and_values(big, names):
    db = EseDatabase(big)
    kept = [c for c in ("Id", "Name", "Blob", "Note") if c in names]
    full = db.read_table("T")
    if "Nope" in names:
        with pytest.raises(ValueError, match="Column not found: Nope"):
            db.read_table("T", columns=names)
        return
    got = db.read_table("T", columns=names)
    assert [list(r) for r in got[:1]] == [kept]
    assert got == projected(full, names)
    assert list(db.iter_table("T", columns=names)) == got
    assert arrow(db, "T", columns=names, threads=2).equals(arrow(db, "T").select(kept))


def test_export_with_columns(big, tmp_path):
    db = EseDatabase(big)
    db.export_table("T", str(tmp_path / "t.jsonl"), columns=["Name"])
    lines = (tmp_path / "t.jsonl").read_text().splitlines()
    assert [json.loads(x) for x in lines] == projected(db.read_table("T"), ["Name"])
    # Per table: a name a table lacks is passed over there, a table with none of the
    # names is not written, a name no table has is refused before anything is written.
    db.export_all(str(tmp_path / "all"), columns=["Extra", "Blob"])
    written = sorted(p.name for p in (tmp_path / "all").iterdir())
    assert "T.jsonl" in written and "Other.jsonl" in written and "MSysObjects.jsonl" not in written
    assert (tmp_path / "all" / "Other.jsonl").read_text() == '{"Extra":"x"}\n'
    with pytest.raises(ValueError, match="Column not found: Nowhere"):
        db.export_all(str(tmp_path / "none"), columns=["Id", "Nowhere"])
    assert not (tmp_path / "none").exists()


@pytest.mark.parametrize("call", [
    lambda db: db.read_table("T", ["Id"]),
    lambda db: db.read_table("T", columns="Id"),
    lambda db: db.read_table("T", columns=[1]),
    lambda db: db.iter_table("T", ["Id"]),
    lambda db: db.export_table("T", "x", ["Id"]),
    lambda db: db.arrow_table("T", threads="2"),
    lambda db: db.arrow_table("T", part=[0, 1]),
])
def test_argument_types(big, call):
    with pytest.raises(TypeError):
        call(EseDatabase(big))


@pytest.mark.parametrize("kwargs", [{"columns": []}, {"threads": 0}, {"part": (2, 2)}, {"part": (0, 0)}])
def test_argument_values(big, kwargs):
    db = EseDatabase(big)
    with pytest.raises(ValueError):
        db.arrow_table("T", **kwargs) if "columns" not in kwargs else db.read_table("T", **kwargs)


def broken_link(write_db, rows=200, leaf=30):
    db = EseFile(page_size=4096)
    db.add_table(rows_table(rows))
    data = db.build()
    leaf = db.table_leaf_pages("T")[leaf]
    return write_db(patch(data, db.page_offset(leaf) + 20, struct.pack("<I", 99999)))


def test_an_error_comes_after_every_earlier_batch(write_db):
    db = EseDatabase(broken_link(write_db, THREADED_ROWS, 900))
    outcomes = []
    for threads in (1, 2, 4):
        reader = pa.RecordBatchReader.from_stream(db.arrow_table("T", threads=threads, batch_rows=5))
        ids = []
        with pytest.raises(OSError) as error:
            for batch in reader:
                ids += batch.column("Id").to_pylist()
        outcomes.append((ids, str(error.value)))
    assert outcomes[1:] == outcomes[:1] * 2
    try:
        reference = [r["Id"] for r in db.iter_table("T")]
    except OSError:
        reference = None
    it = db.iter_table("T")
    got = []
    with pytest.raises(OSError):
        for row in it:
            got.append(row["Id"])
    assert got == outcomes[0][0] and reference is None


def run_tool(*args):
    return subprocess.run([QUARROW, *args], capture_output=True)


@pytest.mark.parametrize("fmt", [[], ["--decoded"], ["-f", "csv"], ["--columns", "Note,Id"]])
def test_tool_output_is_the_same_for_any_jobs(big, write_db, tmp_path, fmt):
    for path in (big, broken_link(write_db)):
        results = [run_tool("dump", "-q", "-j", str(j), *fmt, path, "T") for j in (1, 2, 5)]
        assert len({(r.stdout, r.stderr, r.returncode) for r in results}) == 1
        exports = []
        for j in (1, 3):
            out = tmp_path / f"e{j}{len(fmt)}{Path(path).name}"
            r = run_tool("export", "-q", "-j", str(j), *fmt, "-o", str(out), path)
            exports.append((r.returncode, r.stderr, {p.name: p.read_bytes() for p in out.iterdir()}))
        assert exports[0] == exports[1]


def test_tool_stretches_of_many_blocks_keep_their_order(write_db, tmp_path):
    """Long values make a few pages render to megabytes: a stretch then hands over
    several blocks, which must still reach the output in table order."""
    records = [{"Id": i, "Name": f"row {i}", "Blob": b"", "Note": LongValue(f"{i:04d} " + "x" * 60_000)}
               for i in range(300)]
    db = EseFile(page_size=4096)
    db.add_table(Table("T", COLUMNS, records, records_per_page=4, branch_fanout=5, lv_records_per_page=2))
    path = write_db(db)
    results = [run_tool("dump", "-q", "-j", str(j), path, "T") for j in (1, 2, 4)]
    assert len(results[0].stdout) > 18_000_000
    assert {(r.stdout, r.returncode) for r in results} == {(results[0].stdout, 0)}
    assert [json.loads(line)["Id"] for line in results[1].stdout.splitlines()] == list(range(300))


def test_tool_columns_errors(big, tmp_path):
    r = run_tool("dump", "-q", "--columns", "Id,Nope", big, "T")
    assert r.returncode != 0 and b"Column not found: Nope" in r.stderr and r.stdout == b""
    r = run_tool("export", "-q", "--columns", "Nope", "-o", str(tmp_path / "o"), big)
    assert r.returncode != 0 and b"Column not found: Nope" in r.stderr
    assert not any((tmp_path / "o").glob("*.jsonl"))


def test_threads_share_one_database(big, tmp_path):
    """Exports, readings and carving from several Python threads at once (the GIL is
    released while they work) give what each gives alone."""
    db = EseDatabase(big)
    want_rows = db.read_table("T")
    want_hits = db.carve_utf16le_strings_scoped("all", None, 6, 50)
    errors, results = [], {}

    def work(k):
        try:
            out = tmp_path / f"t{k}.jsonl"
            db.export_table("T", str(out))
            results[k] = (out.read_bytes(), db.read_table("T") == want_rows,
                          list(db.iter_table("T")) == want_rows,
                          db.carve_utf16le_strings_scoped("all", None, 6, 50) == want_hits,
                          arrow(db, "T", threads=2).column("Id").to_pylist() == list(range(400)))
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(exc)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len({r[0] for r in results.values()}) == 1
    assert all(all(r[1:]) for r in results.values())


def test_one_iterator_on_two_threads(big):
    it = EseDatabase(big).iter_table("T")
    seen, errors = [], []

    def drain():
        try:
            for row in it:
                seen.append(row["Id"])
        except ValueError as exc:  # the other thread was inside a step
            errors.append(exc)

    threads = [threading.Thread(target=drain) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert sorted(seen) == list(range(400))


@pytest.mark.skipif(not REAL_FILES, reason="real ESE files not available")
@pytest.mark.parametrize("path", REAL_FILES, ids=lambda p: f"{p.parent.name}/{p.name}")
def test_real_files_threads_and_projection(path):
    db = EseDatabase(str(path))
    for table in db.get_tables():
        try:
            one = arrow(db, table, threads=1)
        except OSError as exc:
            with pytest.raises(OSError, match=str(exc).split(":")[0]):
                arrow(db, table, threads=3)
            continue
        for threads, batch_rows in ((3, 1000), (2, 65536)):
            assert arrow(db, table, threads=threads, batch_rows=batch_rows).equals(one), (table, threads)
        assert pa.concat_tables([arrow(db, table, part=(k, 3)) for k in range(3)]).equals(one), table
        names = one.column_names[::3][:4]
        if names:
            assert arrow(db, table, columns=names, threads=2).equals(one.select(names)), table
            rows = db.read_table(table, columns=names)
            assert rows == projected(db.read_table(table), names), table
    # Views likewise, where a profile recognises the file.
    # (Each batch has dictionaries of its own: the values are compared.)
    for name in db.views():
        one = pa.table(db.arrow_view(name, threads=1)).to_pylist()
        for threads, batch_rows in ((2, 7), (3, 1000), (2, 65536)):
            got = pa.table(db.arrow_view(name, threads=threads, batch_rows=batch_rows))
            assert got.to_pylist() == one, (name, threads, batch_rows)
        parts = [pa.table(db.arrow_view(name, part=(k, 3))) for k in range(3)]
        assert pa.concat_tables(parts).to_pylist() == one, name


def test_fleet_split_rows_and_columns(big, tmp_path):
    fleet = pytest.importorskip("quarrow_fleet")
    import dask
    with dask.config.set(scheduler="synchronous"):
        whole = fleet.read_tables([big], "T").compute()
        split = fleet.read_tables([big], "T", split_rows=90)
        assert split.npartitions == 5
        got = split.compute()
        assert got.reset_index(drop=True).equals(whole.reset_index(drop=True))
        some = fleet.read_tables([big], "T", columns=["Note", "Id"]).compute()
        assert list(some.columns) == ["Note", "Id", "source"]
        assert some["Id"].tolist() == list(range(400))
    with pytest.raises(ValueError):
        fleet.read_tables([big], "T", split_rows=0)
