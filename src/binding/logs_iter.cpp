// Iterators of EseLogs: records() and changes(db). Each holds the EseLogs object (whose
// folder the log stream reads) and takes one record per step, so memory stays flat
// whatever the logs' size.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/log_fields.h"
#include "app/row_images.h"
#include "binding/convert.h"
#include "binding/iterator_type.h"
#include "binding/logs.h"
#include "log/database_link.h"
#include "log/record_fields.h"
#include "log/record_types.h"
#include "record/reader.h"

namespace quarrow::python {
namespace {

using namespace quarrow::logs;

class Producer {
 public:
  virtual ~Producer() = default;
  // A new reference; nullptr without an exception at the end, with one on failure.
  virtual PyObject* next() = 0;
  // What the reading could not read so far (complete at the end).
  virtual const std::vector<std::string>& problems() const = 0;
};

PyObject* bytes_object(Bytes b) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(b.data()), static_cast<Py_ssize_t>(b.size()));
}

PyObject* field_object(const LogField& f) {
  switch (f.kind) {
    case LogField::Kind::Unsigned: return PyLong_FromUnsignedLongLong(f.u);
    case LogField::Kind::Signed: return PyLong_FromLongLong(f.i);
    case LogField::Kind::Bytes: case LogField::Kind::Signature: return bytes_object(f.bytes);
    case LogField::Kind::Text: return lossy_text(f.text);
    case LogField::Kind::Position: return position_object(f.position);
    case LogField::Kind::Time: return time_object(f.time);
  }
  Py_RETURN_NONE;
}

PyObject* optional_number(const auto& v) { return v ? PyLong_FromUnsignedLong(*v) : Py_NewRef(Py_None); }

class RecordProducer final : public Producer {
 public:
  explicit RecordProducer(const LogFolder& folder) : stream_(folder) {}
  PyObject* next() override {
    LogRecord r;
    if (!stream_.next(r)) return nullptr;
    const RecordSummary s = summarize(r);
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const app::LogRecordField field : app::kLogRecordFields) {
      if (app::log_record_has(field, s) && !put(d.get(), app::log_record_field_name(field).data(), value(field, r, s))) {
        return nullptr;
      }
    }
    return d.release();
  }
  const std::vector<std::string>& problems() const override { return stream_.problems(); }

 private:
  PyObject* value(app::LogRecordField field, const LogRecord& r, const RecordSummary& s) {
    using F = app::LogRecordField;
    switch (field) {
      case F::Position: return position_object(r.position);
      case F::Type: {
        const char* name = record_type_name(r.type);
        return PyUnicode_FromString(name != nullptr ? name : "unknown");
      }
      case F::File: return lossy_text(stream_.file().name);
      case F::Size: return PyLong_FromSize_t(r.bytes.size());
      case F::Fragmented: return PyBool_FromLong(r.fragmented ? 1 : 0);
      case F::Time: return time_object(r.segment_time);
      case F::Session: return optional_number(s.procid);
      case F::Dbid: return optional_number(s.dbid);
      case F::Objid: return optional_number(s.objid);
      case F::Page: return PyLong_FromUnsignedLong(s.page);
      case F::DbtimeBefore: return PyLong_FromUnsignedLongLong(s.dbtime_before);
      case F::DbtimeAfter: return PyLong_FromUnsignedLongLong(s.dbtime_after);
      case F::Trx: return PyLong_FromUnsignedLong(s.trx);
      case F::Level: return PyLong_FromLong(s.level);
      case F::Iline: return PyLong_FromLong(s.iline);
      case F::Flags: return PyLong_FromLong(s.flags);
      case F::Rceid: return PyLong_FromUnsignedLong(s.rceid);
      case F::RootPage: return PyLong_FromUnsignedLong(s.root_page);
      case F::Fields: return fields_dict(r);
    }
    Py_RETURN_NONE;
  }

  PyObject* fields_dict(const LogRecord& r) {
    decode_fields(r, fields_);
    PyRef f(PyDict_New());
    if (!f) return nullptr;
    for (const LogField& field : fields_) {
      if (!put(f.get(), field.name, field_object(field))) return nullptr;
    }
    return f.release();
  }

  LogStream stream_;
  std::vector<LogField> fields_;
};

// A row filter of row_history: the table's name and the row's key.
struct RowFilter {
  std::string table;
  std::string key;
};

class ChangeProducer final : public Producer {
 public:
  ChangeProducer(const LogFolder& folder, std::shared_ptr<Database> db, std::optional<RowFilter> filter = {})
      : db_(std::move(db)), reader_(folder, *db_), images_(*db_, folder), filter_(std::move(filter)) {}
  PyObject* next() override {
    RowChange c;
    do {
      if (!reader_.next(c)) return nullptr;
      images_.attach(c);
    } while (filter_ && !app::change_of_row(c, filter_->table, filter_->key));
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    for (const app::ChangeField field : app::kChangeFields) {
      if (app::change_has(field, c) && !put(d.get(), app::change_field_name(field).data(), value(field, c))) {
        return nullptr;
      }
    }
    return d.release();
  }
  const std::vector<std::string>& problems() const override {
    problems_ = reader_.problems();
    if (!images_.problem().empty()) problems_.push_back(images_.problem());
    return problems_;
  }

