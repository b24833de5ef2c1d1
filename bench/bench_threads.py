"""Threads that help at every size, batch memory kept between readings, views on
every core: the figures of bench/README.md's "Fast at every size" section.  Ratios
are taken within one run, the readings of a comparison alternating so that a slow
spell of the shared machine falls on all of them; each figure is the best of --runs.

  table    pyarrow.table(db.arrow_table("Events", threads=2)) vs threads=1 vs a
           repeated pyarrow.parquet.read_table of the same table as snappy Parquet,
           on a written 44-column table of 91,392 records (SRUM's width, the size of
           the tables analysts mostly have)
  million  the same on the 1,000,000-record Events table of common.py: repeated
           readings on two threads against repeated Parquet readings
  view     pyarrow.table(db.arrow_view("app_resource_usage", threads=2)) vs threads=1
           on the written SRUM database of bench_profiles.py (300,000 records)
  fresh    the first reading of a fresh process on one thread, this build against
           --baseline (another interpreter with an earlier build of the module, e.g.
           a venv with main's), for each of the three; alternating processes
  memory   peak anonymous memory of a fresh process reading each table on two
           threads, against the result

Usage:  python3 bench/bench_threads.py [--runs 7] [--baseline PYTHON] [section ...]
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

import common  # bench/common.py, beside this script

SMALL_RECORDS = 91_392
SRUM_RECORDS = 300_000
PROVIDER = "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}"
VIEW = "app_resource_usage"


def databases(sections):
    import bench_profiles
    import bench_speed
    out = {}
    if {"table", "fresh", "memory"} & set(sections):
        out["table"] = bench_speed.wide_database(common.DATA, SMALL_RECORDS, "Events")
    if {"million", "fresh", "memory"} & set(sections):
        out["million"] = common.database(1_000_000, 4096)
    if {"view", "fresh"} & set(sections):
        path = common.DATA / f"srum-v2-{SRUM_RECORDS}.dat"
        if not path.exists():
            bench_profiles.build(path, SRUM_RECORDS)
        out["view"] = path
    return out


def alternate(runs, named):
    """Best wall time of each function of `named`, the calls alternating."""
    best = {name: float("inf") for name in named}
    spread = {name: [] for name in named}
    for _ in range(runs):
        for name, fn in named.items():
            start = time.perf_counter()
            fn()
            took = time.perf_counter() - start
            best[name] = min(best[name], took)
            spread[name].append(took)
    return best, {name: sorted(v)[len(v) // 2] for name, v in spread.items()}


def compare_parquet(args, path, label):
    import pyarrow as pa
    import pyarrow.parquet as pq
    from quarrow import EseDatabase
    db = EseDatabase(str(path))
    parquet = Path(args.tmp) / f"{path.stem}.parquet"
    pq.write_table(pa.table(db.arrow_table("Events")), parquet, compression="snappy")
    best, median = alternate(args.runs, {
        "1 thread": lambda: pa.table(db.arrow_table("Events", threads=1)),
        "2 threads": lambda: pa.table(db.arrow_table("Events", threads=2)),
        "parquet": lambda: pq.read_table(parquet),
    })
    t1, t2, tp = best["1 thread"], best["2 threads"], best["parquet"]
    print(f"{label:8} 1 thread {t1:.4f} s | 2 threads {t2:.4f} s | parquet {tp:.4f} s | "
          f"2 threads vs 1: {t1 / t2:.2f}x | 2 threads / parquet: {t2 / tp:.2f}x "
          f"(medians {median['1 thread'] / median['2 threads']:.2f}x, "
          f"{median['2 threads'] / median['parquet']:.2f}x)")


def section_view(args, path):
    import pyarrow as pa
    from quarrow import EseDatabase
    db = EseDatabase(str(path))
    best, median = alternate(args.runs, {
        "1 thread": lambda: pa.table(db.arrow_view(VIEW, threads=1)),
        "2 threads": lambda: pa.table(db.arrow_view(VIEW, threads=2)),
        "table": lambda: pa.table(db.arrow_table(PROVIDER, threads=1)),
    })
    t1, t2 = best["1 thread"], best["2 threads"]
    print(f"view     1 thread {t1:.4f} s | 2 threads {t2:.4f} s | table, 1 thread {best['table']:.4f} s | "
          f"2 threads vs 1: {t1 / t2:.2f}x (median {median['1 thread'] / median['2 threads']:.2f}x)")


FRESH = r"""
import sys, time, pyarrow as pa, quarrow
kind, path = sys.argv[1], sys.argv[2]
db = quarrow.EseDatabase(path)
pa.table(db.arrow_table("MSysObjects"))  # pyarrow's own first call is not the reading's
start = time.perf_counter()
if kind == "view":
    try:
        pa.table(db.arrow_view("app_resource_usage", threads=1))
    except TypeError:  # an earlier build, whose views had one thread and no keyword
        pa.table(db.arrow_view("app_resource_usage"))
