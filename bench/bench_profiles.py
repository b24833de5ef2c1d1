"""A profile view against the table it reads: what the conversions cost.

On a SRUM database written with the test-database writer (an id map of 2,000
entries: programs, services, packages and SIDs; and the Application Resource
Usage table of --records records, 19 provider columns plus the four common ones),
this times, best of --runs each (the two alternating), in one process:

* table: pyarrow.table(db.arrow_table("{D10CA2FE-...FA89}")) - the stored values
* view:  pyarrow.table(db.arrow_view("app_resource_usage")) - the same records with
         TimeStamp as a UTC timestamp (and its raw companion), AppId and UserId
         resolved through SruDbIdMapTable (program text, id type, SID, well-known
         name), and Long long counters range-checked

and reports the ratio (target: at most 1.3); then the same with the file opened
for each reading (open + first reading).  Times are the process's CPU time (the
machine is shared; wall time only adds noise).  The real srum-small.dat of the
shared data folder (or --real FILE) is timed first when present (small: each run
repeats the read 50 times).

Usage:  python3 bench/bench_profiles.py [--records N] [--runs N] [--real FILE]
"""

from __future__ import annotations

import argparse
import datetime as dt
import struct
import sys
import time
from pathlib import Path

import pyarrow as pa

import common
import esefile as ef
from quarrow import EseDatabase

PROVIDER = "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}"
IDS = 2000
LONGLONG = ["ForegroundCycleTime", "BackgroundCycleTime", "FaceTime", "ForegroundBytesRead", "ForegroundBytesWritten",
            "BackgroundBytesRead", "BackgroundBytesWritten"]
LONG = ["ForegroundContextSwitches", "BackgroundContextSwitches", "ForegroundNumReadOperations",
        "ForegroundNumWriteOperations", "ForegroundNumberOfFlushes", "BackgroundNumReadOperations",
        "BackgroundNumWriteOperations", "BackgroundNumberOfFlushes"]


def sid(rid: int) -> bytes:
    return bytes([1, 5, 0, 0, 0, 0, 0, 5]) + struct.pack("<5I", 21, 1111, 2222, 3333, rid)


def build(path: Path, records: int) -> None:
    ids = []
    for i in range(1, IDS + 1):
        kind = i % 4 if i > 2 else (0 if i == 1 else 3)
        blob = None
        if i > 2:
            blob = sid(1000 + i) if kind == 3 else (f"\\Device\\HarddiskVolume3\\Program Files\\app{i}\\app{i}.exe"
                                                    if kind == 0 else f"service{i}" if kind == 1
                                                    else f"Microsoft.App{i}_1.0.0.0_x64__8wekyb3d8bbwe")
            if kind != 3:
                blob = (blob + "\0").encode("utf-16-le")
        ids.append({"IdType": kind, "IdIndex": i, **({"IdBlob": blob} if blob else {})})
    columns = [ef.Column("AutoIncId", ef.LONG, 1), ef.Column("TimeStamp", ef.DATETIME, 2),
               ef.Column("AppId", ef.LONG, 3), ef.Column("UserId", ef.LONG, 4)]
    columns += [ef.Column(n, ef.LONG_LONG, 5 + k) for k, n in enumerate(LONGLONG)]
    columns += [ef.Column(n, ef.LONG, 5 + len(LONGLONG) + k) for k, n in enumerate(LONG)]
    start = dt.datetime(2021, 11, 16, 19, 18)

    def row(i):
        # Ids as SRUM uses them: AppId names a program, service or package (IdType
        # 0-2), UserId a SID (IdType 3), so every join of the view resolves.
        r = {"AutoIncId": i, "TimeStamp": start + dt.timedelta(hours=i // 500), "AppId": 4 * (1 + i % 498) + i % 3,
             "UserId": 7 + 4 * (i % 37)}
        r.update({n: (i * 7919 + k) % 10**9 for k, n in enumerate(LONGLONG)})
        r.update({n: (i * 31 + k) % 100000 for k, n in enumerate(LONG)})
        return r
    db = ef.EseFile(page_size=4096)
    db.add_table(ef.Table("SruDbIdMapTable", [ef.Column("IdType", ef.UNSIGNED_BYTE, 1), ef.Column("IdIndex", ef.LONG, 2),
                                             ef.Column("IdBlob", ef.LONG_BINARY, 256)], ids))
    db.add_table(ef.Table("SruDbCheckpointTable", [ef.Column("CheckpointId", ef.LONG, 1)]))
    db.add_table(ef.Table(PROVIDER, columns, [row(i) for i in range(records)]))
    path.parent.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(".tmp")
    tmp.write_bytes(db.build())
    tmp.replace(path)


def timed(repeat: int, fn) -> float:
    t = time.process_time()
    for _ in range(repeat):
        fn()
    return (time.process_time() - t) / repeat


def compare(path: Path, table: str, view: str, runs: int, repeat: int = 1) -> None:
    db = EseDatabase(str(path))
    rows = pa.table(db.arrow_view(view)).num_rows
    # Table and view readings alternate, so that a slow spell of the machine falls on
    # both; the best of each is kept.
    t_table = t_view = float("inf")
    for _ in range(runs):
        t_table = min(t_table, timed(repeat, lambda: pa.table(db.arrow_table(table))))
        t_view = min(t_view, timed(repeat, lambda: pa.table(db.arrow_view(view))))
    print(f"{path.name}: {rows:,} rows  table {t_table * 1000:.3f} ms  view {t_view * 1000:.3f} ms  "
          f"ratio {t_view / t_table:.2f}x")
    # The first reading after opening the file: the view also reads the id map then
    # (later readings and other views of the open file share what it read).
    f_table = f_view = float("inf")
    for _ in range(runs):
        f_table = min(f_table, timed(repeat, lambda: pa.table(EseDatabase(str(path)).arrow_table(table))))
        f_view = min(f_view, timed(repeat, lambda: pa.table(EseDatabase(str(path)).arrow_view(view))))
    print(f"{'':{len(path.name)}}  open + first reading: table {f_table * 1000:.3f} ms  view {f_view * 1000:.3f} ms  "
          f"ratio {f_view / f_table:.2f}x")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=300_000)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--real", type=Path, default=common.ROOT.parent / "shared" / "data" / "srum-small.dat")
    args = parser.parse_args()
    path = common.DATA / f"srum-v2-{args.records}.dat"
    if not path.exists():
        t = time.perf_counter()
        build(path, args.records)
        print(f"built {path.name} in {time.perf_counter() - t:.0f} s", file=sys.stderr)
    pa.table(EseDatabase(str(path)).arrow_table("MSysObjects"))  # warm-up (pyarrow's first call)
    # The small file first: after the large one the allocator keeps megabytes at hand
    # that a process reading only small files has not.
    if args.real.exists():
        compare(args.real, PROVIDER, "app_resource_usage", args.runs, repeat=50)
    compare(path, PROVIDER, "app_resource_usage", args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
