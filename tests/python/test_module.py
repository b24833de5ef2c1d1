"""The module and the EseDatabase object: surface, construction, properties,
representation, context manager and the rules every member follows."""

from __future__ import annotations

import errno
import importlib
import os
import pathlib
import shutil
import struct
import subprocess
import sys

import pytest

import quarrow
from esefile import LONG, Column, EseFile, Table
from quarrow import EseDatabase

PAGE = 4096


# ---- Module -------------------------------------------------------------------------

def test_module_attributes():
    assert quarrow.__version__ == "0.1.8"
    assert quarrow.__all__ == ["EseDatabase", "__version__"]
    assert quarrow.__doc__.startswith("Read-only reader of ESE (Extensible Storage Engine) database files.\n")
    assert EseDatabase.__name__ == "EseDatabase"
    assert quarrow.EseDatabase is EseDatabase


def test_star_import_binds_exactly_the_public_names():
    namespace: dict = {}
    exec("from quarrow import *", namespace)
    assert sorted(set(namespace) - {"__builtins__"}) == ["EseDatabase", "__version__"]


def test_initialising_again_returns_the_same_module():
    saved = sys.modules.pop("quarrow")
    try:
        again = importlib.import_module("quarrow")
    finally:
        sys.modules["quarrow"] = saved
    assert again is saved
    assert again.EseDatabase is EseDatabase


def test_sub_interpreters_are_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        folder = os.path.dirname(quarrow.__file__)
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interp, f"import sys; sys.path.insert(0, {folder!r}); import quarrow")
    finally:
        interpreters.destroy(interp)


def test_shared_library_exports_only_the_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    out = subprocess.run([nm, "-D", "--defined-only", quarrow.__file__], capture_output=True, text=True,
                         check=True).stdout
    assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_quarrow"]
    if sys.platform.startswith("linux"):
        assert quarrow.__file__.endswith(".abi3.so")


# ---- Documentation ----------------------------------------------------------------------

CLASS_DOC = (
    "Python wrapper for ESE database.\n\nThis class provides access to Microsoft ESE databases from Python."
    "\n\nExample:\n    >>> from quarrow import EseDatabase\n    >>> db = EseDatabase(\"Current.mdb\")\n"
    "    >>> tables = db.get_tables()\n    >>> records = db.read_table(\"MSysObjects\")\n\nArgs:\n"
    "    path: The database file (str or os.PathLike); it is only read, never written\n"
    "    profiles: Profile files (a list of str or os.PathLike) tried before the built-in\n"
    "        ones; None for the built-in profiles only\n"
    "    logs: A folder of transaction logs (str or os.PathLike; True for the database\n"
    "        file's own folder) to replay onto the database: every reading, view, export,\n"
    "        recovery and carving then sees the database as the engine's recovery would\n"
    "        leave it, computed in memory (the file and the logs are only read). None (the\n"
    "        default): the file as it is. replay_report() says what the replay did\n\nRaises:\n"
    "    FileNotFoundError: If there is no file at the path, or no log folder at logs\n"
    "    IOError: If the file is not an ESE database or cannot be read (an OSError\n"
    "        subclass for operating-system errors)\n"
    "    IOError: If the logs cannot be replayed onto the database (a missing generation,\n"
    "        logs of another database, a page the file lost a write of); the message\n"
    "        names the log position and the page\n"
    "    TypeError: If the path is not a str or os.PathLike (bytes paths included)\n"
    "    ValueError: If a profile file cannot be read")

