#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "record/text.h"

namespace quarrow {
namespace {

using namespace std::string_literals;

const std::string kFffd = "\xEF\xBF\xBD";

struct TextCase {
  const char* name;
  std::string in;  // raw bytes
  std::uint32_t codepage;
  std::string want;  // UTF-8
};

class DecodeText : public testing::TestWithParam<TextCase> {};

TEST_P(DecodeText, Decodes) {
  const TextCase& c = GetParam();
  Result<std::string> r = decode_text(as_bytes(c.in), c.codepage);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r, c.want);
  // Appending leaves the existing contents alone.
  std::string out = "x";
  ASSERT_TRUE(decode_text_into(as_bytes(c.in), c.codepage, out));
  EXPECT_EQ(out, "x" + c.want);
  // Into a caller's buffer of exactly the promised bound, with nothing written past it.
  const std::size_t bound = decoded_text_bound(c.in.size());
  std::string buffer(bound + 16, '#');
  const std::size_t n = decode_text_to(as_bytes(c.in), c.codepage, buffer.data());
  ASSERT_LE(n, bound);
  EXPECT_EQ(buffer.substr(0, n), c.want);
  EXPECT_EQ(buffer.substr(bound), std::string(16, '#'));
}

// Long enough to take the eight-bytes-at-a-time paths before and after.
const std::string kAscii = "The quick brown fox jumps";

std::string utf16le(const std::string& ascii) {
  std::string s;
  for (char ch : ascii) s += std::string{ch, '\0'};
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Codepages, DecodeText,
    testing::Values(
        TextCase{"Cp1252Euro", "\x80" "A", 1252, "\xE2\x82\xAC" "A"},
        TextCase{"Cp20127IsWindows1252", "\x80" "A", 20127, "\xE2\x82\xAC" "A"},
        TextCase{"Cp1252UndefinedMapsToC1", "\x81\x8D\x8F\x90\x9D", 1252,
                 "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        TextCase{"Cp1252HighRange", "\x9F\xA0\xE9\xFF", 1252, "\xC5\xB8\xC2\xA0\xC3\xA9\xC3\xBF"},
        TextCase{"Cp1252AsciiRuns", kAscii + "\x92" + kAscii, 1252, kAscii + "\xE2\x80\x99" + kAscii},
        TextCase{"Utf16Ascii", utf16le(kAscii), 1200, kAscii},
        TextCase{"Utf16Mixed", utf16le(kAscii) + "\xE9\x00\xAC\x20"s + utf16le(kAscii), 1200,
                 kAscii + "\xC3\xA9\xE2\x82\xAC" + kAscii},
        TextCase{"Utf16OddLength", "A\0B"s, 1200, "A" + kFffd},
        TextCase{"Utf16Pair", "\x3D\xD8\x00\xDE"s, 1200, "\xF0\x9F\x98\x80"},
        TextCase{"Utf16HighThenAscii", "\x00\xD8" "A\0"s, 1200, kFffd + "A"},
        TextCase{"Utf16HighThenHigh", "\x00\xD8\x3D\xD8\x00\xDE"s, 1200, kFffd + "\xF0\x9F\x98\x80"},
        TextCase{"Utf16LoneLow", "\x00\xDC" "A\0"s, 1200, kFffd + "A"},
        TextCase{"Utf16HighAtEndAndOddByteIsOneFffd", "\x3D\xD8\x41", 1200, kFffd},
        TextCase{"Utf16NulKept", "A\0\0\0"s, 1200, "A\0"s},
        TextCase{"BomUtf16LeOverrides1252", "\xFF\xFE" "A\0"s, 1252, "A"},
        TextCase{"BomUtf16Be", "\xFE\xFF\0A\0\xE9\xD8\x3D\xDE\x00"s, 1252,
                 "A\xC3\xA9\xF0\x9F\x98\x80"},
        TextCase{"BomUtf16BeAsciiRun", "\xFE\xFF" + "\0a\0b\0c\0d\0e"s, 1200, "abcde"},
        TextCase{"BomUtf8Overrides1200", "\xEF\xBB\xBF\xC3\xA9", 1200, "\xC3\xA9"},
        TextCase{"Utf8Overlong", "\xEF\xBB\xBF\xE0\x80", 1252, kFffd + kFffd},
        TextCase{"Utf8Truncated", "\xEF\xBB\xBF" "a\xF0\x9F\x98", 1252, "a" + kFffd},
        TextCase{"Utf8Surrogate", "\xEF\xBB\xBF\xED\xA0\x80", 1252, kFffd + kFffd + kFffd}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

// The block-at-a-time ASCII paths (16 and 8 bytes) hand over to the per-character
// path wherever the first other character falls, and pick up again after it.
TEST(DecodeText, NonAsciiAtEveryPosition) {
  const std::string ascii = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH";  // 44
  struct Insert {
    std::string cp1252, utf16le, utf8;
  };
  const Insert inserts[] = {{"\xE9", "\xE9\x00"s, "\xC3\xA9"},
                            {"\x80", "\xAC\x20"s, "\xE2\x82\xAC"},
                            {"\x7F", "\x80\x00"s, "\x7F"},  // DEL is ASCII; U+0080 is not
                            {"\x9F", "\x3D\xD8\x00\xDE"s, "\xC5\xB8"}};
  for (std::size_t len : {0u, 7u, 8u, 15u, 16u, 17u, 33u, 44u}) {
    for (std::size_t at = 0; at <= len; ++at) {
      for (const Insert& ins : inserts) {
        const std::string head = ascii.substr(0, at), tail = ascii.substr(at, len - at);
        std::string out = "x";
        ASSERT_TRUE(decode_text_into(as_bytes(head + ins.cp1252 + tail), 1252, out));
        EXPECT_EQ(out, "x" + head + ins.utf8 + tail) << len << " " << at;
        const std::string in16 = utf16le(head) + ins.utf16le + utf16le(tail);
        std::string want16 = head;
        want16 += ins.utf16le == "\x80\x00"s ? "\xC2\x80"s
                  : ins.utf16le.size() == 4   ? "\xF0\x9F\x98\x80"s
                                              : ins.utf8;
        want16 += tail;
        std::string buffer(decoded_text_bound(in16.size()), '#');
        const std::size_t n = decode_text_to(as_bytes(in16), 1200, buffer.data());
        EXPECT_EQ(buffer.substr(0, n), want16) << len << " " << at;
        ASSERT_EQ(decode_text(as_bytes(in16), 1200).value(), want16);
      }
    }
  }
}

TEST(DecodeText, UnknownCodepageFailsEvenWithBom) {
  for (std::uint32_t cp : {0u, 65001u, 1201u, 437u}) {
    for (const std::string& in : {std::string("abc"), "\xFF\xFE" "a\0"s}) {
      Result<std::string> r = decode_text(as_bytes(in), cp);
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind(), ErrorKind::UnknownCodepage);
      EXPECT_EQ(r.error().value(0), cp);
      std::string out = "keep";
      EXPECT_FALSE(decode_text_into(as_bytes(in), cp, out));
      EXPECT_EQ(out, "keep");
      char buffer[16];
      EXPECT_EQ(decode_text_to(as_bytes(in), cp, buffer), kUnknownCodepage);
    }
  }
}

struct LossyCase {
  const char* name;
  std::string in;
  std::string want;
};

class LossyUtf8 : public testing::TestWithParam<LossyCase> {};

TEST_P(LossyUtf8, ReplacesMaximalSubparts) {
  EXPECT_EQ(lossy_utf8(as_bytes(GetParam().in)), GetParam().want);
}

const std::string kValid = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF " + kAscii;

INSTANTIATE_TEST_SUITE_P(
    Cases, LossyUtf8,
    testing::Values(
        LossyCase{"ValidUnchanged", kValid, kValid},
        LossyCase{"Empty", "", ""},
        // The worked example of the Unicode standard's "U+FFFD substitution of maximal subparts".
        LossyCase{"UnicodeExample", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                  "a" + kFffd + kFffd + kFffd + "b" + kFffd + "c" + kFffd + kFffd + "d"},
        LossyCase{"Overlong2Byte", "\xC0\xAF", kFffd + kFffd},
        LossyCase{"AboveMax", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
        LossyCase{"InvalidLeads", "\xF5\xFF" "x", kFffd + kFffd + "x"},
        LossyCase{"TruncatedAtEnd", kAscii + "\xE2\x82", kAscii + kFffd},
        LossyCase{"BreakInsideRun", "\xE2\x82" "b" + kAscii, kFffd + "b" + kAscii}),
    [](const testing::TestParamInfo<LossyCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarrow
