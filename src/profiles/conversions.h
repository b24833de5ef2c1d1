// The value conversions that profiles name, written once. Each reads one stored value
// (a Source) and writes one view value (a Cell) of a fixed type; a value it cannot
// read is reported, and the caller makes it null and counts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/bytes.h"
#include "profiles/profile.h"

namespace quarrow::profiles {

// One stored value, typed by its column. Integers of every width are in `i`, except
// Long long and DateTime, whose 64-bit patterns are in `u`; `raw` keeps the stored
// bytes of binary, text and GUID values (and of plain scalars), `text` the decoded
// UTF-8 of text columns.
struct Source {
  enum class Kind : std::uint8_t { Null, Int, UInt, Float, Bytes, Text, Guid };
  Kind kind = Kind::Null;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double f = 0;
  Bytes raw;
  std::string_view text;
  std::uint32_t column_type = 0;
};

// One view value. Bool, Int64, UInt64 (as its bit pattern), Timestamp and Duration
// (microseconds) use `i`; Float64 `f`; Text (UTF-8) and Binary `s`.
// Text and Binary values live in `s`, or, for values shared by many rows (a joined
// row's text), in the string `ref` points to, valid until the next row is read: use
// bytes().
struct Cell {
  bool valid = false;
  std::int64_t i = 0;
  double f = 0;
  std::string s;
  const std::string* ref = nullptr;
  void set_null() { valid = false; }
  void set_int(std::int64_t v) { valid = true; i = v; }
  std::string_view bytes() const { return ref != nullptr ? std::string_view(*ref) : std::string_view(s); }
};

// The type a conversion gives for a stored column type (Value depends on it).
OutType conversion_type(Conversion c, std::uint32_t column_type);
// The type of a `<name>_raw` companion: the stored value itself.
OutType raw_type(std::uint32_t column_type);

// Outcome of a conversion: a value, a null that is no failure (stored null, a zero
// FILETIME = "not set"), or a value the conversion cannot read.
enum class Converted : std::uint8_t { Value, Null, Failed };

// Applies `c` (not Join or TreePath); `def` gives the options of Bits.
Converted convert(Conversion c, const ColumnSpec* def, const Source& in, Cell& out);
// The stored value as its raw companion.
void raw_value(const Source& in, Cell& out);
// A value as a key of a join or lookup: integers in decimal, GUIDs as text, text with
// trailing NULs removed, bytes as hex.
std::string key_text(const Source& in);
std::string cell_key_text(const Cell& c, OutType t);

// The building blocks, for tests and other callers.
std::optional<std::string> sid_text(Bytes sid);
// Well-known name of a SID text ("S-1-5-18" -> "Local System"); nullopt for others.
std::optional<std::string> sid_well_known_name(std::string_view sid);
std::optional<std::string> ip_text(Bytes address);
std::string utf16_text(Bytes data);
std::string strip_trailing_nuls(std::string_view text);

}  // namespace quarrow::profiles