METHOD_DOCS = [
    ("get_tables", "($self)",
     "Get a list of all table names in the database.\n\nReturns:\n    list[str]: List of table names"),
    ("read_table", "($self, table_name, *, columns=None)",
     "Read all records from a table.\n\nArgs:\n    table_name: Name of the table to read\n"
     "    columns: Names of the columns to read (default: all); rows hold them in the table's order\n\nReturns:\n"
     "    list[dict]: List of records as dictionaries\n\nRaises:\n    ValueError: If the table doesn't exist\n"
     "    IOError: If there's an error reading the table"),
    ("iter_table", "($self, table_name, *, columns=None)",
     "Iterate over the records of a table, one at a time.\n\nArgs:\n    table_name: Name of the table to read\n"
     "    columns: Names of the columns to read (default: all)\n\n"
     "Returns:\n    Iterator[dict]: Records as dictionaries, in the order read_table returns them\n\n"
     "Raises:\n    ValueError: If the table doesn't exist\n"
     "    IOError: If there's an error reading the table (raised by the iteration)"),
    ("get_table_schema", "($self, table_name)",
     "Get the schema (columns) for a table.\n\nArgs:\n    table_name: Name of the table\n\nReturns:\n"
     "    list[dict]: List of column information with 'name' (str), 'type' (str, e.g. 'Long'),\n"
     "    'id' (int) and 'nullable' (bool), in column id order\n\nRaises:\n"
     "    ValueError: If the table doesn't exist"),
    ("export_table", "($self, table_name, output_path, *, columns=None)",
     "Export a table to JSONL format.\n\nArgs:\n    table_name: Name of the table to export\n"
     "    output_path: Path to the output JSONL file (str or os.PathLike)\n    columns: Names of the columns to write (default: all)\n\nRaises:\n    ValueError: If the table doesn't exist\n"
     "    IOError: If there's an error writing the file"),
    ("export_all", "($self, output_dir, *, columns=None)",
     "Export all tables to JSONL files in a directory.\n\nArgs:\n    output_dir: Directory to write JSONL files to (str or os.PathLike)"
     "\n    columns: Names of the columns to write (default: all); a table without any of them\n"
     "      is not written, a name no table has is a ValueError\n\nRaises:\n    IOError: If there's an error creating the directory or writing files"),
    ("carve_utf16le_strings", "($self, needle=None, min_chars=6, max_hits=1000)", ...),
    ("carve_utf16le_strings_scoped", "($self, scope, needle=None, min_chars=6, max_hits=1000)", ...),
    ("__enter__", "($self)", "Context manager support: enter"),
    ("__exit__", "($self, _exc_type, _exc_value, _traceback)", "Context manager support: exit"),
]

PROPERTY_DOCS = [
    ("path", "Get the path to the database file.\n\nReturns:\n    str: Path to the database file"),
    ("page_size", "Get the database page size.\n\nReturns:\n    int: Page size in bytes"),
    ("total_pages", "Get the total number of pages in the database.\n\nReturns:\n    int: Total number of pages"),
]


def test_class_documentation():
    assert EseDatabase.__text_signature__ == "(path, profiles=None, logs=None)"
    assert EseDatabase.__doc__ == CLASS_DOC


@pytest.mark.parametrize("name, signature, doc", METHOD_DOCS, ids=[m[0] for m in METHOD_DOCS])
def test_method_documentation(name, signature, doc):
    method = getattr(EseDatabase, name)
    assert method.__text_signature__ == signature
    if doc is not ...:
        assert method.__doc__ == doc


def test_every_method_documents_arguments_result_and_errors():
    for name, method in vars(EseDatabase).items():
        if name.startswith("_") or not callable(method):
            continue
        doc = method.__doc__ or ""
        parameters = [p.strip().split("=")[0].lstrip("*") for p in method.__text_signature__.strip("()").split(",")]
        for parameter in parameters:
            if parameter not in ("$self", ""):
                assert f"    {parameter}:" in doc, (name, parameter)
        assert "Returns:" in doc or name in ("export_table", "export_all"), name
        assert "Raises:" in doc or name in ("get_tables", "replay_report"), name


@pytest.mark.parametrize("name, doc", PROPERTY_DOCS, ids=[p[0] for p in PROPERTY_DOCS])
def test_property_documentation_and_read_only(empty_db, name, doc):
    prop = EseDatabase.__dict__[name]
    assert isinstance(prop, type(EseDatabase.path))
    assert prop.__doc__ == doc
    db = EseDatabase(empty_db)
    before = getattr(db, name)
    with pytest.raises(AttributeError):
        setattr(db, name, 1)
    with pytest.raises(AttributeError):
        delattr(db, name)
    assert getattr(db, name) == before


# ---- Construction ---------------------------------------------------------------------

def test_path_by_position_or_keyword(empty_db):
    assert EseDatabase(empty_db).path == empty_db
    assert EseDatabase(path=empty_db).path == empty_db


