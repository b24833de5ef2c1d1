"""read_table on written databases: column values of every type, the fixed,
variable and tagged parts of a record, data trees and leaf chains (including
damaged ones), and long values kept in the long-value tree."""

from __future__ import annotations

import math
import struct
import uuid

import pytest

from esefile import (BINARY, BIT, CURRENCY, DATETIME, DOUBLE, FLOAT, GUID, LONG, LONG_BINARY, LONG_LONG,
                     LONG_TEXT, MAX, NULL, SHORT, SLV, TAGGED_COMPRESSED, TAGGED_LONG_VALUE,
                     TAGGED_MULTI_VALUE, TEXT, UNSIGNED_BYTE, UNSIGNED_LONG, UNSIGNED_SHORT, Column, EseFile,
                     LongValue, Table, catalog_long_value_record, compress_7bit, lv_ref, patch, tagged_item)
from quarrow import EseDatabase

GUID_TEXT = "3f360af1-6766-46dc-9af2-0dacf295c2a1"
LID64_REVISION = 0x46


def pack(fmt, *values) -> bytes:
    return struct.pack(fmt, *values)


def build(tables, page_size=4096, revision=20, **attrs) -> EseFile:
    """An EseFile without checksums (the reader ignores them), faster to write."""
    db = EseFile(page_size=page_size, revision=revision)
    db.checksums = False
    for key, value in attrs.items():
        setattr(db, key, value)
    for table in tables:
        db.add_table(table)
    return db


def set_next_page(db: EseFile, data: bytes, page: int, next_page: int) -> bytes:
    """Rewrites the next-page link of a page header (offset 20)."""
    return patch(data, db.page_offset(page) + 20, pack("<I", next_page))


def set_page_flags(db: EseFile, data: bytes, page: int, flags: int) -> bytes:
    return patch(data, db.page_offset(page) + 36, pack("<I", flags))


def read(write_db, source, table="T") -> list[dict]:
    return EseDatabase(write_db(source)).read_table(table)


# ---- Column values ----------------------------------------------------------------

def _raw_double(x: float) -> int:
    return struct.unpack("<Q", pack("<d", x))[0]


VALUES = [
    # (type, codepage, stored bytes, Python value)
    (NULL, None, b"\x01", None),
    (BIT, None, b"\x00", False),
    (BIT, None, b"\x02", True),
    (UNSIGNED_BYTE, None, b"\xd5", 213),
    (UNSIGNED_BYTE, None, b"\x34\x12", 0x1234),
    (UNSIGNED_BYTE, None, b"\x78\x56\x34\x12", 0x12345678),
    (UNSIGNED_BYTE, None, b"\xff" * 8, 2**64 - 1),
    (UNSIGNED_BYTE, None, b"\x01\x02\x03", b"\x01\x02\x03"),
    (SHORT, None, pack("<h", -1337), -1337),
    (SHORT, None, b"\x01", None),
    (LONG, None, pack("<i", -13371337) + b"zz", -13371337),   # bytes past the width are ignored
    (LONG, None, b"\x01\x02\x03", None),
    (CURRENCY, None, pack("<q", -1339133913391339), 2**64 - 1339133913391339),
    (FLOAT, None, pack("<f", 0.1), 0.10000000149011612),
    (FLOAT, None, pack("<f", -2.0), -2.0),
    (DOUBLE, None, pack("<d", -13391339.13391339), -13391339.13391339),
    (DOUBLE, None, pack("<d", math.inf), math.inf),
    (DOUBLE, None, b"\x00" * 7, None),
    (DATETIME, None, pack("<d", 36220.0), _raw_double(36220.0)),
    (DATETIME, None, pack("<d", -2.5), _raw_double(-2.5)),
    (BINARY, None, b"\x00\xff", b"\x00\xff"),
    (TEXT, 1252, b"\x80A", "\u20acA"),
    (TEXT, 20127, b"\x80A", "\u20acA"),
    (TEXT, 1252, b"caf\xe9\x81", "caf\xe9\x81"),
    (TEXT, 0, b"abc", None),
    (TEXT, 65001, b"abc", None),
    (TEXT, 1200, b"A\x00B", "A\ufffd"),
    (TEXT, 1200, b"\x00\xd8A\x00", "\ufffdA"),
    (TEXT, 1200, "🦊".encode("utf-16-le"), "🦊"),
    (TEXT, 1252, b"\xff\xfeh\x00i\x00", "hi"),
    (TEXT, 1252, b"\xfe\xff\x00h\x00i", "hi"),
    (TEXT, 1200, b"\xef\xbb\xbf\xc3\xa9", "\xe9"),
    (TEXT, 1252, b"\xef\xbb\xbf\xff", "\ufffd"),
    (LONG_BINARY, None, b"\x01\x00\x00\x00inline", b"\x01\x00\x00\x00inline"),
    (LONG_TEXT, 1200, "\xe9t\xe9".encode("utf-16-le"), "\xe9t\xe9"),
    (SLV, None, b"\x01", None),
    (UNSIGNED_LONG, None, b"\xff" * 4, 2**32 - 1),
    (LONG_LONG, None, b"\xff" * 8, 18446744073709551615),
    (GUID, None, uuid.UUID(GUID_TEXT).bytes_le, GUID_TEXT),
    (GUID, None, bytes(15), None),
    (UNSIGNED_SHORT, None, b"\xff\xff", 65535),
    (MAX, None, b"\x01", None),
]


