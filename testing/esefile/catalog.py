"""Catalog rows: the MSysObjects records of tables, columns, long-value trees and indexes,
and the catalog's own column definitions.
"""

from __future__ import annotations

import struct

from .constants import (BINARY, BIT, CATALOG_COLUMN, CATALOG_INDEX, CATALOG_LONG_VALUE,
    CATALOG_TABLE, LONG, LONG_BINARY, SHORT, TEXT, UNSIGNED_SHORT)
from .record import Column


def catalog_key(owner_id: int, type: int, id: int) -> bytes:
    """Normalised key of a catalog record, ordered by (owner, type, id) as the
    engine's primary index orders MSysObjects: each column is a 0x7F marker then
    its value big-endian with the sign bit flipped (Long, Short, Long)."""
    return struct.pack(">BIBHBI", 0x7F, (owner_id ^ 0x80000000) & 0xFFFFFFFF,
                       0x7F, (type ^ 0x8000) & 0xFFFF, 0x7F, (id ^ 0x80000000) & 0xFFFFFFFF)


def catalog_record(owner_id: int, type: int, id: int, v14: int, space_usage: int = 0,
                   flags: int = 0, v26: int = 0, name: bytes = b"", last_var_id: int = 128,
                   default: bytes | None = None) -> bytes:
    """An MSysObjects record.

    Fixed columns 1-7 (ObjidTable, Type, Id, ColtypOrPgnoFDP, SpaceUsage, Flags,
    PagesOrLocale) at bytes 4-29, a one-byte null bitmap at 30, V = 31, then the
    variable-offset array for columns 128..last_var_id with the name as column 128
    (the others null).  With last_var_id below 128 no offset array is written and
    the name bytes follow V directly (byte 1 then holds that id unchanged).
    """
    if isinstance(name, str):
        name = name.encode("utf-8")
    fixed = struct.pack("<IHIIIII", owner_id, type, id, v14, space_usage, flags, v26)
    head = struct.pack("<BBH", 7, last_var_id, 4 + len(fixed) + 1)
    body = head + fixed + b"\x80"
    if last_var_id < 128:
        return body + name
    if default is not None:     # DefaultValue is variable column 131
        last_var_id = max(last_var_id, 131)
        body = struct.pack("<BBH", 7, last_var_id, 4 + len(fixed) + 1) + fixed + b"\x80"
        n = last_var_id - 127
        end = len(name) | 0x8000
        ends = [len(name), end, end, len(name) + len(default)] + [0x8000 | (len(name) + len(default))] * (n - 4)
        return body + struct.pack("<%dH" % n, *ends) + name + default
    n = last_var_id - 127
    ends = [len(name)] + [0x8000 | len(name)] * (n - 1)
    return body + struct.pack("<%dH" % n, *ends) + name


def catalog_table_record(name: str | bytes, object_id: int, root_page: int,
                         space_usage: int = 80, flags: int = 0, pages: int = 1) -> bytes:
    """Catalog record of a table (type 1): id = its object id, root page at bytes 14-17."""
    return catalog_record(object_id, CATALOG_TABLE, object_id, root_page, space_usage, flags, pages,
                          _name_bytes(name))


def catalog_column_record(owner_id: int, column: Column) -> bytes:
    """Catalog record of a column (type 2): id, type, space usage, flags, codepage."""
    return catalog_record(owner_id, CATALOG_COLUMN, column.id, column.type, column.space_usage,
                          column.flags, column.codepage, column.name_bytes,
                          default=getattr(column, "default", None))


def catalog_long_value_record(owner_id: int, object_id: int, root_page: int,
                              name: bytes = b"LV", space_usage: int = 80) -> bytes:
    """Catalog record of a table's long-value tree (type 4)."""
    return catalog_record(owner_id, CATALOG_LONG_VALUE, object_id, root_page, space_usage, 0, 1,
                          _name_bytes(name))


def catalog_index_record(owner_id: int, index_id: int, root_page: int, name: str | bytes,
                         key_columns: list[tuple[int, bool]], flags: int = 0,
                         four_byte_segments: bool = True) -> bytes:
    """Catalog record of an index (type 3): name (column 128) and key list (KeyFldIDs,
    column 132) as variable columns.  `key_columns` holds (column id, descending) in
    key order; with `four_byte_segments` (index flag 0x00010000, set here) each entry is
    {u8 flags (0x40 descending), u8 0, u16 id}, else a signed 16-bit id (negative:
    descending)."""
    if four_byte_segments:
        flags |= 0x00010000
        keys = b"".join(struct.pack("<BBH", 0x40 if desc else 0, 0, cid) for cid, desc in key_columns)
    else:
        keys = b"".join(struct.pack("<h", -cid if desc else cid) for cid, desc in key_columns)
    name = _name_bytes(name)
    fixed = struct.pack("<IHIIIII", owner_id, CATALOG_INDEX, index_id, root_page, 80, flags, 1033)
    ends = [len(name), 0x8000 | len(name), 0x8000 | len(name), 0x8000 | len(name), len(name) + len(keys)]
    head = struct.pack("<BBH", 7, 132, 4 + len(fixed) + 1)
    return head + fixed + b"\x80" + struct.pack("<5H", *ends) + name + keys


def _name_bytes(name) -> bytes:
    return name if isinstance(name, bytes) else name.encode("utf-8")


# The columns the engine defines for MSysObjects (id, name, type, space usage, flags).
MSYS_OBJECTS_COLUMNS = [
    Column("ObjidTable", LONG, 1, flags=1, codepage=1252),
    Column("Type", SHORT, 2, flags=1, codepage=1252),
    Column("Id", LONG, 3, flags=1, codepage=1252),
    Column("ColtypOrPgnoFDP", LONG, 4, flags=1, codepage=1252),
    Column("SpaceUsage", LONG, 5, flags=1, codepage=1252),
    Column("Flags", LONG, 6, flags=1, codepage=1252),
    Column("PagesOrLocale", LONG, 7, flags=1, codepage=1252),
    Column("RootFlag", BIT, 8, codepage=1252),
    Column("RecordOffset", SHORT, 9, codepage=1252),
    Column("LCMapFlags", LONG, 10, codepage=1252),
    Column("KeyMost", UNSIGNED_SHORT, 11, codepage=1252),
    Column("LVChunkMax", LONG, 12, codepage=1252),
    Column("Name", TEXT, 128, flags=1),
    Column("Stats", BINARY, 129, codepage=1252),
    Column("TemplateTable", TEXT, 130),
    Column("DefaultValue", BINARY, 131, codepage=1252),
    Column("KeyFldIDs", BINARY, 132, codepage=1252),
    Column("VarSegMac", BINARY, 133, codepage=1252),
    Column("ConditionalColumns", BINARY, 134, codepage=1252),
    Column("TupleLimits", BINARY, 135, codepage=1252),
    Column("Version", BINARY, 136, codepage=1252),
    Column("SortID", BINARY, 137, codepage=1252),
    Column("CallbackData", LONG_BINARY, 256, space_usage=0, codepage=1252),
    Column("CallbackDependencies", LONG_BINARY, 257, space_usage=0, codepage=1252),
    Column("SeparateLV", LONG_BINARY, 258, space_usage=0, codepage=1252),
    Column("SpaceHints", LONG_BINARY, 259, space_usage=0, codepage=1252),
    Column("SpaceDeferredLVHints", LONG_BINARY, 260, space_usage=0, codepage=1252),
    Column("LocaleName", LONG_BINARY, 261, space_usage=0, codepage=1252),
]
