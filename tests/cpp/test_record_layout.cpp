// The variable-offset array, read once for table records, catalog rows and recovery:
// what each kind of damage yields, and the catalog's count against the records'.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "format/record.h"

namespace quarrow {
namespace {

// A record with F = 0, the given L, V = 4, the words and then `data`.
std::vector<std::uint8_t> record(std::uint8_t last_variable, std::vector<std::uint16_t> words, std::string data) {
  std::vector<std::uint8_t> r = {0, last_variable, 4, 0};
  for (const std::uint16_t w : words) {
    r.push_back(static_cast<std::uint8_t>(w));
    r.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

struct ValueCase {
  const char* what;
  std::uint8_t last_variable;
  std::vector<std::uint16_t> words;
  std::string data;
  std::vector<std::optional<std::string>> values;  // for k = 0, 1, 2
};

TEST(VariableOffsets, EachKindOfDamageEndsOnlyItsOwnValue) {
  const std::optional<std::string> none;
  const std::vector<ValueCase> cases = {
      {"plain", 130, {2, 2, 5}, "abcde", {"ab", "", "cde"}},
      {"null in the middle", 130, {2, 0x8002, 5}, "abcde", {"ab", none, "cde"}},
      // After a null, the next value starts at the null's end offset (its bit masked).
      {"null with an end", 130, {2, 0x8004, 5}, "abcde", {"ab", none, "e"}},
      {"end before start", 130, {3, 1, 5}, "abcde", {"abc", none, "bcde"}},
      {"past the record", 130, {2, 9, 5}, "abcde", {"ab", none, none}},
      {"fewer columns", 128, {2}, "ab", {"ab", none, none}},
      {"no variable column", 127, {}, "", {none, none, none}},
      {"words cut off", 130, {2}, "", {none, none, none}},
  };
  for (const ValueCase& c : cases) {
    const std::vector<std::uint8_t> r = record(c.last_variable, c.words, c.data);
    const Bytes bytes(r);
    const VariableOffsets v = VariableOffsets::of_record(bytes, read_record_header(bytes));
    for (std::size_t k = 0; k < c.values.size(); ++k) {
      const std::optional<Bytes> got = v.value(k);
      ASSERT_EQ(got.has_value(), c.values[k].has_value()) << c.what << " k=" << k;
      if (got) {
        EXPECT_EQ(to_string(*got), *c.values[k]) << c.what << " k=" << k;
      }
    }
  }
}

TEST(VariableOffsets, HeaderAndCountsOfRecordsAndCatalogRows) {
  // Shorter than a header: all zeros, so nothing variable and the offsets at 0.
  const std::uint8_t short_record[] = {5, 130, 9};
  const RecordHeader h = read_record_header(Bytes(short_record));
  EXPECT_EQ(h.last_fixed, 0u);
  EXPECT_EQ(h.last_variable, 0u);
  EXPECT_EQ(h.variable_offsets, 0u);

  // L = 5 is damage: a table record has no variable column, a catalog row reads five
  // words; the values start after the words counted.
  const std::vector<std::uint8_t> r = record(5, {1, 2, 3, 4, 5}, "abcde");
  const Bytes bytes(r);
  EXPECT_EQ(VariableOffsets::of_record(bytes, read_record_header(bytes)).data_start(), 4u);
  const VariableOffsets row = VariableOffsets::of_catalog_row(bytes);
  EXPECT_EQ(row.count(), 5u);
  EXPECT_EQ(row.data_start(), 14u);
  EXPECT_EQ(to_string(*row.value(4)), "e");
  EXPECT_TRUE(row.word_fits(4));
  EXPECT_FALSE(row.word_fits(8));
}

}  // namespace
}  // namespace quarrow