@pytest.mark.parametrize("placement", ["variable", "tagged"])
@pytest.mark.parametrize("type_, codepage, stored, expected", VALUES)
def test_value_conversion(write_db, placement, type_, codepage, stored, expected):
    column_id = 128 if placement == "variable" else 256
    columns = [Column("Id", LONG, 1), Column("X", type_, column_id, codepage=codepage)]
    rows = read(write_db, [Table("T", columns, [{"Id": 1, "X": stored}])])
    assert rows == [{"Id": 1, "X": expected}]
    assert type(rows[0]["X"]) is type(expected)


@pytest.mark.parametrize("type_, fmt", [(FLOAT, "<f"), (DOUBLE, "<d")])
def test_nan_is_kept(write_db, type_, fmt):
    columns = [Column("X", type_, 1)]
    [row] = read(write_db, [Table("T", columns, [{"X": pack(fmt, math.nan)}])])
    assert math.isnan(row["X"])


def test_fixed_columns_of_every_width(write_db):
    columns = [Column("B", BIT, 1), Column("U8", UNSIGNED_BYTE, 2), Column("S", SHORT, 3),
               Column("Cur", CURRENCY, 4), Column("F", FLOAT, 5), Column("G", GUID, 6),
               Column("U16", UNSIGNED_SHORT, 7), Column("Fx", TEXT, 8, space_usage=6),
               Column("V", TEXT, 128), Column("Tg", BINARY, 256)]
    values = {"B": True, "U8": 200, "S": -2, "Cur": -1, "F": 1.5, "G": GUID_TEXT, "U16": 7, "Fx": "ab",
              "V": "var", "Tg": b"tag"}
    [row] = read(write_db, [Table("T", columns, [values])])
    assert row == {"B": True, "U8": 200, "S": -2, "Cur": 2**64 - 1, "F": 1.5, "G": GUID_TEXT, "U16": 7,
                   "Fx": "ab    ", "V": "var", "Tg": b"tag"}
    assert list(row) == [c.name for c in columns]


def test_columns_come_in_ascending_id_order_and_duplicate_names_keep_the_first_place(write_db):
    columns = [Column("Z", BINARY, 257), Column("A", LONG, 1), Column(b"N\xff", BINARY, 256),
               Column(b"N\xfe", BINARY, 128)]
    [row] = read(write_db, [Table("T", columns, [{"Z": b"z", "A": 3, b"N\xff": b"t", b"N\xfe": b"v"}])])
    # Both names read as "N\ufffd": the later column (id 256) wins, at the first position.
    assert list(row.items()) == [("A", 3), ("N\ufffd", b"t"), ("Z", b"z")]


# ---- Record layout ------------------------------------------------------------------

LAYOUT_COLUMNS = [Column("A", LONG, 1), Column("B", SHORT, 2), Column("V1", BINARY, 128),
                  Column("V2", BINARY, 129), Column("G1", BINARY, 256), Column("G2", BINARY, 257)]
