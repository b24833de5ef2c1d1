#include "binding/iterator_type.h"

namespace quarrow::python {
namespace {

PyObject* self_iter(PyObject* self) { return Py_NewRef(self); }

}  // namespace

IteratorType::IteratorType(const IteratorKind& kind)
    : slots_{{Py_tp_iter, reinterpret_cast<void*>(self_iter)},
             {Py_tp_iternext, reinterpret_cast<void*>(kind.next)},
             {Py_tp_dealloc, reinterpret_cast<void*>(kind.dealloc)},
             {Py_tp_doc, const_cast<char*>(kind.doc)},
             {kind.methods != nullptr ? Py_tp_methods : 0, kind.methods},
             {0, nullptr}},
      description_{kind.type_name, kind.basic_size, 0, Py_TPFLAGS_DEFAULT, slots_} {}

PyObject* IteratorType::alloc() { return alloc_heap_object(type_, description_); }

PyObject* alloc_heap_object(PyObject*& type, PyType_Spec& description) {
  if (type == nullptr) {
    type = PyType_FromSpec(&description);
    if (type == nullptr) return nullptr;
  }
  auto* heap_type = reinterpret_cast<PyTypeObject*>(type);
  auto alloc_object = reinterpret_cast<allocfunc>(PyType_GetSlot(heap_type, Py_tp_alloc));
  return alloc_object(heap_type, 0);
}

void free_heap_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  Py_DECREF(type);
}

}  // namespace quarrow::python
