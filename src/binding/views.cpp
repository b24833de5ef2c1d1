#include "binding/views.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/arrow_table.h"
#include "binding/arrow_object.h"
#include "app/view_fields.h"
#include "binding/convert.h"
#include "profiles/view_arrow.h"
#include "profiles/view_reader.h"

namespace quarrow::python {

using profiles::Cell;
using profiles::OutType;
using profiles::Profile;

const char kProfileDoc[] =
    "The kind of database the file is, by its tables: \"srum\", \"ual\", \"windows_search\",\n"
    "or the name of a profile given to the constructor; None when no profile knows it.\n\n"
    "Returns:\n    str | None";

const char kViewsDoc[] =
    "views($self)\n--\n\nThe views the database's profile defines over the tables this file has.\n\n"
    "Returns:\n    list[str]: View names, in profile order (empty without a profile)\n\n"
    "Raises:\n    (none)";

const char kViewColumnsDoc[] =
    "view_columns($self, name)\n--\n\nThe columns of a view, described as `quarrow views --json` describes them.\n\n"
    "Args:\n    name: View name (see views())\n\n"
    "Returns:\n    list[dict]: One dict per column: 'name', 'type' (as `quarrow views` names it:\n"
    "    'timestamp', 'int32', ...), 'source' (the stored column) and 'note' (None without one)\n\n"
    "Raises:\n    ValueError: If the view doesn't exist\n    IOError: If the table cannot be read";

const char kArrowViewDoc[] =
    "arrow_view($self, name, *, columns=None, batch_rows=65536, threads=None, part=None)\n--\n\n"
    "A view's converted values for Arrow consumers, like arrow_table.\n\n"
    "Timestamps are timestamp[us, tz=UTC], durations duration[us], text utf8; text\n"
    "resolved through another table (a join) is dictionary<int32, utf8>, each batch with\n"
    "its own dictionary; a stored 8- to 32-bit integer keeps its width.\n\n"
    "Batches are built on `threads` worker threads (default: the processors available, at\n"
    "most 8), each on stretches of the view's table, as arrow_table's; the joined tables\n"
    "are read once and shared by the threads. The batches come in table order with the\n"
    "same values as on one thread; a batch ends with its stretch, so it may hold fewer\n"
    "than batch_rows rows.\n\n"
    "Args:\n    name: View name (see views())\n    columns: View columns to keep, in this order\n"
    "    batch_rows: Rows per batch (at least 1)\n"
    "    threads: Threads building batches (1: on the consumer's thread)\n"
    "    part: (index, count): only stretch `index` of `count` near-equal stretches of the\n"
    "      view's table; parts 0 .. count - 1 together are the whole view, in order\n\n"
    "Returns:\n    ArrowTable: An object with __arrow_c_schema__() and __arrow_c_stream__()\n\n"
    "Raises:\n    ValueError: If the view or a column doesn't exist, batch_rows or threads is below 1";

const char kReadViewDoc[] =
    "read_view($self, name, *, columns=None)\n--\n\n"
    "A view's rows as dicts of Python values (datetime in UTC, timedelta, str, int, ...).\n"
    "A value a conversion cannot read is None.\n\n"
    "Args:\n    name: View name (see views())\n    columns: View columns to keep, in this order\n\n"
    "Returns:\n    list[dict]\n\nRaises:\n    ValueError: If the view or a column doesn't exist\n"
    "    IOError: If there's an error reading the table";

namespace {

struct ArrowViewObject {
  PyObject_HEAD
  profiles::ViewRequest* request;  // owned
};

ArrowViewObject* as_view(PyObject* self) { return reinterpret_cast<ArrowViewObject*>(self); }

// ---- Profile choice -----------------------------------------------------------------

bool path_text(PyObject* item, std::string& out) {
  PyRef path(PyOS_FSPath(item));
  if (!path) return false;
  if (!PyUnicode_Check(path.get())) {
    PyErr_SetString(PyExc_TypeError, "profiles: each entry must be a str or os.PathLike of str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(path.get(), &size);
  if (text == nullptr) return false;
  out.assign(text, static_cast<std::size_t>(size));
  return true;
}

// ---- Values -------------------------------------------------------------------------

class TimeObjects {
 public:
  bool make() {
    PyRef module(PyImport_ImportModule("datetime"));
    if (!module) return false;
    timedelta_ = PyRef(PyObject_GetAttrString(module.get(), "timedelta"));
    PyRef datetime(PyObject_GetAttrString(module.get(), "datetime"));
    PyRef timezone(PyObject_GetAttrString(module.get(), "timezone"));
    if (!timedelta_ || !datetime || !timezone) return false;
    PyRef utc(PyObject_GetAttrString(timezone.get(), "utc"));
    if (!utc) return false;
    epoch_ = PyRef(PyObject_CallFunction(datetime.get(), "iiiiiiiO", 1970, 1, 1, 0, 0, 0, 0, utc.get()));
    local_epoch_ = PyRef(PyObject_CallFunction(datetime.get(), "iiiiiii", 1970, 1, 1, 0, 0, 0, 0));
    return epoch_ && local_epoch_;
  }
  PyObject* delta(std::int64_t us) {
    std::int64_t days = us / 86400000000LL;
    std::int64_t rest = us % 86400000000LL;
    if (rest < 0) {
      --days;
      rest += 86400000000LL;
    }
    return PyObject_CallFunction(timedelta_.get(), "LLL", static_cast<long long>(days),
                                 static_cast<long long>(rest / 1000000), static_cast<long long>(rest % 1000000));
  }
  // A datetime in UTC, or for a local time a naive one (no zone is known).
  PyObject* time(std::int64_t us, bool local = false) {
    PyRef d(delta(us));
    if (!d) return nullptr;
    PyObject* t = PyNumber_Add(local ? local_epoch_.get() : epoch_.get(), d.get());
    if (t == nullptr && PyErr_ExceptionMatches(PyExc_OverflowError)) {
      // Outside datetime's years 1-9999: no value rather than no rows.
      PyErr_Clear();
      Py_RETURN_NONE;
    }
    return t;
  }

 private:
  PyRef timedelta_;
  PyRef epoch_;
  PyRef local_epoch_;
};

PyObject* cell_to_python(const Cell& c, OutType type, TimeObjects& times, bool local) {
  if (!c.valid) Py_RETURN_NONE;
  switch (type) {
    case OutType::Bool: return PyBool_FromLong(c.i != 0);
    case OutType::Int64: return PyLong_FromLongLong(c.i);
    case OutType::UInt64: return PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(c.i));
    case OutType::Float64: return PyFloat_FromDouble(c.f);
    case OutType::Text: return lossy_text(c.bytes());
    case OutType::Binary: {
      const std::string_view b = c.bytes();
      return PyBytes_FromStringAndSize(b.data(), static_cast<Py_ssize_t>(b.size()));
    }
    case OutType::Timestamp: return times.time(c.i, local);
    case OutType::Duration: return times.delta(c.i);
  }
  Py_RETURN_NONE;
}

// ---- Arguments ----------------------------------------------------------------------

// The view name and columns of arrow_view / read_view; ValueError for an unknown view.
bool view_arguments(DatabaseState& state, const Signature& sig, PyObject* name_value, PyObject* columns_value,
                    profiles::ViewRequest& out) {
  std::string_view name;
  if (!text_argument(sig, "name", name_value, name)) return false;
  if (state.profile == nullptr || profiles::find_view(*state.database, *state.profile, name) == nullptr) {
    PyErr_Format(PyExc_ValueError, "View not found: %U%s", name_value,
                 state.profile == nullptr ? " (the database has no profile)" : "");
    return false;
  }
  out.db = state.database;
  out.profile = state.profile;
  out.view = std::string(name);
  if (columns_value != nullptr && columns_value != Py_None) {
    if (PyUnicode_Check(columns_value)) {
      PyErr_Format(PyExc_TypeError, "%s() argument 'columns' must be a list of str, not str", sig.function);
      return false;
    }
    PyRef iter(PyObject_GetIter(columns_value));
    if (!iter) return false;
    std::vector<std::string> cols;
    while (PyRef item{PyIter_Next(iter.get())}) {
      std::string_view col;
      if (!text_argument(sig, "columns", item.get(), col)) return false;
      cols.emplace_back(col);
    }
    if (PyErr_Occurred()) return false;
    out.columns = std::move(cols);
  }
  return true;
}

PyObject* raise_view_error(const EseError& e) {
  if (e.kind() == ErrorKind::Parse && e.text().rfind(profiles::kColumnNotFound, 0) == 0) {
    return raise_message(PyExc_ValueError, e.text());
  }
  return raise_ese_error(e);
}

// ---- ArrowView ----------------------------------------------------------------------

PyObject* view_c_schema(PyObject* self, PyObject*) {
  return run_guarded([&]() -> PyObject* {
    auto schema = std::make_unique<ArrowSchema>();
    const Status status = profiles::export_view_schema(*as_view(self)->request, schema.get());
    if (!status) return raise_view_error(status.error());
    return schema_capsule(schema.release());
  });
}

PyObject* view_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!plain_stream_request(args, nargs, kwnames)) return nullptr;
  return run_guarded([&]() -> PyObject* {
    auto stream = std::make_unique<ArrowArrayStream>();
    // Each stream reads the view afresh; the joined tables are read again too.
    // The joined tables are read here, without the interpreter lock; nothing may
    // leave this block by an exception.
    Status status;
    bool out_of_memory = false;
    Py_BEGIN_ALLOW_THREADS
    try {
      status = profiles::export_view_stream(*as_view(self)->request, stream.get());
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
    Py_END_ALLOW_THREADS
    if (out_of_memory) return PyErr_NoMemory();
    if (!status) return raise_view_error(status.error());
    return stream_capsule(stream.release());
  });
}

PyObject* view_repr(PyObject* self) {
  const profiles::ViewRequest& r = *as_view(self)->request;
  PyRef name(lossy_text(r.view));
  PyRef profile(lossy_text(r.profile->name));
  if (!name || !profile) return nullptr;
  return PyUnicode_FromFormat("ArrowView(%R, profile=%R)", name.get(), profile.get());
}

void view_dealloc(PyObject* self) {
  delete as_view(self)->request;
  free_heap_object(self);
}

ArrowObjectType g_arrow_view_type({"quarrow.ArrowView", static_cast<int>(sizeof(ArrowViewObject)), "A profile view's values through the Arrow PyCapsule protocol.", "view",
                         view_c_schema, view_c_stream, view_repr, view_dealloc});

constexpr const char* kArrowViewNames[] = {"name", "columns", "batch_rows", "threads", "part"};
constexpr Signature kArrowView{"arrow_view", kArrowViewNames, 5, 1};

PyObject* make_arrow_view(DatabaseState& state, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError, "arrow_view() takes 1 positional argument but %zd were given", nargs);
    return nullptr;
  }
  PyObject* values[5];
  if (!parse_arguments(kArrowView, args, nargs, kwnames, values)) return nullptr;
  auto request = std::make_unique<profiles::ViewRequest>();
  if (!view_arguments(state, kArrowView, values[0], values[1], *request) ||
      !threads_argument("arrow_view", values[3], request->threads) ||
      !part_argument("arrow_view", values[4], request->part_index, request->part_count)) {
    return nullptr;
  }
  request->pool = state.batch_memory;
  if (values[2] != nullptr) {
    std::uint64_t rows = 0;
    if (!u64_argument(kArrowView, "batch_rows", values[2], 0, rows)) return nullptr;
    if (rows < 1) {
      PyErr_SetString(PyExc_ValueError, "batch_rows must be at least 1");
      return nullptr;
    }
    request->batch_rows = rows > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(rows);
  }
  // A bad column list fails here, not at the first read (the view's columns depend on
  // the file's table: a column it lacks is left out). Without a list there is nothing
  // more to check: the view's name was, and a table that cannot be read fails when
  // read, as arrow_table's does.
  if (request->columns) {
    ArrowSchema probe{};
    const Status status = profiles::export_view_schema(*request, &probe);
    if (!status) return raise_view_error(status.error());
    probe.release(&probe);
  }
  PyObject* object = g_arrow_view_type.alloc();
  if (object == nullptr) return nullptr;
  as_view(object)->request = request.release();
  return object;
}

