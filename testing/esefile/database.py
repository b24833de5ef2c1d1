"""The database file: EseFile lays out the header and its shadow, the database's own
trees, the catalog and its backup, every table with its long values, and writes it.
"""

from __future__ import annotations

import struct

from .constants import (_BE32, CATALOG_COLUMN, CATALOG_LONG_VALUE, CATALOG_ROOT_PAGE,
    CATALOG_TABLE, FIRST_USER_OBJECT_ID, MSYS_OBJECTS_ID, PAGE_FORMAT_BITS, page_header_size,
    PAGE_LEAF, PAGE_LONG_VALUE, PAGE_ROOT, PAGE_SPACE_TREE, patch, SHADOW_CATALOG_ROOT_PAGE,
    SIGNATURE, TAG_DELETED, TAG_VERSION, _U16, _U32, uses_large_page_layout)
from .checksum import header_checksum, set_page_checksum
from .page import leaf_entry, Page, space_header
from .long_value import lv_ref
from .record import RecordEncoder
from .catalog import (catalog_column_record, catalog_key, catalog_long_value_record,
    catalog_record, catalog_table_record, MSYS_OBJECTS_COLUMNS, _name_bytes)
from .tree import Table, _TreePlan, _TreeWriter


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
        self.space_tree: bool = False        # the database root's owned-extent tree (page 2)
        #                                      lists pages 1 to the last as one extent
        self.space_owned_extra: int = 0      # ... and this many pages past the file's end
        self.space_shelved: list[tuple[int, int]] = []  # (last page, count): shelved runs in the
        #                                      available-extent tree (page 3)
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
        if self.space_tree:
            pages[1].tags[0] = (space_header(20, 0, 1, 2), 0)    # multiple extents, tree at 2
            owned = last + self.space_owned_extra
            pages[2].add_tag(*leaf_entry(struct.pack(">I", owned), struct.pack("<I", owned)))
            for shelved_last, count in self.space_shelved:
                pages[3].add_tag(*leaf_entry(bytes([0x80 | 2]) + struct.pack(">I", shelved_last),
                                             struct.pack("<I", count)))
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
