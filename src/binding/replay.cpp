#include "binding/replay.h"

#include <filesystem>
#include <utility>

#include "app/open.h"
#include "app/replay_fields.h"
#include "binding/convert.h"
#include "binding/reading.h"
#include "log/log_types.h"

namespace quarrow::python {
namespace {

PyObject* text(const std::string& s) { return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"); }

PyObject* table_changes(const replay::TableChanges& t) {
  PyRef d(PyDict_New());
  if (!d || !put(d.get(), "objid", PyLong_FromUnsignedLong(t.objid)) ||
      !put(d.get(), "name", t.name.empty() ? Py_NewRef(Py_None) : text(t.name)) ||
      !put(d.get(), "inserted", PyLong_FromUnsignedLongLong(t.inserted)) ||
      !put(d.get(), "replaced", PyLong_FromUnsignedLongLong(t.replaced)) ||
      !put(d.get(), "deleted", PyLong_FromUnsignedLongLong(t.deleted))) {
    return nullptr;
  }
  return d.release();
}

PyObject* report_dict(const replay::ReplayReport& r) {
  PyRef d(PyDict_New());
  if (!d) return nullptr;
  PyRef generations(PyList_New(0));
  if (!generations) return nullptr;
  for (std::uint32_t g : r.generations) {
    PyRef n(PyLong_FromUnsignedLong(g));
    if (!n || PyList_Append(generations.get(), n.get()) != 0) return nullptr;
  }
  if (!put(d.get(), "generations", generations.release()) ||
      !put(d.get(), "start", text(logs::position_text(r.start))) ||
      !put(d.get(), "end", text(logs::position_text(r.end))) ||
      !put(d.get(), "needed", PyBool_FromLong(r.needed))) {
    return nullptr;
  }
  for (const auto& [name, value] : app::replay_counts(r)) {
    if (!put(d.get(), name, PyLong_FromUnsignedLongLong(value))) return nullptr;
  }
  PyRef types(PyDict_New());
  if (!types) return nullptr;
  for (const auto& [name, count] : app::replay_record_types(r)) {
    if (!put(types.get(), name.c_str(), PyLong_FromUnsignedLongLong(count))) return nullptr;
  }
  if (!put(d.get(), "record_types", types.release())) return nullptr;
  PyRef tables(PyList_New(0));
  if (!tables) return nullptr;
  for (const replay::TableChanges& t : r.tables) {
    PyRef entry(table_changes(t));
    if (!entry || PyList_Append(tables.get(), entry.get()) != 0) return nullptr;
  }
  if (!put(d.get(), "tables", tables.release())) return nullptr;
  return d.release();
}

std::string folder_of(const std::string& path) {
  // Through char8_t: a narrow std::string is read in the ANSI code page on Windows.
  const std::filesystem::path p(std::u8string(path.begin(), path.end()));
  const std::u8string parent = p.parent_path().u8string();
  return parent.empty() ? std::string(".") : std::string(parent.begin(), parent.end());
}

}  // namespace

const char* const kReplayReportDoc =
    "replay_report($self)\n--\n\nWhat the replay of the logs did, for a database opened with logs=.\n\n"
    "Returns:\n"
    "    dict | None: None for a database read as its file holds it. Otherwise: generations\n"
    "    (the log generations read), start and end (log positions, \"generation,sector,byte\"),\n"
    "    needed (whether any record changed a page), records_applied, records_in_file (already\n"
    "    in the file), records_other_database, the page writes by the dbtime rule\n"
    "    (writes_at_before, writes_creating, writes_same_operation, writes_already_applied),\n"
    "    transactions_committed, transactions_rolled_back, transactions_undone_at_end,\n"
    "    operations_undone_at_end, macros_applied, macros_dropped, pages_changed,\n"
    "    pages_created, total_pages, dbtime_before, dbtime_after, record_types (record\n"
    "    type name -> count) and tables (one dict per tree the logs changed: objid, name,\n"
    "    inserted, replaced, deleted)";

bool logs_argument(const Signature& sig, PyObject* value, const std::string& database_path,
                   std::optional<std::string>& out) {
  out.reset();
  if (value == nullptr || value == Py_None || value == Py_False) return true;
  if (value == Py_True) {
    out = folder_of(database_path);
    return true;
  }
  PyRef holder;
  std::string_view path;
  if (!path_argument(sig, "logs", value, holder, path)) return false;
  out = std::string(path);
  return true;
}

bool replay_into(DatabaseState& state, const std::string& logs) {
  app::Opened replayed;
  {
    GilRelease released;  // the replay reads the file and the logs only
    replayed = app::open_replayed(*state.database, logs, replay::ReplayOptions{});
  }
  if (!replayed) {
    const app::OpenFailure& failure = replayed.failure;
    switch (failure.kind) {
      case app::OpenFailure::Kind::NotFound:
        raise_message(PyExc_FileNotFoundError, failure.message);
        return false;
      case app::OpenFailure::Kind::System:
        raise_os_error(failure.os_code, failure.message);
        return false;
      default:
        raise_message(PyExc_IOError, failure.message);
        return false;
    }
  }
  state.database = std::move(replayed.database);
  state.replay = std::move(replayed.replay);
  state.logs_folder = logs;
  app::add_log_identities(logs, state.log_files);
  return true;
}

PyObject* replay_report(DatabaseState& state) {
  if (state.replay == nullptr) Py_RETURN_NONE;
  return report_dict(*state.replay);
}

}  // namespace quarrow::python
