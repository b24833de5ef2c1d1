// Typed column values: a record's stored bytes decoded into the values they stand
// for, as analysis tools want them. Unlike Value (the raw reading) this turns OLE
// dates into microseconds since 1970, reads Long long and Currency as signed, orders
// GUID bytes as RFC 4122 does, splits multi-valued items into their instances and
// applies column defaults.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "database/catalog.h"
#include "database/database.h"
#include "record/long_value.h"
#include "record/parser.h"
#include "record/reader.h"

namespace quarrow {

// The logical type of a decoded column (of each instance, for multi-valued columns).
enum class DecodedType : std::uint8_t {
  Null,
  Bool,
  UInt8,
  Int16,
  UInt16,
  Int32,
  UInt32,
  Int64,
  Float32,
  Float64,
  Timestamp,  // microseconds since 1970-01-01 00:00, no time zone
  Decimal,    // Currency: a signed count of 1/10,000 units (decimal 19,4)
  Guid,       // 16 bytes in RFC 4122 order
  Binary,
  Text,       // UTF-8
};

DecodedType decoded_type(std::uint32_t column_type);

// One decoded value. Integers of every width, timestamps and currency units are in
// `i` (unsigned types are never above their width's range, so `i` holds them
// exactly); floats in f32 / f64; Binary and Text in `bytes`; a GUID in `guid`.
struct DecodedValue {
  bool valid = false;
  union {
    bool b;
    std::int64_t i;
    float f32;
    double f64;
  };
  std::array<std::uint8_t, 16> guid{};
  std::string bytes;

  DecodedValue() : i(0) {}
};

// A column of one record. A single-valued column uses items[0] when valid; a
// multi-valued column is a list of `size` instances (valid) or null (not valid).
// Items past `size` are kept only to reuse their storage.
struct DecodedCell {
  bool valid = false;
  std::size_t size = 0;
  std::vector<DecodedValue> items;

  const DecodedValue& at(std::size_t k) const { return items[k]; }
  DecodedValue& push();
  void clear() {
    valid = false;
    size = 0;
  }
};

struct DecodedColumn {
  const ColumnInfo* info = nullptr;
  DecodedType type = DecodedType::Null;
  bool list = false;  // catalog flag: multi-valued
};

// Whether an absent value of the column reads as the catalog's default: the column
// has one, and not one that only the engine's callback could compute.
bool applies_default(const ColumnInfo& info);

// The columns of a table in reading order (ascending id, as read_table gives them).
std::vector<DecodedColumn> decoded_columns(const ColumnPlan& plan);

// Decodes records of one table. Holds the long-value budget of one reading.
class RecordDecoder {
 public:
  RecordDecoder(const Database& db, const TableInfo& table, const ColumnPlan& plan);

  const std::vector<DecodedColumn>& columns() const { return columns_; }
  // One cell per column; `cells` keeps its storage from record to record.
  void decode(Bytes record_data, std::vector<DecodedCell>& cells);

  // The same in steps, for callers with a faster route for plain values: locate() a
  // record, then per column either take stored(k).data when plain(k) (a present,
  // single value stored as it is, decoded by decode_scalar_into) or decode_column().
  void locate(Bytes record_data);
  const StoredCell& stored(std::size_t k) const { return stored_[k]; }
  bool plain(std::size_t k) const;
  void decode_column(std::size_t k, DecodedCell& cell) { decode_cell(columns_[k], stored_[k], cell); }

 private:
  void decode_cell(const DecodedColumn& column, const StoredCell& stored, DecodedCell& cell);
  void decode_instance(const DecodedColumn& column, Bytes data, bool separated, bool compressed,
                       DecodedCell& cell);

