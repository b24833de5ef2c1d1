"""The databases the Windows engine wrote (../shared/data): every table reads,
record counts and the values their authors stored come out in the module's
representation, and the JSON Lines exports agree with read_table."""

from __future__ import annotations

import datetime
import json
import struct

import pytest

from json_view import as_json_value
from quarrow import EseDatabase

from helpers import SHARED_DATA as DATA

pytestmark = pytest.mark.skipif(DATA is None, reason="real ESE files not available (../shared/data, or QUARROW_DATA)")

FILES = ["basic.edb", "binary.edb", "default.edb", "index.edb", "large.edb", "multi.edb", "search-catalog.edb",
         "srum-small.dat", "text.edb", "ual-current.mdb"]

SYSTEM_COUNTS = {"basic.edb": {"MSysObjects": 87, "MSysObjectsShadow": 87, "MSysObjids": 7, "MSysLocales": 7}}
COUNTS = {
    "basic.edb": {"basic": 2}, "binary.edb": {"binary": 1}, "default.edb": {"default": 1},
    "index.edb": {"index": 1}, "large.edb": {"MSysObjects": 65068, "large": 16}, "multi.edb": {"multi": 2},
    "text.edb": {"text": 1},
    "search-catalog.edb": {"MSysObjects": 128, "MSysObjectsShadow": 0, "namespace": 1373, "string": 994,
                           "file": 912, "backupset": 150, "global": 20, "library": 14},
    "srum-small.dat": {"MSysObjects": 161, "SruDbIdMapTable": 106, "SruDbCheckpointTable": 0,
                       "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}": 203},
    "ual-current.mdb": {"MSysObjects": 467, "ROLE_ACCESS": 3, "CLIENTS": 19, "DNS": 12, "VIRTUALMACHINES": 0},
}
COLUMN_COUNTS = {"basic.edb": {"MSysObjects": 28, "basic": 13}, "large.edb": {"large": 64994},
                 "search-catalog.edb": {"MSysObjects": 27, "namespace": 11, "file": 9},
                 "ual-current.mdb": {"CLIENTS": 374}, "text.edb": {"text": 27}, "default.edb": {"default": 19}}


def ole(year, month, day) -> int:
    """The raw 64 bits of an OLE automation date (days since 1899-12-30 as a double)."""
    days = (datetime.date(year, month, day) - datetime.date(1899, 12, 30)).days
    return struct.unpack("<Q", struct.pack("<d", float(days)))[0]


def u64(x: int) -> int:
    return x & 0xFFFFFFFFFFFFFFFF


FOX = "\U0001F98A"
EXPECTED = {
    ("basic.edb", "basic"): [
        {"Id": 1, "Bit": False, "UnsignedByte": 213, "Short": -1337, "Long": -13371337,
         "Currency": 1337133713371337, "IEEESingle": 1.0, "IEEEDouble": 13371337.13371337,
         "DateTime": ole(1999, 3, 1), "UnsignedLong": 13371337, "LongLong": u64(-13371337),
         "GUID": "3f360af1-6766-46dc-9af2-0dacf295c2a1", "UnsignedShort": 1337},
        {"Id": 2, "Bit": True, "UnsignedByte": 255, "Short": 1339, "Long": 13391339,
         "Currency": u64(-1339133913391339), "IEEESingle": -2.0, "IEEEDouble": -13391339.13391339,
         "DateTime": ole(1337, 6, 9), "UnsignedLong": None, "LongLong": None, "GUID": None, "UnsignedShort": None},
    ],
    ("binary.edb", "binary"): [{
        "Id": 1, "FixedBinary": b"test fixed binary data".ljust(255, b"\0"), "NullableFixedBinary": None,
        "Binary": b"test binary data", "NullableBinary": None, "MaxBinary": b"test max binary data " + b"a" * 70,
        "TaggedBinary": b"test tagged binary data", "NullableTaggedBinary": None,
        "LongBinary": b"test long binary data " + b"a" * 1000,
        "LongCompressedBinary": b"test long compressed binary data " + b"a" * 1000,
        "MaxLongBinary": b"test max long binary data " + b"a" * 900,
        "MaxLongCompressedBinary": b"test max long compressed binary data " + b"a" * 900}],
    ("text.edb", "text"): [{
        "Id": 1, "FixedASCII": "Fixed ASCII text" + " " * 239,
        # 255 bytes of UTF-16LE: 127 code units and half of one more, which decodes as U+FFFD.
        "FixedUnicode": "Fixed Unicode text " + FOX + " " * 106 + "\ufffd",
        "NullableFixedASCII": None, "NullableFixedUnicode": None,
        "ASCII": "Simple ASCII text", "Unicode": "Simple Unicode text " + FOX, "NullableASCII": None,
        "NullableUnicode": None, "MaxASCII": "Max ASCII text that can't be that long",
        "MaxUnicode": "Max Unicode text that can't be that long " + FOX, "TaggedASCII": "Tagged ASCII text",
        "TaggedUnicode": "Tagged Unicode text " + FOX, "NullableTaggedASCII": None, "NullableTaggedUnicode": None,
        "LongASCII": "Long ASCII text " + "a" * 1024, "LongUnicode": "Long Unicode text " + FOX + " " + "a" * 1024,
        "LongCompressedASCII": "Long compressed ASCII text " + "a" * 1024,
        "LongCompressedUnicode": "Long compressed Unicode text " + FOX + " " + "a" * 1024,
        "LongTinyASCII": "Tiny ASCII", "LongTinyUnicode": "Tiny " + FOX,
        "LongTinyCompressedASCII": "Tiny c ASCII", "LongTinyCompressedUnicode": "Tiny c " + FOX,
        "MaxLongASCII": "Max long ASCII text that can be a bit longer " + "a" * 900,
        "MaxLongUnicode": "Max long Unicode text that can be a bit longer " + FOX + " " + "a" * 900,
        "MaxLongCompressedASCII": "Max long compressed ASCII text that can be a bit longer " + "a" * 900,
        "MaxLongCompressedUnicode": "Max long compressed Unicode text that can be a bit longer " + FOX + " "
                                    + "a" * 900}],
    ("default.edb", "default"): [{
        "Id": 1, "Bit": True, "UnsignedByte": 69, "Short": 0x1234, "Long": 0x12345678,
        "Currency": 0x123456789ABCDEF0, "IEEESingle": 1.0, "IEEEDouble": 2.0, "DateTime": ole(2022, 10, 4),
        "UnsignedLong": 12345678, "LongLong": 0xC001DEADD00D, "GUID": "c001d00d-dead-beef-face-feeddeadbeef",
        "UnsignedShort": 0xF00D, "Binary": b"Short default binary", "ASCII": "Short default ASCII",
        "Unicode": "Short default Unicode " + FOX,
        # Only in the column definitions (defaults), not in the record.
        "LongBinary": None, "LongASCII": None, "LongUnicode": None}],
}