ALL_NULL = {c.name: None for c in LAYOUT_COLUMNS}


def raw_record(F=0, L=0, fixed=b"", ends=(), var=b"", tagged=b"", V=None) -> bytes:
    V = 4 + len(fixed) if V is None else V
    return pack("<BBH", F, L, V) + fixed + pack("<%dH" % len(ends), *ends) + var + tagged


def directory(*items) -> bytes:
    return b"".join(pack("<HH", cid, word) for cid, word in items)


@pytest.mark.parametrize("record, expected", [
    pytest.param(b"", {}, id="empty"),
    pytest.param(b"\x02", {}, id="1 byte"),
    pytest.param(b"\x02\x81\x04", {}, id="3 bytes"),
    pytest.param(raw_record(2, fixed=pack("<i", 7) + b"\x01"), {"A": 7}, id="fixed past the end"),
    pytest.param(raw_record(1, fixed=pack("<i", 7) + pack("<h", 9)), {"A": 7}, id="beyond F"),
    pytest.param(raw_record(0, 129, ends=[0x8003, 5], var=b"abcde"), {"V2": b"de"}, id="null bit"),
    pytest.param(raw_record(0, 129, ends=[2, 1], var=b"abcde"), {"V1": b"ab"}, id="start after end"),
    pytest.param(raw_record(0, 129, ends=[2, 9], var=b"abcde"), {"V1": b"ab"}, id="end past record"),
    pytest.param(raw_record(0, 128, ends=[2], var=b"ab"), {"V1": b"ab"}, id="L=128"),
    pytest.param(raw_record(0, 127, tagged=directory((256, 4)) + b"xy"), {"G1": b"xy"}, id="L=127"),
    pytest.param(raw_record(0, 129, ends=[1, 2], var=b"ab", tagged=directory((257, 4)) + b"xy"),
                 {"V1": b"a", "V2": b"b", "G2": b"xy"}, id="tagged after variable"),
    pytest.param(raw_record(tagged=directory((256, 0x4004)) + b"\x00xy"), {"G1": b"xy"}, id="flags byte"),
    pytest.param(raw_record(tagged=directory((256, 8), (257, 6)) + b"zz"),
                 {"G2": b"\x06\x00zz"}, id="next offset smaller: dropped"),
    pytest.param(raw_record(tagged=directory((256, 8), (257, 50)) + b"ab"), {}, id="offsets past the end"),
    pytest.param(raw_record(tagged=directory((256, 8), (256, 9)) + b"ab"), {"G1": b"b"}, id="repeated id"),
    pytest.param(raw_record(tagged=directory((257, 8), (256, 9)) + b"ab"),
                 {"G1": b"b", "G2": b"a"}, id="unsorted ids"),
    pytest.param(raw_record(tagged=directory((300, 4)) + b"ab"), {}, id="unknown tagged id"),
])
def test_record_layout(write_db, record, expected):
    [row] = read(write_db, [Table("T", LAYOUT_COLUMNS, [record])])
    assert row == {**ALL_NULL, **expected}


def test_fixed_columns_are_laid_out_by_the_columns_the_catalog_lists(write_db):
    # Column 2 is not in the catalog: column 3 follows column 1 directly.
    columns = [Column("A", LONG, 1), Column("C", SHORT, 3)]
    record = raw_record(3, fixed=pack("<ih", 5, -6))
    assert read(write_db, [Table("T", columns, [record])]) == [{"A": 5, "C": -6}]


@pytest.mark.parametrize("bitmap, a_value", [(True, None), (False, 0)])
def test_null_bitmap_is_consulted_when_it_fits(write_db, bitmap, a_value):
    columns = [Column("A", LONG, 1), Column("B", SHORT, 2), Column("V", TEXT, 128)]
    rows = read(write_db, [Table("T", columns, [{"B": 5, "V": "v"}, {"A": 1, "B": 2}], null_bitmap=bitmap)])
    assert rows == [{"A": a_value, "B": 5, "V": "v"}, {"A": 1, "B": 2, "V": None}]


