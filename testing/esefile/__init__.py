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

from __future__ import annotations

import datetime as _dt
import struct
import uuid as _uuid
from typing import NamedTuple


# ---------------------------------------------------------------------------
# Constants
# ---------------------------------------------------------------------------

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


# ---------------------------------------------------------------------------
# Checksums
# ---------------------------------------------------------------------------

def _xor32(data: bytes) -> int:
    """XOR of all little-endian 32-bit words of `data` (length a multiple of 4)."""
    words = len(data) // 4
    width = 1
    while width < words:
        width *= 2
    x = int.from_bytes(data, "little")
    bits = width * 32
    while bits > 32:
        bits //= 2
        x = (x >> bits) ^ (x & ((1 << bits) - 1))
    return x


def _xor_of_set_bit_positions(byte: int) -> int:
    x = 0
    for k in range(8):
        if byte >> k & 1:
            x ^= k
    return x


_PARITY = bytes(bin(b).count("1") & 1 for b in range(256))
_BIT_INDEX_XOR = bytes(_xor_of_set_bit_positions(b) for b in range(256))
_ECC_MASKS: dict[int, tuple[list[int], list[int]]] = {}


def _ecc_masks(size: int):
    """Per-size masks selecting the bytes whose index has bit m set, and bit k of every byte."""
    masks = _ECC_MASKS.get(size)
    if masks is None:
        index_masks = []
        m = 0
        while (1 << m) < size:
            index_masks.append(int.from_bytes(
                bytes(1 if j >> m & 1 else 0 for j in range(size)), "little"))
            m += 1
        bit_masks = [int.from_bytes(bytes([1 << k]) * size, "little") for k in range(3)]
        masks = _ECC_MASKS[size] = (index_masks, bit_masks)
    return masks


def _ecc(page: bytes, skip: int = 8) -> int:
    """The engine's error-correcting checksum: XOR of the bit indices of every set bit
    after the first `skip` bytes, low half; high half the same XOR of inverted indices."""
    size = len(page)
    body = b"\0" * skip + page[skip:]
    index_masks, bit_masks = _ecc_masks(size)
    parity = int.from_bytes(body.translate(_PARITY), "little")
    within = int.from_bytes(body.translate(_BIT_INDEX_XOR), "little")
    value = 0
    for m, mask in enumerate(index_masks):       # byte index bits -> bit index bits 3..
        if (parity & mask).bit_count() & 1:
            value |= 1 << (m + 3)
    for k, mask in enumerate(bit_masks):         # bit-within-byte -> bit index bits 0..2
        if (within & mask).bit_count() & 1:
            value |= 1 << k
    all_bits = (size * 8) - 1
    odd = int.from_bytes(body, "little").bit_count() & 1
    high = value ^ all_bits if odd else value
    return (high & 0xFFFF) << 16 | (value & 0xFFFF)     # 16-bit halves (blocks of <= 8 KiB)


