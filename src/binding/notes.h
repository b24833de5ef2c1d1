// Notes on the exception being raised (PEP 678's `__notes__`, shown under the message
// by Python 3.11 and later): what the tool says beside the same error — the closest
// table names for a table that is not there, the table a read failed in, and why a
// read met a missing page. The exception's message stays as it was.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"

namespace quarrow::python {

// Appends `notes` to the current exception's __notes__. No exception set: nothing.
void add_exception_notes(const std::vector<std::string>& notes);

// After a method taking a table name failed: notes on the current exception for the
// table named by the first argument (or the keyword table_name). "Table not found"
// gets "did you mean ...?"; "Error reading record" gets "table: {name}" and, for a
// file cut short, the truncation.
void note_table_error(const Database& db, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The same for a read failure whose table is known.
void note_read_error(const Database& db, std::string_view table_text);

}  // namespace quarrow::python
