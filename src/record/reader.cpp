#include "record/reader.h"

#include "page/leaf.h"
#include "record/long_value.h"

namespace quarrow {
TableRecordReader::TableRecordReader(const Database& db, const TableInfo& table, PageView page,
                                     std::uint32_t page_number)
    : db_(&db),
      table_(&table),
      plan_(make_column_plan(db, table)),
      chain_(db, ChainPolicy{OnFailure::ReturnError, OnFailure::ReturnError}, page_number, page),
      long_values_(long_value_budget(db)) {}

Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name) {
  const TableInfo* table = db.catalog().find(name);
  if (table == nullptr) return EseError::table_not_found(std::string(name));
  const DescentPolicy policy{OnFailure::ReturnError, OnFailure::ReturnError, OnFailure::ReturnError};
  Descent d = descend_leftmost(db, table->root_page, policy);
  if (d.outcome != Descent::Outcome::Reached) return std::move(*d.error);
  return TableRecordReader(db, *table, d.page, d.page_number);
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
    const PageView& page = chain_.page();
    if (next_tag_ < readable_tag_count(page)) {
      const std::uint16_t index = next_tag_++;
      if ((page.header.flags & kPageKindMask) != kPageLeaf) continue;
      PageTag tag;
      if (!read_entry_tag(page, index, scratch_, tag)) continue;
      Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
      if (!entry) continue;
      data = entry->data;
      return Step::Record;
    }
    // Follow the chain to the next page with entries. A failed step keeps the reader
    // where it is, so a further call meets the same error.
    switch (chain_.advance()) {
      case LeafChainWalk::Step::End:
        return Step::End;
      case LeafChainWalk::Step::Error:
        return Step::Error;
      case LeafChainWalk::Step::Page:
        ++pages_read_;
        next_tag_ = 1;
        break;
    }
  }
}

}  // namespace quarrow
