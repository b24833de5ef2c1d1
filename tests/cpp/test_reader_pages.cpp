// The table reader counts each leaf page it reads once, for progress reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db_builder.h"
#include "record/reader.h"

namespace quarrow {
namespace {

using namespace test;

// A record of one fixed Long column: F = 1, no variable columns, V = 8.
std::string row(std::uint32_t id) {
  std::string r("\x01\x7f\x08\x00", 4);
  add32(r, id);
  return r;
}

PageDef rows(std::initializer_list<std::uint32_t> ids) {
  PageDef p{kLeaf, {{0, ""}}};  // tag 0: the key prefix
  for (std::uint32_t id : ids) p.tags.push_back({0, leaf_value("k", row(id))});
  return p;
}

// Table T (object 10, root 10), column Id; pages 10.. as given.
DbImage table_image(std::uint32_t page_size, std::uint32_t revision) {
  DbImage img(page_size, 20, 0x620, revision);
  img.set_page(kCatalogRootPage, leaf_of({table_record(10, "T", 10), column_record(10, 1, "Id", 4)}));
  return img;
}

struct Read {
  std::vector<std::uint32_t> ids;
  std::uint64_t pages = 0;
};

Read read(const DbImage& img) {
  std::unique_ptr<Database> db = img.open().value();
  Result<TableRecordReader> reader = open_table_reader(*db, "T");
  EXPECT_TRUE(reader.ok());
  Read out;
  Record r;
  while (reader->next_record(r) == TableRecordReader::Step::Record) {
    out.ids.push_back(static_cast<std::uint32_t>(r.fields[0].value.i));
  }
  out.pages = reader->pages_read();
  return out;
}

TEST(TableReader, CountsEachLeafPageOnce) {
  DbImage img = table_image(4096, 12);
  img.set_page(10, branch_of({11, 12, 13}));
  img.set_page(11, rows({1, 2})).set_page(12, rows({3})).set_page(13, rows({4, 5}));
  for (auto [from, to] : {std::pair{11u, 12u}, {12u, 13u}}) put32(img.bytes(), (from + 1) * 4096 + 20, to);
  const Read r = read(img);
  EXPECT_EQ(r.ids, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(r.pages, 3u);
}

}  // namespace
}  // namespace quarrow
