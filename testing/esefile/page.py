"""Pages, tags and tree entries: a page with its tag array in either layout, leaf and
branch entries, and the space header of a tree root.
"""

from __future__ import annotations

import struct

from .constants import TAG_COMMON_KEY, _U16, _U32


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
