#include "binding/ese_database.h"

#include <exception>
#include <new>
#include <string_view>
#include <vector>

#include "app/carve_request.h"
#include "app/open.h"
#include "forensic/carve.h"
#include "platform/platform.h"
#include "binding/args.h"
#include "binding/arrow_table.h"
#include "binding/convert.h"
#include "binding/notes.h"
#include "binding/forensic.h"
#include "binding/reading.h"
#include "binding/replay.h"
#include "binding/report.h"
#include "binding/timeline.h"
#include "binding/views.h"
#include "record/reader.h"
#include "record/text.h"

namespace quarrow::python {

bool BorrowState::acquire_shared() {
  std::int64_t current = count_.load(std::memory_order_acquire);
  do {
    if (current < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
  } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel));
  return true;
}

bool BorrowState::acquire_exclusive() {
  std::int64_t expected = 0;
  if (count_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) return true;
  PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
  return false;
}

namespace {

struct EseDatabaseObject {
  PyObject_HEAD
  DatabaseState* state;
};

PyObject* g_type = nullptr;

// ---- Calling conventions ------------------------------------------------------------

// The object's state, or TypeError when `self` is not an EseDatabase.
DatabaseState* state_of(PyObject* self) {
  if (g_type == nullptr || self == nullptr ||
      !PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(g_type)) ||
      reinterpret_cast<EseDatabaseObject*>(self)->state == nullptr) {
    PyErr_SetString(PyExc_TypeError, "descriptor requires a 'quarrow.EseDatabase' object");
    return nullptr;
  }
  return reinterpret_cast<EseDatabaseObject*>(self)->state;
}

using FastBody = PyObject* (*)(DatabaseState&, PyObject* const*, Py_ssize_t, PyObject*);
using PlainBody = PyObject* (*)(DatabaseState&);

template <FastBody Body>
PyObject* fast_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& s) {
    PyObject* result = Body(s, args, nargs, kwnames);
    if (result == nullptr) note_table_error(*s.database, args, nargs, kwnames);
    return result;
  });
}

template <PlainBody Body>
PyObject* noargs_method(PyObject* self, PyObject*) {
  return with_database(self, [](DatabaseState& s) { return Body(s); });
}

template <PlainBody Body>
PyObject* property_getter(PyObject* self, void*) {
  return with_database(self, [](DatabaseState& s) { return Body(s); });
}

template <PlainBody Body>
PyObject* slot(PyObject* self) {
  return with_database(self, [](DatabaseState& s) { return Body(s); });
}

template <class F>
PyCFunction as_cfunction(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

template <std::size_t N>
constexpr Signature signature(const char* function, const char* const (&names)[N], std::size_t required) {
  return Signature{function, names, N, required};
}

// ---- Properties, representation, context manager --------------------------------------

PyObject* get_path(DatabaseState& s) { return lossy_text(s.path); }
PyObject* get_page_size(DatabaseState& s) { return PyLong_FromUnsignedLong(s.database->page_size()); }
PyObject* get_total_pages(DatabaseState& s) { return PyLong_FromUnsignedLong(s.database->total_pages()); }

PyObject* get_batch_memory(DatabaseState& s) { return PyLong_FromSize_t(s.batch_memory->limit()); }

int set_batch_memory(PyObject* self, PyObject* value, void*) {
  DatabaseState* state = state_of(self);
  if (state == nullptr) return -1;
  if (value == nullptr) {
    PyErr_SetString(PyExc_AttributeError, "batch_memory cannot be deleted");
    return -1;
  }
  if (!PyLong_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "batch_memory must be an int (bytes)");
    return -1;
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (n == -1 && PyErr_Occurred()) return -1;
  if (overflow < 0 || (overflow == 0 && n < 0)) {
    PyErr_SetString(PyExc_ValueError, "batch_memory must be at least 0");
    return -1;
  }
  const std::uint64_t bytes = overflow > 0 ? UINT64_MAX : static_cast<std::uint64_t>(n);
  state->batch_memory->set_limit(bytes > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(bytes));
  return 0;
}

PyObject* repr(DatabaseState& s) {
  // The path goes in unescaped, quotes and backslashes included.
  const std::string text = "EseDatabase(path='" + s.path +
                           "', tables=" + std::to_string(s.database->catalog().size()) +
                           ", page_size=" + std::to_string(s.database->page_size()) + ")";
  return lossy_text(text);
}

PyObject* enter(PyObject* self, PyObject*) {
  return with_database(self, [self](DatabaseState&) {
    Py_INCREF(self);
    return self;
  });
}

constexpr const char* kExitNames[] = {"_exc_type", "_exc_value", "_traceback"};
constexpr Signature kExit = signature("__exit__", kExitNames, 3);

// Leaving a with block closes nothing: the object stays usable afterwards.
PyObject* exit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  DatabaseState* state = state_of(self);
  if (state == nullptr) return nullptr;
  ExclusiveUse use(state->borrow);
  if (!use.ok()) return nullptr;
  PyObject* values[3];
  if (!parse_arguments(kExit, args, nargs, kwnames, values)) return nullptr;
  Py_INCREF(Py_False);
  return Py_False;
}

