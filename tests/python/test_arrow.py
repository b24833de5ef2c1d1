"""EseDatabase.arrow_table: decoded values through the Arrow PyCapsule protocol."""

from __future__ import annotations

import datetime as dt
import decimal
import gc
import math
import struct
import threading
import uuid

import pytest

pa = pytest.importorskip("pyarrow")

from esefile import (BINARY, BIT, CURRENCY, DATETIME, DOUBLE, FLOAT, GUID, LONG, LONG_BINARY,  # noqa: E402
                     LONG_LONG, LONG_TEXT, MAX, NULL, SHORT, TAGGED_COMPRESSED, TAGGED_LONG_VALUE,
                     TAGGED_MULTI_VALUE, TEXT, UNSIGNED_BYTE, UNSIGNED_LONG, UNSIGNED_SHORT, Column, EseFile,
                     LongValue, Table, compress_7bit, patch, tagged_item)
from quarrow import EseDatabase  # noqa: E402
from helpers import datetime_us  # noqa: E402

MULTI, HAS_DEFAULT, CALLBACK = 0x8, 0x10, 0x80
TWO_VALUES = 0x10


def write(write_db, tables, page_size=4096):
    db = EseFile(page_size=page_size)
    db.checksums = False
    for t in tables:
        db.add_table(t)
    return write_db(db)


def rows(obj):
    """The table as Python rows, timestamps as microseconds, decimals as 1/10,000 units."""
    table = pa.table(obj)
    columns = {}
    for name, column in zip(table.column_names, table.columns):
        t = column.type
        inner = t.value_type if pa.types.is_list(t) else t
        if pa.types.is_timestamp(inner):
            column = column.cast(pa.list_(pa.int64()) if pa.types.is_list(t) else pa.int64())
        values = column.to_pylist()
        if pa.types.is_decimal(inner):
            fix = lambda d: None if d is None else int(d.scaleb(4))  # noqa: E731
            values = [[fix(x) for x in v] if isinstance(v, list) else fix(v) for v in values]
        columns[name] = values
    return [dict(zip(columns, r)) for r in zip(*columns.values())]


# ---- Decoding rules, applied to read_table's raw values ---------------------------------

def signed64(v):
    return v - (1 << 64) if v >= 1 << 63 else v


def expected_from_raw(raw, type_code):
    if raw is None or type_code in (NULL, 13, MAX):
        return None
    if type_code == UNSIGNED_BYTE:
        return raw if isinstance(raw, int) and raw <= 255 else None
    if type_code in (LONG_LONG, CURRENCY):
        return signed64(raw)
    if type_code == DATETIME:
        return datetime_us(raw)
    if type_code == GUID:
        return uuid.UUID(raw)
    if type_code in (TEXT, LONG_TEXT):
        # The typed view drops C string terminators.
        return raw.rstrip("\0") if isinstance(raw, str) else None
    return raw


def expected_from_bytes(b, type_code, codepage):
    """A stored value (a default, a multi-value instance) by the same rules."""
    if type_code in (TEXT, LONG_TEXT):
        return (b.decode("utf-16-le") if codepage == 1200 else b.decode("cp1252")).rstrip("\0")
    if not b:
        return b"" if type_code in (BINARY, LONG_BINARY) else None
    if type_code in (BINARY, LONG_BINARY):
        return b
    if type_code == BIT:
        return b[0] != 0
    if type_code == GUID:
        return uuid.UUID(bytes_le=b[:16])
    fmt = {UNSIGNED_BYTE: "<B", SHORT: "<h", LONG: "<i", UNSIGNED_LONG: "<I", UNSIGNED_SHORT: "<H",
           LONG_LONG: "<q", CURRENCY: "<q", FLOAT: "<f", DOUBLE: "<d", DATETIME: "<d"}[type_code]
    if type_code == DATETIME:
        return datetime_us(struct.unpack_from("<Q", b)[0])
    return struct.unpack_from(fmt, b)[0]


