#include "binding/forensic.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/forensic_fields.h"
#include "app/header_fields.h"
#include "forensic/header.h"
#include "binding/reading.h"
#include "forensic/indexes.h"
#include "forensic/recover.h"
#include "forensic/verify.h"
#include "binding/args.h"
#include "binding/convert.h"
#include "record/reader.h"

namespace quarrow::python {
namespace {

// A dict of the fields in `order`, in that order: `value_of(field)` gives each value
// (a new reference, or nullptr with an exception set), or std::nullopt for a field
// that is left out.
template <class Field, std::size_t N, class NameOf, class ValueOf>
PyObject* fields_dict(const std::array<Field, N>& order, NameOf name_of, ValueOf value_of) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const Field field : order) {
    const std::optional<PyObject*> value = value_of(field);
    if (value && !put(dict.get(), name_of(field), *value)) return nullptr;
  }
  return dict.release();
}

PyObject* new_bool(bool b) { return PyBool_FromLong(b ? 1 : 0); }

PyObject* none() {
  Py_INCREF(Py_None);
  return Py_None;
}

// A problem's value of `field`; std::nullopt for a field the problem does not have.
std::optional<PyObject*> problem_value(const PageProblem& p, app::ProblemField field) {
  switch (field) {
    case app::ProblemField::Page: return PyLong_FromLongLong(p.page);
    case app::ProblemField::Problem: return PyUnicode_FromString(p.problem);
    case app::ProblemField::Stored: return PyLong_FromUnsignedLongLong(p.stored);
    case app::ProblemField::Computed: return PyLong_FromUnsignedLongLong(p.computed);
    case app::ProblemField::Bit:
      if (!p.bit) return std::nullopt;
      return PyLong_FromUnsignedLong(*p.bit);
    case app::ProblemField::BytesPresent:
      if (!p.bytes_present) return std::nullopt;
      return PyLong_FromUnsignedLongLong(*p.bytes_present);
  }
  return std::nullopt;
}

// A recovered record's value of `field`; `missing` is its missing_long_values list.
std::optional<PyObject*> recovered_value(const RecoveredRecord& r, PyObject* missing, app::RecoveredField field) {
  switch (field) {
    case app::RecoveredField::Page: return PyLong_FromUnsignedLong(r.page);
    case app::RecoveredField::Offset: return PyLong_FromUnsignedLong(r.offset);
    case app::RecoveredField::Source: return PyUnicode_FromString(r.source);
    case app::RecoveredField::Record: return record_to_dict(r.record, {});
    case app::RecoveredField::Live: return r.live != nullptr ? PyUnicode_FromString(r.live) : none();
    case app::RecoveredField::MissingLongValues: return Py_NewRef(missing);
  }
  return std::nullopt;
}

// A LOGTIME as datetime.datetime: timezone-aware UTC when its UTC bit is set, naive
// otherwise, None when unset. Fields that name no real date or time (damaged headers)
// give None as well, rather than failing the whole call.
class DateTimes {
 public:
  bool init() {
    PyRef module(PyImport_ImportModule("datetime"));
    if (!module) return false;
    datetime_ = PyRef(PyObject_GetAttrString(module.get(), "datetime"));
    if (!datetime_) return false;
    PyRef timezone(PyObject_GetAttrString(module.get(), "timezone"));
    if (!timezone) return false;
    utc_ = PyRef(PyObject_GetAttrString(timezone.get(), "utc"));
    return static_cast<bool>(utc_);
  }

  PyObject* make(const LogTime& t) {
    if (!t.set) Py_RETURN_NONE;
    PyRef args(Py_BuildValue("(iiiiiii)", t.year, t.month, t.day, t.hours, t.minutes, t.seconds,
                             t.milliseconds * 1000));
    if (!args) return nullptr;
    PyRef kwargs;
    if (t.utc) {
      kwargs = PyRef(PyDict_New());
      if (!kwargs || PyDict_SetItemString(kwargs.get(), "tzinfo", utc_.get()) < 0) return nullptr;
    }
    PyObject* value = PyObject_Call(datetime_.get(), args.get(), kwargs.get());
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_ValueError)) {
      PyErr_Clear();
      Py_RETURN_NONE;
    }
    return value;
  }

 private:
  PyRef datetime_;
  PyRef utc_;
};

