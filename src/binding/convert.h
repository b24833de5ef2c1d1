// Turning the core's values, rows, catalog entries, carving hits and errors into
// Python objects and exceptions. Every function returning PyObject* returns a new
// reference, or nullptr with a Python exception set.
#pragma once

#include <Python.h>

#include <cstdint>
#include <exception>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "forensic/carve.h"
#include "database/catalog.h"
#include "error/ese_error.h"
#include "record/value.h"

namespace quarrow::python {

// Owns one reference; releases it on every path, exceptions included.
class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* object) : object_(object) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  PyObject* object_ = nullptr;
};

// Names and other byte strings from the file as str: UTF-8 with every maximal
// ill-formed subsequence replaced by U+FFFD.
PyObject* lossy_text(std::string_view bytes);

// Sets dict[key] = value, taking the reference to `value`; false with an exception set
// when `value` is null (its maker failed) or the insertion fails.
bool put(PyObject* dict, const char* key, PyObject* value);
bool put(PyObject* dict, std::string_view key, PyObject* value);

// One column value: None, bool, int, float, str or bytes.
PyObject* value_to_python(const Value& value);

// A row as a dict in field order. `keys[i]` is the key str of field i, made once per
// table read and shared by every row (a field beyond the keys gets its own key).
PyObject* record_to_dict(const Record& record, std::span<const PyRef> keys);

// A column's schema dict: "name", "type", "id", "nullable".
PyObject* column_to_dict(const ColumnInfo& column);

// The key strs of a carving hit's dict, made once per carving call.
class HitKeys {
 public:
  bool make();
  // The hit's dict; `file_offset` is where the hit lies in the file.
  PyObject* to_dict(const CarveHit& hit, std::uint64_t file_offset);

 private:
  // Hits of one page or region share most of their values: the objects made for the
  // previous hit are reused when the value is the same (str and int are immutable).
  struct Cached {
    PyRef object;
    std::uint64_t number = 0;
    std::string text;
  };
  PyObject* number(Cached& slot, std::uint64_t value);
  PyObject* text(Cached& slot, const std::string& value);

  PyRef keys_[10];
  Cached page_, slack_start_, slack_end_, flags_, kind_, type_, table_;
};

// Sets `type(message)` as the current exception and returns nullptr. The message may
// hold any bytes; it is read as lossy UTF-8.
PyObject* raise_message(PyObject* type, std::string_view message);

// Runs `body` inside the C++ boundary: no C++ exception leaves a binding function.
// Out of memory becomes MemoryError; anything else is an internal fault, RuntimeError.
template <class Body>
PyObject* run_guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    return raise_message(PyExc_RuntimeError, std::string("internal error: ") + e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "internal error");
    return nullptr;
  }
}

// Raises `message` as the OSError subclass that Python itself would use for the
// system error code `os_code` (FileNotFoundError, PermissionError, IsADirectoryError,
// NotADirectoryError, FileExistsError, else OSError), with `errno` set to the code's
// errno equivalent. str() of the exception is the message alone. Returns nullptr.
PyObject* raise_os_error(int os_code, std::string_view message);

// The one mapping of an EseError to a Python exception: TableNotFound -> ValueError
// "Table not found: {name}"; Io -> IOError (by raise_os_error) with the OS error text
// alone; every other
// kind -> IOError with the rendered text. Returns nullptr.
PyObject* raise_ese_error(const EseError& error);

}  // namespace quarrow::python
