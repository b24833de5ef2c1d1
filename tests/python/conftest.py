"""Shared fixtures: the real ESE files beside the checkout, and databases written
by the esefile writer (testing/esefile) into a test's temporary directory."""

from __future__ import annotations

import itertools
from pathlib import Path

import pytest

from esefile import EseFile  # noqa: E402

from helpers import SHARED_DATA, SHARED_LOGS


@pytest.fixture(scope="session")
def data_dir() -> Path:
    """The folder of real ESE files (see helpers.shared_folder); skips the test where
    there is none."""
    if SHARED_DATA is None:
        pytest.skip("real ESE files not available (../shared/data, or QUARROW_DATA)")
    return SHARED_DATA


@pytest.fixture(scope="session")
def logs_dir() -> Path:
    """The folder of real log sets, one folder each; skips the test where there is none."""
    if SHARED_LOGS is None:
        pytest.skip("real log sets not available (../shared/logs, or QUARROW_LOGS)")
    return SHARED_LOGS


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

