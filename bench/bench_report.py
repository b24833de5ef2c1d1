"""Report sizes and build times: `EseDatabase.report()` on every file of ../shared/data
(and, with --logs, the SRUM sets of ../shared/logs with their logs), and on written
files of about 0.1 and 1 GB (bench_scale's writer: three tables of the common
columns, leaf pages repeated; in a temporary folder, removed afterwards).

Each report is built in a child process of its own, so that its peak resident set
(VmHWM) is its own; the file is read once beforehand, so the disk is not measured.
The written files carry no page checksums past the template (the writer copies leaf
pages to new page numbers), so their reports list most pages as damaged: the worst
case for the verify list and the map, not a picture of a sound file.

    python bench/bench_report.py [--gb 1.0] [--no-large]
"""

from __future__ import annotations

import argparse
import json
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
import json, sys, time, resource
from quarrow import EseDatabase
path, out, logs = sys.argv[1], sys.argv[2], sys.argv[3] or None
start = time.perf_counter()
EseDatabase(path).report(out, logs=logs)
seconds = time.perf_counter() - start
status = dict(l.split(":", 1) for l in open("/proc/self/status"))
print(json.dumps({"seconds": seconds, "vmhwm_mb": int(status["VmHWM"].split()[0]) / 1024}))
"""


def measure(path: Path, out: Path, logs: Path | None = None) -> dict:
    bench_scale.warm(path)
    run = subprocess.run([sys.executable, "-c", CHILD, str(path), str(out), str(logs or "")],
                         capture_output=True, text=True, check=True)
    r = json.loads(run.stdout.strip().splitlines()[-1])
    r["html_kb"] = out.stat().st_size / 1024
    r["file_mb"] = path.stat().st_size / 1e6
    return r


def line(label: str, r: dict) -> str:
    return (f"| {label} | {r['file_mb']:.1f} | {r['seconds']:.2f} | {r['html_kb']:.0f} | {r['vmhwm_mb']:.0f} |")


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--gb", type=float, default=1.0)
    ap.add_argument("--no-large", action="store_true")
    args = ap.parse_args()
    print("| file | MB | seconds | HTML KB | VmHWM MB |\n|---|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory(prefix="quarrow-report-") as tmp:
        work = Path(tmp)
        for path in sorted(DATA.glob("*")) if DATA.is_dir() else []:
            if path.suffix in (".edb", ".dat", ".mdb"):
                print(line(path.name, measure(path, work / "r.html")), flush=True)
        for folder in sorted(LOGS.glob("srum-*")) if LOGS.is_dir() else []:
            print(line(f"{folder.name}/SRUDB.dat + logs", measure(folder / "SRUDB.dat", work / "r.html", folder)),
                  flush=True)
        if args.no_large:
            return 0
        start = time.perf_counter()
        db, template = bench_scale.build_template(40_000, work)
        per_copy = bench_scale.PAGE_SIZE * sum(len(db.table_leaf_pages(t)) for t in bench_scale.TABLES)
        large = max(1, 1 + -(-int(args.gb * 1e9 - len(template)) // per_copy))
        results = {}
        for label, copies in (("small", max(1, round(large / 10))), ("large", large)):
            path = work / f"{label}.edb"
            bench_scale.write_scaled(path, db, bytearray(template), copies)
            results[label] = measure(path, work / "r.html")
            print(line(f"written {path.stat().st_size / 1e9:.2f} GB", results[label]), flush=True)
            path.unlink()
        big, small = results["large"], results["small"]
        print(f"\nlarge/small: size {big['file_mb'] / small['file_mb']:.1f}x, time "
              f"{big['seconds'] / small['seconds']:.1f}x, VmHWM {big['vmhwm_mb'] / small['vmhwm_mb']:.2f}x "
              f"(written in {time.perf_counter() - start:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
