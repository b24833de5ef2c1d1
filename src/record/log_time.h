// The engine's 8-byte time stamp (LOGTIME), as the database header, the log file
// headers, the log segments and the signatures keep it. It sits below both the log
// reader and the forensic readers, which both show these times.
#pragma once

#include <cstdint>
#include <string>

#include "format/bytes.h"

namespace quarrow {

// Seconds, minutes, hours, day, month (1-12), years since 1900, then a UTC bit and
// milliseconds packed into bytes 6 and 7.
struct LogTime {
  bool set = false;  // false when all eight bytes are zero
  std::uint8_t seconds = 0;
  std::uint8_t minutes = 0;
  std::uint8_t hours = 0;
  std::uint8_t day = 0;
  std::uint8_t month = 0;
  std::uint16_t year = 0;  // full year (stored value + 1900)
  bool utc = false;
  std::uint16_t milliseconds = 0;
};

LogTime parse_log_time(Bytes eight_bytes);
// "YYYY-MM-DD HH:MM:SS.mmm" with " UTC" when the UTC bit is set; "" when not set.
std::string log_time_text(const LogTime& t);
// ISO 8601 for JSON: "YYYY-MM-DDTHH:MM:SS.mmm" with "Z" when the UTC bit is set (no
// zone otherwise: a local time of an unknown zone); "" when not set.
std::string log_time_iso8601(const LogTime& t);

}  // namespace quarrow
