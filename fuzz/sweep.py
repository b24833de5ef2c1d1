#!/usr/bin/env python3
"""Mutation sweep: damaged copies of seed databases and logs through the Python module.

For every seed database, many mutated copies are written (bit flips; bytes set to
0x00, 0xFF, 0x7F or 0x80; next/previous page links, branch child pages and tag words
rewritten to point at other pages, the page itself or past the end of the file;
pages swapped or duplicated; truncation at page and non-page boundaries). Each copy
is opened, every table is read and described, everything is exported to JSON Lines
every carving scope is run and the report is written, in a forked child with a time limit and an address
space limit; the views of a recognised profile are read too. The `quarrow` program
(when installed) then runs export, dump, info, carve, report and the view commands on the
same file, on two threads. Seed transaction logs (*.log) are mutated the same way,
usually with their checksums recomputed afterwards, and go through EseLogs and
`quarrow logs`. The logs of the real Server 2022 vector (../shared/logs/srum-ws2022,
when present) are seeds too: a mutated generation is put in a folder with the other,
intact generations and replayed onto the vector's database (EseDatabase(logs=...) and
`quarrow replay`). The outcome of each file is one of:

  clean      every call returned a result
  exception  at least one call raised a Python exception (counted by message kind)
  crash      the child (or the program) died from a signal other than the time limit's
  hang       the child ran out of time
  memory     the child hit the memory limit (MemoryError)

Crashes, hangs and memory-limit hits are faults: their files are kept in --faults
and the sweep exits with status 1.

usage: sweep.py [--seeds DIR] [--count N] [--timeout S] [--memory-mb M] [--seed R]
"""

from __future__ import annotations

import argparse
import collections
import ctypes
import os
import random
import re
import resource
import shutil
import signal
import struct
import sys
import tempfile
import time
import warnings
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SCOPES = ("slack", "all", "tag_data", "lv_all", "lv_slack")

# ---------------------------------------------------------------------------
# Mutations. Each takes (data: bytearray, page_size, rng) and changes data in place
# (or returns a new bytearray for length changes).
# ---------------------------------------------------------------------------


