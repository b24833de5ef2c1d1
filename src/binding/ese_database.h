// The Python class EseDatabase: one opened database file, its path, and the use
// counter that every member takes while it runs.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "binding/convert.h"  // run_guarded
#include "database/database.h"
#include "export/arrow_buffer.h"
#include "export/export_file.h"
#include "profiles/profile.h"
#include "replay/replay.h"

namespace quarrow::python {

// Counts the calls using an object: n > 0 while n calls share it, -1 while one call
// has it exclusively, 0 when unused. Calls re-enter an object only on one thread
// (through Python code run during a call), and the counter settles who may go on.
class BorrowState {
 public:
  // Both set RuntimeError and return false on a conflict.
  bool acquire_shared();
  bool acquire_exclusive();
  void release_shared() { count_.fetch_sub(1, std::memory_order_acq_rel); }
  void release_exclusive() { count_.store(0, std::memory_order_release); }

 private:
  std::atomic<std::int64_t> count_{0};
};

// Holds a shared use for its lifetime; check ok() after construction.
class SharedUse {
 public:
  explicit SharedUse(BorrowState& state) : state_(state), ok_(state.acquire_shared()) {}
  ~SharedUse() {
    if (ok_) state_.release_shared();
  }
  SharedUse(const SharedUse&) = delete;
  SharedUse& operator=(const SharedUse&) = delete;
  bool ok() const { return ok_; }

 private:
  BorrowState& state_;
  bool ok_;
};

// Holds the exclusive use for its lifetime; check ok() after construction.
class ExclusiveUse {
 public:
  explicit ExclusiveUse(BorrowState& state) : state_(state), ok_(state.acquire_exclusive()) {}
  ~ExclusiveUse() {
    if (ok_) state_.release_exclusive();
  }
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  bool ok() const { return ok_; }

 private:
  BorrowState& state_;
  bool ok_;
};

// What an EseDatabase object owns: made complete by the constructor, never changed.
struct DatabaseState {
  std::string path;  // the constructor's argument as UTF-8
  // Shared with the Arrow streams made from this object, which may outlive it.
  std::shared_ptr<Database> database;
  // The database file's identity, so that an export never truncates the mapped file.
  std::optional<FileIdentity> file;
  // The profile that recognised the database (views.cpp); null when none did.
  std::shared_ptr<const profiles::Profile> profile;
  // The buffers of released Arrow batches, kept for the next batches and readings of
  // tables and views (EseDatabase.batch_memory).
  std::shared_ptr<arrow::BufferPool> batch_memory = std::make_shared<arrow::BufferPool>();
  // Opened with logs=: what the replay did (the database is the replayed one); null
  // without logs.
  std::shared_ptr<const replay::ReplayReport> replay;
  // Opened with logs=: their folder, whose transactions and row changes timeline() gives
  // when it is named no other; empty without logs.
  std::string logs_folder;
  // The files of the log folder, which no export may write over.
  std::vector<FileIdentity> log_files;
  BorrowState borrow;
};

// The EseDatabase type object, created on first use and kept for the life of the
// process. Returns a new reference, or nullptr with an exception set.
PyObject* ese_database_type();

// The state of an EseDatabase object, or nullptr with TypeError set.
DatabaseState* database_state(PyObject* self);

// Runs `body(state)` for a method of the EseDatabase object `self` while it holds a
// shared use of the database (close() waits for it; a closed database refuses), inside
// the C++ boundary. nullptr with an exception set when `self` is no open EseDatabase.
template <class Body>
PyObject* with_database(PyObject* self, Body&& body) {
  DatabaseState* state = database_state(self);
  if (state == nullptr) return nullptr;
  SharedUse use(state->borrow);
  if (!use.ok()) return nullptr;
  return run_guarded([&] { return body(*state); });
}

// EseDatabase.iter_table(table_name) (iter_table.cpp): a new iterator over the table's
// records, or nullptr with an exception set.
PyObject* iter_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarrow::python
