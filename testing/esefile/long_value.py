"""Tagged items and long values: raw tagged data behind its flags byte, long-value
references (4-byte LIDs or 8-byte LID64s) and values to store in the long-value tree.
"""

from __future__ import annotations

import struct
from typing import NamedTuple

from .constants import TAGGED_LONG_VALUE, _U32


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
