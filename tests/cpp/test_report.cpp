#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <tuple>

#include "db_builder.h"
#include "report/report.h"

namespace quarrow {
namespace {

using namespace test;
using report::escape_html;
using report::PageKind;

class EscapeHtml : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(EscapeHtml, LeavesNoMarkupAndOnlyValidText) {
  EXPECT_EQ(escape_html(std::get<0>(GetParam())), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeHtml,
    ::testing::Values(std::make_tuple("plain text", "plain text"),
                      std::make_tuple("<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"),
                      std::make_tuple("a=\"b\" c='d' & e", "a=&quot;b&quot; c=&#39;d&#39; &amp; e"),
                      std::make_tuple("&amp;", "&amp;amp;"),
                      std::make_tuple(std::string("nul\0here", 8), "nul\xEF\xBF\xBDhere"),
                      std::make_tuple("bell\x07 tab\t line\n", "bell\xEF\xBF\xBD tab\t line\n"),
                      std::make_tuple("bad \xFF byte", "bad \xEF\xBF\xBD byte"),
                      std::make_tuple("caf\xC3\xA9", "caf\xC3\xA9")));

// A file of `last_page` pages, all zero but the catalog root, whose stored checksum
// is wrong, so verification calls it damaged. (A file whose every stored checksum is
// zero is one the engine wrote without checksums: verification says so once instead.)
report::ReportFacts facts_of(std::uint32_t last_page) {
  DbImage img = minimal_image(4096, 0x620, 12, last_page);
  img.bytes()[std::size_t{kCatalogRootPage + 1} * 4096] = 1;
  auto db = img.open();
  EXPECT_TRUE(db.ok());
  return report::gather_report(**db, {"t.edb", "", nullptr});
}

class PageMapCells : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PageMapCells, CoverEveryPageOnceWithinTheBound) {
  const std::uint32_t pages = GetParam();
  const report::ReportFacts f = facts_of(pages);
  const report::PageMap& map = f.map;
  ASSERT_LE(map.cells.size(), report::kMaxMapCells);
  EXPECT_EQ(map.pages_per_cell, (pages + report::kMaxMapCells - 1) / report::kMaxMapCells);
  std::uint32_t next = 1;
  for (const report::MapCell& cell : map.cells) {
    ASSERT_EQ(cell.first_page, next);
    ASSERT_LE(cell.last_page - cell.first_page + 1, map.pages_per_cell);
    EXPECT_EQ(std::accumulate(cell.kinds.begin(), cell.kinds.end(), 0u), cell.last_page - cell.first_page + 1);
    next = cell.last_page + 1;
  }
  EXPECT_EQ(next, pages + 1);
  EXPECT_EQ(std::accumulate(map.totals.begin(), map.totals.end(), std::uint64_t{0}), pages);
  EXPECT_EQ(map.totals[static_cast<std::size_t>(PageKind::Damaged)], 1u);  // the catalog root
  EXPECT_EQ(map.totals[static_cast<std::size_t>(PageKind::Unused)], pages - 1);
  // The damaged page colours its whole cell.
  EXPECT_EQ(map.cells[(kCatalogRootPage - 1) / map.pages_per_cell].dominant(), PageKind::Damaged);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PageMapCells, ::testing::Values(4u, 4096u, 4097u, 20000u, 50001u));

TEST(Report, PageOfAHugeFileStaysSmall) {
  const report::ReportFacts f = facts_of(50001);
  const std::string html = report::render_report_html(f);
  EXPECT_LT(html.size(), 5u << 20);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("data-pages-per-cell=\"13\""), std::string::npos);
}

TEST(Report, IndexListsFailuresAsText) {
  const std::string html = report::render_index_html(
      {{"a<b>.edb", "a.html", "", 10, 2, 0, "clean shutdown"}, {"bad.edb", "", "Failed to open <x>", 0, 0, 0, ""}});
  EXPECT_NE(html.find("<a href=\"a.html\">a&lt;b&gt;.edb</a>"), std::string::npos);
  EXPECT_NE(html.find("Failed to open &lt;x&gt;"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
}

}  // namespace
}  // namespace quarrow
