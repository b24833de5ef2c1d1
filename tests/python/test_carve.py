"""Carving UTF-16LE strings out of pages: scopes, regions, hit dictionaries,
limits, argument handling, and the real databases where they are present."""

from __future__ import annotations

import re
import struct
from pathlib import Path

import pytest

from esefile import BINARY, LONG, LONG_TEXT, TEXT, Column, EseFile, Table, patch
from quarrow import EseDatabase

KEYS = ["page", "offset", "slack_start", "slack_end", "region_kind", "page_flags", "page_type", "table", "text",
        "file_offset"]
SCOPES = ["slack", "all", "tag_data", "lv_all", "lv_slack"]
SCOPE_ERROR = "Invalid scope: {} (expected: slack, all, tag_data, lv_all, lv_slack)"
PLANTED = "DELETED RECORD TEXT"
SHORT_RUNS = b"".join(t.encode("utf-16-le") + b"\0\0" for t in ["ABCDE", "ABCDEF", "AB", "C"])
UNIT_RUN = re.compile(rb"(?:[\x20-\x7e]\x00){2,}")


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def type_name(flags: int) -> str:
    for bit, name in ((0x80, "long_value"), (0x20, "space_tree"), (0x40, "index"), (0x02, "leaf")):
        if flags & bit:
            return name
    return "branch"


def even(n: int) -> int:
    return n + (n & 1)


class Built:
    """A generated database file with the layout facts the tests need."""

    def __init__(self, db: EseFile, data: bytes, path: str):
        self.db, self.data, self.path = db, data, path

    def page_of(self, file_offset: int) -> tuple[int, int]:
        return file_offset // self.db.page_size - 1, file_offset % self.db.page_size


@pytest.fixture
def built(tmp_path) -> Built:
    """People (four leaf pages under a branch root, UTF-16 names) and Notes (one long
    text kept in the long-value tree); a deleted record's text lies in the free area
    of People's first leaf, and short runs lie in its second leaf."""
    db = EseFile(page_size=4096)
    db.add_table(Table("People", [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1200),
                                  Column("Blob", BINARY, 129)],
                       records=[{"Id": i, "Name": f"Person number {i:03d}", "Blob": bytes(range(i, i + 9))}
                                for i in range(40)], records_per_page=10))
    db.add_table(Table("Notes", [Column("Id", LONG, 1), Column("Body", LONG_TEXT, 256, codepage=1200)],
                       records=[{"Id": 1, "Body": "Long value body text. " * 60}]))
    data = db.build()
    first, second, third = db.table_leaf_pages("People")[:3]
    start, _ = db.free_area(data, first)
    data = patch(data, even(start) + 16, utf16(PLANTED))
    start, _ = db.free_area(data, second)
    data = patch(data, even(start) + 16, SHORT_RUNS)
    start, _ = db.free_area(data, third)
    data = patch(data, even(start) + 16, utf16("STALE SLACK STRING"))
    path = tmp_path / "carve.edb"
    path.write_bytes(data)
    return Built(db, data, str(path))


def check_hits(data: bytes, hits: list, min_chars: int = 6) -> None:
    """What every hit list must satisfy, whatever the scope and the file."""
    page_size = struct.unpack_from("<I", data, 236)[0]
    total = len(data) // page_size - 2
    last = 0
    for h in hits:
        assert list(h) == KEYS
        assert all(type(h[k]) is int for k in KEYS[:4] + ["page_flags"])
        page, offset, start, end, text = h["page"], h["offset"], h["slack_start"], h["slack_end"], h["text"]
        # The string's place in the file: page N starts at (N + 1) * page_size.
        assert h["file_offset"] == (page + 1) * page_size + offset
        assert data[h["file_offset"]:h["file_offset"] + 2 * len(text)] == text.encode("utf-16-le")
        assert 1 <= page <= total and page >= last
        last = page
        assert offset % 2 == 0 and start <= offset and offset + 2 * len(text) <= end <= page_size
        assert len(text) >= max(min_chars, 2) and all(" " <= c <= "~" for c in text)
        base = (page + 1) * page_size
        assert data[base + offset:base + offset + 2 * len(text)] == utf16(text)
        # The run is whole: the units just outside it, inside the region, are not printable.
        for at in (offset - 2, offset + 2 * len(text)):
            if start <= at and at + 2 <= end and at >= 0:
                unit = data[base + at] | data[base + at + 1] << 8
                assert not 0x20 <= unit <= 0x7E
        assert h["page_flags"] == struct.unpack_from("<I", data, base + 36)[0]
        assert h["page_type"] == type_name(h["page_flags"])
        assert h["region_kind"] in ("slack", "all", "tag_data")
        assert h["table"] is None or (type(h["table"]) is str and h["page_type"] == "leaf")


