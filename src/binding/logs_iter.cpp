// Iterators of EseLogs: records() and changes(db). Each holds the EseLogs object (whose
// folder the log stream reads) and takes one record per step, so memory stays flat
// whatever the logs' size.
#include <map>
#include <memory>
#include <vector>

#include "binding/convert.h"
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

class RecordProducer final : public Producer {
 public:
  explicit RecordProducer(const LogFolder& folder) : stream_(folder) {}
  PyObject* next() override {
    LogRecord r;
    if (!stream_.next(r)) return nullptr;
    const RecordSummary s = summarize(r);
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    const char* name = record_type_name(r.type);
    bool ok = put(d.get(), "position", position_object(r.position)) &&
              put(d.get(), "type", PyUnicode_FromString(name != nullptr ? name : "unknown")) &&
              put(d.get(), "file", lossy_text(stream_.file().name)) &&
              put(d.get(), "size", PyLong_FromSize_t(r.bytes.size())) &&
              put(d.get(), "fragmented", PyBool_FromLong(r.fragmented ? 1 : 0)) &&
              put(d.get(), "time", time_object(r.segment_time)) &&
              put(d.get(), "session", s.procid ? PyLong_FromLong(*s.procid) : Py_NewRef(Py_None)) &&
              put(d.get(), "dbid", s.dbid ? PyLong_FromLong(*s.dbid) : Py_NewRef(Py_None)) &&
              put(d.get(), "objid", s.objid ? PyLong_FromUnsignedLong(*s.objid) : Py_NewRef(Py_None));
    if (ok && s.page_record) {
      ok = put(d.get(), "page", PyLong_FromUnsignedLong(s.page)) &&
           put(d.get(), "dbtime_before", PyLong_FromUnsignedLongLong(s.dbtime_before)) &&
           put(d.get(), "dbtime_after", PyLong_FromUnsignedLongLong(s.dbtime_after)) &&
           put(d.get(), "trx", PyLong_FromUnsignedLong(s.trx)) && put(d.get(), "level", PyLong_FromLong(s.level)) &&
           put(d.get(), "iline", PyLong_FromLong(s.iline)) && put(d.get(), "flags", PyLong_FromLong(s.flags));
    }
    if (ok && s.node_record) {
      ok = put(d.get(), "rceid", PyLong_FromUnsignedLong(s.rceid)) &&
           put(d.get(), "root_page", PyLong_FromUnsignedLong(s.root_page));
    }
    if (!ok) return nullptr;
    decode_fields(r, fields_);
    PyRef f(PyDict_New());
    if (!f) return nullptr;
    for (const LogField& field : fields_) {
      if (!put(f.get(), field.name, field_object(field))) return nullptr;
    }
    if (!put(d.get(), "fields", f.release())) return nullptr;
    return d.release();
  }

 private:
  LogStream stream_;
  std::vector<LogField> fields_;
};

