"""quarrow replay on logs written by the test suite's log writer: a database the
writer builds, logs that change it (inserts, replaces, deletes, a delta, a vertical
split, committed, rolled-back and open transactions), and the database the writer
builds for the later state; the replayed file must read as that one does. Logs that do
not fit their database end in an error naming the log position and the page."""

from __future__ import annotations

import json
import struct
import subprocess
from pathlib import Path

import pytest

from esefile import LONG, TEXT, Column, EseFile, RecordEncoder, Table, catalog_column_record, catalog_key
from esefile import catalog_table_record
from esefile import log as L
from helpers import run_quarrow


COLUMNS = [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1252)]
ROOT, OBJID, NEW_PAGE = 20, 30, 40
ENCODE = RecordEncoder(COLUMNS, False, False, None, 1024).encode


def key(i: int) -> bytes:
    return struct.pack(">I", i)


def row(i: int, name: str | None = None, ident: int | None = None) -> dict:
    return {"Id": i if ident is None else ident, "Name": name or f"n{i}"}


PET_COLUMNS = [Column("PetId", LONG, 1), Column("Kind", TEXT, 128, codepage=1252)]
PET_ROOT, PET_OBJID = 45, 50


def database(rows: dict[int, dict], pets: list[dict] | None = None, per_page: int | None = None,
             page_size: int = 4096) -> bytes:
    """The writer's database of table People (root leaf page ROOT, or with `per_page` a
    root over leaves of that many rows), tied to generation 2 of the writer's log
    stream: clean, consistent before its first record, dbid 1."""
    db = EseFile(page_size)
    ids = sorted(rows)
    db.add_table(Table("People", COLUMNS, [rows[i] for i in ids], object_id=OBJID, root_page=ROOT,
                       record_keys=[key(i) for i in ids], records_per_page=per_page))
    if pets is not None:
        db.add_table(Table("Pets", PET_COLUMNS, pets, object_id=PET_OBJID, root_page=PET_ROOT))
    data = bytearray(db.build())
    struct.pack_into("<I", data, 104, 1)
    data[108:136] = L.signature()
    data[56:64] = L.position(2, 0, 0)
    data = bytearray(db.fix_checksum(bytes(data), -1))
    data[page_size:2 * page_size] = data[0:page_size]
    return bytes(data)


def page_flags(data: bytes, page: int, page_size: int = 4096) -> int:
    return struct.unpack_from("<I", data, (page + 1) * page_size + 36)[0]


def base_dbtime() -> int:
    """The dbtime the writer gives the table's pages; the logs count on from it."""
    data = database({1: row(1)})
    return struct.unpack_from("<Q", data, (ROOT + 1) * 4096 + 8)[0]


def node(procid: int, step: int, iline: int, trx: int) -> L.Node:
    """A record's node on the table's root page, `step` changes after the database's state."""
    return L.Node(procid=procid, page=ROOT, dbtime=base_dbtime() + step, trx=trx, level=2, iline=iline, root=ROOT,
                  objid=OBJID)


def write_case(tmp_path: Path, records_of_generation_2: list[bytes], rows=None, per_page=None,
               page_size=4096) -> tuple[Path, Path]:
    rows = rows or {i: row(i) for i in range(1, 6)}
    db = tmp_path / "People.edb"
    db.write_bytes(database(rows, per_page=per_page, page_size=page_size))
    logs = tmp_path / "logs"
    logs.mkdir()
    log = L.LogFile(generation=2, sectors=32)
    log.add(*records_of_generation_2)
    (logs / "edb.log").write_bytes(log.build())
    return db, logs


def run(*args, expect=0) -> subprocess.CompletedProcess:
    return run_quarrow(*args, expect=expect)


def rows_of(path: Path) -> list[dict]:
    out = run("dump", path, "People", "-q").stdout.decode()
    return [json.loads(line) for line in out.splitlines()]


def report(p: subprocess.CompletedProcess) -> dict[str, str]:
    lines = p.stderr.decode().splitlines()
    return dict(line.split(": ", 1) for line in lines if ": " in line and not line.startswith("table "))