def _pages(data, page_size):
    return max(0, len(data) // page_size - 1)  # page numbers 0 .. n-1 (file page n+1)


def _page_start(n, page_size):
    return (n + 1) * page_size


def _target_page(rng, total, own):
    """A page number that leads somewhere interesting: another page, the page itself,
    page 0, just past the end, far past the end, or the largest numbers."""
    choice = rng.randrange(7)
    if choice == 0 and total > 0:
        return rng.randrange(total)
    if choice == 1:
        return own
    if choice == 2:
        return 0
    if choice == 3:
        return total + rng.randrange(3)
    if choice == 4:
        return rng.choice((100000, 100001, 0x7FFFFFFF))
    if choice == 5:
        return 0xFFFFFFFF
    return max(1, own - 1)


def _used_page(data, page_size, rng):
    """A random page that is not all zero (falls back to any page)."""
    total = _pages(data, page_size)
    if total == 0:
        return None
    for _ in range(8):
        n = rng.randrange(total)
        start = _page_start(n, page_size)
        if any(data[start + 36:start + 40]) or data[start + page_size - 4:start + page_size] != b"\0\0\0\0":
            return n
    return rng.randrange(total)


def m_bit_flips(data, page_size, rng):
    for _ in range(rng.randint(1, 8)):
        i = rng.randrange(len(data))
        data[i] ^= 1 << rng.randrange(8)
    return data


def m_magic_bytes(data, page_size, rng):
    value = rng.choice((0x00, 0xFF, 0x7F, 0x80))
    n = _used_page(data, page_size, rng)
    for _ in range(rng.randint(1, 8)):
        if n is not None and rng.random() < 0.7:
            # Inside a used page: its header, its tag array or its data.
            start = _page_start(n, page_size)
            region = rng.randrange(3)
            if region == 0:
                i = start + rng.randrange(40)
            elif region == 1:
                i = start + page_size - 1 - rng.randrange(min(page_size, 64))
            else:
                i = start + rng.randrange(page_size)
        else:
            i = rng.randrange(len(data))
        if i < len(data):
            data[i] = value
    return data


def m_page_links(data, page_size, rng):
    n = _used_page(data, page_size, rng)
    if n is None:
        return data
    total = _pages(data, page_size)
    start = _page_start(n, page_size)
    field = rng.choice((16, 20, 20, 20))  # previous or (mostly) next page
    struct.pack_into("<I", data, start + field, _target_page(rng, total, n))
    return data


def _tags(data, page_size, n):
    start = _page_start(n, page_size)
    count = struct.unpack_from("<H", data, start + 34)[0] & 0x0FFF
    count = min(count, page_size // 4)
    return start, count


def m_child_pages(data, page_size, rng):
    """Rewrites the last 4 bytes of a tag's value (a branch entry's child page, or
    whatever lies there on other pages)."""
    n = _used_page(data, page_size, rng)
    if n is None:
        return data
    start, count = _tags(data, page_size, n)
    if count < 1:
        return m_page_links(data, page_size, rng)
    i = rng.randrange(count)
    tag = start + page_size - 4 * (i + 1)
    size, offset = struct.unpack_from("<HH", data, tag)
    large = page_size > 8192
    mask = 0x7FFF if large else 0x1FFF
    header = 80 if large else 40
    end = start + header + (offset & mask) + (size & mask)
    if (size & mask) >= 4 and end <= start + page_size:
        struct.pack_into("<I", data, end - 4, _target_page(rng, _pages(data, page_size), n))
    return data


def m_tag_words(data, page_size, rng):
    n = _used_page(data, page_size, rng)
    if n is None:
        return data
    start, count = _tags(data, page_size, n)
    choice = rng.randrange(5)
    if choice == 0 or count == 0:
        # The tag count: zero, one, huge, or one more than the tags.
        struct.pack_into("<H", data, start + 34, rng.choice((0, 1, count + 1, 0x0FFF, 0xFFFF)))
        return data
    i = rng.randrange(count)
    tag = start + page_size - 4 * (i + 1)
    size, offset = struct.unpack_from("<HH", data, tag)
    if choice == 1:  # size past the page end
        size = (size & 0xE000) | rng.choice((0x1FFF, 0x7FFF, page_size & 0x7FFF))
    elif choice == 2:  # offset into the tag array or past the end
        offset = (offset & 0xE000) | rng.choice(((page_size - 4 * count - 40) & 0x7FFF, 0x1FFF, 0x7FFF, 0))
    elif choice == 3:  # copy another tag (overlapping values)
        j = rng.randrange(count)
        size, offset = struct.unpack_from("<HH", data, start + page_size - 4 * (j + 1))
    else:  # flag bits
        offset ^= rng.choice((0x2000, 0x4000, 0x8000, 0xE000))
    struct.pack_into("<HH", data, tag, size, offset)
    return data


def m_swap_pages(data, page_size, rng):
    total = _pages(data, page_size)
    if total < 2:
        return data
    a, b = rng.randrange(total), rng.randrange(total)
    sa, sb = _page_start(a, page_size), _page_start(b, page_size)
    if sa + page_size > len(data) or sb + page_size > len(data):
        return data
    pa, pb = bytes(data[sa:sa + page_size]), bytes(data[sb:sb + page_size])
    if rng.random() < 0.5:
        data[sa:sa + page_size], data[sb:sb + page_size] = pb, pa  # swap
    else:
        data[sb:sb + page_size] = pa  # duplicate a over b
    return data


def m_truncate(data, page_size, rng):
    total = _pages(data, page_size)
    choice = rng.randrange(3)
    if choice == 0 and total > 0:
        size = _page_start(rng.randrange(total + 1), page_size)  # at a page boundary
    elif choice == 1 and total > 0:
        size = _page_start(rng.randrange(total + 1), page_size) + rng.randrange(1, page_size)
    else:
        size = rng.randrange(len(data) + 1)
    return data[:size]


def m_catalog_fields(data, page_size, rng):
    """Damages the catalog's root page 4 (its records say where every table lives)."""
    start = _page_start(4, page_size)
    if start + page_size > len(data):
        return m_bit_flips(data, page_size, rng)
    for _ in range(rng.randint(1, 4)):
        i = start + 40 + rng.randrange(page_size - 40)
        if rng.random() < 0.5 and i + 4 <= start + page_size:
            struct.pack_into("<I", data, i, _target_page(rng, _pages(data, page_size), 4))
        else:
            data[i] = rng.choice((0x00, 0xFF, 0x7F, 0x80))
    return data


def m_page_owner(data, page_size, rng):
    """Names another owner in a page's header (offset 24): readers keep to their own
    tree's pages, so a page that changes hands drops out of one table."""
    n = _used_page(data, page_size, rng)
    if n is None:
        return data
    start = _page_start(n, page_size)
    other = _page_start(_target_page(rng, _pages(data, page_size), n), page_size)
    owner = struct.unpack_from("<I", data, other + 24)[0] if other + 28 <= len(data) else 0
    struct.pack_into("<I", data, start + 24, rng.choice((0, 1, 0xFFFFFFFF, owner, owner + 1)))
    return data


def m_node_flags(data, page_size, rng):
    """Sets or clears the deleted and versioned flags of some tags (classic layout:
    the top bits of the offset word), and changes catalog row types to the ones the
    reader passes over (callbacks, streaming-file trees, unknown codes)."""
    n = 4 if rng.random() < 0.3 else _used_page(data, page_size, rng)
    if n is None:
        return data
    start, count = _tags(data, page_size, n)
    if start + page_size > len(data) or count == 0:
        return data
    for _ in range(rng.randint(1, 3)):
        tag = start + page_size - 4 * (rng.randrange(count) + 1)
        size, offset = struct.unpack_from("<HH", data, tag)
        if rng.random() < 0.6:
            offset ^= rng.choice((0x2000, 0x4000, 0x6000))
            struct.pack_into("<HH", data, tag, size, offset)
        elif n == 4:
            at = start + 40 + (offset & 0x1FFF)
            # A catalog row's type sits 8 bytes into its data, after the entry's key.
            key = struct.unpack_from("<H", data, at)[0] & 0x7FFF if at + 2 <= len(data) else 0
            i = at + 2 + key + 8
            if i + 2 <= start + page_size:
                struct.pack_into("<H", data, i, rng.choice((0, 5, 6, 7, 9, 0xFFFF)))
    return data


MUTATIONS = (
    m_bit_flips, m_magic_bytes, m_page_links, m_child_pages, m_tag_words,
    m_swap_pages, m_truncate, m_catalog_fields, m_page_owner, m_node_flags,
)


LOG_MUTATIONS = (m_bit_flips, m_magic_bytes, m_truncate)


def mutate_log(seed: bytes, rng: random.Random) -> tuple[bytes, str]:
    """A transaction-log seed: the same byte mutations, then (most of the time) the header
    and segment checksums recomputed, so that the damage reaches the records."""
    from esefile import SIGNATURE, _xor32  # noqa: PLC0415
    from esefile.log import segment_checksum  # noqa: PLC0415
    data = bytearray(seed)
    names = []
    for _ in range(rng.choice((1, 1, 2, 3))):
        m = rng.choice(LOG_MUTATIONS)
        names.append(m.__name__[2:])
        data = m(data, 4096, rng)
    if len(data) >= 4096 and rng.random() < 0.7:
        names.append("rechecksum")
        for i in range(1, len(data) // 4096):
            seg = bytes(data[i * 4096:(i + 1) * 4096])
            if seg.strip(b"\0"):
                data[i * 4096:i * 4096 + 8] = segment_checksum(seg, i)
        struct.pack_into("<I", data, 0, _xor32(bytes(data[4:4096])) ^ SIGNATURE)
    return bytes(data), "+".join(names)


def mutate(seed: bytes, rng: random.Random) -> tuple[bytes, str]:
    page_size = struct.unpack_from("<I", seed, 236)[0] if len(seed) >= 240 else 4096
    if page_size not in (4096, 8192, 16384, 32768):
        page_size = 4096
    data = bytearray(seed)
    names = []
    for _ in range(rng.choice((1, 1, 1, 2, 3))):
        m = rng.choice(MUTATIONS)
        names.append(m.__name__[2:])
        data = m(data, page_size, rng)
    return bytes(data), "+".join(names)


# ---------------------------------------------------------------------------
# The child: every public call of the module on one file.
# ---------------------------------------------------------------------------


def message_kind(exc: BaseException) -> str:
    text = str(exc)
    text = re.sub(r"0x[0-9a-fA-F]+", "X", text)
    text = re.sub(r"\d+", "N", text)
    text = re.sub(r"'[^']*'|\"[^\"]*\"", "S", text)
    # Table names come from the damaged catalog: keep the kind, not the name.
    text = re.sub(r"(table name for a file name: |Table not found: |Column not found: ).*", r"\1S", text,
                  flags=re.DOTALL)
    text = re.sub(r"\s+", " ", text)
    return f"{type(exc).__name__}: {text[:90]}"


class _ArrowArray(ctypes.Structure):
    pass


_ArrowArray._fields_ = [("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
                        ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64),
                        ("buffers", ctypes.c_void_p), ("children", ctypes.c_void_p),
                        ("dictionary", ctypes.c_void_p),
                        ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(_ArrowArray))),
                        ("private_data", ctypes.c_void_p)]


class _ArrowStream(ctypes.Structure):
    pass


_ArrowStream._fields_ = [("get_schema", ctypes.c_void_p),
                         ("get_next", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_ArrowStream),
                                                       ctypes.POINTER(_ArrowArray))),
                         ("get_last_error", ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.POINTER(_ArrowStream))),
                         ("release", ctypes.c_void_p), ("private_data", ctypes.c_void_p)]


