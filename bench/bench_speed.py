"""Every core busy, only the columns asked for: the figures of bench/README.md's
"Threads, projection, the GIL" section.  One run of each comparison (best of
--runs), ratios within the run; the machine is shared, so noise only adds time.

  arrow      pyarrow.table(db.arrow_table(t, threads=2)) vs read_table vs
             pyarrow.parquet.read_table of the same table as snappy Parquet (warm:
             repeated in one process; and the first reading of a fresh process),
             and peak memory against the result (1,000,000-record Events table)
  project    3 of 44 columns vs all: arrow_table and export_table
  jobs       quarrow export --jobs 2 vs --jobs 1 on a single-table file (the
             1,000,000-record one: the smaller one is mostly the process's start)
  gil        two Python threads exporting two files vs one thread doing both
             (into the temporary folder, and into /dev/shm where there is one)
  first      export_table and read_table against the first release, built from git
             history into --first (PYTHONPATH), in one process after other work,
             alternating runs

Usage:  python3 bench/bench_speed.py [--runs 3] [--first DIR] [--records N] [section ...]
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
from pathlib import Path

import common  # bench/common.py, beside this script
import esefile as ef  # the writer: pip install -e testing

WIDE_COLUMNS = 44


def best(runs, fn):
    return common.best_of(runs, fn)


def wide_database(directory: Path, records: int, table: str = "Wide") -> Path:
    """A 44-column table (SRUM-like width): fixed integers and dates, variable text,
    tagged text; a pure function of the record number."""
    path = directory / (f"wide-{records}.edb" if table == "Wide" else f"wide-{table}-{records}.edb")
    if path.exists():
        return path
    columns, kinds = [], []
    for k in range(WIDE_COLUMNS):
        if k < 24:
            columns.append(ef.Column(f"F{k:02d}", [ef.LONG, ef.LONG_LONG, ef.DATETIME, ef.DOUBLE][k % 4], 1 + k))
        elif k < 36:
            columns.append(ef.Column(f"V{k:02d}", ef.TEXT, 128 + k - 24, codepage=1200))
        else:
            columns.append(ef.Column(f"T{k:02d}", ef.TEXT, 256 + k - 36, codepage=1252))
        kinds.append(columns[-1].name)
    base = common._BASE_TIME

    def rec(i):
        r = {}
        for k, name in enumerate(kinds):
            if k < 24:
                r[name] = [i + k, i * 1_000_003 + k, base, i / 3.0][k % 4]
            elif k < 36:
                r[name] = f"value {i} of {name}"
            elif i % 2 == 0:
                r[name] = f"tag {i % 97} {name}"
        return r

    db = ef.EseFile(page_size=4096)
    db.add_table(ef.Table(table, columns, [rec(i) for i in range(records)]))
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(db.build())
    return path


def anon_kib(pid: int) -> int:
    """The process's anonymous resident memory in KiB (0 once it has gone)."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def section_arrow(args, path):
    import pyarrow as pa
    import pyarrow.parquet as pq
    from quarrow import EseDatabase
    db = EseDatabase(str(path))
    t_read = best(args.runs, lambda: db.read_table("Events"))
    t1 = best(args.runs, lambda: pa.table(db.arrow_table("Events", threads=1)))
    t2 = best(args.runs, lambda: pa.table(db.arrow_table("Events", threads=2)))
    parquet = Path(args.tmp) / "events.parquet"
    pq.write_table(pa.table(db.arrow_table("Events")), parquet, compression="snappy")
    pq.read_table(parquet)
    t_pq = best(args.runs, lambda: pq.read_table(parquet))
    # The first reading of a fresh process (file in the page cache, memory not yet
    # the process's): no allocator has pages of an earlier reading to hand out again.
    fresh = textwrap.dedent(f"""
        import sys, time, pyarrow as pa, pyarrow.parquet as pq, quarrow
        db = quarrow.EseDatabase({str(path)!r})
        pa.RecordBatchReader.from_stream(db.arrow_table("Events", columns=["Id"])).read_all()
        pq.read_table({str(parquet)!r}, columns=["Id"])
        start = time.perf_counter()
        if sys.argv[1] == "parquet":
            pq.read_table({str(parquet)!r})
        else:
            pa.RecordBatchReader.from_stream(db.arrow_table("Events", threads=2)).read_all()
        print(time.perf_counter() - start)
    """)
    first = {k: min(float(subprocess.check_output([sys.executable, "-c", fresh, k])) for _ in range(args.runs))
             for k in ("arrow", "parquet")}
    # Peak memory of a fresh process: the result against the stream's own use. The
    # child's anonymous resident memory is sampled from here (its resident set also
    # counts the mapped file's pages, which are the page cache's, not the reading's).
    child = textwrap.dedent(f"""
        import sys, pyarrow as pa, quarrow
        db = quarrow.EseDatabase({str(path)!r})
        print("ready", flush=True)
        sys.stdin.readline()
        # (pa.table would import pandas on its first call, which is not the reading's)
        t = pa.RecordBatchReader.from_stream(db.arrow_table("Events", threads=2)).read_all()
        print(t.nbytes, t.to_batches()[0].nbytes, flush=True)
    """)
    proc = subprocess.Popen([sys.executable, "-c", child], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    proc.stdout.readline()
    base = peak = anon_kib(proc.pid)
    proc.stdin.write("go\n")
    proc.stdin.flush()
    while proc.poll() is None:
        peak = max(peak, anon_kib(proc.pid))
        time.sleep(0.001)
    result, batch = map(int, proc.stdout.read().split())
    grown = (peak - base) * 1024
    print(f"arrow  read_table {t_read:.3f} s | arrow 1 thread {t1:.3f} s | arrow 2 threads {t2:.3f} s "
          f"({t_read / t2:.1f}x read_table, {t1 / t2:.2f}x one thread) | parquet {t_pq:.3f} s "
          f"(arrow/parquet {t2 / t_pq:.2f}x)")
    print(f"arrow  first reading of a fresh process: arrow 2 threads {first['arrow']:.3f} s | parquet "
          f"{first['parquet']:.3f} s (arrow/parquet {first['arrow'] / first['parquet']:.2f}x)")
    print(f"arrow  peak growth {grown / 1e6:.0f} MB for a {result / 1e6:.0f} MB result "
          f"(+{(grown - result) / max(batch, 1):.1f} batches of {batch / 1e6:.1f} MB)")


def section_project(args, path):
    import pyarrow as pa
    from quarrow import EseDatabase
    db = EseDatabase(str(path))
    three = ["F01", "V30", "T40"]
    out = Path(args.tmp) / "wide.jsonl"
    a_all = best(args.runs, lambda: pa.table(db.arrow_table("Wide", threads=1)))
    a_three = best(args.runs, lambda: pa.table(db.arrow_table("Wide", threads=1, columns=three)))
    e_all = best(args.runs, lambda: db.export_table("Wide", str(out)))
    e_three = best(args.runs, lambda: db.export_table("Wide", str(out), columns=three))
    r_all = best(args.runs, lambda: db.read_table("Wide"))
    r_three = best(args.runs, lambda: db.read_table("Wide", columns=three))
    print(f"project arrow all {a_all:.3f} s, 3 of 44 {a_three:.3f} s ({a_all / a_three:.1f}x) | "
          f"export all {e_all:.3f} s, 3 of 44 {e_three:.3f} s ({e_all / e_three:.1f}x) | "
          f"read_table all {r_all:.3f} s, 3 of 44 {r_three:.3f} s ({r_all / r_three:.1f}x)")


def section_jobs(args, path):
    tool = shutil.which("quarrow") or str(Path(sys.executable).with_name("quarrow"))

    def export(jobs):
        out = Path(args.tmp) / f"jobs{jobs}"
        subprocess.run([tool, "export", "-q", "--force", "-j", str(jobs), "-o", str(out), str(path)], check=True)

    t1 = best(args.runs, lambda: export(1))
    t2 = best(args.runs, lambda: export(2))
    same = all((Path(args.tmp) / "jobs1" / p.name).read_bytes() == p.read_bytes()
               for p in (Path(args.tmp) / "jobs2").iterdir())
    print(f"jobs   export --jobs 1 {t1:.3f} s, --jobs 2 {t2:.3f} s ({t1 / t2:.2f}x), same bytes: {same}")


def section_gil(args, paths):
    from quarrow import EseDatabase
    dbs = [EseDatabase(str(p)) for p in paths]
    # Into the temporary folder, and into memory where the system has a memory file
    # system: two files written at once also wait on the disk file system's journal,
    # which says nothing about the GIL.
    places = [Path(args.tmp)] + ([Path("/dev/shm")] if Path("/dev/shm").is_dir() else [])
    for place in places:
        outs = [place / f"quarrow-gil-{os.getpid()}-{k}.jsonl" for k in range(2)]

        def one(k):
            dbs[k].export_table("Events", str(outs[k]))

        serial = best(args.runs, lambda: [one(k) for k in range(2)])

        def both():
            threads = [threading.Thread(target=one, args=(k,)) for k in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        parallel = best(args.runs, both)
        for out in outs:
            out.unlink(missing_ok=True)
        print(f"gil    two files one thread {serial:.3f} s, two threads {parallel:.3f} s ({serial / parallel:.2f}x)"
              f" writing to {'memory' if place != Path(args.tmp) else 'the temporary folder'}")


FIRST_CHILD = r"""
import resource, sys, time
sys.path.insert(0, sys.argv[1]) if sys.argv[1] else None
import quarrow
db = quarrow.EseDatabase(sys.argv[2])
db.read_table("Events")                      # other work first, in the same process
faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
start = time.process_time(); db.export_table("Events", sys.argv[3]); t_export = time.process_time() - start
start = time.process_time(); db.read_table("Events"); t_read = time.process_time() - start
print(t_export, t_read, resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults)
"""


def section_first(args, path):
    if not args.first:
        print("first  skipped: no --first build of the first release")
        return
    results = {"now": [], "first": []}
    for _ in range(args.runs):
        for name, lib in (("first", args.first), ("now", "")):
            out = subprocess.check_output([sys.executable, "-c", FIRST_CHILD, lib, str(path),
                                           str(Path(args.tmp) / f"{name}.jsonl")])
            results[name].append(tuple(map(float, out.split())))
    e_now, r_now, f_now = (min(x[i] for x in results["now"]) for i in (0, 1, 2))
    e_first, r_first, f_first = (min(x[i] for x in results["first"]) for i in (0, 1, 2))
    print(f"first  export_table {e_first:.3f} s -> {e_now:.3f} s ({e_now / e_first:.2f}x) | "
          f"read_table {r_first:.3f} s -> {r_now:.3f} s ({r_now / r_first:.2f}x) | page faults "
          f"{f_first:.0f} -> {f_now:.0f} (first release -> now; CPU time after a read_table)")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("sections", nargs="*", default=["arrow", "project", "jobs", "gil", "first"])
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--records", type=int, default=1_000_000)
    p.add_argument("--small", type=int, default=100_000, help="records of the files of gil, first")
    p.add_argument("--first", default=os.environ.get("QUARROW_FIRST_RELEASE", ""))
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        args.tmp = tmp
        big = common.database(args.records, 4096)
        small = common.database(args.small, 4096)
        if "arrow" in args.sections:
            section_arrow(args, big)
        if "project" in args.sections:
            section_project(args, wide_database(common.DATA, args.small))
        if "jobs" in args.sections:
            section_jobs(args, big)
        if "gil" in args.sections:
            copy = Path(tmp) / "copy.edb"
            shutil.copyfile(small, copy)
            section_gil(args, [small, copy])
        if "first" in args.sections:
            section_first(args, small)


if __name__ == "__main__":
    main()