  const Database* db_;
  const TableInfo* table_;
  const ColumnPlan* plan_;
  std::vector<DecodedColumn> columns_;
  std::vector<StoredCell> stored_;
  std::vector<TaggedItem> tagged_;  // locate_cells' working storage
  LongValueBudget budget_;
  std::string scratch_;
};

// OLE Automation date (days since 1899-12-30; for negative days the fraction counts
// away from zero) to microseconds since 1970; false for NaN, infinities and dates the
// 64-bit microsecond count cannot hold.
bool ole_date_to_microseconds(double days, std::int64_t& out);

// The stored 64 bits of a DateTime column to microseconds since 1970. Applications
// store two encodings there (see format/datetime.h), told apart by the value:
//   - 0 is OLE day 0 (1899-12-30);
//   - a double of magnitude 2^-20 days or more, finite, within years 100-9999, is an
//     OLE date;
//   - anything else (in particular every FILETIME of years 1601-9999, whose bits read
//     as a double are far below 2^-20) is read as an unsigned FILETIME, and is that
//     instant when it lies from 1601-01-01 to 9999-12-31;
//   - false otherwise (no date).
bool datetime_to_microseconds(std::uint64_t bits, std::int64_t& out);

// Turns one instance's plain bytes into a value of `type` and hands it to `sink`,
// which gets exactly one call: null(), boolean(b), integer(i) (every integer type,
// timestamps in microseconds, currency in 1/10,000 units), f32(x), f64(x), guid(16
// bytes in RFC 4122 order), bytes(data), or text(data, codepage) (the sink decodes
// text, drops trailing NULs, which writers leave as C string terminators, and makes
// an unsupported codepage null). Empty data is an empty binary or text value (the
// engine keeps a zero-length value apart from null) and null for every other type;
// data too short for the type, and DateTime bits that are no date, are null. A
// template so that the Arrow producer writes straight into its column buffers.
template <class Sink>
void decode_scalar_into(Bytes data, DecodedType type, std::uint32_t codepage, Sink& sink) {
  const std::size_t n = data.size();
  if (n == 0) {
    if (type == DecodedType::Binary) return sink.bytes(data);
    if (type == DecodedType::Text) return sink.text(data, codepage);
    return sink.null();
  }
  switch (type) {
    case DecodedType::Null:
      return sink.null();
    case DecodedType::Bool:
      return sink.boolean(data[0] != 0);
    case DecodedType::UInt8: {
      // The engine keeps this type at the width its writer chose; a wider value
      // that does not fit a byte has no uint8 reading.
      std::uint64_t v = 0;
      switch (n) {
        case 1: v = data[0]; break;
        case 2: v = load_u16le(data, 0); break;
        case 4: v = load_u32le(data, 0); break;
        case 8: v = load_u64le(data, 0); break;
        default: return sink.null();
      }
      return v > std::numeric_limits<std::uint8_t>::max() ? sink.null() : sink.integer(static_cast<std::int64_t>(v));
    }
    case DecodedType::Int16:
      return n < 2 ? sink.null() : sink.integer(static_cast<std::int16_t>(load_u16le(data, 0)));
    case DecodedType::UInt16:
      return n < 2 ? sink.null() : sink.integer(load_u16le(data, 0));
    case DecodedType::Int32:
      return n < 4 ? sink.null() : sink.integer(static_cast<std::int32_t>(load_u32le(data, 0)));
    case DecodedType::UInt32:
      return n < 4 ? sink.null() : sink.integer(load_u32le(data, 0));
    case DecodedType::Int64:
    case DecodedType::Decimal:
      return n < 8 ? sink.null() : sink.integer(static_cast<std::int64_t>(load_u64le(data, 0)));
    case DecodedType::Float32:
      return n < 4 ? sink.null() : sink.f32(std::bit_cast<float>(load_u32le(data, 0)));
    case DecodedType::Float64:
      return n < 8 ? sink.null() : sink.f64(std::bit_cast<double>(load_u64le(data, 0)));
    case DecodedType::Timestamp: {
      std::int64_t us = 0;
      if (n < 8 || !datetime_to_microseconds(load_u64le(data, 0), us)) return sink.null();
      return sink.integer(us);
    }
    case DecodedType::Guid: {
      if (n < kGuidSize) return sink.null();
      // Stored: three little-endian integers and eight bytes; RFC 4122 wants all of
      // them big-endian.
      std::uint8_t rfc[kGuidSize];
      for (std::size_t i = 0; i < kGuidSize; ++i) rfc[i] = data[kGuidRfcOrder[i]];
      return sink.guid(rfc);
    }
    case DecodedType::Binary:
      return sink.bytes(data);
    case DecodedType::Text:
      return sink.text(data, codepage);
  }
  sink.null();
}

// The length of UTF-8 text without its trailing NUL characters.
inline std::size_t without_trailing_nuls(const char* text, std::size_t n) {
  while (n > 0 && text[n - 1] == '\0') --n;
  return n;
}

// decode_scalar_into with a DecodedValue as the sink (Text by `codepage`, 1252 when
// the column has none).
void decode_scalar(Bytes data, DecodedType type, std::uint32_t codepage, DecodedValue& out);

}  // namespace quarrow
