"""Log replay speed and memory: `quarrow replay` of at least 100 MB of generated logs
onto a generated database (both written with the test writers, testing/esefile).

The database holds one table of `--rows` rows spread over leaf pages; the logs are
consecutive generations of committed transactions, each a run of same-size Replace
records on those rows (every record applied by the page rule, one page write each).
Reported: log MB per second of `quarrow replay` (the whole run: opening, redo, writing
the new file), by the clock and by the process's CPU time (on a loaded machine the clock
mostly measures the wait), the pages the replay wrote, and the replay's peak resident set for the
full set of logs and for a quarter of it: the overlay holds the pages written plus a
constant, so the peak must not grow with the logs' size. The machine is shared: the
figures are noisy, and only the ratios within one run mean much.

usage: bench_replay.py [--mb 100] [--rows 4000] [--file-sectors 256] [--runs 3] [--keep DIR]
"""

from __future__ import annotations

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from esefile import LONG, TEXT, Column, EseFile, RecordEncoder, Table
from esefile import log as L

ROOT = Path(__file__).resolve().parents[1]
COLUMNS = [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1252)]
ROWS_PER_PAGE = 20
NAME = 120  # bytes of the Name column: the record size every replace keeps


def quarrow_program() -> str:
    here = Path(sys.executable).parent / "quarrow"
    return str(here) if here.is_file() else (shutil.which("quarrow") or "quarrow")


def write_database(path: Path, rows: int) -> tuple[int, list[int]]:
    """The table and its leaf pages; returns (the pages' dbtime, leaf page numbers)."""
    db = EseFile()
    db.add_table(Table("People", COLUMNS, [{"Id": i, "Name": "n" * NAME} for i in range(rows)],
                       object_id=30, records_per_page=ROWS_PER_PAGE))
    data = bytearray(db.build())
    struct.pack_into("<I", data, 104, 1)
    data[108:136] = L.signature()
    data[56:64] = L.position(2, 0, 0)
    data = bytearray(db.fix_checksum(bytes(data), -1))
    data[4096:8192] = data[0:4096]
    path.write_bytes(data)
    leaves = db.table_leaf_pages("People")
    base = struct.unpack_from("<Q", data, (leaves[0] + 1) * 4096 + 8)[0]
    return base, leaves


def write_logs(folder: Path, total_mb: int, sectors: int, base: int, leaves: list[int], rows: int) -> int:
    folder.mkdir(parents=True, exist_ok=True)
    encode = RecordEncoder(COLUMNS, False, False, None, 1024).encode
    per_file = sectors * L.SECTOR
    files = max(1, -(-total_mb * (1 << 20) // per_file))
    room = (sectors - 2) * (L.SECTOR - L.SEGMENT_HEADER)
    rng = random.Random(7)
    page_time = {p: base for p in leaves}
    dbtime = base
    trx = 1000
    built = []
    for k in range(files):
        f = L.LogFile(2 + k, sectors=sectors, created=L.log_time(sec=k % 60, minute=(k // 60) % 60))
        if built:
            f.previous = built[-1].created
            f.previous_segments_xor = built[-1].segment_xor
        used = 0
        while True:
            ops = []
            for _ in range(40):
                page = leaves[rng.randrange(len(leaves))]
                dbtime += 1
                data = encode({"Id": rng.randrange(rows), "Name": chr(97 + rng.randrange(26)) * NAME})
                head = (L.page_part(L.REPLACE, 9, 1, page, dbtime, page_time[page], trx, 2,
                                    rng.randrange(ROWS_PER_PAGE), 0x05) + L.node_part(1, 0, 30))
                ops.append(head + struct.pack("<HHH", len(data), len(data), len(data)) + data)
                page_time[page] = dbtime
            size = sum(len(o) for o in ops) + 40
            if used + size + 64 * len(ops) > room:
                break
            f.transaction(9, trx, ops, commit_id=trx)
            used += size
            trx += 1
        # The batch that did not fit is regenerated for the next file; its dbtimes were
        # taken, so step the pages back to what the file holds.
        for op in reversed(ops):
            page, after, before = struct.unpack_from("<IQQ", op, 4)
            if page_time[page] == after:
                page_time[page] = before
        dbtime -= len(ops)
        (folder / f"edb{2 + k:05X}.log").write_bytes(f.build())
        built.append(f)
    shutil.copyfile(folder / f"edb{2 + files - 1:05X}.log", folder / "edb.log")
    os.remove(folder / f"edb{2 + files - 1:05X}.log")
    return files * per_file


def run_replay(db: Path, logs: Path, out: Path) -> tuple[float, float, int, str]:
    # The peak resident set comes from /usr/bin/time: a child's ru_maxrss counts the
    # forked copy of this (large) Python process before the exec.
    command = [quarrow_program(), "replay", str(db), "--logs", str(logs), "-o", str(out), "--force"]
    timer = ["/usr/bin/time", "-f", "maxrss-kb %M"] if os.path.exists("/usr/bin/time") else []
    began = time.perf_counter()
    p = subprocess.Popen(timer + command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read().decode()
    _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - began
    if status != 0:
        raise SystemExit(f"quarrow replay failed: {err}")
    rss = usage.ru_maxrss * 1024
    if timer and "maxrss-kb " in err:
        rss = int(err.rsplit("maxrss-kb ", 1)[1].split()[0]) * 1024
    return elapsed, usage.ru_utime + usage.ru_stime, rss, err


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--mb", type=int, default=100)
    parser.add_argument("--rows", type=int, default=4000)
    parser.add_argument("--file-sectors", type=int, default=256)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", type=Path, default=None)
    args = parser.parse_args()
    work = args.keep or Path(tempfile.mkdtemp(prefix="quarrow-bench-replay-"))
    try:
        results = {}
        for label, mb in (("full", args.mb), ("quarter", max(1, args.mb // 4))):
            folder = work / label
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir(parents=True)
            db = folder / "People.edb"
            t0 = time.perf_counter()
            base, leaves = write_database(db, args.rows)
            size = write_logs(folder / "logs", mb, args.file_sectors, base, leaves, args.rows)
            print(f"{label}: {size / 2**20:.0f} MB of logs, {len(leaves)} leaf pages, written in "
                  f"{time.perf_counter() - t0:.0f} s", flush=True)
            best, best_cpu, peak, report = None, None, 0, ""
            for _ in range(args.runs):
                elapsed, cpu, rss, report = run_replay(db, folder / "logs", folder / "out.edb")
                best = elapsed if best is None else min(best, elapsed)
                best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
                peak = max(peak, rss)
            written = {k: v for k, v in (line.split(": ", 1) for line in report.splitlines() if ": " in line)}
            results[label] = (size, best, peak)
            print(f"  quarrow replay: {size / 2**20 / best:.0f} MB/s of log by the clock (best of {args.runs}: "
                  f"{best:.2f} s), {size / 2**20 / best_cpu:.0f} MB/s by CPU time ({best_cpu:.2f} s), "
                  f"records applied {written.get('records applied')}, pages changed {written.get('pages changed')}, "
                  f"peak RSS {peak / 2**20:.1f} MiB", flush=True)
        full, quarter = results["full"], results["quarter"]
        print(f"peak RSS full / quarter: {full[2] / quarter[2]:.2f}")
    finally:
        if args.keep is None:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
