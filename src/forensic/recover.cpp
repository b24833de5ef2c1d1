#include "forensic/recover.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "forensic/carve.h"
#include "database/database.h"
#include "database/traversal.h"
#include "format/page.h"
#include "forensic/indexes.h"
#include "page/leaf.h"
#include "record/long_value.h"
#include "record/parser.h"
#include "record/reader.h"

namespace quarrow {
namespace {

// A leaf entry before its record: u16 key size, then the key. Table keys are short
// (an auto-increment key is five bytes); this bounds the search for the next entry.
constexpr std::uint64_t kMaxKeySize = 255;
// Runs of one fill byte at least this long are passed over without looking for a
// record in them (a record never starts inside such a run, see scan_region).
constexpr std::uint64_t kFillRun = 16;
// Shape checks of one page may cost at most this many steps per byte of the page:
// every check is bounded, but a hostile page could make each offset a candidate.
constexpr std::uint64_t kWorkPerByte = 16;

// Bytes the engine writes over unused space when it scrubs a page, and zero.
bool is_fill_byte(std::uint8_t b) {
  switch (b) {
    case '\0': case 'D': case 'R': case 'O': case 'H': case 'd': case 'l':
    case 'z': case 'u': case 'L': case 'Z': case 'U':
      return true;
    default:
      return false;
  }
}

// Resolves the long values of a recovered record. A value the tree no longer holds is
// Null, not an empty value that looks like data, and its column is listed.
void resolve_recovered(const Database& db, const TableInfo& table, RecoveredRecord& rec, LongValueBudget& budget) {
  std::vector<UnresolvedLongValue> unresolved;  // stays unallocated unless a value is gone
  resolve_long_values(db, table, rec.record, budget, &unresolved);
  for (const UnresolvedLongValue& gone : unresolved) {
    Field& field = rec.record.fields[gone.field];
    field.value = Value::null();
    rec.missing_long_values.push_back(field.name);
  }
}

// A value's bytes for comparing records: its kind, then its content.
void append_value_bytes(std::string& out, const Value& v) {
  out.push_back(static_cast<char>(v.kind));
  switch (v.kind) {
    case Value::Kind::Null:
      return;
    case Value::Kind::Bool:
      out.push_back(v.b ? 1 : 0);
      return;
    case Value::Kind::I16:
    case Value::Kind::I32: {
      const std::int64_t i = v.i;
      out.append(reinterpret_cast<const char*>(&i), sizeof i);
      return;
    }
    case Value::Kind::F32: {
      const float f = v.f32;
      out.append(reinterpret_cast<const char*>(&f), sizeof f);
      return;
    }
    case Value::Kind::F64: {
      const double d = v.f64;
      out.append(reinterpret_cast<const char*>(&d), sizeof d);
      return;
    }
    case Value::Kind::Guid:
      out.append(reinterpret_cast<const char*>(v.guid.data()), v.guid.size());
      return;
    case Value::Kind::Binary:
    case Value::Kind::Text:
    case Value::Kind::MultiValue:
    case Value::Kind::LongValue: {
      const std::uint64_t n = v.bytes.size();
      out.append(reinterpret_cast<const char*>(&n), sizeof n);
      out.append(v.bytes);
      return;
    }
    default: {
      const std::uint64_t u = v.u;
      out.append(reinterpret_cast<const char*>(&u), sizeof u);
      return;
    }
  }
}

std::string record_bytes(const Record& record) {
  std::string out;
  for (const Field& f : record.fields) append_value_bytes(out, f.value);
  return out;
}

// Marks each recovered record against the live rows: the primary index names the key
// columns; the live rows whose key a recovered record has are kept (as bytes) while the
// table is read once. A reading that breaks leaves the rows not reached unknown.
void compare_with_live(const Database& db, const TableInfo& table, std::vector<RecoveredRecord>& out) {
  if (out.empty()) return;
  Result<std::vector<IndexDefinition>> indexes = read_table_indexes(db, table.name);
  if (!indexes) return;
  const auto primary =
      std::find_if(indexes->begin(), indexes->end(), [](const IndexDefinition& d) { return d.primary; });
  if (primary == indexes->end() || primary->columns.empty()) return;
  const std::vector<Field>& fields = out.front().record.fields;
  std::vector<std::size_t> key_fields;
  for (const KeySegment& segment : primary->columns) {
    const auto at = std::find_if(fields.begin(), fields.end(),
                                 [&](const Field& f) { return f.column_id == segment.column_id; });
    if (at == fields.end()) return;  // a key column the table does not have
    key_fields.push_back(static_cast<std::size_t>(at - fields.begin()));
  }
  const auto key_of = [&](const Record& r) {
    std::string key;
    for (const std::size_t k : key_fields) append_value_bytes(key, r.fields[k].value);
    return key;
  };

  std::unordered_map<std::string, std::vector<std::string>> live;  // key -> rows with it
  for (const RecoveredRecord& r : out) live.emplace(key_of(r.record), std::vector<std::string>());
  Result<TableRecordReader> reader = open_table_reader(db, table.name);
  if (!reader) return;
  Record row;
  while (reader->next_record(row) == TableRecordReader::Step::Record) {
    auto it = live.find(key_of(row));
    if (it != live.end()) it->second.push_back(record_bytes(row));
  }
  for (RecoveredRecord& r : out) {
    const std::vector<std::string>& rows = live[key_of(r.record)];
    if (rows.empty()) continue;
    const std::string mine = record_bytes(r.record);
    r.live = std::find(rows.begin(), rows.end(), mine) != rows.end() ? kLiveIdentical : kLiveOlderVersion;
  }
}

// What a plausible record of the table looks like.
struct TableShape {
  ColumnPlan plan;
  std::vector<bool> fixed_id;     // ids 1..127 the table has
  std::vector<bool> variable_id;  // ids 128..255
  std::vector<bool> tagged_id;    // ids 256..65535
  bool has_fixed = false;
  bool has_tagged = false;
};

TableShape make_shape(const Database& db, const TableInfo& table) {
  TableShape s{make_column_plan(db, table), std::vector<bool>(kFirstVariableId, false),
               std::vector<bool>(kFirstTaggedId, false), std::vector<bool>(kColumnIdLimit, false)};
  for (const auto& entry : table.columns) {
    const std::uint32_t id = entry.second.id;
    if (id == 0) continue;
    if (id < kFirstVariableId) {
      s.fixed_id[id] = true;
      s.has_fixed = true;
    } else if (id < kFirstTaggedId) {
      s.variable_id[id] = true;
    } else if (id < kColumnIdLimit) {
      s.tagged_id[id] = true;
      s.has_tagged = true;
    }
  }
  return s;
}

// The shape of a candidate that passed the checks.
struct Candidate {
  std::uint64_t start = 0;     // page offset of byte 0 of the record
  std::uint64_t min_end = 0;   // page offset the record reaches at least
  bool open_ended = false;     // a tagged part: the last item runs to the record's end
};

class FreeSpaceScanner {
 public:
  FreeSpaceScanner(const Database& db, const TableInfo& table, const TableShape& shape, RecoveryCounts& counts,
                   LongValueBudget& budget, std::vector<RecoveredRecord>& out)
      : db_(db), table_(table), shape_(shape), counts_(counts), budget_(budget), out_(out) {}

