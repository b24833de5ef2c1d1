// The class EseLogs(path): the transaction logs of a folder (or one log file), read
// once at construction, never written. Methods give the files with their facts and
// problems, the checkpoint, the generation chain with its gaps, what a database needs,
// the records, a database's row changes and the transactions' timeline.
#include "binding/logs.h"

#include <algorithm>
#include <string_view>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/iterator_type.h"
#include "app/log_fields.h"
#include "binding/ese_database.h"
#include "log/database_link.h"
#include "log/transactions.h"
#include "platform/platform.h"

namespace quarrow::python {

using namespace quarrow::logs;

PyObject* position_object(const LogPosition& p) { return PyUnicode_FromString(position_text(p).c_str()); }

// A log time as datetime.datetime, as header_info gives the database header's times:
// aware UTC when its UTC bit is set (every log seen), naive otherwise, None when unset
// or when the bytes name no real date (damage). The class and the zone are looked up
// once per interpreter run.
PyObject* time_object(const LogTime& t) {
  if (!t.set) Py_RETURN_NONE;
  static PyObject* datetime_class = nullptr;  // kept for the process's life, as the type objects
  static PyObject* utc = nullptr;
  if (datetime_class == nullptr) {
    PyRef module(PyImport_ImportModule("datetime"));
    if (!module) return nullptr;
    PyRef cls(PyObject_GetAttrString(module.get(), "datetime"));
    PyRef timezone(cls ? PyObject_GetAttrString(module.get(), "timezone") : nullptr);
    PyRef zone(timezone ? PyObject_GetAttrString(timezone.get(), "utc") : nullptr);
    if (!zone) return nullptr;
    datetime_class = cls.release();
    utc = zone.release();
  }
  PyObject* value = PyObject_CallFunction(datetime_class, "iiiiiiiO", t.year, t.month, t.day, t.hours, t.minutes,
                                          t.seconds, t.milliseconds * 1000, t.utc ? utc : Py_None);
  if (value == nullptr && PyErr_ExceptionMatches(PyExc_ValueError)) {
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return value;
}

PyObject* problem_lines(const std::vector<std::string>& lines) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const std::string& line : lines) {
    PyRef item(lossy_text(line));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

bool warn_problems(const std::vector<std::string>& lines) {
  if (lines.empty()) return true;
  PyRef text(lossy_text(std::to_string(lines.size()) + (lines.size() == 1 ? " problem" : " problems") +
                        " reading the logs (see problems()): " + lines.front()));
  return text && PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "%U", text.get()) == 0;
}

namespace {

struct EseLogsObject {
  PyObject_HEAD
  LogsState* state;
};

PyObject* g_type = nullptr;

LogsState* state_of(PyObject* self) {
  if (g_type == nullptr || self == nullptr || !PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(g_type)) ||
      reinterpret_cast<EseLogsObject*>(self)->state == nullptr) {
    PyErr_SetString(PyExc_TypeError, "descriptor requires a 'quarrow.EseLogs' object");
    return nullptr;
  }
  return reinterpret_cast<EseLogsObject*>(self)->state;
}

PyObject* signature_object(const logs::Signature& s) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(s.data()), static_cast<Py_ssize_t>(s.size()));
}