def pull_arrow_stream(table) -> None:
    """Pulls every batch of an arrow_table's stream through the C stream interface
    (no Arrow library in the child); a failed pull raises OSError with its message."""
    capsule = table.__arrow_c_stream__()
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    stream = ctypes.cast(get_pointer(capsule, b"arrow_array_stream"), ctypes.POINTER(_ArrowStream))
    while True:
        batch = _ArrowArray()
        status = stream.contents.get_next(stream, ctypes.byref(batch))
        if status != 0:
            raise OSError(status, (stream.contents.get_last_error(stream) or b"").decode("utf-8", "replace"))
        if not batch.release:
            return
        batch.release(ctypes.byref(batch))


def recording_caller(kinds: list[str]):
    """A call(fn, *args) that returns fn's result, or None after adding the message
    kind of the exception it raised to `kinds` (MemoryError goes through)."""
    def call(fn, *args):
        try:
            return fn(*args)
        except MemoryError:
            raise
        except Exception as exc:  # noqa: BLE001 - every exception is an outcome here
            kinds.append(message_kind(exc))
            return None
    return call


def exercise(quarrow, path: str, export_dir: str) -> list[str]:
    """Runs every call; returns the message kinds of the exceptions raised."""
    kinds: list[str] = []
    call = recording_caller(kinds)

    db = call(quarrow.EseDatabase, path)
    if db is None:
        return kinds
    with db:
        _ = (db.path, db.page_size, db.total_pages, repr(db))
        tables = call(db.get_tables) or []
        for name in tables:
            call(db.get_table_schema, name)
            call(db.read_table, name)
            call(lambda n: [row for row in db.iter_table(n)], name)
            table = call(lambda n: db.arrow_table(n, batch_rows=100), name)
            if table is not None:
                call(pull_arrow_stream, table)
            # Threads, a part of the leaf pages, and one column only.
            first = [c["name"] for c in (call(db.get_table_schema, name) or [])][:1]
            if first:
                call(lambda n: db.read_table(n, columns=first), name)
            part = call(lambda n: db.arrow_table(n, batch_rows=100, threads=2, part=(1, 2),
                                                 columns=first or None), name)
            if part is not None:
                call(pull_arrow_stream, part)
            call(db.get_table_indexes, name)
            recovered = call(db.recover_records, name) or []
            for r in recovered:
                _ = (r["live"], r["missing_long_values"])
        call(db.catalog_problems)
        # The views of the file's profile (joins and path trees read other tables).
        for view in call(db.views) or []:
            call(db.read_view, view)
            arrow = call(lambda v: db.arrow_view(v, batch_rows=100), view)
            if arrow is not None:
                call(pull_arrow_stream, arrow)
        call(db.verify)
        call(db.header_info)
        call(lambda: sum(1 for _ in db.timeline(sort_memory_mb=1)))
        call(db.report, export_dir + "-report.html")
        call(db.export_all, export_dir)
        for scope in SCOPES:
            call(db.carve_utf16le_strings_scoped, scope, None, 4, 64)
        call(db.carve_utf16le_strings, "a", 2, 16)
    return kinds


