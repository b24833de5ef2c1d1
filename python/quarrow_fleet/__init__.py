"""Many ESE files at once: one table of every file as a Dask DataFrame, or every
table of every file as a Parquet dataset.

An incident response collects the same databases (SRUDB.dat, UAL .mdb files,
Windows.edb) from many machines.  This module spreads the reading over Dask: each
file is opened by the worker that reads it, through quarrow's Arrow view of a
table (``EseDatabase.arrow_table``), and nothing of quarrow is shared between
workers.  With a ``distributed.Client`` the same calls run on a laptop's
``LocalCluster`` or on any cluster whose workers see the files.

Damaged files are expected: a file that cannot be opened or read contributes no
rows, and its error is kept so that :func:`failures` can list it.  Different
Windows builds add columns to the same table, and some files lack a table
altogether; the results use the union of the columns, with nulls where a file has
no such column.

Each function reads the files as they are by default.  With ``logs=``, each file is
read as replaying its transaction logs leaves it (``EseDatabase(path, logs=...)``;
the files and logs are only read): ``logs=True`` takes the log folder beside each
file (the file's own folder, as the engine keeps them), a dict maps a path to its
log folder (paths not in it are read as they are), a list gives one folder (or
None, or True) per path.  A file whose logs cannot be replayed fails as a file that
cannot be opened does.  The replay runs wherever the file is opened, once per pass
over the file.

Requires the optional dependencies: ``pip install quarrow[fleet]``.
"""

from __future__ import annotations

import json
import os
from urllib.parse import quote

import dask
import dask.dataframe as dd
import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.parquet as pq

from quarrow import EseDatabase

__all__ = ["read_tables", "read_views", "failures", "export_parquet", "timeline", "timeline_parquet"]

# The loader's hidden column: the error text of a file that failed, null on data
# rows.  A failed file gives exactly one marker row (all data columns null) so
# that its error travels with the partition to wherever the result is gathered,
# also from worker processes on other machines.
_ERROR = "__quarrow_error__"
_FAILURE_META = pd.DataFrame({"source": pd.Series([], dtype=pd.ArrowDtype(pa.string())),
                              "error": pd.Series([], dtype=pd.ArrowDtype(pa.string()))})
# Files described per task in the schema pass: opening a file only reads its
# catalog, so one task per file would be mostly scheduling overhead.
_DESCRIBE_BATCH = 32
REPORT_NAME = "report.json"


# ---------------------------------------------------------------------------
# Schemas
# ---------------------------------------------------------------------------

def _plain_schema(schema: pa.Schema) -> pa.Schema:
    """The schema without field metadata (the ESE type and column id, which differ
    between files), every field nullable, later duplicate names dropped, and
    dictionary-encoded columns (view text resolved through another table) as their
    values: pandas' string methods do not work on Arrow dictionaries, and each file's
    batches have dictionaries of their own anyway."""
    seen, fields = set(), []
    for f in schema:
        if f.name not in seen:
            seen.add(f.name)
            kind = f.type.value_type if pa.types.is_dictionary(f.type) else f.type
            fields.append(pa.field(f.name, kind, nullable=True))
    return pa.schema(fields)


def _table_schema(db: EseDatabase, table: str) -> pa.Schema:
    return _plain_schema(pa.schema(db.arrow_table(table)))


class _Source:
    """Where the rows come from: the tables of each file, or the views of its
    profile (``EseDatabase.arrow_view``), opened with the given profile files."""

    def __init__(self, views: bool = False, profiles=None, logs=None):
        self.views = views
        self.profiles = None if profiles is None else [os.fspath(p) for p in profiles]
        self.logs = logs    # None, True, or {path: folder or True}: see _logs_by_path

    def token(self):
        logs = self.logs if not isinstance(self.logs, dict) else tuple(sorted(self.logs.items(), key=str))
        return (self.views, tuple(self.profiles or ()), logs)

    def logs_of(self, path: str):
        if isinstance(self.logs, dict):
            return self.logs.get(path)
        return self.logs

    def open(self, path: str) -> EseDatabase:
        logs = self.logs_of(path)
        if self.views:
            return EseDatabase(path, profiles=self.profiles, logs=logs)
        return EseDatabase(path) if logs is None else EseDatabase(path, logs=logs)

    def names(self, db: EseDatabase):
        return db.views() if self.views else db.get_tables()

    def arrow(self, db: EseDatabase, name: str):
        return db.arrow_view(name) if self.views else db.arrow_table(name)

    def schema(self, db: EseDatabase, name: str) -> pa.Schema:
        return _plain_schema(pa.schema(self.arrow(db, name)))


