// Text of decoded (typed) values, for the command-line tool's --decoded output:
// timestamps as ISO 8601, Currency as an exact decimal with four places, GUIDs as
// text, binary data as lower-case hexadecimal, multi-valued columns as lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/decoded.h"

namespace quarrow {

// "YYYY-MM-DDTHH:MM:SS" with ".ffffff" when there are microseconds; no time zone,
// as the stored dates carry none. Years outside 0..9999 get a sign ("-0001", "+10000").
void append_iso8601(std::string& out, std::int64_t microseconds_since_1970);

// append_iso8601 for a stream of times that often share their second (a table's rows,
// a timeline's events): the text of the last second written is kept and copied rather
// than worked out again. One writer per thread.
class Iso8601Writer {
 public:
  void append(std::string& out, std::int64_t microseconds_since_1970);

 private:
  std::int64_t second_ = 0;
  bool has_second_ = false;
  std::uint8_t size_ = 0;
  char text_[32] = {};
};

// A count of 1/10,000 units as "-12.3400" (always four places).
void append_decimal4(std::string& out, std::int64_t units);

// One cell as JSON: null, a number, true/false, a string, or an array of instances.
// Non-finite floats and unreadable values are null.
void append_decoded_json(std::string& out, const DecodedColumn& column, const DecodedCell& cell);

// Renders decoded records as JSON objects with the member order of the JSON Lines
// export (names sorted by their bytes; of equal names the later column wins).
class DecodedJsonWriter {
 public:
  explicit DecodedJsonWriter(const std::vector<DecodedColumn>& columns);
  // Appends the record's object and a line feed.
  void append(std::string& out, const std::vector<DecodedCell>& cells) const;

 private:
  const std::vector<DecodedColumn>* columns_;
  std::vector<std::size_t> order_;   // column indices in member order
  std::vector<std::string> prefixes_;  // `{"name":` / `,"name":`
};

// One cell as a CSV field: empty for null, the JSON text of a list for multi-valued
// columns, otherwise the value's text (quoted as CSV needs).
void append_decoded_csv(std::string& out, const DecodedColumn& column, const DecodedCell& cell);

// One cell as plain text, for display: the value's text unquoted (binary as
// hexadecimal), the JSON text of a list for multi-valued columns. Returns false, and
// appends nothing, for null.
bool append_decoded_text(std::string& out, const DecodedColumn& column, const DecodedCell& cell);

}  // namespace quarrow
