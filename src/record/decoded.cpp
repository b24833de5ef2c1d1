#include "record/decoded.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "format/datetime.h"
#include "record/compression.h"
#include "record/parser.h"
#include "record/text.h"

namespace quarrow {
namespace {

// Multi-valued items: u16 offsets after the flags byte (kInstanceSeparated,
// kInstanceOffsetMask). OLE dates count days from 1899-12-30 (kOleDaysBefore1970).
constexpr double kMicrosecondsPerDay = 86400.0 * 1e6;
// Doubles in [-2^63, 2^63) convert to int64 exactly.
constexpr double kInt64Bound = 9223372036854775808.0;

}  // namespace

DecodedType decoded_type(std::uint32_t column_type) {
  switch (static_cast<ColumnType>(column_type)) {
    case ColumnType::Boolean: return DecodedType::Bool;
    case ColumnType::UnsignedByte: return DecodedType::UInt8;
    case ColumnType::SignedShort: return DecodedType::Int16;
    case ColumnType::SignedLong: return DecodedType::Int32;
    case ColumnType::Currency: return DecodedType::Decimal;
    case ColumnType::SingleFloat: return DecodedType::Float32;
    case ColumnType::DoubleFloat: return DecodedType::Float64;
    case ColumnType::DateTime: return DecodedType::Timestamp;
    case ColumnType::Binary:
    case ColumnType::LongBinary: return DecodedType::Binary;
    case ColumnType::Text:
    case ColumnType::LongText: return DecodedType::Text;
    case ColumnType::UnsignedLong: return DecodedType::UInt32;
    case ColumnType::LongLong: return DecodedType::Int64;
    case ColumnType::Guid: return DecodedType::Guid;
    case ColumnType::UnsignedShort: return DecodedType::UInt16;
    default: return DecodedType::Null;  // NULL, Obsolete, Max
  }
}

DecodedValue& DecodedCell::push() {
  if (size == items.size()) items.emplace_back();
  DecodedValue& v = items[size++];
  v.valid = false;
  v.bytes.clear();
  return v;
}

bool ole_date_to_microseconds(double days, std::int64_t& out) {
  if (!std::isfinite(days)) return false;
  // -1.25 is 1899-12-29 06:00: the whole days count back, the fraction forward.
  const double whole = std::trunc(days);
  const double linear = whole + std::fabs(days - whole);
  const double us = std::round((linear - kOleDaysBefore1970) * kMicrosecondsPerDay);
  if (!(us >= -kInt64Bound && us < kInt64Bound)) return false;
  out = static_cast<std::int64_t>(us);
  return true;
}

bool datetime_to_microseconds(std::uint64_t bits, std::int64_t& out) {
  if (bits == 0) return ole_date_to_microseconds(0.0, out);
  const double days = std::bit_cast<double>(bits);
  if (std::fabs(days) >= kOleDateSmallestDays && std::isfinite(days) && days > kOleDateBelowMinDays &&
      days < kOleDateAboveMaxDays) {
    return ole_date_to_microseconds(days, out);
  }
  if (bits > kFiletimeMax) return false;
  out = static_cast<std::int64_t>(bits / kFiletimeTicksPerMicrosecond) - kFiletimeEpochTo1970Microseconds;
  return true;
}

namespace {

// Collects the one value decode_scalar_into gives.
struct ValueSink {
  DecodedValue& out;
  void null() {}
  void boolean(bool v) { out.b = v, out.valid = true; }
  void integer(std::int64_t v) { out.i = v, out.valid = true; }
  void f32(float v) { out.f32 = v, out.valid = true; }
  void f64(double v) { out.f64 = v, out.valid = true; }
  void guid(const std::uint8_t* rfc) {
    std::memcpy(out.guid.data(), rfc, kGuidSize);
    out.valid = true;
  }
  void bytes(Bytes d) {
    out.bytes.assign(reinterpret_cast<const char*>(d.data()), d.size());
    out.valid = true;
  }
  void text(Bytes d, std::uint32_t codepage) {
    out.valid = decode_text_into(d, codepage, out.bytes);
    out.bytes.resize(without_trailing_nuls(out.bytes.data(), out.bytes.size()));
  }
};

}  // namespace

void decode_scalar(Bytes data, DecodedType type, std::uint32_t codepage, DecodedValue& out) {
  out.valid = false;
  out.bytes.clear();
  ValueSink sink{out};
  decode_scalar_into(data, type, codepage, sink);
}

bool applies_default(const ColumnInfo& info) {
  return (info.flags & kColumnHasDefault) && !(info.flags & kColumnDefaultCallback) && !info.default_value.empty();
}

std::vector<DecodedColumn> decoded_columns(const ColumnPlan& plan) {
  std::vector<DecodedColumn> columns;
  columns.reserve(plan.columns.size());
  for (const ColumnPlan::Column& c : plan.columns) {
    columns.push_back(
        DecodedColumn{c.info, decoded_type(c.info->column_type), (c.info->flags & kColumnMultiValued) != 0});
  }
  return columns;
}

RecordDecoder::RecordDecoder(const Database& db, const TableInfo& table, const ColumnPlan& plan)
    : db_(&db), table_(&table), plan_(&plan), columns_(decoded_columns(plan)), budget_(long_value_budget(db)) {}

bool RecordDecoder::plain(std::size_t k) const {
  // The long-value-column flag only says the value is kept inline.
  const StoredCell& c = stored_[k];
  return c.state == StoredCell::State::Present && !columns_[k].list && (c.flags & ~kItemLongValueColumn) == 0;
}

void RecordDecoder::locate(Bytes record_data) { locate_cells(*plan_, record_data, stored_, tagged_); }

void RecordDecoder::decode(Bytes record_data, std::vector<DecodedCell>& cells) {
  locate_cells(*plan_, record_data, stored_, tagged_);
  cells.resize(columns_.size());
  for (std::size_t k = 0; k < columns_.size(); ++k) decode_cell(columns_[k], stored_[k], cells[k]);
}

void RecordDecoder::decode_instance(const DecodedColumn& column, Bytes data, bool separated, bool compressed,
                                    DecodedCell& cell) {
  const std::uint32_t codepage = column.info->codepage.value_or(kDefaultCodepage);
  DecodedValue& value = cell.push();
  if (separated) {
    // Whatever the cause, a value that cannot be read is no value here.
    Result<std::string> bytes = read_long_value(*db_, *table_, data, budget_);
    if (!bytes) return;
    decode_scalar(as_bytes(*bytes), column.type, codepage, value);
    return;
  }
  if (compressed && !data.empty()) {
    std::optional<std::string> plain = decompress(data, /*allow_legacy=*/true);
    // Undecodable compressed bytes are kept as they are for binary columns (as the
    // raw reading does); for other types they have no meaning.
    if (!plain) {
      if (column.type == DecodedType::Binary) decode_scalar(data, column.type, codepage, value);
      return;
    }
    decode_scalar(as_bytes(*plain), column.type, codepage, value);
    return;
  }
  decode_scalar(data, column.type, codepage, value);
}

void RecordDecoder::decode_cell(const DecodedColumn& column, const StoredCell& stored, DecodedCell& cell) {
  cell.clear();
  const ColumnInfo& info = *column.info;
  Bytes data = stored.data;
  std::uint8_t flags = stored.flags;
  if (stored.state == StoredCell::State::Absent) {
    // The engine applies a default only to an absent column; a callback default
    // cannot be reproduced here.
    if (!applies_default(info)) return;
    data = as_bytes(info.default_value);
    flags = 0;
  } else if (stored.state == StoredCell::State::Null) {
    return;
  }
  if (plan_->large_pages && stored.tagged && (flags & kItemNull)) return;

  const std::size_t first = cell.size;
  if (flags & kItemTwoValues) {
    // [u8 length of the first][first][second = the rest]
    if (data.empty()) return;
    const std::size_t length = data[0];
    if (1 + length > data.size()) return;
    decode_instance(column, data.subspan(1, length), false, false, cell);
    if (column.list) decode_instance(column, data.subspan(1 + length), false, false, cell);
  } else if (flags & kItemMultiValued) {
    if (data.size() < 2) return;
    const std::size_t count = (load_u16le(data, 0) & kInstanceOffsetMask) / 2;
    for (std::size_t k = 0; k < count; ++k) {
      if (!in_bounds(data, 2 * k, 2)) break;
      const std::uint16_t word = load_u16le(data, 2 * k);
      const std::size_t start = word & kInstanceOffsetMask;
      const std::size_t end =
          (k + 1 < count && in_bounds(data, 2 * (k + 1), 2)) ? (load_u16le(data, 2 * (k + 1)) & kInstanceOffsetMask)
                                                              : data.size();
      if (start > end || end > data.size()) {
        cell.push();  // offsets outside the item: a null instance, not an empty one
        if (!column.list) break;
        continue;
      }
      Bytes instance = data.subspan(start, end - start);
      // Compression covers the first instance only.
      decode_instance(column, instance, (word & kInstanceSeparated) != 0, k == 0 && (flags & kItemCompressed), cell);
      if (!column.list) break;
    }
  } else {
    decode_instance(column, data, (flags & kItemSeparated) != 0, (flags & kItemCompressed) != 0, cell);
  }
  if (column.list) {
    cell.valid = true;
  } else {
    cell.valid = cell.size > first && cell.items[first].valid;
  }
}

}  // namespace quarrow
