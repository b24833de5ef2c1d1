// The proleptic Gregorian calendar as a count of days since 1970-01-01: the common
// ground of every date the files hold (OLE dates count days from 1899-12-30, FILETIMEs
// ticks from 1601-01-01, the engine's own time stamps a year, month and day) and of
// every date the outputs print.
//
// The conversions shift the year to begin on March 1, so that the leap day is the last
// day of a year, and count whole 400-year eras (H. Hinnant's civil_from_days and
// days_from_civil). They hold for every year an int64_t count of days can reach.
#pragma once

#include <cstdint>

namespace quarrow {

// 400 Gregorian years: 97 of them leap years.
inline constexpr std::int64_t kDaysPerEra = 400 * 365 + 97;
// 0000-03-01, where the shifted calendar's era 0 begins, to 1970-01-01.
inline constexpr std::int64_t kEraStartTo1970Days = 719468;
inline constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilDate {
  std::int64_t year = 0;  // astronomical: 0 is 1 BC
  unsigned month = 0;     // 1-12
  unsigned day = 0;       // 1-31
};

inline constexpr CivilDate civil_from_days(std::int64_t days) {
  const std::int64_t z = days + kEraStartTo1970Days;
  const std::int64_t era = (z >= 0 ? z : z - (kDaysPerEra - 1)) / kDaysPerEra;
  const auto day_of_era = static_cast<unsigned>(z - era * kDaysPerEra);  // 0-146096
  // The leap days of the era so far (every 4th year, not every 100th, every 400th) are
  // taken out to find the year of the era.
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // from Mar 1
  // Months from March have 31, 30, 31, 30, 31 days in a repeating 153-day pattern.
  const unsigned month_from_march = (5 * day_of_year + 2) / 153;
  CivilDate d;
  d.day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  d.month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  d.year = static_cast<std::int64_t>(year_of_era) + era * 400 + (d.month <= 2 ? 1 : 0);
  return d;
}

// The inverse, for any month 1-12 and day 1-31; a day the month lacks ("02-30") counts
// on into the next month, which callers that validate detect by converting back.
inline constexpr std::int64_t days_from_civil(std::int64_t year, int month, int day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t year_of_era = y - era * 400;  // 0-399
  const std::int64_t day_of_year = (153 * std::int64_t{month > 2 ? month - 3 : month + 9} + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * kDaysPerEra + day_of_era - kEraStartTo1970Days;
}

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(0, 3, 1) == -kEraStartTo1970Days);

}  // namespace quarrow
