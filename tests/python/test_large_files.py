"""Databases past page 100,000 and past 2**20, written as sparse files (only the
pages in use are on disk): child page numbers are bounded by the file's own page
count, so tables, long values, exports and carving owners far into the file read as
near its start.  Also a tag outside a large page met by a descent, and iter_table."""

from __future__ import annotations

import json
import os
import subprocess
import sys

import pytest

from esefile import BINARY, LONG, LONG_TEXT, TEXT, Column, EseFile, LongValue, Table, patch
from quarrow import EseDatabase

COLUMNS = [Column("Id", LONG, 1), Column("Name", TEXT, 256), Column("Blob", BINARY, 257),
           Column("Note", LONG_TEXT, 258)]


def far_table(rows: int = 12) -> Table:
    records = [{"Id": i, "Name": f"row {i}", "Blob": f"far text {i}".encode("utf-16-le"),
                "Note": LongValue(f"long value {i} " * 300)} for i in range(rows)]
    # Three records per leaf and three children per branch: a tree of several levels,
    # and a long-value tree of several pages.
    return Table("Far", COLUMNS, records, records_per_page=3, branch_fanout=3, lv_records_per_page=2)


def write_far(path, page_size: int, first_page: int, *tables: Table) -> EseFile:
    db = EseFile(page_size=page_size)
    db.checksums = False
    db.first_free_page = first_page
    db.catalog_records_per_page = 4  # a catalog root with children far into the file too
    for table in tables or (far_table(),):
        db.add_table(table)
    db.write_sparse(path)
    return db


@pytest.mark.parametrize("page_size", [4096, 32768])
@pytest.mark.parametrize("first_page", [100_003, 2**20 + 9])
def test_tables_and_long_values_far_into_the_file(tmp_path, page_size, first_page):
    path = tmp_path / "far.edb"
    db = write_far(path, page_size, first_page)
    assert min(db.table_pages("Far") + db.lv_pages("Far") + db.catalog_pages()[1:]) >= first_page
    assert os.path.getsize(path) == (max(db.table_pages("Far") + db.lv_pages("Far")) + 2) * page_size

    with EseDatabase(str(path)) as edb:
        assert edb.total_pages == os.path.getsize(path) // page_size - 2
        rows = edb.read_table("Far")
        assert [(r["Id"], r["Name"], r["Note"]) for r in rows] == \
            [(i, f"row {i}", f"long value {i} " * 300) for i in range(12)]
        assert list(edb.iter_table("Far")) == rows
        out = tmp_path / "far.jsonl"
        edb.export_table("Far", str(out))
        lines = [json.loads(line) for line in out.read_text().splitlines()]
        assert [line["Note"] for line in lines] == [r["Note"] for r in rows]


def test_sparse_writer_matches_the_dense_file(tmp_path):
    db = EseFile(page_size=4096)
    db.first_free_page = 40
    db.add_table(far_table(4))
    db.write_sparse(tmp_path / "sparse.edb")
    assert (tmp_path / "sparse.edb").read_bytes() == db.build()


def _peak_rss_mb(script: str) -> float:
    code = script + "\nimport resource\nprint(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    return float(out.split()[-1])


@pytest.mark.parametrize("page_size", [4096, 32768])
def test_carving_owners_far_into_the_file_with_flat_memory(tmp_path, page_size):
    path = tmp_path / "far.edb"
    db = write_far(path, page_size, 100_003)
    leaves = set(db.table_leaf_pages("Far"))
    with EseDatabase(str(path)) as edb:
        hits = edb.carve_utf16le_strings_scoped("all", "far text", 6, 100)
    assert len(hits) >= 4  # the strings at even page offsets (code units are 2-byte aligned)
    assert all(h["table"] == "Far" and h["page"] in leaves for h in hits)
    if page_size != 4096:
        return
    # Every page of the file is read (400 MB of holes); the pages scanned are handed
    # back as the carving goes, so the resident set stays small.
    baseline = _peak_rss_mb("import quarrow")
    peak = _peak_rss_mb(f"import quarrow\nquarrow.EseDatabase({str(path)!r})"
                        ".carve_utf16le_strings_scoped('all', 'far text', 6, 100)")
    assert peak - baseline < 100


def test_iter_table_yields_rows_then_raises_at_a_link_past_the_file(tmp_path):
    path = tmp_path / "db.edb"
    db = EseFile(page_size=4096)
    db.add_table(far_table(6))
    data = db.build()
    first_leaf = db.table_leaf_pages("Far")[0]
    data = patch(data, db.page_offset(first_leaf) + 20, (4_000_000).to_bytes(4, "little"))
    path.write_bytes(data)
    edb = EseDatabase(str(path))
    it = edb.iter_table("Far")
    del edb  # the iterator keeps the database open
    # The tree holds every row; the link past the file is reported after them.
    assert [next(it)["Id"] for _ in range(6)] == list(range(6))
    with pytest.raises(OSError) as raised:
        next(it)
    # The message is the record reader's own; the table rides in a note beside it.
    assert raised.value.args == ("Error reading record: Invalid page number: 4000000",)
    assert getattr(raised.value, "__notes__", []) == ["table: Far"]


@pytest.mark.parametrize("args, error, message", [
    (("Missing",), ValueError, "Table not found: Missing"),
    ((7,), TypeError, "table_name"),
    ((), TypeError, "table_name"),
])
def test_iter_table_argument_errors_at_the_call(tmp_path, args, error, message):
    path = tmp_path / "db.edb"
    EseFile().write(path)
    with pytest.raises(error, match=message):
        EseDatabase(str(path)).iter_table(*args)


def test_descent_reports_a_tag_outside_a_large_page(tmp_path):
    path = tmp_path / "db.edb"
    db = EseFile(page_size=32768)
    db.add_table(far_table(9))
    data = db.build()
    root = db.table_pages("Far")[0]
    size_word = db.page_offset(root) + 32768 - 8  # tag 1: its size word
    data = patch(data, size_word, (0x7FFF).to_bytes(2, "little"))
    path.write_bytes(data)
    edb = EseDatabase(str(path))
    pattern = r"^Tag offset out of bounds: offset=\d+, size=32767, page_size=32768$"
    for call in (edb.read_table, edb.iter_table):
        with pytest.raises(OSError, match=pattern):
            call("Far")
