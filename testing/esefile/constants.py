"""Format facts the writer shares: column types and widths, catalog row types, page,
tag and tagged-item flags, compression schemes, fixed page numbers and object ids, and
the two layout rules (large-page tags, header size).
"""

from __future__ import annotations

import datetime as _dt
import struct


SIGNATURE = 0x89ABCDEF

# Column types (JET_coltyp).
NULL, BIT, UNSIGNED_BYTE, SHORT, LONG, CURRENCY, FLOAT, DOUBLE = range(8)
DATETIME, BINARY, TEXT, LONG_BINARY, LONG_TEXT, SLV = range(8, 14)
UNSIGNED_LONG, LONG_LONG, GUID, UNSIGNED_SHORT, MAX = range(14, 19)

# Fixed storage width of each type; types without an entry are variable-size.
FIXED_WIDTH = {
    BIT: 1, UNSIGNED_BYTE: 1, SHORT: 2, LONG: 4, CURRENCY: 8, FLOAT: 4,
    DOUBLE: 8, DATETIME: 8, UNSIGNED_LONG: 4, LONG_LONG: 8, GUID: 16,
    UNSIGNED_SHORT: 2,
}
TEXT_TYPES = (TEXT, LONG_TEXT)
LONG_TYPES = (LONG_BINARY, LONG_TEXT)

# Catalog record types (MSysObjects "Type" column).
CATALOG_TABLE, CATALOG_COLUMN, CATALOG_INDEX, CATALOG_LONG_VALUE, CATALOG_CALLBACK = 1, 2, 3, 4, 5

# Page flags.
PAGE_ROOT = 0x01
PAGE_LEAF = 0x02
PAGE_PARENT_OF_LEAF = 0x04
PAGE_EMPTY = 0x08
PAGE_SPACE_TREE = 0x20
PAGE_INDEX = 0x40
PAGE_LONG_VALUE = 0x80
# Bits the engine sets on every page of a modern database (new record format,
# new checksum format and friends); readers do not interpret them.
PAGE_FORMAT_BITS = 0xA800

# Tag flags (3 bits).
TAG_VERSION = 0x1
TAG_DELETED = 0x2
TAG_COMMON_KEY = 0x4

# Flags byte of tagged column data.
TAGGED_VARIABLE = 0x01      # set by the engine on long-value columns stored inline
TAGGED_COMPRESSED = 0x02
TAGGED_LONG_VALUE = 0x04    # the data is a reference into the long-value tree
TAGGED_MULTI_VALUE = 0x08

# Compression schemes (first byte of compressed data = scheme << 3).
COMPRESS_7BIT_ASCII = 1
COMPRESS_7BIT_UNICODE = 2
COMPRESS_XPRESS = 3
COMPRESS_LZ4 = 7

CATALOG_ROOT_PAGE = 4
SHADOW_CATALOG_ROOT_PAGE = 24   # root of MSysObjectsShadow, the engine's backup of the catalog
MSYS_OBJECTS_ID = 2
FIRST_USER_OBJECT_ID = 8

_OLE_EPOCH = _dt.datetime(1899, 12, 30)
_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_BE32 = struct.Struct(">I")


def patch(data: bytes, offset: int, new: bytes) -> bytes:
    """Return `data` with the bytes at `offset` replaced by `new` (same length)."""
    if offset < 0 or offset + len(new) > len(data):
        raise ValueError(f"patch at {offset}+{len(new)} outside {len(data)} bytes")
    return data[:offset] + bytes(new) + data[offset + len(new):]


def uses_large_page_layout(version: int, revision: int, page_size: int) -> bool:
    """15-bit tags with flags inside the value: version 0x620, revision >= 17, pages > 8 KiB."""
    return version == 0x620 and revision >= 17 and page_size > 8192


def page_header_size(version: int, revision: int, page_size: int) -> int:
    """80 bytes for the current header shape on pages above 8 KiB, else 40."""
    current = version > 0x620 or (version == 0x620 and revision >= 17)
    return 80 if current and page_size > 8192 else 40
