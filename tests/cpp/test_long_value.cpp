// Long values read from a table's long-value tree: chunks put together in offset
// order for 4- and 8-byte ids, and nothing for references that cannot name a value.
#include <gtest/gtest.h>

#include <vector>

#include "db_builder.h"
#include "format/long_value.h"
#include "record/long_value.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kTableRoot = 5;
constexpr std::uint32_t kLongValueRoot = 6;

std::string big_endian(std::uint64_t v, int width) {
  std::string s;
  for (int k = width - 1; k >= 0; --k) s.push_back(static_cast<char>(v >> (8 * k)));
  return s;
}

// Table "T" with one Long Binary column; its long-value tree is one leaf page holding
// value `lid` (key width `width`) as the given chunks. Without `with_tree` the table
// has no long-value tree.
DbImage long_value_table(std::uint64_t lid, int width, const std::vector<std::string>& chunks,
                         std::uint32_t revision = 12, bool with_tree = true) {
  DbImage img(4096, kLongValueRoot, 0x620, revision);
  std::vector<std::string> catalog = {table_record(10, "T", kTableRoot), catalog_record(2, 10, 256, 11, "Blob")};
  if (with_tree) catalog.push_back(catalog_record(4, 10, 11, kLongValueRoot, "LV"));
  img.set_page(kCatalogRootPage, leaf_of(catalog));
  img.set_page(kTableRoot, PageDef{kLeaf, {{0, ""}}});
  std::string total;
  for (const std::string& c : chunks) total += c;
  std::string root;
  add32(root, 1);  // reference count
  add32(root, static_cast<std::uint32_t>(total.size()));
  PageDef lv{kLeaf | kPageLongValue, {{0, ""}, {0, leaf_value(big_endian(lid, width), root)}}};
  std::uint32_t offset = 0;
  for (const std::string& c : chunks) {
    lv.tags.push_back({0, leaf_value(big_endian(lid, width) + big_endian(offset, 4), c)});
    offset += static_cast<std::uint32_t>(c.size());
  }
  img.set_page(kLongValueRoot, lv);
  return img;
}

struct Case {
  const char* what;
  DbImage image;
  std::string reference;
  std::uint64_t budget;
  std::optional<std::string> expected;
};

TEST(LongValue, ChunksInOrderOrNothing) {
  std::string lid1;
  add32(lid1, 1);
  const std::uint64_t lid64 = (std::uint64_t{1} << kLid64FlagBit) | 5;
  std::string ref64;
  add32(ref64, static_cast<std::uint32_t>(lid64));
  add32(ref64, static_cast<std::uint32_t>(lid64 >> 32));
  const std::vector<Case> cases = {
      {"two chunks", long_value_table(1, 4, {"hello ", "world"}), lid1, 1000, "hello world"},
      {"one chunk", long_value_table(1, 4, {"x"}), lid1, 1000, "x"},
      {"8-byte id", long_value_table(lid64, 8, {"wide ", "id"}, kRevisionLid64), ref64, 1000, "wide id"},
      {"reference too short", long_value_table(1, 4, {"abc"}), std::string("\x01\x00\x00", 3), 1000, std::nullopt},
      {"no long-value tree", long_value_table(1, 4, {"abc"}, 12, false), lid1, 1000, std::nullopt},
      {"over the budget", long_value_table(1, 4, {"hello ", "world"}), lid1, 5, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto db = c.image.open();
    ASSERT_TRUE(db.ok()) << db.error().to_string();
    const TableInfo* table = (*db)->catalog().find("T");
    ASSERT_NE(table, nullptr);
    LongValueBudget budget{c.budget};
    EXPECT_EQ(read_long_value(**db, *table, as_bytes(c.reference), budget), c.expected);
  }
}

}  // namespace
}  // namespace quarrow::test
