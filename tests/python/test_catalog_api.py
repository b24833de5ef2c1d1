"""get_tables and get_table_schema: the catalog as Python sees it, and the
table-name rules shared with read_table."""

from __future__ import annotations

import pathlib

import pytest

from esefile import BINARY, LONG, LONG_TEXT, TEXT, Column, Table
from quarrow import EseDatabase

TYPE_NAMES = ["NULL", "Boolean", "Unsigned byte", "Signed short", "Signed long", "Currency",
              "Single precision FP", "Double precision FP", "DateTime", "Binary", "Text", "Long Binary",
              "Long Text", "Obsolete", "Unsigned long", "Long long", "GUID", "Unsigned short", "Max"]


@pytest.fixture
def people_db(write_db) -> EseDatabase:
    columns = [Column("Id", LONG, 1, flags=1), Column("Name", TEXT, 128), Column("Notes", LONG_TEXT, 256)]
    return EseDatabase(write_db([
        Table("People", columns, [{"Id": 1, "Name": "Ann"}]),
        Table("Empty", []),
    ]))


def test_tables_in_catalog_order_unsorted(write_db):
    names = ["Zeta", "alpha", "Mid", "People"]
    db = EseDatabase(write_db([Table(n, [Column("Id", LONG, 1)]) for n in names]))
    tables = db.get_tables()
    assert tables == ["MSysObjects"] + names
    tables.append("changed")  # a new list on every call
    assert db.get_tables() == ["MSysObjects"] + names


def test_schema_reports_every_type_by_display_name(write_db):
    columns = [Column(f"c{code}", code, code + 1) for code in range(len(TYPE_NAMES))]
    db = EseDatabase(write_db([Table("Types", columns)]))
    schema = db.get_table_schema("Types")
    assert [(c["name"], c["type"], c["id"]) for c in schema] == \
        [(f"c{code}", name, code + 1) for code, name in enumerate(TYPE_NAMES)]


def test_schema_dictionaries(people_db):
    schema = people_db.get_table_schema("People")
    assert schema == [
        {"name": "Id", "type": "Signed long", "id": 1, "nullable": False},
        {"name": "Name", "type": "Text", "id": 128, "nullable": True},
        {"name": "Notes", "type": "Long Text", "id": 256, "nullable": True},
    ]
    assert all(list(c) == ["name", "type", "id", "nullable"] for c in schema)
    assert all(type(c["nullable"]) is bool and type(c["id"]) is int for c in schema)
    assert people_db.get_table_schema(table_name="People") == schema
    assert people_db.get_table_schema("Empty") == []


@pytest.mark.parametrize("flags, nullable", [
    (0x0, True), (0x1, False), (0x4, True), (0x5, False), (0xFFFFFFFE, True), (0xFFFFFFFF, False)])
def test_nullable_is_bit_0_of_the_flags(write_db, flags, nullable):
    db = EseDatabase(write_db([Table("T", [Column("X", BINARY, 128, flags=flags)])]))
    assert db.get_table_schema("T")[0]["nullable"] is nullable


def test_large_column_ids(write_db):
    ids = [1, 127, 128, 255, 256, 65535, 0xFFFFFFF0]
    db = EseDatabase(write_db([Table("T", [Column(f"c{i}", LONG, i) for i in ids])]))
    # Ids are unsigned; the order is the catalog's key order, which reads them as signed.
    assert sorted(c["id"] for c in db.get_table_schema("T")) == ids


@pytest.mark.parametrize("method", ["get_table_schema", "read_table"])
@pytest.mark.parametrize("name", ["people", "PEOPLE", "People ", " People", "", "Nope", "Peo\0ple"])
def test_unknown_table(people_db, method, name):
    with pytest.raises(ValueError) as info:
        getattr(people_db, method)(name)
    assert info.value.args == (f"Table not found: {name}",)


@pytest.mark.parametrize("method", ["get_table_schema", "read_table"])
@pytest.mark.parametrize("value", [None, b"People", 1, pathlib.PurePath("People"), ["People"]],
                         ids=["None", "bytes", "int", "path", "list"])
def test_table_name_must_be_str(people_db, method, value):
    with pytest.raises(TypeError, match="table_name"):
        getattr(people_db, method)(value)