constexpr const char* kTableNameNames[] = {"table_name"};
constexpr Signature kGetTableIndexes{"get_table_indexes", kTableNameNames, 1, 1};
constexpr Signature kRecoverRecords{"recover_records", kTableNameNames, 1, 1};

bool table_name_argument(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         PyObject*& value, std::string_view& name) {
  PyObject* values[1];
  if (!parse_arguments(sig, args, nargs, kwnames, values) || !text_argument(sig, "table_name", values[0], name)) {
    return false;
  }
  value = values[0];
  return true;
}

PyObject* raise_table_not_found(PyObject* name) {
  PyErr_Format(PyExc_ValueError, "Table not found: %U", name);
  return nullptr;
}

}  // namespace

namespace {

// None, or {"owned_pages": N, "file_pages": M} when the database owns pages past the
// end of its file.
PyObject* truncation_value(const Database& db) {
  const auto space = owned_space(db);
  if (!space || !space->truncated()) Py_RETURN_NONE;
  return Py_BuildValue("{s:k,s:k}", "owned_pages", static_cast<unsigned long>(space->last_owned_page), "file_pages",
                       static_cast<unsigned long>(space->pages_held));
}

}  // namespace

PyObject* forensic_verify(DatabaseState& s) {
  std::optional<Result<VerifyReport>> verified;
  {
    GilRelease released;  // reads and checksums pages only
    verified.emplace(verify_database(*s.database));
  }
  Result<VerifyReport>& report = *verified;
  if (!report) return raise_ese_error(report.error());
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const PageProblem& p : report->problems) {
    PyRef dict(fields_dict(app::kProblemFields, app::problem_field_name,
                           [&](app::ProblemField field) { return problem_value(p, field); }));
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return nullptr;
  }
  // Pages that carry no checksums at all (the engine's temporary databases): one
  // problem saying so, rather than none, which would mean every page verified.
  if (report->no_checksums) {
    PageProblem p;
    p.page = 1;
    p.problem = "no checksums: every stored page has 0";
    PyRef dict(fields_dict(app::kProblemFields, app::problem_field_name,
                           [&](app::ProblemField field) { return problem_value(p, field); }));
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return nullptr;
  }
  // Pages the database owns past the end of the file: one problem after the pages',
  // at the first missing page, with no bytes of it present.
  if (report->truncation) {
    const std::string text = truncation_text(*report->truncation);
    PageProblem p;
    p.page = static_cast<std::int64_t>(report->truncation->pages_held) + 1;
    p.problem = text.c_str();
    p.bytes_present = 0;
    PyRef dict(fields_dict(app::kProblemFields, app::problem_field_name,
                           [&](app::ProblemField field) { return problem_value(p, field); }));
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return nullptr;
  }
  return list.release();
}

// header_info()'s fact `field`: its name from the list both front ends share.
bool put(PyObject* dict, app::HeaderField field, PyObject* value) {
  return put(dict, app::header_module_name(field), value);
}

PyObject* forensic_header_info(DatabaseState& s) {
  Result<HeaderFacts> facts = read_header_facts(*s.database);
  if (!facts) return raise_ese_error(facts.error());
  const HeaderFacts& f = *facts;
  DateTimes times;
  if (!times.init()) return nullptr;
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  const std::string os_version = std::to_string(f.os_major) + "." + std::to_string(f.os_minor);
  PyObject* d = dict.get();
  using F = app::HeaderField;
  const bool ok =
      put(d, F::FormatVersion, PyLong_FromUnsignedLong(f.format_version)) &&
      put(d, F::FormatRevision, PyLong_FromUnsignedLong(f.format_revision)) &&
      put(d, F::PageSize, PyLong_FromUnsignedLong(f.page_size)) &&
      put(d, F::State, PyUnicode_FromString(f.state_name.c_str())) &&
      put(d, F::StateCode, PyLong_FromUnsignedLong(f.state)) &&
      put(d, F::DatabaseTime, PyLong_FromUnsignedLongLong(f.database_time)) &&
      put(d, F::Created, times.make(f.creation_time)) &&
      put(d, F::LastConsistent, times.make(f.last_consistent_time)) &&
      put(d, F::LastAttached, times.make(f.last_attach_time)) &&
      put(d, F::LastDetached, times.make(f.last_detach_time)) &&
      put(d, "log_generations_required",
          Py_BuildValue("(kk)", static_cast<unsigned long>(f.log_generation_low),
                        static_cast<unsigned long>(f.log_generation_high))) &&
      put(d, F::OsVersion, PyUnicode_FromString(os_version.c_str())) &&
      put(d, F::OsBuild, PyLong_FromUnsignedLong(f.os_build)) &&
      put(d, F::OsServicePack, PyLong_FromUnsignedLong(f.os_service_pack)) &&
      put(d, F::FileType, PyUnicode_FromString(f.file_type_name.c_str())) &&
      put(d, F::RepairCount, PyLong_FromUnsignedLong(f.repair_count)) &&
      put(d, F::LastRepair, times.make(f.last_repair_time)) &&
      put(d, F::HeaderCopiesAgree, new_bool(f.copies_agree)) &&
      put(d, F::HeaderChecksumOk, new_bool(f.checksum_ok)) &&
      put(d, F::ShadowHeaderChecksumOk, new_bool(f.shadow_checksum_ok)) &&
      put(d, F::Truncated, truncation_value(*s.database));
  if (!ok) return nullptr;
  return dict.release();
}

