"""Byte-exact writer of ESE transaction-log files for tests.

A log file is a whole number of 4096-byte sectors: sector 0 is the header (XOR
checksum seeded 0x89ABCDEF over the 4096 bytes), sectors 1 .. N-2 hold data
segments and sector N-1 only ever holds the shadow copy of the segment before it.
Each segment starts with a 40-byte header: the 8-byte checksum of a 4 KiB database
page in the ECC form with the sector index as page number, the segment's position
(byte 0, its sector, the generation), its start time and the flags 0x2000.  Records
follow from byte 40; one that does not fit is cut into a FragmentBegin (when at
least 32 bytes are left) and Fragment pieces at the start of the next segments,
else the rest of the segment is zero padding.

Typical use::

    log = LogFile(generation=0x51)
    log.add(attach_db(1, db_signature, "C:\\\\db.edb"))
    log.transaction(procid=9, trx=100, operations=[insert(...)])
    data = log.build()
"""

from __future__ import annotations

import struct

from . import SIGNATURE, _ecc, _xor32

SECTOR = 4096
SEGMENT_HEADER = 40
FRAGMENT_MIN_ROOM = 32

# Record types (LRTYP).
NOP, INIT2, TERM2, BEGIN, COMMIT, ROLLBACK, BEGIN0, COMMIT0 = 0, 49, 50, 5, 6, 7, 8, 9
MACRO_BEGIN, MACRO_COMMIT, ATTACH_DB, SHUTDOWN_MARK, TRACE = 11, 12, 15, 23, 22
INSERT, FLAG_DELETE, REPLACE, DELETE, UNDO_INFO, UNDO = 29, 32, 33, 35, 36, 39
NOP2, FRAGMENT_BEGIN, FRAGMENT, NEW_PAGE = 71, 76, 77, 95
DELTA, SPLIT2, EXTEND_DB, CREATE_SINGLE_EXTENT_FDP = 37, 62, 68, 25
MERGE2, PAGE_MOVE = 63, 65
# Merge kinds and per-level flags of a Merge2 record.
MERGE_EMPTY_PAGE, MERGE_FULL_RIGHT, MERGE_PARTIAL_RIGHT, MERGE_FULL_LEFT, MERGE_PARTIAL_LEFT = 1, 2, 3, 5, 6
MERGE_KEY_CHANGE, MERGE_DELETE_NODE, MERGE_EMPTIES_PAGE = 0x1, 0x2, 0x4
DBTIME_NONE = 0xFFFFFFFFFFFFFFFF

DEFAULT_TIME = bytes([10, 20, 12, 14, 2, 121, 0, 0x80])   # 2021-02-14 12:20:10 UTC


def log_time(sec=10, minute=20, hour=12, day=14, month=2, year=2021, utc=True) -> bytes:
    return bytes([sec, minute, hour, day, month, year - 1900, 0, 0x80 if utc else 0])


def signature(random: int = 0x1234ABCD, time: bytes = DEFAULT_TIME) -> bytes:
    return struct.pack("<I", random) + time + bytes(16)


def position(generation: int, sector: int, byte: int) -> bytes:
    return struct.pack("<HHi", byte, sector, generation)


def segment_checksum(segment: bytes, sector: int) -> bytes:
    """The 8 checksum bytes of a segment: as a 4 KiB page numbered `sector`."""
    return struct.pack("<II", _xor32(segment[8:]) ^ sector, _ecc(segment))


# ---------------------------------------------------------------------------
# Records
# ---------------------------------------------------------------------------

def begin0(procid: int, trx: int, levels: int = 1) -> bytes:
    return struct.pack("<BHBI", BEGIN0, procid, levels << 4, trx)


def begin(procid: int, level_from: int, levels: int = 1) -> bytes:
    return struct.pack("<BHB", BEGIN, procid, (levels << 4) | level_from)


def commit(procid: int, level_to: int) -> bytes:
    return struct.pack("<BHB", COMMIT, procid, level_to)


def commit0(procid: int, commit_id: int) -> bytes:
    return struct.pack("<BHBI", COMMIT0, procid, 0, commit_id)


def rollback(procid: int, levels: int = 1) -> bytes:
    return struct.pack("<BHB", ROLLBACK, procid, levels)


def macro(kind: int, procid: int, dbtime: int) -> bytes:
    return struct.pack("<BHQ", kind, procid, dbtime)


def page_part(type: int, procid: int, dbid: int, page: int, dbtime_after: int, dbtime_before: int,
              trx: int, level: int, iline: int, flags: int) -> bytes:
    return struct.pack("<BHBIQQIBHB", type, procid, dbid, page, dbtime_after, dbtime_before, trx, level,
                       iline, flags)


