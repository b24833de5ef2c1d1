// Index definitions from the catalog: key lists in both segment forms, columns named
// from the table's columns, flags read as unique and primary.
#include <gtest/gtest.h>

#include <vector>

#include "db_builder.h"
#include "format/record.h"
#include "forensic/indexes.h"

namespace quarrow::test {
namespace {

struct SegmentCase {
  std::string key_list;
  bool four_byte;
  std::vector<std::pair<std::uint32_t, bool>> segments;  // column id, descending
};

TEST(IndexKeySegments, BothFormsAndTrailingBytes) {
  const std::vector<SegmentCase> cases = {
      // 2-byte signed ids, negative meaning descending.
      {std::string("\x01\x00\xfe\xff", 4), false, {{1, false}, {2, true}}},
      {std::string("\x01\x00\x05", 3), false, {{1, false}}},  // a trailing odd byte
      // 4-byte {flags, reserved, u16 id}: flag 0x40 descending.
      {std::string("\x00\x00\x01\x00\x40\x00\x02\x01", 8), true, {{1, false}, {258, true}}},
      {std::string("\x40\x00\x03", 3), true, {}},
      {"", true, {}},
  };
  for (const SegmentCase& c : cases) {
    const std::vector<KeySegment> got = parse_key_segments(as_bytes(c.key_list), c.four_byte);
    ASSERT_EQ(got.size(), c.segments.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].column_id, c.segments[k].first);
      EXPECT_EQ(got[k].descending, c.segments[k].second);
    }
  }
}

// An index row of the catalog with its key list in variable column 132 (KeyFldIDs):
// the name and the key list, columns 129-131 null.
std::string index_record(std::uint32_t owner, std::uint32_t id, const std::string& name, std::uint32_t flags,
                         const std::string& keys) {
  std::string d("\x09", 1);
  d.push_back(static_cast<char>(kCatalogKeyListColumn));
  add16(d, 30);
  add32(d, owner);
  add16(d, 3);
  for (std::uint32_t v : {id, 7u, 0u, flags, 1033u}) add32(d, v);
  const auto name_end = static_cast<std::uint16_t>(name.size());
  add16(d, name_end);
  for (int k = 0; k < 3; ++k) add16(d, static_cast<std::uint16_t>(name_end | kVariableNull));
  add16(d, static_cast<std::uint16_t>(name_end + keys.size()));
  return d + name + keys;
}

TEST(TableIndexes, DefinitionsWithTheirColumns) {
  DbImage img(4096, 5);
  const std::string keys("\x00\x00\x01\x00\x40\x00\x02\x00\x00\x00\x63\x00", 12);  // 1, -2, 99
  img.set_page(kCatalogRootPage,
               leaf_of({table_record(10, "T", 5), column_record(10, 1, "Id", 4), column_record(10, 2, "Name", 10),
                        index_record(10, 20, "ix", kIndexUnique | kIndexFourByteSegments, keys),
                        index_record(10, 21, "pk", kIndexPrimary | kIndexFourByteSegments, std::string("\0\0\1\0", 4)),
                        table_record(11, "U", 5),
                        index_record(11, 22, "other", kIndexFourByteSegments, std::string("\0\0\1\0", 4))}));
  img.set_page(5, leaf_of({}));
  auto db = img.open();
  ASSERT_TRUE(db.ok()) << db.error().to_string();

  auto indexes = read_table_indexes(**db, "T");
  ASSERT_TRUE(indexes.ok()) << indexes.error().to_string();
  ASSERT_EQ(indexes->size(), 2u);
  const IndexDefinition& ix = (*indexes)[0];
  EXPECT_EQ(ix.name, "ix");
  EXPECT_TRUE(ix.unique);
  EXPECT_FALSE(ix.primary);
  ASSERT_EQ(ix.columns.size(), 3u);
  EXPECT_EQ(ix.columns[0].column_name, std::optional<std::string>("Id"));
  EXPECT_FALSE(ix.columns[0].descending);
  EXPECT_EQ(ix.columns[1].column_name, std::optional<std::string>("Name"));
  EXPECT_TRUE(ix.columns[1].descending);
  EXPECT_EQ(ix.columns[2].column_id, 99u);
  EXPECT_FALSE(ix.columns[2].column_name.has_value());
  EXPECT_EQ((*indexes)[1].name, "pk");
  EXPECT_TRUE((*indexes)[1].primary);

  auto missing = read_table_indexes(**db, "V");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind(), ErrorKind::TableNotFound);
}

}  // namespace
}  // namespace quarrow::test
