#include "binding/args.h"

namespace quarrow::python {
namespace {

// Raises TypeError "{function}() argument '{parameter}' must be {expected}, not {type}".
void raise_wrong_type(const Signature& sig, const char* parameter, const char* expected, PyObject* value) {
  PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__");
  if (type_name == nullptr || !PyUnicode_Check(type_name)) {
    Py_XDECREF(type_name);
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s", sig.function, parameter, expected);
    return;
  }
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %U", sig.function, parameter, expected,
               type_name);
  Py_DECREF(type_name);
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
  const char* plural = sig.count == 1 ? "" : "s";
  if (sig.count == 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", sig.function, given);
  } else if (sig.required == sig.count) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly %zu argument%s (%zd given)", sig.function, sig.count,
                 plural, given);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu argument%s (%zd given)", sig.function, sig.count,
                 plural, given);
  }
  return false;
}

bool begin(const Signature& sig, Py_ssize_t nargs, PyObject** out) {
  if (nargs < 0 || static_cast<std::size_t>(nargs) > sig.count) return too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < sig.count; ++i) out[i] = nullptr;
  return true;
}

// Places one keyword's value into its parameter's slot.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
  if (!PyUnicode_Check(key)) {
    PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    return false;
  }
  for (std::size_t i = 0; i < sig.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) != 0) continue;
    if (out[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zu)", sig.function,
                   sig.names[i], i + 1);
      return false;
    }
    out[i] = value;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "'%U' is an invalid keyword argument for %s()", key, sig.function);
  return false;
}

bool finish(const Signature& sig, PyObject** out) {
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", sig.function, sig.names[i],
                   i + 1);
      return false;
    }
  }
  return true;
}

}  // namespace

bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out) {
  if (!begin(sig, nargs, out)) return false;
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t keywords = PyTuple_Size(kwnames);
    if (keywords < 0) return false;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], out)) return false;
    }
  }
  return finish(sig, out);
}

bool parse_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
  if (nargs < 0) return false;
  if (!begin(sig, nargs, out)) return false;
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!place_keyword(sig, key, value, out)) return false;
    }
  }
  return finish(sig, out);
}

bool text_argument(const Signature& sig, const char* parameter, PyObject* value, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    raise_wrong_type(sig, parameter, "str", value);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool path_argument(const Signature& sig, const char* parameter, PyObject* value, PyRef& holder,
                   std::string_view& out) {
  // Only objects that say they are paths are asked: bytes and bytearray answer
  // __fspath__ too (bytes paths), and keep their TypeError.
  if (!PyUnicode_Check(value) && !PyBytes_Check(value) && !PyByteArray_Check(value)) {
    PyRef fspath_method(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__fspath__"));
    if (!fspath_method) {
      PyErr_Clear();
    } else {
      holder = PyRef(PyOS_FSPath(value));
      if (!holder) return false;
      if (PyUnicode_Check(holder.get())) return text_argument(sig, parameter, holder.get(), out);
      // A path object whose text is bytes: refused like a bytes path.
      holder = PyRef();
    }
  }
  return text_argument(sig, parameter, value, out);
}

bool optional_text_argument(const Signature& sig, const char* parameter, PyObject* value,
                            std::string_view& out) {
  if (value == nullptr || value == Py_None) {
    out = {};
    return true;
  }
  if (!PyUnicode_Check(value)) {
    raise_wrong_type(sig, parameter, "str or None", value);
    return false;
  }
  return text_argument(sig, parameter, value, out);
}

bool u64_argument(const Signature& sig, const char* parameter, PyObject* value, std::uint64_t fallback,
                  std::uint64_t& out) {
  if (value == nullptr) {
    out = fallback;
    return true;
  }
  if (!PyIndex_Check(value)) {
    raise_wrong_type(sig, parameter, "int", value);
    return false;
  }
  PyObject* index = PyNumber_Index(value);
  if (index == nullptr) return false;
  const unsigned long long converted = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = converted;
  return true;
}

}  // namespace quarrow::python