@pytest.mark.parametrize("page_size, expected", [(4096, b"\x00xyz"), (32768, b"xyz")])
def test_large_page_items_always_start_with_flags(write_db, page_size, expected):
    record = raw_record(tagged=directory((256, 4)) + b"\x00xyz")
    db = build([Table("T", LAYOUT_COLUMNS, [record])], page_size=page_size)
    assert read(write_db, db)[0]["G1"] == expected


def test_large_page_tagged_part_beyond_16k(write_db):
    columns = [Column("Id", LONG, 1), Column("Big", BINARY, 256), Column("Tail", BINARY, 257),
               Column("Text", TEXT, 258)]
    big = bytes(range(256)) * 70
    values = [{"Id": 1, "Big": big, "Tail": b"tail", "Text": "end"}, {"Id": 2, "Tail": b"t"}]
    db = build([Table("T", columns, values)], page_size=32768)
    assert read(write_db, db) == [{"Id": 1, "Big": big, "Tail": b"tail", "Text": "end"},
                                  {"Id": 2, "Big": None, "Tail": b"t", "Text": None}]


# ---- Compressed and multi-valued tagged data ---------------------------------------

def xpress_literals(data: bytes) -> bytes:
    """An XPRESS frame of literals only: scheme byte, size, then a zero flag word per 32 bytes."""
    out = b"\x18" + pack("<H", len(data))
    for i in range(0, len(data), 32):
        out += b"\0\0\0\0" + data[i:i + 32]
    return out


LZ4_ABC = b"\x38" + pack("<H", 9) + b"\x32abc\x03\x00"   # "abc", then a match of 6 at distance 3
LZ4_ABC30 = b"\x38" + pack("<H", 30) + b"\x3fabc\x03\x00\x08"  # a match of 15 + 8 + 4 = 27 bytes


def cp1252(data: bytes) -> str:
    """windows-1252 as the WHATWG index has it: the 5 undefined bytes are C1 controls."""
    return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252") for b in data)


@pytest.mark.parametrize("type_, codepage, item, flags, expected", [
    (TEXT, 1252, b"\x10\x41\x00", TAGGED_COMPRESSED, "A\x00"),
    (TEXT, 1252, compress_7bit(b"Weekly groceries"), TAGGED_COMPRESSED, "Weekly groceries"),
    (TEXT, 1200, compress_7bit("Hi there".encode("utf-16-le"), unicode=True), TAGGED_COMPRESSED, "Hi there"),
    (BINARY, None, compress_7bit(b"abc"), TAGGED_COMPRESSED, b"abc"),
    (TEXT, 0, compress_7bit(b"abc"), TAGGED_COMPRESSED, b"abc"),
    (TEXT, 1252, b"\x00" + compress_7bit(b"abcdefg")[1:], TAGGED_COMPRESSED, "abcdefg\x00"),
    (TEXT, 1252, xpress_literals(b"hello, xpress " * 4), TAGGED_COMPRESSED, "hello, xpress " * 4),
    (TEXT, 1252, xpress_literals(b"hello")[:-1], TAGGED_COMPRESSED, xpress_literals(b"hello")[:-1]),
    (TEXT, 1252, LZ4_ABC, TAGGED_COMPRESSED, "abcabcabc"),
    (BINARY, None, LZ4_ABC[:-1], TAGGED_COMPRESSED, LZ4_ABC[:-1]),
    (TEXT, 1252, b"\x28abc", TAGGED_COMPRESSED, b"\x28abc"),
    (TEXT, 1252, b"", TAGGED_COMPRESSED, b""),
    (BINARY, None, b"\x02\x00\x00a", TAGGED_MULTI_VALUE, b"\x02\x00\x00a"),
    (TEXT, 1252, compress_7bit(b"abc"), TAGGED_MULTI_VALUE | TAGGED_COMPRESSED, compress_7bit(b"abc")),
])
def test_compressed_and_multi_valued_items(write_db, type_, codepage, item, flags, expected):
    columns = [Column("X", type_, 256, codepage=codepage)]
    rows = read(write_db, [Table("T", columns, [{"X": tagged_item(item, flags)}])])
    assert rows == [{"X": expected}] and type(rows[0]["X"]) is type(expected)


# ---- Trees and leaf chains ----------------------------------------------------------

