// The module quarrow: the class EseDatabase and __version__, listed in __all__.
//
// The module keeps process-wide state (the type object and the module itself), so it
// is made once, for the interpreter that first imports it; any later initialisation in
// that interpreter returns the same module, and other interpreters are refused.
#include <Python.h>

#include <cstdint>

#include "binding/convert.h"
#include "binding/ese_database.h"
#include "version.h"
#include "binding/logs.h"

namespace quarrow::python {
namespace {

constexpr const char* kVersion = QUARROW_VERSION;

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "quarrow",
    "",
    // No per-module state. 0 rather than -1 so that the interpreter calls the
    // initialisation again on a re-import instead of copying the module's dict into a
    // new module object.
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* g_module = nullptr;
std::int64_t g_interpreter = -1;

// Adds module.name = value (taking the reference to value) and appends name to
// __all__, creating the list on the first addition.
bool add_public(PyObject* module, const char* name, PyObject* value) {
  PyRef owned(value);
  if (!owned || PyModule_AddObjectRef(module, name, owned.get()) < 0) return false;
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
  }
  PyRef text(PyUnicode_FromString(name));
  return text && PyList_Append(all.get(), text.get()) == 0;
}

PyObject* create_module() {
  PyRef module(PyModule_Create(&g_definition));
  if (!module || !add_public(module.get(), "EseDatabase", ese_database_type()) ||

      !add_public(module.get(), "__version__", PyUnicode_FromString(kVersion))) {
    return nullptr;
  }
  // The log reader is an attribute of its own: __all__ keeps its two documented names.
  PyRef logs(ese_logs_type());
  if (!logs || PyModule_AddObjectRef(module.get(), "EseLogs", logs.get()) < 0) return nullptr;
  return module.release();
}

}  // namespace
}  // namespace quarrow::python

PyMODINIT_FUNC PyInit_quarrow(void) {
  using namespace quarrow::python;
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return nullptr;
  if (g_module != nullptr) {
    if (interpreter != g_interpreter) {
      PyErr_SetString(PyExc_ImportError, "quarrow does not support sub-interpreters");
      return nullptr;
    }
    Py_INCREF(g_module);
    return g_module;
  }
  PyObject* module = create_module();
  if (module == nullptr) return nullptr;
  g_module = module;
  g_interpreter = interpreter;
  Py_INCREF(g_module);  // the remembered reference
  return module;
}
