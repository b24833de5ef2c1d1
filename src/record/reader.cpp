#include "record/reader.h"

#include "page/leaf.h"
#include "record/long_value.h"

namespace quarrow {
namespace {

// A table record lives on a leaf page that is not a space-tree, index or long-value page.
constexpr std::uint32_t kPageKindMask = kPageLeaf | kPageSpaceTree | kPageIndex | kPageLongValue;

}  // namespace

TableRecordReader::TableRecordReader(const Database& db, const TableInfo& table, PageView page,
                                     std::uint32_t page_number)
    : db_(&db), table_(&table), plan_(make_column_plan(db, table)), page_(page), chain_(db.total_pages()),
      long_values_(long_value_budget(db)) {
  chain_.enter(page_number);
}

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
    if (finished_) return Step::End;
    if (next_tag_ < readable_tag_count(page_)) {
      const std::uint16_t index = next_tag_++;
      if ((page_.header.flags & kPageKindMask) != kPageLeaf) continue;
      PageTag tag;
      if (!read_entry_tag(page_, index, scratch_, tag)) continue;
      Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
      if (!entry) continue;
      data = entry->data;
      return Step::Record;
    }
    // Follow the chain to the next page with entries. A failed load keeps the reader
    // where it is, so a further call meets the same error.
    std::uint32_t next = page_.header.next_page;
    for (;;) {
      if (next == 0) {
        finished_ = true;
        return Step::End;
      }
      if (chain_.contains(next)) {
        error_ = chain_cycle_error(next);
        return Step::Error;
      }
      Result<PageView> loaded = db_->load_page(next);
      if (!loaded) {
        error_ = std::move(loaded).error();
        return Step::Error;
      }
      chain_.enter(next);
      ++pages_read_;
      page_ = *loaded;
      next_tag_ = 1;
      if (page_.tag_count >= 2) break;
      next = page_.header.next_page;
    }
  }
}

}  // namespace quarrow
