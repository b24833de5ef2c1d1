"""Type information for quarrow, the read-only reader of ESE database files.

The module itself is a compiled extension; this stub describes what it holds. The
dict shapes below exist only for type checkers (they are plain dicts at run time).
"""

import datetime
import os
from collections.abc import Iterable, Iterator
from types import TracebackType
from typing import Any, Literal, TypedDict, final, overload, type_check_only

__version__: str
__all__ = ["EseDatabase", "__version__"]

# A column value as read_table gives it: None, bool, int (also DateTime and Currency
# as their raw 64-bit patterns), float, str (text and GUIDs) or bytes (binary data,
# long values, multi-valued columns).
Value = None | bool | int | float | str | bytes
Record = dict[str, Value]
StrPath = str | os.PathLike[str]
# columns=: the names of the columns to read, as a list or a tuple.
Columns = list[str] | tuple[str, ...]
Scope = Literal["slack", "all", "tag_data", "lv_all", "lv_slack"]

@type_check_only
class ColumnInfo(TypedDict):
    name: str
    type: str
    id: int
    nullable: bool

@type_check_only
class CarveHit(TypedDict):
    page: int
    offset: int
    slack_start: int
    slack_end: int
    region_kind: Literal["slack", "all", "tag_data"]
    page_flags: int
    page_type: str
    table: str | None
    text: str
    file_offset: int

@type_check_only
class _PageProblemBase(TypedDict):
    page: int
    problem: str
    stored: int
    computed: int

@type_check_only
class PageProblem(_PageProblemBase, total=False):
    bit: int            # a single flipped bit: its offset in the page, in bits
    bytes_present: int  # problem "truncated": how much of the last page the file holds

@type_check_only
class Truncation(TypedDict):
    owned_pages: int  # the last page the database's space tree owns
    file_pages: int   # the data pages the file holds

@type_check_only
class HeaderInfo(TypedDict):
    format_version: int
    format_revision: int
    page_size: int
    state: str
    state_code: int
    database_time: int
    creation_time: datetime.datetime | None
    last_consistent_time: datetime.datetime | None
    last_attach_time: datetime.datetime | None
    last_detach_time: datetime.datetime | None
    log_generations_required: tuple[int, int]
    os_version: str
    os_build: int
    os_service_pack: int
    file_type: str
    repair_count: int
    last_repair_time: datetime.datetime | None
    header_copies_agree: bool
    header_checksum_ok: bool
    shadow_header_checksum_ok: bool
    truncated: Truncation | None  # the database owns pages past the end of the file

@type_check_only
class IndexColumn(TypedDict):
    name: str | None
    descending: bool

@type_check_only
class IndexInfo(TypedDict):
    name: str
    columns: list[IndexColumn]
    unique: bool
    primary: bool

@type_check_only
class RecoveredRecord(TypedDict):
    page: int
    offset: int
    source: Literal["flagged_deleted", "free_space"]
    record: Record
    live: Literal["identical", "older_version"] | None
    missing_long_values: list[str]

@type_check_only
class CatalogProblem(TypedDict):
    page: int
    tag: int
    object_id: int | None
    type: int | None
    error: str

@type_check_only
@final
class ReplayTableChanges(TypedDict):
    objid: int
    name: str | None
    inserted: int
    replaced: int
    deleted: int

class ReplayReport(TypedDict):
    generations: list[int]
    start: str
    end: str
    needed: bool
    records_applied: int
    records_in_file: int
    records_other_database: int
    writes_at_before: int
    writes_creating: int
    writes_same_operation: int
    writes_already_applied: int
    transactions_committed: int
    transactions_rolled_back: int
    transactions_undone_at_end: int
    operations_undone_at_end: int
    macros_applied: int
    macros_dropped: int
    pages_changed: int
    pages_created: int
    total_pages: int
    dbtime_before: int
    dbtime_after: int
    record_types: dict[str, int]
    tables: list[ReplayTableChanges]

class TableIterator(Iterator[Record]):
    def __iter__(self) -> TableIterator: ...
    def __next__(self) -> Record: ...

@type_check_only
@final
class ArrowTable:
    """A table's decoded values for Arrow consumers (the Arrow PyCapsule protocol)."""
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

