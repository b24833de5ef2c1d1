// The forensic methods of EseDatabase: verify, header_info, get_table_indexes,
// recover_records and catalog_problems. Bodies only: ese_database.cpp registers them with the shared-use
// and argument conventions of every other method.
#pragma once

#include <Python.h>

#include "binding/ese_database.h"

namespace quarrow::python {

PyObject* forensic_verify(DatabaseState& s);
PyObject* forensic_header_info(DatabaseState& s);
PyObject* forensic_get_table_indexes(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* forensic_recover_records(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* forensic_catalog_problems(DatabaseState& s);

}  // namespace quarrow::python
