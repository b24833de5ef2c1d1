#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <limits>
#include <string>

#include "export/decoded_text.h"

namespace quarrow {
namespace {

std::string iso(std::int64_t us) {
  std::string s;
  append_iso8601(s, us);
  return s;
}

std::string dec(std::int64_t units) {
  std::string s;
  append_decimal4(s, units);
  return s;
}

TEST(DecodedText, Iso8601AcrossEpochAndCalendarEdges) {
  constexpr std::int64_t kDay = 86400LL * 1000000;
  EXPECT_EQ(iso(0), "1970-01-01T00:00:00");
  EXPECT_EQ(iso(-1), "1969-12-31T23:59:59.999999");
  EXPECT_EQ(iso(1500000), "1970-01-01T00:00:01.500000");
  EXPECT_EQ(iso(11016 * kDay), "2000-02-29T00:00:00");              // leap day of a 400-year
  EXPECT_EQ(iso(-25508 * kDay), "1900-03-01T00:00:00");             // 1900 has no Feb 29
  EXPECT_EQ(iso(-719528 * kDay), "0000-01-01T00:00:00");
  EXPECT_EQ(iso(-719529 * kDay), "-0001-12-31T00:00:00");
  EXPECT_EQ(iso(2932897 * kDay), "+10000-01-01T00:00:00");
  EXPECT_EQ(iso(std::numeric_limits<std::int64_t>::min()).substr(0, 7), "-290308");
}

// The printf form the ISO text had before it was written by hand: the oracle below.
std::string iso_printf(std::int64_t us) {
  std::int64_t seconds = us / 1000000, micros = us % 1000000;
  if (micros < 0) micros += 1000000, --seconds;
  std::int64_t days = seconds / 86400, sod = seconds % 86400;
  if (sod < 0) sod += 86400, --days;
  // Days to a civil date (proleptic Gregorian).
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buf[80];
  int n = std::snprintf(buf, sizeof buf, year < 0 ? "-%04lld" : year > 9999 ? "+%lld" : "%04lld",
                        static_cast<long long>(year < 0 ? -year : year));
  n += std::snprintf(buf + n, sizeof buf - n, "-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(month),
                     static_cast<long long>(day), static_cast<long long>(sod / 3600),
                     static_cast<long long>(sod / 60 % 60), static_cast<long long>(sod % 60));
  if (micros != 0) n += std::snprintf(buf + n, sizeof buf - n, ".%06lld", static_cast<long long>(micros));
  return std::string(buf, static_cast<std::size_t>(n));
}

class Iso8601Edges : public ::testing::TestWithParam<std::pair<std::int64_t, const char*>> {};

// The plain and the caching writer give the same text, whatever the writer saw before.
TEST_P(Iso8601Edges, PlainAndCachedAgree) {
  const auto [us, expected] = GetParam();
  EXPECT_EQ(iso(us), expected);
  Iso8601Writer writer;
  for (std::int64_t before : {us, us - 1, us + 1, us - 1000000, std::int64_t{0}}) {
    std::string warm, out;
    writer.append(warm, before);
    writer.append(out, us);
    EXPECT_EQ(out, expected) << "after " << before;
  }
}

constexpr std::int64_t kUsPerDay = 86400LL * 1000000;
INSTANTIATE_TEST_SUITE_P(
    DecodedText, Iso8601Edges,
    ::testing::Values(std::pair<std::int64_t, const char*>{0, "1970-01-01T00:00:00"},
                      std::pair<std::int64_t, const char*>{-1, "1969-12-31T23:59:59.999999"},
                      std::pair<std::int64_t, const char*>{-1000000, "1969-12-31T23:59:59"},
                      std::pair<std::int64_t, const char*>{-999999, "1969-12-31T23:59:59.000001"},
                      std::pair<std::int64_t, const char*>{1, "1970-01-01T00:00:00.000001"},
                      std::pair<std::int64_t, const char*>{10, "1970-01-01T00:00:00.000010"},
                      std::pair<std::int64_t, const char*>{11016 * kUsPerDay - 1, "2000-02-28T23:59:59.999999"},
                      std::pair<std::int64_t, const char*>{11016 * kUsPerDay, "2000-02-29T00:00:00"},
                      std::pair<std::int64_t, const char*>{11017 * kUsPerDay, "2000-03-01T00:00:00"},
                      std::pair<std::int64_t, const char*>{19416 * kUsPerDay + 86399000000, "2023-02-28T23:59:59"},
                      std::pair<std::int64_t, const char*>{-25508 * kUsPerDay, "1900-03-01T00:00:00"},
                      std::pair<std::int64_t, const char*>{253402300799999999, "9999-12-31T23:59:59.999999"},
                      std::pair<std::int64_t, const char*>{253402300800000000, "+10000-01-01T00:00:00"},
                      std::pair<std::int64_t, const char*>{-62135596800000000, "0001-01-01T00:00:00"},
                      std::pair<std::int64_t, const char*>{-719529 * kUsPerDay + 1, "-0001-12-31T00:00:00.000001"},
                      std::pair<std::int64_t, const char*>{-1095000 * kUsPerDay, "-1029-12-29T00:00:00"}));

TEST(DecodedText, Iso8601MatchesPrintfOverRandomTimes) {
  std::mt19937_64 rng(7);
  Iso8601Writer writer;
  std::int64_t t = -(std::int64_t{1} << 60);
  for (int k = 0; k < 20000; ++k) {
    // Mostly small steps (the cache's case), now and then a jump anywhere.
    if (k % 50 == 0) t = static_cast<std::int64_t>(rng()) >> (rng() % 8);
    else t += static_cast<std::int64_t>(rng() % 3000000) - 1000000;
    std::string cached;
    writer.append(cached, t);
    ASSERT_EQ(iso(t), iso_printf(t)) << t;
    ASSERT_EQ(cached, iso_printf(t)) << t;
  }
}

TEST(DecodedText, CurrencyKeepsFourExactPlaces) {
  EXPECT_EQ(dec(0), "0.0000");
  EXPECT_EQ(dec(1), "0.0001");
  EXPECT_EQ(dec(-1), "-0.0001");
  EXPECT_EQ(dec(1337133713371337), "133713371337.1337");
  EXPECT_EQ(dec(std::numeric_limits<std::int64_t>::max()), "922337203685477.5807");
  EXPECT_EQ(dec(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
}

}  // namespace
}  // namespace quarrow
