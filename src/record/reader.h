// Reading a table record by record along the leaf level of its own data tree: the
// whole table, or one stretch of its leaf pages (leaf_ranges.h) so that several
// readers can share a large table. Entries flagged deleted are not records of the
// table (recovery reads them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  const EseError& error() const { return error_ ? *error_ : walk_->error(); }
  const TableInfo& table() const { return *table_; }
  const ColumnPlan& plan() const { return plan_; }
  // Leaf pages entered so far (for progress reports).
  std::uint64_t pages_read() const { return walk_ ? walk_->pages() : next_page_; }

 private:
  friend Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name,
                                                     const ColumnSelection* columns);
  friend TableRecordReader open_range_reader(const Database& db, const TableInfo& table, ColumnPlan plan,
                                             std::vector<std::uint32_t> pages, std::optional<EseError> error_at_end);
  TableRecordReader(const Database& db, const TableInfo& table, ColumnPlan plan);
  bool next_listed_page();

  const Database* db_;
  const TableInfo* table_;
  ColumnPlan plan_;
  // Whole-table reading: the walk over the table's tree (a linked page that does not
  // load is an error). Range reading: the listed pages, then end_error_ (if any).
  std::optional<TreeLeafWalk> walk_;
  bool on_page_ = false;
  PageView page_;
  std::vector<std::uint32_t> pages_;
  std::size_t next_page_ = 0;
  std::optional<EseError> end_error_;
  std::optional<EseError> error_;
  std::uint64_t since_release_ = 0;
  std::uint16_t next_tag_ = 1;
  std::string scratch_;
  RecordScratch cells_;           // the parser's working storage
  LongValueBudget long_values_;  // shared by every record of this reading
};

// Looks the table up by exact name bytes and descends to its first leaf. With
// `columns`, only those columns are located, decoded and resolved (see ColumnSelection).
Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name,
                                            const ColumnSelection* columns = nullptr);

// A reader over the listed leaf pages of `table`, in their order; once they are read,
// `error_at_end` (the failure that ended the listing there, if any) is its error.
TableRecordReader open_range_reader(const Database& db, const TableInfo& table, ColumnPlan plan,
                                    std::vector<std::uint32_t> pages, std::optional<EseError> error_at_end);

}  // namespace quarrow
