#include "binding/convert.h"

#include <cerrno>
#include <iterator>
#include <string>
#include <type_traits>

#include "app/carve_request.h"
#include "platform/platform.h"
#include "record/text.h"

namespace quarrow::python {
namespace {

PyObject* bytes_object(const std::string& data) {
  return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}

// Sets d[key] = value and drops the reference to value; false when either is missing
// or the insertion fails.
bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItem(dict, key, owned.get()) == 0;
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}


}  // namespace

PyObject* lossy_text(std::string_view bytes) {
  // Names and decoded text are nearly always valid UTF-8: try the strict decoder first.
  PyObject* text = PyUnicode_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return text;
  PyErr_Clear();
  const std::string repaired = lossy_utf8(as_bytes(bytes));
  return PyUnicode_FromStringAndSize(repaired.data(), static_cast<Py_ssize_t>(repaired.size()));
}

PyObject* value_to_python(const Value& value) {
  using Kind = Value::Kind;
  switch (value.kind) {
    case Kind::Null:
      Py_INCREF(Py_None);
      return Py_None;
    case Kind::Bool:
      return PyBool_FromLong(value.b ? 1 : 0);
    case Kind::U8:
    case Kind::U16:
    case Kind::U32:
    case Kind::U64:
    case Kind::DateTime:  // the raw 64-bit value, not a date
    case Kind::Currency:  // the raw 64-bit value, unscaled and unsigned
      return PyLong_FromUnsignedLongLong(value.u);
    case Kind::I16:
    case Kind::I32:
      return PyLong_FromLongLong(value.i);
    case Kind::F32:
      return PyFloat_FromDouble(static_cast<double>(value.f32));
    case Kind::F64:
      return PyFloat_FromDouble(value.f64);
    case Kind::Guid: {
      const std::string text = guid_text(value.guid);
      return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }
    case Kind::Text:
      return lossy_text(value.bytes);
    case Kind::Binary:
    case Kind::MultiValue:
    case Kind::LongValue:
      return bytes_object(value.bytes);
  }
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* record_to_dict(const Record& record, std::span<const PyRef> keys) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const Field& field = record.fields[i];
    PyRef own_key;
    PyObject* key = nullptr;
    if (i < keys.size()) {
      key = keys[i].get();
    } else {
      own_key = PyRef(lossy_text(field.name));
      if (!own_key) return nullptr;
      key = own_key.get();
    }
    if (!set_item(dict.get(), key, value_to_python(field.value))) return nullptr;
  }
  return dict.release();
}

PyObject* column_to_dict(const ColumnInfo& column) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  const char* type_name = column_type_name(column.column_type);
  // The catalog refuses type codes it has no name for; "Unknown" only guards the null.
  if (!set_item(dict.get(), "name", lossy_text(column.name)) ||
      !set_item(dict.get(), "type", PyUnicode_FromString(type_name != nullptr ? type_name : "Unknown")) ||
      !set_item(dict.get(), "id", PyLong_FromUnsignedLongLong(column.id)) ||
      !set_item(dict.get(), "nullable", PyBool_FromLong((column.flags & kColumnNotNull) == 0 ? 1 : 0))) {
    return nullptr;
  }
  return dict.release();
}

bool HitKeys::make() {
  static_assert(std::extent_v<decltype(keys_)> == app::kHitFieldNames.size());
  for (std::size_t i = 0; i < app::kHitFieldNames.size(); ++i) {
    const std::string_view name = app::kHitFieldNames[i];
    keys_[i] = PyRef(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (!keys_[i]) return false;
  }
  return true;
}

PyObject* HitKeys::number(Cached& slot, std::uint64_t value) {
  if (!slot.object || slot.number != value) {
    slot.object = PyRef(PyLong_FromUnsignedLongLong(value));
    slot.number = value;
  }
  if (!slot.object) return nullptr;
  Py_INCREF(slot.object.get());
  return slot.object.get();
}

PyObject* HitKeys::text(Cached& slot, const std::string& value) {
  if (!slot.object || slot.text != value) {
    slot.object = PyRef(lossy_text(value));
    slot.text = value;
  }
  if (!slot.object) return nullptr;
  Py_INCREF(slot.object.get());
  return slot.object.get();
}

PyObject* HitKeys::to_dict(const CarveHit& hit, std::uint64_t file_offset) {
  const auto key = [this](app::HitField field) { return keys_[static_cast<std::size_t>(field)].get(); };
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  PyObject* table = nullptr;
  if (hit.table) {
    table = text(table_, *hit.table);
  } else {
    Py_INCREF(Py_None);
    table = Py_None;
  }
  // The carved text is printable ASCII by construction.
  if (!set_item(d, key(app::HitField::Page), number(page_, hit.page)) ||
      !set_item(d, key(app::HitField::Offset), PyLong_FromUnsignedLongLong(hit.offset)) ||
      !set_item(d, key(app::HitField::SlackStart), number(slack_start_, hit.slack_start)) ||
      !set_item(d, key(app::HitField::SlackEnd), number(slack_end_, hit.slack_end)) ||
      !set_item(d, key(app::HitField::RegionKind), text(kind_, hit.region_kind)) ||
      !set_item(d, key(app::HitField::PageFlags), number(flags_, hit.page_flags)) ||
      !set_item(d, key(app::HitField::PageType), text(type_, hit.page_type)) || !set_item(d, key(app::HitField::Table), table) ||
      !set_item(d, key(app::HitField::Text),
                PyUnicode_FromStringAndSize(hit.text.data(), static_cast<Py_ssize_t>(hit.text.size()))) ||
      !set_item(d, key(app::HitField::FileOffset), PyLong_FromUnsignedLongLong(file_offset))) {
    return nullptr;
  }
  return dict.release();
}

PyObject* raise_message(PyObject* type, std::string_view message) {
  PyRef text(lossy_text(message));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise_os_error(int os_code, std::string_view message) {
  if (os_code <= 0) return raise_message(PyExc_IOError, message);
  const int errno_value = platform::errno_equivalent(os_code);
  PyObject* type = PyExc_OSError;
  switch (errno_value) {
    case ENOENT:
      type = PyExc_FileNotFoundError;
      break;
    case EACCES:
    case EPERM:
      type = PyExc_PermissionError;
      break;
    case EISDIR:
      type = PyExc_IsADirectoryError;
      break;
    case ENOTDIR:
      type = PyExc_NotADirectoryError;
      break;
    case EEXIST:
      type = PyExc_FileExistsError;
      break;
  }
  PyRef text(lossy_text(message));
  if (!text) return nullptr;
  PyRef exception(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
  if (!exception) return nullptr;
  // Only errno: with strerror set too, str() would become "[Errno 21] ...".
  PyRef number(PyLong_FromLong(errno_value));
  if (!number || PyObject_SetAttrString(exception.get(), "errno", number.get()) != 0) return nullptr;
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

PyObject* raise_ese_error(const EseError& error) {
  switch (error.kind()) {
    case ErrorKind::TableNotFound:
      return raise_message(PyExc_ValueError, user_message(error));
    case ErrorKind::Io:
      return raise_os_error(error.os_code(), user_message(error));
    default:
      return raise_message(PyExc_IOError, user_message(error));
  }
}

bool put(PyObject* dict, const char* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

bool put(PyObject* dict, std::string_view key, PyObject* value) {
  PyRef owned(value);
  if (!owned) return false;
  PyRef key_object(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
  return key_object && PyDict_SetItem(dict, key_object.get(), owned.get()) == 0;
}

}  // namespace quarrow::python
