// JSON text of decoded values (record/decoded.h), for readers of decoded records that
// want text rather than Arrow: timestamps as ISO 8601 strings, currency as an exact
// decimal number, GUIDs as their text, binary as lower-case hexadecimal, multi-valued
// columns as arrays.
#pragma once

#include <string>

#include "record/decoded.h"

namespace quarrow {

// One value of `type`: null, true/false, an integer, a number (non-finite floats are
// null), a decimal with four places ("-1.2345"), "YYYY-MM-DDTHH:MM:SS[.ffffff]" (years
// outside 0..9999 as a signed six-digit year), the GUID text, hexadecimal, or text.
void append_decoded_json(std::string& out, const DecodedValue& value, DecodedType type);

// A column of a record: its value, or an array of its instances for a multi-valued
// column (null when the list is null).
void append_decoded_json(std::string& out, const DecodedCell& cell, const DecodedColumn& column);
std::string decoded_value_to_json(const DecodedCell& cell, const DecodedColumn& column);

// Microseconds since 1970-01-01 as "YYYY-MM-DDTHH:MM:SS[.ffffff]" (no time zone).
std::string iso8601_text(std::int64_t microseconds);

}  // namespace quarrow
