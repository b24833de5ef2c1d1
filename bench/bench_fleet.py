"""quarrow_fleet on a LocalCluster: one table of 200 databases, on 1 and on 2 worker
processes in the same run, against reading the same files in one process.

The fleet: --files databases in a temporary folder, each holding the "Events"
table of bench/common.py (12 columns of every storage class) with a record count
cycling through --records.  A few distinct databases are generated and copied
under the other names (copies, not links, so every file is its own mapping).

Measured, best of --runs each:

* one process: EseDatabase(path).arrow_table("Events") read into a pyarrow Table,
  file after file (the floor the fleet adds its costs to);
* read_tables(paths, "Events") and a group-by on the workers (rows and a sum per
  source), from building the frame (its schema pass included) to the result, on a
  LocalCluster of 1 and of 2 single-threaded worker processes, computed alone and
  together with failures(); plus the workers' busy time (task compute durations).
  Cluster start-up is not timed.
* export_parquet of the same files on 2 workers (one run);
* a control: 100 tasks of pure-Python arithmetic on the same clusters, i.e. the
  speed-up that the machine itself allows at the time (other processes share it).

Per-file overhead = (1-worker time - one-process time) / files: the schema pass,
the pandas conversion, the group-by and the scheduling that one file costs.

Usage:  python3 bench/bench_fleet.py [--files 200] [--records 2000,5000,10000,20000] [--runs 2]
"""

from __future__ import annotations

import argparse
import os
import shutil
import tempfile
import time

import common
import dask
import distributed
import pyarrow as pa

from quarrow import EseDatabase
import quarrow_fleet


def build_fleet(directory: str, files: int, sizes: list[int]) -> list[str]:
    templates = {}
    for n in sizes:
        templates[n] = common.database(n, 4096)           # cached in common.DATA
    paths = []
    for i in range(files):
        path = os.path.join(directory, f"host{i:04d}.edb")
        shutil.copyfile(templates[sizes[i % len(sizes)]], path)
        paths.append(path)
    return paths


def best(runs: int, fn):
    times, result = [], None
    for _ in range(runs):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return min(times), result


def one_process(paths):
    rows = 0
    for p in paths:
        rows += pa.table(EseDatabase(p).arrow_table(common.TABLE)).num_rows
    return rows


def fleet_query(paths, with_failures: bool):
    df = quarrow_fleet.read_tables(paths, common.TABLE)
    per_source = df.groupby("source").agg({"Id": "count", "Counter": "sum"}, split_out=1)
    if with_failures:
        result, failed = dask.compute(per_source, quarrow_fleet.failures(df))
        assert len(failed) == 0
    else:
        result = per_source.compute()
    return int(result["Id"].sum())


def spin(_):
    """Control task: about 20 ms of pure-Python work, no I/O, no quarrow."""
    x = 0
    for k in range(400_000):
        x += k
    return x


def control(client) -> float:
    """Wall time of 100 control tasks: how much parallelism the machine gives now."""
    start = time.perf_counter()
    client.gather(client.map(spin, range(100), pure=False))
    return time.perf_counter() - start


def timed_on_cluster(runs: int, fn):
    """Best wall time of fn(), and the workers' busy time (sum of task compute
    durations) in that run: the rest is scheduling and waiting for a core."""
    best_wall, busy, result = float("inf"), 0.0, None
    for _ in range(runs):
        with distributed.get_task_stream() as stream:
            start = time.perf_counter()
            result = fn()
            wall = time.perf_counter() - start
        if wall < best_wall:
            best_wall = wall
            busy = sum(s["stop"] - s["start"] for t in stream.data for s in t["startstops"]
                       if s["action"] == "compute")
    return best_wall, busy, result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--records", default="2000,5000,10000,20000")
    parser.add_argument("--runs", type=int, default=2)
    args = parser.parse_args()
    sizes = [int(s) for s in args.records.split(",")]

    with tempfile.TemporaryDirectory(prefix="quarrow-fleet-") as tmp:
        paths = build_fleet(tmp, args.files, sizes)
        total = sum(os.path.getsize(p) for p in paths)
        print(f"{len(paths)} files, {total / 1e6:.0f} MB, table {common.TABLE}; "
              f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")

        t_one, rows = best(args.runs, lambda: one_process(paths))
        print(f"one process, arrow_table:  {t_one:7.3f} s  {rows:,} rows  "
              f"{t_one / len(paths) * 1e3:.2f} ms/file")

        times = {}
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                          memory_limit="2GiB", dashboard_address=None) as cluster, \
                    distributed.Client(cluster) as client:
                client.run(lambda: __import__("quarrow_fleet"))        # imports are not timed
                times[workers, "control"] = min(control(client) for _ in range(args.runs))
                for with_failures in (False, True):
                    t, busy, got = timed_on_cluster(args.runs, lambda: fleet_query(paths, with_failures))
                    assert got == rows, (got, rows)
                    times[workers, with_failures] = t
                    label = "rows and failures" if with_failures else "rows"
                    print(f"read_tables + group-by ({label}), {workers} worker(s): {t:7.3f} s  "
                          f"{t / len(paths) * 1e3:.2f} ms/file; workers busy {busy:.3f} s")
                if workers == 2:
                    out = os.path.join(tmp, "parquet")
                    start = time.perf_counter()
                    report = quarrow_fleet.export_parquet(paths, out, client=client)
                    t_export = time.perf_counter() - start
                    print(f"export_parquet, 2 workers:      {t_export:7.3f} s  "
                          f"({report['rows']:,} rows, every table)")

        print(f"control (100 pure-Python tasks, no quarrow): 1 worker {times[1, 'control']:.3f} s, "
              f"2 workers {times[2, 'control']:.3f} s, speed-up {times[1, 'control'] / times[2, 'control']:.2f}x")
        for with_failures in (False, True):
            one, two = times[1, with_failures], times[2, with_failures]
            print(f"{'with failures' if with_failures else 'rows only'}: speed-up 2 workers / 1 worker "
                  f"{one / two:.2f}x (target 1.6x); per-file overhead on 1 worker over one process "
                  f"{(one - t_one) / len(paths) * 1e3:.2f} ms/file")

if __name__ == "__main__":
    main()
