"""Report sizes and build times: `EseDatabase.report()` on every file of ../shared/data
(and the SRUM sets of ../shared/logs with their logs), and on written files of 0.25,
0.5 and 1 GB by default (bench_scale's writer: three tables of the common columns,
leaf pages repeated, every page with its checksums; in a temporary folder, removed
afterwards).

Each report is built in a child process of its own, so that its peak resident set
(VmHWM) is its own: the mapped file's resident pages count, and a file of up to
256 MiB stays resident by design, while a larger one is released as it is read. Its
CPU time (user + system, of the report's call alone) is given beside the wall time,
as the machine is shared. The file is read once beforehand, so the disk is not
measured. The written files are sound: the bench stops if a report says that
verification found a problem.

    python bench/bench_report.py [--gb 0.25 0.5 1.0 4.3] [--no-large] [--only-large]
"""

from __future__ import annotations

import argparse
import json
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import bench_scale

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT.parent / "shared" / "data"
LOGS = ROOT.parent / "shared" / "logs"

CHILD = r"""
import json, sys, time
from quarrow import EseDatabase
path, out, logs = sys.argv[1], sys.argv[2], sys.argv[3] or None
start, start_cpu = time.perf_counter(), time.process_time()
EseDatabase(path).report(out, logs=logs)
seconds, cpu_seconds = time.perf_counter() - start, time.process_time() - start_cpu
status = dict(l.split(":", 1) for l in open("/proc/self/status"))
print(json.dumps({"seconds": seconds, "cpu_seconds": cpu_seconds, "vmhwm_mb": int(status["VmHWM"].split()[0]) / 1024}))
"""


def measure(path: Path, out: Path, logs: Path | None = None) -> dict:
    bench_scale.warm(path)
    run = subprocess.run([sys.executable, "-c", CHILD, str(path), str(out), str(logs or "")],
                         capture_output=True, text=True, check=True)
    r = json.loads(run.stdout.strip().splitlines()[-1])
    html = out.read_text(encoding="utf-8")
    r["html_bytes"] = len(html.encode())
    r["file_mb"] = path.stat().st_size / 1e6
    r["problems"] = int(re.search(r'id="verify-summary" data-problems="(\d+)"', html).group(1))
    return r


HEAD = "| file | MB | wall s | CPU s | HTML bytes | VmHWM MB |\n|---|---:|---:|---:|---:|---:|"


def line(label: str, r: dict) -> str:
    return (f"| {label} | {r['file_mb']:.1f} | {r['seconds']:.3f} | {r['cpu_seconds']:.3f} | "
            f"{r['html_bytes']:,} | {r['vmhwm_mb']:.0f} |")


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--gb", type=float, nargs="+", default=[0.25, 0.5, 1.0], help="sizes of the written files")
    ap.add_argument("--no-large", action="store_true", help="the real files only")
    ap.add_argument("--only-large", action="store_true", help="the written files only")
    args = ap.parse_args()
    print(HEAD)
    with tempfile.TemporaryDirectory(prefix="quarrow-report-") as tmp:
        work = Path(tmp)
        if not args.only_large:
            for path in sorted(DATA.glob("*")) if DATA.is_dir() else []:
                if path.suffix in (".edb", ".dat", ".mdb"):
                    print(line(path.name, measure(path, work / "r.html")), flush=True)
            for folder in sorted(LOGS.glob("srum-*")) if LOGS.is_dir() else []:
                r = measure(folder / "SRUDB.dat", work / "r.html", folder)
                print(line(f"{folder.name}/SRUDB.dat + logs", r), flush=True)
        if args.no_large:
            return 0
        start = time.perf_counter()
        db, template = bench_scale.build_template(40_000, work, checksums=True)
        per_copy = bench_scale.PAGE_SIZE * sum(len(db.table_leaf_pages(t)) for t in bench_scale.TABLES)
        results = []
        for gb in sorted(args.gb):
            copies = max(1, 1 + -(-int(gb * 1e9 - len(template)) // per_copy))
            path = work / "written.edb"
            bench_scale.write_scaled(path, db, bytearray(template), copies, checksums=True)
            r = measure(path, work / "r.html")
            path.unlink()
            if r["problems"]:
                print(f"the written file of {gb} GB has {r['problems']} damaged pages: not a sound file")
                return 1
            results.append(r)
            print(line(f"written {r['file_mb'] / 1e3:.2f} GB", r), flush=True)
        print(f"\n(files written in {time.perf_counter() - start:.0f} s; verification found no problem in any)")
        print("per GB of file: " + ", ".join(f"{r['file_mb'] / 1e3:.2f} GB {r['seconds'] / r['file_mb'] * 1e3:.1f} s wall, "
                                            f"{r['cpu_seconds'] / r['file_mb'] * 1e3:.1f} s CPU" for r in results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