constexpr const char* kReadViewNames[] = {"name", "columns"};
constexpr Signature kReadView{"read_view", kReadViewNames, 2, 1};

PyObject* read_view(DatabaseState& state, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError, "read_view() takes 1 positional argument but %zd were given", nargs);
    return nullptr;
  }
  PyObject* values[2];
  if (!parse_arguments(kReadView, args, nargs, kwnames, values)) return nullptr;
  profiles::ViewRequest request;
  if (!view_arguments(state, kReadView, values[0], values[1], request)) return nullptr;
  const profiles::ViewSpec* view = profiles::find_view(*state.database, *state.profile, request.view);
  auto opened = profiles::ViewReader::open(*state.database, *state.profile, *view,
                                           request.columns ? &*request.columns : nullptr);
  if (!opened) return raise_view_error(opened.error());
  profiles::ViewReader& reader = **opened;
  TimeObjects times;
  if (!times.make()) return nullptr;
  const auto& columns = reader.columns();
  std::vector<PyRef> keys;
  for (const auto& c : columns) {
    keys.emplace_back(lossy_text(c.name));
    if (!keys.back()) return nullptr;
  }
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  std::vector<Cell> row;
  for (;;) {
    const auto step = reader.next(row);
    if (step == profiles::ViewReader::Step::End) break;
    if (step == profiles::ViewReader::Step::Error) {
      return raise_message(PyExc_IOError, "Error reading record: " + reader.error().to_string());
    }
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      PyRef value(cell_to_python(row[k], columns[k].type, times, columns[k].local));
      if (!value || PyDict_SetItem(dict.get(), keys[k].get(), value.get()) < 0) return nullptr;
    }
    if (PyList_Append(list.get(), dict.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace

bool choose_profile(DatabaseState& state, PyObject* files) {
  std::vector<Profile> extra;
  if (files != nullptr && files != Py_None) {
    if (PyUnicode_Check(files) || PyBytes_Check(files)) {
      PyErr_SetString(PyExc_TypeError, "profiles must be a list of paths, not a single path");
      return false;
    }
    PyRef iter(PyObject_GetIter(files));
    if (!iter) return false;
    while (PyRef item{PyIter_Next(iter.get())}) {
      std::string path;
      if (!path_text(item.get(), path)) return false;
      auto loaded = profiles::load_profile_file(path);
      if (!loaded) {
        raise_message(PyExc_ValueError, loaded.error().to_string());
        return false;
      }
      extra.push_back(std::move(loaded).value());
    }
    if (PyErr_Occurred()) return false;
  }
  if (extra.empty()) {
    // The usual case: a built-in profile, shared rather than copied at every open.
    for (const auto& p : profiles::shared_builtin_profiles()) {
      if (profiles::recognizes(*state.database, *p)) {
        state.profile = p;
        break;
      }
    }
    return true;
  }
  const std::vector<Profile> all = profiles::merge_profiles(extra);
  const Profile* chosen = profiles::recognize(*state.database, all);
  if (chosen != nullptr) state.profile = std::make_shared<const Profile>(*chosen);
  return true;
}

PyObject* profile_getter(PyObject* self, void*) {
  return with_database(self, [](DatabaseState& s) -> PyObject* {
    if (s.profile == nullptr) Py_RETURN_NONE;
    return lossy_text(s.profile->name);
  });
}

PyObject* views_method(PyObject* self, PyObject*) {
  return with_database(self, [](DatabaseState& s) -> PyObject* {
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    if (s.profile == nullptr) return list.release();
    for (const profiles::ViewSpec* v : profiles::available_views(*s.database, *s.profile)) {
      PyRef name(lossy_text(v->name));
      if (!name || PyList_Append(list.get(), name.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

namespace {

const char* const kViewNameNames[] = {"name"};
constexpr Signature kViewColumns{"view_columns", kViewNameNames, 1, 1};

PyObject* view_column_value(app::ViewColumnField field, const profiles::ViewColumn& c) {
  using F = app::ViewColumnField;
  switch (field) {
    case F::Name: return lossy_text(c.name);
    case F::Type: return PyUnicode_FromString(profiles::view_type_name(c));
    case F::Source: return lossy_text(c.source);
    case F::Note: return c.note.empty() ? Py_NewRef(Py_None) : lossy_text(c.note);
  }
  Py_RETURN_NONE;
}

PyObject* view_columns(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[1];
  if (!parse_arguments(kViewColumns, args, nargs, kwnames, values)) return nullptr;
  profiles::ViewRequest request;
  if (!view_arguments(s, kViewColumns, values[0], nullptr, request)) return nullptr;
  const profiles::ViewSpec* view = profiles::find_view(*s.database, *s.profile, request.view);
  auto columns = profiles::ViewReader::describe(*s.database, *s.profile, *view);
  if (!columns) return raise_view_error(columns.error());
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const profiles::ViewColumn& c : columns.value()) {
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const app::ViewColumnField field : app::kViewColumnFields) {
      PyRef value(view_column_value(field, c));
      if (!value || PyDict_SetItemString(d.get(), app::view_column_field_name(field).data(), value.get()) < 0) {
        return nullptr;
      }
    }
    if (PyList_Append(list.get(), d.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace

PyObject* view_columns_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& s) { return view_columns(s, args, nargs, kwnames); });
}

PyObject* arrow_view_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& s) { return make_arrow_view(s, args, nargs, kwnames); });
}

PyObject* read_view_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& s) { return read_view(s, args, nargs, kwnames); });
}

}  // namespace quarrow::python
