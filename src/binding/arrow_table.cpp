#include "binding/arrow_table.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <algorithm>
#include <optional>

#include "export/arrow_stream.h"
#include "binding/args.h"
#include "binding/arrow_object.h"
#include "binding/convert.h"
#include "binding/notes.h"
#include "binding/ese_database.h"
#include "binding/reading.h"

namespace quarrow::python {

const char kArrowTableDoc[] =
    "arrow_table($self, table_name, *, batch_rows=65536, columns=None, threads=None, part=None)\n--\n\n"
    "A table's decoded values for Arrow consumers.\n\n"
    "The result has __arrow_c_schema__ and __arrow_c_stream__ (the Arrow PyCapsule\n"
    "protocol), so pyarrow.table(obj), polars.DataFrame(obj), duckdb.sql('select * from obj')\n"
    "and pandas.DataFrame.from_arrow(obj) read it. Each stream reads the table afresh in\n"
    "batches of batch_rows records. DateTime becomes timestamp[us], Currency decimal128(19, 4),\n"
    "GUID arrow.uuid, multi-valued columns lists; column defaults are applied.\n\n"
    "Batches are decoded on `threads` worker threads (default: the processors available,\n"
    "at most 8), each on its own stretch of the table's leaf pages; they come in table order\n"
    "with the same values as on one thread. A table is cut into several stretches per\n"
    "thread, and a batch ends with its stretch, so batches may hold fewer than batch_rows\n"
    "records; a table of fewer than a few thousand records is read on one thread. The\n"
    "buffers of released batches are kept for later readings (see batch_memory).\n\n"
    "Args:\n    table_name: Name of the table\n    batch_rows: Records per batch (at least 1)\n"
    "    columns: Names of the columns to read (default: all), in the table's column order\n"
    "    threads: Decoding threads (1: on the consumer's thread)\n"
    "    part: (index, count): only stretch `index` of `count` near-equal stretches of the\n"
    "      table's leaf pages; parts 0 .. count - 1 together are the whole table, in order\n\n"
    "Returns:\n    ArrowTable: An object with __arrow_c_schema__() and __arrow_c_stream__()\n\n"
    "Raises:\n    ValueError: If the table or a column doesn't exist, batch_rows or threads is below 1";

namespace {

struct ArrowTableObject {
  PyObject_HEAD
  // Owned; the C++ members live outside the object, whose memory Python manages.
  std::shared_ptr<const Database>* database;
  std::string* table_name;
  std::optional<ColumnSelection>* columns;
  std::shared_ptr<arrow::BufferPool>* pool;  // the database's kept batch memory
  std::int64_t batch_rows;
  unsigned threads;
  std::size_t part_index;
  std::size_t part_count;
};

ArrowTableObject* as_table(PyObject* self) { return reinterpret_cast<ArrowTableObject*>(self); }

// Holds a schema until it is handed to a capsule.
struct OwnedSchema {
  ArrowSchema* schema = new ArrowSchema{};
  ~OwnedSchema() {
    if (schema == nullptr) return;
    if (schema->release != nullptr) schema->release(schema);
    delete schema;
  }
};

bool make_schema(ArrowTableObject* t, OwnedSchema& out) {
  const Status status =
      export_arrow_schema(**t->database, *t->table_name, out.schema, *t->columns ? &**t->columns : nullptr);
  if (!status) {
    raise_ese_error(status.error());
    return false;
  }
  return true;
}

bool same_types(const ArrowSchema* a, const ArrowSchema* b) {
  if (std::strcmp(a->format, b->format) != 0 || a->n_children != b->n_children) return false;
  for (std::int64_t k = 0; k < a->n_children; ++k) {
    if (!same_types(a->children[k], b->children[k])) return false;
  }
  return true;
}

PyObject* arrow_c_schema(PyObject* self, PyObject*) {
  try {
    OwnedSchema owned;
    if (!make_schema(as_table(self), owned)) return nullptr;
    return schema_capsule(std::exchange(owned.schema, nullptr));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

constexpr const char* kStreamNames[] = {"requested_schema"};
constexpr Signature kStream{"__arrow_c_stream__", kStreamNames, 1, 0};

PyObject* arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[1];
  if (!parse_arguments(kStream, args, nargs, kwnames, values)) return nullptr;
  ArrowTableObject* t = as_table(self);
  try {
    PyObject* requested = values[0];
    if (requested != nullptr && requested != Py_None) {
      // The values can be given only in the table's own types: no casting here.
      auto* wanted = capsule_schema(requested);
      if (wanted == nullptr) return nullptr;
      OwnedSchema own;
      if (!make_schema(t, own)) return nullptr;
      if (!same_types(own.schema, wanted)) {
        PyErr_SetString(PyExc_NotImplementedError, kNoConversion);
        return nullptr;
      }
    }
    auto* stream = new ArrowArrayStream{};
    ArrowStreamOptions options;
    options.batch_rows = t->batch_rows;
    options.threads = t->threads;
    options.columns = *t->columns ? &**t->columns : nullptr;
    options.part_index = t->part_index;
    options.part_count = t->part_count;
    options.pool = *t->pool;
    const Status status = export_arrow_stream(*t->database, *t->table_name, options, stream);
    if (!status) {
      delete stream;
      return raise_ese_error(status.error());
    }
    return stream_capsule(stream);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* arrow_table_repr(PyObject* self) {
  ArrowTableObject* t = as_table(self);
  PyRef name(lossy_text(*t->table_name));
  if (!name) return nullptr;
  return PyUnicode_FromFormat("ArrowTable(%R, batch_rows=%lld)", name.get(), static_cast<long long>(t->batch_rows));
}

void arrow_table_dealloc(PyObject* self) {
  ArrowTableObject* t = as_table(self);
  delete t->database;
  delete t->table_name;
  delete t->columns;
  delete t->pool;
  free_heap_object(self);
}

ArrowObjectType g_arrow_table_type({"quarrow.ArrowTable", static_cast<int>(sizeof(ArrowTableObject)), "A table's decoded values through the Arrow PyCapsule protocol.", "table",
                         arrow_c_schema, arrow_c_stream, arrow_table_repr, arrow_table_dealloc});

constexpr const char* kArrowTableNames[] = {"table_name", "batch_rows", "columns", "threads", "part"};
constexpr Signature kArrowTable{"arrow_table", kArrowTableNames, 5, 1};

}  // namespace

// part=(index, count) with 0 <= index < count.
bool part_argument(const char* function, PyObject* value, std::size_t& index, std::size_t& count) {
  index = 0;
  count = 1;
  if (value == nullptr || value == Py_None) return true;
  if (!PyTuple_Check(value) || PyTuple_Size(value) != 2) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'part' must be a tuple (index, count)", function);
    return false;
  }
  const long long k = PyLong_AsLongLong(PyTuple_GetItem(value, 0));
  if (k == -1 && PyErr_Occurred()) return false;
  const long long n = PyLong_AsLongLong(PyTuple_GetItem(value, 1));
  if (n == -1 && PyErr_Occurred()) return false;
  if (n < 1 || k < 0 || k >= n) {
    PyErr_SetString(PyExc_ValueError, "part must be (index, count) with 0 <= index < count");
    return false;
  }
  index = static_cast<std::size_t>(k);
  count = static_cast<std::size_t>(n);
  return true;
}

// threads=None: the processors available, at most kMaxArrowThreads; an int: at least
// 1, at most kMaxArrowThreads.
bool threads_argument(const char* function, PyObject* value, unsigned& threads) {
  threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxArrowThreads);
  if (value == nullptr || value == Py_None) return true;
  if (!PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'threads' must be int or None", function);
    return false;
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (n == -1 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && n < 1)) {
    PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
    return false;
  }
  threads = overflow > 0 || n > kMaxArrowThreads ? kMaxArrowThreads : static_cast<unsigned>(n);
  return true;
}

namespace {

PyObject* make_arrow_table(DatabaseState& state, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError, "arrow_table() takes 1 positional argument but %zd were given", nargs);
    return nullptr;
  }
  PyObject* values[5];
  std::string_view name;
  std::optional<ColumnSelection> columns;
  std::size_t part_index = 0;
  std::size_t part_count = 1;
  if (!parse_arguments(kArrowTable, args, nargs, kwnames, values) ||
      !text_argument(kArrowTable, "table_name", values[0], name) ||
      !columns_argument(kArrowTable, values[2], columns) || !part_argument("arrow_table", values[4], part_index, part_count)) {
    return nullptr;
  }
  unsigned threads = 1;
  if (!threads_argument("arrow_table", values[3], threads)) return nullptr;
  long long batch_rows = kDefaultBatchRows;
  if (values[1] != nullptr) {
    if (!PyLong_Check(values[1])) {
      PyErr_SetString(PyExc_TypeError, "arrow_table() argument 'batch_rows' must be int");
      return nullptr;
    }
    int overflow = 0;
    batch_rows = PyLong_AsLongLongAndOverflow(values[1], &overflow);
    if (batch_rows == -1 && PyErr_Occurred()) return nullptr;
    if (overflow > 0) batch_rows = INT64_MAX;
    if (overflow < 0 || batch_rows < 1) {
      PyErr_SetString(PyExc_ValueError, "batch_rows must be at least 1");
      return nullptr;
    }
  }
  const TableInfo* table = state.database->catalog().find(name);
  if (table == nullptr) {
    PyErr_Format(PyExc_ValueError, "Table not found: %U", values[0]);
    return nullptr;
  }
  if (!check_columns(columns, {table})) return nullptr;
  auto database = std::make_unique<std::shared_ptr<const Database>>(state.database);
  auto table_name = std::make_unique<std::string>(name);
  auto selection = std::make_unique<std::optional<ColumnSelection>>(std::move(columns));
  auto pool = std::make_unique<std::shared_ptr<arrow::BufferPool>>(state.batch_memory);
  PyObject* object = g_arrow_table_type.alloc();
  if (object == nullptr) return nullptr;
  ArrowTableObject* t = as_table(object);
  t->database = database.release();
  t->table_name = table_name.release();
  t->columns = selection.release();
  t->pool = pool.release();
  t->batch_rows = batch_rows;
  t->threads = threads;
  t->part_index = part_index;
  t->part_count = part_count;
  return object;
}

}  // namespace

PyObject* arrow_table_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& state) {
    PyObject* result = make_arrow_table(state, args, nargs, kwnames);
    if (result == nullptr) note_table_error(*state.database, args, nargs, kwnames);
    return result;
  });
}

}  // namespace quarrow::python
