#include "binding/notes.h"

#include "app/notes.h"
#include "binding/convert.h"
#include "error/ese_error.h"

namespace quarrow::python {

namespace {

// The current exception's message (its first argument as text), or "".
std::string exception_message(PyObject* value) {
  PyRef args(PyObject_GetAttrString(value, "args"));
  if (!args || !PyTuple_Check(args.get()) || PyTuple_Size(args.get()) < 1) {
    PyErr_Clear();
    return "";
  }
  PyObject* first = PyTuple_GetItem(args.get(), 0);
  Py_ssize_t size = 0;
  const char* text = first != nullptr && PyUnicode_Check(first) ? PyUnicode_AsUTF8AndSize(first, &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return "";
  }
  return std::string(text, static_cast<std::size_t>(size));
}

// The table name a method was called with: its first positional argument, or the
// keyword table_name; "" when it is not text.
std::string table_argument(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* value = nargs > 0 ? args[0] : nullptr;
  if (value == nullptr && kwnames != nullptr) {
    for (Py_ssize_t i = 0; i < PyTuple_Size(kwnames); ++i) {
      PyObject* key = PyTuple_GetItem(kwnames, i);
      if (key != nullptr && PyUnicode_CompareWithASCIIString(key, "table_name") == 0) value = args[nargs + i];
    }
  }
  if (value == nullptr || !PyUnicode_Check(value)) return "";
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (text == nullptr) {
    PyErr_Clear();
    return "";
  }
  return std::string(text, static_cast<std::size_t>(size));
}

std::vector<std::string> read_notes(const Database& db, std::string_view table_text) {
  std::vector<std::string> notes = {"table: " + std::string(table_text)};
  if (std::string note = app::truncation_note(db); !note.empty()) notes.push_back(std::move(note));
  return notes;
}

}  // namespace

void add_exception_notes(const std::vector<std::string>& notes) {
  if (notes.empty() || PyErr_Occurred() == nullptr) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    PyRef list(PyObject_GetAttrString(value, "__notes__"));
    if (!list || !PyList_Check(list.get())) {
      PyErr_Clear();
      list = PyRef(PyList_New(0));
    }
    bool ok = static_cast<bool>(list);
    for (const std::string& note : notes) {
      PyRef text(ok ? PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), "replace") : nullptr);
      ok = text && PyList_Append(list.get(), text.get()) == 0;
    }
    // A note that cannot be attached leaves the exception as it was.
    if (!ok || PyObject_SetAttrString(value, "__notes__", list.get()) < 0) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

void note_table_error(const Database& db, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (PyErr_Occurred() == nullptr) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  const std::string message = value != nullptr ? exception_message(value) : "";
  PyErr_Restore(type, value, traceback);
  if (message.starts_with("Table not found: ")) {
    const std::string table = table_argument(args, nargs, kwnames);
    if (std::string hint = app::table_suggestion(db, table); !table.empty() && !hint.empty()) {
      add_exception_notes({std::move(hint)});
    }
  } else if (message.starts_with(in_context(ErrorContext::ReadingRecord, std::string_view()))) {
    const std::string table = table_argument(args, nargs, kwnames);
    if (!table.empty()) add_exception_notes(read_notes(db, table));
  }
}

void note_read_error(const Database& db, std::string_view table_text) {
  add_exception_notes(read_notes(db, table_text));
}

}  // namespace quarrow::python