def split_multi(raw):
    """Instances of an undecoded multi-value item, or None when one is separated."""
    if not isinstance(raw, bytes) or len(raw) < 2:
        return None
    n = (struct.unpack_from("<H", raw)[0] & 0x7FFF) // 2
    if n == 0 or 2 * n > len(raw):
        return None
    words = struct.unpack_from("<%dH" % n, raw)
    if any(w & 0x8000 for w in words):
        return None
    starts = [w & 0x7FFF for w in words] + [len(raw)]
    if starts != sorted(starts):
        return None
    return [raw[starts[i]:starts[i + 1]] for i in range(n)]


def same(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b)) or struct.pack("<f", a) == struct.pack("<f", b)
    return a == b


def catalog_columns(db, table):
    """Name -> (type, flags, default bytes, codepage) from the raw catalog."""
    catalog = db.read_table("MSysObjects")
    ids = [r["Id"] for r in catalog if r["Type"] == 1 and r["Name"] == table]
    return {r["Name"]: (r["ColtypOrPgnoFDP"], r["Flags"], r["DefaultValue"], r["PagesOrLocale"])
            for r in catalog if r["Type"] == 2 and ids and r["ObjidTable"] == ids[0]}


def real_files(data_dir):
    return sorted(p for p in data_dir.iterdir() if p.suffix != ".md")


REAL_FILES = ["basic.edb", "binary.edb", "default.edb", "index.edb", "large.edb", "multi.edb", "text.edb",
              "search-catalog.edb", "srum-small.dat", "ual-current.mdb"]


@pytest.mark.parametrize("name", REAL_FILES)
def test_every_value_matches_read_table(data_dir, name):
    db = EseDatabase(str(data_dir / name))
    compared = 0
    for table in db.get_tables():
        raw_rows = db.read_table(table)
        decoded = rows(db.arrow_table(table))
        assert len(decoded) == len(raw_rows)
        columns = catalog_columns(db, table)
        for raw_row, row in zip(raw_rows, decoded):
            assert list(row) == list(raw_row)
            for key, raw in raw_row.items():
                type_code, flags, default, codepage = columns[key]
                got = row[key]
                if raw is None and flags & HAS_DEFAULT and not flags & CALLBACK and default:
                    want = expected_from_bytes(default, type_code, codepage)
                    assert got == ([want] if flags & MULTI else want), (table, key)
                elif flags & MULTI:
                    if raw is None:
                        assert got is None, (table, key)
                        continue
                    single = not isinstance(raw, bytes) or type_code in (BINARY, LONG_BINARY)
                    candidates = [[expected_from_raw(raw, type_code)]] if single else []
                    parts = split_multi(raw)
                    if parts is not None:
                        candidates.append([expected_from_bytes(p, type_code, codepage) for p in parts])
                    if not any(len(c) == len(got) and all(map(same, c, got)) for c in candidates):
                        # Separated or compressed instances: the raw form cannot say.
                        assert isinstance(raw, bytes), (table, key, raw, got)
                        continue
                elif raw is None and got in ("", b""):
                    # Zero bytes stored: null in the raw reading, empty in the typed view.
                    assert type_code in (TEXT, LONG_TEXT, BINARY, LONG_BINARY), (table, key)
                else:
                    assert same(got, expected_from_raw(raw, type_code)), (table, key, raw, got)
                compared += 1
    assert compared > 0


def test_default_edb_reads_as_written(data_dir):
    [row] = pa.table(EseDatabase(str(data_dir / "default.edb")).arrow_table("default")).to_pylist()
    assert row == {
        "Id": 1, "Bit": True, "UnsignedByte": 69, "Short": 0x1234, "Long": 0x12345678,
        "Currency": decimal.Decimal(0x123456789ABCDEF0).scaleb(-4), "IEEESingle": 1.0, "IEEEDouble": 2.0,
        "DateTime": dt.datetime(2022, 10, 4), "UnsignedLong": 12345678, "LongLong": 0xC001DEADD00D,
        "GUID": uuid.UUID("c001d00d-dead-beef-face-feeddeadbeef"), "UnsignedShort": 0xF00D,
        "Binary": b"Short default binary", "LongBinary": b"Long default binary " + b"a" * 200,
        "ASCII": "Short default ASCII", "Unicode": "Short default Unicode \U0001F98A",
        "LongASCII": "Long default ASCII " + "a" * 200, "LongUnicode": "Long default Unicode \U0001F98A " + "a" * 64,
    }