def exercise_logs(quarrow, path: str) -> list[str]:
    """Every call of EseLogs on one (mutated) log file."""
    kinds: list[str] = []
    call = recording_caller(kinds)

    logs = call(quarrow.EseLogs, path)
    if logs is None:
        return kinds
    _ = (repr(logs), logs.record_count, logs.checksum_failed)
    for method in (logs.files, logs.checkpoint, logs.generations, logs.gaps, logs.chain, logs.problems,
                   logs.timeline):
        call(method)
    records = call(logs.records)
    if records is not None:
        call(lambda: sum(1 for _ in records))
        call(records.problems)
    if REPLAY:
        db = call(lambda: quarrow.EseDatabase(REPLAY[0], logs=REPLAY[1]))
        if db is not None:
            for name in call(db.get_tables) or ():
                call(lambda n=name: sum(1 for _ in db.iter_table(n)))
        # The timeline's row changes of the mutated logs, read with the file's catalog.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            call(lambda: sum(1 for _ in quarrow.EseDatabase(REPLAY[0]).timeline(logs=REPLAY[1])))
    return kinds


def exercise_program(program: str, path: str, export_dir: str, timeout: float) -> str | None:
    """Runs the command-line program on the file; returns a fault description or None.
    Exit statuses 0 and 1 are outcomes (1: some table failed); a signal or a status
    other than those is a fault, and so is running out of time."""
    import subprocess  # noqa: PLC0415
    runs = (["export", path, "-o", export_dir + "-cli", "-j", "2", "-q"],
            ["export", path, "-o", export_dir + "-csv", "-j", "2", "-q", "--format", "csv"],
            ["info", "--count", "--json", path],
            ["dump", path, "MSysObjects", "-q"],
            ["dump", path, "MSysObjects", "-q", "--format", "table", "--limit", "200"],
            ["carve", path, "--scope", "all", "-m", "4", "-k", "64", "-j", "2", "-q"],
            ["verify", "--json", path],
            ["schema", "--json", path],
            ["recover", path, "MSysObjects"],
            ["recover", "--exclude-live", "-q", path, "MSysObjects"],
            ["views", "--json", path],
            ["export", "--views", path, "-o", export_dir + "-views", "-j", "2", "-q", "--force"],
            ["timeline", path, "-q", "-j", "2"],
            ["timeline", path, "-q", "-f", "csv", "--sort-memory", "1"],
            ["report", path, "-o", export_dir + "-report", "-q"])
    if path.endswith(".log"):
        runs = (["logs", path], ["logs", path, "--json"], ["logs", path, "--records"], ["logs", path, "--timeline"],
                ["timeline", "--logs", path, "-q"])
        if REPLAY:
            runs += (["replay", REPLAY[0], "--logs", REPLAY[1], "-o", REPLAY[2], "--force"],
                     ["timeline", REPLAY[0], "--logs", REPLAY[1], "-q"])
    for args in runs:
        try:
            p = subprocess.run([program, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=timeout)
        except subprocess.TimeoutExpired:
            return f"hang: quarrow {args[0]}"
        if p.returncode not in (0, 1):
            return f"program: quarrow {args[0]} exit status {p.returncode}"
    return None


def run_child(quarrow, path: str, export_dir: str, timeout: float, memory_mb: int, write_fd: int):
    resource.setrlimit(resource.RLIMIT_AS, (memory_mb << 20, memory_mb << 20))
    cpu = int(timeout) + 1
    resource.setrlimit(resource.RLIMIT_CPU, (cpu, cpu + 1))
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    signal.signal(signal.SIGALRM, signal.SIG_DFL)
    signal.setitimer(signal.ITIMER_REAL, timeout)
    try:
        kinds = exercise_logs(quarrow, path) if path.endswith(".log") else exercise(quarrow, path, export_dir)
        report = "ok\n" + "\n".join(kinds)
        if PROGRAM:
            # The program gets its own time (the CPU limit applies to each process on its
            # own): the module's calls may have used most of ours.
            signal.setitimer(signal.ITIMER_REAL, 0)
            fault = exercise_program(PROGRAM, path, export_dir, timeout)
            if fault:
                report = fault + "\n"
    except MemoryError:
        report = "memory\n"
    os.write(write_fd, report.encode("utf-8", "replace")[:60000])
    os._exit(0)


def run_one(quarrow, path: str, export_dir: str, timeout: float, memory_mb: int) -> tuple[str, list[str]]:
    read_fd, write_fd = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_fd)
        try:
            run_child(quarrow, path, export_dir, timeout, memory_mb, write_fd)
        finally:
            os._exit(3)
    os.close(write_fd)
    chunks = []
    while True:
        chunk = os.read(read_fd, 65536)
        if not chunk:
            break
        chunks.append(chunk)
    os.close(read_fd)
    _, status = os.waitpid(pid, 0)
    report = b"".join(chunks).decode("utf-8", "replace").split("\n")
    if os.WIFSIGNALED(status):
        sig = os.WTERMSIG(status)
        if sig in (signal.SIGALRM, signal.SIGXCPU, signal.SIGKILL):
            return "hang", []
        return "crash", [f"signal {signal.Signals(sig).name}"]
    if report[0] == "memory":
        return "memory", []
    if report[0].startswith("hang: "):
        return "hang", [report[0][6:]]
    if report[0].startswith("program: "):
        return "crash", [report[0][9:]]
    if report[0] != "ok" or os.WEXITSTATUS(status) != 0:
        return "crash", [f"exit status {os.WEXITSTATUS(status)}"]
    kinds = [k for k in report[1:] if k]
    return ("exception" if kinds else "clean"), kinds


