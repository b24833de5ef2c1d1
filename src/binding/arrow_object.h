// What the module's Arrow objects (ArrowTable, ArrowView) share: the capsules of the
// Arrow PyCapsule protocol and a heap type whose members are __arrow_c_schema__ and
// __arrow_c_stream__, made once on first use and kept for the life of the process.
#pragma once

#include <Python.h>

#include <string>

#include "binding/iterator_type.h"  // free_heap_object
#include "export/arrow_c.h"

namespace quarrow::python {

// Wrap a schema or a stream in its capsule, which then owns it. On failure the
// schema or stream is released and deleted, and nullptr returned with the exception.
PyObject* schema_capsule(ArrowSchema* schema);
PyObject* stream_capsule(ArrowArrayStream* stream);

// The arguments of __arrow_c_stream__ of an object whose values come in its own types
// only: true when requested_schema is absent or None; otherwise false with the
// exception set (NotImplementedError for a schema given).
inline constexpr char kNoConversion[] = "requested_schema: converting to other types is not supported";
bool plain_stream_request(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The schema a capsule holds, or nullptr with an exception when it holds none.
ArrowSchema* capsule_schema(PyObject* capsule);

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct ArrowObjectKind {
  const char* type_name;  // "quarrow.ArrowTable"
  int basic_size;         // sizeof the object's struct
  const char* doc;
  const char* what;  // "table": what the methods' doc strings say they give
  PyCFunction schema;      // __arrow_c_schema__($self)
  FastMethod stream;       // __arrow_c_stream__($self, requested_schema=None)
  reprfunc repr;
  destructor dealloc;  // frees the object's own members, then calls free_heap_object
};

class ArrowObjectType {
 public:
  explicit ArrowObjectType(const ArrowObjectKind& kind);
  ArrowObjectType(const ArrowObjectType&) = delete;
  ArrowObjectType& operator=(const ArrowObjectType&) = delete;

  // A new object of the type, its members zeroed; nullptr with an exception set.
  PyObject* alloc();

 private:
  std::string schema_doc_;
  std::string stream_doc_;
  PyMethodDef methods_[3];
  PyType_Slot slots_[5];
  PyType_Spec description_;
  PyObject* type_ = nullptr;
};

}  // namespace quarrow::python
