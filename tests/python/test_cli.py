"""The installed `quarrow` program: byte-identical exports, dumps and carving hits
against the module, thread counts, CSV, exit statuses and error messages."""

from __future__ import annotations

import csv
import datetime
import decimal
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import sysconfig
import uuid
from pathlib import Path

import pytest

from quarrow import EseDatabase
from test_export import broken_chain

SCOPES = ("slack", "all", "tag_data", "lv_all", "lv_slack")


@pytest.fixture(scope="session")
def exe() -> str:
    for folder in (sysconfig.get_path("scripts"), str(Path(sys.executable).parent)):
        candidate = Path(folder) / "quarrow"
        if candidate.is_file():
            return str(candidate)
    found = shutil.which("quarrow")
    assert found, "the quarrow program is not installed next to the module"
    return found


def run(exe, *args, check=0):
    """Runs the program; asserts its exit status and returns (stdout bytes, stderr text)."""
    p = subprocess.run([exe, *map(str, args)], capture_output=True, timeout=300)
    assert p.returncode == check, p.stderr.decode()
    return p.stdout, p.stderr.decode()


def data_files(data_dir):
    return sorted(p for p in data_dir.iterdir() if p.suffix in (".edb", ".dat", ".mdb"))


def tree(folder: Path) -> dict:
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


# ---- Real files: the same bytes as the module ------------------------------------------

def test_export_matches_export_all(exe, data_dir, tmp_path):
    for path in data_files(data_dir):
        expected = tmp_path / "module" / path.name
        EseDatabase(str(path)).export_all(str(expected))
        for jobs in (1, 2):
            out = tmp_path / f"cli{jobs}" / path.name
            run(exe, "export", path, "-o", out, "--jobs", jobs)
            assert tree(out) == tree(expected), (path.name, jobs)
    # Several files: one folder per file, the same contents.
    run(exe, "export", *data_files(data_dir), "-o", tmp_path / "all", "-j", "2")
    assert tree(tmp_path / "all") == tree(tmp_path / "module")


def test_dump_matches_export_table(exe, data_dir, tmp_path):
    for path in data_files(data_dir):
        db = EseDatabase(str(path))
        for table in db.get_tables():
            db.export_table(table, str(tmp_path / "t.jsonl"))
            out, err = run(exe, "dump", path, table)
            assert out == (tmp_path / "t.jsonl").read_bytes(), (path.name, table)
            assert err == ""
        out, _ = run(exe, "tables", path)
        assert out.decode().splitlines() == db.get_tables()


def test_carve_matches_module(exe, data_dir):
    for path in data_files(data_dir):
        db = EseDatabase(str(path))
        for scope in SCOPES:
            expected = db.carve_utf16le_strings_scoped(scope, None, 4, 5000)
            for jobs in (1, 2):
                out, _ = run(exe, "carve", path, "--scope", scope, "--min-chars", 4, "--max-hits", 5000, "-j", jobs)
                hits = [json.loads(line) for line in out.decode().splitlines()]
                assert hits == expected, (path.name, scope, jobs)
                assert [list(h) for h in hits] == [list(h) for h in expected]  # key order too


def test_carve_ranges_on_threads_keep_module_order(exe, write_db):
    """Enough pages for the pages to be split into ranges on two threads; --max-hits
    cuts the result at the same hit as the module."""
    from esefile import LONG, TEXT, Column, Table
    rows = [{"Id": i, "Name": f"carved name number {i:05d} " + "x" * 100} for i in range(12000)]
    path = write_db([Table("T", [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1200)], rows)])
    db = EseDatabase(path)
    assert db.total_pages >= 3 * 256  # the tool cuts ranges of 256 pages or more
    for max_hits in (7, 100000):
        expected = db.carve_utf16le_strings_scoped("tag_data", "name", 6, max_hits)
        out, _ = run(exe, "carve", path, "-s", "tag_data", "--needle", "name", "-k", max_hits, "-j", 2)
        assert [json.loads(line) for line in out.decode().splitlines()] == expected


