// What the module's iterator objects (TableIterator, LogIterator, TimelineIterator)
// share: a heap type made once on first use and kept for the life of the process,
// whose __iter__ is the object itself, and the end of every dealloc.
#pragma once

#include <Python.h>

namespace quarrow::python {

struct IteratorKind {
  const char* type_name;  // "quarrow.TableIterator"
  int basic_size;         // sizeof the object's struct
  const char* doc;
  iternextfunc next;
  destructor dealloc;              // frees the object's own members, then calls free_heap_object
  PyMethodDef* methods = nullptr;  // beside __iter__ and __next__, or none
};

class IteratorType {
 public:
  explicit IteratorType(const IteratorKind& kind);
  IteratorType(const IteratorType&) = delete;
  IteratorType& operator=(const IteratorType&) = delete;

  // A new iterator of the type, its members zeroed; nullptr with an exception set.
  PyObject* alloc();

 private:
  PyType_Slot slots_[6];
  PyType_Spec description_;
  PyObject* type_ = nullptr;
};

// A new object of the type `description` describes, its members zeroed, the type made on the
// first call and kept in `type` for the life of the process; nullptr with an exception.
PyObject* alloc_heap_object(PyObject*& type, PyType_Spec& description);

// The end of a dealloc of an object of one of the module's heap types: gives the
// object's memory back and drops the reference each instance holds to its type.
void free_heap_object(PyObject* self);

}  // namespace quarrow::python