def test_multi_edb_lists(data_dir):
    table = pa.table(EseDatabase(str(data_dir / "multi.edb")).arrow_table("multi"))
    first, second = table.to_pylist()
    assert pa.types.is_list(table.schema.field("UnsignedByte").type)
    assert first["UnsignedByte"] == [0, 127, 255]
    assert first["ASCII"] == [f"Some ASCII text that has multiple values, this is value {i}" for i in (1, 2, 3)]
    # Instances kept in the long-value tree, some compressed.
    assert [v[:78] for v in first["LongCompressedASCII"]] == [
        f"Some very long compressed ASCII text that has multiple values, this is value {i}" for i in (1, 2, 3)]
    assert second["UnsignedByte"] is None and second["LongUnicode"][2] == "Tiny " + "\U0001F98A" * 3


def test_consumers_over_a_real_file(data_dir):
    polars = pytest.importorskip("polars")
    duckdb = pytest.importorskip("duckdb")
    pandas = pytest.importorskip("pandas")
    obj = EseDatabase(str(data_dir / "basic.edb")).arrow_table("basic")  # noqa: F841 (read by DuckDB)
    got = duckdb.sql("select Id, GUID, DateTime, Currency from obj order by Id").fetchall()
    assert got[0] == (1, uuid.UUID("3f360af1-6766-46dc-9af2-0dacf295c2a1"), dt.datetime(1999, 3, 1),
                      decimal.Decimal("133713371337.1337"))
    assert got[1][2] == dt.datetime(1337, 6, 9)
    frame = polars.DataFrame(obj)
    assert frame.shape == (2, 13) and frame["Short"].to_list() == [-1337, 1339]
    if hasattr(pandas.DataFrame, "from_arrow"):  # pandas 3
        assert pandas.DataFrame.from_arrow(obj)["LongLong"].iloc[0] == -13371337


# ---- Written databases ------------------------------------------------------------------

TYPES = [  # column type, value, Arrow type, decoded value
    (BIT, True, pa.bool_(), True),
    (UNSIGNED_BYTE, 200, pa.uint8(), 200),
    (SHORT, -2, pa.int16(), -2),
    (LONG, -3, pa.int32(), -3),
    (CURRENCY, -12345, pa.decimal128(19, 4), decimal.Decimal("-1.2345")),
    (FLOAT, 0.5, pa.float32(), 0.5),
    (DOUBLE, -0.25, pa.float64(), -0.25),
    (DATETIME, struct.pack("<d", -1.25), pa.timestamp("us"), dt.datetime(1899, 12, 29, 6)),
    (UNSIGNED_LONG, 4000000000, pa.uint32(), 4000000000),
    (LONG_LONG, -(1 << 40), pa.int64(), -(1 << 40)),
    (GUID, "3f360af1-6766-46dc-9af2-0dacf295c2a1", None, uuid.UUID("3f360af1-6766-46dc-9af2-0dacf295c2a1")),
    (UNSIGNED_SHORT, 65535, pa.uint16(), 65535),
    (BINARY, b"\x00\x01", pa.binary(), b"\x00\x01"),
    (TEXT, "caf\u00e9", pa.string(), "caf\u00e9"),
    (LONG_BINARY, b"x" * 3000, pa.binary(), b"x" * 3000),
    (LONG_TEXT, "y" * 3000, pa.string(), "y" * 3000),
    (NULL, b"\x01", pa.null(), None),
]


