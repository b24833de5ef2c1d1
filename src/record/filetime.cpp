#include "record/filetime.h"

#include <bit>
#include <cmath>

#include "record/decoded.h"

namespace quarrow {

namespace {

// OLE Automation dates of 0100-01-01 00:00 and of the day after 9999-12-31.
constexpr double kOleFirstDay = -657434.0;
constexpr double kOleEndDay = 2958466.0;
// Below this magnitude (2^-20 days) a double is no OLE time anyone wrote.
constexpr double kOleSmallest = 1.0 / 1048576.0;

}  // namespace

bool filetime_to_microseconds(std::uint64_t filetime, std::int64_t& out) {
  if (filetime > kFiletimeMax) return false;
  const std::int64_t ticks = static_cast<std::int64_t>(filetime) - static_cast<std::int64_t>(kFiletimeUnixEpoch);
  // Floor division: ticks before 1970 round towards the earlier microsecond.
  std::int64_t us = ticks / 10;
  if (ticks % 10 < 0) --us;
  out = us;
  return true;
}

DateTimeReading classify_datetime_pattern(std::uint64_t pattern) {
  DateTimeReading r;
  if (pattern == 0) {
    r.encoding = DateTimeEncoding::OleDate;
    ole_date_to_microseconds(0.0, r.microseconds);
    return r;
  }
  const double days = std::bit_cast<double>(pattern);
  if (std::isfinite(days) && std::fabs(days) >= kOleSmallest && days >= kOleFirstDay && days < kOleEndDay &&
      ole_date_to_microseconds(days, r.microseconds)) {
    r.encoding = DateTimeEncoding::OleDate;
    return r;
  }
  if (filetime_to_microseconds(pattern, r.microseconds)) {
    r.encoding = DateTimeEncoding::FileTime;
    return r;
  }
  r.microseconds = 0;
  return r;
}

}  // namespace quarrow