def same_decoded(arrow, j) -> bool:
    """A value of the Arrow table against the --decoded JSON value."""
    if isinstance(arrow, list):
        return isinstance(j, list) and len(arrow) == len(j) and all(map(same_decoded, arrow, j))
    if isinstance(arrow, float):
        return (j is None and arrow != arrow) or (j is not None and float(j) == arrow)
    if isinstance(arrow, datetime.datetime):
        return arrow.isoformat() == j
    if isinstance(arrow, uuid.UUID):
        return str(arrow) == j
    if isinstance(arrow, bytes):
        return arrow.hex() == j
    return arrow == j and type(arrow is None) is type(j is None)


def test_decoded_dump_matches_arrow_table(exe, data_dir):
    pa = pytest.importorskip("pyarrow")
    for path in data_files(data_dir):
        db = EseDatabase(str(path))
        for table in db.get_tables():
            try:
                rows = pa.table(db.arrow_table(table)).to_pylist()
            except (ValueError, OverflowError):  # dates Python's datetime cannot hold
                continue
            out, _ = run(exe, "dump", "--decoded", path, table)
            lines = [json.loads(line, parse_float=decimal.Decimal) for line in out.decode().splitlines()]
            assert len(lines) == len(rows), (path.name, table)
            for row, line in zip(rows, lines):
                assert sorted(line) == sorted(row)
                bad = [k for k in row if not same_decoded(row[k], line[k])]
                assert not bad, (path.name, table, bad, [(row[k], line[k]) for k in bad[:3]])


def csv_text(value) -> str:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, bytes):
        return value.hex()
    return str(value)


def test_csv_reads_back_as_rows(exe, data_dir):
    for name, table in (("basic.edb", "basic"), ("text.edb", "text"), ("binary.edb", "binary"),
                        ("search-catalog.edb", "string"), ("srum-small.dat", "SruDbIdMapTable")):
        path = data_dir / name
        rows = EseDatabase(str(path)).read_table(table)
        out, _ = run(exe, "dump", "--format", "csv", path, table)
        assert b"\r\n" in out
        header, *body = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
        assert header == list(rows[0])
        assert len(body) == len(rows)
        for row, cells in zip(rows, body):
            for value, cell in zip(row.values(), cells):
                if isinstance(value, float):
                    assert float(cell) == value or (value != value and cell == "0")
                else:
                    assert cell == csv_text(value)
        limited, _ = run(exe, "dump", "--format=csv", "--limit", 1, path, table)
        assert limited.count(b"\r\n") >= 2 and len(list(csv.reader(io.StringIO(limited.decode())))) == 2


def test_info_reports_header_facts_and_warns_when_dirty(exe, write_db, data_dir):
    out, err = run(exe, "info", "--json", "--count", data_dir / "basic.edb")
    info = json.loads(out)
    assert (info["page_size"], info["format_version"], info["format_revision"], info["state"]) == \
        (4096, 0x620, 20, "clean shutdown")
    assert info["created"].startswith("2022-08-19T11:46:32.") and info["created"].endswith("Z") and err == ""
    assert {t["name"]: (t["columns"], t["records"]) for t in info["tables"]}["basic"] == (13, 2)
    data = bytearray(Path(write_db([])).read_bytes())
    struct.pack_into("<I", data, 52, 2)  # state: dirty shutdown
    dirty = write_db(bytes(data))
    out, err = run(exe, "info", dirty)
    assert "state:          dirty shutdown" in out.decode()
    assert err == f"quarrow: {dirty}: warning: the database was not shut down cleanly; " \
                  "recent changes may still be in its transaction logs\n"