// ---- Catalog queries and reading ---------------------------------------------------------

PyObject* get_tables(DatabaseState& s) {
  const Catalog& catalog = s.database->catalog();
  PyRef list(PyList_New(static_cast<Py_ssize_t>(catalog.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& entry : catalog) {
    PyObject* name = lossy_text(entry.second.name);
    if (name == nullptr || PyList_SetItem(list.get(), i++, name) < 0) return nullptr;
  }
  return list.release();
}

constexpr const char* kTableNameNames[] = {"table_name"};
constexpr Signature kGetTableSchema = signature("get_table_schema", kTableNameNames, 1);
constexpr const char* kReadTableNames[] = {"table_name", "columns"};
constexpr Signature kReadTable = signature("read_table", kReadTableNames, 1);

// The table named `name` and the selection checked against it (ValueError for a name
// it lacks), or nullptr with the exception set.
const TableInfo* table_for_columns(DatabaseState& s, std::string_view name,
                                   const std::optional<ColumnSelection>& columns) {
  const TableInfo* table = s.database->catalog().find(name);
  if (table == nullptr) {
    raise_ese_error(EseError::table_not_found(std::string(name)));
    return nullptr;
  }
  return check_columns(columns, {table}) ? table : nullptr;
}

PyObject* get_table_schema(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[1];
  std::string_view name;
  if (!parse_arguments(kGetTableSchema, args, nargs, kwnames, values) ||
      !text_argument(kGetTableSchema, "table_name", values[0], name)) {
    return nullptr;
  }
  const TableInfo* table = s.database->catalog().find(name);
  if (table == nullptr) {
    PyErr_Format(PyExc_ValueError, "Table not found: %U", values[0]);
    return nullptr;
  }
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const auto& entry : table->columns) {
    PyRef column(column_to_dict(entry.second));
    if (!column || PyList_Append(list.get(), column.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* read_table(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[2];
  std::string_view name;
  std::optional<ColumnSelection> columns;
  if (!keyword_only_after(kReadTable, nargs, 1) || !parse_arguments(kReadTable, args, nargs, kwnames, values) ||
      !text_argument(kReadTable, "table_name", values[0], name) ||
      !columns_argument(kReadTable, values[1], columns)) {
    return nullptr;
  }
  if (columns && table_for_columns(s, name, columns) == nullptr) return nullptr;
  auto opened = open_table_reader(*s.database, name, columns ? &*columns : nullptr);
  if (!opened) return raise_ese_error(opened.error());
  ChunkedReader reader(std::move(opened).value());

  // One key str per column, shared by every row's dict; the rows' fields come in the
  // plan's column order.
  std::vector<PyRef> keys;
  keys.reserve(reader.reader().plan().columns.size());
  for (const auto& column : reader.reader().plan().columns) {
    keys.emplace_back(lossy_text(column.info->name));
    if (!keys.back()) return nullptr;
  }

  PyRef rows(PyList_New(0));
  if (!rows) return nullptr;
  while (const Record* record = reader.next()) {
    PyRef row(record_to_dict(*record, keys));
    if (!row || PyList_Append(rows.get(), row.get()) < 0) return nullptr;
  }
  if (reader.step() == TableRecordReader::Step::End) return rows.release();
  // No partial result: the rows read so far go with `rows`.
  return raise_message(PyExc_IOError, in_context(ErrorContext::ReadingRecord, reader.reader().error()));
}

// ---- Export -------------------------------------------------------------------------

// The OS never sees a name with a NUL byte: it would stop reading at the NUL and
// write to a different file. Such a name fails as the OS fails invalid names.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

PyObject* raise_invalid_name(const char* prefix) {
  return raise_message(PyExc_IOError, std::string(prefix) + platform::invalid_name_error().os_error_text());
}

// A table that cannot be looked up raises as every lookup does; the rest as IOError
// with the message of its context.
PyObject* raise_export_failure(const EseError& error) {
  if (error.context() == ErrorContext::None) return raise_ese_error(error);
  return raise_message(PyExc_IOError, error.message());
}

constexpr const char* kExportTableNames[] = {"table_name", "output_path", "columns"};
constexpr Signature kExportTable = signature("export_table", kExportTableNames, 2);
constexpr const char* kExportAllNames[] = {"output_dir", "columns"};
constexpr Signature kExportAll = signature("export_all", kExportAllNames, 1);

PyObject* export_table(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[3];
  std::string_view name;
  std::string_view output_path;
  PyRef path_text;
  std::optional<ColumnSelection> columns;
  if (!keyword_only_after(kExportTable, nargs, 2) || !parse_arguments(kExportTable, args, nargs, kwnames, values) ||
      !text_argument(kExportTable, "table_name", values[0], name) ||
      !path_argument(kExportTable, "output_path", values[1], path_text, output_path) ||
      !columns_argument(kExportTable, values[2], columns)) {
    return nullptr;
  }
  if (columns && table_for_columns(s, name, columns) == nullptr) return nullptr;
  // The table is looked up first, as an export of a missing table creates nothing.
  if (has_nul(output_path)) {
    auto reader = open_table_reader(*s.database, name);
    if (!reader) return raise_ese_error(reader.error());
    return raise_invalid_name(context_prefix(ErrorContext::CreatingOutputFile));
  }
  Status exported;
  {
    // Reading, rendering and writing touch no Python object.
    GilRelease released;
    exported = export_table_file(*s.database, name, std::string(output_path), s.file, columns ? &*columns : nullptr, &s.log_files);
  }
  if (!exported) return raise_export_failure(exported.error());
  Py_RETURN_NONE;
}

PyObject* export_all(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[2];
  std::string_view output_dir_view;
  PyRef path_text;
  std::optional<ColumnSelection> columns;
  if (!keyword_only_after(kExportAll, nargs, 1) || !parse_arguments(kExportAll, args, nargs, kwnames, values) ||
      !path_argument(kExportAll, "output_dir", values[0], path_text, output_dir_view) ||
      !columns_argument(kExportAll, values[1], columns)) {
    return nullptr;
  }
  if (columns) {
    std::vector<const TableInfo*> tables;
    for (const auto& entry : s.database->catalog()) tables.push_back(&entry.second);
    if (!check_columns(columns, tables)) return nullptr;
  }
  if (has_nul(output_dir_view)) return raise_invalid_name(context_prefix(ErrorContext::CreatingOutputDirectory));
  const std::string output_dir(output_dir_view);
  if (Status made = create_output_directory(output_dir); !made) {
    return raise_message(PyExc_IOError, made.error().message());
  }
  for (const auto& entry : s.database->catalog()) {
    // Each table is read through its own catalog entry (its stored name bytes) and its
    // file is named with the text get_tables lists: a stored name that is not valid
    // UTF-8 would not be found again under its lossy text.
    const std::string name = lossy_utf8(as_bytes(entry.second.name));
    const auto file_name = export_file_name(name);
    if (!file_name) return raise_message(PyExc_IOError, file_name.error().message());
    // A table with none of the selected columns is passed over: it has nothing to give.
    if (columns && !table_has_any(entry.second, *columns)) continue;
    Status exported;
    {
      GilRelease released;
      exported = export_table_file(*s.database, entry.first, output_file_path(output_dir, *file_name), s.file,
                                   columns ? &*columns : nullptr, &s.log_files);
    }
    if (!exported) return raise_export_failure(exported.error());
  }
  Py_RETURN_NONE;
}

// ---- Carving ------------------------------------------------------------------------

constexpr const char* kCarveNames[] = {"needle", "min_chars", "max_hits"};
constexpr Signature kCarve = signature("carve_utf16le_strings", kCarveNames, 0);
constexpr const char* kCarveScopedNames[] = {"scope", "needle", "min_chars", "max_hits"};
constexpr Signature kCarveScoped = signature("carve_utf16le_strings_scoped", kCarveScopedNames, 1);

PyObject* hits_to_list(const Database& db, const std::vector<CarveHit>& hits) {
  HitKeys keys;
  if (!keys.make()) return nullptr;
  PyRef list(PyList_New(static_cast<Py_ssize_t>(hits.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    PyObject* dict = keys.to_dict(hits[i], hit_file_offset(hits[i], db.page_size()));
    if (dict == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict);  // steals the reference
  }
  return list.release();
}

// Converts needle, min_chars and max_hits, found at values[first..first+2].
bool carve_options(const Signature& sig, PyObject* const* values, std::string_view& needle,
                   std::uint64_t& min_chars, std::uint64_t& max_hits) {
  return optional_text_argument(sig, "needle", values[0], needle) &&
         u64_argument(sig, "min_chars", values[1], app::kCarveDefaultMinChars, min_chars) &&
         u64_argument(sig, "max_hits", values[2], app::kCarveDefaultMaxHits, max_hits);
}

PyObject* carve_slack(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[3];
  std::string_view needle;
  std::uint64_t min_chars = 0;
  std::uint64_t max_hits = 0;
  if (!parse_arguments(kCarve, args, nargs, kwnames, values) ||
      !carve_options(kCarve, values, needle, min_chars, max_hits)) {
    return nullptr;
  }
  std::vector<CarveHit> hits;
  {
    GilRelease released;  // the scan reads the file only
    hits = carve_strings(*s.database, CarveScope::Slack, needle, min_chars, max_hits);
  }
  return hits_to_list(*s.database, hits);
}

PyObject* carve_scoped(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[4];
  std::string_view scope_name;
  std::string_view needle;
  std::uint64_t min_chars = 0;
  std::uint64_t max_hits = 0;
  // Every argument is converted before the scope name is judged.
  if (!parse_arguments(kCarveScoped, args, nargs, kwnames, values) ||
      !text_argument(kCarveScoped, "scope", values[0], scope_name) ||
      !carve_options(kCarveScoped, values + 1, needle, min_chars, max_hits)) {
    return nullptr;
  }
  const auto scope = parse_carve_scope(scope_name);
  if (!scope) {
    PyErr_Format(PyExc_ValueError, "Invalid scope: %U (expected: slack, all, tag_data, lv_all, lv_slack)",
                 values[0]);
    return nullptr;
  }
  std::vector<CarveHit> hits;
  {
    GilRelease released;  // the scan reads the file only
    hits = carve_strings(*s.database, *scope, needle, min_chars, max_hits);
  }
  return hits_to_list(*s.database, hits);
}

// ---- Construction and destruction ---------------------------------------------------------

constexpr const char* kPathNames[] = {"path", "profiles", "logs"};
constexpr Signature kConstructor = signature("EseDatabase", kPathNames, 1);


PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* values[3];
  std::string_view path;
  PyRef path_text;
  std::optional<std::string> logs;
  if (!parse_arguments(kConstructor, args, kwargs, values) ||
      !path_argument(kConstructor, "path", values[0], path_text, path) ||
      !logs_argument(kConstructor, values[2], std::string(path), logs)) {
    return nullptr;
  }
  auto state = std::make_unique<DatabaseState>();
  state->path = std::string(path);
  app::Opened opened = app::open_for_user(state->path);
  if (!opened) {
    const app::OpenFailure& failure = opened.failure;
    switch (failure.kind) {
      case app::OpenFailure::Kind::NotFound:
        // The path as the caller's str shows it (the message's text is the same for
        // every path that is valid UTF-8).
        PyErr_Format(PyExc_FileNotFoundError, "Database file not found: %U", path_text ? path_text.get() : values[0]);
        return nullptr;
      case app::OpenFailure::Kind::System:  // a directory, access denied: the OSError subclass
        return raise_os_error(failure.os_code, failure.message);
      case app::OpenFailure::Kind::Format:
      case app::OpenFailure::Kind::Replay:
        break;
    }
    return raise_message(PyExc_IOError, failure.message);
  }
  state->database = std::move(opened.database);
  if (logs && !replay_into(*state, *logs)) return nullptr;
  state->file = file_identity(state->path);
  if (!choose_profile(*state, values[1])) return nullptr;

  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<EseDatabaseObject*>(self)->state = state.release();
  return self;
}

PyObject* new_object(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return construct(type, args, kwargs); });
}

void dealloc(PyObject* self) {
  auto* object = reinterpret_cast<EseDatabaseObject*>(self);
  delete object->state;  // unmaps the file
  object->state = nullptr;
  PyTypeObject* type = Py_TYPE(self);
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// ---- The type ---------------------------------------------------------------------

PyGetSetDef kProperties[] = {
    {"path", property_getter<get_path>, nullptr,
     "Get the path to the database file.\n\nReturns:\n    str: Path to the database file", nullptr},
    {"page_size", property_getter<get_page_size>, nullptr,
     "Get the database page size.\n\nReturns:\n    int: Page size in bytes", nullptr},
    {"total_pages", property_getter<get_total_pages>, nullptr,
     "Get the total number of pages in the database.\n\nReturns:\n    int: Total number of pages", nullptr},
    {"profile", profile_getter, nullptr, kProfileDoc, nullptr},
    {"batch_memory", property_getter<get_batch_memory>, set_batch_memory,
     "The bytes of released Arrow batch buffers kept for later batches and readings of\n"
     "arrow_table and arrow_view streams (default 64 MiB: about four batches of 65,536\n"
     "rows of a dozen columns). Kept buffers spare the next reading fresh pages, which\n"
     "the system must clear first; they are given back after about a second without a\n"
     "reading, when the object goes, and on setting a lower value (0: keep none).\n\n"
     "Returns:\n    int: Bytes kept at most", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"get_tables", as_cfunction(noargs_method<get_tables>), METH_NOARGS,
     "get_tables($self)\n--\n\nGet a list of all table names in the database.\n\nReturns:\n"
     "    list[str]: List of table names"},
    {"read_table", as_cfunction(fast_method<read_table>), kFastKeywords,
     "read_table($self, table_name, *, columns=None)\n--\n\nRead all records from a table.\n\nArgs:\n"
     "    table_name: Name of the table to read\n"
     "    columns: Names of the columns to read (default: all); rows hold them in the table's order\n\nReturns:\n    list[dict]: List of records as dictionaries\n\n"
     "Raises:\n    ValueError: If the table doesn't exist\n    IOError: If there's an error reading the table"},
    {"iter_table", as_cfunction(iter_table), kFastKeywords,
     "iter_table($self, table_name, *, columns=None)\n--\n\nIterate over the records of a table, one at a time.\n\nArgs:\n"
     "    table_name: Name of the table to read\n    columns: Names of the columns to read (default: all)\n\nReturns:\n"
     "    Iterator[dict]: Records as dictionaries, in the order read_table returns them\n\n"
     "Raises:\n    ValueError: If the table doesn't exist\n"
     "    IOError: If there's an error reading the table (raised by the iteration)"},
    {"get_table_schema", as_cfunction(fast_method<get_table_schema>), kFastKeywords,
     "get_table_schema($self, table_name)\n--\n\nGet the schema (columns) for a table.\n\nArgs:\n"
     "    table_name: Name of the table\n\nReturns:\n"
     "    list[dict]: List of column information with 'name' (str), 'type' (str, e.g. 'Long'),\n"
     "    'id' (int) and 'nullable' (bool), in column id order\n\nRaises:\n"
     "    ValueError: If the table doesn't exist"},
    {"export_table", as_cfunction(fast_method<export_table>), kFastKeywords,
     "export_table($self, table_name, output_path, *, columns=None)\n--\n\nExport a table to JSONL format.\n\nArgs:\n"
     "    table_name: Name of the table to export\n"
     "    output_path: Path to the output JSONL file (str or os.PathLike)\n"
     "    columns: Names of the columns to write (default: all)\n\n"
     "Raises:\n    ValueError: If the table doesn't exist\n    IOError: If there's an error writing the file"},
    {"carve_utf16le_strings", as_cfunction(fast_method<carve_slack>), kFastKeywords,
     "carve_utf16le_strings($self, needle=None, min_chars=6, max_hits=1000)\n--\n\n"
     "Carve printable UTF-16LE strings from the slack of every page: the space between\n"
     "a page's last value and its tag array, which still holds deleted data.\n\n"
     "Args:\n"
     "    needle: Only strings containing this text (case-sensitive); None for all\n"
     "    min_chars: Shortest string reported, in characters (at least 2)\n"
     "    max_hits: Stop after this many strings (at least 1)\n\n"
     "Returns:\n"
     "    list[dict]: One dict per string, in page order: 'page' (int), 'offset' (int, in the\n"
     "    page), 'slack_start' and 'slack_end' (int, the region's bounds in the page),\n"
     "    'region_kind' ('slack', 'all' or 'tag_data'), 'page_flags' (int), 'page_type' (str),\n"
     "    'table' (str or None: the table owning the page), 'text' (str) and 'file_offset'\n"
     "    (int, the string's offset in the file)\n\n""Raises:\n"
     "    TypeError: If an argument has the wrong type\n"
     "    OverflowError: If min_chars or max_hits is negative or too large"},
    {"carve_utf16le_strings_scoped", as_cfunction(fast_method<carve_scoped>), kFastKeywords,
     "carve_utf16le_strings_scoped($self, scope, needle=None, min_chars=6, max_hits=1000)\n--\n\n"
     "Carve printable UTF-16LE strings from the chosen page space.\n\n"
     "Args:\n"
     "    scope: 'slack' (unused space of each page), 'all' (whole pages), 'tag_data' (the\n"
     "        values of tags), 'lv_all' or 'lv_slack' (the same two for long-value pages only)\n"
     "    needle: Only strings containing this text (case-sensitive); None for all\n"
     "    min_chars: Shortest string reported, in characters (at least 2)\n"
     "    max_hits: Stop after this many strings (at least 1)\n\n"
     "Returns:\n"
     "    list[dict]: One dict per string, in page order: 'page' (int), 'offset' (int, in the\n"
     "    page), 'slack_start' and 'slack_end' (int, the region's bounds in the page),\n"
     "    'region_kind' ('slack', 'all' or 'tag_data'), 'page_flags' (int), 'page_type' (str),\n"
     "    'table' (str or None: the table owning the page), 'text' (str) and 'file_offset'\n"
     "    (int, the string's offset in the file)\n\n""Raises:\n"
     "    ValueError: If the scope is not one of the five names\n"
     "    TypeError: If an argument has the wrong type\n"
     "    OverflowError: If min_chars or max_hits is negative or too large"},
    {"export_all", as_cfunction(fast_method<export_all>), kFastKeywords,
     "export_all($self, output_dir, *, columns=None)\n--\n\nExport all tables to JSONL files in a directory.\n\nArgs:\n"
     "    output_dir: Directory to write JSONL files to (str or os.PathLike)\n"
     "    columns: Names of the columns to write (default: all); a table without any of them\n"
     "      is not written, a name no table has is a ValueError\n\nRaises:\n"
     "    IOError: If there's an error creating the directory or writing files"},
    {"arrow_table", as_cfunction(arrow_table_method), kFastKeywords, kArrowTableDoc},
    {"views", views_method, METH_NOARGS, kViewsDoc},
    {"view_columns", as_cfunction(view_columns_method), kFastKeywords, kViewColumnsDoc},
    {"arrow_view", as_cfunction(arrow_view_method), kFastKeywords, kArrowViewDoc},
    {"read_view", as_cfunction(read_view_method), kFastKeywords, kReadViewDoc},
    {"timeline", as_cfunction(fast_method<timeline_method>), kFastKeywords, kTimelineDoc},
    {"report", as_cfunction(report_method), kFastKeywords, kReportDoc},
    {"verify", as_cfunction(noargs_method<forensic_verify>), METH_NOARGS,
     "verify($self)\n--\n\nCheck the checksums of both header copies and of every page.\n\nReturns:\n"
     "    list[dict]: One dict per damaged page or header copy (page -1: the header, 0: its\n"
     "    shadow copy), in page order, with 'page', 'problem', 'stored', 'computed' and, for a\n"
     "    single flipped bit, 'bit' (its offset in the page in bits); a last page the file holds\n"
     "    only in part is 'truncated', with 'bytes_present'; a file cut short (the database owns\n"
     "    pages past its end) ends the list with one problem 'truncated: the database owns N pages,\n"
     "    the file holds M' at the first missing page; a file whose pages carry no checksums\n"
     "    (every stored one 0) gives one problem 'no checksums: ...' instead of one per page\n\n"
     "Raises:\n    IOError: If the file cannot be read"},
    {"header_info", as_cfunction(noargs_method<forensic_header_info>), METH_NOARGS,
     "header_info($self)\n--\n\nFacts from the database header: format, state, times, log\n"
     "generations required, the writer's OS, and whether both header copies agree and verify.\n\n"
     "Returns:\n    dict: 'format_version', 'format_revision', 'page_size', 'state' (str),\n"
     "    'state_code', 'database_time' (int); 'creation_time', 'last_consistent_time',\n"
     "    'last_attach_time', 'last_detach_time', 'last_repair_time' (datetime, aware in UTC\n"
     "    when the header says UTC, or None); 'log_generations_required' (tuple of two ints),\n"
     "    'os_version' (str), 'os_build', 'os_service_pack', 'repair_count' (int), 'file_type'\n"
     "    (str), 'header_copies_agree', 'header_checksum_ok', 'shadow_header_checksum_ok' (bool);\n"
     "    'truncated': None, or {'owned_pages', 'file_pages'} when the database's space tree owns\n"
     "    pages past the end of the file (a copy cut short)\n\n"
     "Raises:\n    IOError: If the header cannot be read"},
    {"get_table_indexes", as_cfunction(fast_method<forensic_get_table_indexes>), kFastKeywords,
     "get_table_indexes($self, table_name)\n--\n\nGet the index definitions of a table.\n\nReturns:\n"
     "    list[dict]: 'name', 'columns' (list of {'name', 'descending'} in key order), 'unique',\n"
     "    'primary', in catalog order\n\nArgs:\n    table_name: Name of the table\n\n"
     "Raises:\n    ValueError: If the table doesn't exist"},
    {"recover_records", as_cfunction(fast_method<forensic_recover_records>), kFastKeywords,
     "recover_records($self, table_name)\n--\n\nRecords of a table that are no longer live but can\n"
     "still be read: flag-deleted nodes and record images in the free space of its leaf pages.\n\n"
     "Returns:\n    list[dict]: 'page', 'offset', 'source' ('flagged_deleted' or 'free_space'),\n"
     "    'record' (as read_table returns it; a long value no longer found is None),\n"
     "    'live' ('identical' or 'older_version' when a live row has the same primary key,\n"
     "    with the same or other values; None otherwise or without a primary index),\n"
     "    'missing_long_values' (names of the columns whose long value is gone)\n\n"
     "Args:\n    table_name: Name of the table\n\n"
     "Raises:\n    ValueError: If the table doesn't exist"},
    {"catalog_problems", as_cfunction(noargs_method<forensic_catalog_problems>), METH_NOARGS,
     "catalog_problems($self)\n--\n\nCatalog rows passed over when the database was opened:\n"
     "types the reader has no use for (callbacks, old streaming-file trees, unknown codes),\n"
     "unknown column types, rows too short for their type.\n\nReturns:\n"
     "    list[dict]: 'page', 'tag', 'object_id' (the table the row belongs to), 'type',\n"
     "    'error', in catalog order; None for a field the row is too short to hold\n\n"
     "Raises:\n    (none: the rows were read when the database was opened)"},
    {"replay_report", as_cfunction(noargs_method<replay_report>), METH_NOARGS, kReplayReportDoc},
    {"__enter__", as_cfunction(enter), METH_NOARGS, "__enter__($self)\n--\n\nContext manager support: enter"},
    {"__exit__", as_cfunction(exit_method), kFastKeywords,
     "__exit__($self, _exc_type, _exc_value, _traceback)\n--\n\nContext manager support: exit"},
    {nullptr, nullptr, 0, nullptr},
};

constexpr char kClassDoc[] =
    "EseDatabase(path, profiles=None, logs=None)\n--\n\n"
    "Python wrapper for ESE database.\n\n"
    "This class provides access to Microsoft ESE databases from Python.\n\n"
    "Example:\n"
    "    >>> from quarrow import EseDatabase\n"
    "    >>> db = EseDatabase(\"Current.mdb\")\n"
    "    >>> tables = db.get_tables()\n"
    "    >>> records = db.read_table(\"MSysObjects\")\n\n"
    "Args:\n"
    "    path: The database file (str or os.PathLike); it is only read, never written\n"
    "    profiles: Profile files (a list of str or os.PathLike) tried before the built-in\n"
    "        ones; None for the built-in profiles only\n"
    "    logs: A folder of transaction logs (str or os.PathLike; True for the database\n"
    "        file's own folder) to replay onto the database: every reading, view, export,\n"
    "        recovery and carving then sees the database as the engine's recovery would\n"
    "        leave it, computed in memory (the file and the logs are only read). None (the\n"
    "        default): the file as it is. replay_report() says what the replay did\n\n"
    "Raises:\n"
    "    FileNotFoundError: If there is no file at the path, or no log folder at logs\n"
    "    IOError: If the file is not an ESE database or cannot be read (an OSError\n"
    "        subclass for operating-system errors)\n"
    "    IOError: If the logs cannot be replayed onto the database (a missing generation,\n"
    "        logs of another database, a page the file lost a write of); the message\n"
    "        names the log position and the page\n"
    "    TypeError: If the path is not a str or os.PathLike (bytes paths included)\n"
    "    ValueError: If a profile file cannot be read";

PyType_Slot kSlots[] = {
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_new, reinterpret_cast<void*>(new_object)},
    {Py_tp_repr, reinterpret_cast<void*>(slot<repr>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {0, nullptr},
};

PyType_Spec kTypeDescription = {
    "quarrow.EseDatabase",
    static_cast<int>(sizeof(EseDatabaseObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    kSlots,
};

}  // namespace

DatabaseState* database_state(PyObject* self) { return state_of(self); }

PyObject* ese_database_type() {
  if (g_type == nullptr) {
    g_type = PyType_FromSpec(&kTypeDescription);
    if (g_type == nullptr) return nullptr;
  }
  Py_INCREF(g_type);
  return g_type;
}

}  // namespace quarrow::python
