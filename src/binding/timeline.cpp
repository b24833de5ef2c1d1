// EseDatabase.timeline: the events of the database (and of a folder of its logs) are
// gathered and sorted when the method is called (sorted runs spill to temporary files
// beyond the memory bound), then an iterator hands them out one dict at a time, with the
// members quarrow timeline writes (src/app/timeline_fields.h) and the row's values.
#include "binding/timeline.h"

#include <memory>
#include <string>
#include <vector>

#include "app/timeline_arrow.h"
#include "app/timeline_fields.h"
#include "app/timeline_logs.h"
#include "binding/arrow_object.h"
#include "binding/args.h"
#include "binding/convert.h"
#include "binding/iterator_type.h"
#include "log/log_folder.h"
#include "timeline/collect.h"
#include "timeline/event_sort.h"

namespace quarrow::python {

const char kTimelineDoc[] =
    "timeline($self, *, logs=None, start=None, end=None, views=None, kinds=None, arrow=False, "
    "batch_rows=65536, sort_memory_mb=256, temp_dir=None)\n--\n\n"
    "Every dated fact of the database in time order, one dict per event: message,\n"
    "datetime (UTC), timestamp_desc (what happened then), timestamp (microseconds since\n"
    "1970), source_file, kind ('row', 'header', 'recovered', 'transaction', 'row_change'),\n"
    "table (the view or table), row, then the row's values (JSON types; times as ISO 8601\n"
    "text). With logs, one event per transaction and one per row the logs insert, replace\n"
    "or delete ('row inserted', 'row replaced', 'row deleted', at the time of the change's\n"
    "record; its key, log position and outcome, and the row's values after the change or\n"
    "before a delete, where the record or the logs replayed onto the file give them).\n"
    "Logs of another database give no row changes; what the logs could not give is said\n"
    "in a RuntimeWarning.\n\n"
    "Args:\n"
    "    logs: A folder of the database's transaction logs, or None: the folder the database\n"
    "        was opened with (logs=), if any\n"
    "    start: Inclusive lower bound: datetime (naive = UTC) or text ('2021-11-16'), or None\n"
    "    end: Inclusive upper bound, as start; an end date includes the whole day\n"
    "    views: Names of views (tables for a database no profile knows; 'header' for the\n"
    "        header's times), or None for all\n"
    "    kinds: Event kinds to give ('row', 'header', 'recovered', 'transaction', 'row_change'),\n"
    "        or None for all\n"
    "    arrow: True for an object of the Arrow PyCapsule protocol instead (pyarrow.table(...),\n"
    "        polars.from_arrow, DuckDB), read once; the row's values are one JSON text column,\n"
    "        'attributes'\n"
    "    batch_rows: Events per Arrow batch\n"
    "    sort_memory_mb: Memory the sort keeps before it spills runs to temp_dir\n"
    "    temp_dir: Folder for the spilled runs, or None for the system's\n\n"
    "Returns:\n"
    "    An iterator of dicts, or with arrow=True an Arrow stream object\n\n"
    "Raises:\n"
    "    ValueError: If a bound, view or kind cannot be read\n"
    "    IOError: If the logs or a spill file cannot be read or written";

namespace {

struct Events {
  std::vector<timeline::InputNames> names;
  std::unique_ptr<timeline::EventMerger> merger;
  PyRef keys[std::size(app::kTimelineFields)];
  PyRef loads;     // json.loads
  PyRef epoch;     // 1970-01-01 UTC
  PyRef timedelta;
};

struct TimelineIteratorObject {
  PyObject_HEAD
  PyObject* database;  // keeps the EseDatabase (and its mapping) alive
  Events* events;      // nullptr once exhausted
};

PyObject* time_object(Events& ev, std::int64_t us) {
  std::int64_t days = us / 86400000000LL;
  std::int64_t rest = us % 86400000000LL;
  if (rest < 0) {
    --days;
    rest += 86400000000LL;
  }
  PyRef delta(PyObject_CallFunction(ev.timedelta.get(), "LLL", static_cast<long long>(days),
                                    static_cast<long long>(rest / 1000000), static_cast<long long>(rest % 1000000)));
  if (!delta) return nullptr;
  PyObject* t = PyNumber_Add(ev.epoch.get(), delta.get());
  if (t == nullptr && PyErr_ExceptionMatches(PyExc_OverflowError)) {
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return t;
}

PyObject* text_object(std::string_view s) { return lossy_text(s); }

PyObject* event_dict(Events& ev, const timeline::EventView& e) {
  PyRef d(PyDict_New());
  if (!d) return nullptr;
  const timeline::InputNames* input = e.input < ev.names.size() ? &ev.names[e.input] : nullptr;
  for (std::size_t k = 0; k < std::size(app::kTimelineFields); ++k) {
    PyRef v;
    switch (app::kTimelineFields[k]) {
      case app::TimelineField::Message: v = PyRef(text_object(e.message)); break;
      case app::TimelineField::Datetime: v = PyRef(time_object(ev, e.time)); break;
      case app::TimelineField::TimestampDesc: v = PyRef(text_object(e.description)); break;
      case app::TimelineField::Timestamp: v = PyRef(PyLong_FromLongLong(e.time)); break;
      case app::TimelineField::SourceFile: v = PyRef(text_object(input != nullptr ? input->source : "?")); break;
      case app::TimelineField::Kind: v = PyRef(text_object(timeline::event_kind_name(e.kind))); break;
      case app::TimelineField::Table:
        v = PyRef(text_object(input != nullptr && e.table < input->tables.size() ? input->tables[e.table] : "?"));
        break;
      case app::TimelineField::Row: v = PyRef(PyLong_FromUnsignedLongLong(e.row)); break;
    }
    if (!v || PyDict_SetItem(d.get(), ev.keys[k].get(), v.get()) != 0) return nullptr;
  }
  if (!e.attributes.empty()) {
    std::string object;
    object.reserve(e.attributes.size() + 2);
    object += '{';
    object.append(e.attributes);
    object += '}';
    PyRef text(PyUnicode_DecodeUTF8(object.data(), static_cast<Py_ssize_t>(object.size()), "replace"));
    if (!text) return nullptr;
    PyRef values(PyObject_CallFunctionObjArgs(ev.loads.get(), text.get(), nullptr));
    if (!values || PyDict_Update(d.get(), values.get()) != 0) return nullptr;
  }
  return d.release();
}

PyObject* next_event(PyObject* self) {
  auto* it = reinterpret_cast<TimelineIteratorObject*>(self);
  if (it->events == nullptr) return nullptr;
  return run_guarded([&]() -> PyObject* {
    Events& ev = *it->events;
    timeline::EventView e;
    if (ev.merger->next(e)) return event_dict(ev, e);
    if (!ev.merger->status().ok()) return raise_message(PyExc_OSError, user_message(ev.merger->status().error()));
    delete it->events;
    it->events = nullptr;
    return nullptr;
  });
}

void dealloc_iterator(PyObject* self) {
  auto* it = reinterpret_cast<TimelineIteratorObject*>(self);
  delete it->events;
  it->events = nullptr;
  Py_CLEAR(it->database);
  free_heap_object(self);
}

IteratorType g_timeline_iterator_type({"quarrow.TimelineIterator", static_cast<int>(sizeof(TimelineIteratorObject)),
                                       "Iterator over timeline events, as dictionaries, in time order.", next_event,
                                       dealloc_iterator});

constexpr const char* kTimelineNames[] = {"logs",  "start",      "end",           "views",   "kinds",
                                          "arrow", "batch_rows", "sort_memory_mb", "temp_dir"};
constexpr Signature kTimeline{"timeline", kTimelineNames, 9, 0};

// ---- ArrowTimeline: the events through the Arrow PyCapsule protocol, once ----------

struct ArrowTimelineObject {
  PyObject_HEAD
  app::TimelineEvents* events;  // nullptr once a stream took them
  std::int64_t batch_rows;
};

ArrowTimelineObject* as_arrow(PyObject* self) { return reinterpret_cast<ArrowTimelineObject*>(self); }

PyObject* arrow_c_schema(PyObject*, PyObject*) {
  return run_guarded([&]() -> PyObject* {
    auto schema = std::make_unique<ArrowSchema>();
    app::timeline_arrow_schema(schema.get());
    return schema_capsule(schema.release());
  });
}

PyObject* arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!plain_stream_request(args, nargs, kwnames)) return nullptr;
  return run_guarded([&]() -> PyObject* {
    ArrowTimelineObject* o = as_arrow(self);
    if (o->events == nullptr) {
      return raise_message(PyExc_ValueError, "the timeline's events were read already: call timeline() again");
    }
    auto stream = std::make_unique<ArrowArrayStream>();
    app::timeline_arrow_stream(std::unique_ptr<app::TimelineEvents>(std::exchange(o->events, nullptr)),
                               o->batch_rows, stream.get());
    return stream_capsule(stream.release());
  });
}

PyObject* arrow_repr(PyObject* self) {
  return PyUnicode_FromString(as_arrow(self)->events != nullptr ? "ArrowTimeline()" : "ArrowTimeline(read)");
}

void arrow_dealloc(PyObject* self) {
  delete as_arrow(self)->events;
  free_heap_object(self);
}

ArrowObjectType g_arrow_timeline_type({"quarrow.ArrowTimeline", static_cast<int>(sizeof(ArrowTimelineObject)),
                                       "Timeline events through the Arrow PyCapsule protocol (read once).", "timeline",
                                       arrow_c_schema, arrow_c_stream, arrow_repr, arrow_dealloc});

// A bound: a datetime (naive = UTC; exact) or text (as the tool reads --from / --to).
bool bound_argument(const char* parameter, PyObject* value, bool end, std::optional<std::int64_t>& out) {
  if (value == nullptr || value == Py_None) return true;
  PyRef text;
  bool exact = false;
  if (PyUnicode_Check(value)) {
    text = PyRef(Py_NewRef(value));
  } else if (PyObject_HasAttrString(value, "isoformat") && PyObject_HasAttrString(value, "utcoffset")) {
    text = PyRef(PyObject_CallMethod(value, "isoformat", nullptr));
    exact = true;
  } else {
    PyErr_Format(PyExc_TypeError, "timeline() argument '%s' must be a datetime or str", parameter);
    return false;
  }
  if (!text) return false;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (utf8 == nullptr) return false;
  const std::string_view s(utf8, static_cast<std::size_t>(size));
  out = timeline::parse_time_bound(s, end && !exact);
  if (!out) {
    PyErr_Format(PyExc_ValueError, "timeline() argument '%s': '%s' is no time (2021-11-16, 2021-11-16T19:18:00)",
                 parameter, utf8);
    return false;
  }
  return true;
}

bool names_argument(const char* parameter, PyObject* value, std::vector<std::string>& out) {
  if (value == nullptr || value == Py_None) return true;
  if (PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "timeline() argument '%s' must be a list of names, not a single str", parameter);
    return false;
  }
  PyRef iter(PyObject_GetIter(value));
  if (!iter) return false;
  while (PyRef item{PyIter_Next(iter.get())}) {
    if (!PyUnicode_Check(item.get())) {
      PyErr_Format(PyExc_TypeError, "timeline() argument '%s' must hold str names", parameter);
      return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
    if (utf8 == nullptr) return false;
    out.emplace_back(utf8, static_cast<std::size_t>(size));
  }
  return !PyErr_Occurred();
}

bool prepare(Events& ev) {
  for (std::size_t k = 0; k < std::size(app::kTimelineFields); ++k) {
    const std::string_view name = app::timeline_field_name(app::kTimelineFields[k]);
    ev.keys[k] = PyRef(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (!ev.keys[k]) return false;
  }
  PyRef json(PyImport_ImportModule("json"));
  PyRef datetime_module(PyImport_ImportModule("datetime"));
  if (!json || !datetime_module) return false;
  ev.loads = PyRef(PyObject_GetAttrString(json.get(), "loads"));
  ev.timedelta = PyRef(PyObject_GetAttrString(datetime_module.get(), "timedelta"));
  PyRef datetime(PyObject_GetAttrString(datetime_module.get(), "datetime"));
  PyRef timezone(PyObject_GetAttrString(datetime_module.get(), "timezone"));
  if (!ev.loads || !ev.timedelta || !datetime || !timezone) return false;
  PyRef utc(PyObject_GetAttrString(timezone.get(), "utc"));
  if (!utc) return false;
  ev.epoch = PyRef(PyObject_CallFunction(datetime.get(), "iiiiiiiO", 1970, 1, 1, 0, 0, 0, 0, utc.get()));
  return static_cast<bool>(ev.epoch);
}

}  // namespace

PyObject* timeline_method(DatabaseState& state, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[9] = {};
  if (nargs != 0) {
    PyErr_Format(PyExc_TypeError, "timeline() takes no positional arguments but %zd were given", nargs);
    return nullptr;
  }
  if (!parse_arguments(kTimeline, args, nargs, kwnames, values)) return nullptr;
  timeline::TimelineFilter filter;
  PyRef logs_holder, temp_holder;
  std::string_view logs_dir, temp_dir;
  std::vector<std::string> kinds;
  std::uint64_t memory_mb = 256;
  std::uint64_t batch_rows = 65536;
  int arrow = 0;
  if ((values[0] != nullptr && values[0] != Py_None && !path_argument(kTimeline, "logs", values[0], logs_holder, logs_dir)) ||
      !bound_argument("start", values[1], false, filter.from) || !bound_argument("end", values[2], true, filter.to) ||
      !names_argument("views", values[3], filter.views) || !names_argument("kinds", values[4], kinds) ||
      (values[5] != nullptr && (arrow = PyObject_IsTrue(values[5])) < 0) ||
      !u64_argument(kTimeline, "batch_rows", values[6], 65536, batch_rows) ||
      !u64_argument(kTimeline, "sort_memory_mb", values[7], 256, memory_mb) ||
      (values[8] != nullptr && values[8] != Py_None && !path_argument(kTimeline, "temp_dir", values[8], temp_holder, temp_dir))) {
    return nullptr;
  }
  if (values[4] != nullptr && values[4] != Py_None) {
    filter.kinds.fill(false);
    for (const std::string& k : kinds) {
      const auto kind = timeline::event_kind_from_name(k);
      if (!kind) {
        return raise_message(PyExc_ValueError,
                             "timeline(): unknown kind '" + k + "' (known: row, header, recovered, transaction, row_change)");
      }
      filter.kinds[static_cast<std::size_t>(*kind)] = true;
    }
  }
  if (batch_rows < 1) return raise_message(PyExc_ValueError, "batch_rows must be at least 1");
  if (memory_mb == 0 || memory_mb > (std::uint64_t{1} << 20)) {
    return raise_message(PyExc_ValueError, "timeline(): sort_memory_mb must be from 1 to 1048576");
  }
  // Without a folder of its own, the one the database was opened with (and replayed from).
  if (logs_dir.empty() && (values[0] == nullptr || values[0] == Py_None)) logs_dir = state.logs_folder;
  auto ev = std::make_unique<Events>();
  if (!prepare(*ev)) return nullptr;
  timeline::SortOptions sort;
  sort.memory_bound = static_cast<std::size_t>(memory_mb) << 20;
  sort.temp_dir = std::string(temp_dir);
  std::vector<timeline::EventSorter> sorters;
  sorters.emplace_back(sort);
  ev->names.resize(logs_dir.empty() ? 1 : 2);
  ev->names[0].source = state.path;
  std::vector<profiles::Profile> profile_list;
  if (state.profile != nullptr) profile_list.push_back(*state.profile);
  Status s;
  std::optional<Result<logs::LogFolder>> folder;
  std::vector<std::string> problems;
  Py_BEGIN_ALLOW_THREADS
  s = timeline::database_events(*state.database, profile_list, filter, 0, ev->names[0],
                                [&](const timeline::EventView& e) { return sorters[0].add(e); });
  if (s.ok() && !logs_dir.empty()) {
    folder.emplace(logs::LogFolder::open(std::string(logs_dir)));
    if (!folder->ok()) {
      s = folder->error();
    } else {
      ev->names[1].source = std::string(logs_dir);
      s = timeline::log_events(folder->value(), filter, 1, ev->names[1],
                               [&](const timeline::EventView& e) { return sorters[0].add(e); });
      if (s.ok()) {
        s = app::timeline_row_changes(*state.database, folder->value(), profile_list, filter, 0, ev->names[0],
                                      problems, [&](const timeline::EventView& e) { return sorters[0].add(e); });
      }
    }
  }
  Py_END_ALLOW_THREADS
  if (!s.ok()) return raise_ese_error(s.error());
  for (const std::string& p : problems) {
    PyRef text(lossy_text("timeline(): row changes: " + p));
    if (!text || PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "%U", text.get()) < 0) return nullptr;
  }
  for (const std::string& v : filter.views) {
    bool found = false;
    for (const auto& n : ev->names) {
      for (const auto& m : n.views_matched) found = found || m == v;
    }
    if (!found) return raise_message(PyExc_ValueError, "timeline(): no view or table named '" + v + "'");
  }
  ev->merger = std::make_unique<timeline::EventMerger>(std::move(sorters));
  if (arrow) {
    auto events = std::make_unique<app::TimelineEvents>();
    events->names = std::move(ev->names);
    events->merger = std::move(ev->merger);
    PyObject* object = g_arrow_timeline_type.alloc();
    if (object == nullptr) return nullptr;
    as_arrow(object)->events = events.release();
    as_arrow(object)->batch_rows =
        batch_rows > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(batch_rows);
    return object;
  }
  PyObject* object = g_timeline_iterator_type.alloc();
  if (object == nullptr) return nullptr;
  auto* it = reinterpret_cast<TimelineIteratorObject*>(object);
  it->database = nullptr;
  it->events = ev.release();
  return object;
}

}  // namespace quarrow::python