# Pages of 16 and 32 KiB have the larger page header and keep node flags in the nodes.
@pytest.mark.parametrize("page_size", [4096, 16384, 32768])
def test_replayed_database_reads_as_the_later_state(tmp_path, page_size):
    data0 = database({i: row(i) for i in range(1, 6)}, page_size=page_size)
    flags = page_flags(data0, ROOT, page_size)
    records = []
    # Committed: insert 6, replace 1, flag-delete 2, delete 3, add 100 to 4's Id.
    records += [L.begin0(9, 100, 2),
                L.insert(node(9, 1, 5, 100), key(6), ENCODE(row(6))),
                L.replace(node(9, 2, 0, 100), ENCODE(row(1, "changed"))),
                L.flag_delete(node(9, 3, 1, 100)),
                L.delete(node(9, 4, 2, 100)),
                L.delta(node(9, 5, 2, 100), key(4), 4, 100),
                L.commit(9, 1), L.commit0(9, 1)]
    # Rolled back: the insert of 7 and its Undo.
    records += [L.begin0(10, 101, 2),
                L.insert(node(10, 6, 5, 101), key(7), ENCODE(row(7))),
                L.undo(node(10, 7, 5, 101), key(7), operation=1, level=2),
                L.rollback(10, 2)]
    # Open at the end: a replace of 5 (with its UndoInfo) and the insert of 8.
    records += [L.begin0(11, 102, 2),
                L.replace(node(11, 8, 3, 102), ENCODE(row(5, "temporary"))),
                L.undo_info(node(11, 8, 3, 102), key(5), ENCODE(row(5))),
                L.insert(node(11, 9, 6, 102), key(8), ENCODE(row(8)))]
    # Committed: the insert of 9 splits the root vertically into a new leaf.
    b = base_dbtime()
    records += [L.extend_db(1, NEW_PAGE), L.new_page(12, 1, NEW_PAGE, OBJID, b + 10),
                L.begin0(12, 103, 2), L.macro(L.MACRO_BEGIN, 12, b + 11),
                L.split2(12, 1, ROOT, b + 11, b + 9, NEW_PAGE, OBJID, kind=0, iline_oper=7, iline_split=0, lines=8,
                         new_flags=flags & ~0x1, page_flags=(flags & ~0x2) | 0x4, trx=103, level=2),
                L.leaf_insert(node(12, 11, 7, 103), key(9), ENCODE(row(9))),
                L.macro(L.MACRO_COMMIT, 12, b + 11), L.commit(12, 1), L.commit0(12, 2)]
    db, logs = write_case(tmp_path, records, page_size=page_size)
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out)
    facts = report(p)
    assert facts["transactions committed"] == "2"
    assert facts["transactions rolled back"] == "1"
    assert facts["transactions undone at the end"] == "1"
    assert facts["operations undone at the end"] == "2"
    assert int(facts["dbtime after"]) > b + 11  # the final undo's dbtimes, above every logged one
    later = tmp_path / "later.edb"
    later.write_bytes(database({1: row(1, "changed"), 4: row(4, ident=104), 5: row(5), 6: row(6), 9: row(9)},
                               page_size=page_size))
    assert rows_of(out) == rows_of(later)
    # A file other readers open: clean, every checksum right; the evidence unchanged.
    run("verify", out)
    assert "clean shutdown" in run("info", out).stdout.decode()
    assert db.read_bytes() == data0


