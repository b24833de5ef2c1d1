#include "record/reader.h"

#include <algorithm>

#include "format/page.h"
#include "page/leaf.h"
#include "record/long_value.h"

namespace quarrow {
namespace {

constexpr std::size_t kCacheLine = 64;
constexpr std::size_t kPrefetchBytes = 1024;

}  // namespace

TableRecordReader::TableRecordReader(const Database& db, const TableInfo& table, ColumnPlan plan)
    : db_(&db), table_(&table), plan_(std::move(plan)), long_values_(long_value_budget(db)) {}

Result<TableRecordReader> open_table_reader(const Database& db, std::string_view name,
                                            const ColumnSelection* columns) {
  const TableInfo* table = db.catalog().find(name);
  if (table == nullptr) return EseError::table_not_found(std::string(name));
  // The way down to the first leaf must be sound: a root or first child that does not
  // load fails the reading before any record (the walk itself passes such pages over).
  // The way down to the first leaf must be sound: a root or first child that does not
  // load fails the reading before any record (the walk itself passes such pages over).
  const DescentPolicy policy{OnFailure::ReturnError, OnFailure::ReturnError, OnFailure::ReturnError};
  Descent d = descend_leftmost(db, table->root_page, policy);
  if (d.outcome != Descent::Outcome::Reached) return std::move(*d.error);
  TableRecordReader reader(db, *table, make_column_plan(db, *table, columns));
  reader.walk_.emplace(db, table->root_page, table->object_id, OnFailure::ReturnError);
  return reader;
}

TableRecordReader open_range_reader(const Database& db, const TableInfo& table, ColumnPlan plan,
                                    std::vector<std::uint32_t> pages, std::optional<EseError> error_at_end) {
  TableRecordReader reader(db, table, std::move(plan));
  reader.pages_ = std::move(pages);
  reader.end_error_ = std::move(error_at_end);
  return reader;
}

TableRecordReader::Step TableRecordReader::next_record(Record& out) {
  Bytes data;
  const Step step = next_data(data);
  if (step != Step::Record) return step;
  decode_record_into(plan_, data, out, cells_);
  resolve_long_values(*db_, *table_, out, long_values_);
  return Step::Record;
}

// Enters the next listed page. False at the end of the list or on a page that does
// not load (error_ says which).
bool TableRecordReader::next_listed_page() {
  if (error_) return false;
  if (next_page_ >= pages_.size()) {
    if (end_error_) error_ = end_error_;
    return false;
  }
  Result<PageView> loaded = db_->load_page(pages_[next_page_]);
  if (!loaded) {
    error_ = std::move(loaded).error();
    return false;
  }
  ++next_page_;
  page_ = *loaded;
  // Pages behind the reader are not needed again soon: keep the resident set flat,
  // as the chain walk does.
  since_release_ += page_.data.size();
  if (since_release_ >= kChainReleaseBytes) {
    db_->release_resident_pages();
    since_release_ = 0;
  }
  return true;
}

TableRecordReader::Step TableRecordReader::next_data(Bytes& data) {
  for (;;) {
    if (on_page_) {
      const PageView& page = page_;
      if (next_tag_ < readable_tag_count(page)) {
        const std::uint16_t index = next_tag_++;
        if ((page.header.flags & kPageKindMask) != kPageLeaf) continue;
        PageTag tag;
        if (!read_entry_tag(page, index, scratch_, tag) || (tag.flags & kNodeDeleted)) continue;
        Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
        if (!entry) continue;
        data = entry->data;
#if defined(__GNUC__) || defined(__clang__)
        // The caller touches a few cache lines of each record (its header, offsets,
        // tagged directory, the values asked for), seldom in order: their loads start
        // here, side by side (a narrow read of a wide table waited on them one by one,
        // about a sixth of its time). The first kilobyte holds all that in most records.
        const std::size_t ahead = std::min<std::size_t>(data.size(), kPrefetchBytes);
        for (std::size_t at = kCacheLine; at < ahead; at += kCacheLine) __builtin_prefetch(data.data() + at);
#endif
        return Step::Record;
      }
    }
    if (!walk_) {
      if (!next_listed_page()) return error_ ? Step::Error : Step::End;
      on_page_ = true;
      next_tag_ = 1;
      continue;
    }
    // On to the next leaf of the tree. A failed step keeps the reader where it is, so
    // a further call meets the same error.
    switch (walk_->advance()) {
      case TreeLeafWalk::Step::End:
        return Step::End;
      case TreeLeafWalk::Step::Error:
        return Step::Error;
      case TreeLeafWalk::Step::Page:
        page_ = walk_->page();
        on_page_ = true;
        next_tag_ = 1;
        break;
    }
  }
}

}  // namespace quarrow