  void scan_page(const PageView& page, std::uint32_t number) {
    page_ = &page;
    number_ = number;
    work_left_ = kWorkPerByte * page.data.size();
    // Values are appended from the start of the data area; nothing below this offset
    // was written since the page was last reorganised, so records do not reach past it.
    used_end_ = std::min<std::uint64_t>(page.header_size + page.header.first_available_data_offset,
                                        page.data.size());
    prefix_size_ = 0;
    if (page.tag_count > 0) {
      if (Result<PageTag> prefix = read_tag(page, 0)) prefix_size_ = prefix->value.size();
    }
    for (const ByteRange& gap : slack_regions(page)) scan_region(gap.start, gap.end);
  }

 private:
  // Scans [a, b) for record starts. Candidates are checked in offset order; a record
  // that is taken moves the scan past its mandatory part, and a record whose last
  // tagged item runs to its end is cut where the next record's leaf entry begins (or
  // at the end of the space).
  void scan_region(std::uint64_t a, std::uint64_t b) {
    const Bytes data = page_->data;
    counts_.free_bytes_scanned += b - a;
    std::optional<Candidate> open;
    std::uint64_t pos = a;
    while (pos + kRecordHeaderSize <= b) {
      const std::uint8_t byte = data[static_cast<std::size_t>(pos)];
      if (is_fill_byte(byte)) {
        // A record's second byte (L) is 127 or more, which no fill byte is, so no record
        // starts before the last byte of a run of two or more.
        std::uint64_t run_end = pos + 1;
        while (run_end < b && data[static_cast<std::size_t>(run_end)] == byte) ++run_end;
        if (run_end - pos >= kFillRun) {
          counts_.fill_bytes_skipped += run_end - pos - 1;
          pos = run_end - 1;
        }
      }
      if (!gate(pos)) {
        ++pos;
        continue;
      }
      ++counts_.candidates;
      if (work_left_ == 0) {
        ++counts_.rejected[static_cast<std::size_t>(Rejection::WorkLimit)];
        ++pos;
        continue;
      }
      const std::uint64_t bound = bound_for(pos, b);
      std::optional<Rejection> why;
      std::optional<Candidate> c = check(pos, bound, why);
      if (!c) {
        ++counts_.rejected[static_cast<std::size_t>(*why)];
        ++pos;
        continue;
      }
      if (open) finish(*open, entry_start(c->start, open->min_end));
      open.reset();
      if (c->open_ended) {
        open = c;
      } else {
        finish(*c, c->min_end);
      }
      pos = c->min_end;
    }
    if (open) finish(*open, bound_for(open->start, b));
  }

