"""quarrow_fleet on a LocalCluster of two worker processes: a fleet of generated
databases with differing tables and columns, plus damaged files."""

from __future__ import annotations

import datetime as dt
import os
import struct
import uuid

import pytest

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
pd = pytest.importorskip("pandas")

import quarrow  # noqa: E402
from quarrow import EseDatabase  # noqa: E402

import esefile as ef  # noqa: E402
from conftest import write_database  # noqa: E402


# ---------------------------------------------------------------------------
# The fleet
# ---------------------------------------------------------------------------
GOOD_FILES = 50


def events_table(i):
    """Table "Events" of host i: base columns, plus "Extra" on every 3rd host,
    "Flag" on every 4th, a date and a GUID on every 5th (newer builds add columns);
    0 to a few thousand records."""
    columns = [ef.Column("Id", ef.LONG, 1), ef.Column("Count", ef.LONG_LONG, 2),
               ef.Column("Score", ef.DOUBLE, 3), ef.Column("Host", ef.TEXT, 128),
               ef.Column("Blob", ef.BINARY, 129)]
    if i % 4 == 0:
        columns.append(ef.Column("Flag", ef.BIT, 4))
    if i % 3 == 0:
        columns.append(ef.Column("Extra", ef.LONG_TEXT, 256))
    if i % 5 == 0:
        columns += [ef.Column("Seen", ef.DATETIME, 5), ef.Column("Uid", ef.GUID, 6)]
    n = 2500 if i == 7 else (i * 13) % 97
    records = []
    for r in range(n):
        rec = {"Id": r + 1, "Count": (r - 50) * 1_000_000_007, "Score": r / 3,
               "Host": f"host-{i:03d}", "Blob": struct.pack("<HI", i, r)}
        if i % 4 == 0 and r % 2:
            rec["Flag"] = bool(r % 3)
        if i % 3 == 0 and r % 5 == 0:
            rec["Extra"] = f"extra {i}/{r} " * (1 + r % 7)
        if i % 5 == 0:
            rec["Seen"] = dt.datetime(2026, 1, 1) + dt.timedelta(minutes=r * i)
            rec["Uid"] = uuid.UUID(int=i << 64 | r)
        records.append(rec)
    return ef.Table("Events", columns, records)


def apps_table(i):
    return ef.Table("Apps", [ef.Column("AppId", ef.LONG, 1), ef.Column("Name", ef.TEXT, 128)],
                    [{"AppId": a, "Name": f"app{a}.exe"} for a in range(i % 5 + 1)])


@pytest.fixture(scope="module")
def fleet(tmp_path_factory):
    """50 databases ("Events" in all, "Apps" in even ones, a table with a hostile
    name in one) and two damaged ones: a bad header, and "Events" whose leaf chain
    runs past the end of the file."""
    directory = tmp_path_factory.mktemp("fleet")
    paths = []
    for i in range(GOOD_FILES):
        tables = [events_table(i)] + ([apps_table(i)] if i % 2 == 0 else [])
        if i == 11:
            tables.append(ef.Table("../../escape", [ef.Column("X", ef.LONG, 1)], [{"X": 1}]))
        paths.append(write_database(directory, tables, name=f"host{i:03d}.edb"))
    bad_header = write_database(directory, b"\x00" * 100, name="bad-header.edb")
    db = ef.EseFile()
    db.add_table(events_table(7))
    data = bytearray(db.build())
    first_leaf = db.page_offset(db.table_leaf_pages("Events")[0])
    data[first_leaf + 20:first_leaf + 24] = struct.pack("<I", len(data) // db.page_size + 5)
    broken_chain = write_database(directory, bytes(data), name="broken-chain.edb")
    return {"paths": paths[:25] + [bad_header] + paths[25:] + [broken_chain],
            "good": paths, "bad_header": bad_header, "broken_chain": broken_chain}


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       memory_limit="1GiB", dashboard_address=None)
    with cluster, distributed.Client(cluster) as c:
        # The workers must run this interpreter and the module built into it.
        assert set(c.run(lambda: quarrow.__file__).values()) == {quarrow.__file__}
        yield c