_TABLES = _Source()


def _logs_by_path(paths, logs):
    """The logs= argument as _Source keeps it: None, True, or {path: folder or True}."""
    if logs is None or logs is True:
        return logs
    if isinstance(logs, dict):
        return {os.fspath(p): _log_folder(v) for p, v in logs.items()}
    if isinstance(logs, (list, tuple)):
        if len(logs) != len(paths):
            raise ValueError(f"logs gives {len(logs)} entries for {len(paths)} paths; give one per path")
        return {p: _log_folder(v) for p, v in zip(paths, logs)}
    raise TypeError("logs must be None, True, a dict {path: log folder} or a list of log folders (one per path)")


def _log_folder(value):
    return value if value is None or value is True else os.fspath(value)


def _union(schemas) -> pa.Schema:
    """Union of the columns, in order of first appearance; a column whose type
    differs between files takes the common type Arrow promotes both to."""
    schemas = list(schemas)
    if not schemas:
        return pa.schema([])
    try:
        return pa.unify_schemas(schemas, promote_options="permissive")
    except (pa.ArrowInvalid, pa.ArrowTypeError) as exc:
        raise ValueError(f"Columns of the same name have incompatible types across files: {exc}") from None


def _conform(table: pa.Table, schema: pa.Schema) -> pa.Table:
    """`table` with exactly the fields of `schema`: missing columns as nulls,
    types cast to the union's, first of any duplicate names."""
    names = table.schema.names
    columns = []
    for field in schema:
        if field.name in names:
            column = table.column(names.index(field.name))
            if column.type != field.type:
                column = column.cast(field.type)
        else:
            column = pa.nulls(table.num_rows, field.type)
        columns.append(column)
    return pa.Table.from_arrays(columns, schema=schema)


def _describe(paths, table, source=_TABLES):
    """Worker side of the schema pass: for each path, a pair ({table name: schema},
    {table name: error text}) for the wanted tables (all when `table` is None), or
    None when the file cannot be opened (the reading pass records why)."""
    out = []
    for path in paths:
        try:
            db = source.open(path)
            names = source.names(db)
        except Exception:
            out.append(None)
            continue
        schemas, errors = {}, {}
        for name in names:
            if table is None or name in table:
                try:
                    schemas[name] = source.schema(db, name)
                except Exception as exc:
                    errors[name] = _error_text(exc)
        out.append((schemas, errors))
    return out


def _describe_all(paths, table, client=None, source=_TABLES):
    """Schemas of every file, computed where the files are (on the workers)."""
    tasks = [dask.delayed(_describe, pure=True)(paths[i:i + _DESCRIBE_BATCH], table, source)
             for i in range(0, len(paths), _DESCRIBE_BATCH)]
    if client is not None:
        batches = client.gather(client.compute(tasks))
    else:
        batches = dask.compute(*tasks)
    return [entry for batch in batches for entry in batch]


def _to_pandas(table: pa.Table) -> pd.DataFrame:
    """Every column as pandas ArrowDtype over the same Arrow buffers (what
    to_pandas(types_mapper=pd.ArrowDtype) gives, without its per-call set-up)."""
    return pd.DataFrame({name: pd.arrays.ArrowExtensionArray(column)
                         for name, column in zip(table.column_names, table.columns)}, copy=False)


def _error_text(exc: BaseException) -> str:
    return f"{type(exc).__name__}: {exc}"


def _with_path(exc: Exception, path: str) -> Exception:
    """The same kind of exception with the file's path in front of the message, so
    that the failing file is named where the computation fails (on the client)."""
    try:
        return type(exc)(f"{path}: {exc}")
    except Exception:               # an exception type with another constructor
        return RuntimeError(f"{path}: {_error_text(exc)}")