PROGRAM: str | None = None
# While a real-vector log is mutated: (database, log folder, output) of its replay.
REPLAY: tuple[str, str, str] | None = None
REPLAY_SET = "srum-ws2022"


def replay_vector() -> Path | None:
    """The real log set whose generations are mutated and replayed, if present."""
    base = Path(os.environ.get("QUARROW_LOGS") or ROOT.parent / "shared" / "logs")
    folder = base / REPLAY_SET
    return folder if (folder / "SRUDB.dat").is_file() else None


def find_program() -> str | None:
    import sysconfig  # noqa: PLC0415
    candidate = Path(sysconfig.get_path("scripts")) / "quarrow"
    return str(candidate) if candidate.is_file() else shutil.which("quarrow")


def load_seeds(seed_dir: Path | None, max_size: int) -> list[tuple[str, bytes]]:
    if seed_dir is None:
        seed_dir = Path(tempfile.mkdtemp(prefix="quarrow-seeds-"))
        import make_seeds  # noqa: PLC0415
        for name, data in make_seeds.seeds():
            (seed_dir / f"{name}.edb").write_bytes(data)
        for name, data in make_seeds.log_seeds():
            (seed_dir / f"{name}.log").write_bytes(data)
        vector = replay_vector()
        if vector is not None:
            for log in sorted(vector.glob("*.log")):
                (seed_dir / f"replay-{log.name}").write_bytes(log.read_bytes())
    seeds = []
    for path in sorted(seed_dir.iterdir()):
        if path.is_file() and 0 < path.stat().st_size <= max_size:
            seeds.append((path.name, path.read_bytes()))
    return seeds


