// Typed column values: a record's stored bytes decoded into the values they stand
// for, as analysis tools want them. Unlike Value (the raw reading) this turns OLE
// dates into microseconds since 1970, reads Long long and Currency as signed, orders
// GUID bytes as RFC 4122 does, splits multi-valued items into their instances and
// applies column defaults.
#pragma once

#include <array>
#include <cstdint>
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

// The columns of a table in reading order (ascending id, as read_table gives them).
std::vector<DecodedColumn> decoded_columns(const ColumnPlan& plan);

// Decodes records of one table. Holds the long-value budget of one reading.
class RecordDecoder {
 public:
  RecordDecoder(const Database& db, const TableInfo& table, const ColumnPlan& plan);

  const std::vector<DecodedColumn>& columns() const { return columns_; }
  // One cell per column; `cells` keeps its storage from record to record.
  void decode(Bytes record_data, std::vector<DecodedCell>& cells);

 private:
  void decode_cell(const DecodedColumn& column, const StoredCell& stored, DecodedCell& cell);
  void decode_instance(const DecodedColumn& column, Bytes data, bool separated, bool compressed,
                       DecodedCell& cell);

  const Database* db_;
  const TableInfo* table_;
  const ColumnPlan* plan_;
  std::vector<DecodedColumn> columns_;
  std::vector<StoredCell> stored_;
  LongValueBudget budget_;
  std::string scratch_;
};

// Turns one instance's plain bytes into a value of `type` (Text by `codepage`, 1252
// when the column has none). Invalid when the bytes are too short for the type, when
// the text's codepage is not supported, or for an OLE date out of timestamp range.
void decode_scalar(Bytes data, DecodedType type, std::uint32_t codepage, DecodedValue& out);

// OLE Automation date (days since 1899-12-30; for negative days the fraction counts
// away from zero) to microseconds since 1970; false for NaN, infinities and dates the
// 64-bit microsecond count cannot hold.
bool ole_date_to_microseconds(double days, std::int64_t& out);

// A table read record by record into decoded cells.
class DecodedTableReader {
 public:
  using Step = TableRecordReader::Step;

  static Result<DecodedTableReader> open(const Database& db, std::string_view table_name);

  Step next(std::vector<DecodedCell>& cells);
  const std::vector<DecodedColumn>& columns() const { return decoder_->columns(); }
  const EseError& error() const { return reader_->error(); }

 private:
  DecodedTableReader() = default;
  std::unique_ptr<TableRecordReader> reader_;
  std::unique_ptr<RecordDecoder> decoder_;
};

}  // namespace quarrow
