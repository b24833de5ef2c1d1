"""Self-tests of the test-database writer.

The files are read back with the small, separate decoder below (written from the
format description, not from the writer's code), with the databases the engine
wrote in ../shared/data/ where present, and with libesedb's Python binding where
it is installed.
"""

import struct
import sys
import time
import uuid

import pytest

import esefile as E  # noqa: E402



# --------------------------------------------------------------------------
# An independent decoder
# --------------------------------------------------------------------------

def decode_record(columns, r, large=False):
    """Column name -> (raw bytes, tagged flags) or None, as the layout says."""
    F, L, V = r[0], r[1], struct.unpack_from("<H", r, 2)[0]
    n = max(L - 127, 0)
    ends = struct.unpack_from("<%dH" % n, r, V)
    D = V + 2 * n
    T = D + (ends[-1] & 0x7FFF if n else 0)
    tagged = {}
    if T < len(r):
        first = struct.unpack_from("<H", r, T + 2)[0] & 0x3FFF
        dirs = [struct.unpack_from("<HH", r, T + 4 * k) for k in range(first // 4)]
        for k, (cid, w) in enumerate(dirs):
            end = (dirs[k + 1][1] & 0x3FFF) if k + 1 < len(dirs) else len(r) - T
            item = r[T + (w & 0x3FFF):T + end]
            if (w & 0x4000 or large) and item:
                tagged[cid] = (item[1:], item[0])
            else:
                tagged[cid] = (item, 0)
    out, pos = {}, 4
    for c in sorted(columns, key=lambda c: c.id):
        if c.id <= 127:
            out[c.name] = (r[pos:pos + c.space_usage], 0) if c.id <= F else None
            pos += c.space_usage if c.id <= F else 0
        elif c.id <= 255:
            k = c.id - 128
            if k >= n or ends[k] & 0x8000:
                out[c.name] = None
            else:
                start = ends[k - 1] & 0x7FFF if k else 0
                out[c.name] = (r[D + start:D + ends[k]], 0)
        else:
            out[c.name] = tagged.get(c.id)
    return out


class Reader:
    def __init__(self, data):
        self.data = data
        assert struct.unpack_from("<I", data, 4)[0] == 0x89ABCDEF
        self.version, = struct.unpack_from("<I", data, 8)
        self.revision, self.ps = struct.unpack_from("<II", data, 232)
        self.large = self.version == 0x620 and self.revision >= 17 and self.ps > 8192
        current = self.version > 0x620 or (self.version == 0x620 and self.revision >= 17)
        self.hs = 80 if current and self.ps > 8192 else 40

    def page(self, n):
        """(header dict, [(tag flags, value)])"""
        p = self.data[(n + 1) * self.ps:(n + 2) * self.ps]
        prev, nxt, fdp, avail, _, first, count, flags = struct.unpack_from("<IIIHHHHI", p, 16)
        tags = []
        for i in range(count):
            a, b = struct.unpack_from("<HH", p, self.ps - 4 * (i + 1))
            if self.large:
                size, off = a & 0x7FFF, b & 0x7FFF
                v = bytearray(p[self.hs + off:self.hs + off + size])
                f = v[1] >> 5 if len(v) >= 2 else 0
                if len(v) >= 2:
                    v[1] &= 0x1F
                v = bytes(v)
            else:
                size, off, f = a & 0x1FFF, b & 0x1FFF, b >> 13
                v = p[self.hs + off:self.hs + off + size]
            tags.append((f, v))
        return dict(prev=prev, next=nxt, fdp=fdp, avail=avail, first=first, flags=flags), tags

    @staticmethod
    def entry(flags, value, prefix):
        pos, common = 0, 0
        if flags & 4:
            common, = struct.unpack_from("<H", value, 0)
            pos = 2
        klen = struct.unpack_from("<H", value, pos)[0] & 0x7FFF
        key = prefix[:common] + value[pos + 2:pos + 2 + klen]
        return key, value[pos + 2 + klen:]

    def tree(self, root, seen=None):
        """All (key, data) of a tree, depth first, checking branch separators."""
        seen = set() if seen is None else seen
        assert root not in seen
        seen.add(root)
        hdr, tags = self.page(root)
        prefix = tags[0][1]
        entries = [self.entry(f, v, prefix) for f, v in tags[1:]]
        if hdr["flags"] & 2:
            return entries
        out = []
        for i, (sep, child) in enumerate(entries):
            sub = self.tree(struct.unpack("<I", child[:4])[0], seen)
            assert all(k < sep for k, _ in sub) or (sep == b"" and i == len(entries) - 1)
            out += sub
        return out

    def leaf_chain(self, root):
        n = root
        while not self.page(n)[0]["flags"] & 2:
            n = struct.unpack("<I", self.entry(*self.page(n)[1][1], b"")[1][:4])[0]
        chain = []
        while n:
            chain.append(n)
            n = self.page(n)[0]["next"]
        return chain

    def catalog(self):
        tables = {}
        for _, r in self.tree(4):
            owner, typ, oid, v14, space, flags, v26 = struct.unpack_from("<IHIIIII", r, 4)
            V, = struct.unpack_from("<H", r, 2)
            n = r[1] - 127
            name = r[V + 2 * n:V + 2 * n + (struct.unpack_from("<H", r, V)[0] & 0x7FFF)]
            if typ == 1:
                tables[oid] = dict(name=name, root=v14, columns=[], lv=None)
            elif typ == 2:
                tables[owner]["columns"].append(E.Column(name, v14, oid, space, flags, v26))
            elif typ == 4:
                tables[owner]["lv"] = v14
        return {t["name"]: t for t in tables.values()}

    def record(self, columns, r):
        return decode_record(columns, r, self.large)

    def long_values(self, root, lid64=False):
        width = 8 if lid64 else 4
        values = {}
        for key, data in self.tree(root):
            lid = int.from_bytes(key[:width], "big")
            if len(key) == width:
                values[lid] = [struct.unpack_from("<I", data, 4)[0], b""]
            else:
                assert int.from_bytes(key[width:], "big") == len(values[lid][1])
                values[lid][1] += data
        assert all(size == len(v) for size, v in values.values())
        return {lid: v for lid, (_, v) in values.items()}


# --------------------------------------------------------------------------
# Pages, entries and records
# --------------------------------------------------------------------------

@pytest.mark.parametrize("large", [False, True])
def test_page_places_header_values_and_tags(large):
    ps = 16384 if large else 4096
    page = E.Page(ps, large, 0x1A802, next_page=7, prev_page=5)
    assert page.add_tag(b"") == 0
    page.add_tag(b"\x03\x00abcdef", 4)
    page.add_tag(b"xyz", 0)
    page.slack = b"S\0L\0"
    page.count_high_bits = 0xA
    raw = page.build()
    hs = 80 if large else 40
    assert struct.unpack_from("<IIIHHHHI", raw, 16) == (5, 7, 0, ps - hs - 11 - 12, 0, 11, 0xA003, 0x1A802)
    words = [struct.unpack_from("<HH", raw, ps - 4 * (i + 1)) for i in range(3)]
    if large:
        assert words == [(0, 0), (8, 0), (3, 8)]
        assert raw[hs:hs + 11] == b"\x03\x80abcdefxyz"       # flags 4 in bits 5-7 of byte 1
    else:
        assert words == [(0, 0), (8, 0x8000), (3, 8)]
        assert raw[hs:hs + 11] == b"\x03\x00abcdefxyz"
    assert raw[hs + 11:hs + 15] == b"S\0L\0"


@pytest.mark.parametrize("large,value,flags", [(True, b"x", 1), (True, b"\x00\xff", 1), (False, b"", 8)])
def test_page_rejects_unencodable_tags(large, value, flags):
    page = E.Page(32768 if large else 4096, large, 2)
    with pytest.raises(ValueError):
        page.add_tag(value, flags)
        page.build()


def test_page_overflow_is_an_error():
    page = E.Page(4096, False, 2)
    page.add_tag(bytes(4096 - 40 - 4 + 1))
    with pytest.raises(ValueError):
        page.build()


@pytest.mark.parametrize("call,expected", [
    (lambda: E.leaf_entry(b"\x00\x00\x00\x05", b"DATA"), (b"\x04\x00\x00\x00\x00\x05DATA", 0)),
    (lambda: E.leaf_entry(b"\x00\x00\x00\x05", b"DATA", 3), (b"\x03\x00\x01\x00\x05DATA", 4)),
    (lambda: E.leaf_entry(b"\x00\x00\x00\x05", b"DATA", 4), (b"\x04\x00\x00\x00DATA", 4)),
    (lambda: E.branch_entry(b"\xaa\xbb", 5), (b"\x02\x00\xaa\xbb\x05\x00\x00\x00", 0)),
    (lambda: E.branch_entry(b"", 100000), (b"\x00\x00\xa0\x86\x01\x00", 0)),
])
def test_entries(call, expected):
    assert call() == expected


COLUMNS = [
    E.Column("Id", E.LONG, 1), E.Column("Flag", E.BIT, 2), E.Column("Small", E.SHORT, 3),
    E.Column("Name", E.TEXT, 128), E.Column("Blob", E.BINARY, 130),
    E.Column("Tag", E.TEXT, 256), E.Column("Note", E.LONG_TEXT, 257, codepage=1200),
]


@pytest.mark.parametrize("values,large,bitmap,expected", [
    ({"Id": 1, "Flag": True, "Small": -2, "Name": "ab", "Blob": b"\x01", "Tag": "t"}, False, False,
     b"\x03\x82\x0b\x00" b"\x01\x00\x00\x00\xff\xfe\xff" b"\x02\x00\x02\x80\x03\x00" b"ab\x01"
     b"\x00\x01\x04\x00" b"t"),
    # trailing nulls shorten F and L; the null bitmap marks Flag and pads with ones
    ({"Id": 1, "Flag": None, "Name": "ab", "Note": "é"}, False, True,
     b"\x01\x80\x09\x00" b"\x01\x00\x00\x00" b"\xfe" b"\x02\x00" b"ab"
     b"\x01\x01\x04\x40" b"\x01\xe9\x00"),
    # large pages: a flags byte on every tagged item, no bit 14
    ({"Tag": "t", "Note": "x"}, True, False,
     b"\x00\x7f\x04\x00" b"\x00\x01\x08\x00\x01\x01\x0a\x00" b"\x00t" b"\x01x\x00"),
    ({}, False, True, b"\x00\x7f\x04\x00"),
])
def test_table_record_layout(values, large, bitmap, expected):
    assert E.table_record(COLUMNS, values, large=large, null_bitmap=bitmap) == expected


def test_table_record_multi_values_and_references():
    raw = E.table_record(COLUMNS, {"Tag": ["a", "bc"], "Note": E.lv_ref(9)})
    r = decode_record(COLUMNS, raw)
    assert r["Tag"] == (b"\x04\x00\x05\x00abc", 8)
    assert r["Note"] == (b"\x09\x00\x00\x00", 4)
    assert E.lv_ref(9, lid64=True) == (struct.pack("<Q", 9 | 1 << 63), 4)
    with pytest.raises(KeyError):
        E.table_record(COLUMNS, {"Nope": 1})


def unpack_7bit(data):
    bits = int.from_bytes(data[1:], "little")
    return bytes((bits >> (7 * i)) & 0x7F for i in range(8 * (len(data) - 1) // 7))


@pytest.mark.parametrize("text", [b"A", b"Weekly groceries", b"1234567", b"12345678"])
def test_compress_7bit(text):
    packed = E.compress_7bit(text)
    assert packed[0] >> 3 == 1
    assert unpack_7bit(packed)[:len(text)] == text
    used = (packed[0] & 7) + 1
    assert 8 * (len(packed) - 2) + used == 7 * len(text)


@pytest.mark.parametrize("last_var_id,expected_tail", [
    (128, b"\x04\x00Name"), (130, b"\x04\x00\x04\x80\x04\x80Name"), (127, b"Name")])
def test_catalog_record_layout(last_var_id, expected_tail):
    r = E.catalog_record(8, 2, 129, 10, 255, 1, 1200, b"Name", last_var_id)
    assert r[:4] == bytes([7, last_var_id, 31, 0])
    assert struct.unpack_from("<IHIIIII", r, 4) == (8, 2, 129, 10, 255, 1, 1200)
    assert r[31:] == expected_tail


def test_catalog_keys_sort_like_the_engine():
    keys = [E.catalog_key(o, t, i) for o, t, i in [(2, 1, 2), (2, 2, 1), (2, 2, 300), (8, 1, 8), (300, 1, 300)]]
    assert keys == sorted(keys)
    assert E.catalog_key(2, 1, 2).hex() == "7f80000002" "7f8001" "7f80000002"


# --------------------------------------------------------------------------
# Whole databases
# --------------------------------------------------------------------------

PEOPLE = [E.Column("Id", E.LONG, 1), E.Column("Score", E.DOUBLE, 2), E.Column("Uid", E.GUID, 3),
          E.Column("Name", E.TEXT, 128, codepage=1200), E.Column("Mail", E.TEXT, 129),
          E.Column("Bio", E.LONG_TEXT, 256), E.Column("Pic", E.LONG_BINARY, 257)]


def people(n):
    return [{"Id": i, "Score": i / 4, "Uid": "3f360af1-6766-46dc-9af2-0dacf295c2a1" if i % 2 else None,
             "Name": "név %d" % i, "Mail": None if i % 3 == 0 else "p%d@x.org" % i,
             "Bio": ("bio %d " % i) * (i % 5), "Pic": E.LongValue(bytes([i % 256]) * (i * 37))
             if i % 7 == 0 else None} for i in range(n)]


def build(page_size=4096, revision=20, **table_args):
    db = E.EseFile(page_size=page_size, revision=revision)
    db.add_table(E.Table("People", PEOPLE, people(300), long_values={1000: b"L" * 70000}, **table_args))
    db.add_table(E.Table(b"Empty", [E.Column("X", E.LONG, 1)]))
    db.add_table(E.Table("Raw", [E.Column("B", E.BINARY, 128)], [b"\x00\x80\x04\x00", b"junk"]))
    return db, db.build()


STORED = {"Id": lambda v: struct.pack("<i", v), "Score": lambda v: struct.pack("<d", v),
          "Uid": lambda v: uuid.UUID(v).bytes_le, "Name": lambda v: v.encode("utf-16-le"),
          "Mail": lambda v: v.encode("cp1252"), "Bio": lambda v: v.encode("cp1252")}


@pytest.mark.parametrize("page_size,revision,args", [
    (4096, 20, {}),
    (4096, 20, {"records_per_page": 7, "branch_fanout": 3, "lv_records_per_page": 3}),
    (8192, 14, {"records_per_page": 50, "key_compression": False}),
    (16384, 20, {}),
    (32768, 20, {"records_per_page": 20, "lv_records_per_page": 2}),
    (32768, 12, {}),
])
def test_round_trip(page_size, revision, args):
    db, data = build(page_size, revision, **args)
    r = Reader(data)
    assert len(data) % page_size == 0 and r.ps == page_size
    assert data[:page_size] == data[page_size:2 * page_size]          # shadow header
    cat = r.catalog()
    assert list(cat) == [b"MSysObjects", b"People", b"Empty", b"Raw"]
    assert cat[b"MSysObjects"]["root"] == 4 and len(cat[b"MSysObjects"]["columns"]) == 28
    t = cat[b"People"]
    assert [(c.name, c.id, c.type, c.space_usage, c.codepage) for c in t["columns"]] == \
        [(c.name.encode(), c.id, c.type, c.space_usage, c.codepage) for c in PEOPLE]
    assert db.table_pages("People")[0] == t["root"] and t["lv"] == db.lv_pages("People")[0]
    assert r.leaf_chain(t["root"]) == db.table_leaf_pages("People")
    for n in db.table_pages("People"):
        assert r.page(n)[0]["fdp"] == 8

    lvs = r.long_values(t["lv"])
    assert lvs[1000] == b"L" * 70000
    entries = r.tree(t["root"])
    assert [k for k, _ in entries] == [struct.pack(">I", i + 1) for i in range(300)]
    for (key, raw), rec in zip(entries, people(300)):
        got = r.record(PEOPLE, raw)
        for c in PEOPLE:
            v = rec[c.name]
            if v is None:
                assert got[c.name] is None
            elif isinstance(v, E.LongValue):
                data_, flags = got[c.name]
                assert flags == 4 and lvs[struct.unpack("<I", data_)[0]] == v.data
            else:
                assert got[c.name] == (STORED[c.name](v), 1 if c.id >= 256 else 0)
    assert r.tree(cat[b"Empty"]["root"]) == []
    assert [d for _, d in r.tree(cat[b"Raw"]["root"])] == [b"\x00\x80\x04\x00", b"junk"]


def test_multi_level_trees_and_catalog():
    db = E.EseFile()
    db.catalog_records_per_page = 5
    db.catalog_branch_fanout = 2
    db.add_table(E.Table("T", [E.Column("Id", E.LONG, 1)], [{"Id": i} for i in range(40)],
                         records_per_page=2, branch_fanout=2, root_page=200))
    db.add_raw_catalog_record(E.catalog_record(99, 5, 1, 0, name=b"cb"))
    data = db.build()
    r = Reader(data)
    depth, n = 0, 4
    while not r.page(n)[0]["flags"] & 2:
        depth += 1
        n = struct.unpack("<I", r.entry(*r.page(n)[1][1], b"")[1][:4])[0]
    assert depth >= 3
    assert r.page(200)[0]["flags"] & 0x03 == 0x01                      # root, branch
    assert len(r.leaf_chain(200)) == 20 and len(r.tree(200)) == 40
    catalog = r.tree(4)
    assert catalog[-1][1] == E.catalog_record(99, 5, 1, 0, name=b"cb")
    assert [k for k, _ in catalog[:-1]] == sorted(k for k, _ in catalog[:-1])
    compressed = [f for n in db.table_pages("T")[1:] for f, _ in r.page(n)[1][1:] if f & 4]
    assert compressed, "non-root pages share key prefixes"


def test_lid64_long_values():
    cols = [E.Column("Id", E.LONG, 1), E.Column("Doc", E.LONG_BINARY, 256)]
    db = E.EseFile()
    db.add_table(E.Table("T", cols, [{"Id": 1, "Doc": E.LongValue(b"d" * 5000)}, {"Id": 2, "Doc": E.lv_ref(7, True)}],
                         long_values={7: b"seven"}, lid64=True, lv_chunk_size=1000))
    r = Reader(db.build())
    t = r.catalog()[b"T"]
    keys = [k for k, _ in r.tree(t["lv"])]
    assert keys[0] == struct.pack(">Q", 7 | 1 << 63) and len(keys[1]) == 12
    lvs = r.long_values(t["lv"], lid64=True)
    assert lvs == {7 | 1 << 63: b"seven", 8 | 1 << 63: b"d" * 5000}
    refs = [r.record(cols, d)["Doc"] for _, d in r.tree(t["root"])]
    assert refs == [(struct.pack("<Q", 8 | 1 << 63), 4), (struct.pack("<Q", 7 | 1 << 63), 4)]


def test_build_is_deterministic_and_damage_helpers():
    db1, a = build()
    db2, b = build()
    assert a == b
    n = db1.table_leaf_pages("People")[0]
    start, end = db1.free_area(a, n)
    assert 0 < start - db1.page_offset(n) < end - db1.page_offset(n) <= 4096
    damaged = E.patch(a, start, b"\xde\xad")
    assert damaged[start:start + 2] == b"\xde\xad" and len(damaged) == len(a)
    assert db1.fix_checksum(damaged, n)[db1.page_offset(n):db1.page_offset(n) + 8] != \
        a[db1.page_offset(n):db1.page_offset(n) + 8]
    assert db1.fix_checksum(damaged, n) != damaged
    with pytest.raises(ValueError):
        E.patch(a, len(a) - 1, b"xx")


@pytest.mark.parametrize("name", ["basic.edb", "large.edb"])
def test_checksums_match_engine_files(data_dir, name):
    path = data_dir / name
    with open(path, "rb") as f:
        data = f.read()
    ps, = struct.unpack_from("<I", data, 236)
    assert E.header_checksum(data[:ps]) == struct.unpack_from("<I", data, 0)[0]
    checked = 0
    for n in range(1, min(len(data) // ps - 1, 60)):
        page = data[(n + 1) * ps:(n + 2) * ps]
        if any(page):
            again = bytearray(page)
            E.set_page_checksum(again, n, 0x620, 20)
            assert bytes(again) == page, n
            checked += 1
    assert checked > 10


def test_sample_database(tmp_path):
    path = tmp_path / "sample.edb"
    data = E.make_sample_database(path)
    assert path.read_bytes() == data and len(data) < 200 * 1024
    r = Reader(data)
    cat = r.catalog()
    assert {b"Contacts", b"Notes", b"Settings"} <= set(cat)
    deleted = "Deleted Person".encode("utf-16-le")
    pages = [n for n in range(1, len(data) // 4096 - 1) if deleted in data[(n + 1) * 4096:(n + 2) * 4096]]
    assert len(pages) == 1
    hdr, tags = r.page(pages[0])
    assert all(deleted not in v for _, v in tags)                      # only in the free area
    assert r.long_values(cat[b"Contacts"]["lv"])


def test_large_table_builds_quickly():
    cols = [E.Column("Id", E.LONG, 1), E.Column("When", E.DATETIME, 2), E.Column("Name", E.TEXT, 128),
            E.Column("Tag", E.TEXT, 256)]
    recs = [{"Id": i, "When": 1 << 60 | i, "Name": "n%d" % i, "Tag": "t" if i % 2 else None}
            for i in range(50000)]
    start = time.perf_counter()
    db = E.EseFile()
    db.add_table(E.Table("Big", cols, recs))
    data = db.build()
    assert time.perf_counter() - start < 10
    assert len(Reader(data).leaf_chain(db.table_pages("Big")[0])) == len(db.table_leaf_pages("Big"))


# --------------------------------------------------------------------------
# libesedb as an outside reader
# --------------------------------------------------------------------------

def pyesedb_module():
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pyesedb
    except ImportError:
        pytest.skip("pyesedb not installed")
    return pyesedb


def test_pyesedb_reads_written_database(tmp_path):
    pyesedb = pyesedb_module()
    db = E.EseFile(page_size=4096)
    cols = [E.Column("Id", E.LONG, 1), E.Column("Name", E.TEXT, 128, codepage=1200),
            E.Column("Mail", E.TEXT, 129), E.Column("Tag", E.TEXT, 256), E.Column("Pic", E.LONG_BINARY, 257)]
    recs = [{"Id": i, "Name": "név %d" % i, "Mail": None if i % 3 else "m%d" % i,
             "Tag": "tag%d" % i if i % 2 else None, "Pic": E.LongValue(b"%d" % i * 50) if i in (0, 7) else None}
            for i in range(500)]
    # libesedb 20181229 misses long values (also in files the engine wrote) unless the
    # value's root key lies wholly in its page's key prefix and the tree has at most two
    # leaves: so two values, each on a leaf of its own (root entry + one chunk).
    db.add_table(E.Table("People", cols, recs, records_per_page=60, lv_records_per_page=2))
    db.add_table(E.Table("Empty", [E.Column("X", E.SHORT, 1)]))
    path = tmp_path / "people.edb"
    db.write(path)
    f = pyesedb.file()
    f.open(str(path))
    tables = {f.get_table(i).get_name(): f.get_table(i) for i in range(f.get_number_of_tables())}
    assert set(tables) == {"MSysObjects", "People", "Empty"}
    t = tables["People"]
    assert [(t.get_column(j).get_name(), t.get_column(j).get_type()) for j in range(5)] == \
        [(c.name, c.type) for c in cols]
    assert t.get_number_of_records() == 500 and tables["Empty"].get_number_of_records() == 0
    for i in range(0, 500, 7):
        rec = t.get_record(i)
        assert rec.get_value_data_as_integer(0) == i
        assert rec.get_value_data_as_string(1) == "név %d" % i
        assert rec.get_value_data_as_string(2) == recs[i]["Mail"]
        assert rec.get_value_data_as_string(3) == recs[i]["Tag"]
        if i in (0, 7):
            assert rec.get_value_data_as_long_value(4).get_data() == b"%d" % i * 50
    f.close()
