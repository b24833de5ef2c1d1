"""Tables and B+ trees: a table's description, and the planning and writing of a tree
over pages (leaf level, branch levels, key prefixes).
"""

from __future__ import annotations

import struct

from .constants import (PAGE_FORMAT_BITS, PAGE_LEAF, PAGE_PARENT_OF_LEAF, PAGE_ROOT,
    TAG_COMMON_KEY, _U16, _U32)
from .page import Page
from .record import Column
from .catalog import _name_bytes


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
