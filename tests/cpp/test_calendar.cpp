// The one calendar every date passes through: each day of the years 100 to 9999 (the
// OLE date range and beyond FILETIME's) converts to a date and back, and consecutive
// days are consecutive dates.
#include <gtest/gtest.h>

#include "format/calendar.h"

namespace quarrow {
namespace {

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned month_length(std::int64_t y, unsigned m) {
  static constexpr unsigned kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kLengths[m - 1];
}

TEST(Calendar, EveryDayRoundTripsAndFollowsTheDayBefore) {
  const std::int64_t first = days_from_civil(-1, 1, 1);
  const std::int64_t last = days_from_civil(10000, 12, 31);
  CivilDate previous = civil_from_days(first - 1);
  for (std::int64_t days = first; days <= last; ++days) {
    const CivilDate d = civil_from_days(days);
    ASSERT_EQ(days_from_civil(d.year, static_cast<int>(d.month), static_cast<int>(d.day)), days);
    if (previous.day < month_length(previous.year, previous.month)) {
      ASSERT_EQ(d.year, previous.year);
      ASSERT_EQ(d.month, previous.month);
      ASSERT_EQ(d.day, previous.day + 1) << days;
    } else {
      ASSERT_EQ(d.day, 1u) << days;
      ASSERT_EQ(d.month, previous.month == 12 ? 1u : previous.month + 1) << days;
      ASSERT_EQ(d.year, previous.year + (previous.month == 12 ? 1 : 0)) << days;
    }
    previous = d;
  }
}

TEST(Calendar, EpochsOfTheStoredEncodings) {
  EXPECT_EQ(days_from_civil(1899, 12, 30), -25569);  // OLE dates
  EXPECT_EQ(days_from_civil(1601, 1, 1), -134774);   // FILETIME
  EXPECT_EQ(days_from_civil(1900, 1, 1), -25567);    // the engine's time stamps count years from 1900
  // A day the month lacks counts on into the next month (callers validate by
  // converting back).
  EXPECT_EQ(days_from_civil(2021, 2, 30), days_from_civil(2021, 3, 2));
  const CivilDate far = civil_from_days(-1000000000);
  EXPECT_EQ(days_from_civil(far.year, static_cast<int>(far.month), static_cast<int>(far.day)), -1000000000);
}

}  // namespace
}  // namespace quarrow