def test_schema_matches_module_and_reads_catalog_flags(exe, data_dir):
    for name in ("multi.edb", "srum-small.dat"):
        path = data_dir / name
        db = EseDatabase(str(path))
        out, _ = run(exe, "schema", "--json", path)
        tables = [json.loads(line) for line in out.decode().splitlines()]
        assert [t["table"] for t in tables] == db.get_tables()
        for t in tables:
            expected = db.get_table_schema(t["table"])
            assert [{k: c[k] for k in ("name", "type", "id", "nullable")} for c in t["columns"]] == expected
            for c in t["columns"]:
                assert (c["codepage"] is not None) == (c["type"] in ("Text", "Long Text"))
    out, _ = run(exe, "schema", "--json", data_dir / "multi.edb", "multi")
    columns = {c["name"]: c for c in json.loads(out)["columns"]}
    assert columns["Long"]["multi_valued"] and not columns["Id"]["multi_valued"]
    assert columns["ASCII"]["codepage"] == 1252
    text, _ = run(exe, "schema", data_dir / "multi.edb", "multi")
    assert text.decode().splitlines()[0] == "multi" and "multi-valued" in text.decode()


def test_export_options_csv_decoded_limit(exe, data_dir, tmp_path):
    path = data_dir / "multi.edb"
    run(exe, "export", path, "-o", tmp_path, "--tables", "multi,MSysObjects", "--format", "csv", "--decoded",
        "--limit", 1)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["MSysObjects.csv", "multi.csv"]
    header, row = list(csv.reader(io.StringIO((tmp_path / "multi.csv").read_text(), newline="")))
    cells = dict(zip(header, row))
    assert json.loads(cells["Long"]) == [0, -2147483647, 2147483647]  # a list as its JSON text
    assert cells["DateTime"].startswith("[\"1661-04-18T12:30:00\"")
    dumped, _ = run(exe, "dump", "--decoded", "--format", "csv", "--limit", "1", path, "multi")
    assert dumped == (tmp_path / "multi.csv").read_bytes()


# ---- Failures -------------------------------------------------------------------------------

def test_failures_exit_status_and_messages(exe, write_db, tmp_path):
    missing = tmp_path / "missing.edb"
    junk = tmp_path / "junk.edb"
    junk.write_bytes(b"x" * 100)
    good = write_db([])
    _, err = run(exe, "info", missing, good, check=1)
    assert err == f"quarrow: {missing}: Database file not found: {missing}\n"
    _, err = run(exe, "tables", junk, check=1)
    assert err == f"quarrow: {junk}: Failed to open database: Invalid database header\n"
    _, err = run(exe, "dump", good, "Nope", check=1)
    assert err == f"quarrow: {good}: Nope: Table not found: Nope\n"
    _, err = run(exe, "schema", good, "Nope", check=1)
    assert err == f"quarrow: {good}: Nope: Table not found: Nope\n"
    _, err = run(exe, "export", good, "-o", tmp_path / "some", "--tables", "MSysObjects,Nope,MSysObjects", "-q",
                 check=1)
    assert err == f"quarrow: {good}: Nope: Table not found: Nope\n"
    assert sorted(tree(tmp_path / "some")) == ["MSysObjects.jsonl"]

    for args in (["dump", good], ["frobnicate"], ["export", good], ["carve", good, "--scope", "Slack"],
                 ["dump", good, "T", "--limit", "-1"], ["export", good, "-o", tmp_path, "--jobs", "0"],
                 ["info", good, "--bogus"]):
        out, err = run(exe, *args, check=2)
        assert out == b"" and err.startswith("quarrow") and "--help" in err
    assert "Invalid scope: Slack (expected: slack, all, tag_data, lv_all, lv_slack)" in \
        run(exe, "carve", good, "--scope", "Slack", check=2)[1]
    out, _ = run(exe, "--version")
    assert out == b"quarrow 0.1.8\n"
    for command in ("", "info", "tables", "schema", "dump", "export", "carve"):
        out, _ = run(exe, *([command] if command else []), "--help")
        assert out.startswith(b"usage: quarrow")