PyObject* problems_list(const std::vector<LogProblem>& problems) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const LogProblem& p : problems) {
    const std::string text = p.where.is_zero() ? p.text : position_text(p.where) + " " + p.text;
    PyRef item(lossy_text(text));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* attachment_value(app::AttachmentField field, const AttachedDatabase& a) {
  using F = app::AttachmentField;
  switch (field) {
    case F::Dbid: return PyLong_FromLong(a.dbid);
    case F::Path: return lossy_text(a.path);
    case F::Dbtime: return PyLong_FromUnsignedLongLong(a.dbtime);
    case F::Attached: return position_object(a.attached);
    case F::Consistent: return position_object(a.consistent);
    case F::Signature: return signature_object(a.signature);
  }
  Py_RETURN_NONE;
}

PyObject* attachments_list(const std::vector<AttachedDatabase>& list_in) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const AttachedDatabase& a : list_in) {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const app::AttachmentField field : app::kAttachmentFields) {
      if (!put(d.get(), app::kAttachmentFieldNames[static_cast<std::size_t>(field)].data(), attachment_value(field, a))) {
        return nullptr;
      }
    }
    if (PyList_Append(list.get(), d.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* segments_dict(const LogFileStats& s) {
  PyRef segments(PyDict_New());
  if (!segments) return nullptr;
  for (std::size_t k = 0; k < kSegmentStatusCount; ++k) {
    if (!put(segments.get(), segment_status_name(static_cast<SegmentStatus>(k)), PyLong_FromUnsignedLong(s.segments[k]))) {
      return nullptr;
    }
  }
  return segments.release();
}

PyObject* file_value(app::LogFileField field, const LogFileInfo& f) {
  using F = app::LogFileField;
  const LogHeader& h = f.header;
  const LogFileStats& s = f.stats;
  switch (field) {
    case F::Name: return lossy_text(f.name);
    case F::Path: return lossy_text(f.path);
    case F::Role: return PyUnicode_FromString(file_role_name(f.role));
    case F::Size: return PyLong_FromUnsignedLongLong(f.size);
    case F::Kind: return PyUnicode_FromString(f.open_error.empty() ? header_kind_name(h.kind) : "unreadable");
    case F::Generation:
      return app::log_file_has(F::Version, f) ? PyLong_FromUnsignedLong(h.generation) : Py_NewRef(Py_None);
    case F::Problems: return problems_list(f.problems);
    case F::Error: return lossy_text(f.open_error);
    case F::Version: return PyUnicode_FromString(h.version_text().c_str());
    case F::Created: return time_object(h.create_time);
    case F::PreviousCreated: return time_object(h.previous_time);
    case F::Signature: return signature_object(h.signature);
    case F::Sectors: return PyLong_FromLong(h.file_sectors);
    case F::SectorSize: return PyLong_FromLong(h.sector_size);
    case F::EngineVersion: return PyLong_FromUnsignedLong(h.engine_version);
    case F::Checkpoint: return position_object(h.checkpoint);
    case F::CircularLogging: return PyBool_FromLong((h.flags & logfmt::kFlagCircularLogging) != 0);
    case F::SystemPath: return lossy_text(h.system_path);
    case F::LogPath: return lossy_text(h.log_path);
    case F::AttachedDatabases: return attachments_list(h.attachments);
    case F::Segments: return segments_dict(s);
    case F::Records: return PyLong_FromUnsignedLongLong(s.records);
    case F::Fragmented: return PyLong_FromUnsignedLongLong(s.fragmented);
    case F::FirstRecord: return position_object(s.first_record);
    case F::End: return position_object(s.end);
    case F::FirstTime: return time_object(s.first_time);
    case F::LastTime: return time_object(s.last_time);
    case F::CorrectedBits: return PyLong_FromUnsignedLong(s.corrected_bits);
  }
  Py_RETURN_NONE;
}

PyObject* file_dict(const LogFileInfo& f) {
  PyRef d(PyDict_New());
  if (!d) return nullptr;
  for (const app::LogFileField field : app::kLogFileFields) {
    if (app::log_file_has(field, f) && !put(d.get(), app::log_file_field_name(field).data(), file_value(field, f))) {
      return nullptr;
    }
  }
  return d.release();
}

PyObject* get_files(LogsState& s) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const LogFileInfo& f : s.folder.files()) {
    PyRef d(file_dict(f));
    if (!d || PyList_Append(list.get(), d.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* get_checkpoint(LogsState& s) {
  const auto& c = s.folder.checkpoint();
  if (!c) Py_RETURN_NONE;
  PyRef d(PyDict_New());
  if (!d || !put(d.get(), "name", lossy_text(s.folder.checkpoint_name())) ||
      !put(d.get(), "readable", PyBool_FromLong(c->readable)) ||
      !put(d.get(), "copies_agree", PyBool_FromLong(c->copies_agree)) ||
      !put(d.get(), "checkpoint", position_object(c->checkpoint)) ||
      !put(d.get(), "full_backup", position_object(c->full_backup)) ||
      !put(d.get(), "consistent", position_object(c->consistent)) ||
      !put(d.get(), "signature", signature_object(c->signature)) ||
      !put(d.get(), "attached_databases", attachments_list(c->attachments)) ||
      !put(d.get(), "problems", problems_list(c->problems))) {
    return nullptr;
  }
  return d.release();
}

PyObject* get_generations(LogsState& s) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (std::size_t i : s.folder.stream_order()) {
    PyRef g(PyLong_FromUnsignedLong(s.folder.files()[i].header.generation));
    if (!g || PyList_Append(list.get(), g.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* get_gaps(LogsState& s) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const GenerationGap& g : s.folder.gaps()) {
    PyRef item(Py_BuildValue("(kk)", static_cast<unsigned long>(g.first), static_cast<unsigned long>(g.last)));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* get_chain(LogsState& s) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const ChainLink& l : s.folder.chain()) {
    PyRef d(PyDict_New());
    if (!d || !put(d.get(), "from", PyLong_FromUnsignedLong(l.from)) || !put(d.get(), "to", PyLong_FromUnsignedLong(l.to)) ||
        !put(d.get(), "time_ok", PyBool_FromLong(l.time_ok)) ||
        !put(d.get(), "signature_ok", PyBool_FromLong(l.signature_ok)) ||
        !put(d.get(), "segments_ok", l.segments_ok ? PyBool_FromLong(*l.segments_ok) : Py_NewRef(Py_None)) ||
        PyList_Append(list.get(), d.get()) < 0) {
      return nullptr;
    }
  }
  return list.release();
}

PyObject* get_problems(LogsState& s) { return problems_list(s.folder.problems()); }
PyObject* get_path(LogsState& s) { return lossy_text(s.path); }
PyObject* get_records_count(LogsState& s) { return PyLong_FromUnsignedLongLong(s.folder.records()); }
PyObject* get_checksum_failed(LogsState& s) { return PyBool_FromLong(s.folder.checksum_failed()); }

// The database argument: an EseDatabase, or a path (str or os.PathLike) opened here.
std::shared_ptr<Database> database_argument(PyObject* value, const char* method) {
  PyRef database_type(ese_database_type());
  if (!database_type) return nullptr;
  if (value != nullptr && PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(database_type.get()))) {
    DatabaseState* state = database_state(value);
    return state != nullptr ? state->database : nullptr;
  }
  if (value == nullptr || (!PyUnicode_Check(value) && !PyObject_HasAttrString(value, "__fspath__"))) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'db' must be an EseDatabase or a path", method);
    return nullptr;
  }
  PyRef text(PyOS_FSPath(value));
  if (!text) return nullptr;
  if (!PyUnicode_Check(text.get())) {
    PyErr_Format(PyExc_TypeError, "%s() argument 'db' must be an EseDatabase or a path", method);
    return nullptr;
  }
  Py_ssize_t n = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &n);
  if (utf8 == nullptr) return nullptr;
  const std::string path(utf8, static_cast<std::size_t>(n));
  if (path.find('\0') != std::string::npos || !platform::path_exists(path)) {
    raise_message(PyExc_FileNotFoundError, "Database file not found: " + path);
    return nullptr;
  }
  auto opened = Database::open(path);
  if (!opened) {
    const std::string message = "Failed to open database: " + path + ": " + opened.error().to_string();
    if (opened.error().kind() == ErrorKind::Io) raise_os_error(opened.error().os_code(), message);
    else raise_message(PyExc_IOError, message);
    return nullptr;
  }
  return std::shared_ptr<Database>(std::move(opened).value());
}

const char* const kDbNames[] = {"db"};
constexpr python::Signature kNeeds{"needs", kDbNames, 1, 1};
constexpr python::Signature kChanges{"changes", kDbNames, 1, 1};

PyObject* generations_list(const std::vector<std::uint32_t>& g) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (std::uint32_t x : g) {
    PyRef item(PyLong_FromUnsignedLong(x));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* optional_bool(const std::optional<bool>& v) { return v ? PyBool_FromLong(*v) : Py_NewRef(Py_None); }

PyObject* needs_value(app::NeedsField field, const DatabaseNeeds& n, const LogFolder& folder) {
  using F = app::NeedsField;
  switch (field) {
    case F::Dirty: return PyBool_FromLong(n.facts.dirty);
    case F::State: return PyLong_FromUnsignedLong(n.facts.state);
    case F::Dbid: return PyLong_FromLong(n.facts.dbid);
    case F::Attached: return position_object(n.facts.attached);
    case F::Consistent: return position_object(n.facts.consistent);
    case F::Needed: return generations_list(n.needed);
    case F::Present: return generations_list(n.present);
    case F::Missing: return generations_list(n.missing);
    case F::Unchained: return generations_list(n.unchained);
    case F::AnotherDatabase: return PyBool_FromLong(n.another_database);
    case F::LogSignatureOk: return optional_bool(n.log_signature_ok);
    case F::LastGenerationTimeOk: return optional_bool(n.gen_max_time_ok);
    case F::AttachFound: return PyBool_FromLong(n.attach_found);
    case F::AttachSignatureOk: return optional_bool(n.attach_signature_ok);
    case F::RecordsAfterAttach: return PyLong_FromUnsignedLongLong(n.replay_records);
    case F::AlreadyApplied: return PyLong_FromUnsignedLongLong(n.already_applied);
    case F::ReplayRecords: return PyLong_FromUnsignedLongLong(n.replay_records - n.already_applied);
    case F::Verdict: return PyUnicode_FromString(needs_verdict(folder, n).c_str());
  }
  Py_RETURN_NONE;
}

PyObject* needs(LogsState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[1];
  if (!parse_arguments(kNeeds, args, nargs, kwnames, values)) return nullptr;
  const std::shared_ptr<Database> db = database_argument(values[0], "needs");
  if (!db) return nullptr;
  const DatabaseNeeds n = assess_database(*db, s.folder);
  PyRef d(PyDict_New());
  if (!d) return nullptr;
  for (const app::NeedsField field : app::kNeedsFields) {
    if (!put(d.get(), app::needs_field_name(field).data(), needs_value(field, n, s.folder))) return nullptr;
  }
  return d.release();
}

PyObject* timeline_value(app::TimelineField field, const TransactionEntry& e) {
  using F = app::TimelineField;
  switch (field) {
    case F::Time: return time_object(e.begin_time);
    case F::Begin: return position_object(e.begin);
    case F::End: return position_object(e.end);
    case F::EndTime: return time_object(e.end_time);
    case F::Session: return PyLong_FromLong(e.procid);
    case F::Trx: return PyLong_FromUnsignedLong(e.trx);
    case F::BeginSeen: return PyBool_FromLong(e.begin_seen);
    case F::Outcome: return PyUnicode_FromString(outcome_name(e.outcome));
    default: return PyLong_FromUnsignedLong(app::timeline_count(field, e.counts));
  }
}

PyObject* timeline(LogsState& s) {
  std::vector<TransactionEntry> entries;
  TransactionTracker tracker([&](const TransactionEntry& e) { entries.push_back(e); });
  LogStream stream(s.folder);
  LogRecord r;
  while (stream.next(r)) tracker.feed(r, summarize(r));
  tracker.finish();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TransactionEntry& a, const TransactionEntry& b) { return a.begin < b.begin; });
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const TransactionEntry& e : entries) {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const app::TimelineField field : app::kTimelineFields) {
      if (!put(d.get(), app::timeline_field_name(field).data(), timeline_value(field, e))) return nullptr;
    }
    if (PyList_Append(list.get(), d.get()) < 0) return nullptr;
  }
  if (!warn_problems(stream.problems())) return nullptr;
  return list.release();
}