def independent_all_scan(data: bytes, min_chars: int = 6) -> list[tuple[int, int, str]]:
    """Every run of printable units at even page offsets, page by page."""
    page_size = struct.unpack_from("<I", data, 236)[0]
    found = []
    for page in range(1, len(data) // page_size - 1):
        raw = data[(page + 1) * page_size:(page + 2) * page_size]
        for m in UNIT_RUN.finditer(raw):
            if m.start() % 2 == 0 and len(m.group()) >= 2 * min_chars:
                found.append((page, m.start(), m.group().decode("utf-16-le")))
    return found


def triples(hits) -> list[tuple[int, int, str]]:
    return [(h["page"], h["offset"], h["text"]) for h in hits]


# ---- Hits and scopes -------------------------------------------------------------------

def test_slack_hit_dictionary(built):
    hits = EseDatabase(built.path).carve_utf16le_strings(needle="DELETED")
    assert len(hits) == 1
    h = hits[0]
    first = built.db.table_leaf_pages("People")[0]
    start, end = built.db.free_area(built.data, first)
    base = built.db.page_offset(first)
    assert list(h) == KEYS
    # The free area between the last value and the tag array is the slack region.
    assert h == {"page": first, "offset": even(start) + 16 - base, "slack_start": start - base,
                 "slack_end": end - base, "region_kind": "slack", "page_flags": built.db.page_flags(first),
                 "page_type": "leaf", "table": "People", "text": PLANTED, "file_offset": even(start) + 16}


@pytest.mark.parametrize("scope, kind, slack, record, long_value", [
    ("slack", "slack", True, False, False),
    ("all", "all", True, True, True),
    ("tag_data", "tag_data", False, True, True),
    ("lv_all", "all", False, False, True),
    ("lv_slack", "slack", False, False, False),
])
def test_scope_chooses_pages_and_regions(built, scope, kind, slack, record, long_value):
    hits = EseDatabase(built.path).carve_utf16le_strings_scoped(scope, max_hits=10**6)
    check_hits(built.data, hits)
    texts = [h["text"] for h in hits]
    assert any(PLANTED == t for t in texts) == slack
    assert any("Person number 017" in t for t in texts) == record
    assert any("Long value body text." in t for t in texts) == long_value
    assert {h["region_kind"] for h in hits} <= {kind}
    if scope.startswith("lv_"):
        assert all(h["page_type"] == "long_value" and h["table"] is None for h in hits)


def test_tables_and_page_types(built):
    hits = EseDatabase(built.path).carve_utf16le_strings_scoped("all", max_hits=10**6)
    leaves = set(built.db.table_leaf_pages("People"))
    root = built.db.table_pages("People")[0]
    lv = set(built.db.lv_pages("Notes"))
    assert {h["page"] for h in hits} >= leaves | lv
    for h in hits:
        assert h["page_type"] == type_name(built.db.page_flags(h["page"]))
        if h["page"] in leaves:
            assert (h["page_type"], h["table"]) == ("leaf", "People")
        elif h["page"] in lv:
            assert (h["page_type"], h["table"]) == ("long_value", None)
        elif h["page"] in built.db.catalog_pages() and h["page_type"] == "leaf":
            assert h["table"] == "MSysObjects"
    assert root not in leaves and type_name(built.db.page_flags(root)) == "branch"


def test_all_scope_finds_every_run(built):
    for min_chars in (0, 6, 17):
        hits = EseDatabase(built.path).carve_utf16le_strings_scoped("all", None, min_chars, 10**6)
        assert triples(hits) == independent_all_scan(built.data, max(min_chars, 2))


def test_unscoped_method_carves_slack(built):
    db = EseDatabase(built.path)
    for args in [(), (None, 2), ("AB", 0, 1), ("", 6, 1000)]:
        assert db.carve_utf16le_strings(*args) == db.carve_utf16le_strings_scoped("slack", *args)


@pytest.mark.parametrize("min_chars, texts", [
    (6, ["ABCDEF"]), (5, ["ABCDE", "ABCDEF"]), (2, ["ABCDE", "ABCDEF", "AB"]),
    (1, ["ABCDE", "ABCDEF", "AB"]), (0, ["ABCDE", "ABCDEF", "AB"]), (7, []),
])
def test_min_chars(built, min_chars, texts):
    second = built.db.table_leaf_pages("People")[1]
    at = even(built.db.free_area(built.data, second)[0]) + 16 - built.db.page_offset(second)
    hits = EseDatabase(built.path).carve_utf16le_strings(min_chars=min_chars, max_hits=10**6)
    check_hits(built.data, hits, min_chars)
    assert [h["text"] for h in hits if h["page"] == second and at <= h["offset"] < at + len(SHORT_RUNS)] == texts


@pytest.mark.parametrize("needle, found", [
    (None, True), ("", True), ("D RECORD T", True), (PLANTED, True),
    ("deleted", False), (PLANTED + " ", False), ("RECORD\tTEXT", False), ("DÉLETED", False),
])
def test_needle_is_a_case_sensitive_substring(built, needle, found):
    db = EseDatabase(built.path)
    hits = db.carve_utf16le_strings(needle, 6, 10**6)
    assert (PLANTED in [h["text"] for h in hits]) == found
    if needle:
        assert all(needle in h["text"] for h in hits)
    else:  # None and "" both mean no filter
        assert hits == db.carve_utf16le_strings(None, 6, 10**6)


@pytest.mark.parametrize("scope", ["all", "tag_data", "slack"])
def test_hit_limit_keeps_the_first_hits(built, scope):
    db = EseDatabase(built.path)
    full = db.carve_utf16le_strings_scoped(scope, max_hits=10**6)
    assert len(full) >= 3
    for k in (1, 2, 3, len(full), len(full) + 1):
        assert db.carve_utf16le_strings_scoped(scope, max_hits=k) == full[:k]
    assert db.carve_utf16le_strings_scoped(scope, max_hits=0) == full[:1]


def test_every_call_returns_new_objects(built):
    db = EseDatabase(built.path)
    first = db.carve_utf16le_strings_scoped("all")
    first[0]["text"] = "changed"
    first.append(None)
    second = db.carve_utf16le_strings_scoped("all")
    assert second is not first and second[0]["text"] != "changed" and second[-1] is not None


# ---- Pages and damage ------------------------------------------------------------------

def set_u32(built: Built, page: int, offset: int, value: int) -> str:
    data = patch(built.data, built.db.page_offset(page) + offset, struct.pack("<I", value))
    with open(built.path, "wb") as f:
        f.write(data)
    built.data = data
    return built.path


@pytest.mark.parametrize("flags, page_type", [(0, "branch"), (0x22, "space_tree"), (0x42, "index"),
                                              (0x82, "long_value"), (0xA802, "leaf")])
def test_page_flags_name_the_page_and_its_table(built, flags, page_type):
    first = built.db.table_leaf_pages("People")[0]
    set_u32(built, first, 36, flags)
    [h] = EseDatabase(built.path).carve_utf16le_strings(needle="DELETED")
    assert (h["page_flags"], h["page_type"]) == (flags, page_type)
    assert h["table"] == ("People" if page_type == "leaf" else None)


def test_looping_chain_ends(built):
    leaves = built.db.table_leaf_pages("People")
    set_u32(built, leaves[-1], 20, leaves[0])  # the last leaf links back to the first
    hits = EseDatabase(built.path).carve_utf16le_strings_scoped("all", max_hits=10**6)
    assert {h["table"] for h in hits if h["page"] in leaves} == {"People"}


def test_truncated_file_carves_the_pages_that_fit(built, tmp_path):
    full = EseDatabase(built.path).carve_utf16le_strings_scoped("all", max_hits=10**6)
    page_size = built.db.page_size
    cut = tmp_path / "cut.edb"
    cut.write_bytes(built.data[:len(built.data) - page_size - page_size // 2])
    db = EseDatabase(str(cut))
    assert db.total_pages == len(built.data) // page_size - 4
    hits = db.carve_utf16le_strings_scoped("all", max_hits=10**6)
    assert hits == [h for h in full if h["page"] <= db.total_pages]


def test_database_without_long_values(write_db):
    path = write_db([Table("T", [Column("Name", TEXT, 128, codepage=1200)], records=[{"Name": "some text here"}])])
    db = EseDatabase(path)
    assert db.carve_utf16le_strings_scoped("lv_all") == []
    assert db.carve_utf16le_strings_scoped("lv_slack") == []
    assert [h["table"] for h in db.carve_utf16le_strings_scoped("tag_data", "some")] == ["T"]


# ---- Arguments -------------------------------------------------------------------------

@pytest.mark.parametrize("kwargs, name", [
    ({"scope": 1}, "scope"), ({"scope": b"all"}, "scope"), ({"scope": None}, "scope"),
    ({"needle": b"x"}, "needle"), ({"needle": 3}, "needle"),
    ({"min_chars": "6"}, "min_chars"), ({"min_chars": 6.0}, "min_chars"), ({"min_chars": None}, "min_chars"),
    ({"max_hits": "9"}, "max_hits"), ({"max_hits": 1.5}, "max_hits"),
])
def test_argument_type_errors_name_the_argument(built, kwargs, name):
    db = EseDatabase(built.path)
    args = {"scope": "all", **kwargs}
    with pytest.raises(TypeError, match=name):
        db.carve_utf16le_strings_scoped(**args)
    if "scope" not in kwargs:
        with pytest.raises(TypeError, match=name):
            db.carve_utf16le_strings(**kwargs)


@pytest.mark.parametrize("name", ["min_chars", "max_hits"])
@pytest.mark.parametrize("value", [-1, 2**64, 2**70, -2**64])
def test_integers_outside_64_bits_overflow(built, name, value):
    db = EseDatabase(built.path)
    with pytest.raises(OverflowError):
        db.carve_utf16le_strings(**{name: value})
    with pytest.raises(OverflowError):
        db.carve_utf16le_strings_scoped("all", **{name: value})


def test_integer_arguments_use_the_index_protocol(built):
    class Six:
        def __index__(self):
            return 6

    db = EseDatabase(built.path)
    assert db.carve_utf16le_strings(None, Six(), Six()) == db.carve_utf16le_strings(None, 6, 6)
    assert db.carve_utf16le_strings(min_chars=True, max_hits=2**64 - 1) == \
        db.carve_utf16le_strings(min_chars=2, max_hits=10**9)
    assert db.carve_utf16le_strings(min_chars=2**64 - 1) == []


@pytest.mark.parametrize("scope", ["Slack", "ALL", " all", "all ", "tag-data", "", "lv_all\0", "slack\n", "ünï"])
def test_invalid_scope_names(built, scope):
    with pytest.raises(ValueError) as info:
        EseDatabase(built.path).carve_utf16le_strings_scoped(scope)
    assert str(info.value) == SCOPE_ERROR.format(scope)


@pytest.mark.parametrize("kwargs, error", [
    ({"min_chars": -1}, OverflowError), ({"max_hits": 2**64}, OverflowError),
    ({"needle": 5}, TypeError), ({"max_hits": "many"}, TypeError),
])
def test_scope_name_is_checked_after_the_other_arguments(built, kwargs, error):
    with pytest.raises(error):
        EseDatabase(built.path).carve_utf16le_strings_scoped("bogus", **kwargs)


@pytest.mark.parametrize("method, args, kwargs", [
    ("carve_utf16le_strings_scoped", (), {}),
    ("carve_utf16le_strings_scoped", ("all", None, 6, 10, 1), {}),
    ("carve_utf16le_strings_scoped", ("all",), {"scope": "all"}),
    ("carve_utf16le_strings_scoped", ("all",), {"limit": 3}),
    ("carve_utf16le_strings", (None, 6, 10, 1), {}),
    ("carve_utf16le_strings", (), {"scope": "all"}),
    ("carve_utf16le_strings", ("x",), {"needle": "x"}),
])
def test_argument_lists(built, method, args, kwargs):
    with pytest.raises(TypeError):
        getattr(EseDatabase(built.path), method)(*args, **kwargs)


def test_keywords_and_positions_agree(built):
    db = EseDatabase(built.path)
    assert db.carve_utf16le_strings_scoped(scope="tag_data", needle="Person", min_chars=3, max_hits=5) == \
        db.carve_utf16le_strings_scoped("tag_data", "Person", 3, 5)
    assert db.carve_utf16le_strings(max_hits=5, needle="Person") == db.carve_utf16le_strings("Person", 6, 5)


# ---- Real databases --------------------------------------------------------------------

REAL_FILES = ["basic.edb", "binary.edb", "default.edb", "index.edb", "large.edb", "multi.edb", "text.edb",
              "search-catalog.edb", "srum-small.dat", "ual-current.mdb"]


@pytest.fixture(scope="module")
def real_bytes():
    cache: dict = {}

    def read(path) -> bytes:
        if path not in cache:
            with open(path, "rb") as f:
                cache[path] = f.read()
        return cache[path]
    return read


@pytest.mark.parametrize("name", REAL_FILES)
def test_real_files_every_scope(data_dir, real_bytes, name):
    path = data_dir / name
    if not path.exists():
        pytest.skip(f"{name} not present")
    data = real_bytes(path)
    db = EseDatabase(str(path))
    tables = set(db.get_tables())
    for scope in SCOPES:
        hits = db.carve_utf16le_strings_scoped(scope, max_hits=10**7)
        check_hits(data, hits)
        assert {h["table"] for h in hits} <= tables | {None}
        if scope.startswith("lv_"):
            assert all(h["page_type"] == "long_value" for h in hits)
        if scope in ("all", "lv_all"):
            assert all((h["slack_start"], h["slack_end"]) == (0, db.page_size) for h in hits)
    everything = db.carve_utf16le_strings_scoped("all", max_hits=10**7)
    assert triples(everything) == independent_all_scan(data)
    limited = db.carve_utf16le_strings_scoped("all", max_hits=3)
    assert limited == everything[:3]


def test_real_carving_finds_record_text(data_dir):
    path = data_dir / "ual-current.mdb"
    if not path.exists():
        pytest.skip("ual-current.mdb not present")
    db = EseDatabase(str(path))
    hits = db.carve_utf16le_strings_scoped("all", max_hits=10**6)
    for table in ("CLIENTS", "DNS"):
        # UAL stores its strings with a terminating NUL, which read_table keeps.
        values = {v.rstrip("\x00") for record in db.read_table(table) for v in record.values() if isinstance(v, str)}
        carved = {h["text"] for h in hits if h["table"] == table}
        assert carved & values, table


def test_bundled_sample_keeps_a_deleted_record_in_slack():
    # The demo's database leaves a deleted contact in the free area of a leaf page.
    sample = Path(__file__).resolve().parents[2] / "examples" / "sample.edb"
    hits = EseDatabase(str(sample)).carve_utf16le_strings(needle="Deleted Person")
    assert [(h["region_kind"], h["page_type"], h["table"]) for h in hits] == [("slack", "leaf", "Contacts")]
