// Profiles: the DateTime pattern rule, the value conversions, the profile file reader
// (errors with their lines), that every shipped profile parses, and the release paths
// of a view's schema and dictionary-encoded batches (run under AddressSanitizer, whose
// leak check covers them).
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "export/arrow_schema.h"
#include "profiles/builtin_data.h"
#include "profiles/column_builder.h"
#include "profiles/conversions.h"
#include "profiles/profile.h"
#include "record/decoded.h"
#include "record/filetime.h"

namespace quarrow::profiles {
namespace {

constexpr std::int64_t kUs20211116 = 1637090280000000;  // 2021-11-16 19:18:00 UTC

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

TEST(DateTimePattern, ConversionsUseTheReadersRule) {
  // The datetime conversion and the typed reader read a pattern alike.
  const std::uint64_t patterns[] = {0, bits(44516.804166666667), 132815602642009395ULL, 1, bits(-0.0),
                                    bits(2958466.0), 0x7FF8000000000000ULL, 2650467743999999999ULL};
  for (std::uint64_t p : patterns) {
    Source s;
    s.kind = Source::Kind::UInt;
    s.column_type = 8;  // DateTime
    s.u = p;
    Cell out;
    std::int64_t us = 0;
    const bool date = datetime_to_microseconds(p, us);
    EXPECT_EQ(convert(Conversion::DateTime, nullptr, s, out), date ? Converted::Value : Converted::Failed) << p;
    if (date) {
      EXPECT_EQ(out.i, us) << p;
    }
  }
  std::int64_t us = 0;
  ASSERT_TRUE(filetime_to_microseconds(132815602642009395ULL, us));
  EXPECT_EQ(us, 1637086664200939);
  EXPECT_FALSE(filetime_to_microseconds(2650467743999999999ULL + 1, us));
  (void)kUs20211116;
}

TEST(Conversions, SidText) {
  const std::uint8_t system[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  EXPECT_EQ(sid_text(Bytes(system, sizeof system)), "S-1-5-18");
  EXPECT_FALSE(sid_text(Bytes(system, sizeof system - 1)));  // length must be 8 + 4n
  const std::uint8_t zero[8] = {};
  EXPECT_FALSE(sid_text(Bytes(zero, 8)));  // the zero blob is no SID
  std::uint8_t too_many[8 + 4 * 16] = {1, 16, 0, 0, 0, 0, 0, 5};
  EXPECT_FALSE(sid_text(Bytes(too_many, sizeof too_many)));
  EXPECT_EQ(sid_well_known_name("S-1-5-19"), "NT AUTHORITY\\LOCAL SERVICE");
  EXPECT_EQ(sid_well_known_name("S-1-5-5-0-195563"), "Logon session");
  EXPECT_FALSE(sid_well_known_name("S-1-5-21-1-2-3-1001"));
  EXPECT_FALSE(sid_well_known_name("S-1-5-90-0-"));
}

TEST(Conversions, IpText) {
  const std::uint8_t v4[] = {127, 0, 0, 1};
  EXPECT_EQ(ip_text(Bytes(v4, 4)), "127.0.0.1");
  std::uint8_t v6[16] = {};
  EXPECT_EQ(ip_text(Bytes(v6, 16)), "::");
  v6[15] = 1;
  EXPECT_EQ(ip_text(Bytes(v6, 16)), "::1");
  const std::uint8_t runs[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(ip_text(Bytes(runs, 16)), "2001:db8::1:0:0:1");  // the first of equal runs
  const std::uint8_t single[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  EXPECT_EQ(ip_text(Bytes(single, 16)), "2001:db8:0:1:1:1:1:1");  // one zero group stays
  EXPECT_FALSE(ip_text(Bytes(v4, 3)));
}

TEST(Conversions, FailuresAreReportedNotThrown) {
  Source s;
  s.kind = Source::Kind::UInt;
  s.column_type = 15;  // Long long
  s.u = 1ULL << 63;
  Cell out;
  EXPECT_EQ(convert(Conversion::Value, nullptr, s, out), Converted::Failed);
  s.u = 0;
  EXPECT_EQ(convert(Conversion::FileTime, nullptr, s, out), Converted::Null);
  EXPECT_EQ(convert(Conversion::DurationS, nullptr, s, out), Converted::Value);
  s.u = INT64_MAX;
  EXPECT_EQ(convert(Conversion::DurationS, nullptr, s, out), Converted::Failed);  // past int64 microseconds
  Source text;
  text.kind = Source::Kind::Text;
  text.text = "x";
  EXPECT_EQ(convert(Conversion::OleDate, nullptr, text, out), Converted::Failed);
  EXPECT_EQ(convert(Conversion::Bits, nullptr, s, out), Converted::Failed);  // no options
}

TEST(ProfileFile, ErrorsNameFileLineAndFault) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"{\"profile\": \"x\",\n \"recognize\": [[\"T\"]],\n \"views\": [{\"name\": 1}]}",
       "profile f.json, line 3: \"name\" must be a string, not an integer"},
      {"{\"profile\": \"x\",\n \"recognize\": []}", "line 2: \"recognize\" must not be empty"},
      {"[1, 2]", "line 1: a profile must be an object, not a list"},
      {"{\"profile\": \"x\", \"recognize\": [[\"T\"]], \"views\": [\n{\"name\": \"v\", \"table\": \"T\",\n"
       " \"columns\": [{\"from\": \"a\", \"convert\": \"bits\", \"shift\": 64}]}]}",
       "line 3: \"shift\" must be between 0 and 63"},
      {"{\"profile\": \"x\", \"recognize\": [[\"T\"]], \"views\": [\n{\"name\": \"v\", \"table\": \"T\",\n"
       " \"columns\": [{\"use\": \"common\"}]}]}",
       "line 3: no column set named \"common\""},
  };
  for (const auto& c : cases) {
    auto parsed = parse_profile(c.text, "f.json");
    ASSERT_FALSE(parsed) << c.text;
    EXPECT_NE(parsed.error().to_string().find(c.expected), std::string::npos) << parsed.error().to_string();
  }
}

TEST(ProfileFile, ColumnSetsAndShorthands) {
  auto parsed = parse_profile(
      "{\"profile\": \"x\", \"recognize\": [[\"T\"]],\n"
      " \"column_sets\": {\"ids\": [\"A\", {\"name\": \"B\", \"convert\": \"hex\"}]},\n"
      " \"views\": [{\"name\": \"v\", \"table\": \"T\", \"columns\": [{\"use\": \"ids\"},\n"
      "   {\"name\": \"C\", \"from\": \"c\", \"convert\": \"filetime\", \"range\": [\"2000-01-01\", \"2000-01-02T00:00:01\"],"
      " \"raw\": true}]}]}",
      "f.json");
  ASSERT_TRUE(parsed) << parsed.error().to_string();
  const ViewSpec& v = parsed->views.at(0);
  ASSERT_EQ(v.columns.size(), 3u);
  EXPECT_EQ(v.columns[0].from, "A");
  EXPECT_EQ(v.columns[1].from, "B");  // a column shown under its own name
  EXPECT_EQ(v.columns[1].convert, Conversion::Hex);
  EXPECT_EQ(v.columns[2].range_min, 946684800000000);
  EXPECT_EQ(v.columns[2].range_max - v.columns[2].range_min, 86401000000);
  EXPECT_EQ(v.columns[2].line, 4);
}

TEST(ProfileFile, EveryShippedProfileParses) {
  ASSERT_GE(kBuiltinProfileFileCount, 3u);
  for (std::size_t k = 0; k < kBuiltinProfileFileCount; ++k) {
    const BuiltinProfileFile& f = kBuiltinProfileFiles[k];
    auto parsed = parse_profile(std::string_view(f.text, f.size), f.name);
    EXPECT_TRUE(parsed) << (parsed ? "" : parsed.error().to_string());
  }
  EXPECT_EQ(builtin_profiles().size(), kBuiltinProfileFileCount);
  // A profile of a built-in's name replaces it; others go first.
  Profile mine;
  mine.name = "srum";
  const auto merged = merge_profiles({mine});
  EXPECT_EQ(merged.size(), kBuiltinProfileFileCount);
  EXPECT_EQ(merged.front().views.size(), 0u);
}

TEST(ViewSchema, FieldsMovedOutOutliveTheirStruct) {
  ArrowSchema schema{};
  arrow::fill_struct_schema({{"tsu:UTC", "TimeStamp"}, {"i", "App", "u"}, {"l", "Bytes"}}, &schema);
  EXPECT_STREQ(schema.format, "+s");
  EXPECT_EQ(schema.metadata, nullptr);
  ASSERT_EQ(schema.n_children, 3);
  for (std::int64_t k = 0; k < 3; ++k) {
    EXPECT_EQ(schema.children[k]->flags, ARROW_FLAG_NULLABLE);
    EXPECT_EQ(schema.children[k]->metadata, nullptr);
    EXPECT_EQ(schema.children[k]->dictionary != nullptr, k == 1);
  }
  ASSERT_NE(schema.children[1]->dictionary, nullptr);
  EXPECT_STREQ(schema.children[1]->dictionary->format, "u");
  // A consumer may take a field, and a field's dictionary, and release each after
  // the node that held it.
  ArrowSchema app = *schema.children[1];
  schema.children[1]->release = nullptr;
  ArrowSchema bytes = *schema.children[2];
  schema.children[2]->release = nullptr;
  schema.release(&schema);
  EXPECT_EQ(schema.release, nullptr);
  EXPECT_STREQ(app.name, "App");
  EXPECT_STREQ(app.format, "i");
  ArrowSchema values = *app.dictionary;
  app.dictionary->release = nullptr;
  app.release(&app);
  EXPECT_STREQ(values.format, "u");
  values.release(&values);
  bytes.release(&bytes);
}

// The texts of a finished dictionary-encoded batch, decoded through its dictionary.
std::vector<std::string> decoded(const ArrowArray& batch) {
  std::vector<std::string> out;
  const auto* validity = static_cast<const std::uint8_t*>(batch.buffers[0]);
  const auto* indices = static_cast<const std::int32_t*>(batch.buffers[1]);
  const ArrowArray& dictionary = *batch.dictionary;
  const auto* offsets = static_cast<const std::int32_t*>(dictionary.buffers[1]);
  const auto* data = static_cast<const char*>(dictionary.buffers[2]);
  for (std::int64_t k = 0; k < batch.length; ++k) {
    if (validity != nullptr && !(validity[k / 8] & (1u << (k % 8)))) {
      out.push_back("<null>");
      continue;
    }
    const std::int32_t at = indices[k];
    EXPECT_GE(at, 0);
    EXPECT_LT(at, dictionary.length);
    out.emplace_back(data + offsets[at], static_cast<std::size_t>(offsets[at + 1] - offsets[at]));
  }
  return out;
}

TEST(ViewDictionary, EachBatchHoldsItsOwnDistinctValues) {
  ColumnBuilder column(OutType::Text, DecodedType::Int32, true, std::make_shared<arrow::BufferPool>(), 4);
  // Values by their joined row (cached per batch) and by content, which must agree;
  // enough distinct ones to grow the lookup table past its first size.
  std::vector<DictionarySlot> rows(300);
  auto text_of = [](std::size_t k) { return "program" + std::to_string(k % 100); };
  std::vector<std::string> expected;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    column.put_text(rows[k % 150], text_of(k % 150));
    expected.push_back(text_of(k % 150));
    Cell c;
    c.valid = k % 7 != 0;
    c.s = text_of(k);
    column.append(c);
    expected.push_back(c.valid ? c.s : "<null>");
  }
  ArrowArray first{};
  column.finish(&first);
  EXPECT_EQ(first.dictionary->length, 100);  // 150 rows, 100 distinct texts
  EXPECT_EQ(decoded(first), expected);
  // The next batch starts an empty dictionary; the rows' cached indices are stale.
  column.put_text(rows[120], text_of(120));
  column.put_text(rows[3], text_of(3));
  ArrowArray second{};
  column.finish(&second, true);
  EXPECT_EQ(second.dictionary->length, 2);
  EXPECT_EQ(decoded(second), (std::vector<std::string>{text_of(120), text_of(3)}));
  // A consumer may move the dictionary out and release it after its array.
  ArrowArray values = *first.dictionary;
  first.dictionary->release = nullptr;
  first.release(&first);
  values.release(&values);
  second.release(&second);
}

}  // namespace
}  // namespace quarrow::profiles