// ---- Calling conventions ----------------------------------------------------------

using PlainBody = PyObject* (*)(LogsState&);
using FastBody = PyObject* (*)(LogsState&, PyObject* const*, Py_ssize_t, PyObject*);

template <PlainBody Body>
PyObject* noargs_method(PyObject* self, PyObject*) {
  LogsState* s = state_of(self);
  return s == nullptr ? nullptr : run_guarded([&] { return Body(*s); });
}

template <PlainBody Body>
PyObject* getter(PyObject* self, void*) {
  LogsState* s = state_of(self);
  return s == nullptr ? nullptr : run_guarded([&] { return Body(*s); });
}

template <FastBody Body>
PyObject* fast_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  LogsState* s = state_of(self);
  return s == nullptr ? nullptr : run_guarded([&] { return Body(*s, args, nargs, kwnames); });
}

PyObject* records_method(PyObject* self, PyObject*) {
  LogsState* s = state_of(self);
  return s == nullptr ? nullptr : run_guarded([&] { return logs_records_iterator(self, *s); });
}

PyObject* changes_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  LogsState* s = state_of(self);
  if (s == nullptr) return nullptr;
  return run_guarded([&]() -> PyObject* {
    PyObject* values[1];
    if (!parse_arguments(kChanges, args, nargs, kwnames, values)) return nullptr;
    std::shared_ptr<Database> db = database_argument(values[0], "changes");
    if (!db) return nullptr;
    return logs_changes_iterator(self, *s, std::move(db));
  });
}

