"""Page checksums as the engine computes them: the XOR form (the header, old pages) and
the ECC form (one block up to 8 KiB, four blocks on 16 and 32 KiB pages).
"""

from __future__ import annotations

import struct

from .constants import page_header_size, SIGNATURE, _U32


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
