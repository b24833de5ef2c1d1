"""The quarrow program against the module and esedbexport, and its threads.

* One job: `quarrow export -j 1` on the 1,000,000-record database against the module's
  export_all (in process) and Debian's esedbexport (stopped after a time limit; the
  records it wrote by then give a lower bound of its time). Targets: at least 2x the
  module's MB/s written, at least 100x esedbexport.
* Threads: `--jobs 2` against `--jobs 1` on one file with four large tables and on a
  set of four files (target: 1.7x).
* `quarrow tables` on srum-small.dat, process start included (target: under 20 ms).

Every timing is the best of --runs runs, measured side by side in this one run.

Usage:  python3 bench/bench_cli.py [--records N] [--part N] [--runs N] [--esedbexport-timeout S]
"""

from __future__ import annotations

import argparse
import os
import resource
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
from pathlib import Path

import common
import esefile as ef
from bench_export import dir_bytes, time_esedbexport
from quarrow import EseDatabase

TABLES = 4


def program() -> str:
    candidate = Path(sysconfig.get_path("scripts")) / "quarrow"
    found = str(candidate) if candidate.is_file() else shutil.which("quarrow")
    if not found:
        sys.exit("the quarrow program is not installed (python3 -m pip install .)")
    return found


def multi_table_database(records: int) -> Path:
    """TABLES tables of `records` records each (the Events columns and contents)."""
    path = common.DATA / f"events-v2-{TABLES}x{records}-4096.edb"
    if not path.exists():
        print(f"generating {path.name} ...", file=sys.stderr, flush=True)
        db = ef.EseFile(page_size=4096)
        for t in range(TABLES):
            db.add_table(ef.Table(f"Events{t}", common.COLUMNS, [common.record(i) for i in range(records)],
                                  null_bitmap=True))
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(db.build())
        os.replace(tmp, path)
    return path


def time_program(exe: str, args: list, work: Path, runs: int) -> tuple[float, int, float]:
    """Best wall time of `quarrow export ARGS -o OUT`, the bytes it wrote, and the
    processor time (user + system) of that run."""
    best, written, cpu = float("inf"), 0, 0.0
    for i in range(runs):
        out = work / f"cli-{i}"
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run([exe, "export", *map(str, args), "-o", str(out), "-q"], check=True)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if elapsed < best:
            best = elapsed
            cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        written = dir_bytes(out)
        shutil.rmtree(out)
    return best, written, cpu


def time_module(path: Path, work: Path, runs: int) -> tuple[float, float]:
    """Best wall time of export_all and the processor time of that run."""
    best, cpu = float("inf"), 0.0
    with EseDatabase(str(path)) as db:
        for _ in range(runs):
            before = resource.getrusage(resource.RUSAGE_SELF)
            start = time.perf_counter()
            db.export_all(str(work / "module"))
            elapsed = time.perf_counter() - start
            after = resource.getrusage(resource.RUSAGE_SELF)
            if elapsed < best:
                best = elapsed
                cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            shutil.rmtree(work / "module")
    return best, cpu


def verdict(ok: bool) -> str:
    return "met" if ok else "MISSED"


def single(exe: str, big: Path, work: Path, args) -> None:
    """One job against the module and esedbexport on the big database."""
    size = big.stat().st_size
    t_cli, written, c_cli = time_program(exe, [big, "-j", 1], work, args.runs)
    t_mod, c_mod = time_module(big, work, args.runs)
    print(f"{big.name} ({size / 1e6:.0f} MB, {written / 1e6:.0f} MB of JSON Lines)")
    print(f"  quarrow export -j 1  {t_cli:.3f} s ({c_cli:.2f} s processor)  {written / t_cli / 1e6:.0f} MB/s "
          f"written  {size / t_cli / 1e6:.0f} MB/s read")
    print(f"  module export_all    {t_mod:.3f} s ({c_mod:.2f} s processor)  {written / t_mod / 1e6:.0f} MB/s "
          f"written  ratio {t_mod / t_cli:.2f}x, processor time {c_mod / c_cli:.2f}x "
          f"(target >= 2x: {verdict(t_mod / t_cli >= 2)})")
    if args.no_esedbexport:
        return
    lib = time_esedbexport(big, work, args.esedbexport_timeout)
    if lib is None:
        print("  esedbexport          not installed (apt-get install -y libesedb-utils)")
        return
    lt, _, finished, rows = lib
    if finished:
        print(f"  esedbexport          {lt:.1f} s  ratio {lt / t_cli:.0f}x "
              f"(target >= 100x: {verdict(lt / t_cli >= 100)})")
    else:
        print(f"  esedbexport          stopped after {lt:.0f} s at {rows:,} of {args.records:,} records: "
              f"ratio > {lt / t_cli:.0f}x (target >= 100x: {'met' if lt / t_cli >= 100 else 'not shown'})")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--records", type=int, default=1_000_000)
    ap.add_argument("--part", type=int, default=250_000, help="records per table / file for the thread runs")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--esedbexport-timeout", type=float, default=60)
    ap.add_argument("--no-esedbexport", action="store_true")
    ap.add_argument("--threads-only", action="store_true", help="only the --jobs runs and `tables`")
    args = ap.parse_args()

    exe = program()
    big = common.database(args.records, 4096)
    part = common.database(args.part, 4096)
    multi = multi_table_database(args.part)
    work = Path(tempfile.mkdtemp(prefix="quarrow-bench-cli-"))
    try:
        # A set of files: copies of one database under four names.
        files = []
        for k in range(TABLES):
            files.append(work / f"part{k}.edb")
            shutil.copyfile(part, files[-1])

        if not args.threads_only:
            single(exe, big, work, args)
        for label, inputs in ((f"{multi.name} ({TABLES} tables of {args.part:,} records, "
                               f"{multi.stat().st_size / 1e6:.0f} MB)", [multi]),
                              (f"{TABLES} files of {args.part:,} records "
                               f"({TABLES * part.stat().st_size / 1e6:.0f} MB)", files)):
            t1, w, c1 = time_program(exe, [*inputs, "-j", 1], work, args.runs)
            t2, _, c2 = time_program(exe, [*inputs, "-j", 2], work, args.runs)
            print(label)
            print(f"  -j 1 {t1:.3f} s ({c1:.2f} s processor)  {w / t1 / 1e6:.0f} MB/s written;  "
                  f"-j 2 {t2:.3f} s ({c2:.2f} s processor)  {w / t2 / 1e6:.0f} MB/s written;  "
                  f"speed-up {t1 / t2:.2f}x (target >= 1.7x: {verdict(t1 / t2 >= 1.7)})")

        srum = Path(__file__).resolve().parents[2] / "shared" / "data" / "srum-small.dat"
        if srum.exists():
            t = common.best_of(max(args.runs, 10), lambda: subprocess.run(
                [exe, "tables", str(srum)], check=True, stdout=subprocess.DEVNULL))
            print(f"quarrow tables srum-small.dat  {t * 1000:.1f} ms with process start "
                  f"(target < 20 ms: {verdict(t < 0.020)})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