def test_a_table_the_logs_create_is_read_with_its_rows(tmp_path):
    data0 = database({i: row(i) for i in range(1, 6)})
    b = base_dbtime()
    catalog_nodes = (struct.unpack_from("<H", data0, 5 * 4096 + 34)[0] & 0xFFF) - 1
    catalog = [(catalog_key(PET_OBJID, 1, PET_OBJID), catalog_table_record("Pets", PET_OBJID, PET_ROOT))]
    catalog += [(catalog_key(PET_OBJID, 2, c.id), catalog_column_record(PET_OBJID, c)) for c in PET_COLUMNS]
    pets = [{"PetId": i, "Kind": kind} for i, kind in enumerate(["cat", "dog", "newt"], 1)]
    encode = RecordEncoder(PET_COLUMNS, False, False, None, 1024).encode
    records = [L.extend_db(1, PET_ROOT), L.begin0(9, 100, 2),
               L.new_page(9, 1, PET_ROOT, PET_OBJID, b + 1),
               L.create_single_extent_root(9, 1, PET_ROOT, PET_OBJID, b + 2, level=2)]
    for k, (ckey, cdata) in enumerate(catalog):
        records.append(L.insert(L.Node(procid=9, page=4, dbtime=b + 1 + k, level=2, iline=catalog_nodes + k, root=4,
                                       objid=2), ckey, cdata))
    for i, pet in enumerate(pets):
        records.append(L.insert(L.Node(procid=9, page=PET_ROOT, dbtime=b + 3 + i, level=2, iline=i, root=PET_ROOT,
                                       objid=PET_OBJID), key(i + 1), encode(pet)))
    records += [L.commit(9, 1), L.commit0(9, 1)]
    db, logs = write_case(tmp_path, records)
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out)
    assert "table 50 Pets: inserted 3" in p.stderr.decode()
    later = tmp_path / "later.edb"
    later.write_bytes(database({i: row(i) for i in range(1, 6)}, pets))
    assert run("tables", out).stdout == run("tables", later).stdout
    assert run("dump", out, "Pets").stdout == run("dump", later, "Pets").stdout
    assert run("dump", out, "People").stdout == run("dump", later, "People").stdout


# Merges on a root over three leaves of three rows: page 5 holds 1-3, page 6 4-6 and
# page 7 7-9; the root's pointers are key(4) -> 5, key(7) -> 6 and the unkeyed last -> 7.
LEFT, MIDDLE, RIGHT = 5, 6, 7


def on_leaf(page: int, step: int, iline: int, trx: int, procid: int = 9) -> L.Node:
    return L.Node(procid=procid, page=page, dbtime=base_dbtime() + step, trx=trx, level=2, iline=iline,
                  root=ROOT, objid=OBJID)


def merge_macro(step: int, parent_iline: int, parent_flags: int, parent_before: int, **leaf) -> list[bytes]:
    """The macro of a merge at dbtime base + step: the root's record, then the leaf's."""
    b = base_dbtime()
    top = L.merge2(9, 1, ROOT, b + step, b + parent_before, OBJID, flags=parent_flags, iline=parent_iline, root=ROOT,
                   trx=0, level=1)
    page, before = leaf.pop("page"), leaf.pop("before")
    low = L.merge2(9, 1, page, b + step, b + before, OBJID, parent=ROOT, parent_before=b + parent_before, root=ROOT,
                   trx=0, level=1, **{k: (b + v if k.endswith("_before") else v) for k, v in leaf.items()})
    return [L.macro(L.MACRO_BEGIN, 9, b + step), top, low, L.macro(L.MACRO_COMMIT, 9, b + step)]


MERGE_CASES = {
    # Row 5 flag-deleted, then its page merged whole into the right one: 5 is dropped.
    "full-right": ([L.begin0(9, 100, 2), L.flag_delete(on_leaf(MIDDLE, 1, 1, 100)), L.commit(9, 1), L.commit0(9, 1)]
                   + merge_macro(2, 1, L.MERGE_DELETE_NODE, 0, page=MIDDLE, before=1, kind=L.MERGE_FULL_RIGHT,
                                 flags=L.MERGE_EMPTIES_PAGE, left=LEFT, left_before=0, right=RIGHT, right_before=0),
                   set(range(1, 10)) - {5}, MIDDLE),
    # Row 4 flag-deleted, its page merged whole into the left one (lines 0..2).
    "full-left": ([L.begin0(9, 100, 2), L.flag_delete(on_leaf(MIDDLE, 1, 0, 100)), L.commit(9, 1), L.commit0(9, 1)]
                  + merge_macro(2, 1, L.MERGE_DELETE_NODE | L.MERGE_KEY_CHANGE, 0, page=MIDDLE, before=1,
                                kind=L.MERGE_FULL_LEFT, flags=L.MERGE_EMPTIES_PAGE, iline_merge=2, left=LEFT,
                                left_before=0, right=RIGHT, right_before=0),
                  set(range(1, 10)) - {4}, MIDDLE),
    # Rows 5 and 6 move to the front of the right page; the middle page's separator
    # becomes 5. An insert of 10 left open before the merge is undone where it moved to.
    "partial-right": ([L.begin0(10, 101, 2), L.insert(on_leaf(RIGHT, 1, 3, 101, 10), key(10), ENCODE(row(10)))]
                      + merge_macro(2, 1, L.MERGE_KEY_CHANGE, 0, page=MIDDLE, before=0, kind=L.MERGE_PARTIAL_RIGHT,
                                    iline_merge=1, separator=key(5), left=LEFT, left_before=0, right=RIGHT,
                                    right_before=1),
                      set(range(1, 10)), None),
    # Row 4 moves to the end of the left page, whose separator becomes 5.
    "partial-left": (merge_macro(1, 1, L.MERGE_KEY_CHANGE, 0, page=MIDDLE, before=0, kind=L.MERGE_PARTIAL_LEFT,
                                 iline_merge=0, separator=key(5), left=LEFT, left_before=0, right=RIGHT, right_before=0),
                     set(range(1, 10)), None),
    # Rows 7-9 deleted, then the last page emptied: the pointer before it becomes the unkeyed last.
    "empty-page": ([L.begin0(9, 100, 2)] + [L.flag_delete(on_leaf(RIGHT, 1 + i, i, 100)) for i in range(3)]
                   + [L.commit(9, 1), L.commit0(9, 1)]
                   + merge_macro(4, 2, L.MERGE_DELETE_NODE, 0, page=RIGHT, before=3, kind=L.MERGE_EMPTY_PAGE,
                                 flags=L.MERGE_EMPTIES_PAGE, left=MIDDLE, left_before=0),
                   set(range(1, 7)), RIGHT),
}