class Opened:
    """One file: its database object and every table read once."""

    def __init__(self, name: str):
        self.db = EseDatabase(str(DATA / name))
        self.tables = {t: self.db.read_table(t) for t in self.db.get_tables()}


_cache: dict[str, Opened] = {}


def opened(name: str) -> Opened:
    if name not in _cache:
        _cache[name] = Opened(name)
    return _cache[name]


@pytest.mark.parametrize("name", FILES)
def test_every_table_reads_with_the_documented_counts(name):
    f = opened(name)
    assert f.db.get_tables()[:4] == ["MSysObjects", "MSysObjectsShadow", "MSysObjids", "MSysLocales"]
    for table, count in {**SYSTEM_COUNTS.get(name, {}), **COUNTS[name]}.items():
        assert len(f.tables[table]) == count, table
    for table, count in COLUMN_COUNTS.get(name, {}).items():
        assert len(f.db.get_table_schema(table)) == count
        assert all(len(row) == count for row in f.tables[table])
    for table, rows in f.tables.items():
        assert list(f.db.iter_table(table)) == rows, table
    if name == "srum-small.dat":
        guid_tables = [t for t in f.tables if t.startswith("{")]
        assert len(guid_tables) == 6 and sum(len(f.tables[t]) for t in guid_tables) == 220


@pytest.mark.parametrize("name, table", list(EXPECTED))
def test_documented_values(name, table, tmp_path):
    f = opened(name)
    expected = EXPECTED[name, table]
    rows = f.tables[table]
    assert rows == expected
    for row in rows:
        for column, value in row.items():
            assert type(value) is type(expected[0][column]) or value is None or expected[0][column] is None, column
    out = tmp_path / "t.jsonl"
    f.db.export_table(table, str(out))
    lines = out.read_text(encoding="utf-8").splitlines()
    assert [json.loads(line) for line in lines] == [{k: as_json_value(v) for k, v in r.items()} for r in expected]


def test_large_pages_every_column_reads_its_number():
    rows = opened("large.edb").tables["large"]
    assert [r["Id"] for r in rows] == list(range(1, 17))
    for k, row in enumerate(rows):
        low, high = 4096 * k, 4096 * k + 4096
        present = {int(c[6:]): v for c, v in row.items() if c.startswith("Column") and v is not None}
        assert present == {n: n for n in range(low, min(high, 64993))}, k
    assert sum(1 for r in rows for c, v in r.items() if c.startswith("Column") and v is not None) == 64993


def test_multi_valued_columns_stay_undecoded():
    rows = opened("multi.edb").tables["multi"]
    assert rows[0]["UnsignedByte"] == b"\x06\x00\x07\x00\x08\x00\x00\x7f\xff"
    assert rows[0]["ASCII"].startswith(b"\x06\x00") and b"this is value 3" in rows[0]["ASCII"]
    assert rows[1]["LongCompressedASCII"].startswith(b"\x06\x00+\x00S\x00")
    assert rows[1]["Bit"] is None and rows[1]["Id"] == 2


@pytest.mark.parametrize("name", FILES)
def test_export_all_agrees_with_read_table(name, tmp_path):
    f = opened(name)
    f.db.export_all(str(tmp_path))
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(t + ".jsonl" for t in f.tables)
    for table, rows in f.tables.items():
        data = (tmp_path / (table + ".jsonl")).read_bytes()
        assert data.endswith(b"\n") or not data
        lines = data.decode("utf-8").split("\n")[:-1]
        assert len(lines) == len(rows), table
        for line, row in zip(lines, rows):
            assert json.loads(line) == {k: as_json_value(v) for k, v in row.items()}, table
