"""What several test files share: where the real files are, the quarrow program under
test, and the two time scales ESE files store dates in (OLE automation dates and
FILETIMEs)."""

from __future__ import annotations

import datetime as dt
import math
import os
import shutil
import struct
import subprocess
import sys
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]


def shared_folder(kind: str) -> Path | None:
    """The folder of real files of `kind`, "data" or "logs": the one QUARROW_DATA or
    QUARROW_LOGS names (as for scripts/snapshot_outputs.py; QUARROW_TEST_DATA, the older
    name, still counts for data), else ../shared/{kind} beside the checkout or beside its
    parent folder (a worktree kept in a folder of its own). None when there is none."""
    override = os.environ.get("QUARROW_DATA" if kind == "data" else "QUARROW_LOGS")
    if kind == "data" and not override:
        override = os.environ.get("QUARROW_TEST_DATA")
    candidates = [Path(override)] if override else [REPO_ROOT.parent / "shared" / kind,
                                                     REPO_ROOT.parents[1] / "shared" / kind]
    return next((p for p in candidates if p.is_dir()), None)


SHARED_DATA = shared_folder("data")
SHARED_LOGS = shared_folder("logs")

# The program installed beside this interpreter (the build under test), else the one on
# PATH; None when there is none.
QUARROW = shutil.which("quarrow", path=str(Path(sys.executable).parent)) or shutil.which("quarrow")


def run_quarrow(*args, expect: int = 0, timeout: int = 300) -> subprocess.CompletedProcess:
    """Runs the program (skipping the test when it is not installed) and asserts its
    exit status; the result holds stdout and stderr as bytes."""
    import pytest

    if QUARROW is None:
        pytest.skip("the quarrow program is not installed beside this interpreter")
    p = subprocess.run([QUARROW, *map(str, args)], capture_output=True, timeout=timeout)
    assert p.returncode == expect, p.stderr.decode(errors="replace")
    return p

OLE_EPOCH = dt.datetime(1899, 12, 30)
FILETIME_EPOCH = dt.datetime(1601, 1, 1)


def _epoch(epoch: dt.datetime, when: dt.datetime) -> dt.datetime:
    return epoch.replace(tzinfo=when.tzinfo)


def ole_days(when: dt.datetime) -> float:
    """`when` as an OLE automation date: days since 1899-12-30."""
    return (when - _epoch(OLE_EPOCH, when)) / dt.timedelta(days=1)


def filetime(when: dt.datetime) -> int:
    """`when` as a FILETIME: 100-nanosecond ticks since 1601-01-01."""
    return (when - _epoch(FILETIME_EPOCH, when)) // dt.timedelta(microseconds=1) * 10


def double_bits(x: float) -> int:
    """The 64 bits of a little-endian double, as a DateTime column stores it."""
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def ole_bits(when: dt.datetime) -> int:
    return double_bits(ole_days(when))


def ole_us(days: float) -> int | None:
    """Microseconds since 1970 of an OLE date as the module rounds them (the fraction of
    a negative date counts forwards from its whole day), None where they do not fit."""
    if not math.isfinite(days):
        return None
    whole = math.trunc(days)
    x = (whole + abs(days - whole) - 25569.0) * 86400e6
    us = math.copysign(math.floor(abs(x) + 0.5), x)
    return int(us) if -2.0**63 <= us < 2.0**63 else None


def datetime_us(bits: int) -> int | None:
    """DateTime bits: 0 and OLE dates of years 100-9999 (magnitude 2**-20 days or more)
    as OLE dates, anything else as a FILETIME of 1601-9999, else None."""
    days = struct.unpack("<d", struct.pack("<Q", bits))[0]
    if bits == 0 or (abs(days) >= 2.0**-20 and math.isfinite(days) and -657435.0 < days < 2958466.0):
        return ole_us(days)
    return bits // 10 - 11644473600000000 if bits <= 2650467743999999999 else None
