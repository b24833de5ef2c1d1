#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "record/value.h"

namespace quarrow {
namespace {

using K = Value::Kind;

struct IntCase {
  const char* name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
  K kind;
  std::uint64_t bits;  // Value::u, or Value::i reinterpreted, or b for Bool
};

class ConvertScalar : public testing::TestWithParam<IntCase> {};

TEST_P(ConvertScalar, DecodesByTypeAndWidth) {
  const IntCase& c = GetParam();
  Result<Value> r = convert_value(Bytes(c.data), c.type, std::nullopt);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->kind, c.kind);
  switch (c.kind) {
    case K::Null: break;
    case K::Bool: EXPECT_EQ(r->b, c.bits != 0); break;
    case K::I16:
    case K::I32: EXPECT_EQ(r->i, static_cast<std::int64_t>(c.bits)); break;
    case K::Binary:
    case K::LongValue: EXPECT_EQ(r->bytes, std::string(c.data.begin(), c.data.end())); break;
    default: EXPECT_EQ(r->u, c.bits); break;
  }
}

constexpr std::uint64_t kAllOnes = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Types, ConvertScalar,
    testing::Values(
        IntCase{"EmptyIsNullForAnyType", 4, {}, K::Null, 0},
        IntCase{"BoolAnyNonZeroIsTrue", 1, {0x02}, K::Bool, 1},
        IntCase{"UnsignedByte1", 2, {0xFE}, K::U8, 0xFE},
        IntCase{"UnsignedByte2", 2, {0x34, 0x12}, K::U16, 0x1234},
        IntCase{"UnsignedByte3IsBinary", 2, {1, 2, 3}, K::Binary, 0},
        IntCase{"UnsignedByte4", 2, {0x78, 0x56, 0x34, 0x12}, K::U32, 0x12345678},
        IntCase{"UnsignedByte8", 2, {1, 0, 0, 0, 0, 0, 0, 0x80}, K::U64, 0x8000000000000001ULL},
        IntCase{"SignedShortSignExtends", 3, {0xFF, 0xFF}, K::I16, kAllOnes},
        IntCase{"SignedShortTooShort", 3, {0xFF}, K::Null, 0},
        IntCase{"SignedLongSignExtends", 4, {0xFE, 0xFF, 0xFF, 0xFF}, K::I32, kAllOnes - 1},
        IntCase{"UnsignedShortIgnoresExtra", 17, {0xFF, 0xFF, 0x01}, K::U16, 0xFFFF},
        IntCase{"UnsignedLong", 14, {0xFF, 0xFF, 0xFF, 0xFF}, K::U32, 0xFFFFFFFF},
        IntCase{"LongLongIsUnsigned", 15, std::vector<std::uint8_t>(8, 0xFF), K::U64, kAllOnes},
        IntCase{"LongLongTooShort", 15, std::vector<std::uint8_t>(7, 0xFF), K::Null, 0},
        IntCase{"Currency", 5, {1, 2, 3, 4, 5, 6, 7, 8, 9}, K::Currency, 0x0807060504030201ULL},
        IntCase{"DateTimeRaw", 8, {0, 0, 0, 0, 0, 0, 0xF0, 0x41}, K::DateTime, 0x41F0000000000000ULL},
        IntCase{"Binary", 9, {0, 1, 2}, K::Binary, 0},
        IntCase{"LongBinaryIsReference", 11, {9, 8}, K::LongValue, 0},
        IntCase{"NullType", 0, {1}, K::Null, 0},
        IntCase{"Max", 18, {1}, K::Null, 0},
        IntCase{"OutOfRangeType", 99, {1}, K::Null, 0}),
    [](const testing::TestParamInfo<IntCase>& info) { return std::string(info.param.name); });

TEST(ConvertValue, Floats) {
  const std::vector<std::uint8_t> one_f = {0x00, 0x00, 0x80, 0x3F};
  const std::vector<std::uint8_t> minus_two_d = {0, 0, 0, 0, 0, 0, 0x00, 0xC0};
  Result<Value> f = convert_value(Bytes(one_f), 6, std::nullopt);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f->kind, K::F32);
  EXPECT_EQ(f->f32, 1.0f);
  Result<Value> d = convert_value(Bytes(minus_two_d), 7, std::nullopt);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d->kind, K::F64);
  EXPECT_EQ(d->f64, -2.0);
  EXPECT_TRUE(convert_value(Bytes(one_f).first(3), 6, std::nullopt)->is_null());
  EXPECT_TRUE(convert_value(Bytes(one_f), 7, std::nullopt)->is_null());
}

TEST(ConvertValue, GuidKeepsStoredBytesAndFormats) {
  std::vector<std::uint8_t> raw(17);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 0x11);
  Result<Value> g = convert_value(Bytes(raw), 16, std::nullopt);
  ASSERT_TRUE(g.ok());
  ASSERT_EQ(g->kind, K::Guid);
  EXPECT_EQ(g->guid[0], 0x00);
  EXPECT_EQ(g->guid[15], 0xFF);
  EXPECT_EQ(guid_text(g->guid), "33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_TRUE(convert_value(Bytes(raw).first(15), 16, std::nullopt)->is_null());
}

TEST(ConvertValue, TextUsesCodepageOr1252) {
  const std::vector<std::uint8_t> euro_a = {0x80, 0x41};
  for (std::uint32_t type : {10u, 12u}) {
    Result<Value> def = convert_value(Bytes(euro_a), type, std::nullopt);
    ASSERT_TRUE(def.ok());
    EXPECT_EQ(def->kind, K::Text);
    EXPECT_EQ(def->bytes, "\xE2\x82\xAC" "A");
    Result<Value> wide = convert_value(Bytes(euro_a), type, 1200u);
    ASSERT_TRUE(wide.ok());
    EXPECT_EQ(wide->bytes, "\xE4\x86\x80");  // U+4180
    Result<Value> bad = convert_value(Bytes(euro_a), type, 0u);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind(), ErrorKind::UnknownCodepage);
    EXPECT_EQ(bad.error().value(0), 0u);
    // Empty data is Null before the codepage is looked at.
    EXPECT_TRUE(convert_value(Bytes(), type, 0u)->is_null());
  }
}

TEST(ColumnTypeName, TableEnds) {
  EXPECT_STREQ(column_type_name(0), "NULL");
  EXPECT_STREQ(column_type_name(6), "Single precision FP");
  EXPECT_STREQ(column_type_name(12), "Long Text");
  EXPECT_STREQ(column_type_name(18), "Max");
  EXPECT_EQ(column_type_name(19), nullptr);
}

}  // namespace
}  // namespace quarrow
