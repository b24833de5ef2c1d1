// EseDatabase.iter_table: the records of one table as dictionaries, one per step of
// an iterator, so that a table of any size is read in constant memory. The values and
// their order are those of read_table; only the table reader's position is kept
// between steps.
//
// The iterator holds a reference to the EseDatabase object, whose Database the reader
// borrows, and takes a shared use of the object for each step, as every method does.
#include <Python.h>

#include <exception>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/iterator_type.h"
#include "binding/ese_database.h"
#include "binding/notes.h"
#include "binding/reading.h"
#include "record/reader.h"
#include "record/text.h"

namespace quarrow::python {
namespace {

// What one iterator owns besides its database object; gone once the table ended.
// The records are decoded a chunk at a time with the GIL released; each step hands
// out the next one.
struct Reading {
  explicit Reading(TableRecordReader r) : reader(std::move(r)) {}
  ChunkedReader reader;
  std::vector<PyRef> keys;  // one key str per column, shared by every row
  // Set while a step decodes with the GIL released: another thread's step on the same
  // iterator is refused rather than let two threads move one reader.
  bool busy = false;
};

struct TableIteratorObject {
  PyObject_HEAD
  PyObject* database;  // the EseDatabase object (strong reference)
  Reading* reading;    // nullptr once the table has ended
};


PyObject* next_row(PyObject* self) {
  auto* it = reinterpret_cast<TableIteratorObject*>(self);
  if (it->reading == nullptr) return nullptr;  // exhausted: StopIteration
  return with_database(it->database, [&](DatabaseState& state) -> PyObject* {
    Reading& r = *it->reading;
    if (r.busy) return raise_message(PyExc_ValueError, "iter_table iterator already executing");
    r.busy = true;
    const Record* record = nullptr;
    {
      struct Done {
        bool& busy;
        ~Done() { busy = false; }
      } done{r.busy};
      record = r.reader.next();
    }
    if (record != nullptr) return record_to_dict(*record, r.keys);
    if (r.reader.step() == TableRecordReader::Step::End) {
      delete it->reading;
      it->reading = nullptr;
      return nullptr;
    }
    // The reader stays where it failed: a further step raises the same error.
    raise_message(PyExc_IOError, in_context(ErrorContext::ReadingRecord, r.reader.reader().error()));
    note_read_error(*state.database, lossy_utf8(as_bytes(r.reader.reader().table().name)));
    return nullptr;
  });
}

void dealloc_iterator(PyObject* self) {
  auto* it = reinterpret_cast<TableIteratorObject*>(self);
  delete it->reading;
  it->reading = nullptr;
  Py_CLEAR(it->database);
  free_heap_object(self);
}

IteratorType g_iterator_type({"quarrow.TableIterator", static_cast<int>(sizeof(TableIteratorObject)),
                              "Iterator over the records of one table, as dictionaries.", next_row, dealloc_iterator});

constexpr const char* kIterTableNames[] = {"table_name", "columns"};
constexpr Signature kIterTable{"iter_table", kIterTableNames, 2, 1};

PyObject* open_iterator(PyObject* self, DatabaseState* state, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return run_guarded([&]() -> PyObject* {
    PyObject* values[2];
    std::string_view name;
    std::optional<ColumnSelection> columns;
    if (!keyword_only_after(kIterTable, nargs, 1) || !parse_arguments(kIterTable, args, nargs, kwnames, values) ||
        !text_argument(kIterTable, "table_name", values[0], name) ||
        !columns_argument(kIterTable, values[1], columns)) {
      return nullptr;
    }
    if (columns) {
      const TableInfo* table = state->database->catalog().find(name);
      if (table == nullptr) return raise_ese_error(EseError::table_not_found(std::string(name)));
      if (!check_columns(columns, {table})) return nullptr;
    }
    auto opened = open_table_reader(*state->database, name, columns ? &*columns : nullptr);
    if (!opened) return raise_ese_error(opened.error());
    auto reading = std::make_unique<Reading>(std::move(opened).value());
    reading->keys.reserve(reading->reader.reader().plan().columns.size());
    for (const auto& column : reading->reader.reader().plan().columns) {
      reading->keys.emplace_back(lossy_text(column.info->name));
      if (!reading->keys.back()) return nullptr;
    }
    PyObject* object = g_iterator_type.alloc();
    if (object == nullptr) return nullptr;
    auto* it = reinterpret_cast<TableIteratorObject*>(object);
    Py_INCREF(self);
    it->database = self;
    it->reading = reading.release();
    return object;
  });
}

}  // namespace

PyObject* iter_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& state) {
    PyObject* result = open_iterator(self, &state, args, nargs, kwnames);
    if (result == nullptr) note_table_error(*state.database, args, nargs, kwnames);
    return result;
  });
}

}  // namespace quarrow::python
