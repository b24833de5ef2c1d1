#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/compression.h"

namespace quarrow {
namespace {

using B = std::vector<std::uint8_t>;

std::optional<std::string> run(const B& data, bool allow_legacy = false) {
  return decompress(Bytes(data), allow_legacy);
}

// Packs 7-bit characters as the engine does: LSB-first bit stream after a header
// whose low 3 bits are (bits used in the last byte) - 1.
B pack7(std::uint8_t scheme, const std::string& text) {
  B out{0};
  std::uint32_t acc = 0;
  unsigned bits = 0;
  for (char ch : text) {
    acc |= static_cast<std::uint32_t>(ch & 0x7F) << bits;
    bits += 7;
    while (bits >= 8) {
      out.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  unsigned last = 8;
  if (bits > 0) {
    out.push_back(static_cast<std::uint8_t>(acc));
    last = bits;
  }
  out[0] = static_cast<std::uint8_t>(scheme | (last - 1));
  return out;
}

TEST(SevenBit, EveryLastByteBitCount) {
  // 1..8 characters use 7, 6, 5, 4, 3, 2, 1 and 8 bits of their last byte.
  const std::string text = "Ese-Text";
  const unsigned want_low3[] = {6, 5, 4, 3, 2, 1, 0, 7};
  for (std::size_t n = 1; n <= text.size(); ++n) {
    const std::string part = text.substr(0, n);
    const B ascii = pack7(kCompress7BitAscii, part);
    EXPECT_EQ(ascii[0] & 7u, want_low3[n - 1]) << n;
    EXPECT_EQ(run(ascii), part) << n;
    std::string wide;
    for (char ch : part) wide += std::string{ch, '\0'};
    EXPECT_EQ(run(pack7(kCompress7BitUnicode, part)), wide) << n;
  }
}

TEST(SevenBit, FixedVectors) {
  EXPECT_EQ(run({0x10, 0x41, 0x00}), std::string("A\0", 2));
  EXPECT_EQ(run({0x08}), "");
  // Legacy rule: every complete group of 7 bits, low bits of the header unused.
  EXPECT_EQ(run({0x00, 0x41, 0x00}, true), std::string("A\0", 2));
  EXPECT_EQ(run({0x07, 0xC1, 0x7F}, true), std::string("A\x7F", 2));
  EXPECT_EQ(run({0x00, 0x41, 0x00}, false), std::nullopt);
  EXPECT_EQ(unpack_7bit_legacy(Bytes(B{0x00})), "");
  EXPECT_EQ(unpack_7bit_legacy(Bytes(B(8, 0xFF))), std::string(8, '\x7F'));
}

struct StreamCase {
  const char* name;
  B data;
  std::optional<std::string> want;
};

std::string rep(const std::string& unit, std::size_t total) {
  std::string s;
  while (s.size() < total) s += unit;
  return s.substr(0, total);
}

class Streams : public testing::TestWithParam<StreamCase> {};

TEST_P(Streams, Decode) { EXPECT_EQ(run(GetParam().data), GetParam().want); }

// XPRESS: 0x18, size, then flag words (bit 31 first; 1 = match) and data.
// LZ4: 0x38, size, then a block.
INSTANTIATE_TEST_SUITE_P(
    Cases, Streams,
    testing::Values(
        StreamCase{"XpressLiterals", {0x18, 3, 0, 0, 0, 0, 0, 'a', 'b', 'c'}, "abc"},
        StreamCase{"XpressOverlap", {0x18, 10, 0, 0, 0, 0, 0x40, 'a', 0x06, 0x00}, std::string(10, 'a')},
        StreamCase{"XpressTrailingEndFlag", {0x18, 2, 0, 0, 0, 0, 0x3F, 'h', 'i'}, "hi"},
        // Two long matches share one length byte: low nibble 2 (12), high nibble 10 (20).
        StreamCase{"XpressSharedNibble",
                   {0x18, 34, 0, 0, 0, 0, 0x30, 'a', 'b', 0x0F, 0x00, 0xA2, 0x0F, 0x00}, rep("ab", 34)},
        StreamCase{"XpressByteLength", {0x18, 101, 0, 0, 0, 0, 0x40, 'x', 0x07, 0x00, 0x0F, 75},
                   std::string(101, 'x')},
        StreamCase{"XpressWordLength", {0x18, 0x2D, 0x01, 0, 0, 0, 0x40, 'y', 0x07, 0x00, 0x0F, 0xFF, 0x29, 0x01},
                   std::string(301, 'y')},
        StreamCase{"XpressDwordLength",
                   {0x18, 0xE9, 0x03, 0, 0, 0, 0x40, 'z', 0x07, 0x00, 0x0F, 0xFF, 0, 0, 0xE5, 0x03, 0, 0},
                   std::string(1001, 'z')},
        StreamCase{"XpressShortWordLength", {0x18, 30, 0, 0, 0, 0, 0x40, 'y', 0x07, 0x00, 0x0F, 0xFF, 21, 0},
                   std::nullopt},
        StreamCase{"XpressTruncated", {0x18, 5, 0, 0, 0, 0, 0, 'a', 'b', 'c'}, std::nullopt},
        StreamCase{"XpressOffsetBeforeStart", {0x18, 10, 0, 0, 0, 0, 0x40, 'a', 0x0E, 0x00}, std::nullopt},
        StreamCase{"XpressMatchPastSize", {0x18, 5, 0, 0, 0, 0, 0x40, 'a', 0x06, 0x00}, std::nullopt},
        StreamCase{"XpressNoSize", {0x18, 3}, std::nullopt},
        StreamCase{"Lz4Literals", {0x38, 5, 0, 0x50, 'h', 'e', 'l', 'l', 'o'}, "hello"},
        StreamCase{"Lz4Overlap", {0x38, 11, 0, 0x24, 'a', 'b', 0x02, 0x00, 0x10, '!'}, rep("ab", 10) + "!"},
        StreamCase{"Lz4EmptyBlock", {0x38, 0, 0, 0x00}, ""},
        StreamCase{"Lz4OffsetZero", {0x38, 6, 0, 0x10, 'a', 0x00, 0x00, 0x00}, std::nullopt},
        StreamCase{"Lz4OffsetBeforeStart", {0x38, 6, 0, 0x11, 'a', 0x02, 0x00, 0x00}, std::nullopt},
        StreamCase{"Lz4TruncatedLiterals", {0x38, 5, 0, 0x50, 'h', 'e'}, std::nullopt},
        StreamCase{"Lz4SizeTooLarge", {0x38, 6, 0, 0x50, 'h', 'e', 'l', 'l', 'o'}, std::nullopt},
        StreamCase{"Lz4SizeTooSmall", {0x38, 4, 0, 0x50, 'h', 'e', 'l', 'l', 'o'}, std::nullopt},
        StreamCase{"Lz4OnlyOffsetByte", {0x38, 1, 0, 0x10, 'a', 0x01}, std::nullopt},
        StreamCase{"Xpress9Unsupported", {0x28, 1, 0, 0}, std::nullopt},
        StreamCase{"Xpress10Unsupported", {0x30, 1, 0, 0}, std::nullopt},
        StreamCase{"UnknownScheme", {0xF8, 1, 0, 0}, std::nullopt},
        StreamCase{"Empty", {}, std::nullopt}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST(Xpress, SecondFlagWord) {
  // 40 literals need a second flag word after the first 32.
  B data{0x18, 40, 0, 0, 0, 0, 0};
  std::string want;
  for (int i = 0; i < 40; ++i) {
    if (i == 32) data.insert(data.end(), {0, 0, 0, 0});
    data.push_back(static_cast<std::uint8_t>('A' + i % 26));
    want.push_back(static_cast<char>('A' + i % 26));
  }
  EXPECT_EQ(run(data), want);
  data.erase(data.end() - 9, data.end());  // cut into the second flag word's literals
  EXPECT_EQ(run(data), std::nullopt);
}

TEST(Lz4, LengthExtensions) {
  // 20 literals (15 + 5), then a 284-byte match (4 + 15 + 255 + 10) at offset 3,
  // then an empty final sequence.
  B data{0x38, 0x30, 0x01, 0xFF, 5};
  std::string want;
  for (int i = 0; i < 20; ++i) {
    data.push_back(static_cast<std::uint8_t>('a' + i));
    want.push_back(static_cast<char>('a' + i));
  }
  data.insert(data.end(), {0x03, 0x00, 0xFF, 10, 0x00});
  for (int i = 0; i < 284; ++i) want.push_back(want[want.size() - 3]);
  ASSERT_EQ(want.size(), 0x130u);
  EXPECT_EQ(run(data), want);
  data[1] = 0x2F;  // declared one byte short: the match would overrun it
  EXPECT_EQ(run(data), std::nullopt);
}

}  // namespace
}  // namespace quarrow