def test_relative_path_is_kept_as_given(empty_db, monkeypatch):
    folder, name = os.path.split(empty_db)
    monkeypatch.chdir(folder)
    db = EseDatabase(name)
    assert db.path == name
    assert db.get_tables() == ["MSysObjects"]


class BytesPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path.encode()


@pytest.mark.parametrize("call", [
    lambda p: EseDatabase(p.encode()),
    lambda p: EseDatabase(None),
    lambda p: EseDatabase(path=p.encode()),
    lambda p: EseDatabase(bytearray(p.encode())),
    lambda p: EseDatabase(BytesPath(p)),
], ids=["bytes", "None", "bytes-keyword", "bytearray", "path-like-of-bytes"])
def test_path_must_be_str_or_path_like(empty_db, call):
    with pytest.raises(TypeError, match="argument 'path' must be str, not"):
        call(empty_db)


def test_path_like_paths(empty_db, tmp_path):
    db = EseDatabase(pathlib.Path(empty_db))
    assert db.path == empty_db and db.get_tables() == ["MSysObjects"]
    db.export_table("MSysObjects", tmp_path / "one.jsonl")
    db.export_all(output_dir=tmp_path / "all")
    assert (tmp_path / "all" / "MSysObjects.jsonl").read_bytes() == (tmp_path / "one.jsonl").read_bytes()
    with pytest.raises(FileNotFoundError, match=f"^Database file not found: {tmp_path / 'nope.edb'}$"):
        EseDatabase(tmp_path / "nope.edb")
    # An __fspath__ that raises passes its error on.
    class Broken:
        def __fspath__(self):
            raise ValueError("no path")
    with pytest.raises(ValueError, match="no path"):
        EseDatabase(Broken())


@pytest.mark.parametrize("call", [
    lambda p: EseDatabase(),
    lambda p: EseDatabase(p, p),
    lambda p: EseDatabase(p, path=p),
    lambda p: EseDatabase(file=p),
    lambda p: EseDatabase(p, mode="r"),
], ids=["missing", "two-positional", "twice", "unknown-keyword", "extra-keyword"])
def test_wrong_argument_lists(empty_db, call):
    with pytest.raises(TypeError):
        call(empty_db)


def test_lone_surrogate_in_path():
    with pytest.raises(UnicodeEncodeError):
        EseDatabase("db\udc80.edb")


@pytest.mark.parametrize("name", ["missing.edb", "no such dir/x.edb", "it's here?.edb", "nul\0byte.edb"])
def test_missing_file(tmp_path, name):
    path = str(tmp_path / name) if "\0" not in name else name
    with pytest.raises(FileNotFoundError) as info:
        EseDatabase(path)
    assert info.value.args == (f"Database file not found: {path}",)


