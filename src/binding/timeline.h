// EseDatabase.timeline (timeline.cpp): the database's dated facts, with its logs', in
// time order.
#pragma once

#include <Python.h>

#include "binding/ese_database.h"

namespace quarrow::python {

extern const char kTimelineDoc[];

PyObject* timeline_method(DatabaseState& state, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
