"""Benchmark databases: generated once with the test-database writer, cached on disk.

Every database holds one table, "Events", whose columns cover each storage class of
an ESE record:

* fixed:    Id (Long), Amount (Currency), Created (DateTime), Uid (GUID),
            Counter (Long Long), Score (IEEE Double)
* variable: Name (Text, UTF-16LE), Path (Text, windows-1252), Payload (Binary)
* tagged:   Label (Text, every 2nd record), Weight (Long, every 3rd record)
* long value: Notes (Long Text), 3000 characters stored in the long-value tree for
            every 100th record, absent elsewhere.

The contents depend only on the record number, so a file regenerated on another
machine is byte for byte the same.  Files are cached by name in a temporary folder (DATA below,
outside the repository); delete them to force a rebuild.
"""

from __future__ import annotations

import datetime as dt
import os
import struct
import sys
import tempfile
import time
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Generated databases are large and rebuilt on demand: they go to a temporary folder
# (QUARROW_BENCH_DATA to choose another), never into the repository.
DATA = Path(os.environ.get("QUARROW_BENCH_DATA") or Path(tempfile.gettempdir()) / "quarrow-bench")

import esefile as ef  # noqa: E402  (the writer lives with the tests)

TABLE = "Events"
LV_EVERY = 100          # one record in LV_EVERY has a Notes value in the long-value tree

COLUMNS = [
    ef.Column("Id", ef.LONG, 1),
    ef.Column("Amount", ef.CURRENCY, 2),
    ef.Column("Created", ef.DATETIME, 3),
    ef.Column("Uid", ef.GUID, 4),
    ef.Column("Counter", ef.LONG_LONG, 5),
    ef.Column("Score", ef.DOUBLE, 6),
    ef.Column("Name", ef.TEXT, 128, codepage=1200),
    ef.Column("Path", ef.TEXT, 129, codepage=1252),
    ef.Column("Payload", ef.BINARY, 130),
    ef.Column("Label", ef.TEXT, 256, codepage=1252),
    ef.Column("Weight", ef.LONG, 257),
    ef.Column("Notes", ef.LONG_TEXT, 258, codepage=1200),
]

_BASE_TIME = dt.datetime(2022, 1, 1)
_WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"]


def record(i: int) -> dict:
    """Record number i (0-based): a pure function of i."""
    w = _WORDS[i % 8]
    r = {
        "Id": i + 1,
        "Amount": (i * 7919) % 10_000_000 - 5_000_000,
        "Created": _BASE_TIME + dt.timedelta(seconds=i * 37),
        "Uid": uuid.UUID(int=(i * 0x9E3779B97F4A7C15) & ((1 << 128) - 1)),
        "Counter": i * 1_000_003,
        "Score": i / 7.0,
        "Name": f"{w.capitalize()} user {i}",
        "Path": f"C:\\Users\\{w}\\AppData\\Local\\file{i % 977}.dat",
        "Payload": struct.pack("<IIII", i, i ^ 0xA5A5A5A5, i * 3, i * 5)[: 8 + i % 9],
    }
    if i % 2 == 0:
        r["Label"] = f"label-{w}-{i % 101}"
    if i % 3 == 0:
        r["Weight"] = i % 100_000
    if i % LV_EVERY == 0:
        r["Notes"] = ef.LongValue(f"Note {i}: " + "long value text " * 187)
    return r


def _unlink_branch_pages(db: ef.EseFile, data: bytearray) -> None:
    """Clear the sibling links of the branch pages below each root.

    The writer chains every level of a tree; the real databases at hand chain only
    their leaves, and libesedb (the comparison point) rejects a branch page with a next page
    ("unsupported next page number"), which a tree of 3 levels or more has.  quarrow
    never follows branch siblings, so this changes nothing for it.
    """
    ps = db.page_size
    trees = [(db.table_pages(TABLE), db.table_leaf_pages(TABLE)),
             (db.lv_pages(TABLE), db.lv_leaf_pages(TABLE))]
    for pages, leaves in trees:
        if not pages:
            continue
        for n in set(pages[1:]) - set(leaves):      # pages[0] is the root
            base = db.page_offset(n)
            page = bytearray(data[base:base + ps])
            page[16:24] = bytes(8)                  # previous and next page numbers
            ef.set_page_checksum(page, n, db.version, db.revision)
            data[base:base + ps] = page


def _build(path: Path, records: int, page_size: int) -> None:
    db = ef.EseFile(page_size=page_size)
    db.add_table(ef.Table(TABLE, COLUMNS, [record(i) for i in range(records)],
                          null_bitmap=True))
    data = bytearray(db.build())
    _unlink_branch_pages(db, data)
    tmp = path.with_suffix(".tmp")
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def database(records: int = 1_000_000, page_size: int = 4096, verbose: bool = True) -> Path:
    """Path of the cached database with `records` records at `page_size`, built if missing."""
    DATA.mkdir(parents=True, exist_ok=True)
    path = DATA / f"events-v2-{records}-{page_size}.edb"
    if not path.exists():
        if verbose:
            print(f"generating {path.name} ...", file=sys.stderr, flush=True)
        start = time.perf_counter()
        _build(path, records, page_size)
        if verbose:
            print(f"  {path.stat().st_size / 1e6:.1f} MB in {time.perf_counter() - start:.1f} s",
                  file=sys.stderr, flush=True)
    return path


def best_of(n: int, fn) -> float:
    """Smallest wall-clock time of n calls of fn() (the machine is shared: noise only adds)."""
    best = float("inf")
    for _ in range(n):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def import_pyesedb():
    """libesedb's Python binding from Debian's python3-libesedb, or None."""
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pyesedb
    except ImportError:
        return None
    return pyesedb


if __name__ == "__main__":
    for n, ps in ((1_000_000, 4096), (1_000_000, 32768), (100_000, 4096)):
        print(database(n, ps))
