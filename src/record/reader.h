// Reading a table record by record along the leaf level of its own data tree. Entries
// flagged deleted are not records of the table (recovery reads them).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "database/catalog.h"
#include "database/database.h"
#include "database/traversal.h"
#include "record/long_value.h"
#include "record/parser.h"
#include "record/value.h"

namespace quarrow {

class TableRecordReader {
 public:
  // Outcome of next_record: a record was decoded into the caller's Record, the table
  // ended, or moving along the page chain failed (error()).
  enum class Step : std::uint8_t { Record, End, Error };

  Step next_record(Record& out);
  // The next record's stored bytes, undecoded; valid until the next call.
  Step next_data(Bytes& data);
  const EseError& error() const { return walk_.error(); }
  const TableInfo& table() const { return *table_; }
  const ColumnPlan& plan() const { return plan_; }
  // Leaf pages entered so far (for progress reports).
  std::uint64_t pages_read() const { return walk_.pages(); }

 private:
  friend Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name);
  TableRecordReader(const Database& db, const TableInfo& table);

  const Database* db_;
  const TableInfo* table_;
  ColumnPlan plan_;
  // The current page; a linked page that does not load is an error.
  TreeLeafWalk walk_;
  bool on_page_ = false;
  std::uint16_t next_tag_ = 1;
  std::string scratch_;
  LongValueBudget long_values_;  // shared by every record of this reading
};

// Looks the table up by exact name bytes and descends to its first leaf.
Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name);

}  // namespace quarrow
