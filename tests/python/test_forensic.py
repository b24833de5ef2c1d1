"""Forensic methods: page integrity, header facts, index definitions, recovered records."""

from __future__ import annotations

import datetime as dt
import json
import random
import struct

import pytest

import quarrow
from esefile import (BINARY, LONG, TEXT, UNSIGNED_SHORT, Column, EseFile, Table, catalog_index_record,
                     catalog_key, CATALOG_INDEX)
from test_cli import exe, run  # noqa: F401  (the installed program and its runner)

REAL_FILES = ["basic.edb", "binary.edb", "default.edb", "index.edb", "large.edb", "multi.edb",
              "search-catalog.edb", "srum-small.dat", "text.edb", "ual-current.mdb"]

COLUMNS = [Column("Id", LONG, 1), Column("Count", UNSIGNED_SHORT, 2), Column("Name", TEXT, 128),
           Column("Blob", BINARY, 129), Column("Note", TEXT, 256), Column("Extra", BINARY, 257)]


def people(n: int) -> list[dict]:
    return [{"Id": i + 1, "Count": 7 * i, "Name": f"person {i}", "Blob": bytes([i]) * (i % 5 + 1),
             "Note": f"note number {i}" if i % 2 else None, "Extra": b"x" * i if i % 3 == 0 else None}
            for i in range(n)]


def build(page_size: int = 4096, records: int = 12, indexes: bool = False) -> tuple[EseFile, bytes]:
    db = EseFile(page_size=page_size)
    db.add_table(Table("People", COLUMNS, records=people(records), object_id=9))
    if indexes:
        db.add_raw_catalog_record(catalog_index_record(9, 20, 30, "ByName", [(128, False), (1, True)], flags=0x1),
                                  key=catalog_key(9, CATALOG_INDEX, 20))
        db.add_raw_catalog_record(catalog_index_record(9, 21, 31, "Primary", [(1, False)], flags=0x21,
                                                       four_byte_segments=False),
                                  key=catalog_key(9, CATALOG_INDEX, 21))
        db.add_raw_catalog_record(catalog_index_record(9, 22, 32, "Old", [(2, True), (999, False)],
                                                       four_byte_segments=False),
                                  key=catalog_key(9, CATALOG_INDEX, 22))
    return db, db.build()


def live(path):
    return quarrow.EseDatabase(path).read_table("People")


# ---- verify --------------------------------------------------------------------------

@pytest.mark.parametrize("name", REAL_FILES)
def test_real_files_verify_except_the_foreign_tail_of_srum(data_dir, name):
    db = quarrow.EseDatabase(str(data_dir / name))
    problems = db.verify()
    expected = list(range(db.total_pages - 15, db.total_pages + 1)) if name == "srum-small.dat" else []
    assert [p["page"] for p in problems] == expected
    assert all(p["problem"] == "checksum mismatch" for p in problems)