const char* const kRowNames[] = {"db", "table", "key"};
constexpr python::Signature kRowHistory{"row_history", kRowNames, 3, 3};

PyObject* row_history_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  LogsState* s = state_of(self);
  if (s == nullptr) return nullptr;
  return run_guarded([&]() -> PyObject* {
    PyObject* values[3];
    if (!parse_arguments(kRowHistory, args, nargs, kwnames, values)) return nullptr;
    if (!PyUnicode_Check(values[1])) {
      PyErr_SetString(PyExc_TypeError, "row_history() argument 'table' must be str");
      return nullptr;
    }
    Py_ssize_t n = 0;
    const char* table = PyUnicode_AsUTF8AndSize(values[1], &n);
    if (table == nullptr) return nullptr;
    std::string table_name(table, static_cast<std::size_t>(n));
    // The key as changes() gives it: the row's key bytes.
    std::string key;
    if (PyBytes_Check(values[2])) {
      char* data = nullptr;
      Py_ssize_t size = 0;
      if (PyBytes_AsStringAndSize(values[2], &data, &size) != 0) return nullptr;
      key.assign(data, static_cast<std::size_t>(size));
    } else if (PyByteArray_Check(values[2])) {
      key.assign(PyByteArray_AsString(values[2]), static_cast<std::size_t>(PyByteArray_Size(values[2])));
    } else {
      PyErr_SetString(PyExc_TypeError, "row_history() argument 'key' must be bytes (the key changes() gives)");
      return nullptr;
    }
    std::shared_ptr<Database> db = database_argument(values[0], "row_history");
    if (!db) return nullptr;
    return logs_row_history(*s, std::move(db), std::move(table_name), std::move(key));
  });
}

