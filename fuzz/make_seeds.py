#!/usr/bin/env python3
"""Writes the seed databases of the fuzzers and the mutation sweep.

Small valid databases from the test writer (testing/esefile): every page
size (4096, 8192, 16384, 32768), both tag layouts (large pages with the large-page
layout and with the classic one), long values over several chunks and leaf pages,
multi-level data and catalog trees, compressed and multi-valued columns, 64-bit
long-value ids. With --shared, the real files of ../shared/data are copied too
(into the corpus directory, never into the repository).

usage: make_seeds.py OUTDIR [--shared DIR] [--max-size BYTES]
"""

from __future__ import annotations

import argparse
import shutil
import sys
from pathlib import Path


import esefile as ef  # noqa: E402
from esefile import Column, EseFile, LongValue, Table  # noqa: E402


def columns():
    return [
        Column("Id", ef.LONG, 1),
        Column("Flag", ef.BIT, 2),
        Column("When", ef.DATETIME, 3),
        Column("Uid", ef.GUID, 4),
        Column("Small", ef.UNSIGNED_SHORT, 5),
        Column("Name", ef.TEXT, 128, codepage=1200),
        Column("Blob", ef.BINARY, 129),
        Column("Note", ef.LONG_TEXT, 256, codepage=1252),
        Column("Data", ef.LONG_BINARY, 257),
        Column("Packed", ef.TEXT, 258, codepage=1252),
        Column("Many", ef.TEXT, 259, codepage=1252),
    ]