def page_checksum(page: bytes, page_number: int, version: int, revision: int) -> bytes:
    """The 8 checksum bytes at the start of a page (see set_page_checksum)."""
    if version == 0x620 and revision >= 11:
        blocks = page_header_size(version, revision, len(page)) == 80
        block = page[:len(page) // 4] if blocks else page
        return struct.pack("<II", _xor32(block[8:]) ^ page_number, _ecc(block))
    return struct.pack("<II", _xor32(page[8:]) ^ _xor32(_U32.pack(page_number)) ^ SIGNATURE,
                       page_number)


def set_page_checksum(page: bytearray, page_number: int, version: int, revision: int) -> None:
    """Fill in a page's checksums.

    Modern databases (version 0x620, revision >= 11) store at offset 0 an XOR of
    the page's 32-bit words after the first 8 bytes, mixed with the page number,
    and at offset 4 an ECC value: the XOR of the bit indices of every set bit,
    with in its high half the same for the inverted indices.  Pages above 8 KiB
    are checksummed in four blocks: the first as above, the other three into the
    header extension (offsets 40, 48, 56: XOR mixed with the page number, then
    the ECC over the whole block).  Older databases store an XOR checksum seeded
    with the signature over everything from offset 4, and the page number at 4.
    """
    size = len(page)
    if version == 0x620 and revision >= 11 and page_header_size(version, revision, size) == 80:
        block = size // 4
        for i in range(1, 4):
            data = bytes(page[i * block:(i + 1) * block])
            struct.pack_into("<II", page, 32 + 8 * i, _xor32(data) ^ page_number, _ecc(data, 0))
    page[0:8] = page_checksum(bytes(page), page_number, version, revision)


def header_checksum(header_page: bytes) -> int:
    """XOR checksum of the database header: the words after the checksum, seeded."""
    return _xor32(header_page[4:]) ^ SIGNATURE


# ---------------------------------------------------------------------------
# Pages, tags and tree entries
# ---------------------------------------------------------------------------

class Page:
    """One page: header fields, tag values and optional bytes left in the free area.

    Values are stored in tag order from the start of the data area; the tag array
    is written backwards from the page end (tag i at page_size - 4 * (i + 1)).
    Classic layout: tag words are (size & 0x1FFF, offset & 0x1FFF | flags << 13).
    Large-page layout: 15-bit size and offset, and the 3 tag flag bits travel in
    bits 5-7 of the value's second byte (bits 13-15 of its first 16-bit word).
    """

    def __init__(self, page_size: int, large: bool, flags: int, next_page: int = 0,
                 prev_page: int = 0, header_size: int | None = None):
        self.page_size = page_size
        self.large = large
        self.flags = flags
        self.next_page = next_page
        self.prev_page = prev_page
        self.header_size = header_size if header_size is not None else (80 if large else 40)
        self.fdp = 0            # object id of the tree the page belongs to (offset 24)
        self.dbtime = 0         # database time of the last change (offset 8)
        self.slack = b""        # bytes placed in the free area right after the values
        self.extension = b""    # bytes of the 40-byte header extension (80-byte headers)
        self.count_high_bits = 0  # 0-15, stored in the reserved top 4 bits of the tag count
        self.tags: list[tuple[bytes, int]] = []

    def add_tag(self, value: bytes, flags: int = 0) -> int:
        """Append a tag; returns its index (tag 0 is the first one added)."""
        if not 0 <= flags <= 7:
            raise ValueError(f"tag flags {flags} do not fit 3 bits")
        self.tags.append((bytes(value), flags))
        return len(self.tags) - 1

    def data_size(self) -> int:
        return sum(len(v) for v, _ in self.tags)

    def free_size(self) -> int:
        """Bytes between the last value and the tag array (the 'available data size')."""
        return self.page_size - self.header_size - self.data_size() - 4 * len(self.tags)

    def build(self) -> bytes:
        ps, hs = self.page_size, self.header_size
        data = bytearray()
        words = []
        limit = 0x7FFF if self.large else 0x1FFF
        for value, flags in self.tags:
            offset, size = len(data), len(value)
            if size > limit or (offset > limit and size):
                raise ValueError(f"tag value at {offset}+{size} does not fit the tag fields")
            if self.large:
                if flags:
                    if size < 2:
                        raise ValueError("large-page tag flags need a value of 2 bytes or more")
                    if value[1] & 0xE0:
                        raise ValueError("large-page tag value has bits 5-7 of its 2nd byte in use")
                    value = value[:1] + bytes([value[1] | flags << 5]) + value[2:]
                words.append((size, offset & limit))
            else:
                words.append((size, (offset & limit) | flags << 13))
            data += value
        free = ps - hs - len(data) - 4 * len(self.tags)
        if len(self.tags) > 0xFFF:
            raise ValueError("more than 4095 tags")
        if free < len(self.slack):
            raise ValueError(f"page overflow: {-free + len(self.slack)} bytes too many")
        page = bytearray(ps)
        struct.pack_into("<QQIIIHHHHI", page, 0, 0, self.dbtime, self.prev_page, self.next_page,
                         self.fdp, free, 0, len(data), len(self.tags) | self.count_high_bits << 12,
                         self.flags)
        if self.extension:
            page[40:40 + len(self.extension)] = self.extension
        page[hs:hs + len(data)] = data
        page[hs + len(data):hs + len(data) + len(self.slack)] = self.slack
        if words:
            flat = [w for pair in reversed(words) for w in pair]
            page[ps - 4 * len(words):] = struct.pack("<%dH" % len(flat), *flat)
        return bytes(page)


def leaf_entry(key: bytes, data: bytes, common_key_size: int | None = None) -> tuple[bytes, int]:
    """A leaf entry as (tag value, tag flags).

    `key` is the entry's full key.  With `common_key_size` the entry omits that many
    leading key bytes (they are taken from the page's key prefix, tag 0): the value
    then starts with the common key size word and has tag flag 0x4.
    """
    if common_key_size is None:
        return _U16.pack(len(key)) + key + data, 0
    local = key[common_key_size:]
    return struct.pack("<HH", common_key_size, len(local)) + local + data, TAG_COMMON_KEY


def branch_entry(key: bytes, child_page: int, common_key_size: int | None = None) -> tuple[bytes, int]:
    """A branch entry (separator key, then the child's page number) as (value, flags)."""
    return leaf_entry(key, _U32.pack(child_page), common_key_size)


def space_header(primary_pages: int = 20, parent_fdp: int = 1, flags: int = 0, pgno_oe: int = 0) -> bytes:
    """The 16-byte external header of a tree's root page (its space description).

    The first word doubles as a 'key size' when tag 0 is read as a leaf entry, as
    the catalog walk does; keeping it at 14 or more makes such a read yield no data.
    """
    return struct.pack("<IIII", primary_pages, parent_fdp, flags, pgno_oe)


# ---------------------------------------------------------------------------
# Columns, values and records
# ---------------------------------------------------------------------------

class Column:
    """A column definition.  Ids 1-127 are fixed, 128-255 variable, 256+ tagged."""

    def __init__(self, name: str | bytes, type: int, id: int, space_usage: int | None = None,
                 flags: int = 0, codepage: int | None = None, default: bytes | None = None):
        self.name = name
        self.default = default  # stored bytes of the column default (catalog DefaultValue)
        self.type = type
        self.id = id
        if space_usage is None:
            space_usage = FIXED_WIDTH.get(type, 255) if id <= 127 else 255
        self.space_usage = space_usage
        self.flags = flags
        self.codepage = (1252 if type in TEXT_TYPES else 0) if codepage is None else codepage

    @property
    def name_bytes(self) -> bytes:
        return self.name if isinstance(self.name, bytes) else self.name.encode("utf-8")

    @property
    def kind(self) -> str:
        return "fixed" if self.id <= 127 else "variable" if self.id <= 255 else "tagged"

    def __repr__(self):
        return f"Column({self.name!r}, {self.type}, {self.id})"


class TaggedItem(NamedTuple):
    """Raw tagged column data with its flags byte (0 = no flags byte in classic records)."""
    data: bytes
    flags: int


def tagged_item(data: bytes, flags: int) -> TaggedItem:
    """A tagged value stored verbatim behind a flags byte (0x04 long-value reference,
    0x02 compressed, 0x08 multiple values)."""
    return TaggedItem(bytes(data), flags)


def lv_ref(lid: int, lid64: bool = False, flags: int = TAGGED_LONG_VALUE) -> TaggedItem:
    """A long-value reference: the LID, 4 bytes little-endian, or 8 bytes with bit 63
    set for the 64-bit LIDs of newer format revisions."""
    data = struct.pack("<Q", lid | 1 << 63) if lid64 else _U32.pack(lid)
    return TaggedItem(data, flags)


class LongValue:
    """A record value to be stored in the table's long-value tree.

    The writer assigns the next free LID unless `lid` is given, stores the bytes
    (str is encoded with the column's codepage) and puts a reference in the record.
    """

    def __init__(self, data: bytes | str, lid: int | None = None, flags: int = TAGGED_LONG_VALUE):
        self.data = data
        self.lid = lid
        self.flags = flags

    def __repr__(self):
        return f"LongValue(lid={self.lid}, {len(self.data)} bytes)"


def compress_7bit(data: bytes, unicode: bool = False) -> bytes:
    """7-bit packing as the engine compresses short text: a header byte (scheme << 3,
    low 3 bits = bits used in the last byte - 1), then the 7 low bits of every input
    unit, least significant bit first.  With `unicode` the input is UTF-16LE and each
    code unit (which must be below 0x80) is packed."""
    units = data[::2] if unicode else data
    if unicode and (len(data) % 2 or any(data[1::2])):
        raise ValueError("7-bit Unicode packing needs UTF-16LE code units below 0x80")
    if any(b >= 0x80 for b in units):
        raise ValueError("7-bit packing needs bytes below 0x80")
    acc = 0
    for i, b in enumerate(units):
        acc |= b << (7 * i)
    bits = 7 * len(units)
    packed = acc.to_bytes((bits + 7) // 8, "little")
    used = bits % 8 or 8
    scheme = COMPRESS_7BIT_UNICODE if unicode else COMPRESS_7BIT_ASCII
    return bytes([scheme << 3 | (used - 1)]) + packed


def encode_text(value: str, codepage: int) -> bytes:
    """Text bytes for a codepage: 1200 UTF-16LE, 65001 UTF-8, 20127 ASCII, else windows-1252."""
    if codepage == 1200:
        return value.encode("utf-16-le")
    if codepage == 65001:
        return value.encode("utf-8")
    if codepage == 20127:
        return value.encode("ascii")
    return value.encode("cp1252")


def _int_bytes(value: int, width: int) -> bytes:
    """Two's complement little-endian bytes; accepts signed and unsigned values."""
    if not -(1 << (8 * width - 1)) <= value < 1 << (8 * width):
        raise OverflowError(f"{value} does not fit {width} bytes")
    return (value & ((1 << (8 * width)) - 1)).to_bytes(width, "little")


def _value_converter(column: Column):
    """Function turning a Python value into the column's stored bytes."""
    t = column.type
    width = FIXED_WIDTH.get(t)
    codepage = column.codepage

    def convert(v):
        if isinstance(v, (bytes, bytearray, memoryview)):
            return bytes(v)
        if isinstance(v, str):
            if t == GUID:
                return _uuid.UUID(v).bytes_le
            return encode_text(v, codepage)
        if isinstance(v, bool):
            return (b"\xff" if v else b"\x00") if t == BIT else _int_bytes(int(v), width or 1)
        if isinstance(v, int):
            if t == FLOAT:
                return struct.pack("<f", v)
            if t == DOUBLE:
                return struct.pack("<d", v)
            return _int_bytes(v, width or 4)
        if isinstance(v, float):
            if t == FLOAT:
                return struct.pack("<f", v)
            if width == 8 or width is None:
                return struct.pack("<d", v)
            raise TypeError(f"float value for column {column.name!r} of type {t}")
        if isinstance(v, _dt.datetime):
            delta = v.replace(tzinfo=None) - _OLE_EPOCH
            return struct.pack("<d", delta / _dt.timedelta(days=1))
        if isinstance(v, _uuid.UUID):
            return v.bytes_le
        raise TypeError(f"cannot store {type(v).__name__} in column {column.name!r}")

    fast = {LONG: "<i", SHORT: "<h", UNSIGNED_LONG: "<I", UNSIGNED_SHORT: "<H",
            LONG_LONG: "<q", CURRENCY: "<q", UNSIGNED_BYTE: "<B", DOUBLE: "<d"}.get(t)
    if fast is None:
        return convert
    pack = struct.Struct(fast).pack
    expected = float if t == DOUBLE else int

    def convert_fast(v):
        if type(v) is expected:
            try:
                return pack(v)
            except struct.error:
                pass
        return convert(v)
    return convert_fast


def _multi_value(values: list) -> bytes:
    """Multi-valued data: 16-bit offsets of each value (from the data start), then the values."""
    header = 2 * len(values)
    offsets, pos = [], header
    for v in values:
        offsets.append(pos)
        pos += len(v)
    return struct.pack("<%dH" % len(values), *offsets) + b"".join(values)


_MISSING = object()


class RecordEncoder:
    """Encodes record dictionaries for one column set (compiled once, used per record).

    Record layout: byte 0 = last fixed column id F, byte 1 = last variable column
    id L (127 when none), bytes 2-3 = offset V of the variable-offset array; then
    the fixed columns with id <= F back to back by their space_usage; an optional
    null bitmap of ceil(F/8) bytes ending at V (bit (i-1)%8 of byte (i-1)//8 set =
    fixed column i null, unused high bits set); at V one 16-bit end offset per
    variable column 128..L (bit 15 = null), counted from the end of the array;
    then the variable data; then the tagged directory (4 bytes per item: column id,
    offset from the directory start, bit 14 = the item starts with a flags byte)
    and the tagged data.  In the large-page layout every tagged item carries a
    flags byte and the offsets are plain 15-bit values.

    F and L stop at the last non-null column, like the engine: a null fixed or
    variable column after the last value is simply absent from the record.
    `lv_sink(column, data, lid, flags)` receives long values that go to the
    long-value tree and returns the reference TaggedItem.
    """

    def __init__(self, columns: list[Column], large: bool = False, null_bitmap: bool = False,
                 lv_sink=None, lv_inline_max: int | None = None):
        ids = [c.id for c in columns]
        if len(set(ids)) != len(ids):
            raise ValueError("duplicate column ids")
        cols = sorted(columns, key=lambda c: c.id)
        self.large = large
        self.null_bitmap = null_bitmap
        self.lv_sink = lv_sink
        self.lv_inline_max = lv_inline_max
        self.fixed = [(c, c.name, _value_converter(c)) for c in cols if c.id <= 127]
        variable = [(c, c.name, _value_converter(c)) for c in cols if 128 <= c.id <= 255]
        self.var_slots: list = [None] * ((variable[-1][0].id - 127) if variable else 0)
        for slot in variable:
            self.var_slots[slot[0].id - 128] = slot
        self.tagged = [(c, c.name, _value_converter(c)) for c in cols if c.id >= 256]
        self.names = {c.name for c in cols}
        self._alt = {}
        for c in cols:
            alt = c.name.decode("utf-8", "surrogateescape") if isinstance(c.name, bytes) \
                else c.name.encode("utf-8", "surrogateescape")
            self._alt[alt] = c.name

    def _normalise(self, values: dict) -> dict:
        out = {}
        for k, v in values.items():
            name = k if k in self.names else self._alt.get(k, _MISSING)
            if name is _MISSING:
                raise KeyError(f"no column named {k!r}")
            out[name] = v
        return out

    def _fixed_bytes(self, column: Column, convert, value) -> bytes:
        size = column.space_usage
        b = convert(value)
        if len(b) == size:
            return b
        if len(b) > size:
            raise ValueError(f"{len(b)} bytes do not fit fixed column {column.name!r} ({size})")
        pad = b" " if isinstance(value, str) and column.type in TEXT_TYPES else b"\0"
        if pad == b" " and column.codepage == 1200:
            pad = b" \0"
            return (b + pad * size)[:size]
        return b + pad * (size - len(b))

    def _tagged_bytes(self, column: Column, convert, value) -> tuple[bytes, int]:
        if isinstance(value, TaggedItem):
            return value.data, value.flags
        if isinstance(value, LongValue):
            data = value.data if isinstance(value.data, bytes) else convert(value.data)
            ref = self.lv_sink(column, data, value.lid, value.flags)
            return ref.data, ref.flags
        if isinstance(value, (list, tuple)):
            return _multi_value([convert(v) for v in value]), TAGGED_MULTI_VALUE
        data = convert(value)
        if column.type in LONG_TYPES:
            if self.lv_sink is not None and self.lv_inline_max is not None \
                    and len(data) > self.lv_inline_max:
                ref = self.lv_sink(column, data, None, TAGGED_LONG_VALUE)
                return ref.data, ref.flags
            return data, TAGGED_VARIABLE      # the engine flags inline long values
        return data, 0

    def encode(self, values: dict) -> bytes:
        if not self.names.issuperset(values.keys()):
            values = self._normalise(values)
        get = values.get
        parts = [b""]

        # Fixed columns up to the last one with a value.
        fixed = self.fixed
        last = -1
        for i in range(len(fixed) - 1, -1, -1):
            if get(fixed[i][1]) is not None:
                last = i
                break
        F = fixed[last][0].id if last >= 0 else 0
        nulls = 0
        for i in range(last + 1):
            column, name, convert = fixed[i]
            v = get(name)
            if v is None:
                parts.append(b"\0" * column.space_usage)
                nulls |= 1 << (column.id - 1)
            else:
                b = convert(v)
                parts.append(b if len(b) == column.space_usage else
                             self._fixed_bytes(column, convert, v))
        if self.null_bitmap and F:
            nbytes = (F + 7) // 8
            nulls |= ((1 << (8 * nbytes)) - 1) ^ ((1 << F) - 1)
            parts.append(nulls.to_bytes(nbytes, "little"))
        V = sum(len(p) for p in parts) + 4

        # Variable columns 128..L, L being the last one with a value; the ids in
        # between that the table does not define, or that are null, get a null
        # end offset (bit 15 set, the previous end kept in the low bits).
        slots = self.var_slots
        last = len(slots) - 1
        while last >= 0 and (slots[last] is None or get(slots[last][1]) is None):
            last -= 1
        L = 128 + last if last >= 0 else 127
        if last >= 0:
            ends = []
            end = 0
            array_at = len(parts)
            parts.append(b"")               # the end-offset array, filled in below
            for i in range(last + 1):
                slot = slots[i]
                v = get(slot[1]) if slot is not None else None
                if v is None:
                    ends.append(0x8000 | end)
                    continue
                b = v.data if isinstance(v, TaggedItem) else slot[2](v)
                end += len(b)
                ends.append(end)
                parts.append(b)
            if end > 0x7FFF:
                raise ValueError("variable columns exceed 32767 bytes")
            parts[array_at] = struct.pack("<%dH" % len(ends), *ends)

        # Tagged columns in id order.
        items = []
        for column, name, convert in self.tagged:
            v = get(name)
            if v is not None:
                items.append((column.id,) + self._tagged_bytes(column, convert, v))
        if items:
            directory = []
            blobs = []
            pos = 4 * len(items)
            for cid, data, flags in items:
                if self.large:
                    blob = bytes([flags]) + data
                    word = pos
                elif flags:
                    blob = bytes([flags]) + data
                    word = pos | 0x4000
                else:
                    blob = data
                    word = pos
                if pos > (0x7FFF if self.large else 0x3FFF):
                    raise ValueError("tagged data too large for the 14-bit offsets")
                directory += (cid, word)
                blobs.append(blob)
                pos += len(blob)
            parts.append(struct.pack("<%dH" % len(directory), *directory))
            parts.extend(blobs)
        parts[0] = struct.pack("<BBH", F, L, V)
        return b"".join(parts)


def table_record(columns: list[Column], values: dict, large: bool = False,
                 null_bitmap: bool = False) -> bytes:
    """Encode one record (the data part of a leaf entry); see RecordEncoder.

    LongValue values are not accepted here (there is no long-value tree to put
    them in): pass lv_ref(lid) or tagged_item(...) instead.
    """
    return RecordEncoder(columns, large, null_bitmap).encode(values)


# ---------------------------------------------------------------------------
# Catalog records
# ---------------------------------------------------------------------------

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


# ---------------------------------------------------------------------------
# Tables and B+ trees
# ---------------------------------------------------------------------------

class Table:
    """A table: columns, records and long values, and knobs for the tree shape.

    records: dicts (column name -> value) or raw bytes (the record data as stored).
    Record i gets the 4-byte big-endian key i + 1 unless `record_keys` is given.
    long_values: LID -> bytes stored in the long-value tree (a record refers to one
    with lv_ref(lid)).  LongValue(...) values and long-type values longer than
    `lv_inline_max` also go there, with LIDs after the highest explicit one.
    records_per_page / lv_records_per_page cap the entries per leaf page and
    branch_fanout the entries per branch page, to force multi-page trees.
    """

    def __init__(self, name: str | bytes, columns: list[Column], records: list | None = None,
                 object_id: int | None = None, records_per_page: int | None = None,
                 long_values: dict[int, bytes] | None = None, lv_chunk_size: int | None = None,
                 lv_records_per_page: int | None = None, root_page: int | None = None,
                 *, record_keys: list[bytes] | None = None, branch_fanout: int | None = None,
                 lv_root_page: int | None = None, lv_object_id: int | None = None,
                 lid64: bool = False, null_bitmap: bool = False, lv_inline_max: int | None = 1024,
                 key_compression: bool = True, space_usage: int = 80, lv_name: bytes = b"LV"):
        self.name = name
        self.columns = list(columns)
        self.records = list(records or [])
        self.object_id = object_id
        self.records_per_page = records_per_page
        self.long_values = dict(long_values or {})
        self.lv_chunk_size = lv_chunk_size
        self.lv_records_per_page = lv_records_per_page
        self.root_page = root_page
        self.record_keys = record_keys
        self.branch_fanout = branch_fanout
        self.lv_root_page = lv_root_page
        self.lv_object_id = lv_object_id
        self.lid64 = lid64
        self.null_bitmap = null_bitmap
        self.lv_inline_max = lv_inline_max
        self.key_compression = key_compression
        self.space_usage = space_usage
        self.lv_name = lv_name

    @property
    def name_bytes(self) -> bytes:
        return _name_bytes(self.name)


class _TreePlan:
    """Shape of one B+ tree: leaf pages with their entries, then branch levels.

    levels[0] lists the leaves (each a list of (key, data)); levels[k] lists the
    branch pages of level k (each a list of (separator key, child index in level
    k-1)); the last level has one page, the root.
    """

    def __init__(self, entries: list[tuple[bytes, bytes]], page_size: int, header_size: int,
                 per_page: int | None, fanout: int | None, large: bool = False):
        capacity = page_size - header_size
        if not large:
            capacity = min(capacity, 0x1FFF)    # classic tags address 13-bit offsets only
        max_key = max((len(k) for k, _ in entries), default=0)
        reserve = 4 + max(16, max_key)          # tag 0: space header or key prefix
        sizes = [len(k) + len(d) + 2 + 4 + 2 for k, d in entries]   # + optional common-key word
        self.levels = [self._split(entries, sizes, capacity - reserve, per_page)]
        while len(self.levels[-1]) > 1:
            children = self.levels[-1]
            firsts = [self._first_key(k, len(self.levels) - 1) for k in range(len(children))]
            branch = [(firsts[i + 1] if i + 1 < len(children) else b"", i)
                      for i in range(len(children))]
            bsizes = [len(k) + 2 + 4 + 4 + 2 for k, _ in branch]
            self.levels.append(self._split(branch, bsizes, capacity - reserve, fanout))
        if not self.levels[0]:
            self.levels[0] = [[]]

    @staticmethod
    def _split(items, sizes, capacity, per_page):
        pages, current, used = [], [], 0
        for item, size in zip(items, sizes):
            if size > capacity:
                raise ValueError(f"entry of {size} bytes does not fit a page ({capacity} usable)")
            if current and (used + size > capacity or (per_page and len(current) >= per_page)):
                pages.append(current)
                current, used = [], 0
            current.append(item)
            used += size
        if current:
            pages.append(current)
        return pages

    def _first_key(self, index: int, level: int) -> bytes:
        while level > 0:
            index = self.levels[level][index][0][1]
            level -= 1
        return self.levels[0][index][0][0]

    def page_count(self) -> int:
        return sum(len(level) for level in self.levels)

    def order(self):
        """(level, index) of every page in allocation order: root, then leaves in key
        order, then the branch levels from the bottom up."""
        top = len(self.levels) - 1
        yield top, 0
        for level in range(top):
            for i in range(len(self.levels[level])):
                yield level, i


def _common_prefix(a: bytes, b: bytes) -> int:
    n = min(len(a), len(b))
    i = 0
    while i < n and a[i] == b[i]:
        i += 1
    return i


class _TreeWriter:
    """Turns a _TreePlan and its page numbers into Page objects."""

    def __init__(self, db: "EseFile", fdp: int, kind_flags: int, compress: bool,
                 root_header: bytes):
        self.db = db
        self.fdp = fdp
        self.kind_flags = kind_flags
        self.compress = compress
        self.root_header = root_header

    def pages(self, plan: _TreePlan, numbers: dict[tuple[int, int], int]) -> dict[int, Page]:
        out: dict[int, Page] = {}
        top = len(plan.levels) - 1
        for level, nodes in enumerate(plan.levels):
            for i, node in enumerate(nodes):
                is_root = level == top
                flags = PAGE_FORMAT_BITS | self.kind_flags
                flags |= PAGE_LEAF if level == 0 else (PAGE_PARENT_OF_LEAF if level == 1 else 0)
                flags |= PAGE_ROOT if is_root else 0
                page = self.db.new_page(flags)
                page.fdp = self.fdp
                if not is_root:
                    page.prev_page = numbers[level, i - 1] if i > 0 else 0
                    page.next_page = numbers[level, i + 1] if i + 1 < len(nodes) else 0
                if level == 0:
                    entries = node
                else:
                    entries = [(k, _U32.pack(numbers[level - 1, child])) for k, child in node]
                self._fill(page, entries, is_root)
                out[numbers[level, i]] = page
        return out

    def _fill(self, page: Page, entries, is_root: bool) -> None:
        if is_root:
            page.add_tag(self.root_header)
            prefix = b""
        else:
            prefix = entries[len(entries) // 2][0] if entries and self.compress else b""
            if page.large and len(prefix) >= 2 and prefix[1] & 0xE0:
                prefix = b""        # its 2nd byte would collide with the tag flag bits
            page.add_tag(prefix)
        for key, data in entries:
            common = _common_prefix(prefix, key) if prefix else 0
            if common >= 2:
                local = key[common:]
                value = struct.pack("<HH", common, len(local)) + local + data
                page.add_tag(value, TAG_COMMON_KEY)
            else:
                page.add_tag(_U16.pack(len(key)) + key + data, 0)


# ---------------------------------------------------------------------------
# The database file
# ---------------------------------------------------------------------------

class _BuiltTable:
    def __init__(self):
        self.pages: list[int] = []
        self.leaf_pages: list[int] = []
        self.lv_pages: list[int] = []
        self.lv_leaf_pages: list[int] = []


class EseFile:
    """A whole database: header, the catalog at page 4 and every table's trees."""

    def __init__(self, page_size: int = 4096, version: int = 0x620, revision: int = 20):
        self.page_size = page_size
        self.version = version
        self.revision = revision
        self.large = uses_large_page_layout(version, revision, page_size)
        self.header_size = page_header_size(version, revision, page_size)
        self.tables: list[Table] = []
        self.catalog_records_per_page: int | None = None
        self.catalog_branch_fanout: int | None = None
        self.msys_columns: bool = True       # write the column records of MSysObjects
        self.checksums: bool = True          # fill header and page checksums
        self.shadow_header: bool = True      # copy the header into page 0 (the engine keeps a
        #                                      shadow copy there; some readers insist on it)
        self.shadow_catalog: bool = True     # an (empty) MSysObjectsShadow root at page 24
        self.extra_pages: int = 0            # zeroed pages appended after the last page
        self.tag_count_high_bits: int = 0    # written into the reserved top 4 bits of every
        #                                      page's tag count word
        self.dbtime: int = 0x1000
        self.first_free_page: int | None = None  # number every page but the fixed ones
        #                                      (1-4, 24) from here on; with write_sparse()
        #                                      a file of any page count costs little disk
        self._raw_catalog: list[tuple[bytes | None, bytes]] = []
        self._built: dict[str, _BuiltTable] = {}
        self._catalog_pages: list[int] = []
        self._page_flags: dict[int, int] = {}

    # -- description -------------------------------------------------------

    def add_table(self, table: Table) -> Table:
        self.tables.append(table)
        return table

    def add_raw_catalog_record(self, data: bytes, key: bytes | None = None) -> None:
        """Append an arbitrary catalog leaf entry (its data part).  Without `key` it
        goes after every generated record, in the order added."""
        self._raw_catalog.append((key, bytes(data)))

    def default_lv_chunk_size(self) -> int:
        """Half of what a page can address: two chunks fit a long-value leaf."""
        return (self.page_size if self.large else min(self.page_size, 8192)) // 2

    def new_page(self, flags: int) -> Page:
        page = Page(self.page_size, self.large, flags, header_size=self.header_size)
        page.dbtime = self.dbtime
        page.count_high_bits = self.tag_count_high_bits
        return page

    # -- results of build() ------------------------------------------------

    def page_offset(self, n: int) -> int:
        """File offset of page number n."""
        return (n + 1) * self.page_size

    def table_pages(self, name) -> list[int]:
        """Pages of a table's data tree: the root first, then the leaves in chain
        order, then the other branch pages bottom-up (valid after build())."""
        return list(self._built[_key(name)].pages)

    def table_leaf_pages(self, name) -> list[int]:
        return list(self._built[_key(name)].leaf_pages)

    def lv_pages(self, name) -> list[int]:
        """Pages of a table's long-value tree, in the order of table_pages()."""
        return list(self._built[_key(name)].lv_pages)

    def lv_leaf_pages(self, name) -> list[int]:
        return list(self._built[_key(name)].lv_leaf_pages)

    def catalog_pages(self) -> list[int]:
        return list(self._catalog_pages)

    def page_flags(self, n: int) -> int:
        return self._page_flags[n]

    def fix_checksum(self, data: bytes, n: int) -> bytes:
        """Recompute page n's checksum after the page was patched (n = -1: the header)."""
        if n == -1:
            return patch(data, 0, _U32.pack(header_checksum(data[:self.page_size])))
        base = self.page_offset(n)
        page = bytearray(data[base:base + self.page_size])
        set_page_checksum(page, n, self.version, self.revision)
        return patch(data, base, page)

    def free_area(self, data: bytes, n: int) -> tuple[int, int]:
        """File offsets [start, end) of page n's free area (between values and tags)."""
        base = self.page_offset(n)
        free, _, first, tags = struct.unpack_from("<HHHH", data, base + 28)
        start = base + self.header_size + first
        return start, start + free

    def _tag_words(self, data: bytes, n: int) -> tuple[int, int, list[tuple[int, int]]]:
        base = self.page_offset(n)
        count = _U16.unpack_from(data, base + 34)[0] & 0xFFF
        words = [struct.unpack_from("<HH", data, base + self.page_size - 4 * (i + 1)) for i in range(count)]
        return base, count, words

    def remove_tags(self, data: bytes, n: int, indexes) -> bytes:
        """Remove tags from page n as the engine removes a node: later tags shift down,
        the value bytes stay where they were, and the free count grows by the value
        size + 4 per tag.  Returns the new file bytes (checksum fixed)."""
        base, count, words = self._tag_words(data, n)
        drop = set(indexes)
        size_mask = 0x7FFF if self.large else 0x1FFF
        freed = sum((words[i][0] & size_mask) + 4 for i in drop)
        kept = [w for i, w in enumerate(words) if i not in drop]
        page = bytearray(data[base:base + self.page_size])
        for i, (size, offset) in enumerate(kept):
            struct.pack_into("<HH", page, self.page_size - 4 * (i + 1), size, offset)
        free, = _U16.unpack_from(page, 28)
        struct.pack_into("<H", page, 28, free + freed)
        word = _U16.unpack_from(page, 34)[0]
        struct.pack_into("<H", page, 34, (word & 0xF000) | len(kept))
        return self.fix_checksum(patch(data, base, bytes(page)), n)

    def flag_tags(self, data: bytes, n: int, indexes, flags: int = TAG_DELETED | TAG_VERSION) -> bytes:
        """Set node flags (default: deleted and versioned, as a delete first does) on
        tags of page n; the record stays in place.  Returns the new file bytes."""
        base, count, words = self._tag_words(data, n)
        page = bytearray(data[base:base + self.page_size])
        for i in indexes:
            size, offset = words[i]
            if self.large:
                at = self.header_size + (offset & 0x7FFF) + 1
                page[at] |= flags << 5
            else:
                struct.pack_into("<H", page, self.page_size - 4 * (i + 1) + 2, offset | flags << 13)
        return self.fix_checksum(patch(data, base, bytes(page)), n)

    # -- building ----------------------------------------------------------

    def _records(self, table: Table):
        """Encode a table's records; returns (entries, long values by LID)."""
        long_values = {lid: bytes(v) for lid, v in table.long_values.items()}
        next_lid = [max(long_values, default=0) + 1]

        def sink(column, data, lid, flags):
            if lid is None:
                lid = next_lid[0]
            if lid in long_values:
                raise ValueError(f"LID {lid} of table {table.name!r} used twice")
            next_lid[0] = max(next_lid[0], lid + 1)
            long_values[lid] = data
            return lv_ref(lid, table.lid64, flags)

        encoder = RecordEncoder(table.columns, self.large, table.null_bitmap, sink,
                                table.lv_inline_max)
        keys = table.record_keys
        if keys is not None and len(keys) != len(table.records):
            raise ValueError("record_keys and records differ in length")
        entries = []
        encode = encoder.encode
        pack_key = _BE32.pack
        for i, record in enumerate(table.records):
            data = bytes(record) if isinstance(record, (bytes, bytearray)) else encode(record)
            entries.append((keys[i] if keys is not None else pack_key(i + 1), data))
        return entries, long_values

    def _lv_entries(self, table: Table, long_values: dict[int, bytes]):
        chunk = table.lv_chunk_size or self.default_lv_chunk_size()
        entries = []
        for lid in sorted(long_values):
            value = long_values[lid]
            # 64-bit LIDs keep bit 63 set in the key too: the key is the reference's
            # LID big-endian (8 bytes), chunk keys add the 4-byte big-endian offset.
            key = struct.pack(">Q", lid | 1 << 63) if table.lid64 else _BE32.pack(lid)
            entries.append((key, struct.pack("<II", 1, len(value))))
            for offset in range(0, len(value), chunk):
                entries.append((key + _BE32.pack(offset), value[offset:offset + chunk]))
        return entries

    def _catalog_entries(self, plans) -> list[tuple[bytes, bytes]]:
        records = [(catalog_key(MSYS_OBJECTS_ID, CATALOG_TABLE, MSYS_OBJECTS_ID),
                    catalog_record(MSYS_OBJECTS_ID, CATALOG_TABLE, MSYS_OBJECTS_ID,
                                   CATALOG_ROOT_PAGE, 80, 0xC0000000, 20, b"MSysObjects"))]
        if self.msys_columns:
            for c in MSYS_OBJECTS_COLUMNS:
                records.append((catalog_key(MSYS_OBJECTS_ID, CATALOG_COLUMN, c.id),
                                catalog_column_record(MSYS_OBJECTS_ID, c)))
        for table, info in plans:
            oid = info["object_id"]
            records.append((catalog_key(oid, CATALOG_TABLE, oid),
                            catalog_table_record(table.name, oid, info["root"], table.space_usage)))
            for c in table.columns:
                records.append((catalog_key(oid, CATALOG_COLUMN, c.id),
                                catalog_column_record(oid, c)))
            if info["lv_plan"] is not None:
                lid = info["lv_object_id"]
                records.append((catalog_key(oid, CATALOG_LONG_VALUE, lid),
                                catalog_long_value_record(oid, lid, info["lv_root"], table.lv_name)))
        records.sort(key=lambda r: r[0])
        tail = 0
        for key, data in self._raw_catalog:
            if key is None:
                tail += 1
                key = b"\x7f" + b"\xff" * 4 + _BE32.pack(tail)
            records.append((key, data))
        return records

    def build(self) -> bytes:
        """Lay out the whole file and return its bytes."""
        images, size = self.build_pages()
        out = bytearray(size)
        for offset, raw in images.items():
            out[offset:offset + len(raw)] = raw
        return bytes(out)

    def write_sparse(self, path) -> int:
        """Write the file with only the pages in use (and the header) on disk: the
        rest are holes that read as zeros, so a file of millions of pages costs a few
        kilobytes.  Returns the file's size."""
        images, size = self.build_pages()
        with open(path, "wb") as f:
            for offset in sorted(images):
                f.seek(offset)
                f.write(images[offset])
            f.truncate(size)
        return size

    def build_pages(self) -> tuple[dict[int, bytes], int]:
        """Lay out the file as {file offset: bytes} for the header and every page in
        use, plus the file's size; every other byte of the file is zero."""
        ps, hs = self.page_size, self.header_size
        names = [_key(t.name) for t in self.tables]
        if len(set(names)) != len(names):
            raise ValueError("two tables share a name")

        # Object ids: explicit ones first, the rest counted up from 8.
        used_ids = {MSYS_OBJECTS_ID} | {t.object_id for t in self.tables if t.object_id} \
            | {t.lv_object_id for t in self.tables if t.lv_object_id}
        next_id = FIRST_USER_OBJECT_ID

        def new_id():
            nonlocal next_id
            while next_id in used_ids:
                next_id += 1
            used_ids.add(next_id)
            return next_id

        plans = []
        for table in self.tables:
            entries, long_values = self._records(table)
            oid = table.object_id or new_id()
            info = {"object_id": oid, "root": 0, "lv_root": 0,
                    "plan": _TreePlan(entries, ps, hs, table.records_per_page, table.branch_fanout,
                                      self.large),
                    "lv_plan": None, "lv_object_id": None}
            if long_values:
                info["lv_plan"] = _TreePlan(self._lv_entries(table, long_values), ps, hs,
                                            table.lv_records_per_page, table.branch_fanout,
                                            self.large)
                info["lv_object_id"] = table.lv_object_id or new_id()
            plans.append((table, info))

        # Page numbers: 1-4 fixed, explicit roots reserved, the rest handed out in order.
        reserved = {1, 2, 3, CATALOG_ROOT_PAGE}
        if self.shadow_catalog:
            reserved.add(SHADOW_CATALOG_ROOT_PAGE)
        for table in self.tables:
            for p in (table.root_page, table.lv_root_page):
                if p is not None:
                    if p in reserved or p < 1:
                        raise ValueError(f"page {p} is taken")
                    reserved.add(p)
        next_page = 1

        def alloc():
            nonlocal next_page
            while next_page in reserved:
                next_page += 1
            reserved.add(next_page)
            return next_page

        def number(plan: _TreePlan, root: int | None):
            numbers = {}
            for level, i in plan.order():
                if level == len(plan.levels) - 1:
                    numbers[level, i] = root if root is not None else alloc()
                else:
                    numbers[level, i] = alloc()
            return numbers

        catalog_plan = _TreePlan(self._catalog_entries(plans), ps, hs,
                                 self.catalog_records_per_page, self.catalog_branch_fanout,
                                 self.large)
        if self.first_free_page is not None:
            next_page = self.first_free_page
        catalog_numbers = number(catalog_plan, CATALOG_ROOT_PAGE)
        for table, info in plans:
            info["numbers"] = number(info["plan"], table.root_page)
            info["root"] = info["numbers"][len(info["plan"].levels) - 1, 0]
            if info["lv_plan"] is not None:
                info["lv_numbers"] = number(info["lv_plan"], table.lv_root_page)
                info["lv_root"] = info["lv_numbers"][len(info["lv_plan"].levels) - 1, 0]

        # The catalog again, now with the root pages (same sizes, same shape).
        catalog_plan2 = _TreePlan(self._catalog_entries(plans), ps, hs,
                                  self.catalog_records_per_page, self.catalog_branch_fanout,
                                  self.large)
        assert [len(x) for x in catalog_plan2.levels] == [len(x) for x in catalog_plan.levels]

        pages: dict[int, Page] = {}
        pages.update(self._database_root_pages())
        cat_writer = _TreeWriter(self, MSYS_OBJECTS_ID, 0, True, space_header(20, 1, 0, 0))
        pages.update(cat_writer.pages(catalog_plan2, catalog_numbers))
        self._catalog_pages = _ordered_numbers(catalog_plan2, catalog_numbers)
        self._built = {}
        for table, info in plans:
            built = _BuiltTable()
            writer = _TreeWriter(self, info["object_id"], 0, table.key_compression,
                                 space_header(20, 1, 0, 0))
            pages.update(writer.pages(info["plan"], info["numbers"]))
            built.pages = _ordered_numbers(info["plan"], info["numbers"])
            built.leaf_pages = [info["numbers"][0, i] for i in range(len(info["plan"].levels[0]))]
            if info["lv_plan"] is not None:
                writer = _TreeWriter(self, info["lv_object_id"], PAGE_LONG_VALUE,
                                     table.key_compression, space_header(20, info["object_id"], 0, 0))
                pages.update(writer.pages(info["lv_plan"], info["lv_numbers"]))
                built.lv_pages = _ordered_numbers(info["lv_plan"], info["lv_numbers"])
                built.lv_leaf_pages = [info["lv_numbers"][0, i]
                                       for i in range(len(info["lv_plan"].levels[0]))]
            self._built[_key(table.name)] = built

        last = max(pages) + self.extra_pages
        images: dict[int, bytes] = {}
        self._page_flags = {}
        for n, page in pages.items():
            raw = bytearray(page.build())
            if self.header_size == 80 and not page.extension:
                struct.pack_into("<Q", raw, 64, n)      # the extension records the page number
            if self.checksums:
                set_page_checksum(raw, n, self.version, self.revision)
            images[self.page_offset(n)] = bytes(raw)
            self._page_flags[n] = page.flags
        header = self._header()
        images[0] = header
        if self.shadow_header:
            images[ps] = header
        return images, ps * (last + 2)

    def _database_root_pages(self) -> dict[int, Page]:
        """Pages 1-3: the database's own root page and its two space-tree pages; page 24."""
        root = self.new_page(PAGE_FORMAT_BITS | PAGE_ROOT | PAGE_LEAF)
        root.fdp = 1
        root.add_tag(space_header(20, 0, 0, 2))
        pages = {1: root}
        for n in (2, 3):
            sp = self.new_page(PAGE_FORMAT_BITS | PAGE_ROOT | PAGE_LEAF | PAGE_SPACE_TREE)
            sp.fdp = 1
            sp.add_tag(bytes(16))
            pages[n] = sp
        if self.shadow_catalog:
            # The backup catalog's root: an empty leaf, so readers that insist on
            # reading the backup find a valid tree, and nothing is listed twice.
            shadow = self.new_page(PAGE_FORMAT_BITS | PAGE_ROOT | PAGE_LEAF)
            shadow.fdp = 3
            shadow.add_tag(space_header(20, 1, 0, 0))
            pages[SHADOW_CATALOG_ROOT_PAGE] = shadow
        return pages

    def _header(self) -> bytes:
        """The database header: signature, version, revision, page size and a clean
        shutdown state, with the XOR checksum over the rest of the header page."""
        h = bytearray(self.page_size)
        struct.pack_into("<IIII", h, 4, SIGNATURE, self.version, 0, 0)  # file type 0: database
        struct.pack_into("<Q", h, 16, self.dbtime)                      # database time
        struct.pack_into("<I", h, 24, 0x51554152)                       # database signature
        struct.pack_into("<I", h, 52, 3)                                # state: clean shutdown
        struct.pack_into("<I", h, 212, FIRST_USER_OBJECT_ID + len(self.tables) * 2)
        struct.pack_into("<II", h, 232, self.revision, self.page_size)
        if self.checksums:
            struct.pack_into("<I", h, 0, header_checksum(bytes(h)))
        return bytes(h)

    def write(self, path) -> bytes:
        """Build and write the file; returns the bytes written."""
        data = self.build()
        with open(path, "wb") as f:
            f.write(data)
        return data


def _key(name) -> bytes:
    return _name_bytes(name)


def _ordered_numbers(plan: _TreePlan, numbers) -> list[int]:
    return [numbers[pos] for pos in plan.order()]


# ---------------------------------------------------------------------------
# Demo database
# ---------------------------------------------------------------------------

def make_sample_database(path) -> bytes:
    """Write a small demo database (4096-byte pages) and return its bytes.

    Tables: "Contacts" (id, names, e-mail, GUID, timestamp, a long-text note kept
    in the long-value tree), "Notes" (tagged columns, one of them 7-bit compressed,
    one multi-valued) and "Settings" (key/value pairs).  A deleted contact's
    record, with its UTF-16LE name, is left in the free area of the Contacts leaf
    page, as the engine leaves deleted data behind until the page is reorganised.
    """
    contacts_cols = [
        Column("ContactId", LONG, 1),
        Column("Created", DATETIME, 2),
        Column("Uid", GUID, 3),
        Column("Age", SHORT, 4),
        Column("FirstName", TEXT, 128, codepage=1200),
        Column("LastName", TEXT, 129, codepage=1200),
        Column("Email", TEXT, 130, codepage=1252),
        Column("Notes", LONG_TEXT, 256, codepage=1200),
    ]
    people = [
        ("Ada", "Lovelace", "ada@example.org", 36, "First programmer. " * 90),
        ("Alan", "Turing", "alan@example.org", 41, None),
        ("Grace", "Hopper", "grace@example.org", 85, "Wrote the first compiler."),
        ("Edsger", "Dijkstra", "edsger@example.org", 72, "Shortest paths. " * 100),
        ("Barbara", "Liskov", "barbara@example.org", None, None),
        ("Ken", "Thompson", "ken@example.org", 81, "Unix, B, UTF-8 and Go."),
    ]
    records = []
    for i, (first, last, mail, age, notes) in enumerate(people, 1):
        records.append({
            "ContactId": i,
            "Created": _dt.datetime(2021, 3, i, 8, 30),
            "Uid": _uuid.UUID(int=0x3F360AF1676646DC9AF20DACF295C200 + i),
            "Age": age,
            "FirstName": first, "LastName": last, "Email": mail,
            "Notes": notes,
        })
    contacts = Table("Contacts", contacts_cols, records, null_bitmap=True, lv_inline_max=512)

    notes_cols = [
        Column("NoteId", LONG, 1),
        Column("Title", TEXT, 128, codepage=1252),
        Column("Body", LONG_TEXT, 256, codepage=1252),
        Column("Tags", TEXT, 257, codepage=1252),
        Column("Summary", TEXT, 258, codepage=1252),
        Column("Attachment", LONG_BINARY, 259),
    ]
    notes = Table("Notes", notes_cols, [
        {"NoteId": 1, "Title": "Shopping", "Body": "Milk, eggs, bread",
         "Tags": ["home", "food"],
         "Summary": tagged_item(compress_7bit(b"Weekly groceries"), TAGGED_COMPRESSED)},
        {"NoteId": 2, "Title": "Meeting", "Body": "Quarterly review at ten",
         "Attachment": LongValue(bytes(range(256)) * 12)},
        {"NoteId": 3, "Title": "Empty"},
    ], null_bitmap=True)

    settings = Table("Settings", [
        Column("Key", TEXT, 128, codepage=1252),
        Column("Value", BINARY, 129),
        Column("Version", UNSIGNED_LONG, 1),
    ], [{"Key": "theme", "Value": b"dark", "Version": 3},
        {"Key": "language", "Value": b"en-GB", "Version": 1}], null_bitmap=True)

    db = EseFile(page_size=4096)
    for t in (contacts, notes, settings):
        db.add_table(t)
    data = db.build()

    # The deleted contact: an encoded record left in the free area of the leaf.
    deleted = RecordEncoder(contacts_cols, null_bitmap=True).encode(
        {"ContactId": 7, "FirstName": "Deleted Person", "LastName": "Forgotten",
         "Email": "gone@example.org"})
    value, _ = leaf_entry(_BE32.pack(7), deleted)
    leaf = db.table_leaf_pages("Contacts")[-1]
    start, end = db.free_area(data, leaf)
    if end - start < len(value) + 64:
        raise AssertionError("no room for the deleted record")
    # UTF-16LE text is carved at even page offsets only: place the record so that the
    # name starts on one.
    at = start + 32
    if (at + value.find("Deleted Person".encode("utf-16le"))) % 2:
        at += 1
    data = db.fix_checksum(patch(data, at, value), leaf)
    with open(path, "wb") as f:
        f.write(data)
    return data
