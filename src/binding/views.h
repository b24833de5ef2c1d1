// EseDatabase's profile members: which known kind of database a file is and the
// views its profile defines (views.cpp).
#pragma once

#include <Python.h>

#include "binding/ese_database.h"

namespace quarrow::python {

extern const char kViewsDoc[];
extern const char kArrowViewDoc[];
extern const char kReadViewDoc[];
extern const char kViewColumnsDoc[];
extern const char kProfileDoc[];

// Recognises the database's kind with the built-in profiles and the profile files
// listed in `files` (None or nullptr: built-ins only; else an iterable of paths).
// Sets an exception and returns false on a bad argument or a malformed profile.
bool choose_profile(DatabaseState& state, PyObject* files);

PyObject* profile_getter(PyObject* self, void*);
PyObject* views_method(PyObject* self, PyObject*);
PyObject* arrow_view_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* view_columns_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_view_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