def main() -> int:
    parser = argparse.ArgumentParser(description="Mutation sweep over the quarrow module.")
    parser.add_argument("--seeds", type=Path, default=None,
                        help="directory of seed databases (default: written by fuzz/make_seeds.py)")
    parser.add_argument("--count", type=int, default=500, help="mutated files in all")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds per file")
    parser.add_argument("--memory-mb", type=int, default=1024, help="address space limit per file")
    parser.add_argument("--max-seed-size", type=int, default=4 << 20)
    parser.add_argument("--seed", type=int, default=1, help="random seed")
    parser.add_argument("--faults", type=Path, default=Path(tempfile.gettempdir()) / "quarrow-sweep-faults")
    parser.add_argument("--program", default=None,
                        help="the quarrow program (default: the one installed beside this Python)")
    parser.add_argument("--no-program", action="store_true", help="exercise the module only")
    args = parser.parse_args()
    global PROGRAM
    if not args.no_program:
        PROGRAM = args.program or find_program()

    import quarrow  # imported once; every child inherits it

    seeds = load_seeds(args.seeds, args.max_seed_size)
    if not seeds:
        print("no seed databases", file=sys.stderr)
        return 2
    rng = random.Random(args.seed)
    outcomes = collections.Counter()
    kinds = collections.Counter()
    faults = []
    work = Path(tempfile.mkdtemp(prefix="quarrow-sweep-"))
    began = time.monotonic()
    try:
        for k in range(args.count):
            seed_name, seed = seeds[k % len(seeds)]
            is_log = seed_name.endswith(".log")
            data, how = mutate_log(seed, rng) if is_log else mutate(seed, rng)
            path = work / ("mutated.log" if is_log else "mutated.edb")
            global REPLAY
            REPLAY = None
            vector = replay_vector() if seed_name.startswith("replay-") else None
            if vector is not None:
                # The mutated generation under its own name among the intact others.
                folder = work / "replay-logs"
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir()
                for other in vector.iterdir():
                    if other.suffix in (".log", ".chk", ".jrs") and other.name != seed_name[len("replay-"):]:
                        shutil.copyfile(other, folder / other.name)
                path = folder / seed_name[len("replay-"):]
                db_copy = work / "replay-db.dat"
                if not db_copy.exists():
                    shutil.copyfile(vector / "SRUDB.dat", db_copy)
                    os.chmod(db_copy, 0o444)
                REPLAY = (str(db_copy), str(folder), str(work / "replayed.dat"))
            path.write_bytes(data)
            os.chmod(path, 0o444)
            export_dir = work / "export"
            outcome, found = run_one(quarrow, str(path), str(export_dir), args.timeout, args.memory_mb)
            for folder in (export_dir, f"{export_dir}-cli", f"{export_dir}-csv"):
                shutil.rmtree(folder, ignore_errors=True)
            outcomes[outcome] += 1
            kinds.update(found if outcome == "exception" else ())
            if outcome in ("crash", "hang", "memory"):
                args.faults.mkdir(parents=True, exist_ok=True)
                keep = args.faults / f"{outcome}-{k}-{seed_name}"
                keep.write_bytes(data)
                faults.append(f"{outcome}: {keep} ({how}) {' '.join(found)}")
                print(faults[-1], flush=True)
            os.chmod(path, 0o644)
            path.unlink()
            if (k + 1) % 1000 == 0:
                print(f"... {k + 1} files, {dict(outcomes)}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    elapsed = time.monotonic() - began
    print(f"{args.count} mutated files from {len(seeds)} seeds in {elapsed:.0f} s")
    for outcome in ("clean", "exception", "crash", "hang", "memory"):
        print(f"  {outcome:10} {outcomes[outcome]}")
    print("exceptions by message kind:")
    for kind, n in kinds.most_common():
        print(f"  {n:7}  {kind}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
