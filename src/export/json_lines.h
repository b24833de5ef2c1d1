// JSON text of records for the JSON Lines export: one object per record, members
// sorted by name bytes, no whitespace outside strings. Everything appends into a
// caller-owned buffer so that an export renders every line into the same storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/bytes.h"
#include "record/value.h"

namespace quarrow {

// A finite double in the shortest round-trip digits: positional for decimal exponents
// -5..15 ("100.0", "0.00001", "-0.0"), otherwise d[.ddd]e±X ("1e+16", "1.5e-7").
// Non-finite input gives "0" (the caller decides; value rendering maps them to 0).
std::string json_number_text(double x);
void append_json_number(std::string& out, double x);

// The text as a JSON string: quotes, backslash escapes for '"' and '\\', \b \t \n \f \r,
// \u00xx for the other bytes below 0x20; every other byte (including '/', 0x7F and
// non-ASCII) is copied unchanged.
void append_json_string(std::string& out, std::string_view utf8);

// One column value: null, true/false, integers, numbers, or strings (GUID text,
// lower-case hexadecimal of binary data, text).
void append_value_json(std::string& out, const Value& value);

// Two lower-case hexadecimal digits per byte.
std::string hex_text(Bytes data);
void append_hex(std::string& out, std::string_view data);

// Renders records as JSON objects. The member order depends only on the column
// names, and every record of one table carries the same names in the same order, so
// the sorted order and the escaped member names are worked out once and reused for
// as long as the names stay the same.
class JsonLineWriter {
 public:
  // Clears `out` and writes the record's object, without a line feed.
  void render(const Record& record, std::string& out);

 private:
  bool same_names(const Record& record) const;
  void plan(const Record& record);

  struct Member {
    std::uint32_t field;         // index into Record::fields
    std::uint32_t prefix_begin;  // `{"name":` or `,"name":` inside prefixes_
    std::uint32_t prefix_end;
  };

  bool planned_ = false;
  std::string names_;                      // raw names of the planned record, concatenated
  std::vector<std::uint32_t> name_sizes_;  // their lengths, one per field
  std::string prefixes_;
  std::vector<Member> members_;
};

// Clears `out` and writes one record as a JSON object (no trailing line feed).
// Member names are the column names as lossy UTF-8, ordered by their bytes; of
// several members with the same name the last field wins.
void record_to_json_line(const Record& record, std::string& out);

}  // namespace quarrow
