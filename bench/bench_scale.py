"""Evidence-size databases: open, export_all, iter_table over every table and carving
'all' on a database of at least 4 GB and on one a tenth of its size, plus iter_table
against read_table in records per second.

The databases (8192-byte pages, three tables of the `Events` columns of common.py)
are generated in a temporary folder and deleted afterwards.  Writing millions of
records through the test-database writer would take most of an hour, so the writer
lays out a template with every table's records, long values and catalog, and its
leaf pages are then repeated: each table's leaf chain is the template's leaves
followed by copies linked after them, and a fresh branch tree over the whole chain
replaces the table's tree (its root stays at the page the catalog names).  The copies
repeat the template's records (keys included) and share its long-value tree, which
a reader does not notice.

Each measurement runs in a child process of its own, so that its peak resident
memory (VmHWM: the file-backed pages of the mapped database included) is its own;
its CPU time (user + system) is reported beside the wall time, as the machine is
shared.  export_all runs twice: into files on disk (the real operation; past a few
GB of output the kernel's dirty-page throttling paces it to the disk) and into
symbolic links to /dev/null (the reading and rendering alone).

Usage:  python3 bench/bench_scale.py [--gb 4.3] [--template-records 40000] [--keep]
"""

from __future__ import annotations

import argparse
import json
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import common
import esefile as ef

PAGE_SIZE = 8192
TABLES = ("Events", "Audit", "Sessions")
UNMATCHED = "no such text in any page"  # carving scans every page and keeps no hit

CHILD = r"""
import json, sys, time
from quarrow import EseDatabase
what, path, out = sys.argv[1], sys.argv[2], sys.argv[3]
start = time.perf_counter()
db = EseDatabase(path)
result = {}
if what == "open":
    result["tables"] = len(db.get_tables())
elif what == "export_all":
    db.export_all(out)
elif what == "export_all_null":
    import os
    os.makedirs(out)
    for t in db.get_tables():
        os.symlink("/dev/null", os.path.join(out, t + ".jsonl"))
    db.export_all(out)
elif what == "iter_table":
    result["records"] = sum(sum(1 for _ in db.iter_table(t)) for t in db.get_tables())
elif what == "carve_all":
    result["hits"] = len(db.carve_utf16le_strings_scoped("all", %r, 6, 1000))
elif what == "ratio":
    table = sys.argv[4]
    t = time.perf_counter(); n = len(db.read_table(table)); r = time.perf_counter() - t
    t = time.perf_counter(); m = sum(1 for _ in db.iter_table(table)); i = time.perf_counter() - t
    result.update(records=n, read_table=n / r, iter_table=m / i)
result["seconds"] = time.perf_counter() - start
import resource
usage = resource.getrusage(resource.RUSAGE_SELF)
result["cpu_seconds"] = usage.ru_utime + usage.ru_stime
status = dict(l.split(":", 1) for l in open("/proc/self/status"))
result["vmhwm_mb"] = int(status["VmHWM"].split()[0]) / 1024
print(json.dumps(result))
""" % UNMATCHED


def build_template(records: int, tmp: Path, checksums: bool = False) -> tuple[ef.EseFile, bytearray]:
    """The template's pages carry checksums only with `checksums` (they cost time)."""
    db = ef.EseFile(page_size=PAGE_SIZE)
    db.checksums = checksums
    for k, name in enumerate(TABLES):
        n = records // (k + 1)           # tables of different sizes
        db.add_table(ef.Table(name, common.COLUMNS, [common.record(i) for i in range(n)], null_bitmap=True))
    images, size = db.build_pages()
    data = bytearray(size)
    for offset, raw in images.items():
        data[offset:offset + len(raw)] = raw
    return db, data


def branch_pages(db: ef.EseFile, children: list[int], numbers, root: int, fdp: int = 0) -> dict[int, bytes]:
    """Branch levels over `children` (leaf pages in chain order); the top one at `root`,
    each naming the tree's object `fdp` as its owner."""
    per_page = (PAGE_SIZE - 200) // 16
    pages: dict[int, bytes] = {}
    level = children
    depth = 1
    while True:
        groups = [level[i:i + per_page] for i in range(0, len(level), per_page)]
        top = len(groups) == 1
        upper = []
        for g in groups:
            flags = ef.PAGE_FORMAT_BITS | (ef.PAGE_PARENT_OF_LEAF if depth == 1 else 0) | (ef.PAGE_ROOT if top else 0)
            page = db.new_page(flags)
            page.fdp = fdp
            page.add_tag(ef.space_header(20, 1, 0, 0) if top else b"")
            for k, child in enumerate(g):
                page.add_tag(struct.pack("<H", 4) + struct.pack(">I", k + 1) + struct.pack("<I", child))
            number = root if top else next(numbers)
            pages[number] = page.build()
            upper.append(number)
        if top:
            return pages
        level = upper
        depth += 1