template <class F>
PyCFunction as_cfunction(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

const char* const kPathNames[] = {"path"};
constexpr python::Signature kConstructor{"EseLogs", kPathNames, 1, 1};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* values[1];
  if (!parse_arguments(kConstructor, args, kwargs, values)) return nullptr;
  PyObject* value = values[0];
  if (!PyUnicode_Check(value) && !PyObject_HasAttrString(value, "__fspath__")) {
    PyErr_SetString(PyExc_TypeError, "EseLogs() argument 'path' must be str or os.PathLike");
    return nullptr;
  }
  PyRef text(PyOS_FSPath(value));
  if (!text) return nullptr;
  if (!PyUnicode_Check(text.get())) {
    PyErr_SetString(PyExc_TypeError, "EseLogs() argument 'path' must be str or os.PathLike");
    return nullptr;
  }
  Py_ssize_t n = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &n);
  if (utf8 == nullptr) return nullptr;
  const std::string path(utf8, static_cast<std::size_t>(n));
  if (path.find('\0') != std::string::npos) {
    PyErr_SetString(PyExc_ValueError, "EseLogs() path contains a NUL character");
    return nullptr;
  }
  if (!platform::path_exists(path)) return raise_message(PyExc_FileNotFoundError, "Log folder not found: " + path);
  auto state = std::make_unique<LogsState>();
  state->path = path;
  auto opened = LogFolder::open(path);
  if (!opened) return raise_message(PyExc_OSError, opened.error().os_error_text());
  state->folder = std::move(opened).value();
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<EseLogsObject*>(self)->state = state.release();
  return self;
}

PyObject* new_object(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return construct(type, args, kwargs); });
}

void dealloc(PyObject* self) {
  auto* object = reinterpret_cast<EseLogsObject*>(self);
  delete object->state;
  object->state = nullptr;
  free_heap_object(self);
}

PyObject* repr(PyObject* self) {
  LogsState* s = state_of(self);
  if (s == nullptr) return nullptr;
  return lossy_text("EseLogs(path='" + s->path + "', files=" + std::to_string(s->folder.files().size()) +
                    ", records=" + std::to_string(s->folder.records()) + ")");
}