def test_damaged_chain_keeps_lines_and_other_tables(exe, write_db, tmp_path):
    path = write_db(broken_chain())
    out, err = run(exe, "dump", path, "T", check=1)
    # Every row of the table's tree, then the error of the link past the file.
    assert out == b"".join(b'{"Id":%d}\n' % i for i in range(12))
    assert err == f"quarrow: {path}: T: Error reading record: Invalid page number: 99999\n"
    # export goes on with the tables after the failing one (export_all would stop).
    _, err = run(exe, "export", path, "-o", tmp_path / "out", "-j", 2, "-q", check=1)
    assert err.count("\n") == 1 and "T: Error reading record" in err
    files = tree(tmp_path / "out")
    assert files["T.jsonl"] == out and files["Z.jsonl"] == b'{"Id":2}\n' and "A.jsonl" in files


def test_export_never_writes_onto_an_input(exe, data_dir, tmp_path):
    source = tmp_path / "basic.jsonl"  # the database itself, named like the export of table "basic"
    shutil.copyfile(data_dir / "basic.edb", source)
    before = source.read_bytes()
    _, err = run(exe, "export", source, "-o", tmp_path, "-q", check=1)
    assert "basic: Failed to create output file: the output path is the database file itself" in err
    assert source.read_bytes() == before
    assert (tmp_path / "MSysObjects.jsonl").stat().st_size > 0
    # The same input twice would share a folder: refused before any work.
    _, err = run(exe, "export", source, tmp_path / "." / "basic.jsonl", "-o", tmp_path / "x", check=2)
    assert f"'{tmp_path / '.' / 'basic.jsonl'}' is given twice" in err and not (tmp_path / "x").exists()


def test_no_progress_when_stderr_is_not_a_terminal(exe, data_dir, tmp_path):
    out, err = run(exe, "export", data_dir / "large.edb", "-o", tmp_path)
    assert out == b"" and err.startswith(f"quarrow: {data_dir / 'large.edb'}: ") and err.count("\n") == 1
    # A terminal on stderr gets the progress line; --quiet turns it off.
    import pty
    for quiet, expect in (([], True), (["--quiet"], False)):
        master, slave = pty.openpty()
        try:
            p = subprocess.run([exe, "export", data_dir / "large.edb", "-o", tmp_path / "p", "-j", "1", "--force",
                                *quiet],
                               stdout=subprocess.DEVNULL, stderr=slave, timeout=300)
            os.close(slave)
            chunks = []
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                chunks.append(chunk)
        finally:
            os.close(master)
        assert p.returncode == 0
        assert (b"pages" in b"".join(chunks)) == expect


# ---- Shell completions: the commands and options the program has ------------------------

def help_options(exe, command: str) -> set[str]:
    import re
    text = subprocess.run([exe, command, "--help"], capture_output=True, text=True).stdout
    usage_and_list = [line for line in text.splitlines() if line.startswith(("usage", " "))]
    return set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", "\n".join(usage_and_list))) - {"--help"}


def completion_arms(text: str) -> dict[str, str]:
    """Each `command)` arm of a completion script's case on the command, as its text."""
    import re
    body = text[text.index("case $cmd in"):]
    return {m.group(1): m.group(2) for m in re.finditer(r"^    ([a-z]+)\) (.*?);;", body, re.M | re.S)}


@pytest.mark.parametrize("script", ["quarrow.bash", "_quarrow"])
def test_completions_offer_what_the_program_takes(exe, script):
    import re
    root = Path(__file__).resolve().parents[2]
    text = (root / "completions" / script).read_text()
    listing = subprocess.run([exe, "--help"], capture_output=True, text=True).stdout
    commands = re.findall(r"^  ([a-z]+)  ", listing.split("commands:")[1], re.M)
    arms = completion_arms(text)
    assert sorted(arms) == sorted(commands)
    for command in commands:
        if command == "help":
            continue
        offered = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", arms[command])) - {"--help"}
        assert offered == help_options(exe, command), command
