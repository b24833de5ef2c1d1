"""The timeline's speed and memory: events per second into JSON Lines, and the peak
memory as the number of events grows.

On a SRUM database written with the test-database writer (the Application Resource
Usage table of bench_profiles.py: --records records, each one event at its TimeStamp,
plus the header's four times), this runs the installed `quarrow timeline FILE` into
/dev/null, best of --runs, and reports events per second (target: at least 1 million)
and the peak resident memory of the process.  Then the same file given --copies times
on one command line (--copies x --records events, 10 million by default), once with
the default sorting memory and once with --sort-memory 64, so that the peak memory can
be read against the event count: it stays near the bound (sorted runs go to temporary
files) rather than growing with the events.  The same SRUM table read as a view into
JSON Lines (quarrow dump --view) is timed beside it, so the ratio says what ordering
and describing the events adds.

Rates are per second of the child's CPU time (user + system): the machine is shared
and heavily loaded, so wall time mostly measures the other processes (it is printed
too). Compare figures of one run only.

With --baseline PROGRAM (another build's `quarrow`, e.g. one of main before a
change), every measurement is taken with both programs, one after the other, so that
their ratio comes from one run on one load.

Usage:  python3 bench/bench_timeline.py [--records N] [--copies N] [--runs N] [--baseline PROGRAM]
"""

from __future__ import annotations

import argparse
import os
import resource
import shutil
import subprocess
import sys
import sysconfig
import time
from pathlib import Path

import bench_profiles
import common


def program() -> str:
    for folder in (sysconfig.get_path("scripts"), str(Path(sys.executable).parent)):
        candidate = Path(folder) / "quarrow"
        if candidate.is_file():
            return str(candidate)
    found = shutil.which("quarrow")
    if not found:
        raise SystemExit("the quarrow program is not installed")
    return found




def peak_of(args: list[str]) -> tuple[float, float, int, str]:
    """CPU seconds, wall seconds and peak resident KiB of the command, measured by a
    fresh wrapper process (whose only child it is)."""
    code = ("import resource,subprocess,sys,time;t=time.perf_counter();"
            "p=subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.PIPE,check=True);"
            "w=time.perf_counter()-t;u=resource.getrusage(resource.RUSAGE_CHILDREN);"
            "print(u.ru_utime+u.ru_stime, w, u.ru_maxrss);"
            "sys.stderr.write(p.stderr.decode())")
    p = subprocess.run([sys.executable, "-c", code, *args], capture_output=True, check=True)
    cpu, wall, peak = p.stdout.decode().split()
    return float(cpu), float(wall), int(peak), p.stderr.decode()


def events_of(stderr: str) -> int:
    # "quarrow timeline: 1000004 events from 1 inputs"
    return int(stderr.split("timeline: ")[1].split()[0])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--baseline", help="another build's quarrow program, measured beside this one")
    args = parser.parse_args()
    quarrow = program()
    path = common.DATA / f"srum-v2-{args.records}.dat"
    if not path.exists():
        t = time.perf_counter()
        bench_profiles.build(path, args.records)
        print(f"built {path.name} in {time.perf_counter() - t:.0f} s", file=sys.stderr)

    programs = [("this build", quarrow)] + ([("baseline", args.baseline)] if args.baseline else [])
    for label, exe in programs:
        best = view = wall = float("inf")
        events = 0
        peak_one = 0
        for _ in range(args.runs):
            cpu, seconds, peak, err = peak_of([exe, "timeline", str(path), "--kinds", "row,header"])
            if cpu < best:
                best, wall = cpu, seconds
            events, peak_one = events_of(err), max(peak_one, peak)
            cpu, _, _, _ = peak_of([exe, "dump", str(path), "--view", "app_resource_usage", "-q"])
            view = min(view, cpu)
        print(f"[{label}] {path.name}: {events:,} events in {best:.2f} s CPU ({wall:.1f} s wall) = "
              f"{events / best / 1e6:.2f} M events/s, peak {peak_one / 1024:.0f} MiB; "
              f"the view as JSON Lines (dump --view) {view:.2f} s CPU, ratio {best / view:.2f}x", flush=True)

    files = [str(path)] * args.copies
    for memory in (None, 64):
        extra = [] if memory is None else ["--sort-memory", str(memory)]
        for label, exe in programs:
            cpu, seconds, peak, err = peak_of([exe, "timeline", *files, "--kinds", "row,header", "-j", "1", *extra])
            n = events_of(err)
            runs = err.strip().split("(")[-1].rstrip(")") if "runs on disk" in err else "no runs on disk"
            print(f"[{label}] {args.copies} copies: {n:,} events in {cpu:.1f} s CPU ({seconds:.0f} s wall) = "
                  f"{n / cpu / 1e6:.2f} M events/s, peak {peak / 1024:.0f} MiB "
                  f"(sort memory {memory or 256} MiB; {runs})", flush=True)
    print(f"load average {' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