PyGetSetDef kProperties[] = {
    {"path", getter<get_path>, nullptr, "The folder (or file) given.", nullptr},
    {"record_count", getter<get_records_count>, nullptr, "Records in every usable log.", nullptr},
    {"checksum_failed", getter<get_checksum_failed>, nullptr,
     "Whether a header, segment or checkpoint checksum failed (a corrected bit included).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"files", as_cfunction(noargs_method<get_files>), METH_NOARGS,
     "files($self)\n--\n\nEvery log, reserve and next-log file: name, role, kind, generation, header\n"
     "facts, segment statuses, records and problems."},
    {"checkpoint", as_cfunction(noargs_method<get_checkpoint>), METH_NOARGS,
     "checkpoint($self)\n--\n\nThe checkpoint file's facts, or None without one."},
    {"generations", as_cfunction(noargs_method<get_generations>), METH_NOARGS,
     "generations($self)\n--\n\nThe generations of the usable logs, in order."},
    {"gaps", as_cfunction(noargs_method<get_gaps>), METH_NOARGS,
     "gaps($self)\n--\n\nMissing generations between those present, as (first, last) pairs."},
    {"chain", as_cfunction(noargs_method<get_chain>), METH_NOARGS,
     "chain($self)\n--\n\nEach pair of consecutive generations: whether the later names the earlier's\n"
     "creation time, carries the same log signature and the XOR of its segment checksums."},
    {"problems", as_cfunction(noargs_method<get_problems>), METH_NOARGS,
     "problems($self)\n--\n\nProblems of the folder as a whole (each file lists its own)."},
    {"needs", as_cfunction(fast_method<needs>), kFastKeywords,
     "needs($self, db)\n--\n\nWhat a database (an EseDatabase or a path) needs of these logs: the\n"
     "generations its header requires, present and missing, whether the signatures and the\n"
     "last generation's creation time match, and how many records after its attach\n"
     "position would change it ('verdict'). A generation is present when its log chains to\n"
     "the database (log signature and creation time); logs of another database are said to\n"
     "be so ('another_database', 'verdict') with no replay estimate."},
    {"records", as_cfunction(records_method), METH_NOARGS,
     "records($self)\n--\n\nIterator over every record in log order: position (GGGGGG,SSSS,BBBB), type,\n"
     "file, size, fragmented, time (datetime, UTC), session, dbid, objid, page, dbtimes,\n"
     "transaction level and the type's own 'fields'. What it could not read is in the\n"
     "iterator's problems(), and a RuntimeWarning says so at the end."},
    {"changes", as_cfunction(changes_method), kFastKeywords,
     "changes($self, db)\n--\n\nIterator over the row changes of a database's tables: kind, table, key,\n"
     "the record decoded with the table's columns (as read_table gives it), time and the\n"
     "transaction's outcome ('committed', 'rolled back', 'open'), then 'before' and\n"
     "'after': the row as it was before the change and after it (replace, flag-insert,\n"
     "undo), decoded the same way. The logs are replayed onto the database's file in\n"
     "memory for these (never written), which also names the row (key) of a replace,\n"
     "flag-delete or delete. Changes the file already holds (a database that needs no\n"
     "replay) keep their record's key and have before and after None. Logs of another\n"
     "database give none; what it could not read is in the iterator's problems(), and a\n"
     "RuntimeWarning says so at the end."},
    {"row_history", as_cfunction(row_history_method), kFastKeywords,
     "row_history($self, db, table, key)\n--\n\nThe changes of one row, in log order: those of changes(db)\n"
     "whose table is `table` and whose key is `key` (bytes, as changes() gives it). A\n"
     "RuntimeWarning names what could not be read."},
    {"timeline", as_cfunction(noargs_method<timeline>), METH_NOARGS,
     "timeline($self)\n--\n\nOne dict per level-0 transaction, in log order: time, begin, end, end_time,\n"
     "session, trx, begin_seen, outcome and operation counts. A RuntimeWarning names what\n"
     "could not be read."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr char kClassDoc[] =
    "EseLogs(path)\n--\n\n"
    "The transaction logs of a folder (edb.log, SRU00051.log, *.jrs, the .chk checkpoint),\n"
    "or one log file, read as evidence: nothing is ever written.\n\n"
    "Example:\n"
    "    >>> logs = EseLogs(\"SRU\")\n"
    "    >>> logs.needs(\"SRU/SRUDB.dat\")[\"verdict\"]\n"
    "    'needs no replay'";

PyType_Slot kSlots[] = {
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_new, reinterpret_cast<void*>(new_object)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {0, nullptr},
};

PyType_Spec kTypeDescription = {
    "quarrow.EseLogs", static_cast<int>(sizeof(EseLogsObject)), 0, Py_TPFLAGS_DEFAULT, kSlots,
};

}  // namespace

PyObject* ese_logs_type() {
  if (g_type == nullptr) {
    g_type = PyType_FromSpec(&kTypeDescription);
    if (g_type == nullptr) return nullptr;
  }
  return Py_NewRef(g_type);
}

}  // namespace quarrow::python