  // The first bytes name a last fixed and a last variable column the table has.
  bool gate(std::uint64_t pos) const {
    const Bytes data = page_->data;
    const std::uint8_t f = data[static_cast<std::size_t>(pos + kRecordLastFixedOffset)];
    const std::uint8_t l = data[static_cast<std::size_t>(pos + kRecordLastVariableOffset)];
    const bool fixed_ok = f == 0 || (f < kFirstVariableId && shape_.fixed_id[f]);
    const bool variable_ok = l == kNoVariableColumns || (l >= kFirstVariableId && shape_.variable_id[l]);
    return fixed_ok && variable_ok;
  }

  // How far a record starting at pos may reach: the end of its free region, and not
  // past the end of the used data area when it starts inside it.
  std::uint64_t bound_for(std::uint64_t pos, std::uint64_t region_end) const {
    return pos < used_end_ ? std::min(region_end, used_end_) : region_end;
  }

  std::optional<Candidate> check(std::uint64_t pos, std::uint64_t bound, std::optional<Rejection>& why) {
    const Bytes data = page_->data;
    const Bytes r = data.subspan(static_cast<std::size_t>(pos), static_cast<std::size_t>(bound - pos));
    const std::uint64_t len = r.size();
    // A candidate shorter than a record header reads as zeros, which no fixed part
    // (at least the header long) matches.
    const RecordHeader h = read_record_header(r);
    const std::uint64_t v = h.variable_offsets;

    // Fixed part: the fixed columns 1..F by their catalog sizes, then (as the engine
    // writes it) a null bitmap of one bit per fixed column; some writers leave it out.
    const std::uint64_t fixed_end = shape_.plan.fixed_end_by_count[h.last_fixed];
    if (v != fixed_end && v != fixed_end + fixed_null_bitmap_size(h.last_fixed)) {
      return reject(why, Rejection::FixedPart);
    }
    if (v > len) return reject(why, Rejection::FixedPart);

    // Variable part: n end offsets, non-decreasing (bit 15 marks a null column), the
    // data inside the candidate.
    const VariableOffsets variable = VariableOffsets::of_record(r, h);
    const std::uint64_t n = variable.count();
    const std::uint64_t d = variable.data_start();
    if (d > len) return reject(why, Rejection::VariableOffsets);
    std::uint64_t previous = 0;
    for (std::uint64_t k = 0; k < n; ++k) {
      const std::uint64_t end = variable.end(k);
      if (end < previous) return reject(why, Rejection::VariableOffsets);
      previous = end;
    }
    spend(n);
    const std::uint64_t t = d + previous;
    if (t > len) return reject(why, Rejection::VariableOffsets);

    Candidate c;
    c.start = pos;
    c.min_end = pos + t;
    if (!shape_.has_tagged || t + kTaggedEntrySize > len) return c;

    // Tagged part: a directory of (id, offset) entries whose first offset is the
    // directory's size. Without a first entry that names a tagged column of the table
    // the record ends at t.
    const std::uint16_t first_id = load_u16le(r, static_cast<std::size_t>(t + kTaggedEntryIdOffset));
    if (first_id < kFirstTaggedId || !shape_.tagged_id[first_id]) return c;
    const bool wide = shape_.plan.large_pages && len - t > kTaggedOffsetMask;
    const std::uint16_t mask = wide ? kTaggedOffsetMaskLarge : kTaggedOffsetMask;
    const std::uint64_t directory = load_u16le(r, static_cast<std::size_t>(t + kTaggedEntryWordOffset)) & mask;
    if (directory < kTaggedEntrySize || directory % kTaggedEntrySize != 0 || t + directory > len) {
      return reject(why, Rejection::TaggedDirectory);
    }
    std::uint32_t previous_id = 0;
    std::uint64_t previous_offset = directory;
    for (std::uint64_t at = t; at < t + directory; at += kTaggedEntrySize) {
      const std::uint16_t id = load_u16le(r, static_cast<std::size_t>(at + kTaggedEntryIdOffset));
      const std::uint64_t offset = load_u16le(r, static_cast<std::size_t>(at + kTaggedEntryWordOffset)) & mask;
      if (id < kFirstTaggedId || !shape_.tagged_id[id] || id <= previous_id) {
        return reject(why, Rejection::TaggedDirectory);
      }
      if (offset < previous_offset || t + offset > len) return reject(why, Rejection::TaggedDirectory);
      previous_id = id;
      previous_offset = offset;
    }
    spend(directory / kTaggedEntrySize);
    c.min_end = pos + t + previous_offset;
    c.open_ended = true;
    return c;
  }