PyObject* forensic_get_table_indexes(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  PyObject* name_object = nullptr;
  std::string_view name;
  if (!table_name_argument(kGetTableIndexes, args, nargs, kwnames, name_object, name)) return nullptr;
  Result<std::vector<IndexDefinition>> indexes = read_table_indexes(*s.database, name);
  if (!indexes) {
    if (indexes.error().kind() == ErrorKind::TableNotFound) return raise_table_not_found(name_object);
    return raise_ese_error(indexes.error());
  }
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const IndexDefinition& index : *indexes) {
    PyRef columns(PyList_New(0));
    if (!columns) return nullptr;
    for (const KeySegment& segment : index.columns) {
      PyRef column(PyDict_New());
      PyObject* column_name = nullptr;
      if (segment.column_name) {
        column_name = lossy_text(*segment.column_name);
      } else {
        column_name = Py_None;
        Py_INCREF(column_name);
      }
      if (!column || !put(column.get(), "name", column_name) ||
          !put(column.get(), "descending", new_bool(segment.descending)) ||
          PyList_Append(columns.get(), column.get()) < 0) {
        return nullptr;
      }
    }
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), "name", lossy_text(index.name)) ||
        !put(dict.get(), "columns", columns.release()) || !put(dict.get(), "unique", new_bool(index.unique)) ||
        !put(dict.get(), "primary", new_bool(index.primary)) || PyList_Append(list.get(), dict.get()) < 0) {
      return nullptr;
    }
  }
  return list.release();
}

PyObject* forensic_recover_records(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  PyObject* name_object = nullptr;
  std::string_view name;
  if (!table_name_argument(kRecoverRecords, args, nargs, kwnames, name_object, name)) return nullptr;
  std::optional<Result<std::vector<RecoveredRecord>>> scanned;
  {
    GilRelease released;  // the scan reads the table's pages only
    scanned.emplace(recover_records(*s.database, name));
  }
  Result<std::vector<RecoveredRecord>>& records = *scanned;
  if (!records) {
    if (records.error().kind() == ErrorKind::TableNotFound) return raise_table_not_found(name_object);
    return raise_ese_error(records.error());
  }
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const RecoveredRecord& r : *records) {
    PyRef missing(PyList_New(0));
    if (!missing) return nullptr;
    for (std::string_view column : r.missing_long_values) {
      PyRef text(lossy_text(column));
      if (!text || PyList_Append(missing.get(), text.get()) < 0) return nullptr;
    }
    PyRef dict(fields_dict(app::kRecoveredFields, app::recovered_field_name,
                           [&](app::RecoveredField field) { return recovered_value(r, missing.get(), field); }));
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* forensic_catalog_problems(DatabaseState& s) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const CatalogProblem& p : s.database->catalog_problems()) {
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), "page", PyLong_FromUnsignedLong(p.page)) ||
        !put(dict.get(), "tag", PyLong_FromUnsignedLong(p.tag)) ||
        !put(dict.get(), "object_id", p.object_id ? PyLong_FromUnsignedLong(*p.object_id) : none()) ||
        !put(dict.get(), "type", p.type ? PyLong_FromUnsignedLong(*p.type) : none()) ||
        !put(dict.get(), "error", PyUnicode_FromString(p.error.c_str())) ||
        PyList_Append(list.get(), dict.get()) < 0) {
      return nullptr;
    }
  }
  return list.release();
}

}  // namespace quarrow::python