def test_missing_relative_file_message_has_the_path_as_given(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(FileNotFoundError, match=r"^Database file not found: sub/../gone\.edb$"):
        EseDatabase("sub/../gone.edb")


def test_directory_passes_the_existence_check_but_does_not_open(tmp_path):
    with pytest.raises(IsADirectoryError) as info:
        EseDatabase(str(tmp_path))
    assert info.value.errno == errno.EISDIR
    assert info.value.args == ("Failed to open database: IO error: Is a directory (os error 21)",)


def header(page_size=PAGE, signature=0x89ABCDEF, size=PAGE) -> bytes:
    data = bytearray(size)
    if size >= 8:
        struct.pack_into("<I", data, 4, signature)
    if size >= 240:
        struct.pack_into("<I", data, 236, page_size)
    return bytes(data)


@pytest.mark.parametrize("data, message", [
    (b"", "Invalid database header"),
    (b"x" * 100, "Invalid database header"),
    (header(size=4095), "Invalid database header"),
    (header(signature=0), "Invalid signature, expected 0x89ABCDEF, got 0x0"),
    (header(signature=0xFF), "Invalid signature, expected 0x89ABCDEF, got 0xff"),
    (header(signature=0xEFCDAB89), "Invalid signature, expected 0x89ABCDEF, got 0xefcdab89"),
    # Right signature: the header passes and the catalog root (page 4) is missing.
    (header(), "Invalid page number: 4"),
    (header(size=2 * PAGE), "Invalid page number: 4"),
    (header(size=5 * PAGE), "Invalid page number: 4"),
    (header(size=5 * PAGE + PAGE // 2), "Invalid page number: 4"),
], ids=["empty", "100-bytes", "4095-bytes", "signature-0", "signature-ff", "byte-swapped",
        "4096-bytes", "2-pages", "5-pages", "5.5-pages"])
def test_header_failures(write_db, data, message):
    with pytest.raises(OSError) as info:
        EseDatabase(write_db(data))
    assert type(info.value) is OSError
    assert info.value.args == (f"Failed to open database: {message}",)


def test_page_size_zero_is_rejected(write_db):
    with pytest.raises(OSError, match="^Failed to open database: "):
        EseDatabase(write_db(header(page_size=0, size=8 * PAGE)))


@pytest.mark.parametrize("page_size", [4096, 8192, 32768])
@pytest.mark.parametrize("extra_pages, tail", [(0, 0), (3, 0), (0, 100), (2, 4095)])
def test_total_pages(write_db, page_size, extra_pages, tail):
    db = EseFile(page_size=page_size)
    db.extra_pages = extra_pages
    data = db.build() + b"\0" * tail  # a trailing partial page is not counted
    opened = EseDatabase(write_db(data))
    assert opened.page_size == page_size
    assert opened.total_pages == len(data) // page_size - 2
    assert opened.total_pages == (len(data) - tail) // page_size - 2


# ---- Representation and context manager --------------------------------------------------

def test_repr_with_apostrophe(tmp_path):
    db = EseFile(page_size=8192)
    for i in range(11):
        db.add_table(Table(f"T{i}", [Column("Id", LONG, 1)]))
    folder = tmp_path / "it's \\ \"here\""
    folder.mkdir()
    path = write_database_in(folder, db)
    opened = EseDatabase(path)
    assert len(opened.get_tables()) == 12
    assert repr(opened) == f"EseDatabase(path='{path}', tables=12, page_size=8192)"


def write_database_in(folder, db) -> str:
    path = folder / "o'brien.edb"
    path.write_bytes(db.build())
    return str(path)


def test_context_manager(empty_db):
    db = EseDatabase(empty_db)
    with db as bound:
        assert bound is db
    assert db.get_tables() == ["MSysObjects"]
    assert db.page_size == PAGE
    with pytest.raises(KeyError, match="inside"):
        with db:
            raise KeyError("inside")
    assert db.get_tables() == ["MSysObjects"]
    with EseDatabase(empty_db) as other:
        assert other.total_pages > 0


def test_exit_arguments(empty_db):
    db = EseDatabase(empty_db)
    assert db.__exit__(None, None, None) is False
    assert db.__exit__(_exc_type=KeyError, _exc_value=KeyError("x"), _traceback=None) is False
    for args in [(), (None,), (None, None), (None, None, None, None)]:
        with pytest.raises(TypeError):
            db.__exit__(*args)
    with pytest.raises(TypeError):
        db.__enter__(None)


# ---- Rules every member follows ------------------------------------------------------------

@pytest.mark.parametrize("call", [
    lambda: EseDatabase.get_tables(object()),
    lambda: EseDatabase.read_table("x", "T"),
    lambda: EseDatabase.__enter__(1),
    lambda: EseDatabase.__exit__(1, None, None, None),
    lambda: EseDatabase.__repr__(1),
    lambda: EseDatabase.path.__get__(1),
], ids=["get_tables", "read_table", "__enter__", "__exit__", "__repr__", "path"])
def test_foreign_self(call):
    with pytest.raises(TypeError):
        call()


def test_exclusive_use_is_refused_while_a_call_runs(empty_db):
    db = EseDatabase(empty_db)
    seen = []

    class Index:
        def __init__(self, fail=False):
            self.fail = fail

        def __index__(self):
            # Runs during carve_utf16le_strings, which holds a shared use.
            try:
                db.__exit__(None, None, None)
            except RuntimeError as e:
                seen.append(str(e))
            seen.append(db.get_tables())  # shared uses go together
            if self.fail:
                raise ValueError("from __index__")
            return 6

    db.carve_utf16le_strings(min_chars=Index())
    assert seen == ["Already borrowed", ["MSysObjects"]]
    with pytest.raises(ValueError, match="from __index__"):
        db.carve_utf16le_strings(max_hits=Index(fail=True))
    # Both calls gave their use back, on success and on failure.
    assert db.__exit__(None, None, None) is False
