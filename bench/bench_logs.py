"""Transaction-log reading speed and memory: a folder of generated logs of at least
100 MB (written with the log writer, testing/esefile/log.py) read three ways.

* `quarrow logs DIR`: the summary, which verifies every header and segment checksum
  and walks (sizes, joins, counts) every record of every file;
* `EseLogs(DIR)` in the module: the same pass, in process;
* `EseLogs(DIR).records()`: every record as a Python dict (reported, no target: the
  dicts cost far more than the reading).

Each runs in a child process; its peak resident set (ru_maxrss) is reported for the
full set and for a quarter of it: reading keeps one file mapped at a time, so the peak
must not grow with the logs' size.

usage: bench_logs.py [--mb 100] [--file-sectors 256] [--runs 3] [--keep DIR]
"""

from __future__ import annotations

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

from esefile import log as L  # the writers: pip install -e testing


def write_logs(folder: Path, total_mb: int, sectors: int) -> int:
    """Consecutive generations, each full of SRUM-like transactions (Begin0, inserts of
    80..600 bytes, many of them fragmented, Commit0), chained; returns the bytes written."""
    folder.mkdir(parents=True, exist_ok=True)
    per_file = sectors * L.SECTOR
    files = max(1, -(-total_mb * (1 << 20) // per_file))
    room = (sectors - 2) * (L.SECTOR - L.SEGMENT_HEADER)
    previous = None
    trx = 1000
    for k in range(files):
        f = L.LogFile(0x100 + k, sectors=sectors, created=L.log_time(sec=k % 60, minute=(k // 60) % 60))
        if previous is not None:
            f.previous = previous.created
            f.previous_segments_xor = previous.segment_xor
        f.add(L.init2())
        used = 600
        while True:
            node = L.Node(trx=trx, level=2, page=100 + trx % 500)
            rows = [L.insert(node, b"\x7f" + struct.pack(">II", trx, i), bytes([i]) * (80 + (i * 37 + trx) % 520))
                    for i in range(8)]
            size = sum(len(r) for r in rows) + 40
            if used + size + 64 * len(rows) > room:
                break
            f.transaction(9 + trx % 3, trx, rows, commit_id=trx)
            used += size
            trx += 1
        (folder / f"edb{0x100 + k:05X}.log").write_bytes(f.build())
        previous = f
    return files * per_file


def child_run(code: str, runs: int) -> tuple[float, int]:
    """Best wall time of `runs` runs of `code` in a fresh interpreter, and its peak RSS (KiB)."""
    best = float("inf")
    peak = 0
    for _ in range(runs):
        script = ("import resource, time, quarrow, sys\n"
                  "t = time.perf_counter()\n" + code +
                  "\nprint(time.perf_counter() - t, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n")
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
        elapsed, rss = out.split()[-2:]
        best = min(best, float(elapsed))
        peak = max(peak, int(rss))
    return best, peak


def program_run(args: list[str], runs: int) -> tuple[float, int]:
    """Best wall time of the program, and its own peak RSS (KiB) as GNU time reports it
    (the rusage of a child forked from Python keeps the interpreter's size; 0 without
    /usr/bin/time)."""
    best = float("inf")
    for _ in range(runs):
        t = time.perf_counter()
        subprocess.run(args, stdout=subprocess.DEVNULL, check=False)
        best = min(best, time.perf_counter() - t)
    peak = 0
    if Path("/usr/bin/time").exists():
        out = subprocess.run(["/usr/bin/time", "-f", "%M", *args], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True).stderr
        peak = int(out.split()[-1])
    return best, peak


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=int, default=100)
    parser.add_argument("--file-sectors", type=int, default=256, help="sectors per log file (256 = 1 MiB)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", type=Path, default=None, help="write the logs here and keep them")
    args = parser.parse_args()
    program = shutil.which("quarrow", path=str(Path(sys.executable).parent)) or shutil.which("quarrow")
    work = args.keep or Path(tempfile.mkdtemp(prefix="quarrow-bench-logs-"))
    try:
        sets = {}
        for name, mb in (("full", args.mb), ("quarter", max(1, args.mb // 4))):
            folder = work / name
            t = time.perf_counter()
            if not any(folder.glob("*.log")):
                write_logs(folder, mb, args.file_sectors)
            size = sum(p.stat().st_size for p in folder.glob("*.log"))
            sets[name] = (folder, size)
            print(f"{name}: {size / 1e6:.1f} MB in {len(list(folder.glob('*.log')))} files "
                  f"(written in {time.perf_counter() - t:.1f} s)")
        for name, (folder, size) in sets.items():
            mb = size / 1e6
            results = []
            if program:
                results.append(("quarrow logs DIR", *program_run([program, "logs", str(folder)], args.runs)))
            results.append(("EseLogs(DIR)", *child_run(f"logs = quarrow.EseLogs({str(folder)!r})\n"
                                                        "assert not logs.checksum_failed", args.runs)))
            if name == "full":
                results.append(("EseLogs.records() dicts",
                                *child_run(f"n = sum(1 for _ in quarrow.EseLogs({str(folder)!r}).records())", 1)))
            for label, seconds, rss in results:
                print(f"  {name:8} {label:26} {seconds:7.3f} s  {mb / seconds:8.0f} MB/s  peak RSS {rss / 1024:6.1f} MiB")
        if program:
            out = subprocess.run([program, "logs", str(sets["full"][0])], capture_output=True, text=True).stdout
            print(out.splitlines()[-3] if len(out.splitlines()) > 3 else out)
    finally:
        if args.keep is None:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
