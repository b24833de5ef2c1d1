"""What the tool and the module say at the edges of their input: files cut short,
views written as tables are, values that say what they are, dirty databases, the
notes on errors, carving's owner map, temporary databases, the type stub and
`python -m quarrow` from a --target install."""
from __future__ import annotations

import datetime as dt
import json
import os
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import pyarrow as pa
import pytest
from esefile import BINARY, LONG, TEXT, Column, EseFile, Table, patch
from esefile.checksum import header_checksum
from quarrow import EseDatabase
from test_cli import exe, run  # noqa: F401  (the fixture)
from test_profiles import conversion_db, filetime, utc

REPO = Path(__file__).resolve().parents[2]
PAGE = 4096


def written(space_tree=True, rows=400) -> tuple[EseFile, bytes]:
    db = EseFile()
    db.space_tree = space_tree
    db.add_table(Table("T", [Column("Id", LONG, 1), Column("Text", TEXT, 128)],
                       [{"Id": i, "Text": "x" * 200} for i in range(rows)]))
    return db, db.build()


# ---- Truncation ------------------------------------------------------------------------

@pytest.fixture
def cut(tmp_path):
    """A written database cut to half its pages (on a page boundary): the catalog still
    opens, the table's later leaves are gone."""
    _, data = written()
    pages = len(data) // PAGE
    path = tmp_path / "cut.edb"
    path.write_bytes(data[:PAGE * (pages // 2)])
    return str(path), pages - 2, pages // 2 - 2


def test_a_cut_copy_is_called_truncated_by_every_reader(exe, cut):  # noqa: F811
    path, owned, held = cut
    line = f"truncated: the database owns {owned} pages, the file holds {held}"
    out, _ = run(exe, "verify", path, check=1)
    assert f"{path}: truncated," in out.decode() and line in out.decode()
    out, _ = run(exe, "verify", "--json", path, check=1)
    assert json.loads(out)["truncated"] == {"owned_pages": owned, "file_pages": held}
    out, err = run(exe, "info", path, check=1)
    assert f"  truncated:      the database owns {owned} pages" in out.decode() and line in err
    _, err = run(exe, "dump", path, "T", check=1)
    assert re.search(rf": T: Error reading record: Invalid page number: \d+ \(the file is {line}\)$", err.strip())

    db = EseDatabase(path)
    assert db.verify()[-1] == {"page": held + 1, "problem": line, "stored": 0, "computed": 0, "bytes_present": 0}
    assert db.header_info()["truncated"] == {"owned_pages": owned, "file_pages": held}
    for read in (db.read_table, lambda name: list(db.iter_table(name))):
        with pytest.raises(OSError) as info:
            read("T")
        assert info.value.args[0].startswith("Error reading record: Invalid page number: ")  # as ever
        assert info.value.__notes__ == ["table: T", f"the file is {line}"]


@pytest.mark.parametrize("space_tree", [True, False], ids=["space tree", "no space tree"])
def test_a_whole_file_is_not_truncated(exe, write_db, space_tree):  # noqa: F811
    _, data = written(space_tree)
    path = write_db(data)
    out, _ = run(exe, "verify", "--json", path)
    assert "truncated" not in json.loads(out)
    assert EseDatabase(path).header_info()["truncated"] is None


@pytest.mark.parametrize("shelved, truncated", [
    ([], True),                      # owned past the end: pages are missing
    ([(0, 10)], False),              # the run past the end is shelved: the engine shrank the file
    ([(-4, 6), (0, 4)], False),      # adjacent runs, in any order
    ([(0, 12)], False),              # a run reaching into the file
    ([(-5, 5)], True),               # a shelved run below the top leaves the top owned
], ids=["none", "exact", "adjacent", "into the file", "below"])
def test_shelved_pages_past_the_end_are_no_truncation(write_db, shelved, truncated):
    db, data = written(rows=20)
    last = len(data) // PAGE - 2
    db.space_owned_extra = 10
    db.space_shelved = [(last + 10 + end, count) for end, count in shelved]
    info = EseDatabase(write_db(db.build())).header_info()["truncated"]
    assert (info == {"owned_pages": last + 10, "file_pages": last}) if truncated else info is None


def test_a_real_file_cut_with_head(exe, data_dir, tmp_path):  # noqa: F811
    source = data_dir / "srum-small.dat"
    cut = tmp_path / "half.dat"
    size = source.stat().st_size // 2 // PAGE * PAGE
    subprocess.run(["head", "-c", str(size), str(source)], stdout=cut.open("wb"), check=True)
    out, _ = run(exe, "verify", cut, check=1)
    held = size // PAGE - 2
    assert re.search(rf"truncated: the database owns \d+ pages, the file holds {held}\n", out.decode())
    # The whole file (some of its pages fail their checksums) is not truncated.
    whole = subprocess.run([exe, "verify", str(source)], capture_output=True).stdout
    assert b"truncated" not in whole


# ---- Views in the tool ----------------------------------------------------------------

@pytest.fixture
def view_db(write_db, tmp_path):
    return conversion_db(write_db, tmp_path, {"name": "t", "from": "ll", "convert": "filetime", "raw": True},
                         [filetime(utc(2022, 2, 8, 1, 2, 3)), filetime(utc(2023, 1, 1))]), tmp_path / "test.json"


def test_export_views_refuses_existing_files_and_sums_up(exe, view_db, tmp_path):  # noqa: F811
    db, profile = view_db
    out = tmp_path / "out"
    _, err = run(exe, "export", "--views", "--profile", profile, "-o", out, db.path)
    assert re.fullmatch(rf"quarrow: {re.escape(db.path)}: 1 view, 2 rows, \d+ bytes in [\d.]+ s -> {out}\n", err)
    written_bytes = int(re.search(r"(\d+) bytes", err).group(1))
    assert written_bytes == (out / "v.jsonl").stat().st_size
    (out / "v.jsonl").write_text("mine")
    _, err = run(exe, "export", "--views", "--profile", profile, "-o", out, db.path, check=2)
    assert f"output file '{out / 'v.jsonl'}' exists; --force replaces it" in err
    assert (out / "v.jsonl").read_text() == "mine"
    run(exe, "export", "--views", "--force", "-q", "--profile", profile, "-o", out, db.path)
    assert (out / "v.jsonl").read_text().count("\n") == 2


def test_columns_and_the_grid_on_views(exe, view_db, tmp_path):  # noqa: F811
    db, profile = view_db
    out, _ = run(exe, "dump", "--view", "v", "--profile", profile, "--columns", "t_raw", db.path)
    assert [json.loads(line) for line in out.splitlines()] == [
        {"t_raw": filetime(utc(2022, 2, 8, 1, 2, 3))}, {"t_raw": filetime(utc(2023, 1, 1))}]
    run(exe, "export", "--views", "-q", "--profile", profile, "--columns", "t", "-o", tmp_path / "o", db.path)
    assert json.loads((tmp_path / "o" / "v.jsonl").read_text().splitlines()[0]) == {"t": "2022-02-08T01:02:03Z"}
    _, err = run(exe, "export", "--views", "--profile", profile, "--columns", "nope", "-o", tmp_path / "p", db.path,
                 check=1)
    assert err == "quarrow: Column not found: nope\n" and not (tmp_path / "p").exists()
    out, _ = run(exe, "dump", "--view", "v", "--profile", profile, "--format", "table", "--limit", "1", db.path)
    lines = out.decode().splitlines()
    assert lines[1].split("|")[1:3] == [" t                    ", " t_raw              "]
    assert "2022-02-08T01:02:03Z" in lines[3] and len(lines) == 5


# ---- Values that say what they are --------------------------------------------------------

def test_a_local_time_has_no_zone_anywhere(exe, write_db, tmp_path):  # noqa: F811
    stored = filetime(utc(2022, 2, 8, 1, 2, 3))
    db = conversion_db(write_db, tmp_path, {"name": "t", "from": "ll", "convert": "filetime", "local": True},
                       [stored])
    assert db.read_view("v") == [{"t": dt.datetime(2022, 2, 8, 1, 2, 3)}]
    assert pa.table(db.arrow_view("v")).schema.field("t").type == pa.timestamp("us")
    out, _ = run(exe, "dump", "--view", "v", "--profile", tmp_path / "test.json", "-f", "csv", db.path)
    assert out == b"t\r\n2022-02-08T01:02:03\r\n"
    out, _ = run(exe, "views", "--profile", tmp_path / "test.json", db.path)
    assert "t  timestamp (local)" in out.decode()


def srum_db(write_db, timeline_rows):
    from esefile import DATETIME, LONG_BINARY, UNSIGNED_BYTE
    ids = Table("SruDbIdMapTable", [Column("IdType", UNSIGNED_BYTE, 1), Column("IdIndex", LONG, 2),
                                    Column("IdBlob", LONG_BINARY, 256)],
                records=[{"IdType": 0, "IdIndex": 1, "IdBlob": "a.exe\0".encode("utf-16-le")},
                         {"IdType": 3, "IdIndex": 2, "IdBlob": bytes([1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0])}])
    timeline = Table("{5C8CF1C7-7257-4F13-B223-970EF5939312}",
                     [Column("AutoIncId", LONG, 1), Column("TimeStamp", DATETIME, 2), Column("AppId", LONG, 3),
                      Column("UserId", LONG, 4), Column("DurationMS", LONG, 5), Column("SpanMS", LONG, 6)],
                     records=[{"AutoIncId": k, "TimeStamp": dt.datetime(2021, 11, 16), "AppId": 1, "UserId": 2,
                               "DurationMS": d, "SpanMS": s} for k, (d, s) in enumerate(timeline_rows)])
    return write_db([ids, Table("SruDbCheckpointTable", [Column("CheckpointId", LONG, 1)]), timeline])


def test_srum_milliseconds_stay_milliseconds_and_by_design_nulls_are_no_failures(exe, write_db):  # noqa: F811
    path = srum_db(write_db, [(2929251, -5000), (10, 7)])
    rows = EseDatabase(path).read_view("app_timeline", columns=["DurationMS", "SpanMS"])
    assert rows == [{"DurationMS": 2929251, "SpanMS": -5000}, {"DurationMS": 10, "SpanMS": 7}]
    # UserName is null on the application's row by design: nothing failed to convert.
    out, err = run(exe, "dump", "--view", "id_map", path)
    assert [json.loads(line)["UserName"] for line in out.splitlines()] == [None, "NT AUTHORITY\\SYSTEM"]
    assert "could not be converted" not in err


def test_one_failed_conversion_is_counted_in_the_singular(exe, write_db, tmp_path):  # noqa: F811
    db = conversion_db(write_db, tmp_path, {"name": "t", "from": "ll", "convert": "filetime"},
                       [struct.pack("<Q", 2**64 - 1), 5])
    _, err = run(exe, "dump", "--view", "v", "--profile", tmp_path / "test.json", db.path)
    assert err.endswith(": v: 1 value could not be converted and is null\n")


# ---- Dirty databases ---------------------------------------------------------------------

def dirty(data: bytes) -> bytes:
    header = bytearray(data[:PAGE])
    struct.pack_into("<I", header, 52, 2)  # dirty shutdown
    struct.pack_into("<I", header, 0, header_checksum(bytes(header)))
    return bytes(header) + bytes(header) + data[2 * PAGE:]


@pytest.mark.parametrize("args", [
    ["dump", "{db}", "T", "-n", "1"], ["export", "{db}", "-o", "{out}"], ["views", "{db}"],
    ["recover", "{db}", "T"], ["carve", "{db}"], ["tables", "{db}"], ["export", "--views", "{db}", "-o", "{out}"],
], ids=["dump", "export", "views", "recover", "carve", "tables", "export-views"])
def test_a_dirty_database_is_named_once_by_every_reader(exe, write_db, tmp_path, args):
    path = write_db(dirty(written(rows=20)[1]))
    argv = [a.format(db=path, out=tmp_path / "out") for a in args]
    p = subprocess.run([exe, *argv], capture_output=True, text=True, timeout=120)
    warning = f"quarrow: {path}: warning: the database was not shut down cleanly"
    assert p.stderr.count(warning) == 1 and "see 'quarrow logs FOLDER --db FILE'" in p.stderr
    clean = subprocess.run([exe, *[a.replace(path, write_db(written(rows=20)[1])) for a in argv]],
                           capture_output=True, text=True, timeout=120)
    assert "not shut down cleanly" not in clean.stderr


def test_info_keeps_its_own_dirty_warning(exe, write_db):  # noqa: F811
    path = write_db(dirty(written(rows=20)[1]))
    _, err = run(exe, "info", path)
    assert err.count("not shut down cleanly") == 1 and "quarrow logs" not in err


# ---- Decoded recovery and the notes on errors ------------------------------------------

def test_recover_decoded_writes_records_as_dump_decoded(exe, write_db):  # noqa: F811
    from esefile import DATETIME
    db = EseFile()
    db.add_table(Table("T", [Column("Id", LONG, 1), Column("When", DATETIME, 2)],
                       [{"Id": 1, "When": dt.datetime(2021, 11, 16, 19, 18)}]))
    data = bytearray(db.build())
    leaf = db.table_leaf_pages("T")[0]
    # Flag the only record deleted (tag 1's flag bits: 0x2 in the top three bits).
    tag_at = db.page_offset(leaf) + PAGE - 8
    word = struct.unpack_from("<H", data, tag_at + 2)[0]
    struct.pack_into("<H", data, tag_at + 2, word | (0x2 << 13))
    path = write_db(bytes(data))
    raw, _ = run(exe, "recover", "-q", path, "T")
    decoded, _ = run(exe, "recover", "-q", "--decoded", path, "T")
    dumped = json.loads(run(exe, "dump", "--decoded", write_db(db.build()), "T")[0])
    assert json.loads(decoded)["record"] == dumped == {"Id": 1, "When": "2021-11-16T19:18:00"}
    assert isinstance(json.loads(raw)["record"]["When"], int)


def test_table_not_found_suggests_names_in_the_module_as_in_the_tool(exe, write_db):  # noqa: F811
    path = write_db(written(rows=3)[1])
    db = EseDatabase(path)
    for call in (lambda: db.read_table("t"), lambda: db.iter_table(table_name="t"),
                 lambda: db.arrow_table("t"), lambda: db.recover_records("t")):
        with pytest.raises(ValueError) as info:
            call()
        assert info.value.args == ("Table not found: t",) and info.value.__notes__ == ["did you mean 'T'?"]
    _, err = run(exe, "recover", path, "t", check=1)
    assert err.endswith("quarrow: did you mean 'T'?\n")


# ---- Carving's owner map and temporary databases -----------------------------------------

def test_a_page_named_by_another_tree_keeps_its_owner(write_db):
    db = EseFile()
    db.checksums = False
    db.add_table(Table("A", [Column("Id", LONG, 1)], [{"Id": 1}]))
    db.add_table(Table("B", [Column("Id", LONG, 1), Column("Blob", BINARY, 128)],
                       [{"Id": 1, "Blob": "needle in B".encode("utf-16-le")}]))
    data = db.build()
    # A's only leaf links on to B's root, whose header names B: A's walk refuses it.
    data = patch(data, db.page_offset(db.table_leaf_pages("A")[0]) + 20,
                 struct.pack("<I", db.table_leaf_pages("B")[0]))
    hits = EseDatabase(write_db(data)).carve_utf16le_strings_scoped("all", needle="needle")
    assert [h["table"] for h in hits] == ["B"]


def test_a_temporary_database_has_no_catalog_and_no_checksums(exe, write_db):  # noqa: F811
    db = EseFile()
    db.checksums = False
    db.add_table(Table("T", [Column("Id", LONG, 1)], [{"Id": 1}]))
    data = db.build()
    data = patch(data, db.page_offset(4) + 24, struct.pack("<I", 9))  # page 4 belongs to object 9
    header = bytearray(data[:PAGE])
    struct.pack_into("<I", header, 0, header_checksum(bytes(header)))
    path = write_db(bytes(header) * 2 + data[2 * PAGE:])
    assert EseDatabase(path).get_tables() == []
    out, _ = run(exe, "info", path)
    assert "  catalog:        none (its root page 4 belongs to object 9" in out.decode()
    out, _ = run(exe, "verify", path)
    text = out.decode()
    assert text.startswith(f"{path}: no checksums,") and text.count("\n") == 2
    assert "the pages carry no checksums" in text
    assert EseDatabase(path).verify() == [
        {"page": 1, "problem": "no checksums: every stored page has 0", "stored": 0, "computed": 0}]


# ---- python -m quarrow from a --target install --------------------------------------------

def test_python_dash_m_finds_the_program_of_a_target_install(tmp_path):
    import importlib.util
    main = Path(importlib.util.find_spec("quarrow").submodule_search_locations[0]) / "__main__.py"
    target = tmp_path / "target"
    (target / "quarrow").mkdir(parents=True)
    (target / "quarrow" / "__init__.py").write_text("")
    shutil.copy(main, target / "quarrow" / "__main__.py")
    (target / "bin").mkdir()
    program = target / "bin" / "quarrow"
    program.write_text("#!/bin/sh\necho \"target program: $*\"\n")
    program.chmod(0o755)
    env = {**os.environ, "PYTHONPATH": str(target)}
    p = subprocess.run([sys.executable, "-m", "quarrow", "--version"], capture_output=True, text=True, env=env,
                       cwd=tmp_path, timeout=60)
    assert p.stdout == "target program: --version\n", p.stderr


# ---- The type stub -----------------------------------------------------------------------

def stub_signatures() -> dict[str, list[str]]:
    """Each stubbed method's parameter names (with '*' for the keyword-only marker)."""
    text = (REPO / "python" / "quarrow" / "__init__.pyi").read_text()
    out: dict[str, list[str]] = {}
    for cls in re.finditer(r"^class (\w+).*?(?=^\S|\Z)", text, re.S | re.M):
        for m in re.finditer(r"def (\w+)\(\s*self(.*?)\)\s*->", cls.group(0), re.S):
            flat = re.sub(r"\[[^\[\]]*\]", "", re.sub(r"\[[^\[\]]*\]", "", m.group(2)))  # no commas of types
            params = [p.split(":")[0].split("=")[0].strip() for p in flat.split(",")]
            out[f"{cls.group(1)}.{m.group(1)}"] = [p for p in params if p]
    return out


def test_the_stub_carries_every_parameter_the_module_takes():
    import quarrow
    stub = stub_signatures()
    checked = 0
    for cls in (quarrow.EseDatabase, quarrow.EseLogs):
        for name, member in vars(cls).items():
            signature = getattr(member, "__text_signature__", None)
            if not signature or name.startswith("__"):
                continue
            params = [p.strip().split("=")[0] for p in signature.strip("()").split(",")[1:]]
            assert stub.get(f"{cls.__name__}.{name}") == [p for p in params if p], name
            checked += 1
    assert checked >= 20


def readme_blocks() -> list[str]:
    blocks = re.findall(r"```python\n(.*?)```", (REPO / "README.md").read_text(), re.S)
    # A block that starts indented continues the one before it (inside its with statement).
    joined: list[str] = []
    for block in blocks:
        if block.startswith(" ") and joined:
            joined[-1] += block
        else:
            joined.append(block)
    return joined


MYPY_CONFIG = """[mypy]
strict = True
ignore_missing_imports = True
[mypy-dask.*,distributed.*,quarrow_fleet.*]
follow_imports = skip
"""


@pytest.mark.parametrize("index", range(len(readme_blocks())))
def test_every_readme_example_passes_mypy_strict(tmp_path, index):
    if os.environ.get("QUARROW_REQUIRE_MYPY") == "1":
        import mypy.api as mypy  # scripts/test.sh installs it: no silent skip there
    else:
        mypy = pytest.importorskip("mypy.api")
    example = tmp_path / f"example{index}.py"
    block = readme_blocks()[index]
    # Some examples run over "paths", the files the reader has at hand.
    if "paths" in block and not re.search(r"^paths\b.*=", block, re.M):
        block = "paths: list[str] = []\n" + block
    example.write_text(block)
    config = tmp_path / "mypy.ini"
    config.write_text(MYPY_CONFIG)
    stdout, stderr, status = mypy.run(["--config-file", str(config), "--no-incremental", "--cache-dir", os.devnull,
                                       str(example)])
    assert status == 0, stdout + stderr