class ChangeProducer final : public Producer {
 public:
  ChangeProducer(const LogFolder& folder, std::shared_ptr<Database> db)
      : db_(std::move(db)), reader_(folder, *db_) {}
  PyObject* next() override {
    RowChange c;
    if (!reader_.next(c)) return nullptr;
    PyRef d(PyDict_New());
    if (!d) return nullptr;
    bool ok = put(d.get(), "position", position_object(c.position)) &&
              put(d.get(), "kind", PyUnicode_FromString(change_kind_name(c.kind))) &&
              put(d.get(), "table", lossy_text(c.table->name)) &&
              put(d.get(), "key", c.has_key ? bytes_object(as_bytes(c.key)) : Py_NewRef(Py_None)) &&
              put(d.get(), "time", time_object(c.time)) &&
              put(d.get(), "outcome", PyUnicode_FromString(outcome_name(c.outcome))) &&
              put(d.get(), "session", PyLong_FromLong(c.procid)) && put(d.get(), "trx", PyLong_FromUnsignedLong(c.trx)) &&
              put(d.get(), "level", PyLong_FromLong(c.level)) && put(d.get(), "page", PyLong_FromUnsignedLong(c.page)) &&
              put(d.get(), "iline", PyLong_FromLong(c.iline)) && put(d.get(), "objid", PyLong_FromUnsignedLong(c.objid)) &&
              put(d.get(), "dbtime_before", PyLong_FromUnsignedLongLong(c.dbtime_before)) &&
              put(d.get(), "dbtime_after", PyLong_FromUnsignedLongLong(c.dbtime_after));
    if (ok && c.kind == ChangeKind::ReplaceDiff) ok = put(d.get(), "diff", bytes_object(c.diff));
    if (ok && c.kind == ChangeKind::Undo) ok = put(d.get(), "undo_operation", PyLong_FromLong(c.undo_operation));
    if (!ok) return nullptr;
    PyObject* record = Py_NewRef(Py_None);
    if (c.has_record) {
      Py_DECREF(record);
      const Record& decoded = reader_.decode(c);
      std::vector<PyRef>& keys = keys_[c.table];
      if (keys.empty()) {
        for (const Field& field : decoded.fields) {
          keys.emplace_back(lossy_text(field.name));
          if (!keys.back()) return nullptr;
        }
      }
      record = record_to_dict(decoded, keys);
      if (record == nullptr) return nullptr;
    }
    if (!put(d.get(), "record", record)) return nullptr;
    return d.release();
  }

 private:
  std::shared_ptr<Database> db_;
  RowChangeReader reader_;
  std::map<const TableInfo*, std::vector<PyRef>> keys_;
};

struct LogsIteratorObject {
  PyObject_HEAD
  PyObject* owner;
  Producer* producer;
};

PyObject* g_iterator_type = nullptr;

PyObject* next_item(PyObject* self) {
  auto* it = reinterpret_cast<LogsIteratorObject*>(self);
  if (it->producer == nullptr) return nullptr;
  return run_guarded([&]() -> PyObject* {
    PyObject* item = it->producer->next();
    if (item == nullptr && !PyErr_Occurred()) {
      delete it->producer;
      it->producer = nullptr;
    }
    return item;
  });
}

void dealloc_iterator(PyObject* self) {
  auto* it = reinterpret_cast<LogsIteratorObject*>(self);
  delete it->producer;
  it->producer = nullptr;
  Py_CLEAR(it->owner);
  PyTypeObject* type = Py_TYPE(self);
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  Py_DECREF(type);
}

PyObject* self_iter(PyObject* self) { return Py_NewRef(self); }

PyType_Slot kIteratorSlots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(self_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(next_item)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_iterator)},
    {Py_tp_doc, const_cast<char*>("Iterator over the records or row changes of transaction logs.")},
    {0, nullptr},
};

PyType_Spec kIteratorSpec = {
    "quarrow.LogIterator", static_cast<int>(sizeof(LogsIteratorObject)), 0, Py_TPFLAGS_DEFAULT, kIteratorSlots,
};

PyObject* make_iterator(PyObject* owner, std::unique_ptr<Producer> producer) {
  if (g_iterator_type == nullptr) {
    g_iterator_type = PyType_FromSpec(&kIteratorSpec);
    if (g_iterator_type == nullptr) return nullptr;
  }
  auto* type = reinterpret_cast<PyTypeObject*>(g_iterator_type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* object = alloc(type, 0);
  if (object == nullptr) return nullptr;
  auto* it = reinterpret_cast<LogsIteratorObject*>(object);
  it->owner = Py_NewRef(owner);
  it->producer = producer.release();
  return object;
}

}  // namespace

PyObject* logs_records_iterator(PyObject* owner, const LogsState& state) {
  return make_iterator(owner, std::make_unique<RecordProducer>(state.folder));
}

PyObject* logs_changes_iterator(PyObject* owner, const LogsState& state, std::shared_ptr<Database> db) {
  return make_iterator(owner, std::make_unique<ChangeProducer>(state.folder, std::move(db)));
}

}  // namespace quarrow::python
