#include "binding/reading.h"

#include <string>

#include "binding/convert.h"

namespace quarrow::python {

bool columns_argument(const Signature& sig, PyObject* value, std::optional<ColumnSelection>& out) {
  out.reset();
  if (value == nullptr || value == Py_None) return true;
  if (!PyList_Check(value) && !PyTuple_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'columns' must be a list of str", sig.function);
    return false;
  }
  const Py_ssize_t n = PySequence_Size(value);
  if (n < 0) return false;
  if (n == 0) {
    PyErr_SetString(PyExc_ValueError, "columns must name at least one column");
    return false;
  }
  ColumnSelection selection;
  for (Py_ssize_t k = 0; k < n; ++k) {
    PyRef item(PySequence_GetItem(value, k));
    if (!item) return false;
    std::string_view name;
    if (!PyUnicode_Check(item.get())) {
      PyErr_Format(PyExc_TypeError, "%s() argument 'columns' must be a list of str", sig.function);
      return false;
    }
    if (!text_argument(sig, "columns", item.get(), name)) return false;
    selection.names.emplace_back(name);
  }
  out = std::move(selection);
  return true;
}

bool check_columns(const std::optional<ColumnSelection>& columns, const std::vector<const TableInfo*>& tables) {
  if (!columns) return true;
  for (const std::string& name : columns->names) {
    bool found = false;
    for (const TableInfo* table : tables) {
      for (const auto& entry : table->columns) {
        if (entry.second.name == name) found = true;
      }
    }
    if (!found) {
      PyRef text(lossy_text(name));
      if (!text) return false;
      PyErr_Format(PyExc_ValueError, "Column not found: %U", text.get());
      return false;
    }
  }
  return true;
}

bool keyword_only_after(const Signature& sig, Py_ssize_t nargs, std::size_t count) {
  if (nargs <= static_cast<Py_ssize_t>(count)) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd were given", sig.function, count,
               count == 1 ? "" : "s", nargs);
  return false;
}

void ChunkedReader::fill() {
  count_ = 0;
  position_ = 0;
  TableRecordReader::Step step = TableRecordReader::Step::Record;
  // Decoding touches no Python object: the records are plain C++ values.
  GilRelease released;
  while (count_ < records_.size()) {
    step = reader_.next_record(records_[count_]);
    if (step != TableRecordReader::Step::Record) break;
    ++count_;
  }
  last_ = step;
}

const Record* ChunkedReader::next() {
  if (position_ == count_) {
    // A chunk that ended the table (or failed) is not followed by another: the
    // reader stays where it ended, so a further call meets the same end or error.
    if (last_ == TableRecordReader::Step::End) return nullptr;
    fill();
    if (count_ == 0) return nullptr;
  }
  return &records_[position_++];
}

}  // namespace quarrow::python
