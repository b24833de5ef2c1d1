// Records as CSV (RFC 4180): one header row of column names, then one row per record,
// fields in column order, every row ended by CRLF. A field is quoted when it holds a
// comma, a double quote, CR or LF; a quote inside is doubled. Null is an empty field,
// binary data is lower-case hexadecimal, and every other value is written as the JSON
// Lines export writes it, without the JSON string quotes.
#pragma once

#include <string>
#include <string_view>

#include "record/parser.h"
#include "record/value.h"

namespace quarrow {

inline constexpr std::string_view kCsvRowEnd = "\r\n";

// Appends one field, quoted when it has to be.
void append_csv_field(std::string& out, std::string_view text);

// Appends the header row: the column names (lossy UTF-8) in the order records list them.
void append_csv_header(std::string& out, const ColumnPlan& plan);

// Appends one record's row.
void append_csv_row(std::string& out, const Record& record);

}  // namespace quarrow
