// EseDatabase.arrow_table: a table's decoded values for Arrow consumers (pyarrow,
// polars, DuckDB, pandas) through the Arrow PyCapsule protocol.
#pragma once

#include <Python.h>

namespace quarrow::python {

extern const char kArrowTableDoc[];

// arrow_table(self, table_name, *, batch_rows=65536)
PyObject* arrow_table_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
