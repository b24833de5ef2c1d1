// EseDatabase.arrow_table: a table's decoded values for Arrow consumers (pyarrow,
// polars, DuckDB, pandas) through the Arrow PyCapsule protocol.
#pragma once

#include <Python.h>

#include <cstddef>

namespace quarrow::python {

extern const char kArrowTableDoc[];

// The threads= and part= arguments of arrow_table and arrow_view (`function` names the
// call in errors); false with an exception set.
bool threads_argument(const char* function, PyObject* value, unsigned& threads);
bool part_argument(const char* function, PyObject* value, std::size_t& index, std::size_t& count);

// arrow_table(self, table_name, *, batch_rows=65536, columns=None, threads=None, part=None)
PyObject* arrow_table_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
