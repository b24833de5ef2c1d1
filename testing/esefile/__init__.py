"""Byte-exact writer of ESE (Extensible Storage Engine) database files for tests.

quarrow only ever reads ESE files, so its tests, benchmarks, fuzz seeds and the
demo need a way to produce databases with known contents, and to damage them on
purpose.  This module lays such files out byte by byte from a high-level
description, using nothing but the Python standard library.

File layout written here (all integers little-endian unless noted):

* The file is a sequence of pages of ``page_size`` bytes.  The first holds the
  database header (signature 0x89ABCDEF at offset 4, format version at 8,
  format revision at 232, page size at 236).  The second is "page 0", which the
  engine keeps as a shadow copy of the header (written unless
  ``EseFile.shadow_header`` is cleared).  Page number N starts at
  (N + 1) * page_size.
* Every page starts with a 40-byte header (80 bytes on pages above 8192 bytes
  with the current header shape) and ends with a tag array that grows backwards:
  tag i occupies the 4 bytes at page_size - 4 * (i + 1) and locates one value in
  the data area that follows the header.  Tag 0 is the page's external header:
  the 16-byte space header on a tree's root page, the key prefix elsewhere.
* B+ trees: leaf entries are key + data, branch entries key + child page.  An
  entry may drop the first bytes of its key when they equal the page's key
  prefix (tag flag 0x4, "common key size" word first).
* Pages 1-3 belong to the database's own root and space trees, page 4 is the
  root of the catalog (the table MSysObjects), page 24 the root of its backup
  (MSysObjectsShadow, left empty here); tables and long-value trees take the
  other pages from 5 on.
* Checksums are filled in as the engine computes them (see set_page_checksum),
  so that outside readers accept the files; quarrow itself ignores them.

Typical use::

    db = EseFile(page_size=4096)
    db.add_table(Table("People", [Column("Id", LONG, 1), Column("Name", TEXT, 128)],
                       records=[{"Id": 1, "Name": "Ann"}]))
    db.write("people.edb")
"""

# One module per part of the format; every name is re-exported here so that
# `from esefile import X` keeps working for any X the writer has.

from .constants import (SIGNATURE, NULL, BIT, UNSIGNED_BYTE, SHORT, LONG, CURRENCY, FLOAT, DOUBLE,
    DATETIME, BINARY, TEXT, LONG_BINARY, LONG_TEXT, SLV, UNSIGNED_LONG, LONG_LONG, GUID,
    UNSIGNED_SHORT, MAX, FIXED_WIDTH, TEXT_TYPES, LONG_TYPES, CATALOG_TABLE, CATALOG_COLUMN,
    CATALOG_INDEX, CATALOG_LONG_VALUE, CATALOG_CALLBACK, PAGE_ROOT, PAGE_LEAF, PAGE_PARENT_OF_LEAF,
    PAGE_EMPTY, PAGE_SPACE_TREE, PAGE_INDEX, PAGE_LONG_VALUE, PAGE_FORMAT_BITS, TAG_VERSION,
    TAG_DELETED, TAG_COMMON_KEY, TAGGED_VARIABLE, TAGGED_COMPRESSED, TAGGED_LONG_VALUE,
    TAGGED_MULTI_VALUE, COMPRESS_7BIT_ASCII, COMPRESS_7BIT_UNICODE, COMPRESS_XPRESS, COMPRESS_LZ4,
    CATALOG_ROOT_PAGE, SHADOW_CATALOG_ROOT_PAGE, MSYS_OBJECTS_ID, FIRST_USER_OBJECT_ID, _OLE_EPOCH,
    _U16, _U32, _BE32, patch, uses_large_page_layout, page_header_size)  # noqa: F401
from .checksum import (_xor32, _xor_of_set_bit_positions, _PARITY, _BIT_INDEX_XOR, _ECC_MASKS,
    _ecc_masks, _ecc, page_checksum, set_page_checksum, header_checksum)  # noqa: F401
from .page import (Page, leaf_entry, branch_entry, space_header)  # noqa: F401
from .long_value import (TaggedItem, tagged_item, lv_ref, LongValue)  # noqa: F401
from .compression import (compress_7bit)  # noqa: F401
from .record import (Column, encode_text, _int_bytes, _value_converter, _multi_value, _MISSING,
    RecordEncoder, table_record)  # noqa: F401
from .catalog import (catalog_key, catalog_record, catalog_table_record, catalog_column_record,
    catalog_long_value_record, catalog_index_record, _name_bytes, MSYS_OBJECTS_COLUMNS)  # noqa: F401
from .tree import (Table, _TreePlan, _common_prefix, _TreeWriter)  # noqa: F401
from .database import (_BuiltTable, EseFile, _key, _ordered_numbers)  # noqa: F401
from .sample import (make_sample_database)  # noqa: F401
