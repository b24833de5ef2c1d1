"""The `quarrow` program as a new user meets it: the grid on a terminal, carving
limits that are said aloud, name hints, `help`, export summaries, refusals and
folders for same-named inputs, `python -m quarrow`, and the type stub."""

from __future__ import annotations

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from quarrow import EseDatabase
from test_cli import exe, run, tree  # noqa: F401  (exe is a fixture)

REPO = Path(__file__).resolve().parents[2]
NULL = "\u2205"
ELLIPSIS = "\u2026"


def run_on_pty(args, env=None):
    """Runs the program with stdout and stderr on one terminal; returns (status, text)."""
    import pty
    master, slave = pty.openpty()
    try:
        p = subprocess.Popen(list(map(str, args)), stdout=slave, stderr=slave, env=env)
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
        status = p.wait(timeout=300)
    finally:
        os.close(master)
    # The terminal turns "\n" into "\r\n".
    return status, b"".join(chunks).decode().replace("\r\n", "\n")


def grid_lines(text):
    # On a terminal a progress line may have been drawn and cleared before the grid
    # (carriage return and erase-line sequences): what is left after them counts.
    lines = (re.sub(r"^.*(\r|\x1b\[[0-9;]*K)", "", line) for line in text.splitlines())
    return [line for line in lines if line.startswith(("|", "+"))]


# ---- The grid ------------------------------------------------------------------------------

@pytest.fixture
def grid_db(write_db):
    from esefile import LONG, LONG_BINARY, TEXT, Column, Table
    long_text = "quarterly report " * 5
    rows = [{"Id": i, "Name": long_text if i == 2 else f"n{i}\tx" if i else None,
             "Blob": bytes(range(20)) if i == 1 else b"\x01\x02" if i == 3 else None} for i in range(40)]
    return write_db([Table("T", [Column("Id", LONG, 1), Column("Name", TEXT, 128, codepage=1200),
                                 Column("Blob", LONG_BINARY, 256)], rows)])


def test_grid_is_aligned_and_shows_values_for_reading(exe, grid_db):
    out, err = run(exe, "dump", "--format", "table", grid_db, "T", "--limit", 5)
    text = out.decode()
    lines = grid_lines(text)
    assert len(lines) == len(text.splitlines()) == 9 and err == ""   # rule, header, rule, 5 rows, rule
    assert len({len(line) for line in lines}) == 1                    # every line as wide (code points)
    assert [c.strip() for c in lines[1].strip("|").split("|")] == ["Id", "Name", "Blob"]
    rows = [[c.strip() for c in line.strip("|").split("|")] for line in lines[3:8]]
    assert rows[0] == ["0", NULL, NULL]
    assert rows[1] == ["1", "n1 x", f"0001020304050607{ELLIPSIS} (20 bytes)"]  # tab shown as a space
    assert rows[2][1] == ("quarterly report " * 3)[:39] + ELLIPSIS       # cut to 40 code points
    assert rows[3][2] == "0102"
    assert lines[4].startswith("|  1 |")                                  # numbers aligned right
    # Not a terminal: every record unless --limit says otherwise.
    out, _ = run(exe, "dump", "-f", "table", grid_db, "T")
    assert len(grid_lines(out.decode())) == 40 + 4


def test_grid_on_a_terminal_shows_a_screenful(exe, grid_db):
    env = dict(os.environ, LINES="20")
    status, text = run_on_pty([exe, "dump", "--format", "table", grid_db, "T"], env)
    assert status == 0
    assert len(grid_lines(text)) == 14 + 4
    assert "quarrow: the first 14 records; --limit N shows more" in text
    status, text = run_on_pty([exe, "dump", "--format", "table", "--limit", 30, grid_db, "T"], env)
    assert len(grid_lines(text)) == 30 + 4 and "--limit N shows more" not in text


def test_unknown_format_names_the_choices(exe, grid_db, tmp_path):
    assert "(expected: jsonl, csv, table)" in run(exe, "dump", "-f", "grid", grid_db, "T", check=2)[1]
    # export writes files for programs: no grid.
    assert "(expected: jsonl, csv)" in run(exe, "export", grid_db, "-o", tmp_path, "-f", "table", check=2)[1]


# ---- Carving limits ---------------------------------------------------------------------------

def test_carving_cut_is_reported_and_zero_lifts_the_limit(exe, data_dir):
    path = data_dir / "srum-small.dat"
    every = EseDatabase(str(path)).carve_utf16le_strings_scoped("all", min_chars=3, max_hits=10**9)
    assert len(every) > 20
    note = f"quarrow: {path}: carving stopped at 20 hits (--max-hits); -k N for more, -k 0 for no limit\n"
    for jobs in (1, 2):
        out, err = run(exe, "carve", "--scope", "all", "-m", 3, "-k", 20, "-j", jobs, "-q", path)
        assert [json.loads(line) for line in out.splitlines()] == every[:20] and err == note
        out, err = run(exe, "carve", "--scope", "all", "-m", 3, "-k", 0, "-j", jobs, path)
        assert [json.loads(line) for line in out.splitlines()] == every and err == ""
        # Exactly as many hits as the limit: nothing was cut.
        out, err = run(exe, "carve", "--scope", "all", "-m", 3, "-k", len(every), "-j", jobs, path)
        assert out.count(b"\n") == len(every) and err == ""