PEOPLE = [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1200), Column("Note", BINARY, 256)]


def people(n):
    return [{"Id": i, "Name": f"n\xe9{i}", "Note": bytes([i % 256]) * (i % 5) or None} for i in range(n)]


@pytest.mark.parametrize("page_size", [4096, 32768])
@pytest.mark.parametrize("shape", [
    {},
    {"records_per_page": 3, "branch_fanout": 2},
    {"records_per_page": 4, "branch_fanout": 3, "key_compression": False},
])
def test_multi_level_trees_read_in_key_order(write_db, page_size, shape):
    db = build([Table("T", PEOPLE, people(60), root_page=77, **shape)], page_size=page_size,
               tag_count_high_bits=0xF)
    data = db.build()
    if shape:
        assert len(db.table_leaf_pages("T")) >= 15
    assert read(write_db, data) == people(60)


def test_empty_tables(write_db):
    db = EseDatabase(write_db([Table("T", PEOPLE), Table("None", [])]))
    assert db.read_table("T") == [] and db.read_table("None") == []


def _chained(page_size=4096):
    db = build([Table("T", PEOPLE, people(30), records_per_page=5)], page_size=page_size)
    return db, db.build(), db.table_leaf_pages("T")


@pytest.mark.parametrize("page_size", [4096, 32768])
def test_chain_past_the_end_of_the_file(write_db, page_size):
    db, data, leaves = _chained(page_size)
    data = set_next_page(db, data, leaves[2], 99999)
    with pytest.raises(IOError) as info:
        read(write_db, data)
    assert info.value.args == ("Error reading record: Invalid page number: 99999",)


@pytest.mark.parametrize("from_leaf, to_leaf", [(3, 1), (0, 0), (5, 0)])
def test_chain_cycle_ends_cleanly(write_db, from_leaf, to_leaf):
    # The table's tree names every leaf once: a link back changes nothing.
    db, data, leaves = _chained()
    data = set_next_page(db, data, leaves[from_leaf], leaves[to_leaf])
    assert read(write_db, data) == people(30)


@pytest.mark.parametrize("damage", ["long-value", "index", "space tree", "external header only"])
def test_leaves_without_records_are_passed_but_followed(write_db, damage):
    db, data, leaves = _chained()
    if damage == "external header only":
        data = patch(data, db.page_offset(leaves[1]) + 34, pack("<H", 1))   # tag count 1
    else:
        flag = {"long-value": 0x80, "index": 0x40, "space tree": 0x20}[damage]
        data = set_page_flags(db, data, leaves[1], db.page_flags(leaves[1]) | flag)
    assert read(write_db, data) == people(5) + people(30)[10:]


def test_root_page_past_the_end_of_the_file(write_db):
    db = build([Table("T", PEOPLE, people(3), object_id=40)])
    data = db.build()
    root = db.table_pages("T")[0]
    assert read(write_db, data) == people(3)
    # The catalog record of T names its root page at bytes 14-17.
    record = struct.pack("<IHI", 40, 1, 40) + struct.pack("<I", root)
    at = data.index(record, db.page_offset(4))
    data = patch(data, at + 10, pack("<I", 99999))
    with pytest.raises(IOError) as info:
        read(write_db, data)
    assert info.value.args == ("Invalid page number: 99999",)


def test_msysobjects_is_readable(write_db):
    db = EseDatabase(write_db([Table("T", [Column("Id", LONG, 1)], object_id=40)]))
    rows = db.read_table("MSysObjects")
    names = [r["Name"] for r in rows]
    assert "MSysObjects" in names and "T" in names and "Id" in names and len(rows) == 1 + 28 + 2
    [t] = [r for r in rows if r["Name"] == "T"]
    assert (t["ObjidTable"], t["Type"], t["Id"]) == (40, 1, 40)
    assert list(t) == [c["name"] for c in sorted(db.get_table_schema("MSysObjects"), key=lambda c: c["id"])]


# ---- Long values --------------------------------------------------------------------

LV_COLUMNS = [Column("Id", LONG, 1), Column("Doc", LONG_BINARY, 256),
              Column("Note", LONG_TEXT, 257, codepage=1200), Column("Ascii", LONG_TEXT, 258)]