@final
class EseDatabase:
    """An ESE database file opened read-only."""
    def __new__(
        cls, path: StrPath, profiles: Iterable[StrPath] | None = None, logs: StrPath | bool | None = None
    ) -> EseDatabase: ...
    @property
    def path(self) -> str: ...
    @property
    def profile(self) -> str | None: ...
    @property
    def page_size(self) -> int: ...
    @property
    def total_pages(self) -> int: ...
    def get_tables(self) -> list[str]: ...
    def read_table(self, table_name: str, *, columns: Columns | None = None) -> list[Record]: ...
    def iter_table(self, table_name: str, *, columns: Columns | None = None) -> TableIterator: ...
    def get_table_schema(self, table_name: str) -> list[ColumnInfo]: ...
    def export_table(
        self, table_name: str, output_path: StrPath, *, columns: Columns | None = None
    ) -> None: ...
    def export_all(self, output_dir: StrPath, *, columns: Columns | None = None) -> None: ...
    @property
    def batch_memory(self) -> int: ...
    @batch_memory.setter
    def batch_memory(self, value: int) -> None: ...
    def arrow_table(
        self,
        table_name: str,
        *,
        batch_rows: int = 65536,
        columns: Columns | None = None,
        threads: int | None = None,
        part: tuple[int, int] | None = None,
    ) -> ArrowTable: ...
    def carve_utf16le_strings(
        self, needle: str | None = None, min_chars: int = 6, max_hits: int = 1000
    ) -> list[CarveHit]: ...
    def carve_utf16le_strings_scoped(
        self, scope: Scope, needle: str | None = None, min_chars: int = 6, max_hits: int = 1000
    ) -> list[CarveHit]: ...
    def verify(self) -> list[PageProblem]: ...
    def header_info(self) -> HeaderInfo: ...
    def get_table_indexes(self, table_name: str) -> list[IndexInfo]: ...
    def recover_records(self, table_name: str) -> list[RecoveredRecord]: ...
    def catalog_problems(self) -> list[CatalogProblem]: ...
    def replay_report(self) -> ReplayReport | None: ...
    def views(self) -> list[str]: ...
    def view_columns(self, name: str) -> list[dict[str, str | None]]: ...
    def read_view(self, name: str, *, columns: Columns | None = None) -> list[dict[str, Any]]: ...
    def arrow_view(
        self,
        name: str,
        *,
        columns: Columns | None = None,
        batch_rows: int = 65536,
        threads: int | None = None,
        part: tuple[int, int] | None = None,
    ) -> ArrowTable: ...
    @overload
    def timeline(
        self, *, logs: str | os.PathLike[str] | None = None, start: datetime.datetime | str | None = None,
        end: datetime.datetime | str | None = None, views: list[str] | None = None, kinds: list[str] | None = None,
        arrow: Literal[False] = False, batch_rows: int = 65536, sort_memory_mb: int = 256,
        temp_dir: str | os.PathLike[str] | None = None,
    ) -> Iterator[dict[str, Any]]: ...
    @overload
    def timeline(
        self, *, logs: str | os.PathLike[str] | None = None, start: datetime.datetime | str | None = None,
        end: datetime.datetime | str | None = None, views: list[str] | None = None, kinds: list[str] | None = None,
        arrow: Literal[True], batch_rows: int = 65536, sort_memory_mb: int = 256,
        temp_dir: str | os.PathLike[str] | None = None,
    ) -> ArrowTable: ...
    def report(self, path: StrPath, *, logs: StrPath | None = None) -> None: ...
    def __enter__(self) -> EseDatabase: ...
    def __exit__(
        self,
        _exc_type: type[BaseException] | None,
        _exc_value: BaseException | None,
        _traceback: TracebackType | None,
    ) -> Literal[False]: ...

@final
class LogIterator(Iterator[dict[str, Any]]):
    """The records of EseLogs.records() or the row changes of EseLogs.changes(db)."""
    def __next__(self) -> dict[str, Any]: ...
    def __iter__(self) -> LogIterator: ...
    def problems(self) -> list[str]: ...

class EseLogs:
    """The transaction logs of a database (a folder of *.log, *.jrs and *.chk, or one
    log file), read-only. Its dicts are described in the methods' doc strings."""
    def __new__(cls, path: StrPath) -> EseLogs: ...
    @property
    def path(self) -> str: ...
    @property
    def record_count(self) -> int: ...
    @property
    def checksum_failed(self) -> bool: ...
    def files(self) -> list[dict[str, Any]]: ...
    def checkpoint(self) -> dict[str, Any] | None: ...
    def generations(self) -> list[int]: ...
    def gaps(self) -> list[tuple[int, int]]: ...
    def chain(self) -> list[dict[str, Any]]: ...
    def problems(self) -> list[str]: ...
    def needs(self, db: EseDatabase | StrPath) -> dict[str, Any]: ...
    def records(self) -> LogIterator: ...
    def changes(self, db: EseDatabase | StrPath) -> LogIterator: ...
    def row_history(self, db: EseDatabase | StrPath, table: str, key: bytes | bytearray) -> list[dict[str, Any]]: ...
    def timeline(self) -> list[dict[str, Any]]: ...
