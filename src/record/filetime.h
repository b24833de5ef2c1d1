// The two 64-bit time encodings of ESE applications and how to tell them apart.
//
// A DateTime column holds 8 bytes whose meaning the application chooses: most write an
// OLE Automation date (an IEEE-754 double counting days since 1899-12-30, the fraction
// being the time of day), others (User Access Logging, certificate services) a
// FILETIME (an unsigned count of 100-ns intervals since 1601-01-01 UTC). For plausible
// years the two never overlap as bit patterns: a FILETIME of any year up to 9999 read
// as a double is a tiny positive number far below a microsecond of an OLE day.
#pragma once

#include <cstdint>

namespace quarrow {

// FILETIME ticks (100 ns) between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kFiletimeUnixEpoch = 116444736000000000ULL;
// The last FILETIME tick of 9999-12-31 UTC: later values are no calendar date.
inline constexpr std::uint64_t kFiletimeMax = 2650467743999999999ULL;

// FILETIME to microseconds since 1970 (floor, so that times before 1970 stay in
// order); false above kFiletimeMax. 0 is a valid 1601-01-01 here: callers that read
// 0 as "not set" test for it themselves.
bool filetime_to_microseconds(std::uint64_t filetime, std::int64_t& out);

// What an 8-byte DateTime pattern holds.
enum class DateTimeEncoding : std::uint8_t { OleDate, FileTime, Invalid };

struct DateTimeReading {
  DateTimeEncoding encoding = DateTimeEncoding::Invalid;
  std::int64_t microseconds = 0;  // since 1970-01-01 00:00 UTC when not Invalid
};

// The reading rule for a DateTime pattern of unknown encoding:
// - all-zero bytes are OLE day 0 (1899-12-30 00:00), the engine's "zero date";
// - another pattern whose double has a magnitude below 2^-20 days (about 82 ms) is
//   not an OLE date: no writer stores such a time, and every FILETIME of years up to
//   9999 lands there;
// - a finite double within the OLE range (years 100 to 9999) is an OLE date;
// - otherwise the pattern is an unsigned FILETIME, valid from 1601-01-01 to
//   9999-12-31 UTC;
// - anything else (NaN, infinities, huge doubles past 9999) is Invalid.
DateTimeReading classify_datetime_pattern(std::uint64_t pattern);

}  // namespace quarrow