# ---------------------------------------------------------------------------
# read_tables
# ---------------------------------------------------------------------------

class _TableLoader:
    """Reads one table of one file (or one part of it) into a pandas DataFrame (one
    Dask partition).

    Runs on the worker: it opens the file there and keeps nothing between calls.
    Only the columns of the schema are read from the file (those it has)."""

    def __init__(self, table: str, schema: pa.Schema, source: str, errors: str, origin: _Source = _TABLES,
                 columns=None):
        self.table, self.schema, self.source, self.errors = table, schema, source, errors
        self.origin = origin
        self.columns = None if columns is None else list(columns)
        self.output = pa.schema(list(schema) + [pa.field(source, pa.string()), pa.field(_ERROR, pa.string())])

    def __dask_tokenize__(self):
        return ("quarrow-table-loader", self.table, self.schema.serialize().to_pybytes(),
                self.source, self.errors, self.origin.token(), self.columns)

    def _read(self, db: EseDatabase, part) -> pa.Table:
        kwargs = {} if part is None else {"part": part}
        if self.columns is not None:
            have = {c["name"] for c in db.get_table_schema(self.table)}
            wanted = [c for c in self.columns if c in have]
            if not wanted:
                # None of the columns: the rows still count, as nulls.
                n = pa.table(db.arrow_table(self.table, **kwargs)).num_rows
                return pa.Table.from_arrays([pa.nulls(n, f.type) for f in self.schema], schema=self.schema)
            kwargs["columns"] = wanted
        return _conform(pa.table(db.arrow_table(self.table, **kwargs)), self.schema)

    def __call__(self, task) -> pd.DataFrame:
        # A task is a path, or (path, (index, count)) for one part of a split table.
        path, part = (task, None) if isinstance(task, str) else task
        try:
            db = self.origin.open(path)
            if self.table in self.origin.names(db):
                data = (self._read(db, part) if not self.origin.views
                        else _conform(pa.table(self.origin.arrow(db, self.table)), self.schema))
            else:
                data = self.schema.empty_table()          # the file lacks this table
            error = None
        except Exception as exc:
            if self.errors == "raise":
                raise _with_path(exc, path) from exc
            error = _error_text(exc)
            data = pa.Table.from_arrays([pa.nulls(1, f.type) for f in self.schema], schema=self.schema)
        data = data.append_column(self.source, _repeat(path, data.num_rows))
        data = data.append_column(_ERROR, _repeat(error, data.num_rows))
        return _to_pandas(data)

    def meta(self) -> pd.DataFrame:
        return _to_pandas(self.output.empty_table())


def _repeat(text: str | None, n: int) -> pa.Array:
    """A string column holding `text` n times (null when text is None)."""
    if text is None:
        return pa.nulls(n, pa.string())
    return pa.array([text], pa.string()).take(pa.array(np.zeros(n, dtype=np.int32)))


def _failed(frame: pd.DataFrame) -> bool:
    # A partition is either rows of the table (error column all null) or the one
    # marker row of a failed file, so the first row tells which.
    return len(frame) == 1 and not pd.isna(frame[_ERROR].iloc[0])


def _data_rows(frame: pd.DataFrame) -> pd.DataFrame:
    if _failed(frame):
        frame = frame.iloc[:0]
    return frame.drop(columns=_ERROR)


def _failure_rows(frame: pd.DataFrame, source: str) -> pd.DataFrame:
    failed = frame if _failed(frame) else frame.iloc[:0]
    return pd.DataFrame({"source": failed[source].astype(_FAILURE_META["source"].dtype),
                         "error": failed[_ERROR].astype(_FAILURE_META["error"].dtype)})


def _count_rows(paths, table, origin=_TABLES):
    """Worker side of the split pass: the table's row count in each file (0 where
    the file or table cannot be read; the reading pass records why)."""
    counts = []
    for path in paths:
        try:
            db = origin.open(path)
            first = db.get_table_schema(table)[0]["name"]
            counts.append(pa.table(db.arrow_table(table, columns=[first])).num_rows)
        except Exception:
            counts.append(0)
    return counts