 private:
  PyObject* value(app::ChangeField field, const RowChange& c) {
    using F = app::ChangeField;
    switch (field) {
      case F::Position: return position_object(c.position);
      case F::Kind: return PyUnicode_FromString(change_kind_name(c.kind));
      case F::Table: return lossy_text(c.table->name);
      case F::Key: return c.has_key ? bytes_object(as_bytes(c.key)) : Py_NewRef(Py_None);
      case F::Time: return time_object(c.time);
      case F::Outcome: return PyUnicode_FromString(outcome_name(c.outcome));
      case F::Session: return PyLong_FromLong(c.procid);
      case F::Trx: return PyLong_FromUnsignedLong(c.trx);
      case F::Level: return PyLong_FromLong(c.level);
      case F::Page: return PyLong_FromUnsignedLong(c.page);
      case F::Iline: return PyLong_FromLong(c.iline);
      case F::Objid: return PyLong_FromUnsignedLong(c.objid);
      case F::DbtimeBefore: return PyLong_FromUnsignedLongLong(c.dbtime_before);
      case F::DbtimeAfter: return PyLong_FromUnsignedLongLong(c.dbtime_after);
      case F::Diff: return bytes_object(c.diff);
      case F::UndoOperation: return PyLong_FromLong(c.undo_operation);
      case F::Record: return c.has_record ? record(c) : Py_NewRef(Py_None);
      case F::Before: return c.has_before ? image(c, c.before) : Py_NewRef(Py_None);
      case F::After: return c.has_after ? image(c, c.after) : Py_NewRef(Py_None);
    }
    Py_RETURN_NONE;
  }

  PyObject* record(const RowChange& c) {
    const Record& decoded = reader_.decode(c);
    std::vector<PyRef>& keys = keys_[c.table];
    if (keys.empty()) {
      for (const Field& field : decoded.fields) {
        keys.emplace_back(lossy_text(field.name));
        if (!keys.back()) return nullptr;
      }
    }
    return record_to_dict(decoded, keys);
  }

  // A node image decoded with the change's table, as the record is.
  PyObject* image(const RowChange& c, Bytes data) {
    RowChange as_record = c;
    as_record.record = data;
    return record(as_record);
  }

  std::shared_ptr<Database> db_;
  RowChangeReader reader_;
  app::ChangeImages images_;
  std::optional<RowFilter> filter_;
  mutable std::vector<std::string> problems_;
  std::map<const TableInfo*, std::vector<PyRef>> keys_;
};

struct LogsIteratorObject {
  PyObject_HEAD
  PyObject* owner;
  Producer* producer;
  PyObject* problems;  // the list of problem lines, once the producer is done
};


PyObject* next_item(PyObject* self) {
  auto* it = reinterpret_cast<LogsIteratorObject*>(self);
  if (it->producer == nullptr) return nullptr;
  return run_guarded([&]() -> PyObject* {
    PyObject* item = it->producer->next();
    if (item == nullptr && !PyErr_Occurred()) {
      // The end: what could not be read stays for problems(), and is said once.
      const std::vector<std::string> lines = it->producer->problems();
      delete it->producer;
      it->producer = nullptr;
      it->problems = problem_lines(lines);
      if (it->problems == nullptr || !warn_problems(lines)) return nullptr;
    }
    return item;
  });
}

PyObject* problems_method(PyObject* self, PyObject*) {
  auto* it = reinterpret_cast<LogsIteratorObject*>(self);
  if (it->producer != nullptr) return run_guarded([&] { return problem_lines(it->producer->problems()); });
  if (it->problems != nullptr) return PyList_GetSlice(it->problems, 0, PyList_Size(it->problems));
  return PyList_New(0);
}

PyMethodDef kIteratorMethods[] = {
    {"problems", problems_method, METH_NOARGS,
     "problems($self)\n--\n\nWhat the reading could not read or found damaged so far, one str each,\n"
     "file name first (complete once the iterator is exhausted)."},
    {nullptr, nullptr, 0, nullptr},
};

void dealloc_iterator(PyObject* self) {
  auto* it = reinterpret_cast<LogsIteratorObject*>(self);
  delete it->producer;
  it->producer = nullptr;
  Py_CLEAR(it->owner);
  Py_CLEAR(it->problems);
  free_heap_object(self);
}

IteratorType g_iterator_type({"quarrow.LogIterator", static_cast<int>(sizeof(LogsIteratorObject)),
                              "Iterator over the records or row changes of transaction logs.", next_item,
                              dealloc_iterator, kIteratorMethods});

PyObject* make_iterator(PyObject* owner, std::unique_ptr<Producer> producer) {
  PyObject* object = g_iterator_type.alloc();
  if (object == nullptr) return nullptr;
  auto* it = reinterpret_cast<LogsIteratorObject*>(object);
  it->owner = Py_NewRef(owner);
  it->producer = producer.release();
  it->problems = nullptr;
  return object;
}

}  // namespace

PyObject* logs_records_iterator(PyObject* owner, const LogsState& state) {
  return make_iterator(owner, std::make_unique<RecordProducer>(state.folder));
}

PyObject* logs_changes_iterator(PyObject* owner, const LogsState& state, std::shared_ptr<Database> db) {
  return make_iterator(owner, std::make_unique<ChangeProducer>(state.folder, std::move(db)));
}

PyObject* logs_row_history(const LogsState& state, std::shared_ptr<Database> db, std::string table, std::string key) {
  ChangeProducer producer(state.folder, std::move(db), RowFilter{std::move(table), std::move(key)});
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  while (PyObject* item = producer.next()) {
    PyRef owned(item);
    if (PyList_Append(list.get(), item) < 0) return nullptr;
  }
  if (PyErr_Occurred() || !warn_problems(producer.problems())) return nullptr;
  return list.release();
}

}  // namespace quarrow::python