# ---- Names ---------------------------------------------------------------------------------

def test_unknown_names_get_the_closest_ones(exe, data_dir, tmp_path):
    path = data_dir / "srum-small.dat"
    _, err = run(exe, "dump", path, "sruDbIdMapTable", check=1)
    assert err == (f"quarrow: {path}: sruDbIdMapTable: Table not found: sruDbIdMapTable\n"
                   "quarrow: did you mean 'SruDbIdMapTable'?\n")
    _, err = run(exe, "schema", path, "SruDbIdMapTabel", check=1)
    assert err.endswith("quarrow: did you mean 'SruDbIdMapTable'?\n")
    _, err = run(exe, "export", path, "-o", tmp_path, "-q", "--tables", "MSysObject", check=1)
    assert "did you mean 'MSysObjects'" in err
    _, err = run(exe, "dump", path, "Completely different", check=1)
    assert "did you mean" not in err
    _, err = run(exe, "dupm", check=2)
    assert err.startswith("quarrow: unknown command 'dupm'; did you mean 'dump'?\n")


def test_table_lists_are_trimmed(exe, data_dir, tmp_path):
    run(exe, "export", data_dir / "srum-small.dat", "-o", tmp_path, "-q",
        "--tables", " SruDbIdMapTable ,\tMSysLocales")
    assert sorted(tree(tmp_path)) == ["MSysLocales.jsonl", "SruDbIdMapTable.jsonl"]


def test_help_command(exe):
    usage, _ = run(exe, "--help")
    assert run(exe, "help")[0] == usage and b"\n  help " in usage
    for command in ("info", "dump", "export", "carve", "verify", "recover"):
        assert run(exe, "help", command)[0] == run(exe, command, "--help")[0]
    assert run(exe, "help", "help")[0].startswith(b"usage: quarrow help")
    assert "unknown command 'dmup'; did you mean 'dump'?" in run(exe, "help", "dmup", check=2)[1]


def test_info_table_list_is_aligned(exe, data_dir):
    out, _ = run(exe, "info", "--count", data_dir / "srum-small.dat")
    rows = [line for line in out.decode().splitlines() if line.endswith(" records")]
    assert len(rows) == 12
    assert len({line.index(" columns") for line in rows}) == 1
    assert len({len(line) for line in rows}) == 1
    assert re.fullmatch(r"    SruDbIdMapTable +3 columns, +106 records", rows[4])


# ---- Export --------------------------------------------------------------------------------

def test_export_summary_and_refusal_to_replace(exe, data_dir, tmp_path):
    path = data_dir / "srum-small.dat"
    out, err = run(exe, "export", path, "-o", tmp_path / "out")
    written = tree(tmp_path / "out")
    records = sum(len(EseDatabase(str(path)).read_table(t)) for t in EseDatabase(str(path)).get_tables())
    assert out == b""
    assert re.fullmatch(rf"quarrow: {re.escape(str(path))}: 12 tables, {records} records, [0-9.]+ (KiB|MiB) "
                        rf"in [0-9.]+ s -> {re.escape(str(tmp_path / 'out'))}\n", err)
    # Again: the first existing file is named, nothing is touched.
    (tmp_path / "out" / "MSysObjects.jsonl").write_bytes(b"mine")
    _, err = run(exe, "export", path, "-o", tmp_path / "out", check=2)
    assert f"output file '{tmp_path / 'out' / 'MSysObjects.jsonl'}' exists; --force replaces it" in err
    assert (tmp_path / "out" / "MSysObjects.jsonl").read_bytes() == b"mine"
    _, err = run(exe, "export", path, "-o", tmp_path / "out", "--force", "--quiet")
    assert err == "" and tree(tmp_path / "out") == written


