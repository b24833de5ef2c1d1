#include "record/log_time.h"

#include <cstdio>

#include "format/database_header.h"

namespace quarrow {

LogTime parse_log_time(Bytes b) {
  LogTime t;
  if (b.size() < kLogTimeSize) return t;
  bool any = false;
  for (std::size_t i = 0; i < kLogTimeSize; ++i) any = any || b[i] != 0;
  if (!any) return t;
  t.set = true;
  t.seconds = b[kLogTimeSecondsOffset];
  t.minutes = b[kLogTimeMinutesOffset];
  t.hours = b[kLogTimeHoursOffset];
  t.day = b[kLogTimeDayOffset];
  t.month = b[kLogTimeMonthOffset];
  t.year = static_cast<std::uint16_t>(kLogTimeYearBase + b[kLogTimeYearOffset]);
  t.utc = (b[kLogTimeFlagsOffset] & kLogTimeUtcBit) != 0;
  const unsigned low = b[kLogTimeFlagsOffset] >> kLogTimeMillisecondsShift;
  const unsigned high = (b[kLogTimeMillisecondsHighOffset] >> kLogTimeMillisecondsShift) & kLogTimeMillisecondsHighMask;
  t.milliseconds = static_cast<std::uint16_t>(low | (high << kLogTimeMillisecondsLowBits));
  return t;
}

namespace {

// The time as "YYYY-MM-DD{separator}hh:mm:ss.mmm", then `utc_mark` for a UTC time.
std::string formatted(const LogTime& t, char separator, const char* utc_mark) {
  if (!t.set) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u%c%02u:%02u:%02u.%03u%s", unsigned{t.year}, unsigned{t.month},
                unsigned{t.day}, separator, unsigned{t.hours}, unsigned{t.minutes}, unsigned{t.seconds},
                unsigned{t.milliseconds}, t.utc ? utc_mark : "");
  return buf;
}

}  // namespace

std::string log_time_text(const LogTime& t) { return formatted(t, ' ', " UTC"); }

std::string log_time_iso8601(const LogTime& t) { return formatted(t, 'T', "Z"); }

}  // namespace quarrow