@pytest.mark.parametrize("page_size", [4096, 32768])
@pytest.mark.parametrize("case", list(MERGE_CASES))
def test_merged_pages_read_as_the_later_state(tmp_path, case, page_size):
    records, kept, emptied = MERGE_CASES[case]
    rows = {i: row(i) for i in range(1, 10)}
    db, logs = write_case(tmp_path, records, rows=rows, per_page=3, page_size=page_size)
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out)
    assert report(p)["macros applied"] == "1"
    later = tmp_path / "later.edb"
    later.write_bytes(database({i: rows[i] for i in sorted(kept)}, page_size=page_size))
    assert rows_of(out) == rows_of(later)
    run("verify", out)
    for page in (LEFT, MIDDLE, RIGHT):
        assert bool(page_flags(out.read_bytes(), page, page_size) & 0x8) == (page == emptied), page


def test_a_moved_page_reads_as_before_from_its_new_place(tmp_path):
    b = base_dbtime()
    rows = {i: row(i) for i in range(1, 10)}
    # The middle leaf moves to page 22, a free page of the file; row 5 is replaced after.
    records = [L.page_move(9, 1, MIDDLE, b + 1, b, 22, ROOT, 1, OBJID, left=LEFT, right=RIGHT),
               L.begin0(9, 100, 2), L.replace(on_leaf(22, 2, 1, 100), ENCODE(row(5, "moved"))), L.commit(9, 1),
               L.commit0(9, 1)]
    db, logs = write_case(tmp_path, records, rows=rows, per_page=3)
    out = tmp_path / "replayed.edb"
    run("replay", db, "--logs", logs, "-o", out)
    later = tmp_path / "later.edb"
    later.write_bytes(database({**rows, 5: row(5, "moved")}))
    assert rows_of(out) == rows_of(later)
    run("verify", out)
    data = out.read_bytes()
    assert page_flags(data, MIDDLE) & 0x8 and page_flags(data, 22) & 0x2


def test_logs_that_change_nothing_leave_every_page(tmp_path):
    db, logs = write_case(tmp_path, [L.begin0(9, 100, 2), L.commit(9, 1), L.commit0(9, 1)])
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out)
    assert report(p)["replay needed"] == "no"
    assert out.read_bytes()[8192:] == db.read_bytes()[8192:]


def leaf_merge(right_before: int | None = None, **fields) -> list[bytes]:
    """A merge macro of the leaf level alone, of the table's root leaf, at base + 1."""
    b = base_dbtime()
    return [L.macro(L.MACRO_BEGIN, 9, b + 1),
            L.merge2(9, 1, ROOT, b + 1, b, OBJID, right_before=b if right_before is None else right_before, **fields),
            L.macro(L.MACRO_COMMIT, 9, b + 1)]


