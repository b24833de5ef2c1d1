// Table records: the data part of a leaf entry of a table's data tree, decoded
// against the table's columns. The layout is in format/record.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "database/catalog.h"
#include "database/database.h"
#include "format/record.h"
#include "record/value.h"

namespace quarrow {

// A table's columns worked out once per read: ascending id (stable), with each fixed
// column's offset in the record. Records are then decoded against this plan.
struct ColumnPlan {
  struct Column {
    const ColumnInfo* info = nullptr;
    std::uint64_t fixed_offset = 0;  // fixed columns: start in the record
  };
  std::vector<Column> columns;
  // columns[0, first_variable) have fixed ids (below 128), [first_variable,
  // first_tagged) variable ids (128-255), the rest tagged ids.
  std::size_t first_variable = 0;
  std::size_t first_tagged = 0;
  bool has_tagged = false;
  bool large_pages = false;        // large-page tag layout: every tagged item has a flags byte
  std::uint64_t fixed_end_by_count[kFirstTaggedId] = {};  // end of fixed data when F = index (catalog sizes)
};

// A column's stored bytes in one record, before any conversion. Absent: the record
// stops before the column (fixed or variable id past the record's last one) or holds
// no tagged item for it, which is when the engine applies a column default. Null: the
// record marks it null (null bit, null offset) or its bytes do not fit the record.
struct StoredCell {
  enum class State : std::uint8_t { Absent, Null, Present };
  State state = State::Absent;
  bool tagged = false;
  std::uint8_t flags = 0;  // a tagged item's flags byte; 0 without one
  Bytes data;
};

// The columns a reading asks for, by exact name bytes; names the table lacks are
// passed over. A plan made with a selection holds only the selected columns (still in
// ascending id, the table's column order), so records are located, decoded and their
// long values resolved for those columns alone.
struct ColumnSelection {
  std::vector<std::string> names;
  bool has(std::string_view name) const;
};

ColumnPlan make_column_plan(const Database& db, const TableInfo& table, const ColumnSelection* columns = nullptr);

// Whether the table has at least one of the selected columns.
bool table_has_any(const TableInfo& table, const ColumnSelection& columns);

// One item of a record's tagged part, as stored.
struct TaggedItem {
  std::uint16_t id;
  std::uint8_t flags;
  Bytes data;
};

// Finds every column of the plan in the record: cells[k] for plan.columns[k];
// `tagged` is working storage, kept by the caller between records.
void locate_cells(const ColumnPlan& plan, Bytes data, std::vector<StoredCell>& cells, std::vector<TaggedItem>& tagged);

// The parser's working storage for decode_record_into, kept by each reader so that a
// record is decoded without allocating. (Owned by the reader, not thread_local: the
// Windows runtime frees thread-local storage before the destructors of thread_local
// objects run at a worker thread's exit.)
struct RecordScratch {
  std::vector<StoredCell> cells;
  std::vector<TaggedItem> tagged;
};

// Decodes one record; never fails (unreadable columns are Null).
Record decode_record(const ColumnPlan& plan, Bytes data);
// Decodes into an existing record, reusing its storage.
void decode_record_into(const ColumnPlan& plan, Bytes data, Record& out, RecordScratch& scratch);

}  // namespace quarrow
