"""Compressed column data: the 7-bit packing the engine uses for short text."""

from __future__ import annotations

from .constants import COMPRESS_7BIT_ASCII, COMPRESS_7BIT_UNICODE


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