def _doc(i: int) -> bytes:
    return bytes((i * 7 + k) % 251 for k in range(500 * i + 37))


@pytest.mark.parametrize("page_size, revision, lid64", [
    (4096, 20, False), (32768, 20, False), (4096, LID64_REVISION, True), (32768, LID64_REVISION, True)])
def test_long_values_over_several_chunks_and_pages(write_db, page_size, revision, lid64):
    records = [{"Id": i, "Doc": LongValue(_doc(i)), "Note": LongValue(f"\xe9 note {i} " * (40 * i + 1)),
                "Ascii": "inline text"} for i in range(1, 7)]
    records.append({"Id": 7})
    db = build([Table("T", LV_COLUMNS, records, lv_chunk_size=300, lv_records_per_page=3, branch_fanout=2,
                      lid64=lid64)], page_size=page_size, revision=revision)
    data = db.build()
    assert len(db.lv_leaf_pages("T")) > 10 and len(db.lv_pages("T")) > len(db.lv_leaf_pages("T")) + 2
    rows = read(write_db, data)
    assert rows == [{"Id": i, "Doc": _doc(i), "Note": f"\xe9 note {i} " * (40 * i + 1), "Ascii": "inline text"}
                    for i in range(1, 7)] + [{"Id": 7, "Doc": None, "Note": None, "Ascii": None}]


def test_missing_and_short_references(write_db):
    records = [
        {"Id": 1, "Doc": lv_ref(5), "Note": lv_ref(5)},
        {"Id": 2, "Doc": lv_ref(4), "Note": lv_ref(6)},                     # LIDs not in the tree
        {"Id": 3, "Doc": tagged_item(b"\x05\x00\x00", TAGGED_LONG_VALUE),   # fewer than 4 bytes
         "Note": tagged_item(b"", TAGGED_LONG_VALUE)},
        {"Id": 4, "Doc": b"\x05\x00\x00\x00inline"},                          # inline: the data itself
    ]
    table = Table("T", LV_COLUMNS, records, long_values={5: "five".encode("utf-16-le")})
    bare = Table("Bare", LV_COLUMNS, [{"Id": 1, "Doc": lv_ref(5), "Note": lv_ref(5)}])
    db = EseDatabase(write_db([table, bare]))
    assert db.read_table("T") == [
        {"Id": 1, "Doc": "five".encode("utf-16-le"), "Note": "five", "Ascii": None},
        {"Id": 2, "Doc": b"", "Note": "", "Ascii": None},
        {"Id": 3, "Doc": b"", "Note": "", "Ascii": None},
        {"Id": 4, "Doc": b"\x05\x00\x00\x00inline", "Note": None, "Ascii": None},
    ]
    assert db.read_table("Bare") == [{"Id": 1, "Doc": b"", "Note": "", "Ascii": None}]


def test_long_value_tree_root_past_the_end_keeps_the_reference(write_db):
    db = build([Table("T", LV_COLUMNS, [{"Id": 1, "Doc": lv_ref(5), "Note": lv_ref(6, flags=0x05)}],
                      object_id=40)])
    db.add_raw_catalog_record(catalog_long_value_record(40, 41, 99999))
    assert read(write_db, db) == [{"Id": 1, "Doc": pack("<I", 5), "Note": pack("<I", 6), "Ascii": None}]


def _lv_source(entries, **table_args):
    """The long-value tree of table T (object id 40) laid out as the data tree of an
    extra table, so that any keys and chunks can be stored; root page 300."""
    keys, records = zip(*entries)
    return Table("LVSRC", [], list(records), record_keys=list(keys), root_page=300, object_id=41, **table_args)


def _lv_db(entries, refs=(1,), **table_args) -> EseFile:
    records = [{"Id": i, "Doc": lv_ref(lid), "Ascii": lv_ref(lid)} for i, lid in enumerate(refs)]
    page_size = 16384 if max(len(d) for _, d in entries) > 2000 else 4096
    db = build([Table("T", LV_COLUMNS, records, object_id=40), _lv_source(entries, **table_args)],
               page_size=page_size)
    db.add_raw_catalog_record(catalog_long_value_record(40, 41, 300))
    return db


