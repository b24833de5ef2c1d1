#!/usr/bin/env python3
"""Carving throughput: quarrow's whole-page UTF-16LE carver against two baselines
that read the same file through a memory map.

    carve   EseDatabase(path).carve_utf16le_strings_scoped("all", max_hits=10**9)
    regex   re.finditer(rb"(?:[\\x20-\\x7e]\\x00){6,}", mmap)   (Python's C regex engine)
    count   mmap.count(b"\\x00")                                 (a memchr-speed floor; before
            Python 3.13, which added mmap.count, bytes.count over 16 MiB slices)

The carver does more than the regex (page walk, even offsets only, owning table per
leaf page, one dictionary per hit), so the interesting figure is how close it gets.

Usage:
    python3 bench/bench_carve.py [PATH] [--size-mb 200] [--page-size 32768]

PATH names a database to reuse (for instance one that another benchmark in bench/
generated); when it does not exist, a database of about --size-mb megabytes is
written there with the test-database writer (testing/esefile) and kept.
Without PATH the generated file goes to a temporary folder and is removed.
"""

from __future__ import annotations

import argparse
import mmap
import os
import random
import re
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from esefile import BINARY, LONG, LONG_LONG, LONG_TEXT, TEXT, Column, EseFile, Table  # noqa: E402

PATTERN = re.compile(rb"(?:[\x20-\x7e]\x00){6,}")
WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike november "
         "oscar papa quebec romeo sierra tango uniform victor whiskey xray yankee zulu").split()
RECORD_BYTES = 820  # rough size of one generated record on disk, entry overhead included


def generate(path: str, size_mb: int, page_size: int) -> None:
    """A database of about size_mb megabytes: one table whose records mix UTF-16 text,
    random binary data and integers, with a long text every 40th record (kept in the
    table's long-value tree)."""
    rng = random.Random(1)
    count = size_mb * 1_000_000 // RECORD_BYTES
    columns = [Column("Id", LONG, 1), Column("Stamp", LONG_LONG, 2),
               Column("Name", TEXT, 128, codepage=1200), Column("Data", BINARY, 129),
               Column("Note", LONG_TEXT, 256, codepage=1200)]

    def record(i: int) -> dict:
        r = {"Id": i, "Stamp": rng.getrandbits(63), "Name": " ".join(rng.choices(WORDS, k=3)),
             "Data": rng.randbytes(rng.randrange(300, 700))}
        if i % 4 == 0:
            r["Note"] = " ".join(rng.choices(WORDS, k=40 if i % 40 else 400))
        return r

    db = EseFile(page_size=page_size)
    db.checksums = False  # the reader never checks them; computing them in Python is slow
    db.add_table(Table("Events", columns, records=[record(i) for i in range(count)]))
    with open(path, "wb") as f:
        f.write(db.build())


def count_zeros(mm) -> int:
    """mmap.count where Python has it (3.13+); else bytes.count over 16 MiB slices."""
    if hasattr(mm, "count"):
        return mm.count(b"\x00")
    step = 1 << 24
    return sum(mm[i:i + step].count(b"\x00") for i in range(0, len(mm), step))


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("path", nargs="?", help="database to reuse, or where to write the generated one")
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--page-size", type=int, default=32768)
    args = parser.parse_args()

    from quarrow import EseDatabase

    temp = None
    path = args.path
    if path is None:
        temp = tempfile.TemporaryDirectory(prefix="quarrow-bench-")
        path = os.path.join(temp.name, "carve.edb")
    try:
        if not os.path.exists(path):
            print(f"generating {args.size_mb} MB at {args.page_size}-byte pages into {path} ...", flush=True)
            seconds, _ = timed(lambda: generate(path, args.size_mb, args.page_size))
            print(f"  written in {seconds:.1f} s", flush=True)
        size = os.path.getsize(path)
        db = EseDatabase(path)
        print(f"{path}: {size / 1e6:.1f} MB, page size {db.page_size}, {db.total_pages} pages")

        with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mm:
            count_zeros(mm)  # read the file once so that no contender pays for the disk
            carve_s, hits = timed(lambda: db.carve_utf16le_strings_scoped("all", max_hits=10**9))
            n_hits = len(hits)
            del hits
            regex_s, n_regex = timed(lambda: sum(1 for _ in PATTERN.finditer(mm)))
            count_s, n_zero = timed(lambda: count_zeros(mm))

        rows = [("carve 'all'", carve_s, f"{n_hits} hits"),
                ("re.finditer", regex_s, f"{n_regex} matches"),
                ("mmap.count(0)" if hasattr(mmap.mmap, "count") else "count(0) slices", count_s, f"{n_zero} zero bytes")]
        for name, seconds, what in rows:
            print(f"  {name:14s} {size / seconds / 1e6:9.0f} MB/s  {seconds:8.3f} s  {what}")
        print(f"  carve / regex speed: {regex_s / carve_s:.2f}x   carve / count speed: {count_s / carve_s:.2f}x")
    finally:
        if temp is not None:
            temp.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
