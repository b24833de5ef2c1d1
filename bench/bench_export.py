"""export_all throughput against libesedb's esedbexport, and its peak memory.

* Throughput: EseDatabase.export_all on the 1,000,000-record database (4096-byte
  pages), best of 3, in MB/s of JSON Lines written (bytes of every file written /
  seconds) and MB/s of database read; esedbexport (Debian's libesedb-utils) run once
  on the same file, and the ratio of the two wall times.
* Memory: ru_maxrss of a child process that only opens the database and exports it,
  for the 100,000- and the 1,000,000-record tables: an export streams, so the peak
  must not grow with the table (target: within 20 MB).

Usage:  python3 bench/bench_export.py [--records N] [--small N] [--no-esedbexport]
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import common
from quarrow import EseDatabase

# ru_maxrss survives execve on Linux (a child spawned by a big parent starts with the
# parent's peak), so the children are spawned before this process maps any database.
# VmHWM, the peak of the child's own address space, is printed next to it, with the
# file-backed part of the resident set at the end (pages of the mapped database).
CHILD = """
import resource, sys
from quarrow import EseDatabase
with EseDatabase(sys.argv[1]) as db:
    db.export_all(sys.argv[2])
    status = dict(l.split(":", 1) for l in open("/proc/self/status"))
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss,
      status["VmHWM"].split()[0], status["RssFile"].split()[0])
"""

BASELINE = """
import resource
import quarrow
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def dir_bytes(path: Path) -> int:
    return sum(p.stat().st_size for p in path.rglob("*") if p.is_file())


def time_export(db_path: Path, work: Path, runs: int) -> tuple[float, int]:
    best, written = float("inf"), 0
    with EseDatabase(str(db_path)) as db:
        for i in range(runs):
            out = work / f"quarrow-{i}"
            start = time.perf_counter()
            db.export_all(str(out))
            best = min(best, time.perf_counter() - start)
            written = dir_bytes(out)
            shutil.rmtree(out)
    return best, written


def time_esedbexport(db_path: Path, work: Path, timeout: float):
    """(seconds, bytes written, finished, records written) of one esedbexport run, or
    None when it is not installed.  A run still going after `timeout` seconds is
    stopped; the records it wrote by then give a lower bound of its time."""
    exe = shutil.which("esedbexport")
    if exe is None:
        return None
    target = work / "esedbexport"
    start = time.perf_counter()
    proc = subprocess.Popen([exe, "-t", str(target), str(db_path)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        proc.wait(timeout=timeout)
        finished = True
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        finished = False
    elapsed = time.perf_counter() - start
    out = Path(str(target) + ".export")
    written = dir_bytes(out)
    lines = 0
    for f in out.glob(common.TABLE + "*"):
        with open(f, "rb") as fh:
            lines += sum(chunk.count(b"\n") for chunk in iter(lambda: fh.read(1 << 20), b""))
    shutil.rmtree(out)
    return elapsed, written, finished, max(lines - 1, 0)     # minus the header line


def child_env() -> dict:
    env = dict(os.environ)
    # The child must import the same quarrow as this process.
    import quarrow
    # The folder holding the package quarrow (the extension is its __init__).
    module_dir = str(Path(quarrow.__file__).resolve().parents[1])
    env["PYTHONPATH"] = module_dir + os.pathsep + env.get("PYTHONPATH", "")
    return env


def peak_rss_kb(db_path: Path, work: Path, runs: int) -> tuple[int, int, int]:
    """Smallest (ru_maxrss, VmHWM, RssFile at the end), KiB, over `runs` children."""
    best = None
    for i in range(runs):
        out = work / f"mem-{i}"
        res = subprocess.run([sys.executable, "-c", CHILD, str(db_path), str(out)],
                             check=True, capture_output=True, text=True, env=child_env())
        shutil.rmtree(out)
        kb = tuple(int(x) for x in res.stdout.split()[-3:])
        best = kb if best is None else min(best, kb)
    return best


def memory_report(small: Path, big: Path, n_small: int, n_big: int, work: Path, runs: int) -> str:
    base = int(subprocess.run([sys.executable, "-c", BASELINE], check=True, capture_output=True,
                              text=True, env=child_env()).stdout.split()[-1])
    s_rss, s_hwm, s_file = peak_rss_kb(small, work, runs)
    b_rss, b_hwm, b_file = peak_rss_kb(big, work, runs)
    growth = (b_rss - s_rss) / 1024
    return (f"  peak RSS      interpreter + module {base / 1024:.1f} MB; ru_maxrss of the export of "
            f"{n_small:,} records {s_rss / 1024:.1f} MB, of {n_big:,} records {b_rss / 1024:.1f} MB; "
            f"growth {growth:.1f} MB (target <= 20 MB: {'met' if growth <= 20 else 'MISSED'})\n"
            f"                VmHWM {s_hwm / 1024:.1f} / {b_hwm / 1024:.1f} MB; file-backed pages "
            f"(the mapped database) resident at the end {s_file / 1024:.1f} / {b_file / 1024:.1f} MB")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--records", type=int, default=1_000_000)
    ap.add_argument("--small", type=int, default=100_000)
    ap.add_argument("--page-size", type=int, default=4096)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--no-esedbexport", action="store_true")
    ap.add_argument("--memory-only", action="store_true")
    ap.add_argument("--esedbexport-timeout", type=float, default=600,
                    help="stop esedbexport after this many seconds")
    ap.add_argument("--workdir", default=None, help="where the exports go (default: a temp dir)")
    args = ap.parse_args()

    big = common.database(args.records, args.page_size)
    small = common.database(args.small, args.page_size)
    work = Path(tempfile.mkdtemp(prefix="quarrow-bench-", dir=args.workdir))
    try:
        memory = memory_report(small, big, args.small, args.records, work, args.runs)
        if args.memory_only:
            print(memory)
            return
        size = big.stat().st_size
        t, written = time_export(big, work, args.runs)
        out_mbs = written / t / 1e6
        print(f"{big.name} ({size / 1e6:.0f} MB)")
        print(f"  export_all    {t:.3f} s  {written / 1e6:.0f} MB written  {out_mbs:.0f} MB/s written  "
              f"{size / t / 1e6:.0f} MB/s read  (target >= 200 MB/s: "
              f"{'met' if out_mbs >= 200 else 'MISSED'})")
        if not args.no_esedbexport:
            lib = time_esedbexport(big, work, args.esedbexport_timeout)
            if lib is None:
                print("  esedbexport   not installed (apt-get install -y libesedb-utils)")
            elif not lib[2]:
                lt, lw, _, rows = lib
                print(f"  esedbexport   stopped after {lt:.0f} s with {rows:,} of {args.records:,} records "
                      f"written ({lw / 1e6:.0f} MB): time ratio > {lt / t:.0f}x  (target >= 100x: "
                      f"{'met' if lt / t >= 100 else 'not shown'})")
            else:
                lt, lw, _, _ = lib
                ratio = lt / t
                print(f"  esedbexport   {lt:.1f} s  {lw / 1e6:.0f} MB written  {lw / lt / 1e6:.1f} MB/s "
                      f"written  {size / lt / 1e6:.1f} MB/s read  time ratio = {ratio:.0f}x  "
                      f"(target >= 100x: {'met' if ratio >= 100 else 'MISSED'})")

        print(memory)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
