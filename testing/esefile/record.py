"""Columns and records: column definitions, value encodings by column type and
codepage, and the record encoder (fixed, variable and tagged parts, both layouts).
"""

from __future__ import annotations

import datetime as _dt
import struct
import uuid as _uuid

from .constants import (BIT, CURRENCY, DOUBLE, FIXED_WIDTH, FLOAT, GUID, LONG, LONG_LONG,
    LONG_TYPES, _OLE_EPOCH, SHORT, TAGGED_LONG_VALUE, TAGGED_MULTI_VALUE, TAGGED_VARIABLE,
    TEXT_TYPES, UNSIGNED_BYTE, UNSIGNED_LONG, UNSIGNED_SHORT)
from .long_value import LongValue, TaggedItem


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
