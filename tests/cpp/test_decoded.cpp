// Decoded records read through DecodedTableReader and rendered as JSON text.
#include <gtest/gtest.h>

#include <map>

#include "db_builder.h"
#include "export/decoded_json.h"
#include "export/json_lines.h"
#include "record/decoded.h"

namespace quarrow::test {
namespace {

// Column name -> JSON text of the first record of a table of a real file.
std::map<std::string, std::string> first_record_json(const char* file, const char* table) {
  std::map<std::string, std::string> out;
  const std::string path = real_data_path(file);
  if (path.empty()) return out;
  auto db = Database::open(path);
  EXPECT_TRUE(db);
  auto reader = DecodedTableReader::open(**db, table);
  EXPECT_TRUE(reader);
  std::vector<DecodedCell> cells;
  EXPECT_EQ(reader->next(cells), DecodedTableReader::Step::Record);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    out[reader->columns()[k].info->name] = decoded_value_to_json(cells[k], reader->columns()[k]);
  }
  return out;
}

TEST(DecodedJson, RealFilesAsTheirAuthorsWroteThem) {
  const auto basic = first_record_json("basic.edb", "basic");
  if (basic.empty()) GTEST_SKIP() << "real files not available";
  EXPECT_EQ(basic.at("Currency"), "133713371337.1337");
  EXPECT_EQ(basic.at("DateTime"), "\"1999-03-01T00:00:00\"");
  EXPECT_EQ(basic.at("LongLong"), "-13371337");
  EXPECT_EQ(basic.at("GUID"), "\"3f360af1-6766-46dc-9af2-0dacf295c2a1\"");
  EXPECT_EQ(basic.at("Bit"), "false");

  const auto defaults = first_record_json("default.edb", "default");
  EXPECT_EQ(defaults.at("UnsignedShort"), "61453");
  EXPECT_EQ(defaults.at("Currency"), "131176846746379.0320");
  EXPECT_EQ(defaults.at("Binary"), std::string("\"") + hex_text(as_bytes(std::string_view("Short default binary"))) + "\"");

  const auto multi = first_record_json("multi.edb", "multi");
  EXPECT_EQ(multi.at("UnsignedByte"), "[0,127,255]");
  EXPECT_EQ(multi.at("Currency"), "[0.0000,-922337203685477.5807,922337203685477.5807]");
}

TEST(DecodedJson, TimestampsAcrossTheRange) {
  EXPECT_EQ(iso8601_text(0), "1970-01-01T00:00:00");
  EXPECT_EQ(iso8601_text(1678881600000001), "2023-03-15T12:00:00.000001");
  EXPECT_EQ(iso8601_text(-1), "1969-12-31T23:59:59.999999");
  std::int64_t us = 0;
  ASSERT_TRUE(ole_date_to_microseconds(-800000.0, us));  // before year 0
  EXPECT_EQ(iso8601_text(us).substr(0, 4), "-000");
}

}  // namespace
}  // namespace quarrow::test