  static std::optional<Candidate> reject(std::optional<Rejection>& why, Rejection reason) {
    why = reason;
    return std::nullopt;
  }

  void spend(std::uint64_t steps) {
    const std::uint64_t cost = steps + 1;
    work_left_ = work_left_ > cost ? work_left_ - cost : 0;
  }

  // Where the leaf entry of the record at `record` begins: a u16 key size k and k key
  // bytes right before it, and before those a u16 common key size when the key shares
  // a prefix with the page's key prefix (tag 0), which it cannot exceed. The node flags
  // went with the tag, so the common key size is recognised by its range alone: a
  // preceding record whose last bytes read as such a size loses those two bytes. The
  // shortest key that fits wins; without one, the entry is taken to start at the
  // record. On large pages the top three bits of the entry's first word carry node
  // flags and are masked off.
  std::uint64_t entry_start(std::uint64_t record, std::uint64_t not_before) {
    const Bytes data = page_->data;
    const std::uint16_t mask = shape_.plan.large_pages ? kLargeEntryWordMask : std::numeric_limits<std::uint16_t>::max();
    for (std::uint64_t k = 1; k <= kMaxKeySize && record >= not_before + kKeySizeWordSize + k; ++k) {
      const std::uint64_t key_size_at = record - kKeySizeWordSize - k;
      if ((load_u16le(data, static_cast<std::size_t>(key_size_at)) & mask) != k) continue;
      spend(k);
      if (prefix_size_ > 0 && key_size_at >= not_before + kKeySizeWordSize) {
        const std::uint64_t common = load_u16le(data, static_cast<std::size_t>(key_size_at - kKeySizeWordSize)) & mask;
        if (common >= 1 && common <= prefix_size_) return key_size_at - kKeySizeWordSize;
      }
      return key_size_at;
    }
    spend(kMaxKeySize);
    return record;
  }