@pytest.mark.parametrize("page_size", [4096, 32768])
def test_damage_is_located(write_db, page_size):
    db, data = build(page_size)
    assert quarrow.EseDatabase(write_db(data)).verify() == []
    leaf = db.table_leaf_pages("People")[0]
    base = db.page_offset(leaf)
    bit = page_size * 8 * 3 // 4 + 5            # in the last block of a large page
    data = bytearray(data)
    data[base + bit // 8] ^= 1 << (bit % 8)
    data[page_size + 200] ^= 0x01               # the shadow header
    problems = quarrow.EseDatabase(write_db(bytes(data))).verify()
    assert [(p["page"], p["problem"], p.get("bit")) for p in problems] == [
        (0, "checksum mismatch", None), (leaf, "checksum mismatch", bit)]
    assert problems[1]["stored"] != problems[1]["computed"]


# ---- header_info ---------------------------------------------------------------------

def test_header_facts_of_a_real_file(data_dir):
    info = quarrow.EseDatabase(str(data_dir / "srum-small.dat")).header_info()
    utc = dt.timezone.utc
    assert info["format_version"] == 0x620 and info["format_revision"] == 20
    assert info["page_size"] == 4096
    assert (info["state"], info["state_code"]) == ("clean shutdown", 3)
    assert info["creation_time"] == dt.datetime(2021, 11, 17, 3, 2, 6, 767000, tzinfo=utc)
    assert info["last_detach_time"] == dt.datetime(2021, 11, 16, 20, 21, 0, 69000, tzinfo=utc)
    assert info["last_repair_time"] is None
    assert (info["os_version"], info["os_build"], info["os_service_pack"]) == ("10.0", 17763, 0)
    assert info["file_type"] == "database" and info["log_generations_required"] == (0, 0)
    assert info["header_copies_agree"] and info["header_checksum_ok"] and info["shadow_header_checksum_ok"]


def test_header_state_times_and_copies(write_db):
    _, data = build()
    data = bytearray(data)
    struct.pack_into("<I", data, 52, 2)                               # dirty shutdown
    data[64:72] = bytes([5, 4, 3, 2, 1, 120, 0, 0])                   # local time, no UTC bit
    data[72:80] = bytes([0, 0, 0, 31, 2, 120, 1, 0])                  # 31 February: not a date
    struct.pack_into("<I", data, 0, 0)
    from esefile import header_checksum
    struct.pack_into("<I", data, 0, header_checksum(bytes(data[:4096])))
    info = quarrow.EseDatabase(write_db(bytes(data))).header_info()
    assert info["state"] == "dirty shutdown"
    assert info["last_consistent_time"] == dt.datetime(2020, 1, 2, 3, 4, 5)   # naive
    assert info["last_attach_time"] is None
    assert info["header_checksum_ok"] and info["shadow_header_checksum_ok"]
    assert not info["header_copies_agree"]


# ---- get_table_indexes ---------------------------------------------------------------

def test_index_definitions_in_both_key_formats(write_db):
    _, data = build(indexes=True)
    got = quarrow.EseDatabase(write_db(data)).get_table_indexes("People")
    assert got == [
        {"name": "ByName", "columns": [{"name": "Name", "descending": False}, {"name": "Id", "descending": True}],
         "unique": True, "primary": False},
        {"name": "Primary", "columns": [{"name": "Id", "descending": False}], "unique": True, "primary": True},
        {"name": "Old", "columns": [{"name": "Count", "descending": True}, {"name": None, "descending": False}],
         "unique": False, "primary": False},
    ]
    with pytest.raises(ValueError, match="Table not found: Nope"):
        quarrow.EseDatabase(write_db(data)).get_table_indexes("Nope")


def test_index_definitions_of_a_real_file(data_dir):
    indexes = quarrow.EseDatabase(str(data_dir / "index.edb")).get_table_indexes("index")
    assert indexes[0] == {"name": "IxId", "columns": [{"name": "Id", "descending": False}],
                          "unique": True, "primary": True}
    assert len(indexes) == 19 and all(len(ix["columns"]) == 1 for ix in indexes)


# ---- recover_records -----------------------------------------------------------------

@pytest.mark.parametrize("page_size", [4096, 32768])
def test_deleted_records_come_back_with_their_values(write_db, page_size):
    db, data = build(page_size)
    leaf = db.table_leaf_pages("People")[0]
    records = people(12)
    # Tag i + 1 holds record i. Remove records 2, 3, 4 (adjacent; 3 ends in a tagged
    # value, 4's entry has a common key size), 7 and 11 (the last value written), flag
    # record 5 as deleted.
    data = db.flag_tags(data, leaf, [6])
    data = db.remove_tags(data, leaf, [3, 4, 5, 8, 12])
    path = write_db(data)
    found = quarrow.EseDatabase(path).recover_records("People")
    by_source = {(r["source"], r["record"]["Id"]): r for r in found}
    assert sorted(by_source) == sorted([("flagged_deleted", 6)] + [("free_space", i + 1) for i in (2, 3, 4, 7, 11)])
    for (_, ident), r in by_source.items():
        assert r["record"] == records[ident - 1]
        assert r["page"] == leaf
        # No live row has their key (the table has no primary index anyway).
        assert (r["live"], r["missing_long_values"]) == (None, [])
    # Removed records and the flagged one are gone from read_table.
    assert sorted(r["Id"] for r in live(path)) == [i + 1 for i in range(12) if i not in (2, 3, 4, 5, 7, 11)]
    offsets = [r["offset"] for r in found if r["source"] == "free_space"]
    assert offsets == sorted(offsets)


def test_random_bytes_give_no_records(write_db):
    db, data = build()
    leaf = db.table_leaf_pages("People")[0]
    rng = random.Random(15)
    data = bytearray(data)
    for _ in range(20):
        start, end = db.free_area(bytes(data), leaf)
        data[start:end] = rng.randbytes(end - start)
        path = write_db(db.fix_checksum(bytes(data), leaf))
        assert quarrow.EseDatabase(path).recover_records("People") == []
    # A table leaf page made of random bytes throughout (tags included).
    base = db.page_offset(leaf)
    for _ in range(20):
        page = bytearray(rng.randbytes(4096))
        page[36:40] = struct.pack("<I", 0x02)     # stays a leaf page
        page[34:36] = struct.pack("<H", rng.randrange(64))
        data[base:base + 4096] = page
        found = quarrow.EseDatabase(write_db(bytes(data))).recover_records("People")
        assert all(r["source"] == "flagged_deleted" for r in found)


# Files whose pages hold no removed records: every page's free space is scrub bytes,
# zeros or the remains of the page's own live values.
@pytest.mark.parametrize("name", [n for n in REAL_FILES if n not in ("srum-small.dat", "ual-current.mdb")])
def test_real_files_without_deletions_give_nothing(data_dir, name):
    db = quarrow.EseDatabase(str(data_dir / name))
    for table in db.get_tables():
        assert db.recover_records(table) == [], table


def test_real_old_record_versions(data_dir):
    db = quarrow.EseDatabase(str(data_dir / "ual-current.mdb"))
    found = db.recover_records("CLIENTS")
    live_rows = db.read_table("CLIENTS")
    # Older versions of live client rows: same client, fewer accesses counted.
    assert found and all(r["source"] == "free_space" for r in found)
    for r in found:
        rec = r["record"]
        same = [row for row in live_rows if row["InsertDate"] == rec["InsertDate"]
                and row["AuthenticatedUserName"] == rec["AuthenticatedUserName"]]
        assert same and rec["TotalAccesses"] <= same[0]["TotalAccesses"]
    with pytest.raises(ValueError, match="Table not found: nope"):
        db.recover_records("nope")


# ---- the quarrow program -------------------------------------------------------------

def test_program_verify_recover_and_indexes(exe, write_db, data_dir):
    from json_view import as_json_value
    db, data = build(indexes=True)
    leaf = db.table_leaf_pages("People")[0]
    data = db.flag_tags(data, leaf, [2])
    data = db.remove_tags(data, leaf, [5, 6])
    bad = bytearray(data)
    bad[db.page_offset(leaf) + 1000] ^= 0x08
    good_path, bad_path = write_db(data), write_db(bytes(bad))
    module = quarrow.EseDatabase(good_path)

    out, _ = run(exe, "verify", good_path)
    assert out.decode().startswith(f"{good_path}: ok, ")
    out, _ = run(exe, "verify", "--json", good_path, bad_path, check=1)
    reports = [json.loads(line) for line in out.decode().splitlines()]
    assert [r["problems"] for r in reports] == [[], quarrow.EseDatabase(bad_path).verify()]
    assert reports[1]["problems"][0]["bit"] == 1000 * 8 + 3
    _, err = run(exe, "verify", str(data_dir / "srum-small.dat"), check=1)

    out, err = run(exe, "recover", good_path, "People")
    lines = [json.loads(line) for line in out.decode().splitlines()]
    expected = [{"offset": r["offset"], "page": r["page"], "source": r["source"], "live": r["live"],
                 "missing_long_values": r["missing_long_values"],
                 "record": {k: as_json_value(v) for k, v in r["record"].items()}}
                for r in module.recover_records("People")]
    assert lines == expected and len(lines) == 3
    assert "3 recovered (1 flagged deleted, 2 from free space; 0 identical to live rows, 0 older versions)" in err
    _, err = run(exe, "recover", good_path, "Nope", check=1)
    assert "Table not found: Nope" in err

    out, _ = run(exe, "schema", "--json", good_path, "People")
    assert json.loads(out)["indexes"] == module.get_table_indexes("People")

    out, _ = run(exe, "info", "--json", str(data_dir / "srum-small.dat"))
    info = json.loads(out)
    assert (info["os_version"], info["log_generations_required"]) == ("10.0 build 17763", [0, 0])
    assert info["header_copies_agree"] and info["header_checksums_ok"]
