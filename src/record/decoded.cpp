#include "record/decoded.h"

#include <bit>
#include <cmath>

#include "record/compression.h"
#include "record/text.h"

namespace quarrow {
namespace {

// Flags byte of a tagged item.
constexpr std::uint8_t kItemCompressed = 0x02;
constexpr std::uint8_t kItemSeparated = 0x04;
constexpr std::uint8_t kItemMultiValued = 0x08;
constexpr std::uint8_t kItemTwoValues = 0x10;
constexpr std::uint8_t kItemNull = 0x20;  // large-page layout only

// Multi-valued items: u16 offsets after the flags byte; bit 15 marks a separated
// instance (its bytes are a long-value id), the low 15 bits are the offset.
constexpr std::uint16_t kInstanceSeparated = 0x8000;
constexpr std::uint16_t kInstanceOffsetMask = 0x7FFF;

// 1899-12-30 (day 0 of OLE dates) to 1970-01-01.
constexpr double kOleDaysBefore1970 = 25569.0;
constexpr double kMicrosecondsPerDay = 86400.0 * 1e6;
// Doubles in [-2^63, 2^63) convert to int64 exactly.
constexpr double kInt64Bound = 9223372036854775808.0;

constexpr std::uint32_t kDefaultCodepage = 1252;

std::uint64_t load_width(Bytes d, std::size_t width) {
  switch (width) {
    case 1: return d[0];
    case 2: return load_u16le(d, 0);
    case 4: return load_u32le(d, 0);
    default: return load_u64le(d, 0);
  }
}

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

void decode_scalar(Bytes data, DecodedType type, std::uint32_t codepage, DecodedValue& out) {
  out.valid = false;
  out.bytes.clear();
  // Empty data is null for every type, as in the raw reading.
  if (data.empty()) return;
  const std::size_t n = data.size();
  switch (type) {
    case DecodedType::Null:
      return;
    case DecodedType::Bool:
      out.b = data[0] != 0;
      break;
    case DecodedType::UInt8:
      // The engine keeps this type at the width its writer chose; a wider value
      // that does not fit a byte has no uint8 reading.
      if (n != 1 && n != 2 && n != 4 && n != 8) return;
      out.i = static_cast<std::int64_t>(load_width(data, n));
      if (static_cast<std::uint64_t>(out.i) > 0xFF) return;
      break;
    case DecodedType::Int16:
      if (n < 2) return;
      out.i = static_cast<std::int16_t>(load_u16le(data, 0));
      break;
    case DecodedType::UInt16:
      if (n < 2) return;
      out.i = load_u16le(data, 0);
      break;
    case DecodedType::Int32:
      if (n < 4) return;
      out.i = static_cast<std::int32_t>(load_u32le(data, 0));
      break;
    case DecodedType::UInt32:
      if (n < 4) return;
      out.i = load_u32le(data, 0);
      break;
    case DecodedType::Int64:
    case DecodedType::Decimal:
      if (n < 8) return;
      out.i = static_cast<std::int64_t>(load_u64le(data, 0));
      break;
    case DecodedType::Float32:
      if (n < 4) return;
      out.f32 = std::bit_cast<float>(load_u32le(data, 0));
      break;
    case DecodedType::Float64:
      if (n < 8) return;
      out.f64 = std::bit_cast<double>(load_u64le(data, 0));
      break;
    case DecodedType::Timestamp:
      if (n < 8 || !ole_date_to_microseconds(std::bit_cast<double>(load_u64le(data, 0)), out.i)) return;
      break;
    case DecodedType::Guid: {
      if (n < 16) return;
      // Stored: three little-endian integers and eight bytes; RFC 4122 wants all of
      // them big-endian.
      static constexpr std::uint8_t kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      for (std::size_t k = 0; k < 16; ++k) out.guid[k] = data[kOrder[k]];
      break;
    }
    case DecodedType::Binary:
      out.bytes.assign(reinterpret_cast<const char*>(data.data()), n);
      break;
    case DecodedType::Text:
      if (!decode_text_into(data, codepage, out.bytes)) return;
      break;
  }
  out.valid = true;
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

void RecordDecoder::decode(Bytes record_data, std::vector<DecodedCell>& cells) {
  locate_cells(*plan_, record_data, stored_);
  cells.resize(columns_.size());
  for (std::size_t k = 0; k < columns_.size(); ++k) decode_cell(columns_[k], stored_[k], cells[k]);
}

void RecordDecoder::decode_instance(const DecodedColumn& column, Bytes data, bool separated, bool compressed,
                                    DecodedCell& cell) {
  const std::uint32_t codepage = column.info->codepage.value_or(kDefaultCodepage);
  DecodedValue& value = cell.push();
  if (separated) {
    std::optional<std::string> bytes = read_long_value(*db_, *table_, data, budget_);
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
    if (!(info.flags & kColumnHasDefault) || (info.flags & kColumnDefaultCallback) || info.default_value.empty()) {
      return;
    }
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
      Bytes instance = (start <= end && end <= data.size()) ? data.subspan(start, end - start) : Bytes();
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

Result<DecodedTableReader> DecodedTableReader::open(const Database& db, std::string_view table_name) {
  auto opened = open_table_reader(db, table_name);
  if (!opened) return std::move(opened).error();
  DecodedTableReader reader;
  reader.reader_ = std::make_unique<TableRecordReader>(std::move(opened).value());
  reader.decoder_ = std::make_unique<RecordDecoder>(db, reader.reader_->table(), reader.reader_->plan());
  return reader;
}

DecodedTableReader::Step DecodedTableReader::next(std::vector<DecodedCell>& cells) {
  Bytes data;
  const Step step = reader_->next_data(data);
  if (step == Step::Record) decoder_->decode(data, cells);
  return step;
}

}  // namespace quarrow
