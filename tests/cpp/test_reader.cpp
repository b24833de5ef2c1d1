// Reading a table along the leaf level: every record of every page in chain order,
// the pages counted once each, a cycle in the chain ended instead of followed.
#include <gtest/gtest.h>

#include <vector>

#include "db_builder.h"
#include "format/page.h"
#include "record/reader.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kPageSize = 4096;
constexpr std::uint32_t kFirstLeaf = 5;

// A record of a table whose only column is the fixed Long column 1.
std::string id_record(std::uint32_t id) {
  std::string r("\x01\x7f", 2);  // last fixed id 1, no variable columns
  add16(r, 8);                   // V: after the 4-byte header and the 4-byte column
  add32(r, id);
  return r;
}

// Table "T" whose leaf pages kFirstLeaf.. hold the given ids, chained by next-page
// links; `last_next` is the link of the last page (0 ends the chain).
DbImage chained_table(const std::vector<std::vector<std::uint32_t>>& pages, std::uint32_t last_next = 0) {
  const auto last = static_cast<std::uint32_t>(kFirstLeaf + pages.size() - 1);
  DbImage img(kPageSize, last);
  img.set_page(kCatalogRootPage, leaf_of({table_record(10, "T", kFirstLeaf), column_record(10, 1, "Id", 4)}));
  for (std::size_t k = 0; k < pages.size(); ++k) {
    PageDef page{kLeaf, {{0, ""}}};  // tag 0: the page's key prefix
    for (std::uint32_t id : pages[k]) page.tags.push_back({0, leaf_value("", id_record(id))});
    const auto number = static_cast<std::uint32_t>(kFirstLeaf + k);
    img.set_page(number, page);
    const std::uint32_t next = k + 1 < pages.size() ? number + 1 : last_next;
    put32(img.bytes(), (std::size_t{number} + 1) * kPageSize + kPageNextOffset, next);
  }
  return img;
}

struct Reading {
  std::vector<std::uint32_t> ids;
  TableRecordReader::Step last = TableRecordReader::Step::End;
  std::uint64_t pages = 0;
};

Reading read_ids(const DbImage& img) {
  Reading out;
  auto db = img.open();
  EXPECT_TRUE(db.ok());
  if (!db.ok()) return out;
  auto reader = open_table_reader(**db, "T");
  EXPECT_TRUE(reader.ok());
  if (!reader.ok()) return out;
  Record record;
  while ((out.last = reader->next_record(record)) == TableRecordReader::Step::Record) {
    out.ids.push_back(static_cast<std::uint32_t>(record.fields.at(0).value.i));
  }
  out.pages = reader->pages_read();
  return out;
}

TEST(TableRecordReader, ReadsEveryPageOfTheChainOnce) {
  struct Case {
    std::vector<std::vector<std::uint32_t>> pages;
    std::vector<std::uint32_t> ids;
  };
  const std::vector<Case> cases = {
      {{{1, 2}}, {1, 2}},
      {{{1, 2}, {}, {3, 4, 5}}, {1, 2, 3, 4, 5}},  // an empty page in the middle
      {{{}, {}, {7}}, {7}},
      {{{}}, {}},
  };
  for (const Case& c : cases) {
    const Reading r = read_ids(chained_table(c.pages));
    EXPECT_EQ(r.ids, c.ids);
    EXPECT_EQ(r.last, TableRecordReader::Step::End);
    EXPECT_EQ(r.pages, c.pages.size());
  }
}

// A chain that loops back reads every page once and ends: nothing is lost, so the
// loop is no error.
TEST(TableRecordReader, ChainBackToAnEarlierPageEndsAfterEveryPage) {
  const Reading r = read_ids(chained_table({{1}, {2}, {3}}, kFirstLeaf));
  EXPECT_EQ(r.ids, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(r.last, TableRecordReader::Step::End);
  EXPECT_EQ(r.pages, 3u);
}

TEST(TableRecordReader, UnknownTableIsTableNotFound) {
  auto db = chained_table({{1}}).open();
  ASSERT_TRUE(db.ok());
  auto reader = open_table_reader(**db, "t");  // names are exact bytes
  ASSERT_FALSE(reader.ok());
  EXPECT_EQ(reader.error().kind(), ErrorKind::TableNotFound);
}

}  // namespace
}  // namespace quarrow::test