def alone(path, table):
    """The table of one file read in this process, as the fleet reads it."""
    return pa.table(EseDatabase(path).arrow_table(table))


def arrow_sorted(frame, keys):
    table = pa.Table.from_pandas(frame, preserve_index=False).replace_schema_metadata(None)
    return table.sort_by([(k, "ascending") for k in keys])


def test_read_tables_matches_each_file(fleet, client):
    from quarrow_fleet import failures, read_tables

    df = read_tables(fleet["paths"], "Events")
    assert df.npartitions == len(fleet["paths"])
    rows, failed = dask.compute(df, failures(df))
    # The union of the columns in order of first appearance (host000 has them all).
    assert list(rows.columns) == alone(fleet["good"][0], "Events").column_names + ["source"]
    assert all(isinstance(t, pd.ArrowDtype) for t in rows.dtypes)

    for path in fleet["good"]:
        expected = alone(path, "Events")
        got = pa.Table.from_pandas(rows[rows["source"] == path].drop(columns="source"), preserve_index=False)
        for name in got.column_names:
            want = expected.column(name) if name in expected.column_names else pa.nulls(len(expected))
            assert got.column(name).to_pylist() == want.to_pylist(), (path, name)

    messages = dict(zip(failed["source"], failed["error"]))
    assert set(messages) == {fleet["bad_header"], fleet["broken_chain"]}
    assert "Failed to open database: Invalid database header" in messages[fleet["bad_header"]]
    assert "Error reading record: Invalid page number" in messages[fleet["broken_chain"]]

    # A table missing from half the files, a column selection, no source column.
    apps = read_tables(fleet["paths"], "Apps", columns=["Name"], source=None).compute()
    assert list(apps.columns) == ["Name"]
    assert sorted(apps["Name"]) == sorted(v for p in fleet["good"][::2]
                                          for v in alone(p, "Apps").column("Name").to_pylist())

    with pytest.raises(OSError, match="bad-header.edb: Failed to open database"):
        read_tables(fleet["paths"][20:30], "Events", errors="raise").compute()


def test_export_parquet_matches_dask(fleet, client, tmp_path):
    duckdb = pytest.importorskip("duckdb")
    from quarrow_fleet import export_parquet, read_tables

    out = tmp_path / "out"
    report = export_parquet(fleet["paths"], out, client=client)
    assert report == __import__("json").loads((out / "report.json").read_text())
    assert {(f["path"], f["table"]) for f in report["failures"]} == {
        (fleet["bad_header"], None), (fleet["broken_chain"], "Events")}
    assert report["tables"]["Apps"] == {"directory": "Apps", "source_column": "source", "columns": ["AppId", "Name"],
                                        "files": GOOD_FILES // 2, "rows": sum(i % 5 + 1 for i in range(0, 50, 2))}

    # A table name from the file never leads out of out_dir.
    hostile = report["tables"]["../../escape"]["directory"]
    assert "/" not in hostile and (out / hostile).is_dir()
    assert sorted(os.listdir(out)) == sorted(["Apps", "Events", "MSysObjects", hostile, "report.json"])
    with pytest.raises(FileExistsError):        # old parts would mix into a new dataset
        export_parquet(fleet["paths"][:1], out, client=client)

    dataset = pq.read_table(out / "Events").replace_schema_metadata(None)
    rows = read_tables(fleet["paths"], "Events").compute()
    keys = ["source", "Id"]
    assert dataset.sort_by([(k, "ascending") for k in keys]).equals(arrow_sorted(rows, keys))

    counts = duckdb.sql(f"select source, count(*) as n from read_parquet('{out}/Events/*.parquet') "
                        "group by source order by source").fetchall()
    assert counts == sorted((p, n) for p in fleet["good"] if (n := len(alone(p, "Events"))))
