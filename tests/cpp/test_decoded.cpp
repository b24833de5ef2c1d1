// Decoded records read through the table reader and the record decoder, rendered by
// the renderer the tool's --decoded output uses.
#include <gtest/gtest.h>

#include <map>

#include "db_builder.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "record/decoded.h"
#include "record/reader.h"

namespace quarrow::test {
namespace {

// Column name -> JSON text of the first record of a table of a real file.
std::map<std::string, std::string> first_record_json(const char* file, const char* table) {
  std::map<std::string, std::string> out;
  const std::string path = real_data_path(file);
  if (path.empty()) return out;
  auto db = Database::open(path);
  EXPECT_TRUE(db);
  auto reader = open_table_reader(**db, table);
  EXPECT_TRUE(reader);
  RecordDecoder decoder(**db, reader->table(), reader->plan());
  Bytes data;
  EXPECT_EQ(reader->next_data(data), TableRecordReader::Step::Record);
  std::vector<DecodedCell> cells;
  decoder.decode(data, cells);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    std::string text;
    append_decoded_json(text, decoder.columns()[k], cells[k]);
    out[decoder.columns()[k].info->name] = text;
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

std::string iso8601(std::int64_t us) {
  std::string out;
  append_iso8601(out, us);
  return out;
}

TEST(DecodedJson, TimestampsAcrossTheRange) {
  EXPECT_EQ(iso8601(0), "1970-01-01T00:00:00");
  EXPECT_EQ(iso8601(1678881600000001), "2023-03-15T12:00:00.000001");
  EXPECT_EQ(iso8601(-1), "1969-12-31T23:59:59.999999");
  std::int64_t us = 0;
  ASSERT_TRUE(ole_date_to_microseconds(-800000.0, us));  // before year 0
  EXPECT_EQ(iso8601(us), "-0291-09-02T00:00:00");
  EXPECT_EQ(iso8601(2932897ll * 86400 * 1000000), "+10000-01-01T00:00:00");
}

}  // namespace
}  // namespace quarrow::test
