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

SIGNATURES = [
    ("get_tables", "($self)"),
    ("read_table", "($self, table_name, *, columns=None)"),
    ("iter_table", "($self, table_name, *, columns=None)"),
    ("get_table_schema", "($self, table_name)"),
    ("export_table", "($self, table_name, output_path, *, columns=None)"),
    ("export_all", "($self, output_dir, *, columns=None)"),
    ("carve_utf16le_strings", "($self, needle=None, min_chars=6, max_hits=1000)"),
    ("carve_utf16le_strings_scoped", "($self, scope, needle=None, min_chars=6, max_hits=1000)"),
    ("__enter__", "($self)"),
    ("__exit__", "($self, _exc_type, _exc_value, _traceback)"),
]


def test_class_signature():
    assert EseDatabase.__text_signature__ == "(path, profiles=None, logs=None)"


@pytest.mark.parametrize("name, signature", SIGNATURES, ids=[m[0] for m in SIGNATURES])
def test_method_signature(name, signature):
    assert getattr(EseDatabase, name).__text_signature__ == signature


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


# What the doc strings promise, each kept: the error a doc names is the one raised.
CONSTRUCTOR_PROMISES = [
    ("FileNotFoundError: If there is no file at the path", FileNotFoundError,
     lambda db, tmp: EseDatabase(str(tmp / "absent.edb"))),
    ("no log folder at logs", FileNotFoundError, lambda db, tmp: EseDatabase(db, logs=str(tmp / "no logs"))),
    ("IOError: If the file is not an ESE database", OSError,
     lambda db, tmp: (tmp / "notes.txt").write_bytes(b"x" * 8192) and EseDatabase(str(tmp / "notes.txt"))),
    ("an OSError\n        subclass for operating-system errors", OSError, lambda db, tmp: EseDatabase(str(tmp))),
    ("TypeError: If the path is not a str or os.PathLike (bytes paths included)", TypeError,
     lambda db, tmp: EseDatabase(db.encode())),
    ("ValueError: If a profile file cannot be read", ValueError,
     lambda db, tmp: EseDatabase(db, profiles=[str(tmp / "absent.json")])),
]


@pytest.mark.parametrize("promise, error, call", CONSTRUCTOR_PROMISES, ids=[p[1].__name__ + str(i) for i, p in
                                                                            enumerate(CONSTRUCTOR_PROMISES)])
def test_constructor_raises_what_its_doc_promises(empty_db, tmp_path, promise, error, call):
    assert promise in EseDatabase.__doc__
    with pytest.raises(error) as raised:
        call(empty_db, tmp_path)
    if "subclass" in promise:  # a folder: the system's own error, as its subclass
        assert type(raised.value) is not OSError


MISSING_TABLE_CALLS = {
    "read_table": lambda db, tmp: db.read_table("absent"),
    "iter_table": lambda db, tmp: list(db.iter_table("absent")),
    "get_table_schema": lambda db, tmp: db.get_table_schema("absent"),
    "export_table": lambda db, tmp: db.export_table("absent", str(tmp / "absent.jsonl")),
}


@pytest.mark.parametrize("name", MISSING_TABLE_CALLS)
def test_a_missing_table_raises_what_the_doc_promises(empty_db, tmp_path, name):
    assert "    ValueError: If the table doesn't exist" in getattr(EseDatabase, name).__doc__
    with pytest.raises(ValueError):
        MISSING_TABLE_CALLS[name](EseDatabase(empty_db), tmp_path)
    assert not (tmp_path / "absent.jsonl").exists()


def test_export_all_raises_what_its_doc_promises(empty_db, tmp_path):
    assert "IOError: If there's an error creating the directory" in EseDatabase.export_all.__doc__
    (tmp_path / "in the way").write_bytes(b"")
    with pytest.raises(OSError):
        EseDatabase(empty_db).export_all(str(tmp_path / "in the way"))


PROPERTIES = [("path", str), ("page_size", int), ("total_pages", int)]


@pytest.mark.parametrize("name, kind", PROPERTIES, ids=[p[0] for p in PROPERTIES])
def test_properties_are_what_their_docs_promise_and_read_only(empty_db, name, kind):
    prop = EseDatabase.__dict__[name]
    assert isinstance(prop, type(EseDatabase.path))
    assert f"Returns:\n    {kind.__name__}: " in prop.__doc__
    db = EseDatabase(empty_db)
    before = getattr(db, name)
    assert type(before) is kind
    with pytest.raises(AttributeError):
        setattr(db, name, 1)
    with pytest.raises(AttributeError):
        delattr(db, name)
    assert getattr(db, name) == before
    assert (db.path, db.page_size) == (empty_db, 4096)


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
