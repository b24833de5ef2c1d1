#include "record/parser.h"

#include <algorithm>

#include "record/compression.h"
#include "record/text.h"

namespace quarrow {
namespace {

struct RecordShape {
  explicit RecordShape(Bytes data)
      : header(read_record_header(data)), variable(VariableOffsets::of_record(data, header)) {}
  RecordHeader header;              // F, L, V
  VariableOffsets variable;         // n words at V, values from V + 2n
  std::uint64_t tagged_start = 0;   // T
  bool null_bitmap = false;         // a fixed-column null bitmap ends at V
};

RecordShape read_shape(const ColumnPlan& plan, Bytes data) {
  RecordShape s(data);
  const std::uint64_t len = data.size();
  const std::uint64_t variable_data = s.variable.data_start();
  if (s.header.last_variable < kFirstVariableId) {
    s.tagged_start = s.header.variable_offsets;
  } else if (variable_data > len) {
    s.tagged_start = variable_data;
  } else {
    // The tagged part begins where the last variable value ends.
    s.tagged_start = variable_data + s.variable.end(s.variable.count() - 1);
  }
  // The engine keeps a null bit per fixed column in ceil(F/8) bytes right before V.
  // Only trust it when it fits between the fixed data (by catalog sizes) and V, so
  // records written without one keep their plain reading.
  const std::uint64_t bitmap_size = fixed_null_bitmap_size(s.header.last_fixed);
  if (bitmap_size > 0 && s.header.variable_offsets <= len && s.header.variable_offsets >= bitmap_size &&
      s.header.variable_offsets - bitmap_size >= plan.fixed_end_by_count[s.header.last_fixed]) {
    s.null_bitmap = true;
  }
  return s;
}

bool fixed_column_is_null(const RecordShape& s, Bytes data, std::uint32_t id) {
  if (!s.null_bitmap || id == 0) return false;
  const std::uint64_t bitmap_start = s.header.variable_offsets - fixed_null_bitmap_size(s.header.last_fixed);
  const std::uint8_t byte = data[static_cast<std::size_t>(bitmap_start + (id - 1) / 8)];
  return (byte >> ((id - 1) % 8)) & 1;
}

// Parses the tagged directory into `items` (ascending id, a repeated id keeping its
// last item). Damaged entries are dropped.
void parse_tagged(const ColumnPlan& plan, Bytes data, std::uint64_t t, std::vector<TaggedItem>& items) {
  items.clear();
  const std::uint64_t len = data.size();
  if (len <= t || !in_bounds(data, t, kTaggedEntrySize)) return;
  const bool wide = plan.large_pages && (len - t) > kTaggedOffsetMask;
  const std::uint16_t mask = wide ? kTaggedOffsetMaskLarge : kTaggedOffsetMask;
  const std::uint64_t directory_end = load_u16le(data, static_cast<std::size_t>(t + kTaggedEntryWordOffset)) & mask;

  struct Slot {
    std::uint16_t id;
    std::uint16_t word;
  };
  std::uint64_t count = 0;
  for (std::uint64_t pos = 0; pos < directory_end && in_bounds(data, t + pos, kTaggedEntrySize);
       pos += kTaggedEntrySize)
    ++count;
  const auto slot = [&](std::uint64_t k) {
    const std::size_t at = static_cast<std::size_t>(t + kTaggedEntrySize * k);
    return Slot{load_u16le(data, at + kTaggedEntryIdOffset), load_u16le(data, at + kTaggedEntryWordOffset)};
  };
  bool sorted = true;
  for (std::uint64_t k = 0; k < count; ++k) {
    const Slot s = slot(k);
    const std::uint64_t start = s.word & mask;
    const std::uint64_t boundary = (k + 1 < count) ? (slot(k + 1).word & mask) : len - t;
    if (start > boundary || t + boundary > len) continue;
    Bytes item = data.subspan(static_cast<std::size_t>(t + start), static_cast<std::size_t>(boundary - start));
    std::uint8_t flags = 0;
    const bool has_flags = plan.large_pages || (!wide && (s.word & kTaggedHasFlags));
    if (has_flags && !item.empty()) {
      flags = item[0];
      item = item.subspan(1);
    }
    if (!items.empty() && items.back().id >= s.id) sorted = false;
    items.push_back(TaggedItem{s.id, flags, item});
  }
  if (!sorted) {
    std::stable_sort(items.begin(), items.end(),
                     [](const TaggedItem& a, const TaggedItem& b) { return a.id < b.id; });
    // Of equal ids the last one stands.
    std::vector<TaggedItem> unique;
    unique.reserve(items.size());
    for (const TaggedItem& it : items) {
      if (!unique.empty() && unique.back().id == it.id) {
        unique.back() = it;
      } else {
        unique.push_back(it);
      }
    }
    items.swap(unique);
  }
}

void set_plain(Value& out, Bytes data, const ColumnInfo& column) {
  Result<Value> v = convert_value(data, column.column_type, column.codepage);
  if (!v) {
    out = Value();
    return;
  }
  out = std::move(*v);
  // A Long Binary value kept in the record itself (not a long-value reference) is the
  // data, not an id to look up.
  if (out.kind == Value::Kind::LongValue) out.kind = Value::Kind::Binary;
}

void set_compressed(Value& out, Bytes data, const ColumnInfo& column) {
  if (data.empty()) {
    out = Value::of_bytes(Value::Kind::Binary, std::string());
    return;
  }
  std::optional<std::string> plain = decompress(data, /*allow_legacy=*/true);
  if (!plain) {
    out = Value::of_bytes(Value::Kind::Binary, data);
    return;
  }
  if (is_text_type(column.column_type)) {
    std::string text;
    if (decode_text_into(as_bytes(*plain), column.codepage.value_or(kDefaultCodepage), text)) {
      out = Value::of_bytes(Value::Kind::Text, std::move(text));
      return;
    }
  }
  out = Value::of_bytes(Value::Kind::Binary, std::move(*plain));
}

void set_tagged(Value& out, const TaggedItem& item, const ColumnInfo& column) {
  if (item.flags & kItemSeparated) {
    out = Value::of_bytes(Value::Kind::LongValue, item.data);
  } else if (item.flags & kItemMultiValued) {
    // Multi-value arrays stay undecoded, also when a value inside is compressed.
    out = Value::of_bytes(Value::Kind::MultiValue, item.data);
  } else if (item.flags & kItemCompressed) {
    set_compressed(out, item.data, column);
  } else {
    set_plain(out, item.data, column);
  }
}

}  // namespace

bool ColumnSelection::has(std::string_view name) const {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool table_has_any(const TableInfo& table, const ColumnSelection& columns) {
  for (const auto& entry : table.columns) {
    if (columns.has(entry.second.name)) return true;
  }
  return false;
}

ColumnPlan make_column_plan(const Database& db, const TableInfo& table, const ColumnSelection* columns) {
  ColumnPlan plan;
  plan.large_pages = db.layout().large_tags();
  plan.columns.reserve(table.columns.size());
  for (const auto& [name, info] : table.columns) plan.columns.push_back(ColumnPlan::Column{&info, 0});
  std::stable_sort(plan.columns.begin(), plan.columns.end(),
                   [](const ColumnPlan::Column& a, const ColumnPlan::Column& b) { return a.info->id < b.info->id; });
  // Fixed columns lie back to back in ascending id; F is one byte, so only ids below
  // 256 can ever be read as fixed.
  std::uint64_t offset = kRecordHeaderSize;
  for (ColumnPlan::Column& c : plan.columns) {
    c.fixed_offset = offset;
    if (c.info->id < kFirstTaggedId) offset += c.info->space_usage;
    if (c.info->id >= kFirstTaggedId) plan.has_tagged = true;
  }
  // End of the fixed data for each possible F: 4 + catalog sizes of columns 1..F.
  std::uint64_t end = kRecordHeaderSize;
  std::size_t next = 0;
  for (std::uint32_t f = 0; f < kFirstTaggedId; ++f) {
    while (next < plan.columns.size() && plan.columns[next].info->id <= f) {
      end += plan.columns[next].info->space_usage;
      ++next;
    }
    plan.fixed_end_by_count[f] = end;
  }
  const auto id_below = [&](std::uint32_t bound) {
    return static_cast<std::size_t>(
        std::partition_point(plan.columns.begin(), plan.columns.end(),
                             [&](const ColumnPlan::Column& c) { return c.info->id < bound; }) -
        plan.columns.begin());
  };
  // A selection keeps only its columns, after the offsets above are worked out from
  // every column of the table: the record layout does not depend on what is read.
  if (columns != nullptr) {
    std::erase_if(plan.columns, [&](const ColumnPlan::Column& c) { return !columns->has(c.info->name); });
    plan.has_tagged = !plan.columns.empty() && plan.columns.back().info->id >= kFirstTaggedId;
  }
  plan.first_variable = id_below(kFirstVariableId);
  plan.first_tagged = id_below(kFirstTaggedId);
  return plan;
}

void locate_cells(const ColumnPlan& plan, Bytes data, std::vector<StoredCell>& cells,
                  std::vector<TaggedItem>& tagged) {
  const RecordShape s = read_shape(plan, data);
  const std::size_t count = plan.columns.size();
  cells.resize(count);
  StoredCell* const out = cells.data();
  const ColumnPlan::Column* const columns = plan.columns.data();
  // Columns come in ascending id: the fixed ones, the variable ones, the tagged ones.
  const std::size_t first_variable = plan.first_variable;
  const std::size_t first_tagged = plan.first_tagged;
  std::size_t k = 0;
  for (; k < first_variable; ++k) {
    const ColumnInfo& column = *columns[k].info;
    StoredCell& cell = out[k];
    cell.tagged = false;
    cell.flags = 0;
    cell.data = Bytes();
    const std::uint32_t id = column.id;
    if (id > s.header.last_fixed) {
      cell.state = StoredCell::State::Absent;
      continue;
    }
    const std::uint64_t start = columns[k].fixed_offset;
    if (!in_bounds(data, start, column.space_usage) || fixed_column_is_null(s, data, id)) {
      cell.state = StoredCell::State::Null;
      continue;
    }
    cell.state = StoredCell::State::Present;
    cell.data = data.subspan(static_cast<std::size_t>(start), column.space_usage);
  }
  for (; k < first_tagged; ++k) {
    StoredCell& cell = out[k];
    cell.tagged = false;
    cell.flags = 0;
    cell.data = Bytes();
    const std::uint32_t id = columns[k].info->id;
    if (id > s.header.last_variable) {
      cell.state = StoredCell::State::Absent;
      continue;
    }
    if (!s.variable.value(id - kFirstVariableId, cell.data)) {
      cell.state = StoredCell::State::Null;
      continue;
    }
    cell.state = StoredCell::State::Present;
  }
  if (k == count) return;

  parse_tagged(plan, data, s.tagged_start, tagged);
  const std::size_t items = tagged.size();
  std::size_t cursor = 0;
  for (; k < count; ++k) {
    StoredCell& cell = out[k];
    const std::uint32_t id = columns[k].info->id;
    // Columns come in ascending id and items are sorted: walk both together.
    while (cursor < items && tagged[cursor].id < id) ++cursor;
    if (cursor < items && tagged[cursor].id == id) {
      cell.state = StoredCell::State::Present;
      cell.tagged = true;
      cell.flags = tagged[cursor].flags;
      cell.data = tagged[cursor].data;
    } else {
      cell = StoredCell();
    }
  }
}

void decode_record_into(const ColumnPlan& plan, Bytes data, Record& out, RecordScratch& scratch) {
  if (out.fields.size() != plan.columns.size() ||
      (!plan.columns.empty() && out.fields[0].name.data() != plan.columns[0].info->name.data())) {
    out.fields.assign(plan.columns.size(), Field());
    for (std::size_t k = 0; k < plan.columns.size(); ++k) {
      const ColumnInfo& info = *plan.columns[k].info;
      out.fields[k].name = info.name;
      out.fields[k].column_id = info.id;
      out.fields[k].column_type = info.column_type;
      out.fields[k].codepage = info.codepage;
    }
  }

  std::vector<StoredCell>& cells = scratch.cells;
  locate_cells(plan, data, cells, scratch.tagged);
  for (std::size_t k = 0; k < plan.columns.size(); ++k) {
    const ColumnInfo& column = *plan.columns[k].info;
    Value& value = out.fields[k].value;
    value.kind = Value::Kind::Null;
    value.bytes.clear();
    const StoredCell& cell = cells[k];
    if (cell.state != StoredCell::State::Present) continue;
    if (cell.tagged) {
      set_tagged(value, TaggedItem{static_cast<std::uint16_t>(column.id), cell.flags, cell.data}, column);
    } else {
      set_plain(value, cell.data, column);
    }
  }
}

Record decode_record(const ColumnPlan& plan, Bytes data) {
  Record record;
  RecordScratch scratch;
  decode_record_into(plan, data, record, scratch);
  return record;
}

}  // namespace quarrow
