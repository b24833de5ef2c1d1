#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/catalog.h"
#include "database/database.h"
#include "db_builder.h"

namespace quarrow {
namespace {

using namespace test;
using Records = std::vector<std::string>;

// "name@root(columns)[indexes]<long values>" per table, in catalog order.
std::string dump(const Catalog& catalog) {
  std::string out;
  for (const auto& [name, t] : catalog) {
    out += (out.empty() ? "" : " ") + name + "@" + std::to_string(t.root_page);
    auto names = [&out](const auto& map, const char* open, const char* close) {
      if (map.empty()) return;
      out += open;
      for (std::size_t i = 0; i < map.size(); ++i) out += (i ? "," : "") + map.at(i).first;
      out += close;
    };
    names(t.columns, "(", ")");
    names(t.indexes, "[", "]");
    names(t.long_values, "<", ">");
  }
  return out;
}

// The catalog, then " !tag: error" per row passed over.
std::string open_catalog(const DbImage& img) {
  Result<std::unique_ptr<Database>> db = img.open();
  if (!db.ok()) return "error: " + db.error().to_string();
  std::string out = dump((*db)->catalog());
  for (const CatalogProblem& p : (*db)->catalog_problems()) out += " !" + std::to_string(p.tag) + ": " + p.error;
  return out;
}
// A database whose catalog root page 4 is a leaf holding `records` from tag 1 on (tag
// 0, the page's external header, holds nothing).
std::string open_catalog(const Records& records, std::uint32_t page_size = 4096, std::uint32_t revision = 12) {
  DbImage img(page_size, 4, 0x620, revision);
  Records tags{""};
  tags.insert(tags.end(), records.begin(), records.end());
  img.set_page(kCatalogRootPage, leaf_of(tags));
  return open_catalog(img);
}

std::string patched(std::string r, std::size_t at, std::uint16_t v, bool word = true) {
  r[at] = static_cast<char>(v & 0xFF);
  if (word) r[at + 1] = static_cast<char>(v >> 8);
  return r;
}
std::string of_type(std::uint16_t type) { return catalog_record(type, 1, 1, 10, "T"); }
// A record cut to `len` bytes whose (empty) name is read at V = len - 2.
std::string cut(std::size_t len, std::uint16_t type) {
  std::string r = catalog_record(type, 1, 1, 10, "");
  r.resize(len, '\0');
  return patched(r, 2, static_cast<std::uint16_t>(len - 2));
}

TEST(Catalog, BuildsTablesFromRecords) {
  const std::string tA = table_record(1, "A", 10);
  const std::string no_variable = patched(table_record(1, "abc", 10), 1, 127, false);  // n = 127
  std::string no_variable_padded = no_variable;
  no_variable_padded.resize(30 + 254, '\0');
  no_variable_padded += "XYZ";
  const std::vector<std::pair<Records, std::string>> cases = {
      {{tA, column_record(1, 1, "id", 4), column_record(1, 128, "name", 10), catalog_record(3, 1, 5, 12, "ix"),
        catalog_record(4, 1, 6, 13, "lv"), table_record(2, "B", 20), column_record(2, 1, "k", 4)},
       "A@10(id,name)[ix]<lv> B@20(k)"},
      // Same name twice: the first position, the second record's values; columns of both.
      {{tA, table_record(2, "B", 11), table_record(3, "A", 30), column_record(1, 1, "x", 4),
        column_record(3, 2, "y", 4), column_record(2, 1, "z", 4)},
       "A@30(x,y) B@11(z)"},
      {{tA, column_record(1, 1, "c", 4), column_record(1, 2, "d", 4), column_record(1, 3, "c", 4)}, "A@10(c,d)"},
      {{tA, column_record(9, 1, "lost", 4), column_record(1, 1, "kept", 4)}, "A@10(kept)"},
      {{column_record(1, 1, "early", 4), tA}, "A@10(early)"},
      {{table_record(1, "a", 1), table_record(2, "A", 2), table_record(3, "", 3)}, "a@1 A@2 @3"},
      {{"", "\x01", "ab", "abc", tA}, "A@10"},
      {{"abcd", tA}, "A@10 !1: Invalid catalog entry"},
      {{std::string(13, '\x01'), tA}, "A@10 !1: Invalid catalog entry"},
      {{of_type(0)}, " !1: Unsupported catalog type: 0"},
      {{of_type(6)}, " !1: Unsupported catalog type: 6"},
      {{tA, of_type(5)}, "A@10 !2: Callback catalog type is not supported"},
      {{cut(14, 5)}, " !1: Callback catalog type is not supported"},
      {{tA, column_record(1, 1, "max", 18)}, "A@10(max)"},
      {{tA, column_record(1, 1, "bad", 19)}, "A@10 !2: Unsupported column type: 19"},
      {{cut(22, 1)}, "@10"},
      {{cut(21, 1)}, " !1: Invalid catalog entry"},
      {{tA, cut(22, 4)}, "A@10<>"},
      {{tA, cut(29, 2)}, "A@10 !2: Invalid catalog entry"},
      {{tA, cut(29, 3)}, "A@10 !2: Invalid catalog entry"},
      {{patched(tA, 2, 32)}, " !1: Invalid catalog entry"},      // V + 2 past the end
      {{patched(tA, 30, 2)}, " !1: Invalid catalog entry"},      // name longer than the record
      {{patched(tA, 30, 0x8001)}, " !1: Invalid catalog entry"},  // the length's high bit counts
      {{no_variable}, " !1: Invalid catalog entry"},
      {{no_variable_padded}, "XYZ@10"},
      {{patched(patched(table_record(1, "abcdefgh", 10), 1, 130, false), 30, 4)}, "efgh@10"},  // n = 3
  };
  for (const auto& [records, result] : cases) EXPECT_EQ(open_catalog(records), result);
}

// On every page size a row that cannot be decoded is passed over and listed with its
// tag, also rows of the old streaming-file trees (types 6 and 7).
TEST(Catalog, RowsPassedOverOnEveryPageSize) {
  const Records records = {table_record(1, "A", 10), of_type(5), "abcd", of_type(0), column_record(1, 1, "bad", 19),
                           column_record(1, 2, "ok", 4), of_type(6), of_type(7), table_record(2, "B", 11)};
  const std::string expected =
      "A@10(ok) B@11 !2: Callback catalog type is not supported !3: Invalid catalog entry !4: Unsupported catalog "
      "type: 0 !5: Unsupported column type: 19 !7: Unsupported catalog type: 6 !8: Unsupported catalog type: 7";
  for (const auto& [page_size, revision] : {std::pair{4096u, 12u}, {8192u, 12u}, {16384u, 12u}, {32768u, 17u}}) {
    EXPECT_EQ(open_catalog(records, page_size, revision), expected) << page_size;
  }
}

// Rows flagged deleted are gone from the catalog (a dropped and re-created table keeps
// the live definition and its place); versioned rows stay. Both tag layouts.
TEST(Catalog, DeletedRowsAreNotInTheCatalog) {
  for (const auto& [page_size, revision] : {std::pair{4096u, 12u}, {32768u, 17u}}) {
    DbImage img(page_size, 4, 0x620, revision);
    PageDef page = leaf_of({table_record(1, "Old", 10), table_record(2, "A", 11), column_record(1, 1, "gone", 4),
                            table_record(3, "A", 12), column_record(3, 1, "kept", 4), table_record(4, "V", 13),
                            catalog_record(9, 1, 1, 10, "T")});
    page.tags[0].flags = 0x2;  // deleted
    page.tags[1].flags = 0x3;  // deleted and versioned: a delete in progress
    page.tags[2].flags = 0x2;
    page.tags[5].flags = 0x1;  // versioned only: live
    page.tags[6].flags = 0x2;  // a deleted row of an unknown type is no problem either
    img.set_page(kCatalogRootPage, page);
    EXPECT_EQ(open_catalog(img), "A@12(kept) V@13") << page_size;
  }
}

// Tag 0 is the page's external header: what it fails to say is no catalog problem.
TEST(Catalog, TagZeroIsNoRow) {
  DbImage img(4096, 4);
  img.set_page(kCatalogRootPage, leaf_of({"abcdefgh", table_record(1, "A", 10)}));
  EXPECT_EQ(open_catalog(img), "A@10");
}

TEST(Catalog, TablesInWalkOrder) {
  DbImage img(4096, 8);
  img.set_page(4, branch_of({7, 5}));
  img.set_page(7, leaf_of({table_record(2, "Second", 21), table_record(1, "First", 20)}));
  img.set_page(5, leaf_of({column_record(1, 1, "c", 4), table_record(3, "Third", 22)}));
  EXPECT_EQ(open_catalog(img), "Second@21 First@20(c) Third@22");
}

TEST(Catalog, KeepsTheFieldsOfEachRecordKind) {
  CatalogBuilder b;
  for (const std::string& r : {table_record(7, "T", 42), catalog_record(2, 7, 300, 12, "col", 255, 0x10, 1200),
                               catalog_record(2, 7, 301, 10, "cp0", 0, 0, 0),
                               catalog_record(3, 7, 9, 50, "ix", 7, 0x11, 1033), catalog_record(4, 7, 10, 51, "lv", 8)})
    ASSERT_TRUE(add_catalog_record(as_bytes(r), b).ok());
  attach_pending_entries(b);
  const TableInfo& t = *b.tables.find("T");
  const ColumnInfo& c = *t.columns.find("col");
  EXPECT_EQ(std::vector<std::uint32_t>({c.id, c.column_type, c.space_usage, c.flags, *c.codepage}),
            std::vector<std::uint32_t>({300, 12, 255, 0x10, 1200}));
  EXPECT_EQ(t.columns.find("cp0")->codepage, std::optional<std::uint32_t>(0));  // present even when 0
  const IndexInfo& ix = *t.indexes.find("ix");
  EXPECT_EQ(std::vector<std::uint32_t>({ix.root_page, ix.space_usage, ix.flags, ix.locale}),
            std::vector<std::uint32_t>({50, 7, 0x11, 1033}));
  EXPECT_EQ(t.long_values.find("lv")->root_page, 51u);
  EXPECT_EQ(t.long_values.find("lv")->space_usage, 8u);
}

// The catalogs of real databases: table order and column counts as an independent
// reader reports them.
TEST(Catalog, RealDatabases) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"basic.edb", "MSysObjects:28 MSysObjectsShadow:28 MSysObjids:3 MSysLocales:3 basic:13"},
      {"large.edb", "MSysObjects:28 MSysObjectsShadow:28 MSysObjids:3 MSysLocales:3 large:64994"},
  };
  for (const auto& [file, expected] : files) {
    const std::string path = real_data_path(file);
    if (path.empty()) GTEST_SKIP() << "../shared/data/" << file << " is not available";
    Result<std::unique_ptr<Database>> db = Database::open(path);
    ASSERT_TRUE(db.ok()) << db.error().to_string();
    std::string got;
    for (const auto& [name, t] : (*db)->catalog())
      got += (got.empty() ? "" : " ") + name + ":" + std::to_string(t.columns.size());
    EXPECT_EQ(got, expected);
  }
}

}  // namespace
}  // namespace quarrow
