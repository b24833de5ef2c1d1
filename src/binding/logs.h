// The Python class EseLogs: a folder of transaction logs read as evidence (logs.cpp),
// and the iterators over its records and a database's row changes (logs_iter.cpp).
#pragma once

#include <Python.h>

#include <memory>
#include <string>
#include <vector>

#include "database/database.h"
#include "log/log_folder.h"

namespace quarrow::python {

struct LogsState {
  std::string path;
  logs::LogFolder folder;
};

// The EseLogs type object, created on first use. New reference, or nullptr.
PyObject* ese_logs_type();

// A new iterator over every record of the folder (`owner` is the EseLogs object,
// kept alive by the iterator).
PyObject* logs_records_iterator(PyObject* owner, const LogsState& state);
// A new iterator over the row changes of `db` found in the folder.
PyObject* logs_changes_iterator(PyObject* owner, const LogsState& state, std::shared_ptr<Database> db);
// The changes of one row (table name and key), in log order, as a list; a
// RuntimeWarning names what could not be read.
PyObject* logs_row_history(const LogsState& state, std::shared_ptr<Database> db, std::string table, std::string key);

// Helpers shared by both files.
PyObject* position_object(const logs::LogPosition& p);
PyObject* time_object(const LogTime& t);
// The problem lines of a reading as a list of str.
PyObject* problem_lines(const std::vector<std::string>& lines);
// One RuntimeWarning naming how many problems there were and the first; true when
// there were none or the warning did not become an error.
bool warn_problems(const std::vector<std::string>& lines);

}  // namespace quarrow::python