@pytest.mark.parametrize("method", ["get_table_schema", "read_table"])
@pytest.mark.parametrize("args, kwargs", [
    ((), {}), (("People", "People"), {}), ((), {"name": "People"}), (("People",), {"table_name": "People"})],
    ids=["missing", "two", "unknown-keyword", "twice"])
def test_table_name_argument_list(people_db, method, args, kwargs):
    with pytest.raises(TypeError):
        getattr(people_db, method)(*args, **kwargs)


@pytest.mark.parametrize("stored, listed", [
    (b"Bad\xffName", "Bad\ufffdName"),
    (b"caf\xc3", "caf\ufffd"),
    (b"\xe2\x82x", "\ufffdx"),             # one maximal subpart, one replacement
    (b"\xed\xa0\x80s", "\ufffd\ufffd\ufffds"),  # an encoded surrogate is three
])
def test_name_that_is_not_utf8(write_db, stored, listed):
    db = EseDatabase(write_db([Table(stored, [Column(stored, LONG, 1)])]))
    assert db.get_tables() == ["MSysObjects", listed]
    # The listed text encodes to other bytes than the stored name: not found.
    for method in (db.get_table_schema, db.read_table):
        with pytest.raises(ValueError) as info:
            method(listed)
        assert info.value.args == (f"Table not found: {listed}",)


def test_column_name_that_is_not_utf8(write_db):
    opened = EseDatabase(write_db([Table("Raw", [Column(b"c\xffl", LONG, 1)])]))
    assert opened.get_table_schema("Raw") == [{"name": "c\ufffdl", "type": "Signed long", "id": 1,
                                               "nullable": True}]


def test_repr_counts_the_tables(people_db):
    assert repr(people_db).endswith(f"', tables={len(people_db.get_tables())}, page_size=4096)")


# ---- Real files -------------------------------------------------------------------------

SYSTEM = ["MSysObjects", "MSysObjectsShadow", "MSysObjids", "MSysLocales"]

REAL_FILES = [
    ("basic.edb", 4096, ["basic"]),
    ("binary.edb", 4096, ["binary"]),
    ("default.edb", 4096, ["default"]),
    ("index.edb", 4096, ["index"]),
    ("large.edb", 32768, ["large"]),
    ("multi.edb", 4096, ["multi"]),
    ("text.edb", 4096, ["text"]),
    ("search-catalog.edb", 4096, ["namespace", "string", "file", "backupset", "global", "library"]),
    ("srum-small.dat", 4096, ["SruDbIdMapTable", "SruDbCheckpointTable"]),
    ("ual-current.mdb", 4096, ["ROLE_ACCESS", "CLIENTS", "DNS", "VIRTUALMACHINES"]),
]


@pytest.mark.parametrize("name, page_size, user_tables", REAL_FILES, ids=[f[0] for f in REAL_FILES])
def test_real_file_catalog(data_dir, name, page_size, user_tables):
    db = EseDatabase(str(data_dir / name))
    assert db.page_size == page_size
    assert db.total_pages == (data_dir / name).stat().st_size // page_size - 2
    tables = db.get_tables()
    assert tables[:4] == SYSTEM
    assert tables[4:4 + len(user_tables)] == user_tables
    for table in tables:
        assert isinstance(db.get_table_schema(table), list)


def test_real_srum_tables_named_by_guid(data_dir):
    tables = EseDatabase(str(data_dir / "srum-small.dat")).get_tables()
    guids = tables[6:]
    assert len(guids) == 6 and "{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}" in guids


def test_real_basic_schema(data_dir):
    schema = EseDatabase(str(data_dir / "basic.edb")).get_table_schema("basic")
    assert [(c["name"], c["type"]) for c in schema] == [
        ("Id", "Signed long"), ("Bit", "Boolean"), ("UnsignedByte", "Unsigned byte"),
        ("Short", "Signed short"), ("Long", "Signed long"), ("Currency", "Currency"),
        ("IEEESingle", "Single precision FP"), ("IEEEDouble", "Double precision FP"),
        ("DateTime", "DateTime"), ("UnsignedLong", "Unsigned long"), ("LongLong", "Long long"),
        ("GUID", "GUID"), ("UnsignedShort", "Unsigned short")]
    assert [c["id"] for c in schema] == list(range(1, 14))
