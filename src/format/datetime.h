// Date encodings stored in DateTime columns.
//
// The engine's DateTime is an OLE Automation date: a double counting days since
// 1899-12-30. Some applications (User Access Logging, certificate services) store a
// FILETIME in such columns instead: an unsigned 64-bit count of 100 ns ticks since
// 1601-01-01 UTC.
#pragma once

#include <cstdint>

#include "format/calendar.h"

namespace quarrow {

// OLE dates of years 100 to 9999 lie strictly between these two day counts (for
// negative days the fraction counts away from zero: -657434.5 is 0100-01-01 12:00).
inline constexpr double kOleDateBelowMinDays = -657435.0;
inline constexpr double kOleDateAboveMaxDays = 2958466.0;  // 10000-01-01
// Below this magnitude (in days, about 82 ms) a double is no date anyone stored: the
// bit patterns of FILETIMEs read as doubles are all far smaller.
inline constexpr double kOleDateSmallestDays = 1.0 / (1 << 20);

inline constexpr std::uint64_t kFiletimeTicksPerMicrosecond = 10;
// 1601-01-01 to 1970-01-01 in microseconds.
inline constexpr std::int64_t kFiletimeEpochTo1970Microseconds = 11644473600000000;
static_assert(kFiletimeEpochTo1970Microseconds == -days_from_civil(1601, 1, 1) * kSecondsPerDay * 1000000);
// The last FILETIME tick of 9999-12-31.
inline constexpr std::uint64_t kFiletimeMax = 2650467743999999999ull;

}  // namespace quarrow
