#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "export/json_lines.h"

namespace quarrow {
namespace {

using K = Value::Kind;

Field field(std::string_view name, Value v) {
  Field f;
  f.name = name;
  f.value = std::move(v);
  return f;
}

Value text(std::string s) { return Value::of_bytes(K::Text, std::move(s)); }

std::string line_of(const Record& r) {
  std::string out = "garbage that must be cleared";
  record_to_json_line(r, out);
  return out;
}

// ---- whole lines: member order, duplicates, names -------------------------------

struct LineCase {
  const char* name;
  std::vector<Field> fields;
  std::string expected;
};

class RecordLine : public testing::TestWithParam<LineCase> {};

TEST_P(RecordLine, RendersExactBytes) {
  Record r;
  r.fields = GetParam().fields;
  EXPECT_EQ(line_of(r), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RecordLine,
    testing::Values(
        LineCase{"SortedByNameNotColumnOrder",
                 {field("Name", text("abc")), field("ID", Value::signed_int(K::I32, 7))},
                 R"({"ID":7,"Name":"abc"})"},
        LineCase{"UpperCaseBeforeLowerCase",
                 {field("id", Value::null()), field("Name", Value::null()), field("ID", Value::null())},
                 R"({"ID":null,"Name":null,"id":null})"},
        LineCase{"PrefixFirstAndNonAsciiLast",
                 {field("\xc3\xa9", Value::null()), field("ab", Value::null()), field("a", Value::null()),
                  field("z", Value::null())},
                 "{\"a\":null,\"ab\":null,\"z\":null,\"\xc3\xa9\":null}"},
        LineCase{"NullColumn", {field("X", Value::null())}, R"({"X":null})"},
        LineCase{"NoColumns", {}, "{}"},
        LineCase{"DuplicateNamesKeepLast",
                 {field("b", Value::null()), field("a", Value::unsigned_int(K::U8, 1)),
                  field("a", Value::unsigned_int(K::U8, 2)), field("a", Value::unsigned_int(K::U8, 3))},
                 R"({"a":3,"b":null})"},
        LineCase{"InvalidUtf8NameBecomesReplacementChar",
                 {field("n\xff", Value::boolean(true))},
                 "{\"n\xef\xbf\xbd\":true}"},
        LineCase{"NamesEqualAfterReplacementMerge",
                 {field("a\xfe", Value::unsigned_int(K::U8, 1)), field("a\xff", Value::unsigned_int(K::U8, 2))},
                 "{\"a\xef\xbf\xbd\":2}"},
        LineCase{"NameIsEscaped", {field("q\"\t", Value::null())}, R"({"q\"\t":null})"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- single values ---------------------------------------------------------------

struct ValueCase {
  const char* name;
  Value value;
  std::string expected;
};

class ValueJson : public testing::TestWithParam<ValueCase> {};

TEST_P(ValueJson, RendersExactBytes) {
  std::string out = "x";
  append_value_json(out, GetParam().value);
  EXPECT_EQ(out, "x" + GetParam().expected);  // appends, never clears
}

Value guid_0_to_15() {
  Value v;
  v.kind = K::Guid;
  for (int i = 0; i < 16; ++i) v.guid[i] = static_cast<std::uint8_t>(i);
  return v;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, ValueJson,
    testing::Values(
        ValueCase{"Null", Value::null(), "null"},
        ValueCase{"True", Value::boolean(true), "true"},
        ValueCase{"False", Value::boolean(false), "false"},
        ValueCase{"U8Zero", Value::unsigned_int(K::U8, 0), "0"},
        ValueCase{"U64Max", Value::unsigned_int(K::U64, std::numeric_limits<std::uint64_t>::max()),
                  "18446744073709551615"},
        ValueCase{"I16Min", Value::signed_int(K::I16, -32768), "-32768"},
        ValueCase{"I32Negative", Value::signed_int(K::I32, -7), "-7"},
        ValueCase{"DateTimeRaw", Value::unsigned_int(K::DateTime, 0x01D9A1B2C3D4E5F6ULL), "133315453145900534"},
        ValueCase{"CurrencyRaw", Value::unsigned_int(K::Currency, 123), "123"},
        ValueCase{"F32ExactlyWidened", Value::single(0.1f), "0.10000000149011612"},
        ValueCase{"F32NaN", Value::single(std::numeric_limits<float>::quiet_NaN()), "0"},
        ValueCase{"F64NaN", Value::dbl(std::numeric_limits<double>::quiet_NaN()), "0"},
        ValueCase{"F64MinusInf", Value::dbl(-kInf), "0"},
        ValueCase{"Guid", guid_0_to_15(), R"("03020100-0504-0706-0809-0a0b0c0d0e0f")"},
        ValueCase{"Binary", Value::of_bytes(K::Binary, std::string("\x00\xff", 2)), R"("00ff")"},
        ValueCase{"BinaryEmpty", Value::of_bytes(K::Binary, std::string()), R"("")"},
        ValueCase{"LongValueHex", Value::of_bytes(K::LongValue, std::string("\x01\xab")), R"("01ab")"},
        ValueCase{"MultiValueHex", Value::of_bytes(K::MultiValue, std::string("\x10")), R"("10")"},
        ValueCase{"TextTabAndQuote", text("a\tb\"c"), R"("a\tb\"c")"}
),
    [](const auto& info) { return std::string(info.param.name); });

// ---- string escaping ---------------------------------------------------------------

struct EscapeCase {
  const char* name;
  std::string input;
  std::string expected;
};

class JsonString : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonString, EscapesExactly) {
  std::string out;
  append_json_string(out, GetParam().input);
  EXPECT_EQ(out, "\"" + GetParam().expected + "\"");
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, JsonString,
    testing::Values(
        EscapeCase{"Empty", "", ""},
        EscapeCase{"ShortEscapes", "\b\t\n\f\r", R"(\b\t\n\f\r)"},
        EscapeCase{"QuoteAndBackslash", "\"\\", R"(\"\\)"},
        EscapeCase{"OtherControlsLowerHex", std::string("\x00\x01\x0b\x1b\x1f", 5), R"(\u0000\u0001\u000b\u001b\u001f)"},
        EscapeCase{"SolidusDelAndNonAsciiRaw", "a/b\x7f\xc3\xa9\xf0\x9f\x98\x80", "a/b\x7f\xc3\xa9\xf0\x9f\x98\x80"},
        EscapeCase{"RunsAroundEscapes", "ab\ncd\"ef", R"(ab\ncd\"ef)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Strings are scanned eight bytes at a time: each byte that needs escaping (and its
// neighbours in value, which must not) at every place of a block and across blocks,
// against a byte-by-byte escaper.
TEST(JsonString, EveryPlaceOfAWideScanMatchesBytewise) {
  auto bytewise = [](std::string_view in) {
    std::string out = "\"";
    for (const char ch : in) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == '"' || c == '\\') {
        out += '\\';
        out += ch;
      } else if (c < 0x20) {
        if (c >= 8 && c <= 13 && c != 11) {
          out += '\\';
          out += "btn?fr"[c - 8];
        } else {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        }
      } else {
        out += ch;
      }
    }
    return out + "\"";
  };
  const std::string special = std::string("\x00\x1f\x01\n\"\\", 6);
  const std::string plain = std::string("\x20!#[]\x7f\x80\xff\xe2", 10);
  for (std::size_t size : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 40u}) {
    for (std::size_t at = 0; at < size; ++at) {
      for (const char c : special + plain) {
        std::string in(size, 'a');
        in[at] = c;
        std::string out;
        append_json_string(out, in);
        ASSERT_EQ(out, bytewise(in)) << size << " " << at << " " << static_cast<int>(static_cast<unsigned char>(c));
      }
    }
  }
  std::mt19937 rng(3);
  const std::string alphabet = special + plain + "abcxyz";
  for (int k = 0; k < 2000; ++k) {
    std::string in(rng() % 64, ' ');
    for (char& c : in) c = rng() % 10 == 0 ? alphabet[rng() % alphabet.size()] : static_cast<char>('a' + rng() % 26);
    std::string out;
    append_json_string(out, in);
    ASSERT_EQ(out, bytewise(in));
  }
}

TEST(HexText, LowerCaseHighNibbleFirst) {
  const std::uint8_t data[] = {0x01, 0xab, 0x00, 0xff};
  EXPECT_EQ(hex_text(Bytes(data)), "01ab00ff");
  EXPECT_EQ(hex_text(Bytes()), "");
}

// ---- numbers -----------------------------------------------------------------------

struct NumberCase {
  const char* name;
  double x;
  std::string expected;
};

class NumberText : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberText, LaysOutShortestDigits) { EXPECT_EQ(json_number_text(GetParam().x), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Numbers, NumberText,
    testing::Values(
        NumberCase{"Zero", 0.0, "0.0"}, NumberCase{"NegativeZero", -0.0, "-0.0"},
        NumberCase{"OneTenth", 0.1, "0.1"}, NumberCase{"Three", 3.0, "3.0"},
        NumberCase{"Hundred", 100.0, "100.0"}, NumberCase{"TwelveAndHalf", -12.5, "-12.5"},
        NumberCase{"TenToFifteenPositional", 1e15, "1000000000000000.0"},
        NumberCase{"TenToSixteenExponent", 1e16, "1e+16"},
        NumberCase{"LargeIntegerExponent", 123456789012345680000.0, "1.2345678901234568e+20"},
        NumberCase{"SeventeenDigitsPositional", 123456789012345.67, "123456789012345.67"},
        NumberCase{"SmallPositional", 0.00012, "0.00012"},
        NumberCase{"TenToMinusFivePositional", 0.00001, "0.00001"},
        NumberCase{"TenToMinusSixExponent", 0.000001, "1e-6"},
        NumberCase{"SmallExponent", 0.0000012, "1.2e-6"},
        NumberCase{"SmallExponentTwo", 1.5e-7, "1.5e-7"},
        NumberCase{"MaxDouble", 1.7976931348623157e308, "1.7976931348623157e+308"},
        NumberCase{"MinSubnormal", 5e-324, "5e-324"}),
    [](const auto& info) { return std::string(info.param.name); });

// Shortest digits and exponent of x, from the library's shortest conversion.
void shortest(double x, std::string& digits, int& exponent) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const std::string s(buf, r.ptr);
  const std::size_t e = s.find('e');
  digits.clear();
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') digits.push_back(s[i]);
  exponent = std::atoi(s.c_str() + e + 1);
}

// Significant digits of a rendered number: without sign, point, exponent, leading
// zeros of "0.000ddd" and the zeros that pad an integer value.
std::string significant_digits(const std::string& t) {
  std::string d;
  for (const char c : t.substr(0, t.find('e')))
    if (c >= '0' && c <= '9') d.push_back(c);
  d.erase(0, d.find_first_not_of('0'));
  d.erase(d.find_last_not_of('0') + 1);
  return d;
}

void check_round_trip(double x) {
  const std::string t = json_number_text(x);
  ASSERT_EQ(std::strtod(t.c_str(), nullptr), x) << t;
  std::string digits;
  int exponent = 0;
  shortest(x, digits, exponent);
  ASSERT_EQ(significant_digits(t), digits) << t;
  const bool positional = exponent >= -5 && exponent <= 15;
  ASSERT_EQ(t.find('e') == std::string::npos, positional) << t;
  if (positional) {
    ASSERT_NE(t.find('.'), std::string::npos) << t;
  }
}

TEST(NumberText, RandomBitPatternsRoundTripWithShortestDigits) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    check_round_trip(x);
  }
}

