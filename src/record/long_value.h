// Long values: column values kept in the table's long-value tree. A record holds a
// reference (LID); the tree's keys are the LID big-endian, then for chunks the
// big-endian byte offset of the chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/catalog.h"
#include "database/database.h"
#include "error/ese_error.h"
#include "record/value.h"

namespace quarrow {

// How many bytes of long values one reading may still produce. Chunks can be named by
// any number of overlapping tags, one value can be referenced by every tagged column
// of every record, and compressed chunks expand: without a cap a small damaged file
// could make a reading allocate without bound. A sound file resolves each value once,
// so a small multiple of the file size (plus slack for compression) never binds it.
struct LongValueChain;

struct LongValueBudget {
  explicit LongValueBudget(std::uint64_t bytes = 0) : remaining(bytes) {}

  std::uint64_t remaining = 0;
  // The long-value tree's leaf chain, taken on the first lookup of the reading from
  // the database, which works it out once while the file is open.
  std::shared_ptr<const LongValueChain> chain;
  // Bytes of long-value pages scanned since the resident pages were last released.
  std::uint64_t scanned = 0;
};

// The budget of one table reading over `db`: 8 times the file size plus 64 MiB.
LongValueBudget long_value_budget(const Database& db);

// A reference that gave no value found in the tree: the index of its field in
// record.fields and why (an error of the kinds read_long_value gives).
struct UnresolvedLongValue {
  std::size_t field = 0;
  EseError cause;
};

// Replaces every LongValue field of `record` by the bytes found in the long-value
// tree (decoded as text for text columns). Never fails. A value that would take the
// budget below zero, or whose tree cannot be entered, keeps its reference bytes; the
// bytes resolved are charged to the budget. References in one record to the same long
// value are looked up once. A value the tree does not give (nothing under its id, a
// reference that names none, a tree page that does not load, a tree that leads back
// to itself) becomes empty. With `unresolved`, every reference that did not give a
// value found in the tree is appended to it with its cause.
void resolve_long_values(const Database& db, const TableInfo& table, Record& record, LongValueBudget& budget,
                         std::vector<UnresolvedLongValue>* unresolved = nullptr);

// The bytes of the long value named by `reference` (a 4- or 8-byte id), charged to the
// budget. The causes of failing stay apart, as a forensic reading must tell a value
// never stored from one lost:
//   LongValueAbsent      nothing under the id in a tree read whole, or no tree at all;
//   LongValueDamaged     a reference shorter than 4 bytes, a tree root page or another
//                        page of the tree that does not load (the text names which);
//   LongValueOverBudget  the value would exceed the budget;
//   LongValueCycle       nothing under the id, in a tree that leads back to itself.
Result<std::string> read_long_value(const Database& db, const TableInfo& table, Bytes reference,
                                    LongValueBudget& budget);

// The same with a budget of its own (long_value_budget) for this one record.
void resolve_long_values(const Database& db, const TableInfo& table, Record& record);

}  // namespace quarrow
