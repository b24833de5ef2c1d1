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

// Replaces every LongValue field of `record` by the bytes found in the long-value
// tree (decoded as text for text columns). Never fails. A value that would take the
// budget below zero keeps its reference bytes; the bytes resolved are charged to it.
// References in one record to the same long value are looked up once. A value with
// nothing under its id in the tree (and a reference that names none) becomes empty.
// With `unresolved`, the index in record.fields of every reference that did not give
// a value found in the tree is appended to it.
void resolve_long_values(const Database& db, const TableInfo& table, Record& record, LongValueBudget& budget,
                         std::vector<std::size_t>* unresolved = nullptr);

// The bytes of the long value named by `reference` (a 4- or 8-byte id), charged to the
// budget. nullopt: a reference shorter than 4 bytes, a table without a long-value
// tree, a tree that cannot be entered, no entry under the id, or a value beyond the
// budget.
std::optional<std::string> read_long_value(const Database& db, const TableInfo& table, Bytes reference,
                                           LongValueBudget& budget);

// The same with a budget of its own (long_value_budget) for this one record.
void resolve_long_values(const Database& db, const TableInfo& table, Record& record);

}  // namespace quarrow