def node_part(rceid: int, root: int, objid: int) -> bytes:
    return struct.pack("<III", rceid, root, objid)


class Node:
    """The shared fields of a node record."""

    def __init__(self, procid=9, dbid=1, page=50, dbtime=1000, trx=100, level=1, iline=0,
                 flags=0x05, rceid=1, root=50, objid=12):
        self.__dict__.update(locals())
        del self.__dict__["self"]

    def head(self, type: int) -> bytes:
        return (page_part(type, self.procid, self.dbid, self.page, self.dbtime, self.dbtime - 1, self.trx,
                          self.level, self.iline, self.flags) + node_part(self.rceid, self.root, self.objid))


def insert(node: Node, key: bytes, data: bytes, prefix: int = 0) -> bytes:
    return (node.head(INSERT) + struct.pack("<HHH", len(key) - prefix, prefix, len(data)) + key + data)


def replace(node: Node, data: bytes, before: int | None = None) -> bytes:
    return node.head(REPLACE) + struct.pack("<HHH", len(data), before or len(data), len(data)) + data


def flag_delete(node: Node) -> bytes:
    return node.head(FLAG_DELETE)


def delete(node: Node) -> bytes:
    return node.head(DELETE)


def undo(node: Node, key: bytes, operation: int = 1, level: int = 1) -> bytes:
    return node.head(UNDO) + struct.pack("<HHHB", len(key), 0, operation, level) + key


def delta(node: Node, key: bytes, offset: int, amount: int) -> bytes:
    """Adds `amount` to the 32-bit integer at `offset` of the node's data."""
    return node.head(DELTA) + struct.pack("<HHiH", len(key), 0, amount, offset) + key


def undo_info(node: Node, key: bytes, before: bytes = b"", operation: int = 2) -> bytes:
    """The before-image of an uncommitted change (no page changes: dbtimes none)."""
    head = (page_part(UNDO_INFO, node.procid, node.dbid, node.page, DBTIME_NONE, DBTIME_NONE, node.trx,
                      node.level, node.iline, node.flags) + node_part(node.rceid, node.root, node.objid))
    return head + struct.pack("<HHHhhH", len(key), 0, operation, len(before), 0, len(before)) + key + before


def leaf_insert(node: Node, key: bytes, data: bytes) -> bytes:
    """The Insert of a split macro: named on the split page, no dbtime before."""
    head = (page_part(INSERT, node.procid, node.dbid, node.page, node.dbtime, DBTIME_NONE, node.trx,
                      node.level, node.iline, node.flags) + node_part(node.rceid, node.root, node.objid))
    return head + struct.pack("<HHH", len(key), 0, len(data)) + key + data


def create_single_extent_root(procid: int, dbid: int, page: int, objid: int, dbtime: int, parent: int = 1,
                              primary: int = 1, flags: int = 0, trx: int = 100, level: int = 1) -> bytes:
    """CreateSingleExtentFDP: the root page of a new tree (unique keys)."""
    return (page_part(CREATE_SINGLE_EXTENT_FDP, procid, dbid, page, dbtime, DBTIME_NONE, trx, level, 0, 0x04)
            + struct.pack("<IIiI", objid, parent, primary, flags))


def new_page(procid: int, dbid: int, page: int, objid: int, dbtime: int) -> bytes:
    return struct.pack("<BHBIIQ", NEW_PAGE, procid, dbid, page, objid, dbtime)


def extend_db(dbid: int, last_page: int) -> bytes:
    return struct.pack("<BIBI", EXTEND_DB, 5, dbid, last_page)


def split2(procid: int, dbid: int, page: int, dbtime: int, dbtime_before: int, new_page: int, objid: int,
           kind: int, iline_oper: int, iline_split: int, lines: int, new_flags: int, page_flags: int,
           trx: int = 100, level: int = 1, right: int = 0, parent: int = 0, prefix_split: int = -1,
           prefix_new: int = -1) -> bytes:
    """A Split2 of one level (kind 0 vertical, 1 right, 2 append) whose operation is an
    insert at `iline_oper`; no keys, prefixes or page image."""
    head = page_part(SPLIT2, procid, dbid, page, dbtime, dbtime_before, trx, level, 0, 0x04)
    return (head + struct.pack("<IIQIQII", new_page, right, DBTIME_NONE, parent, DBTIME_NONE, page, objid)
            + struct.pack("<BBHHHIIhhiiHHHII", kind, 1, iline_oper, iline_split, lines, new_flags, page_flags,
                          0, 0, prefix_split, prefix_new, 0, 0, 0, 0, 0))