// Random bit patterns rarely land near the switch between the two notations; these
// cover decimal exponents -8 to 18 densely.
TEST(NumberText, RandomValuesAroundNotationSwitchRoundTrip) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-8, 18);
  std::uniform_int_distribution<int> digits(1, 17);
  for (int i = 0; i < 100000; ++i) {
    double x = mantissa(rng) * std::pow(10.0, exponent(rng));
    // Cut to a few digits too, so that short significands and integers appear.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*e", digits(rng) - 1, (i & 1) ? -x : x);
    x = std::strtod(buf, nullptr);
    check_round_trip(x);
  }
}

// ---- the writer's reuse of its member plan ------------------------------------------

TEST(JsonLineWriter, ReplansWhenNamesChange) {
  JsonLineWriter w;
  std::string out;
  Record a;
  a.fields = {field("b", Value::unsigned_int(K::U8, 1)), field("a", Value::unsigned_int(K::U8, 2))};
  w.render(a, out);
  EXPECT_EQ(out, R"({"a":2,"b":1})");
  a.fields[0].value = Value::unsigned_int(K::U8, 9);
  w.render(a, out);
  EXPECT_EQ(out, R"({"a":2,"b":9})");

  // Same count, same total length, different names held in different storage.
  const std::string other_names = "ca";
  Record b;
  b.fields = {field(std::string_view(other_names).substr(0, 1), Value::null()),
              field(std::string_view(other_names).substr(1, 1), Value::boolean(false))};
  w.render(b, out);
  EXPECT_EQ(out, R"({"a":false,"c":null})");

  w.render(Record{}, out);
  EXPECT_EQ(out, "{}");
  w.render(a, out);
  EXPECT_EQ(out, R"({"a":2,"b":9})");
}

}  // namespace
}  // namespace quarrow
