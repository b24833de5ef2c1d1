#include "binding/arrow_object.h"

#include <string>

#include "binding/args.h"

namespace quarrow::python {
namespace {

constexpr char kSchemaCapsule[] = "arrow_schema";
constexpr char kStreamCapsule[] = "arrow_array_stream";
constexpr const char* kStreamNames[] = {"requested_schema"};
constexpr Signature kStream{"__arrow_c_stream__", kStreamNames, 1, 0};

// A capsule's destructor: releases what it holds (when not yet released) and deletes it.
template <class T>
void discard(T* held) {
  if (held->release != nullptr) held->release(held);
  delete held;
}

template <class T, const char* kName>
void free_capsule(PyObject* capsule) {
  auto* held = static_cast<T*>(PyCapsule_GetPointer(capsule, kName));
  if (held == nullptr) {
    PyErr_Clear();
    return;
  }
  discard(held);
}

template <class T, const char* kName>
PyObject* make_capsule(T* held) {
  PyObject* capsule = PyCapsule_New(held, kName, free_capsule<T, kName>);
  if (capsule == nullptr) discard(held);
  return capsule;
}

}  // namespace

PyObject* schema_capsule(ArrowSchema* schema) { return make_capsule<ArrowSchema, kSchemaCapsule>(schema); }

PyObject* stream_capsule(ArrowArrayStream* stream) { return make_capsule<ArrowArrayStream, kStreamCapsule>(stream); }

bool plain_stream_request(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[1];
  if (!parse_arguments(kStream, args, nargs, kwnames, values)) return false;
  if (values[0] != nullptr && values[0] != Py_None) {
    PyErr_SetString(PyExc_NotImplementedError, kNoConversion);
    return false;
  }
  return true;
}

ArrowSchema* capsule_schema(PyObject* capsule) {
  return static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, kSchemaCapsule));
}

ArrowObjectType::ArrowObjectType(const ArrowObjectKind& kind)
    : schema_doc_(std::string("__arrow_c_schema__($self)\n--\n\nThe ") + kind.what + "'s Arrow schema as a PyCapsule."),
      stream_doc_(std::string("__arrow_c_stream__($self, requested_schema=None)\n--\n\nA fresh Arrow stream over the ") +
                  kind.what + " as a PyCapsule."),
      methods_{{"__arrow_c_schema__", kind.schema, METH_NOARGS, schema_doc_.c_str()},
               {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kind.stream)),
                METH_FASTCALL | METH_KEYWORDS, stream_doc_.c_str()},
               {nullptr, nullptr, 0, nullptr}},
      slots_{{Py_tp_methods, methods_},
             {Py_tp_repr, reinterpret_cast<void*>(kind.repr)},
             {Py_tp_dealloc, reinterpret_cast<void*>(kind.dealloc)},
             {Py_tp_doc, const_cast<char*>(kind.doc)},
             {0, nullptr}},
      description_{kind.type_name, kind.basic_size, 0, Py_TPFLAGS_DEFAULT, slots_} {}

PyObject* ArrowObjectType::alloc() { return alloc_heap_object(type_, description_); }

}  // namespace quarrow::python