@pytest.mark.parametrize("records, message", [
    ([L.insert(node(9, 1, 9999, 100), key(6), b"x")], "page 20: Insert: insert at node 9999 past the page's 5 nodes"),
    ([L.insert(L.Node(page=4000, dbtime=5000, objid=OBJID), key(6), b"x")], "page 4000"),
    ([L.insert(node(9, 7, 0, 100), key(6), b"x")], "the database lost a write"),
    ([L.insert(node(9, 1, 0, 100), key(6), b"x" * 4080)], "does not fit"),
    ([L.macro(L.MACRO_BEGIN, 9, 2), L.split2(9, 1, ROOT, base_dbtime() + 2, base_dbtime(), 70000, OBJID, 2, 5, 5, 6, 2, 2),
      L.leaf_insert(node(9, 2, 5, 100), key(6), b"x"), L.macro(L.MACRO_COMMIT, 9, 2)], "page 70000"),
    ([L.macro(L.MACRO_BEGIN, 9, 2), L.split2(9, 1, ROOT, base_dbtime() + 2, base_dbtime(), 21, OBJID, 2, 5, 5, 60, 2, 2),
      L.leaf_insert(node(9, 2, 5, 100), key(6), b"x"), L.macro(L.MACRO_COMMIT, 9, 2)], "the split names 60 lines"),
    (leaf_merge(kind=L.MERGE_FULL_RIGHT, flags=L.MERGE_EMPTIES_PAGE, right=90000), "page 90000"),
    (leaf_merge(kind=L.MERGE_PARTIAL_RIGHT, iline_merge=40000, right=4), "the merge moves from node 40000 of 5"),
    (leaf_merge(kind=L.MERGE_FULL_RIGHT, flags=L.MERGE_EMPTIES_PAGE, right=4, right_before=base_dbtime() - 5),
     "dbtime mismatch"),
], ids=["iline", "page-past-end", "dbtime", "too-big", "split-past-end", "split-lines", "merge-past-end",
        "merge-iline", "merge-sibling-older"])
def test_logs_that_do_not_fit_the_database_fail_naming_position_and_page(tmp_path, records, message):
    db, logs = write_case(tmp_path, records)
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out, expect=1)
    err = p.stderr.decode()
    assert message in err and "log position 000002,0001," in err, err
    assert not out.exists()


def test_a_macro_that_never_commits_changes_nothing(tmp_path):
    db, logs = write_case(tmp_path, [L.macro(L.MACRO_BEGIN, 9, 1), L.insert(node(9, 1, 5, 100), key(6), b"x")])
    out = tmp_path / "replayed.edb"
    p = run("replay", db, "--logs", logs, "-o", out)
    assert report(p)["macros dropped"] == "1"
    assert out.read_bytes()[8192:] == db.read_bytes()[8192:]


def test_a_missing_generation_is_an_error(tmp_path):
    db, logs = write_case(tmp_path, [])
    files = L.chain([L.LogFile(generation=g) for g in (2, 3, 4)])
    (logs / "edb.log").write_bytes(files[2])
    (logs / "edb00002.log").write_bytes(files[0])
    p = run("replay", db, "--logs", logs, "-o", tmp_path / "out.edb", expect=1)
    assert "generation 3 is missing" in p.stderr.decode()


def test_output_is_never_the_evidence(tmp_path):
    db, logs = write_case(tmp_path, [])
    before = {p.name: p.read_bytes() for p in logs.iterdir()}
    for target in (db, logs / "edb.log"):
        p = run("replay", db, "--logs", logs, "-o", target, "--force", expect=1)
        assert "refusing" in p.stderr.decode()
    link = tmp_path / "other-name.edb"
    link.hardlink_to(db)
    assert "refusing" in run("replay", db, "--logs", logs, "-o", link, "--force", expect=1).stderr.decode()
    existing = tmp_path / "existing.edb"
    existing.write_bytes(b"keep")
    assert "--force" in run("replay", db, "--logs", logs, "-o", existing, expect=1).stderr.decode()
    assert existing.read_bytes() == b"keep"
    run("replay", db, "--logs", logs, "-o", existing, "--force")
    assert {p.name: p.read_bytes() for p in logs.iterdir()} == before