@pytest.mark.parametrize("page_size", [4096, 32768])
def test_every_type_and_its_null(write_db, page_size):
    columns = [Column(f"c{i}", t, 256 + i) for i, (t, *_) in enumerate(TYPES)]
    columns.append(Column("fixed", LONG, 1))
    records = [{f"c{i}": v for i, (_, v, *_) in enumerate(TYPES)} | {"fixed": 7}, {}]
    db = EseDatabase(write(write_db, [Table("T", columns, records, lv_inline_max=1024)], page_size))
    table = pa.table(db.arrow_table("T"))
    for i, (t, _, arrow_type, _) in enumerate(TYPES):
        field = table.schema.field(f"c{i}")
        assert field.metadata[b"ese.column_id"] == str(256 + i).encode()
        if t == GUID:
            assert field.type.storage_type == pa.binary(16) if hasattr(field.type, "storage_type") else True
        else:
            assert field.type == arrow_type
    full, empty = table.to_pylist()
    assert [full[f"c{i}"] for i in range(len(TYPES))] == [d for *_, d in TYPES]
    assert set(empty.values()) == {None}


def test_dates_without_a_timestamp_are_null(write_db):
    values = [float("nan"), float("inf"), 1e300, 45000.5]
    db = EseDatabase(write(write_db, [Table("T", [Column("D", DATETIME, 1)],
                                            [{"D": struct.pack("<d", v)} for v in values])]))
    assert pa.table(db.arrow_table("T"))["D"].to_pylist() == [None, None, None, dt.datetime(2023, 3, 15, 12)]


def multi_item(instances, flags=TAGGED_MULTI_VALUE, separated=()):
    header = 2 * len(instances)
    offsets, pos = [], header
    for k, v in enumerate(instances):
        offsets.append(pos | (0x8000 if k in separated else 0))
        pos += len(v)
    return tagged_item(struct.pack("<%dH" % len(instances), *offsets) + b"".join(instances), flags)


@pytest.mark.parametrize("page_size", [4096, 32768])
def test_multi_values(write_db, page_size):
    columns = [Column("Id", LONG, 1), Column("Tags", TEXT, 256, flags=MULTI),
               Column("Blobs", LONG_BINARY, 257, flags=MULTI), Column("Plain", SHORT, 258)]
    records = [
        {"Id": 1, "Tags": ["home", "food"], "Plain": tagged_item(b"\x04\x00\x06\x00\x07\x00\x08\x00", 0x08)},
        # A separated instance (its bytes are a long-value id) after a plain one.
        {"Id": 2, "Blobs": multi_item([b"inline", struct.pack("<I", 5)], separated={1})},
        # The first instance compressed, the second not.
        {"Id": 3, "Tags": multi_item([compress_7bit(b"compressed"), b"plain"],
                                     TAGGED_MULTI_VALUE | TAGGED_COMPRESSED)},
        # Two values: a length byte, the first, then the second.
        {"Id": 4, "Tags": tagged_item(b"\x03onetwo", TWO_VALUES)},
        {"Id": 5, "Tags": "single"},
        {"Id": 6},
    ]
    t = Table("T", columns, records, long_values={5: b"L" * 5000}, lv_chunk_size=1000)
    got = pa.table(EseDatabase(write(write_db, [t], page_size)).arrow_table("T")).to_pylist()
    assert [r["Tags"] for r in got] == [["home", "food"], None, ["compressed", "plain"], ["one", "two"],
                                        ["single"], None]
    assert got[1]["Blobs"] == [b"inline", b"L" * 5000]
    # A multi-value item in a column not flagged multi-valued: its first instance.
    assert got[0]["Plain"] == 7


def test_defaults(write_db):
    columns = [
        Column("Id", LONG, 1),
        Column("Fixed", LONG, 2, flags=HAS_DEFAULT, default=struct.pack("<i", -5)),
        Column("Var", TEXT, 128, flags=HAS_DEFAULT, default=b"dflt"),
        Column("Tag", DATETIME, 256, flags=HAS_DEFAULT, default=struct.pack("<d", 45000.5)),
        Column("Multi", SHORT, 257, flags=HAS_DEFAULT | MULTI, default=struct.pack("<h", 9)),
        Column("Callback", LONG, 258, flags=HAS_DEFAULT | CALLBACK, default=b"\x01\x00\x00\x00"),
        Column("Last", LONG, 3),
    ]
    records = [{"Id": 1}, {"Id": 2, "Last": 1, "Var": "set", "Tag": struct.pack("<d", 25569.0), "Multi": [1, 2]}]
    db = EseDatabase(write(write_db, [Table("T", columns, records, null_bitmap=True)]))
    absent, present = pa.table(db.arrow_table("T")).to_pylist()
    assert absent == {"Id": 1, "Fixed": -5, "Last": None, "Var": "dflt", "Tag": dt.datetime(2023, 3, 15, 12),
                      "Multi": [9], "Callback": None}
    # Fixed column 2 lies before the last fixed column: stored as null, it stays null.
    assert present == {"Id": 2, "Fixed": None, "Last": 1, "Var": "set", "Tag": dt.datetime(1970, 1, 1),
                       "Multi": [1, 2], "Callback": None}