def _split_tasks(paths, table, split_rows, client=None, origin=_TABLES):
    """One task per file, or (path, (index, count)) parts for files whose table has
    more than split_rows rows."""
    batches = [dask.delayed(_count_rows, pure=True)(paths[i:i + _DESCRIBE_BATCH], table, origin)
               for i in range(0, len(paths), _DESCRIBE_BATCH)]
    if client is not None:
        counts = client.gather(client.compute(batches))
    else:
        counts = dask.compute(*batches)
    tasks = []
    for path, rows in zip(paths, (c for batch in counts for c in batch)):
        parts = max(1, -(-rows // split_rows))
        tasks.extend([path] if parts == 1 else [(path, (k, parts)) for k in range(parts)])
    return tasks


def read_tables(paths, table: str, *, columns=None, source: str | None = "source",
                errors: str = "collect", split_rows: int | None = None, logs=None) -> dd.DataFrame:
    """One table of many ESE files as a Dask DataFrame, one partition per file.

    Columns are typed from quarrow's Arrow view (pandas ArrowDtype), with the union
    of the columns that the files have (nulls where a file lacks one; a file without
    the table gives no rows); `columns` selects and orders them.  The column named
    by `source` holds each row's file path (None leaves it out).

    Each file is opened by the worker that reads it.  A file that cannot be opened
    or read gives no rows; with errors="collect" its error is kept and
    :func:`failures` lists it, with errors="raise" it fails the computation.

    Building the frame describes every file's table (its catalog only, on the
    workers) to find the union of the columns; the rows are read on compute.  Only
    the selected columns are read from the files.

    With `split_rows`, a file whose table has more rows than that becomes several
    partitions of about split_rows rows each, cut along the table's leaf pages, so
    that one large database spreads over the workers; the rows and their order are
    those of the unsplit reading.  Counting the rows reads one column of each file.

    With `logs`, each file is read as replaying its transaction logs leaves it:
    True for the log folder beside each file, a dict {path: folder}, or a list of
    folders (None: the file as it is) in the order of `paths`.
    """
    if split_rows is not None and (not isinstance(split_rows, int) or split_rows < 1):
        raise ValueError("split_rows must be a positive int")
    origin = _TABLES if logs is None else _Source(logs=_logs_by_path([os.fspath(p) for p in paths], logs))
    return _read(paths, table, origin, columns, source, errors, split_rows)


def read_views(paths, view: str, *, profiles=None, columns=None, source: str | None = "source",
               errors: str = "collect", logs=None) -> dd.DataFrame:
    """One view of a profile (``EseDatabase.arrow_view``) of many files as a Dask
    DataFrame, one partition per file, as :func:`read_tables` reads a table: the
    union of the view's columns across files, the file's path in `source`, failed
    files listed by :func:`failures`.  A file whose profile lacks the view (another
    kind of database, or no table for it) gives no rows.  `profiles` are profile
    files tried before the built-in ones, as ``EseDatabase(path, profiles=...)``;
    `logs` as for :func:`read_tables`."""
    return _read(paths, view, _Source(True, profiles, _logs_by_path([os.fspath(p) for p in paths], logs)),
                 columns, source, errors)


def _read(paths, table, origin, columns, source, errors, split_rows=None) -> dd.DataFrame:
    if errors not in ("collect", "raise"):
        raise ValueError('errors must be "collect" or "raise"')
    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise ValueError("no paths given")
    described = _describe_all(paths, {table}, source=origin)
    schema = _union(d[0][table] for d in described if d and table in d[0])
    if columns is not None:
        columns = list(columns)
        schema = pa.schema([schema.field(c) if c in schema.names else pa.field(c, pa.null())
                            for c in columns])
    if source is not None and source in schema.names:
        raise ValueError(f"Table {table!r} has a column named {source!r}; pass another source= name")
    # Without a source column the path still travels (for failures) and is dropped.
    loader = _TableLoader(table, schema, source if source is not None else "__quarrow_source__", errors, origin,
                          None if origin.views else columns)
    tasks = paths if split_rows is None else _split_tasks(paths, table, split_rows, origin=origin)
    # The string columns are Arrow strings already: no conversion step per partition.
    with dask.config.set({"dataframe.convert-string": False}):
        raw = dd.from_map(loader, tasks, meta=loader.meta(), divisions=None,
                          enforce_metadata=False, label="quarrow-read")
        frame = raw.map_partitions(_data_rows, meta=_data_rows(loader.meta()), enforce_metadata=False)
        if source is None:
            frame = frame.drop(columns="__quarrow_source__")
        frame._quarrow_failures = raw.map_partitions(_failure_rows, loader.source, meta=_FAILURE_META,
                                                     enforce_metadata=False)
    return frame


def failures(frame: dd.DataFrame) -> dd.DataFrame:
    """The files that failed in a frame from :func:`read_tables`: a lazy Dask
    DataFrame of two columns, "source" (the path) and "error" (the exception type
    and message).

    It comes from the same partitions as the rows, so computing both together reads
    every file once: ``rows, failed = dask.compute(frame, failures(frame))``.  The
    errors travel with the partitions, so this works the same on a cluster."""
    try:
        return frame._quarrow_failures
    except AttributeError:
        raise TypeError("failures() takes the DataFrame returned by read_tables()") from None


# ---------------------------------------------------------------------------
# export_parquet
# ---------------------------------------------------------------------------

# Characters kept as they are in a table's directory name; everything else
# (separators, "%", control characters) is percent-encoded, so a table name taken
# from a hostile file can never leave out_dir.
_SAFE_NAME = " !#$&'()+,-.;=@[]^_{}~"


def table_directory(name: str) -> str:
    """The directory name under out_dir for a table name: the name itself when it
    is a plain name, percent-encoded otherwise.  Distinct names give distinct
    directories, never "", "." or "..", nor the report's name."""
    encoded = quote(name, safe=_SAFE_NAME)
    if encoded.startswith(".") or encoded.lower() == REPORT_NAME:
        encoded = "%2E" + encoded[1:] if encoded.startswith(".") else encoded.replace(".", "%2E")
    return encoded or "%"


def _export_file(index: int, path: str, out_dir: str, schemas: dict, source_names: dict, origin=_TABLES):
    """Worker side of the export: every table of `schemas` that the file has, into
    out_dir/{table}/part-{index}.parquet.  Returns (rows per table, failures)."""
    rows, failed = {}, []
    try:
        db = origin.open(path)
        present = set(db.get_tables())
    except Exception as exc:
        return rows, [{"path": path, "table": None, "error": _error_text(exc)}]
    for name, schema in schemas.items():
        if name not in present:
            continue
        try:
            data = _conform(pa.table(db.arrow_table(name)), schema)
            data = data.append_column(source_names[name], _repeat(path, data.num_rows))
            directory = os.path.join(out_dir, table_directory(name))
            os.makedirs(directory, exist_ok=True)
            target = os.path.join(directory, f"part-{index:06d}.parquet")
            temporary = target + ".tmp"
            pq.write_table(data, temporary)
            os.replace(temporary, target)      # no half-written part is ever visible
            rows[name] = data.num_rows
        except Exception as exc:
            failed.append({"path": path, "table": name, "error": _error_text(exc)})
    return rows, failed


def _source_name(schema: pa.Schema) -> str:
    name = "source"
    while name in schema.names:
        name = "_" + name
    return name


def export_parquet(paths, out_dir, *, tables=None, client=None, logs=None) -> dict:
    """Every table (or the given ones) of every file into one Parquet dataset per
    table, and a JSON report.

    Layout: out_dir/{table}/part-NNNNNN.parquet, one file per source file that has
    the table (NNNNNN is the file's position in `paths`), each holding the table's
    rows with the union of the columns across all files and a "source" column with
    the file's path (named "_source" should the table have a "source" column).
    A file lacking a table writes no part for it.  out_dir/report.json lists the
    files, the tables with their row counts, and the failures; the same report is
    returned as a dict.  Table names that are not plain file names are
    percent-encoded in the directory name (the report maps names to directories).

    out_dir must not exist or be empty.  Files are read and Parquet is written on the workers, so on a cluster out_dir
    must be storage that every worker and the caller share.  `client` picks the
    distributed Client; by default Dask's current scheduler runs the tasks.  `logs`
    as for :func:`read_tables`: the tables as replaying each file's logs leaves them."""
    paths = [os.fspath(p) for p in paths]
    origin = _TABLES if logs is None else _Source(logs=_logs_by_path(paths, logs))
    out_dir = os.fspath(out_dir)
    wanted = None if tables is None else set(tables)
    # Parts left by an earlier export would mix into the new dataset unseen.
    if os.path.isdir(out_dir) and os.listdir(out_dir):
        raise FileExistsError(f"Output directory is not empty: {out_dir}")
    os.makedirs(out_dir, exist_ok=True)
    described = _describe_all(paths, wanted, client, origin)
    names = []
    for d in described:
        for name in d[0] if d else ():
            if name not in names:
                names.append(name)
    schemas = {n: _union(d[0][n] for d in described if d and n in d[0]) for n in names}
    source_names = {n: _source_name(s) for n, s in schemas.items()}
    tasks = [dask.delayed(_export_file, pure=False)(i, p, out_dir, schemas, source_names, origin)
             for i, p in enumerate(paths)]
    results = client.gather(client.compute(tasks)) if client is not None else dask.compute(*tasks)

    report_files, report_failures = [], []
    totals = {n: {"directory": table_directory(n), "source_column": source_names[n],
                  "columns": schemas[n].names, "files": 0, "rows": 0} for n in names}
    for path, d, (rows, failed) in zip(paths, described, results):
        if d:       # tables whose columns could not be described were not read
            failed = [{"path": path, "table": n, "error": e} for n, e in d[1].items()] + failed
        report_files.append({"path": path, "tables": rows, "failed": bool(failed)})
        report_failures.extend(failed)
        for name, n in rows.items():
            totals[name]["files"] += 1
            totals[name]["rows"] += n
    report = {"files": report_files, "tables": totals, "failures": report_failures,
              "rows": sum(t["rows"] for t in totals.values())}
    with open(os.path.join(out_dir, REPORT_NAME), "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1, ensure_ascii=False)
    return report


# ---- Timelines ----------------------------------------------------------------------

# The members every event has, in the order quarrow writes them (EseDatabase.timeline's
# Arrow columns); the row's values, which differ from view to view, travel as one JSON
# object in "attributes".
_TIMELINE_SCHEMA = pa.schema([
    ("message", pa.string()), ("datetime", pa.timestamp("us", tz="UTC")), ("timestamp_desc", pa.string()),
    ("timestamp", pa.int64()), ("source_file", pa.string()), ("kind", pa.string()), ("table", pa.string()),
    ("row", pa.uint64()), ("attributes", pa.string()), ("error", pa.string()),
])


class _TimelineLoader:
    """One file's events, sorted, as an Arrow table (a failed file: one row naming its error)."""

    def __init__(self, options: dict, logs: dict):
        self.options = options
        self.logs = logs

    def table(self, path: str) -> pa.Table:
        try:
            with EseDatabase(path) as db:
                events = pa.table(db.timeline(logs=self.logs.get(path), arrow=True, **self.options))
            return events.append_column("error", pa.nulls(len(events), pa.string()))
        except (OSError, ValueError, MemoryError) as exc:
            failed = {name: [None] for name in _TIMELINE_SCHEMA.names}
            failed["source_file"] = [path]
            failed["error"] = [_error_text(exc)]
            return pa.table(failed, schema=_TIMELINE_SCHEMA)

    def __call__(self, path: str) -> pd.DataFrame:
        return _to_pandas(self.table(path))

    def meta(self) -> pd.DataFrame:
        return _to_pandas(_TIMELINE_SCHEMA.empty_table())


def _timeline_options(start, end, views, kinds) -> dict:
    return {"start": start, "end": end, "views": None if views is None else list(views),
            "kinds": None if kinds is None else list(kinds)}


def _timeline_logs(paths, logs) -> dict:
    if logs is None:
        return {}
    if not isinstance(logs, dict):
        raise TypeError("logs must map database paths to their log folders")
    return {os.fspath(k): os.fspath(v) for k, v in logs.items()}


def timeline(paths, *, logs=None, start=None, end=None, views=None, kinds=None,
             errors: str = "collect") -> dd.DataFrame:
    """The timeline of every file as a Dask DataFrame: one partition per file, its
    events in time order (as ``EseDatabase.timeline`` gives them).

    Columns: message, datetime (UTC), timestamp_desc, timestamp (microseconds),
    source_file, kind, table, row, and attributes: the row's values as one JSON
    object, since they differ from view to view.  `logs` maps a database's path to
    the folder of its transaction logs; start, end, views and kinds are those of
    ``EseDatabase.timeline``.  A file that cannot be read gives no events; its error
    is kept for :func:`failures` (errors="raise" raises it instead)."""
    if errors not in ("collect", "raise"):
        raise ValueError('errors must be "collect" or "raise"')
    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise ValueError("no paths given")
    loader = _TimelineLoader(_timeline_options(start, end, views, kinds), _timeline_logs(paths, logs))
    with dask.config.set({"dataframe.convert-string": False}):
        raw = dd.from_map(loader, paths, meta=loader.meta(), divisions=None, enforce_metadata=False,
                          label="quarrow-timeline")
        frame = raw.map_partitions(_timeline_events, errors, meta=_timeline_events(loader.meta(), errors),
                                   enforce_metadata=False)
        frame._quarrow_failures = raw.map_partitions(_timeline_failures, meta=_FAILURE_META, enforce_metadata=False)
    return frame


def _timeline_events(frame: pd.DataFrame, errors: str) -> pd.DataFrame:
    failed = frame["error"].notna()
    if errors == "raise" and failed.any():
        first = frame[failed].iloc[0]
        raise OSError(f"{first['source_file']}: {first['error']}")
    return frame[~failed].drop(columns="error")


def _timeline_failures(frame: pd.DataFrame) -> pd.DataFrame:
    failed = frame[frame["error"].notna()]
    return pd.DataFrame({"source": failed["source_file"].astype(object).to_numpy(),
                         "error": failed["error"].astype(object).to_numpy()},
                        columns=list(_FAILURE_META.columns)).astype(_FAILURE_META.dtypes.to_dict())


def _timeline_part(index: int, path: str, out_dir: str, loader: _TimelineLoader):
    table = loader.table(path)
    errors = table.column("error")
    if errors.null_count < len(table):
        return 0, [str(e) for e in errors.to_pylist() if e is not None]
    table = table.drop(["error"])
    if len(table) == 0:
        return 0, []
    day = pa.compute.strftime(table.column("datetime"), format="%Y-%m-%d")
    table = table.append_column("day", day)
    pq.write_to_dataset(table, out_dir, partition_cols=["day"],
                        basename_template=f"part-{index:06d}-{{i}}.parquet")
    return len(table), []


def timeline_parquet(paths, out_dir, *, logs=None, start=None, end=None, views=None, kinds=None,
                     client=None) -> dict:
    """The timeline of every file written as Parquet partitioned by day:
    out_dir/day=YYYY-MM-DD/part-NNNNNN-0.parquet (NNNNNN: the file's position in
    `paths`), with the columns of :func:`timeline` (the day is the partition key).
    Returns {"events": count, "failures": [{"source", "error"}]}.  out_dir must not
    exist or be empty; on a cluster it must be storage every worker shares."""
    import pyarrow.compute  # noqa: F401  (strftime)

    paths = [os.fspath(p) for p in paths]
    out_dir = os.fspath(out_dir)
    if os.path.isdir(out_dir) and os.listdir(out_dir):
        raise FileExistsError(f"Output directory is not empty: {out_dir}")
    os.makedirs(out_dir, exist_ok=True)
    loader = _TimelineLoader(_timeline_options(start, end, views, kinds), _timeline_logs(paths, logs))
    tasks = [dask.delayed(_timeline_part, pure=False)(i, p, out_dir, loader) for i, p in enumerate(paths)]
    results = client.gather(client.compute(tasks)) if client is not None else dask.compute(*tasks)
    failures_list = [{"source": p, "error": e} for p, (_, errs) in zip(paths, results) for e in errs]
    return {"events": sum(n for n, _ in results), "failures": failures_list}
