"""Hostile input: damaged or crafted databases end every call with a result or an
exception, within bounded time and memory, and the file is never written."""

from __future__ import annotations

import functools
import os
import struct
import sys
import time
from pathlib import Path

import pytest

import esefile as ef
from esefile import Column, EseFile, Table, patch
import quarrow
from quarrow import EseDatabase

import sweep  # fuzz/sweep.py: the forked, limited run of every call

SCOPES = ("slack", "all", "tag_data", "lv_all", "lv_slack")


def every_call(db: EseDatabase, export_dir: Path):
    for name in db.get_tables():
        db.get_table_schema(name)
        db.read_table(name)
    db.export_all(str(export_dir))
    for scope in SCOPES:
        db.carve_utf16le_strings_scoped(scope, None, 4, 50)


# ---- Damaged trees and chains: every call ends, in a child with limits --------------

@functools.lru_cache(maxsize=None)
def deep_database(page_size=4096, revision=20):
    """A table and a long value over several leaf and branch pages, and a deep catalog."""
    db = EseFile(page_size=page_size, revision=revision)
    db.catalog_records_per_page = 4
    db.catalog_branch_fanout = 2
    columns = [Column("Id", ef.LONG, 1), Column("Name", ef.TEXT, 128), Column("Blob", ef.LONG_BINARY, 256)]
    rows = [{"Id": i, "Name": f"row {i}", "Blob": ef.LongValue(bytes([i]) * 3 * page_size)} for i in range(12)]
    db.add_table(Table("T", columns, rows, records_per_page=2, branch_fanout=2, lv_records_per_page=2,
                       lv_chunk_size=page_size // 4))
    return db, db.build()


def set_u32(db, data, page, offset, value):
    return patch(data, db.page_offset(page) + offset, struct.pack("<I", value))


def set_child(db, data, page, tag, value):
    """Rewrites the child page number at the end of a branch entry."""
    base = db.page_offset(page)
    size, offset = struct.unpack_from("<HH", data, base + db.page_size - 4 * (tag + 1))
    mask = 0x7FFF if db.large else 0x1FFF
    end = base + db.header_size + (offset & mask) + (size & mask)
    return patch(data, end - 4, struct.pack("<I", value))


def damage(kind, db, data):
    leaves = db.table_leaf_pages("T")
    root = db.table_pages("T")[0]
    lv_leaves = db.lv_leaf_pages("T")
    lv_root = db.lv_pages("T")[0]
    beyond = len(data) // db.page_size + 5
    if kind == "leaf chain to itself":
        return set_u32(db, data, leaves[1], 20, leaves[1])
    if kind == "leaf chain back to the first leaf":
        return set_u32(db, data, leaves[-1], 20, leaves[0])
    if kind == "leaf chain past the end":
        return set_u32(db, data, leaves[0], 20, beyond)
    if kind == "leaf chain to 0xFFFFFFFF":
        return set_u32(db, data, leaves[0], 20, 0xFFFFFFFF)
    if kind == "branch child is the root":
        return set_child(db, data, root, 1, root)
    if kind == "catalog branch child is page 4":
        return set_child(db, data, 4, 1, 4)
    if kind == "long-value chain to itself":
        return set_u32(db, data, lv_leaves[0], 20, lv_leaves[0])
    if kind == "long-value chain back to its start":
        return set_u32(db, data, lv_leaves[-1], 20, lv_leaves[0])
    if kind == "long-value branch child is its root":
        return set_child(db, data, lv_root, 1, lv_root)
    if kind == "tag count 0xFFFF on a leaf":
        return patch(data, db.page_offset(leaves[0]) + 34, b"\xff\xff")
    if kind == "every tag of a leaf spans the page":
        base = db.page_offset(leaves[0])
        count = struct.unpack_from("<H", data, base + 34)[0] & 0xFFF
        for i in range(count):
            data = patch(data, base + db.page_size - 4 * (i + 1), b"\xff\x7f\x00\x00")
        return data
    if kind == "page size 1":
        return patch(data, 236, struct.pack("<I", 1))
    if kind == "page size 40":
        return patch(data, 236, struct.pack("<I", 40))
    if kind == "page size 0xFFFFFFFF":
        return patch(data, 236, struct.pack("<I", 0xFFFFFFFF))
    if kind == "truncated inside a leaf":
        return data[:db.page_offset(leaves[1]) + 100]
    if kind == "leaf duplicated over the next leaf":
        a, b = db.page_offset(leaves[0]), db.page_offset(leaves[1])
        return patch(data, b, data[a:a + db.page_size])
    raise AssertionError(kind)


DAMAGE = [
    "leaf chain to itself", "leaf chain back to the first leaf", "leaf chain past the end",
    "leaf chain to 0xFFFFFFFF", "branch child is the root", "catalog branch child is page 4",
    "long-value chain to itself", "long-value chain back to its start", "long-value branch child is its root",
    "tag count 0xFFFF on a leaf", "every tag of a leaf spans the page", "page size 1", "page size 40",
    "page size 0xFFFFFFFF", "truncated inside a leaf", "leaf duplicated over the next leaf",
]


@pytest.mark.parametrize("layout", [(4096, 20), (32768, 20), (16384, 12)], ids=["4k", "32k-large", "16k-classic"])
@pytest.mark.parametrize("kind", DAMAGE)
def test_damaged_database_ends_every_call(tmp_path, kind, layout):
    db, data = deep_database(*layout)
    path = tmp_path / "damaged.edb"
    path.write_bytes(damage(kind, db, data))
    outcome, found = sweep.run_one(quarrow, str(path), str(tmp_path / "out"), timeout=20, memory_mb=1024)
    assert outcome in ("clean", "exception"), (outcome, found)


def test_leaf_chain_cycle_ends_after_the_records(tmp_path):
    db, data = deep_database()
    leaves = db.table_leaf_pages("T")
    path = tmp_path / "cycle.edb"
    path.write_bytes(data)
    expected = EseDatabase(str(path)).read_table("T")
    path.write_bytes(set_u32(db, data, leaves[-1], 20, leaves[0]))
    assert EseDatabase(str(path)).read_table("T") == expected


# ---- Long values: one value referenced from every column of every record -----------

def shared_long_value_database(columns=400, rows=3, size=300_000):
    cols = [Column("Id", ef.LONG, 1)] + [Column(f"L{i}", ef.LONG_BINARY, 256 + i) for i in range(columns)]
    records = [{"Id": r, **{f"L{i}": ef.lv_ref(1) for i in range(columns)}} for r in range(rows)]
    db = EseFile(page_size=4096)
    db.add_table(Table("T", cols, records, long_values={1: b"\xab" * size}))
    return db.build()


def test_references_to_one_large_value_are_bounded_by_the_file_size(write_db):
    data = shared_long_value_database()
    path = write_db(data)
    began = time.monotonic()
    rows = EseDatabase(path).read_table("T")
    elapsed = time.monotonic() - began
    values = [v for row in rows for k, v in row.items() if k != "Id"]
    resolved = sum(len(v) for v in values if len(v) > 4)
    # Unbounded, this reading would build 3 * 400 copies of 300 kB (360 MB).
    assert resolved <= 8 * len(data) + (64 << 20)
    assert rows[0]["L0"] == b"\xab" * 300_000
    # Past the budget the fields keep their 4-byte references.
    assert values[-1] == struct.pack("<I", 1)
    assert elapsed < 10


def test_repeated_references_in_one_record_all_resolve(write_db):
    path = write_db(shared_long_value_database(columns=3, rows=2, size=5000))
    for row in EseDatabase(path).read_table("T"):
        assert [row[f"L{i}"] for i in range(3)] == [b"\xab" * 5000] * 3


# ---- Read-only, provably ----------------------------------------------------------

def mappings_of(path: str) -> list[str]:
    real = os.path.realpath(path)
    with open("/proc/self/maps") as maps:
        return [line.split()[1] for line in maps if line.rstrip().endswith(real)]


def open_fds_of(path: str) -> list[int]:
    """Access modes (O_ACCMODE bits of fdinfo's octal flags) of this process's
    descriptors on `path`."""
    real = os.path.realpath(path)
    modes = []
    for fd in os.listdir("/proc/self/fd"):
        try:
            if os.readlink(f"/proc/self/fd/{fd}") != real:
                continue
            with open(f"/proc/self/fdinfo/{fd}") as info:
                flags = next(int(line.split()[1], 8) for line in info if line.startswith("flags:"))
        except (OSError, StopIteration):
            continue
        modes.append(flags & os.O_ACCMODE)
    return modes


@pytest.mark.skipif(not Path("/proc/self/maps").exists(), reason="needs /proc")
def test_database_is_mapped_read_only_and_never_written(tmp_path):
    path = tmp_path / "sample.edb"
    ef.make_sample_database(path)
    os.utime(path, ns=(1_000_000_000, 1_000_000_000))
    before = path.read_bytes(), path.stat().st_mtime_ns
    db = EseDatabase(str(path))
    every_call(db, tmp_path / "out")
    db.carve_utf16le_strings()
    perms = mappings_of(str(path))
    assert perms and all(p.startswith("r-") and "w" not in p for p in perms), perms
    assert all(mode == os.O_RDONLY for mode in open_fds_of(str(path)))
    del db
    assert (path.read_bytes(), path.stat().st_mtime_ns) == before
    assert mappings_of(str(path)) == []


def test_read_only_file_opens(tmp_path):
    path = tmp_path / "ro.edb"
    ef.make_sample_database(path)
    os.chmod(path, 0o444)
    try:
        every_call(EseDatabase(str(path)), tmp_path / "out")
    finally:
        os.chmod(path, 0o644)
