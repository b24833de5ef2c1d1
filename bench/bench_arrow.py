"""Typed columns through Arrow against the Python-object routes, with peak memory.

On the 1,000,000-record Events table of bench_read.py (4096-byte pages), one run each,
every method in a fresh child process:

* arrow:        pyarrow.table(db.arrow_table(t)) (decoded values, Arrow stream)
* read_table:   db.read_table(t) (raw values as a list of dicts)
* from_pylist:  pyarrow.Table.from_pylist(db.read_table(t), schema) (what a user does
                today; without a schema pyarrow refuses the raw Currency values)

Times are wall and process CPU time, with ratios to the Arrow route; on a shared
machine the CPU time is the fairer comparison. Peak memory is the child's anonymous resident memory (RssAnon, sampled by this process
every millisecond) above its level just before the call: the file's mapped pages are
not counted, as the kernel can drop them at will. For the Arrow route the result's
size (Table.nbytes) and the size of one batch are shown beside it, since the target
is a peak of no more than the result plus two batches.

Usage:  python3 bench/bench_arrow.py [--records N] [--page-size P] [--batch-rows N]
"""

from __future__ import annotations

import argparse
import json
import selectors
import subprocess
import sys
from pathlib import Path

import common

CHILD = r"""
import json, sys, time
import pyarrow
from quarrow import EseDatabase
method, path, table, batch_rows = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
db = EseDatabase(path)
# The raw values need a schema: Currency, DateTime and Long long come as unsigned 64-bit
# patterns that pyarrow's inference (int64) refuses above 2**63.
RAW = {"Currency": pyarrow.uint64(), "DateTime": pyarrow.uint64(), "Long long": pyarrow.uint64(),
       "Signed long": pyarrow.int32(), "Double precision FP": pyarrow.float64(), "GUID": pyarrow.string(),
       "Text": pyarrow.string(), "Long Text": pyarrow.string(), "Binary": pyarrow.binary()}
schema = pyarrow.schema([(c["name"], RAW[c["type"]]) for c in db.get_table_schema(table)])
# pyarrow.table imports pandas on its first call (about a second): warm up on the catalog.
pyarrow.table(db.arrow_table("MSysObjects"))
print("ready", flush=True)
sys.stdin.readline()
start = time.perf_counter()
cpu = time.process_time()
extra = {}
if method == "arrow":
    result = pyarrow.table(db.arrow_table(table, batch_rows=batch_rows))
    extra = {"nbytes": result.nbytes, "batches": len(result.column(0).chunks), "rows": result.num_rows}
elif method == "read_table":
    result = db.read_table(table)
else:
    result = pyarrow.Table.from_pylist(db.read_table(table), schema=schema)
elapsed = time.perf_counter() - start
print(json.dumps({"seconds": elapsed, "cpu": time.process_time() - cpu, **extra}), flush=True)
sys.stdin.readline()
"""


def rss_anon(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    return 0


def run(method: str, path: Path, batch_rows: int) -> dict:
    child = subprocess.Popen([sys.executable, "-c", CHILD, method, str(path), common.TABLE, str(batch_rows)],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline().strip() == "ready"
    base = rss_anon(child.pid)
    peak = base
    child.stdin.write("go\n")
    child.stdin.flush()
    # The child prints its result when done; sample until then.
    sel = selectors.DefaultSelector()
    sel.register(child.stdout, selectors.EVENT_READ)
    while not sel.select(timeout=0.001):
        peak = max(peak, rss_anon(child.pid))
    peak = max(peak, rss_anon(child.pid))
    result = json.loads(child.stdout.readline())
    child.stdin.write("end\n")
    child.stdin.flush()
    child.wait()
    result["peak"] = peak - base
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--page-size", type=int, default=4096)
    parser.add_argument("--batch-rows", type=int, default=65536)
    args = parser.parse_args()
    path = common.database(args.records, args.page_size)
    print(f"{path.name}: {args.records:,} records, batch_rows={args.batch_rows}")
    results = {m: run(m, path, args.batch_rows) for m in ("arrow", "read_table", "from_pylist")}
    arrow = results["arrow"]
    mb = 1 << 20
    for method, r in results.items():
        print(f"  {method:12s} wall {r['seconds']:7.3f} s ({r['seconds'] / arrow['seconds']:5.1f}x)  "
              f"cpu {r['cpu']:7.3f} s ({r['cpu'] / arrow['cpu']:5.1f}x)  peak +{r['peak'] / mb:8.1f} MiB")
    batch = arrow["nbytes"] / max(arrow["batches"], 1)
    print(f"  Arrow result {arrow['nbytes'] / mb:.1f} MiB in {arrow['batches']} batches "
          f"(~{batch / mb:.1f} MiB each); result + 2 batches = {(arrow['nbytes'] + 2 * batch) / mb:.1f} MiB")


if __name__ == "__main__":
    main()
