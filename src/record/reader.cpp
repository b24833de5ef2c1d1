#include "record/reader.h"

#include "format/page.h"
#include "page/leaf.h"
#include "record/long_value.h"

namespace quarrow {
TableRecordReader::TableRecordReader(const Database& db, const TableInfo& table)
    : db_(&db),
      table_(&table),
      plan_(make_column_plan(db, table)),
      walk_(db, table.root_page, table.object_id, OnFailure::ReturnError),
      long_values_(long_value_budget(db)) {}

Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name) {
  const TableInfo* table = db.catalog().find(name);
  if (table == nullptr) return EseError::table_not_found(std::string(name));
  // The way down to the first leaf must be sound: a root or first child that does not
  // load fails the reading before any record (the walk itself passes such pages over).
  const DescentPolicy policy{OnFailure::ReturnError, OnFailure::ReturnError, OnFailure::ReturnError};
  Descent d = descend_leftmost(db, table->root_page, policy);
  if (d.outcome != Descent::Outcome::Reached) return std::move(*d.error);
  return TableRecordReader(db, *table);
}

TableRecordReader::Step TableRecordReader::next_record(Record& out) {
  Bytes data;
  const Step step = next_data(data);
  if (step != Step::Record) return step;
  decode_record_into(plan_, data, out);
  resolve_long_values(*db_, *table_, out, long_values_);
  return Step::Record;
}

TableRecordReader::Step TableRecordReader::next_data(Bytes& data) {
  for (;;) {
    if (on_page_) {
      const PageView& page = walk_.page();
      if (next_tag_ < readable_tag_count(page)) {
        const std::uint16_t index = next_tag_++;
        if ((page.header.flags & kPageKindMask) != kPageLeaf) continue;
        PageTag tag;
        if (!read_entry_tag(page, index, scratch_, tag) || (tag.flags & kNodeDeleted)) continue;
        Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
        if (!entry) continue;
        data = entry->data;
        return Step::Record;
      }
    }
    // On to the next leaf of the tree. A failed step keeps the reader where it is, so
    // a further call meets the same error.
    switch (walk_.advance()) {
      case TreeLeafWalk::Step::End:
        return Step::End;
      case TreeLeafWalk::Step::Error:
        return Step::Error;
      case TreeLeafWalk::Step::Page:
        on_page_ = true;
        next_tag_ = 1;
        break;
    }
  }
}

}  // namespace quarrow