else:
    pa.table(db.arrow_table("Events", threads=1))
print(time.perf_counter() - start)
"""


def section_fresh(args, paths):
    if not args.baseline:
        print("fresh    skipped: no --baseline interpreter")
        return
    for kind, path in paths.items():
        times = {"now": [], "baseline": []}
        for _ in range(args.runs):
            for name, python in (("baseline", args.baseline), ("now", sys.executable)):
                out = subprocess.check_output([python, "-c", FRESH, kind, str(path)])
                times[name].append(float(out))
        now, base = min(times["now"]), min(times["baseline"])
        print(f"fresh    {kind:8} one thread, first reading: baseline {base:.4f} s | now {now:.4f} s "
              f"({now / base:.2f}x; medians {sorted(times['now'])[args.runs // 2] / sorted(times['baseline'])[args.runs // 2]:.2f}x)")


MEMORY = r"""
import sys, pyarrow as pa, quarrow
db = quarrow.EseDatabase(sys.argv[1])
pa.RecordBatchReader.from_stream(db.arrow_table("MSysObjects")).read_all()
print("ready", flush=True)
sys.stdin.readline()
t = pa.RecordBatchReader.from_stream(db.arrow_table("Events", threads=2)).read_all()
print(t.nbytes, max(b.nbytes for b in t.to_batches()), flush=True)
"""


def section_memory(args, paths):
    import bench_speed
    for kind in ("table", "million"):
        proc = subprocess.Popen([sys.executable, "-c", MEMORY, str(paths[kind])], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        proc.stdout.readline()
        base = peak = bench_speed.anon_kib(proc.pid)
        proc.stdin.write("go\n")
        proc.stdin.flush()
        while proc.poll() is None:
            peak = max(peak, bench_speed.anon_kib(proc.pid))
            time.sleep(0.001)
        result, batch = map(int, proc.stdout.read().split())
        grown = (peak - base) * 1024
        print(f"memory   {kind:8} peak growth {grown / 1e6:.0f} MB for a {result / 1e6:.0f} MB result "
              f"(+{(grown - result) / max(batch, 1):.1f} batches of {batch / 1e6:.1f} MB)")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("sections", nargs="*", default=["table", "million", "view", "fresh", "memory"])
    p.add_argument("--runs", type=int, default=7)
    p.add_argument("--baseline", default="", help="an interpreter with an earlier build of the module")
    args = p.parse_args()
    paths = databases(args.sections)
    with tempfile.TemporaryDirectory() as tmp:
        args.tmp = tmp
        if "table" in args.sections:
            compare_parquet(args, paths["table"], "table")
        if "million" in args.sections:
            compare_parquet(args, paths["million"], "million")
        if "view" in args.sections:
            section_view(args, paths["view"])
        if "fresh" in args.sections:
            section_fresh(args, paths)
        if "memory" in args.sections:
            section_memory(args, paths)


if __name__ == "__main__":
    main()
