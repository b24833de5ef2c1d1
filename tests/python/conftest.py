"""Shared fixtures: the real ESE files beside the checkout, and databases written
by the esefile writer (testing/esefile) into a test's temporary directory."""

from __future__ import annotations

import itertools
import os
from pathlib import Path

import pytest

from esefile import EseFile  # noqa: E402

REPO_ROOT = Path(__file__).resolve().parents[2]
# Real databases live outside the repository (../shared/data from its root, or the
# folder QUARROW_TEST_DATA names, for checkouts elsewhere).
SHARED_DATA = Path(os.environ.get("QUARROW_TEST_DATA") or REPO_ROOT.parent / "shared" / "data")


@pytest.fixture(scope="session")
def data_dir() -> Path:
    """The folder of real ESE files; skips the test where it is absent."""
    if not SHARED_DATA.is_dir():
        pytest.skip(f"real ESE files not available ({SHARED_DATA})")
    return SHARED_DATA


def write_database(directory: Path, source=(), *, name: str | None = None, page_size: int = 4096,
                   counter=itertools.count()) -> str:
    """Write a database file into `directory` and return its path as str.

    `source` is raw file bytes, an EseFile, or an iterable of Tables (laid out in a
    new EseFile with `page_size`)."""
    if isinstance(source, (bytes, bytearray)):
        data = bytes(source)
    elif isinstance(source, EseFile):
        data = source.build()
    else:
        db = EseFile(page_size=page_size)
        for table in source:
            db.add_table(table)
        data = db.build()
    path = Path(directory) / (name or f"db{next(counter)}.edb")
    path.write_bytes(data)
    return str(path)


@pytest.fixture
def write_db(tmp_path):
    """write_db(source=(), *, name=None, page_size=4096) -> path: see write_database."""
    def write(source=(), **kwargs) -> str:
        return write_database(tmp_path, source, **kwargs)
    return write


@pytest.fixture
def empty_db(write_db) -> str:
    """A valid database whose catalog holds only MSysObjects."""
    return write_db([])

