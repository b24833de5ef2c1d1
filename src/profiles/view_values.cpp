// A view's values of the current record: the stored values decoded on first use and
// taken through their column's conversion, join or tree.
#include <algorithm>
#include <bit>

#include "format/catalog.h"
#include "format/known_values.h"
#include "format/record.h"
#include "profiles/view_reader.h"
#include "record/text.h"
#include "record/value.h"

namespace quarrow::profiles {

ViewReader::Step ViewReader::read_record() {
  Bytes data;
  const TableRecordReader::Step step = reader_->next_data(data);
  if (step == TableRecordReader::Step::Error) {
    error_ = reader_->error();
    return Step::Error;
  }
  if (step == TableRecordReader::Step::End) return Step::End;
  decoder_->locate(data);
  std::fill(source_ready_.begin(), source_ready_.end(), 0);
  return Step::Row;
}

namespace {

void source_from_plain(Bytes d, std::uint32_t type, std::uint32_t codepage, std::string& text, Source& out) {
  out = Source{};
  out.column_type = type;
  out.raw = d;
  const std::size_t n = d.size();
  auto need = [&](std::size_t w) { return n >= w; };
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::Boolean:
    case ColumnType::UnsignedByte:
      if (!need(1)) return;
      out.kind = Source::Kind::Int;
      out.i = d[0];
      return;
    case ColumnType::SignedShort:
      if (!need(2)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int16_t>(load_u16le(d, 0));
      return;
    case ColumnType::UnsignedShort:
      if (!need(2)) return;
      out.kind = Source::Kind::Int;
      out.i = load_u16le(d, 0);
      return;
    case ColumnType::SignedLong:
      if (!need(4)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int32_t>(load_u32le(d, 0));
      return;
    case ColumnType::UnsignedLong:
      if (!need(4)) return;
      out.kind = Source::Kind::Int;
      out.i = load_u32le(d, 0);
      return;
    case ColumnType::Currency:
      if (!need(8)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int64_t>(load_u64le(d, 0));
      return;
    case ColumnType::LongLong:
    case ColumnType::DateTime:
      if (!need(8)) return;
      out.kind = Source::Kind::UInt;
      out.u = load_u64le(d, 0);
      return;
    case ColumnType::SingleFloat:
      if (!need(4)) return;
      out.kind = Source::Kind::Float;
      out.f = std::bit_cast<float>(load_u32le(d, 0));
      return;
    case ColumnType::DoubleFloat:
      if (!need(8)) return;
      out.kind = Source::Kind::Float;
      out.f = std::bit_cast<double>(load_u64le(d, 0));
      return;
    case ColumnType::Guid:
      if (!need(kGuidSize)) return;
      out.kind = Source::Kind::Guid;
      out.raw = d.first(kGuidSize);
      return;
    case ColumnType::Text:
    case ColumnType::LongText:
      text.clear();
      if (!decode_text_into(d, codepage, text)) text = lossy_utf8(d);
      out.kind = Source::Kind::Text;
      out.text = text;
      return;
    default:
      out.kind = Source::Kind::Bytes;
      return;
  }
}

}  // namespace

// A present, single value stored as it is (0x01 only says the column is a long-value
// column whose value is kept inline).
bool ViewReader::plain(std::size_t k) const {
  const StoredCell& c = decoder_->stored(k);
  return c.state == StoredCell::State::Present && !decoder_->columns()[k].list &&
         (c.flags & ~kItemLongValueColumn) == 0;
}

const Source& ViewReader::source(int k) {
  const std::size_t i = static_cast<std::size_t>(k);
  if (source_ready_[i]) return sources_[i];
  const ColumnInfo& info = *reader_->plan().columns[i].info;
  const std::uint32_t codepage = info.codepage.value_or(kDefaultCodepage);
  Source& s = sources_[i];
  s = Source{};
  s.column_type = info.column_type;
  const StoredCell& stored = decoder_->stored(i);
  if (stored.state == StoredCell::State::Absent) {
    // The engine applies a stored default to an absent column (a callback default
    // cannot be reproduced).
    if ((info.flags & kColumnHasDefault) && !(info.flags & kColumnDefaultCallback) && !info.default_value.empty()) {
      source_from_plain(as_bytes(info.default_value), info.column_type, codepage, text_[i], s);
    }
  } else if (plain(i)) {
    source_from_plain(stored.data, info.column_type, codepage, text_[i], s);
  } else if (stored.state == StoredCell::State::Present) {
    // Long values, compressed and multi-valued items: the decoder reads them; a
    // multi-valued column gives its first value.
    DecodedCell& cell = decoded_[i];
    decoder_->decode_column(i, cell);
    if (cell.size > 0 && cell.items[0].valid) {
      const DecodedValue& v = cell.items[0];
      switch (decoded_type(info.column_type)) {
        case DecodedType::Binary:
          s.kind = Source::Kind::Bytes;
          s.raw = as_bytes(v.bytes);
          break;
        case DecodedType::Text:
          s.kind = Source::Kind::Text;
          s.text = v.bytes;
          break;
        case DecodedType::Guid: {
          // Back from RFC 4122 order to the stored one (the same byte swap).
          const std::uint8_t* g = v.guid.data();
          text_[i] = std::string{static_cast<char>(g[3]), static_cast<char>(g[2]), static_cast<char>(g[1]),
                                 static_cast<char>(g[0]), static_cast<char>(g[5]), static_cast<char>(g[4]),
                                 static_cast<char>(g[7]), static_cast<char>(g[6])};
          text_[i].append(reinterpret_cast<const char*>(g) + 8, 8);
          s.kind = Source::Kind::Guid;
          s.raw = as_bytes(text_[i]);
          break;
        }
        case DecodedType::Float32: s.kind = Source::Kind::Float; s.f = v.f32; break;
        case DecodedType::Float64: s.kind = Source::Kind::Float; s.f = v.f64; break;
        case DecodedType::Timestamp:
          break;  // the stored pattern is gone once read as an OLE date
        case DecodedType::Int64:
          s.kind = Source::Kind::UInt;
          s.u = static_cast<std::uint64_t>(v.i);
          break;
        case DecodedType::Null: break;
        default:
          s.kind = Source::Kind::Int;
          s.i = v.i;
          break;
      }
    }
  }
  source_ready_[i] = 1;
  return s;
}

// Stored integers and dates without a lookup: read straight from the record's bytes,
// as most columns of a view are. Returns false to take the general route (values
// that are not plain, defaults, short data).
bool ViewReader::fill_fast(Slot& slot, std::size_t index, Cell& out) {
  const std::size_t k = static_cast<std::size_t>(slot.source);
  const StoredCell& stored = decoder_->stored(k);
  if (stored.state == StoredCell::State::Null) return true;  // null
  if (!plain(k)) return false;
  const Bytes d = stored.data;
  switch (slot.fast) {
    case Fast::None: return false;
    case Fast::U8:
      if (d.size() != 1) return false;
      out.set_int(d[0]);
      return true;
    case Fast::I16:
      if (d.size() < 2) return false;
      out.set_int(static_cast<std::int16_t>(load_u16le(d, 0)));
      return true;
    case Fast::U16:
      if (d.size() < 2) return false;
      out.set_int(load_u16le(d, 0));
      return true;
    case Fast::I32:
      if (d.size() < 4) return false;
      out.set_int(static_cast<std::int32_t>(load_u32le(d, 0)));
      return true;
    case Fast::U32:
      if (d.size() < 4) return false;
      out.set_int(load_u32le(d, 0));
      return true;
    case Fast::Raw64:
      if (d.size() < 8) return false;
      out.set_int(static_cast<std::int64_t>(load_u64le(d, 0)));
      return true;
    case Fast::Count64: {
      if (d.size() < 8) return false;
      const std::uint64_t v = load_u64le(d, 0);
      if (v > static_cast<std::uint64_t>(INT64_MAX)) {
        ++failures_[index];
        return true;
      }
      out.set_int(static_cast<std::int64_t>(v));
      return true;
    }
    case Fast::Ole: {
      if (d.size() < 8) return false;
      std::int64_t us = 0;
      if (!ole_date_to_microseconds(std::bit_cast<double>(load_u64le(d, 0)), us) ||
          (slot.def->has_range && (us < slot.def->range_min || us > slot.def->range_max))) {
        ++failures_[index];
        return true;
      }
      out.set_int(us);
      return true;
    }
  }
  return false;
}

void ViewReader::fill(std::size_t index, Cell& out) {
  Slot& slot = slots_[index];
  out.valid = false;
  out.ref = nullptr;
  if (slot.fast != Fast::None && fill_fast(slot, index, out)) return;
  static const Source kNone;
  const Source& src = slot.source >= 0 ? source(slot.source) : kNone;
  if (slot.kind == SlotKind::Raw) {
    raw_value(src, out);
    return;
  }
  Converted result = Converted::Null;
  if (slot.join) {
    if (src.kind != Source::Kind::Null) result = fill_join(slot, src, out);
  } else if (slot.tree) {
    if (src.kind != Source::Kind::Null) result = fill_tree(slot, src, out);
  } else {
    result = convert(slot.convert, slot.def, src, out);
  }
  if (result == Converted::Value && slot.def != nullptr && slot.def->has_range &&
      (slot.conv_type == OutType::Timestamp) && (out.i < slot.def->range_min || out.i > slot.def->range_max)) {
    result = Converted::Failed;
  }
  if (result != Converted::Value) {
    out.valid = false;
    if (result == Converted::Failed) ++failures_[index];
    return;
  }
  if (slot.lookup != nullptr && !slot.join) apply_lookup(slot, out);  // a join applied its lookup when loaded
}

// A join column's value: the joined row of the key, or the fallback lookup's text
// for a key the joined table lacks.
Converted ViewReader::fill_join(Slot& slot, const Source& src, Cell& out) {
  const JoinSpec& j = slot.def->join;
  const JoinEntry* entry = src.kind == Source::Kind::Int ? slot.join->find(src.i) : slot.join->find(key_text(src));
  if (entry == nullptr) {
    const auto fb = j.fallback.empty() ? nullptr : &lookups_[j.fallback];
    const std::string key = fb != nullptr ? key_text(src) : std::string();
    const auto found = fb != nullptr ? fb->find(key) : decltype(fb->end()){};
    if (fb != nullptr && found != fb->end()) {
      out.valid = true;
      out.s = found->second;
      return Converted::Value;
    }
    return Converted::Failed;
  }
  const JoinEntry& e = *entry;
  const bool wrong_type = !j.expect_types.empty() &&
                          (!e.has_type || std::find(j.expect_types.begin(), j.expect_types.end(), e.type) ==
                                              j.expect_types.end());
  // A row of another type is no match by design (a user name for an application's
  // id): null, and no failure of the conversion.
  if (wrong_type) return Converted::Null;
  if (e.failed) return Converted::Failed;
  if (e.value.valid) {
    out.valid = true;
    out.i = e.value.i;
    out.f = e.value.f;
    out.ref = &e.value.s;  // the joined row's text, not copied per row
    return Converted::Value;
  }
  if (j.has_null_text) {
    out.valid = true;
    out.s = j.null_text;
    return Converted::Value;
  }
  return Converted::Null;
}

// A tree column's value: the item's folder path and its own name.
Converted ViewReader::fill_tree(Slot& slot, const Source& src, Cell& out) {
  const auto item = slot.tree->items.find(key_text(src));
  if (item == slot.tree->items.end()) return Converted::Failed;
  const std::string* dir = tree_path(*slot.tree, item->second.first, 0);
  if (dir == nullptr) return Converted::Failed;
  out.valid = true;
  out.s = *dir + item->second.second;
  return Converted::Value;
}

// A converted value through the column's lookup table (a value it lacks stays as its
// text).
void ViewReader::apply_lookup(Slot& slot, Cell& out) {
  const bool integral = slot.conv_type == OutType::Int64;
  if (integral && slot.lookup_cache) {
    const auto cached = slot.lookup_cache->find(out.i);
    if (cached != slot.lookup_cache->end()) {
      out.s = cached->second;
      return;
    }
  }
  std::string key = cell_key_text(out, slot.conv_type);
  const auto hit = slot.lookup->find(key);
  out.s = hit != slot.lookup->end() ? hit->second : std::move(key);
  // Bounded: a column of ever new values gains nothing from the cache.
  if (integral && slot.lookup_cache && slot.lookup_cache->size() < 4096) slot.lookup_cache->emplace(out.i, out.s);
}
}  // namespace quarrow::profiles