def write_scaled(path: Path, db: ef.EseFile, template: bytearray, copies: int, checksums: bool = False) -> None:
    """With `checksums` every page written or patched gets its checksums (the template
    must carry them too): a sound file, at about 0.3 ms of Python per page."""
    ps = PAGE_SIZE

    def sign(raw: bytearray, n: int) -> bytearray:
        if checksums:
            ef.set_page_checksum(raw, n, db.version, db.revision)
        return raw

    last = len(template) // ps - 2
    next_free = iter(range(last + 1, 1 << 32))
    with open(path, "wb") as f:
        f.truncate(len(template))
        extra: dict[int, bytes] = {}
        for name in TABLES:
            leaves = db.table_leaf_pages(name)
            chain = list(leaves)
            for _ in range(copies - 1):
                chain += [next(next_free) for _ in leaves]
            for i, n in enumerate(chain):
                prev_page = chain[i - 1] if i else 0
                next_page = chain[i + 1] if i + 1 < len(chain) else 0
                source = leaves[i % len(leaves)]
                raw = bytearray(template[db.page_offset(source):db.page_offset(source) + ps])
                struct.pack_into("<II", raw, 16, prev_page, next_page)
                sign(raw, n)
                if n == source:
                    template[db.page_offset(n):db.page_offset(n) + ps] = raw
                else:
                    f.seek(db.page_offset(n))
                    f.write(raw)
            root = db.table_pages(name)[0]
            fdp = struct.unpack_from("<I", template, db.page_offset(root) + 24)[0]
            extra.update(branch_pages(db, chain, next_free, root, fdp))
        for n, raw in extra.items():
            raw = sign(bytearray(raw), n)
            if n <= last:
                template[db.page_offset(n):db.page_offset(n) + ps] = raw
            else:
                f.seek(db.page_offset(n))
                f.write(raw)
        f.seek(0)
        f.write(template)


def warm(path: Path) -> None:
    """Reads the file once (untimed), so that every measurement starts with it in the
    page cache: the export's output can push it out, and the disk is not what is measured."""
    with open(path, "rb", buffering=0) as f:
        while f.read(16 << 20):
            pass


def child(what: str, path: Path, out: Path, *extra: str) -> dict:
    warm(path)
    run = subprocess.run([sys.executable, "-c", CHILD, what, str(path), str(out), *extra],
                         capture_output=True, text=True, check=True)
    return json.loads(run.stdout.strip().splitlines()[-1])


def measure(path: Path, work: Path) -> dict:
    size_mb = path.stat().st_size / 1e6
    rows = {}
    for what in ("open", "export_all", "export_all_null", "iter_table", "carve_all"):
        out = work / "export"
        try:
            r = child(what, path, out)
        except subprocess.CalledProcessError as exc:
            print(f"  {what:15s} failed: {exc.stderr.strip().splitlines()[-1]}", flush=True)
            shutil.rmtree(out, ignore_errors=True)
            continue
        if what == "export_all":
            r["output_mb"] = sum(p.stat().st_size for p in out.iterdir()) / 1e6
        shutil.rmtree(out, ignore_errors=True)
        r["mb_per_s"] = size_mb / r["seconds"]
        rows[what] = r
        print(f"  {what:15s} {r['seconds']:8.2f} s (cpu {r['cpu_seconds']:7.2f} s)  {r['mb_per_s']:8.1f} MB/s  "
              f"VmHWM {r['vmhwm_mb']:6.1f} MB  "
              + " ".join(f"{k}={v:.0f}" if isinstance(v, float) else f"{k}={v}" for k, v in r.items()
                         if k not in ("seconds", "cpu_seconds", "mb_per_s", "vmhwm_mb")), flush=True)
    return rows


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--gb", type=float, default=4.3, help="size of the large database in GB")
    ap.add_argument("--template-records", type=int, default=40_000)
    ap.add_argument("--only-large", action="store_true")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = ap.parse_args()

    work = Path(tempfile.mkdtemp(prefix="quarrow-scale-"))
    try:
        start = time.perf_counter()
        db, template = build_template(args.template_records, work)
        print(f"template: {len(template) / 1e6:.1f} MB in {time.perf_counter() - start:.1f} s", flush=True)
        # Only the leaf pages are repeated: the copies make up the size beyond the template.
        per_copy = PAGE_SIZE * sum(len(db.table_leaf_pages(t)) for t in TABLES)
        large_copies = max(1, 1 + -(-int(args.gb * 1e9 - len(template)) // per_copy))
        sizes = [("large", large_copies)] if args.only_large else \
            [("small", max(1, round(large_copies / 10))), ("large", large_copies)]
        results = {}
        for label, copies in sizes:
            path = work / f"{label}.edb"
            start = time.perf_counter()
            write_scaled(path, db, bytearray(template), copies)
            pages = path.stat().st_size // PAGE_SIZE - 2
            print(f"{label}: {path.stat().st_size / 1e9:.2f} GB, {pages} pages ({copies} copies) "
                  f"written in {time.perf_counter() - start:.1f} s", flush=True)
            results[label] = measure(path, work)
            if label == "small":
                r = child("ratio", path, work / "none", TABLES[-1])
                print(f"  read_table {r['read_table']:,.0f} rec/s, iter_table {r['iter_table']:,.0f} rec/s "
                      f"({r['iter_table'] / r['read_table']:.0%}) over {r['records']} records", flush=True)
            path.unlink()
        if "small" in results:
            for what in results["large"]:
                if what not in results["small"]:
                    continue
                big, small = results["large"][what], results["small"][what]
                print(f"{what:15s} large/small: wall {big['seconds'] / small['seconds']:.1f}x, "
                      f"cpu {big['cpu_seconds'] / small['cpu_seconds']:.1f}x", flush=True)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
