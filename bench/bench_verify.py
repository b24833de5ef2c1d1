"""Page verification speed against a plain pass over the same bytes.

For each generated database (the benchmark table of common.py at 4096- and
32768-byte pages, written into a temporary folder):

* verify: EseDatabase.verify() over the whole file (both header copies and every
  page's checksum), best of --runs, in MB/s of file size;
* floor: bytes.count(b"\\xff") over the file's bytes already in memory, best of
  --runs: the speed of one plain pass over the same bytes in CPython;
* the ratio of the two times (target: verify within 3x of the floor).

The file is read once before timing, so both passes run on cached data.

Usage:  python3 bench/bench_verify.py [--records N] [--page-sizes 4096,32768] [--dir DIR]
"""

from __future__ import annotations

import argparse
import tempfile
from pathlib import Path

import common
from quarrow import EseDatabase


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--page-sizes", default="4096,32768")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir", type=Path, default=Path(tempfile.gettempdir()) / "quarrow-bench-verify")
    args = parser.parse_args()
    args.dir.mkdir(parents=True, exist_ok=True)

    print(f"{'page size':>9} {'MB':>8} {'verify s':>9} {'MB/s':>8} {'count s':>8} {'MB/s':>8} {'ratio':>6}")
    for page_size in (int(p) for p in args.page_sizes.split(",")):
        path = args.dir / f"events-{args.records}-{page_size}.edb"
        if not path.exists():
            common._build(path, args.records, page_size)
        data = path.read_bytes()
        mb = len(data) / 1e6
        db = EseDatabase(str(path))
        problems = db.verify()
        assert problems == [], problems[:3]
        t_verify = common.best_of(args.runs, db.verify)
        t_count = common.best_of(args.runs, lambda: data.count(b"\xff"))
        print(f"{page_size:>9} {mb:>8.1f} {t_verify:>9.4f} {mb / t_verify:>8.0f} "
              f"{t_count:>8.4f} {mb / t_count:>8.0f} {t_verify / t_count:>6.2f}")


if __name__ == "__main__":
    main()
