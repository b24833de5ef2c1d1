// What the reading methods share: the keyword-only `columns=` argument, and table
// readers that decode records in chunks with the GIL released, so that other Python
// threads run while this one decodes.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "binding/args.h"
#include "database/catalog.h"
#include "record/parser.h"
#include "record/reader.h"

namespace quarrow::python {

// Releases the GIL for its lifetime (also when an exception leaves the scope). Only
// for stretches that touch no Python object.
class GilRelease {
 public:
  GilRelease() : state_(PyEval_SaveThread()) {}
  ~GilRelease() { PyEval_RestoreThread(state_); }
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;

 private:
  PyThreadState* state_;
};

// `columns`: None or absent gives no selection; otherwise a list or tuple of str (a
// single str is a TypeError, as it would otherwise select its letters), not empty
// (ValueError).
bool columns_argument(const Signature& sig, PyObject* value, std::optional<ColumnSelection>& out);

// ValueError "Column not found: {name}" for the first selected name none of `tables`
// has. True without a selection.
bool check_columns(const std::optional<ColumnSelection>& columns, const std::vector<const TableInfo*>& tables);

// Positional arguments beyond `count` are refused: the parameters after it are
// keyword-only.
bool keyword_only_after(const Signature& sig, Py_ssize_t nargs, std::size_t count);

// Records of one reader, decoded a chunk at a time with the GIL released. The reader
// and the chunk's records belong to this object alone; the database is only read.
class ChunkedReader {
 public:
  static constexpr std::size_t kChunk = 256;

  explicit ChunkedReader(TableRecordReader reader) : reader_(std::move(reader)), records_(kChunk) {}

  // The next record, or nullptr at the end or on an error (step() says which). Call
  // with the GIL held; it is released while a chunk is decoded.
  const Record* next();
  TableRecordReader::Step step() const { return last_; }
  const TableRecordReader& reader() const { return reader_; }

 private:
  void fill();

  TableRecordReader reader_;
  std::vector<Record> records_;
  std::size_t count_ = 0;
  std::size_t position_ = 0;
  TableRecordReader::Step last_ = TableRecordReader::Step::Record;  // how the chunk ended
};

}  // namespace quarrow::python
