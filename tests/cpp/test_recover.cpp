// Recovery of records still on a table's pages: nodes flagged deleted are returned
// with their page and source, live nodes are not, and an unknown table is an error.
#include <gtest/gtest.h>

#include <vector>

#include "db_builder.h"
#include "format/page.h"
#include "forensic/recover.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kTableRoot = 5;

std::string id_record(std::uint32_t id) {
  std::string r("\x01\x7f", 2);
  add16(r, 8);
  add32(r, id);
  return r;
}

// Table "T" (fixed Long column 1) on one leaf page; `deleted` marks which ids carry
// the node's deleted flag.
DbImage table_with(const std::vector<std::pair<std::uint32_t, bool>>& rows) {
  DbImage img(4096, kTableRoot);
  img.set_page(kCatalogRootPage, leaf_of({table_record(10, "T", kTableRoot), column_record(10, 1, "Id", 4)}));
  PageDef page{kLeaf, {{0, ""}}};
  for (const auto& [id, deleted] : rows) {
    page.tags.push_back({deleted ? kNodeDeleted : std::uint8_t{0}, leaf_value("", id_record(id))});
  }
  img.set_page(kTableRoot, page);
  return img;
}

TEST(RecoverRecords, FlaggedDeletedNodesOnly) {
  struct Case {
    std::vector<std::pair<std::uint32_t, bool>> rows;
    std::vector<std::uint32_t> recovered;
  };
  const std::vector<Case> cases = {
      {{{1, false}, {2, true}, {3, false}}, {2}},
      {{{1, true}, {2, true}}, {1, 2}},
      {{{1, false}}, {}},
  };
  for (const Case& c : cases) {
    auto db = table_with(c.rows).open();
    ASSERT_TRUE(db.ok());
    RecoveryCounts counts;
    auto records = recover_records(**db, "T", &counts);
    ASSERT_TRUE(records.ok()) << records.error().to_string();
    std::vector<std::uint32_t> ids;
    for (const RecoveredRecord& r : *records) {
      EXPECT_EQ(r.page, kTableRoot);
      EXPECT_STREQ(r.source, kSourceFlaggedDeleted);
      ids.push_back(static_cast<std::uint32_t>(r.record.fields.at(0).value.i));
    }
    EXPECT_EQ(ids, c.recovered);
    EXPECT_EQ(counts.flagged_deleted, c.recovered.size());
  }
}

TEST(RecoverRecords, UnknownTableIsTableNotFound) {
  auto db = table_with({{1, true}}).open();
  ASSERT_TRUE(db.ok());
  auto records = recover_records(**db, "missing");
  ASSERT_FALSE(records.ok());
  EXPECT_EQ(records.error().kind(), ErrorKind::TableNotFound);
}

}  // namespace
}  // namespace quarrow::test
