// Column types, decoded column values and rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/bytes.h"
#include "format/catalog.h"
#include "error/ese_error.h"

namespace quarrow {

// Display name of a type code ("Long Text", "Unsigned long", ...); nullptr above 18.
const char* column_type_name(std::uint32_t code);

inline bool is_text_type(std::uint32_t code) {
  return code == static_cast<std::uint32_t>(ColumnType::Text) ||
         code == static_cast<std::uint32_t>(ColumnType::LongText);
}

// A decoded column value. Scalars live inline; Binary, Text (UTF-8), MultiValue and
// LongValue own their bytes in `bytes`; a Guid keeps its 16 stored bytes in `guid`.
struct Value {
  enum class Kind : std::uint8_t {
    Null,
    Bool,
    U8,
    I16,
    U16,
    I32,
    U32,
    U64,
    F32,
    F64,
    DateTime,
    Currency,
    Guid,
    Binary,
    Text,
    MultiValue,
    LongValue,
  };

  Kind kind = Kind::Null;
  union {
    bool b;
    std::uint64_t u;  // U8, U16, U32, U64, DateTime, Currency
    std::int64_t i;   // I16, I32
    float f32;
    double f64;
  };
  std::array<std::uint8_t, 16> guid{};
  std::string bytes;

  Value() : u(0) {}

  static Value null() { return Value(); }
  static Value boolean(bool v) { Value x; x.kind = Kind::Bool; x.b = v; return x; }
  static Value unsigned_int(Kind k, std::uint64_t v) { Value x; x.kind = k; x.u = v; return x; }
  static Value signed_int(Kind k, std::int64_t v) { Value x; x.kind = k; x.i = v; return x; }
  static Value single(float v) { Value x; x.kind = Kind::F32; x.f32 = v; return x; }
  static Value dbl(double v) { Value x; x.kind = Kind::F64; x.f64 = v; return x; }
  static Value of_bytes(Kind k, std::string data) { Value x; x.kind = k; x.bytes = std::move(data); return x; }
  static Value of_bytes(Kind k, Bytes data) { return of_bytes(k, to_string(data)); }

  bool is_null() const { return kind == Kind::Null; }
};

// One column of a row. The name points into the catalog's ColumnInfo, which lives
// as long as the Database, so rows never copy column names.
struct Field {
  std::string_view name;
  std::uint32_t column_id = 0;
  std::uint32_t column_type = 0;
  std::optional<std::uint32_t> codepage;
  Value value;
};

// A row: one field per column of the table, in ascending column id. Column names are
// unique within a table (the catalog's map is keyed by name), so insertion order is
// the only order there is.
struct Record {
  std::vector<Field> fields;
};

// Turns one column's stored bytes into a Value by the column type. Fails only with
// UnknownCodepage (text columns). A value shorter than its type's width is Null.
Result<Value> convert_value(Bytes data, std::uint32_t column_type, std::optional<std::uint32_t> codepage);

// The 36-character lower-case text form of a GUID (first three groups byte-swapped).
std::string guid_text(const std::array<std::uint8_t, 16>& b);

}  // namespace quarrow