def merge2(procid: int, dbid: int, page: int, dbtime: int, dbtime_before: int, objid: int, kind: int = 0,
           flags: int = 0, iline: int = 0, right: int = 0, right_before: int = DBTIME_NONE, left: int = 0,
           left_before: int = DBTIME_NONE, parent: int = 0, parent_before: int = DBTIME_NONE, root: int = 0,
           iline_merge: int = 0, uncommitted: int = 0, separator: bytes = b"", image: bytes = b"",
           image_flags: int = 0, trx: int = 100, level: int = 1) -> bytes:
    """A Merge2 of one level. The leaf level (kind != 0) names the page merged away, its
    siblings, where the move starts and the parent's new separator; a parent level (kind
    0) names the page pointer at `iline` that the merge deletes or re-keys (`flags`)."""
    head = page_part(MERGE2, procid, dbid, page, dbtime, dbtime_before, trx, level, iline, 0x04)
    return (head + struct.pack("<IQIQIQII", right, right_before, left, left_before, parent, parent_before, root, objid)
            + struct.pack("<HHHHBBH", 0, 0, uncommitted, iline_merge, flags, kind, len(separator))
            + struct.pack("<II", image_flags, len(image)) + separator + image)


def page_move(procid: int, dbid: int, page: int, dbtime: int, dbtime_before: int, dest: int, parent: int,
              parent_iline: int, objid: int, left: int = 0, right: int = 0, dbtime_others: int | None = None,
              header: bytes = b"", trailer: bytes = b"", flags: int = 0, root: int = 0) -> bytes:
    """A PageMove: `page` moves to `dest`; its parent's pointer `parent_iline` and its
    siblings (all at `dbtime_others`, default `dbtime_before`) lead there afterwards."""
    others = dbtime_before if dbtime_others is None else dbtime_others
    head = page_part(PAGE_MOVE, procid, dbid, page, dbtime, dbtime_before, 0, 0, 0, 0x04)
    return (head + struct.pack("<IIIIQQQIIiIII", dest, left, right, parent, others if left else 0,
                               others if right else 0, others, root, objid, parent_iline, flags, len(header),
                               len(trailer)) + header + trailer)


def attach_db(dbid: int, db_signature: bytes, path: str, log_signature: bytes = b"",
              procid: int = 0xFFFF, consistent: bytes = bytes(8)) -> bytes:
    name = path.encode("utf-16le") + b"\0\0"
    return (struct.pack("<BHBI", ATTACH_DB, procid, dbid, 0) + consistent + db_signature[:28].ljust(28, b"\0")
            + (log_signature or signature())[:28] + struct.pack("<HB", len(name), 0x08) + name)


def init2(time: bytes = DEFAULT_TIME) -> bytes:
    return bytes([INIT2]) + bytes(567) + time


def term2(start: bytes = bytes(8), time: bytes = DEFAULT_TIME) -> bytes:
    return bytes([TERM2]) + start + bytes(8) + b"\0" + time


def shutdown_mark() -> bytes:
    return bytes([SHUTDOWN_MARK])


def trace(procid: int, text: str) -> bytes:
    t = text.encode("cp1252")
    return struct.pack("<BHH", TRACE, procid, len(t)) + t


def nop2(n: int) -> bytes:
    return struct.pack("<BI", NOP2, n) + bytes(n)


# ---------------------------------------------------------------------------
# Files
# ---------------------------------------------------------------------------