  void finish(const Candidate& c, std::uint64_t end) {
    const Bytes bytes = page_->data.subspan(static_cast<std::size_t>(c.start), static_cast<std::size_t>(end - c.start));
    RecoveredRecord rec;
    rec.page = number_;
    rec.offset = static_cast<std::uint32_t>(c.start);
    rec.source = kSourceFreeSpace;
    rec.image = bytes;
    decode_record_into(shape_.plan, bytes, rec.record, cells_);
    resolve_recovered(db_, table_, rec, budget_);
    out_.push_back(std::move(rec));
    ++counts_.accepted;
  }

  const Database& db_;
  const TableInfo& table_;
  const TableShape& shape_;
  RecoveryCounts& counts_;
  LongValueBudget& budget_;
  std::vector<RecoveredRecord>& out_;
  const PageView* page_ = nullptr;
  std::uint32_t number_ = 0;
  std::uint64_t used_end_ = 0;
  std::uint64_t prefix_size_ = 0;  // the page's key prefix (tag 0)
  std::uint64_t work_left_ = 0;
  RecordScratch cells_;
};

void recover_flagged(const Database& db, const TableInfo& table, const TableShape& shape, const PageView& page,
                     std::uint32_t number, LongValueBudget& budget, RecoveryCounts& counts,
                     std::vector<RecoveredRecord>& out) {
  std::string scratch;
  RecordScratch cells;
  PageTag tag;
  for (std::uint16_t i = 1; i < readable_tag_count(page); ++i) {
    if (!read_entry_tag(page, i, scratch, tag) || (tag.flags & kNodeDeleted) == 0) continue;
    Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
    if (!entry) continue;
    // The offset is that of the record in the page (the tag value is a copy only when
    // large-page flag bits had to be cleared; the record bytes sit at the same place).
    Result<PageTag> in_page = read_tag(page, i);
    if (!in_page) continue;
    const std::uint64_t record_offset = static_cast<std::uint64_t>(in_page->value.data() - page.data.data()) +
                                        static_cast<std::uint64_t>(entry->data.data() - tag.value.data());
    RecoveredRecord rec;
    rec.page = number;
    rec.offset = static_cast<std::uint32_t>(record_offset);
    rec.source = kSourceFlaggedDeleted;
    // The entry's data may be a copy (see above); the same bytes sit in the page.
    rec.image = page.data.subspan(static_cast<std::size_t>(record_offset), entry->data.size());
    decode_record_into(shape.plan, entry->data, rec.record, cells);
    resolve_recovered(db, table, rec, budget);
    out.push_back(std::move(rec));
    ++counts.flagged_deleted;
  }
}

}  // namespace

const char* rejection_name(Rejection reason) {
  switch (reason) {
    case Rejection::FixedPart: return "fixed part";
    case Rejection::VariableOffsets: return "variable offsets";
    case Rejection::TaggedDirectory: return "tagged directory";
    case Rejection::WorkLimit: return "work limit";
    default: return "unknown";
  }
}

Result<std::vector<RecoveredRecord>> recover_records(const Database& db, std::string_view table_name,
                                                     RecoveryCounts* counts_out) {
  const TableInfo* table = db.catalog().find(table_name);
  if (table == nullptr) return EseError::table_not_found(std::string(table_name));
  RecoveryCounts counts;
  std::vector<RecoveredRecord> out;
  const TableShape shape = make_shape(db, *table);
  LongValueBudget budget = long_value_budget(db);
  FreeSpaceScanner scanner(db, *table, shape, counts, budget, out);

  // The table's own leaves; damaged pages and links are passed over.
  TreeLeafWalk walk(db, table->root_page, table->object_id, OnFailure::PassOver);
  while (walk.advance() == TreeLeafWalk::Step::Page) {
    const PageView& page = walk.page();
    if ((page.header.flags & kPageKindMask) != kPageLeaf) continue;
    ++counts.pages_scanned;
    recover_flagged(db, *table, shape, page, walk.page_number(), budget, counts, out);
    scanner.scan_page(page, walk.page_number());
  }
  compare_with_live(db, *table, out);
  if (counts_out != nullptr) *counts_out = counts;
  return out;
}

}  // namespace quarrow