def lv_key(lid, offset=None) -> bytes:
    return pack(">I", lid) + (b"" if offset is None else pack(">I", offset))


def lv_root(size) -> bytes:
    return pack("<II", 1, size)


FIVE_K = bytes(range(256)) * 16


@pytest.mark.parametrize("entries, expected", [
    pytest.param([(lv_key(1), lv_root(5000)), (lv_key(1, 0), FIVE_K[:4096]), (lv_key(1, 4096), FIVE_K[:2000])],
                 FIVE_K[:4096] + FIVE_K[:904], id="cut to total size"),
    pytest.param([(lv_key(1), b"\x01\0\0\0\x03\0\0"), (lv_key(1, 0), b"abc"), (lv_key(1, 3), b"def")],
                 b"abcdef", id="short root entry: no size"),
    pytest.param([(lv_key(1, 0), b"abc"), (lv_key(1, 3), b"def"), (lv_key(2, 0), b"zzz")],
                 b"abcdef", id="no root entry"),
    pytest.param([(b"\x00\x00", b"skip"), (lv_key(0, 0), b"000"), (lv_key(1) + b"\x00", lv_root(3)),
                  (lv_key(1, 0), b"one"), (lv_key(2, 0), b"two")], b"one", id="other LIDs and short keys"),
    pytest.param([(lv_key(1), lv_root(6)), (lv_key(1, 0), b"ab"), (lv_key(1, 4), b"ef")],
                 b"abef", id="gap not filled"),
    pytest.param([(lv_key(1), lv_root(104)), (lv_key(1, 0), compress_7bit(b"a" * 100)), (lv_key(1, 100), b"tail")],
                 b"a" * 100 + b"tail", id="7-bit chunk"),
    pytest.param([(lv_key(1), lv_root(30)), (lv_key(1, 0), LZ4_ABC30)], b"abc" * 10, id="LZ4 last chunk"),
    pytest.param([(lv_key(1), lv_root(60)), (lv_key(1, 0), xpress_literals(b"x" * 30)), (lv_key(1, 50), b"y" * 10)],
                 xpress_literals(b"x" * 30) + b"y" * 10, id="decompressed length differs: kept"),
    pytest.param([(lv_key(1), lv_root(20)), (lv_key(1, 0), b"\x30" + b"q" * 5), (lv_key(1, 10), b"r" * 10)],
                 b"\x30" + b"q" * 5 + b"r" * 10, id="unknown scheme: kept"),
])
def test_long_value_assembly(write_db, entries, expected):
    [row] = read(write_db, _lv_db(entries))
    assert row["Doc"] == expected
    assert row["Ascii"] == cp1252(expected)


def test_long_value_keys_with_common_prefixes_across_pages(write_db):
    chunks = [bytes([65 + k]) * 10 for k in range(40)]
    entries = [(lv_key(7), lv_root(400))] + [(lv_key(7, 10 * k), c) for k, c in enumerate(chunks)]
    entries += [(lv_key(8, 0), b"eight")]
    db = _lv_db(entries, refs=(7, 8, 9), records_per_page=4, branch_fanout=2)
    data = db.build()
    assert len(db.table_leaf_pages("LVSRC")) > 5
    rows = read(write_db, data)
    assert [r["Doc"] for r in rows] == [b"".join(chunks), b"eight", b""]


@pytest.mark.parametrize("target", ["cycle", "self", "past the end", "branch page"])
def test_broken_long_value_chain_does_not_cut_the_value(write_db, target):
    value = bytes(range(200)) * 5
    db = build([Table("T", LV_COLUMNS, [{"Id": 1, "Doc": LongValue(value), "Note": lv_ref(99)}],
                      lv_chunk_size=100, lv_records_per_page=2)])
    data = db.build()
    leaves = db.lv_leaf_pages("T")
    link = {"cycle": leaves[0], "self": leaves[1], "past the end": 99999, "branch page": db.lv_pages("T")[0]}
    data = set_next_page(db, data, leaves[1], link[target])
    # The long-value tree names every leaf: the value is whole whatever the links say.
    assert read(write_db, data) == [{"Id": 1, "Doc": value, "Note": "", "Ascii": None}]