class LogFile:
    """One log file of one generation."""

    def __init__(self, generation: int = 0x51, sectors: int = 16, log_signature: bytes | None = None,
                 created: bytes = DEFAULT_TIME, previous: bytes = bytes(8), update: tuple = (5, 16),
                 previous_segments_xor: int = 0, segment_time: bytes = DEFAULT_TIME):
        self.generation = generation
        self.sectors = sectors
        self.log_signature = log_signature or signature()
        self.created = created
        self.previous = previous
        self.update = update
        self.previous_segments_xor = previous_segments_xor
        self.segment_time = segment_time
        self.attachments: list[tuple[int, bytes, str]] = []
        self.records: list[bytes] = []
        self.stale_from: int | None = None   # write stale segments of generation-1 from here
        self.shadow = True                   # copy the last partial segment into the next sector
        self.segment_xor = 0                 # filled by build()

    def add(self, *records: bytes) -> "LogFile":
        self.records.extend(records)
        return self

    def transaction(self, procid: int, trx: int, operations: list[bytes], outcome: str = "commit",
                    commit_id: int = 1) -> "LogFile":
        """Begin0 (two levels, as SRUM does), the operations, then Commit(to 1) and Commit0,
        or a Rollback of both levels; outcome 'open' leaves it unfinished."""
        self.add(begin0(procid, trx, 2), *operations)
        if outcome == "commit":
            self.add(commit(procid, 1), commit0(procid, commit_id))
        elif outcome == "rollback":
            self.add(rollback(procid, 2))
        return self

    def header(self) -> bytes:
        h = bytearray(SECTOR)
        struct.pack_into("<iHHHH", h, 4, self.generation, SECTOR, 1, self.sectors, 0)
        h[16:24] = self.created
        h[24:32] = self.previous
        struct.pack_into("<III", h, 32, 8, 4000, self.update[0])
        h[44:72] = self.log_signature
        struct.pack_into("<I", h, 648, self.update[1])
        struct.pack_into("<Q", h, 653, self.previous_segments_xor)
        struct.pack_into("<I", h, 667, 3)
        at = 671
        for dbid, db_sig, path in self.attachments:
            name = path.encode("utf-16le") + b"\0\0"
            entry = bytearray(64)
            struct.pack_into("<BBH", entry, 0, dbid, 0x20, len(name))
            entry[36:64] = db_sig[:28].ljust(28, b"\0")
            h[at:at + 64 + len(name)] = bytes(entry) + name
            at += 64 + len(name)
        struct.pack_into("<I", h, 0, _xor32(bytes(h[4:])) ^ SIGNATURE)
        return bytes(h)

    def segments(self) -> list[bytearray]:
        """The data segments' bodies (records and padding), before their headers."""
        out: list[bytearray] = []
        current = bytearray()

        def room() -> int:
            return SECTOR - SEGMENT_HEADER - len(current)

        def close():
            nonlocal current
            out.append(current + bytes(SECTOR - SEGMENT_HEADER - len(current)))
            current = bytearray()

        for record in self.records:
            if len(record) <= room():
                current += record
                continue
            if room() < FRAGMENT_MIN_ROOM:
                close()
                if len(record) <= room():
                    current += record
                    continue
            piece = room() - 7
            current += struct.pack("<BIH", FRAGMENT_BEGIN, len(record), piece) + record[:piece]
            rest = record[piece:]
            while rest:
                close()
                piece = min(len(rest), room() - 3)
                current += struct.pack("<BH", FRAGMENT, piece) + rest[:piece]
                rest = rest[piece:]
        if current:
            close()
        return out

    def segment(self, body: bytes, sector: int, generation: int | None = None) -> bytes:
        seg = bytearray(SECTOR)
        seg[8:16] = position(self.generation if generation is None else generation, sector, 0)
        seg[16:24] = self.segment_time
        struct.pack_into("<I", seg, 36, 0x2000)
        seg[SEGMENT_HEADER:] = body
        seg[0:8] = segment_checksum(bytes(seg), sector)
        return bytes(seg)

    def build(self) -> bytes:
        bodies = self.segments()
        if len(bodies) > self.sectors - 2:
            raise ValueError(f"{len(bodies)} segments do not fit {self.sectors} sectors")
        sectors = [self.header()]
        self.segment_xor = 0
        for i, body in enumerate(bodies, 1):
            seg = self.segment(body, i)
            self.segment_xor ^= struct.unpack_from("<Q", seg)[0]
            sectors.append(seg)
        if bodies and self.shadow:
            sectors.append(sectors[-1])          # the shadow of the last (partial) segment
        while len(sectors) < self.sectors:
            i = len(sectors)
            if self.stale_from is not None and i >= self.stale_from:
                sectors.append(self.segment(bytes(SECTOR - SEGMENT_HEADER), i, self.generation - 1))
            else:
                sectors.append(bytes(SECTOR))
        return b"".join(sectors[:self.sectors])


def chain(files: list[LogFile]) -> list[bytes]:
    """Build consecutive generations, each naming its predecessor's creation time and
    the XOR of its segment checksums."""
    out = []
    for k, f in enumerate(files):
        if k:
            f.previous = files[k - 1].created
            f.previous_segments_xor = files[k - 1].segment_xor
            f.log_signature = files[0].log_signature
        out.append(f.build())
    return out


def checkpoint(check: bytes, log_signature: bytes) -> bytes:
    """The .chk file: two identical 4096-byte copies."""
    c = bytearray(SECTOR)
    c[12:20] = check
    c[20:48] = log_signature
    struct.pack_into("<I", c, 667, 4)
    struct.pack_into("<I", c, 0, _xor32(bytes(c[4:])) ^ SIGNATURE)
    return bytes(c) * 2


def tear_last_segment(log: LogFile, data: bytes, keep: int = 300) -> bytes:
    """`data` (log.build()) with its last data segment torn after `keep` bytes, as a
    crash in the middle of the write leaves it; the shadow copy after it stays intact."""
    last = len(log.segments())
    start = last * SECTOR + keep
    return data[:start] + bytes(SECTOR - keep) + data[(last + 1) * SECTOR:]


def flip_bit(data: bytes, bit: int) -> bytes:
    b = bytearray(data)
    b[bit // 8] ^= 1 << (bit % 8)
    return bytes(b)
