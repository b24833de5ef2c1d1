#include <gtest/gtest.h>

#include <cstdint>
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