def records(count: int, lv_size: int):
    out = []
    for i in range(count):
        row = {"Id": i + 1, "Flag": i % 2 == 0, "Small": i * 7, "Name": f"name {i} \u00e9",
               "Blob": bytes([i % 256]) * (i % 9)}
        if i % 3 == 0:
            row["Note"] = LongValue(("long text %d " % i) * (lv_size // 12 + 1))
        if i % 4 == 1:
            row["Data"] = LongValue(bytes(range(256)) * (lv_size // 256 + 1))
        if i % 5 == 2:
            row["Packed"] = ef.tagged_item(ef.compress_7bit(b"packed words %d" % i), ef.TAGGED_COMPRESSED)
        if i % 6 == 3:
            row["Many"] = ["one", "two", "three"]
        out.append(row)
    return out


def database(page_size: int, revision: int, *, rows: int, lv_size: int, deep: bool, lid64: bool = False,
             shadow: bool = False) -> bytes:
    db = EseFile(page_size=page_size, revision=revision)
    # Without the (empty) shadow catalog at page 24 the files stay a few pages long,
    # which keeps the fuzzers fast.
    db.shadow_catalog = shadow
    kwargs = {}
    if deep:
        kwargs = dict(records_per_page=3, branch_fanout=3, lv_records_per_page=2,
                      lv_chunk_size=max(512, page_size // 3))
        db.catalog_records_per_page = 6
        db.catalog_branch_fanout = 3
    db.add_table(Table("Items", columns(), records(rows, lv_size), lid64=lid64, null_bitmap=True, **kwargs))
    db.add_table(Table("Empty", [Column("K", ef.LONG, 1)], []))
    db.add_table(Table("Words", [Column("W", ef.TEXT, 128)], [{"W": f"w{i}"} for i in range(5)]))
    return db.build()


def known_databases():
    """Small databases with the tables of the shipped profiles (SRUM, UAL, Windows
    Search), so that the views, their joins and path trees are fuzzed too."""
    import struct  # noqa: PLC0415
    sid = bytes([1, 1, 0, 0, 0, 0, 0, 5]) + struct.pack("<I", 18)
    srum = EseFile(page_size=4096)
    srum.shadow_catalog = False
    srum.add_table(Table("SruDbIdMapTable", [Column("IdType", ef.UNSIGNED_BYTE, 1), Column("IdIndex", ef.LONG, 2),
                                             Column("IdBlob", ef.LONG_BINARY, 256)],
                         [{"IdType": 0, "IdIndex": 1}, {"IdType": 3, "IdIndex": 2},
                          {"IdType": 0, "IdIndex": 3, "IdBlob": "svchost.exe\0".encode("utf-16-le")},
                          {"IdType": 3, "IdIndex": 4, "IdBlob": sid}]))
    srum.add_table(Table("SruDbCheckpointTable", [Column("CheckpointId", ef.LONG, 1)]))
    srum.add_table(Table("{DD6636C4-8929-4683-974E-22C046A43763}",
                         [Column("AutoIncId", ef.LONG, 1), Column("TimeStamp", ef.DATETIME, 2),
                          Column("AppId", ef.LONG, 3), Column("UserId", ef.LONG, 4),
                          Column("InterfaceLuid", ef.LONG_LONG, 5), Column("ConnectedTime", ef.LONG, 6),
                          Column("ConnectStartTime", ef.LONG_LONG, 7)],
                         [{"AutoIncId": i, "TimeStamp": 44516.5 + i, "AppId": 1 + i % 4, "UserId": 1 + (i + 1) % 4,
                           "InterfaceLuid": (6 << 48) | (32769 << 24), "ConnectedTime": 60 * i,
                           "ConnectStartTime": 132815602642009395 + i} for i in range(4)]))
    yield "known_srum", srum.build()
    ual = EseFile(page_size=4096)
    ual.shadow_catalog = False
    clients = [Column("RoleGuid", ef.GUID, 1), Column("InsertDate", ef.DATETIME, 2), Column("Address", ef.BINARY, 128),
               Column("AuthenticatedUserName", ef.LONG_TEXT, 256, codepage=1200)]
    clients += [Column(f"Day{n}", ef.UNSIGNED_SHORT, 2 + n) for n in range(1, 8)]
    ual.add_table(Table("CLIENTS", clients, [
        {"RoleGuid": "ad495fc3-0eaa-413d-ba7d-8b13fa7ec598", "InsertDate": struct.pack("<Q", 132715098559808089),
         "Address": bytes([10, 0, 0, i]), "AuthenticatedUserName": "dom\\user\0", "Day1": i, "Day3": 2}
        for i in range(3)], null_bitmap=True))
    for name in ("ROLE_ACCESS", "DNS", "VIRTUALMACHINES"):
        ual.add_table(Table(name, [Column("LastSeen", ef.DATETIME, 1)], [{"LastSeen": struct.pack("<Q", 1)}]))
    yield "known_ual", ual.build()
    search = EseFile(page_size=4096)
    search.shadow_catalog = False
    search.add_table(Table("SystemIndex_PropertyStore", [
        Column("WorkID", ef.UNSIGNED_LONG, 1), Column("15F-System_DateModified", ef.BINARY, 128),
        Column("4447-System_ItemPathDisplay", ef.LONG_TEXT, 256, codepage=1200)],
        [{"WorkID": i, "15F-System_DateModified": struct.pack("<Q", 132815602642009395),
          "4447-System_ItemPathDisplay": f"C:\\f{i}"} for i in range(1, 4)]))
    search.add_table(Table("SystemIndex_Gthr", [Column("ScopeID", ef.UNSIGNED_LONG, 1),
                                                Column("DocumentID", ef.UNSIGNED_LONG, 2),
                                                Column("LastModified", ef.BINARY, 128),
                                                Column("FileName", ef.LONG_TEXT, 256, codepage=1200)],
                           [{"ScopeID": 3, "DocumentID": i, "LastModified": struct.pack(">Q", 132815602642009395),
                             "FileName": f"f{i}"} for i in range(1, 4)]))
    search.add_table(Table("SystemIndex_GthrPth", [Column("Scope", ef.UNSIGNED_LONG, 1),
                                                   Column("Parent", ef.UNSIGNED_LONG, 2),
                                                   Column("Name", ef.LONG_TEXT, 256, codepage=1200)],
                           [{"Scope": 2, "Parent": 1, "Name": "file:"}, {"Scope": 3, "Parent": 2, "Name": "C:/"},
                            {"Scope": 4, "Parent": 5, "Name": "x/"}, {"Scope": 5, "Parent": 4, "Name": "y/"}]))
    yield "known_search", search.build()


def seeds():
    yield from known_databases()
    for page_size in (4096, 8192, 16384, 32768):
        yield f"small_{page_size}_r20", database(page_size, 20, rows=4, lv_size=page_size // 2, deep=False,
                                                 shadow=page_size == 4096)
        yield f"deep_{page_size}_r20", database(page_size, 20, rows=10, lv_size=page_size + 100, deep=True)
    # Large pages with the classic tag layout (revision below 17) and with LID64 keys.
    yield "deep_16384_r12", database(16384, 12, rows=10, lv_size=20000, deep=True)
    yield "small_32768_r12", database(32768, 12, rows=3, lv_size=9000, deep=False)
    yield "lid64_8192_r70", database(8192, 0x46, rows=6, lv_size=9000, deep=True, lid64=True)
    yield "lid64_32768_r70", database(32768, 0x46, rows=4, lv_size=40000, deep=False, lid64=True)
    # The database root's owned-extent tree, which says how long the file must be.
    spaced = EseFile(page_size=4096)
    spaced.space_tree = True
    spaced.add_table(Table("T", [Column("Id", ef.LONG, 1)], [{"Id": i} for i in range(40)], records_per_page=8))
    yield "space_tree_4096", spaced.build()


def log_seeds():
    """Transaction-log seeds: committed, rolled back and open transactions with
    fragmented inserts, a recycled file with stale segments, a torn last segment, and
    page merges of each kind and a page move."""
    from esefile import log as lg  # noqa: PLC0415
    node = lg.Node(trx=100, level=2)
    rows = [lg.insert(node, bytes([0x7F, 0, 0, 0, i]), bytes([i]) * (60 + 40 * i)) for i in range(12)]
    full = lg.LogFile(0x51)
    full.add(lg.init2(), lg.attach_db(1, b"S" * 28, "C:\\db.edb"), lg.trace(9, "seed"))
    full.transaction(9, 100, rows)
    full.transaction(9, 101, [lg.flag_delete(lg.Node(trx=101, level=2)), lg.undo(lg.Node(trx=101), b"\x7f\x01")],
                     outcome="rollback")
    full.transaction(10, 102, [lg.replace(lg.Node(procid=10, trx=102, level=2), b"abc" * 30)], outcome="open")
    yield "log_full", full.build()
    stale = lg.LogFile(0x5A)
    stale.add(lg.init2(), lg.shutdown_mark(), lg.nop2(20), lg.term2())
    stale.shadow = False
    stale.stale_from = 3
    yield "log_stale", stale.build()
    yield "log_torn", lg.tear_last_segment(full, full.build())
    # Merges on the fuzz target's matching database (page n at dbtime n, nodes a b c):
    # page 6 whole into 7, then page 9 partly into 10, then page 12 emptied.
    merges = lg.LogFile(0x52)
    merges.add(lg.init2())
    for step, (page, kind, flags, iline_merge, separator) in enumerate(
            [(6, lg.MERGE_FULL_RIGHT, lg.MERGE_EMPTIES_PAGE, 0, b""), (9, lg.MERGE_PARTIAL_RIGHT, 0, 1, b"b"),
             (12, lg.MERGE_EMPTY_PAGE, lg.MERGE_EMPTIES_PAGE, 0, b"")]):
        dbtime = 100 + step
        parent_flags = lg.MERGE_KEY_CHANGE if kind == lg.MERGE_PARTIAL_RIGHT else lg.MERGE_DELETE_NODE
        merges.add(lg.macro(lg.MACRO_BEGIN, 9, dbtime),
                   lg.merge2(9, 1, 16 - step, dbtime, 16 - step, 16 - step, flags=parent_flags, iline=1),
                   lg.merge2(9, 1, page, dbtime, page, page, kind, flags, right=page + 1, right_before=page + 1,
                             left=page - 1, left_before=page - 1, parent=16 - step, parent_before=16 - step,
                             iline_merge=iline_merge, separator=separator),
                   lg.macro(lg.MACRO_COMMIT, 9, dbtime))
    merges.add(lg.page_move(9, 1, 3, 110, 3, 1, 2, 0, 3, dbtime_others=2, header=bytes(64), trailer=bytes(8)))
    yield "log_merge", merges.build()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir", type=Path)
    parser.add_argument("--shared", type=Path, default=None)
    parser.add_argument("--max-size", type=int, default=4 << 20)
    args = parser.parse_args()
    args.outdir.mkdir(parents=True, exist_ok=True)
    count = 0
    for name, data in seeds():
        (args.outdir / f"{name}.edb").write_bytes(data)
        count += 1
    for name, data in log_seeds():
        (args.outdir / f"{name}.log").write_bytes(data)
        count += 1
    with open(args.outdir / "sample.edb", "wb"):
        pass
    ef.make_sample_database(args.outdir / "sample.edb")
    count += 1
    if args.shared and args.shared.is_dir():
        for path in sorted(args.shared.iterdir()):
            if path.suffix.lower() in (".edb", ".dat", ".mdb") and path.stat().st_size <= args.max_size:
                shutil.copyfile(path, args.outdir / path.name)
                count += 1
    print(f"{count} seeds in {args.outdir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