@pytest.mark.parametrize("inputs, folders", [
    (["ev/pc1/SRUDB.dat", "ev/pc2/SRUDB.dat"], ["pc1_SRUDB.dat", "pc2_SRUDB.dat"]),
    (["a/x/SRUDB.dat", "b/x/SRUDB.dat", "c/basic.edb"], ["a_x_SRUDB.dat", "b_x_SRUDB.dat", "basic.edb"]),
    (["pc1/SRUDB.dat", "deep/pc2/SRUDB.dat", "deep/pc3/SRUDB.dat"],
     ["pc1_SRUDB.dat", "pc2_SRUDB.dat", "pc3_SRUDB.dat"]),
], ids=["siblings", "deeper", "uneven"])
def test_same_named_inputs_get_path_suffix_folders(exe, data_dir, tmp_path, monkeypatch, inputs, folders):
    monkeypatch.chdir(tmp_path)
    for name in inputs:
        Path(name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(data_dir / "basic.edb", name)
    run(exe, "export", *inputs, "-o", "out", "-q")
    assert sorted(p.name for p in Path("out").iterdir()) == sorted(folders)
    single = tmp_path / "single"
    EseDatabase(inputs[0]).export_all(str(single))
    for folder in folders:
        assert tree(Path("out") / folder) == tree(single)


def test_same_file_twice_is_refused(exe, data_dir, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    shutil.copyfile(data_dir / "basic.edb", "basic.edb")
    _, err = run(exe, "export", "basic.edb", "./basic.edb", "-o", "out", check=2)
    assert "'./basic.edb' is given twice" in err and not Path("out").exists()


# ---- python -m quarrow ------------------------------------------------------------------------

def test_python_dash_m_runs_the_program(exe, data_dir):
    for args in (["--version"], ["info", "--json", data_dir / "basic.edb"], ["dump", data_dir / "basic.edb", "Nope"]):
        direct = subprocess.run([exe, *map(str, args)], capture_output=True)
        module = subprocess.run([sys.executable, "-m", "quarrow", *map(str, args)], capture_output=True)
        assert (module.returncode, module.stdout, module.stderr) == (direct.returncode, direct.stdout, direct.stderr)


# ---- The type stub ----------------------------------------------------------------------------

def readme_examples() -> str:
    """The README's examples of the module's own API (those without third-party imports)."""
    blocks = re.findall(r"```python\n(.*?)```", (REPO / "README.md").read_text(), re.S)
    own = [b for b in blocks if "from quarrow import EseDatabase" in b and "import duckdb" not in b]
    # The forensic block continues the first one inside its with statement.
    return own[0] + "".join(b for b in blocks if b.startswith("    db.verify()"))


def test_stub_passes_mypy_strict_on_the_readme(tmp_path):
    if os.environ.get("QUARROW_REQUIRE_MYPY") == "1":
        import mypy.api as mypy  # scripts/test.sh installs it: no silent skip there
    else:
        mypy = pytest.importorskip("mypy.api")
    good = tmp_path / "readme_example.py"
    good.write_text(readme_examples() + "\nimport pathlib\nEseDatabase(pathlib.Path('x.edb'))\n")
    stdout, stderr, status = mypy.run(["--strict", "--no-incremental", "--cache-dir", os.devnull, str(good)])
    assert status == 0, stdout + stderr
    bad = tmp_path / "wrong.py"
    bad.write_text("from quarrow import EseDatabase\nEseDatabase(b'x.edb')\n"
                   "n: int = EseDatabase('x').carve_utf16le_strings()[0]['text']\n")
    stdout, _, status = mypy.run(["--strict", "--no-incremental", "--cache-dir", os.devnull, str(bad)])
    assert status == 1 and stdout.count("error:") == 2, stdout


@pytest.mark.parametrize("args", [
    ["carve", "--scope", "all", "-k", "0", "-j", "1"],
    ["dump", "--format", "table", "--limit", "100000"],
], ids=["carve", "grid"])
def test_progress_on_a_terminal_never_mixes_with_the_output(exe, data_dir, args):
    """Progress is drawn on the terminal while reading and cleared before anything
    else is written there: every output line starts clean."""
    path = data_dir / "large.edb"
    table = EseDatabase(str(path)).get_tables()[-1]
    full = [*args, path] + ([table] if args[0] == "dump" else [])
    status, text = run_on_pty([exe, *full])
    direct = subprocess.run([exe, *map(str, full)], capture_output=True).stdout.decode()
    assert status == 0 and " pages " in text
    # Each drawing starts with a carriage return and ends clearing the rest of the
    # line; the last is cleared ("\r" + clear) before the output.
    drawn = re.sub(r"\r[^\r\n]*? left\x1b\[K", "", text)
    assert drawn.startswith("\r\x1b[K") and drawn.replace("\r\x1b[K", "", 1) == direct


def test_stub_lists_every_method_of_the_class():
    """A method added to the extension without its stub would be invisible to type checkers."""
    stub = (REPO / "python" / "quarrow" / "__init__.pyi").read_text()
    import quarrow
    classes = {name: stub[stub.index(f"class {name}"):] for name in ("EseDatabase", "EseLogs")}
    for name, body in classes.items():
        body = body[:body.find("\nclass ", 1) if "\nclass " in body[1:] else len(body)]
        stubbed = set(re.findall(r"def (\w+)\(", body))
        public = {n for n in vars(getattr(quarrow, name)) if not n.startswith("_") or n in ("__enter__", "__exit__")}
        assert public <= stubbed, (name, sorted(public - stubbed))
