// EseDatabase.report (report.cpp).
#pragma once

#include <Python.h>

#include "binding/ese_database.h"

namespace quarrow::python {

extern const char kReportDoc[];
PyObject* report_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