# ---- The object and its streams -------------------------------------------------------

def ids_table(write_db, n=10, records_per_page=None):
    return write(write_db, [Table("T", [Column("Id", LONG, 1), Column("Name", TEXT, 128)],
                                  [{"Id": i, "Name": f"n{i}"} for i in range(n)],
                                  records_per_page=records_per_page)])


def test_batches_fresh_streams_and_lifetime(write_db):
    obj = EseDatabase(ids_table(write_db, 10, records_per_page=4)).arrow_table("T", batch_rows=3)
    gc.collect()  # the object keeps the database open
    reader = pa.RecordBatchReader.from_stream(obj)
    assert [b.num_rows for b in reader] == [3, 3, 3, 1]
    assert pa.table(obj)["Id"].to_pylist() == list(range(10)) == pa.table(obj)["Id"].to_pylist()
    assert pa.schema(obj).names == ["Id", "Name"]
    assert "batch_rows=3" in repr(obj)


def test_argument_errors(write_db):
    db = EseDatabase(ids_table(write_db))
    with pytest.raises(ValueError, match="^Table not found: Nope$"):
        db.arrow_table("Nope")
    for bad in (0, -1):
        with pytest.raises(ValueError):
            db.arrow_table("T", batch_rows=bad)
    with pytest.raises(TypeError):
        db.arrow_table("T", 5)
    obj = db.arrow_table("T")
    with pytest.raises(NotImplementedError):
        pa.RecordBatchReader.from_stream(obj, schema=pa.schema([("Id", pa.int64()), ("Name", pa.string())]))
    assert pa.RecordBatchReader.from_stream(obj, schema=pa.schema(obj)).read_all().num_rows == 10


def broken_chain(write_db):
    db = EseFile()
    db.checksums = False
    db.add_table(Table("T", [Column("Id", LONG, 1)], [{"Id": i} for i in range(12)], records_per_page=3))
    data = db.build()
    leaf = db.table_leaf_pages("T")[1]
    return write_db(patch(data, db.page_offset(leaf) + 20, struct.pack("<I", 99999)))


MESSAGE = "Error reading record: Invalid page number: 99999"


def test_errors_reach_every_consumer(write_db):
    obj = EseDatabase(broken_chain(write_db)).arrow_table("T", batch_rows=2)  # noqa: F841
    with pytest.raises(OSError, match=MESSAGE):
        pa.table(obj)
    reader = pa.RecordBatchReader.from_stream(obj)
    assert reader.read_next_batch().num_rows == 2  # batches before the fault arrive
    polars = pytest.importorskip("polars")
    with pytest.raises(Exception, match=MESSAGE):
        polars.DataFrame(obj)
    duckdb = pytest.importorskip("duckdb")
    with pytest.raises(duckdb.Error, match=MESSAGE):
        duckdb.sql("select count(*) from obj").fetchall()
    pandas = pytest.importorskip("pandas")
    if hasattr(pandas.DataFrame, "from_arrow"):  # pandas 3
        with pytest.raises(OSError, match=MESSAGE):
            pandas.DataFrame.from_arrow(obj)


def test_concurrent_streams_over_one_database(write_db):
    db = EseDatabase(ids_table(write_db, 2000, records_per_page=50))
    expected = pa.table(db.arrow_table("T"))
    results = []

    def read():
        results.append(pa.table(db.arrow_table("T", batch_rows=7)))

    threads = [threading.Thread(target=read) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 4 and all(r.equals(expected) for r in results)
