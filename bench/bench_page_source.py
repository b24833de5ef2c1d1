"""Reading through a replay's page overlay against reading the file itself.

Every record of the benchmark database (bench/common.py, 1,000,000 records) is read
and decoded by the core, from the file's mapping and from the same file under page
overlays holding none, one in ten and all of its pages as written copies: what a
log replay leaves (EseDatabase(path, logs=...), the tool's --logs). The runs of the
sources alternate; the best of each is compared with the plain reading. The target:
no slower than 1.2x the file.

Build the program first (with the C++ tests):
    cmake -S . -B build/tests -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON \\
          -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build/tests

Usage:  python3 bench/bench_page_source.py [--records N] [--page-size N] [--runs N] [--program PATH]
"""

from __future__ import annotations

import argparse
import subprocess

import common


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--page-size", type=int, default=4096)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--program", default=str(common.ROOT / "build" / "tests" / "quarrow_bench_page_source"))
    args = parser.parse_args()
    path = common.database(args.records, args.page_size)
    print(f"{path.name}: {path.stat().st_size / 2**20:.0f} MiB, best of {args.runs}")
    subprocess.run([args.program, str(path), str(args.runs)], check=True)


if __name__ == "__main__":
    main()
