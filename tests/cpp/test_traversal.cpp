#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/traversal.h"
#include "db_builder.h"

namespace quarrow {
namespace {

using namespace test;
using Strings = std::vector<std::string>;
using Pages = std::vector<std::pair<std::uint32_t, PageDef>>;

std::string open_result(const ByteVec& bytes) {
  Result<std::unique_ptr<Database>> db = Database::open_bytes(bytes);
  return db.ok() ? "opened" : db.error().to_string();
}

ByteVec with_u32(ByteVec b, std::size_t at, std::uint32_t v) {
  put32(b, at, v);
  return b;
}

TEST(DatabaseOpen, HeaderChecksAndCatalogLoad) {
  const ByteVec small = DbImage(512, 6).bytes();  // exactly 4096 bytes; page 4 an empty branch page
  DbImage self_ref(4096, 8), past_end(4096, 8);
  self_ref.set_page(4, branch_of({4}));
  past_end.set_page(4, branch_of({9}));
  const std::vector<std::pair<ByteVec, std::string>> cases = {
      {small, "opened"},
      {ByteVec(small.begin(), small.end() - 1), "Invalid database header"},
      {with_u32(small, 4, 0), "Invalid signature, expected 0x89ABCDEF, got 0x0"},
      {with_u32(small, 236, 0), "Invalid database header"},
      {with_u32(small, 236, 8192), "Invalid page number: 4"},  // total_pages 0
      {DbImage(4096, 0).bytes(), "Invalid page number: 4"},     // 8192 bytes
      {DbImage(4096, 3).bytes(), "Invalid page number: 4"},     // five pages: total_pages 3
      {minimal_image(4096, 0xFFFFFFFF, 0x12345678).bytes(), "opened"},
      {past_end.bytes(), "opened"},  // a child past the last page is an invalid entry, skipped
      {self_ref.bytes(), "Parse error: Tree page 4 is reached twice (cycle in a damaged tree)"},
  };
  for (const auto& [bytes, result] : cases) EXPECT_EQ(open_result(bytes), result) << bytes.size();
  const std::string missing = Database::open("/nonexistent/quarrow.edb").error().to_string();
  EXPECT_EQ(missing.rfind("IO error: ", 0), 0u) << missing;
#ifdef _WIN32
  EXPECT_NE(missing.find(" (os error 3)"), std::string::npos) << missing;  // ERROR_PATH_NOT_FOUND
#else
  EXPECT_NE(missing.find(" (os error 2)"), std::string::npos) << missing;  // ENOENT
#endif
}

TEST(DatabaseLoadPage, PageMustLieWhollyInsideTheFile) {
  DbImage img = minimal_image(4096, 0x620, 0x14);
  img.bytes().resize(img.bytes().size() + 4095, 0);  // a partial trailing page
  std::unique_ptr<Database> db = img.open().value();
  EXPECT_EQ(db->total_pages(), 4u);
  EXPECT_EQ(db->format_revision(), 0x14u);
  EXPECT_EQ(db->page_size(), 4096u);
  for (std::uint32_t n : {0u, 4u}) EXPECT_EQ(db->load_page(n)->data.data(), db->bytes().data() + (n + 1) * 4096);
  for (std::uint32_t n : {5u, 0xFFFFFFFFu})
    EXPECT_EQ(db->load_page(n).error().to_string(), "Invalid page number: " + std::to_string(n));
  EXPECT_EQ(DbImage(512, 6).open().value()->total_pages(), 6u);
}

struct Walked {
  Strings data;
  std::string error;
};

// Builds pages 10.. of a database and walks from page 10; the handler fails on "bad".
Walked walk(const Pages& pages, std::uint32_t page_size = 4096, std::uint32_t revision = 12,
            std::uint32_t last_page = 20) {
  DbImage img = minimal_image(page_size, 0x620, revision, last_page);
  for (const auto& [n, def] : pages) img.set_page(n, def);
  std::unique_ptr<Database> db = img.open().value();
  Walked w;
  Status st = walk_catalog_tree(*db, 10, [&w](Bytes data) -> Status {
    w.data.push_back(to_string(data));
    return to_string(data) == "bad" ? Status(EseError::invalid_catalog_entry()) : Status::success();
  });
  if (!st.ok()) w.error = st.error().to_string();
  return w;
}

TEST(CatalogWalk, HandsLeafEntriesOverInTreeOrder) {
  PageDef noisy_leaf = leaf_of({"a"});
  noisy_leaf.tags.insert(noisy_leaf.tags.begin(), {0, ""});                           // empty: skipped
  noisy_leaf.tags.insert(noisy_leaf.tags.end(), {{0, "\x01"}, {0, leaf_value("key", "b")}, {0, leaf_value("", "")}});
  PageDef noisy_branch = branch_of({12, 0, 100001});
  noisy_branch.tags.insert(noisy_branch.tags.end(), {{0, "\x01\x02"}, {0, branch_value("z", 11)}});
  PageDef branch_with_leaf_entry = branch_of({});
  branch_with_leaf_entry.tags.push_back({0, leaf_value("", "zzzzzz")});
  PageDef leaf_with_branch_entry = leaf_of({});
  leaf_with_branch_entry.tags.push_back({0, branch_value("", 11)});
  const std::string cycle = "Parse error: Tree page 10 is reached twice (cycle in a damaged tree)";
  const std::string cycle12 = "Parse error: Tree page 12 is reached twice (cycle in a damaged tree)";
  const std::vector<std::pair<Pages, Walked>> cases = {
      {{{10, noisy_leaf}}, {{"a", "b", ""}, ""}},
      {{{10, branch_of({12, 11})}, {12, branch_of({13})}, {13, leaf_of({"c", "d"})}, {11, leaf_of({"e"})}},
       {{"c", "d", "e"}, ""}},
      {{{10, noisy_branch}, {12, leaf_of({"x"})}, {11, leaf_of({"y"})}}, {{"x", "y"}, ""}},
      {{{10, branch_of({11, 12, 13, 14})}, {11, leaf_of({"lv"}, 0x82)}, {12, leaf_of({"sp"}, 0x22)},
        {13, leaf_of({"ix"}, 0x42)}, {14, leaf_of({"ok"})}},
       {{"ok"}, ""}},
      {{{10, branch_with_leaf_entry}}, {{}, ""}},
      {{{10, leaf_with_branch_entry}, {11, leaf_of({"no"})}}, {{std::string("\x0b\0\0\0", 4)}, ""}},
      // A child past the file's last page (total_pages) is an invalid entry: skipped.
      {{{10, branch_of({11, 40, 12})}, {11, leaf_of({"first"})}, {12, leaf_of({"second"})}},
       {{"first", "second"}, ""}},
      {{{10, branch_of({11, 12})}, {11, leaf_of({"a", "bad", "b"})}, {12, leaf_of({"c"})}},
       {{"a", "bad"}, "Invalid catalog entry"}},
      {{{10, branch_of({10})}}, {{}, cycle}},
      {{{10, branch_of({11})}, {11, branch_of({10})}}, {{}, cycle}},
      // A page shared by two branches is walked once, without error; only a page that
      // is its own ancestor is a cycle.
      {{{10, branch_of({11, 11})}, {11, leaf_of({"once"})}}, {{"once"}, ""}},
      {{{10, branch_of({11, 12})}, {11, branch_of({13})}, {12, branch_of({13, 14})}, {13, leaf_of({"s"})},
        {14, leaf_of({"t"})}},
       {{"s", "t"}, ""}},
      {{{10, branch_of({11, 12})}, {11, leaf_of({"a"})}, {12, branch_of({11, 12})}}, {{"a"}, cycle12}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Walked w = walk(cases[i].first);
    EXPECT_EQ(w.data, cases[i].second.data);
    EXPECT_EQ(w.error, cases[i].second.error);
  }
}

// Handler errors end the walk on pages of up to 8192 bytes and are passed over above.
TEST(CatalogWalk, HandlerErrorsDependOnPageSize) {
  const Pages pages = {{10, branch_of({11, 12})}, {11, leaf_of({"a", "bad", "b"})}, {12, leaf_of({"c"})}};
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> layouts = {{4096, 12}, {8192, 17}, {16384, 12}, {32768, 17}};
  for (const auto& [size, revision] : layouts) {
    const Walked w = walk(pages, size, revision);
    const bool fatal = size <= 8192;
    EXPECT_EQ(w.error, fatal ? "Invalid catalog entry" : "") << size;
    EXPECT_EQ(w.data, fatal ? Strings({"a", "bad"}) : Strings({"a", "bad", "b", "c"})) << size;
  }
}

// On large pages the tag flags sit in the value's second byte and must be masked out
// before the key sizes are read, by the walk and by the descent.
TEST(CatalogWalk, LargePageTagFlagsMaskedOut) {
  std::string common_key("\x03\x00\x01\x00" "kcommon", 11);  // flag 0x4: common size 3, local size 1
  // Flag 0x2 (deleted) takes the entry out; 0x1 (versioned) does not.
  PageDef leaf{kLeaf,
               {{0x1, leaf_value("kk", "plain")}, {0x3, leaf_value("kd", "gone")}, {0x4, common_key},
                {0x1, leaf_value("", "short")}}};
  PageDef branch = branch_of({});
  branch.tags.push_back({0x1, branch_value("kk", 11)});
  const Walked w = walk({{10, branch}, {11, leaf}}, 16384, 17);
  EXPECT_EQ(w.error, "");
  EXPECT_EQ(w.data, Strings({"plain", "common", "short"}));

  DbImage img = minimal_image(16384, 0x620, 17, 12);
  img.set_page(10, branch).set_page(11, leaf);
  std::unique_ptr<Database> db = img.open().value();
  EXPECT_EQ(descend_to_first_leaf(*db, 10)->data.data(), db->bytes().data() + 12 * 16384);
}

TEST(TreeWalks, DepthLimitOf64Levels) {
  for (std::uint32_t levels : {64u, 65u}) {
    DbImage img = minimal_image(4096, 0x620, 12, 10 + levels);
    for (std::uint32_t k = 0; k + 1 < levels; ++k) img.set_page(10 + k, branch_of({11 + k}));
    img.set_page(9 + levels, leaf_of({"deep"}));
    std::unique_ptr<Database> db = img.open().value();
    Status st = walk_catalog_tree(*db, 10, [](Bytes) { return Status::success(); });
    Result<PageView> leaf = descend_to_first_leaf(*db, 10);
    const std::string error = levels == 64 ? "" : "Parse error: Tree deeper than 64 levels at page 74 (damaged tree)";
    EXPECT_EQ(st.ok() ? "" : st.error().to_string(), error);
    EXPECT_EQ(leaf.ok() ? "" : leaf.error().to_string(), error);
  }
}

TEST(DescendToFirstLeaf, FollowsTagOneToALeafOrAShortBranch) {
  PageDef no_tags{0, {}};
  PageDef zero_child = branch_of({0, 11});
  PageDef metadata = branch_of({});
  metadata.tags.push_back({0, std::string("\x04\x00\xAA\xBB\xCC\xDD\x05\x00", 8)});
  const std::string cycle = "Parse error: Tree page 10 is reached twice (cycle in a damaged tree)";
  const std::vector<std::pair<Pages, std::string>> cases = {  // result: stop page or error
      {{{10, leaf_of({"r"})}}, "10"},
      {{{10, branch_of({})}}, "10"},  // a branch page with fewer than 2 tags is where it stops
      {{{10, no_tags}}, "10"},
      {{{10, branch_of({12, 11})}, {12, branch_of({13, 11})}, {13, leaf_of({})}}, "13"},
      {{{10, branch_of({11})}, {11, leaf_of({}, 0x82)}}, "11"},
      {{{10, zero_child}}, "Parse error: Branch entry has invalid child page number: 0 (likely corrupted data)"},
      {{{10, metadata}},
       "Parse error: Branch entry too short for child page number: got 8 bytes, offset 6, need 4 more (likely "
       "metadata tag)"},
      {{{10, branch_of({11})}, {11, branch_of({30})}},
       "Parse error: Branch entry has invalid child page number: 30 (likely corrupted data)"},
      {{{10, branch_of({10})}}, cycle},
      {{{10, branch_of({11})}, {11, branch_of({10})}}, cycle},
  };
  for (const auto& [pages, expected] : cases) {
    SCOPED_TRACE(expected);
    DbImage img = minimal_image(4096, 0x620, 12, 20);
    for (const auto& [n, def] : pages) img.set_page(n, def);
    std::unique_ptr<Database> db = img.open().value();
    Result<PageView> page = descend_to_first_leaf(*db, 10);
    const std::size_t at = page.ok() ? static_cast<std::size_t>(page->data.data() - db->bytes().data()) : 0;
    EXPECT_EQ(page.ok() ? std::to_string(at / 4096 - 1) : page.error().to_string(), expected);
  }
}

// The one leaf-chain walk: a page met again and a page that does not load end the
// walk as an error or as the end, as the caller's policy says; an error keeps the
// walk in place; a guard shared by two walks stops the second at the first's pages.
TEST(LeafChainWalk, PolicyDecidesWhatAStopMeans) {
  DbImage img = minimal_image(4096, 0x620, 12, 20);
  for (std::uint32_t n : {10u, 11u, 12u, 13u}) img.set_page(n, leaf_of({"r"}));
  auto link = [&img](std::uint32_t from, std::uint32_t to) { put32(img.bytes(), (from + 1) * 4096 + 20, to); };
  link(10, 11);
  link(11, 10);  // back to the start
  link(12, 30);  // past the end of the file
  link(13, 11);
  std::unique_ptr<Database> db = img.open().value();
  auto run = [&db](std::uint32_t first, ChainPolicy policy, PageChainGuard* shared = nullptr) {
    LeafChainWalk walk(*db, policy, first, db->load_page(first).value(), shared);
    std::string seen = std::to_string(walk.page_number());
    for (;;) {
      const LeafChainWalk::Step step = walk.advance();
      if (step == LeafChainWalk::Step::Page) {
        seen += ' ';
        seen += std::to_string(walk.page_number());
        continue;
      }
      if (step == LeafChainWalk::Step::End) return seen + " end";
      const std::string error = walk.error().to_string();
      EXPECT_EQ(walk.advance(), LeafChainWalk::Step::Error);  // stays where it failed
      return seen + " | " + error;
    }
  };
  const ChainPolicy errors{OnFailure::ReturnError, OnFailure::ReturnError};
  const ChainPolicy ends{OnFailure::PassOver, OnFailure::PassOver};
  EXPECT_EQ(run(10, errors), "10 11 | Parse error: Leaf page chain returns to page 10 (cycle in a damaged tree)");
  EXPECT_EQ(run(10, ends), "10 11 end");
  EXPECT_EQ(run(12, errors), "12 | Invalid page number: 30");
  EXPECT_EQ(run(12, ends), "12 end");
  PageChainGuard claimed(db->total_pages());
  EXPECT_EQ(run(10, ends, &claimed), "10 11 end");
  EXPECT_EQ(run(13, ends, &claimed), "13 end");
}


// A table's own tree decides which leaves are its: the tree's leaves in key order
// whatever the links say, never a page another object owns, then leaves of the owner
// that only a link reaches. Pages are "number" in the result, "| error" at the end.
class TreeLeafWalkTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kOwner = 40;
  TreeLeafWalkTest() : img_(minimal_image(4096, 0x620, 12, 40)) {}

  void page(std::uint32_t n, const PageDef& def, std::uint32_t next = 0, std::uint32_t owner = kOwner) {
    img_.set_page(n, def);
    link(n, next);
    put32(img_.bytes(), (n + 1) * 4096 + 24, owner);
  }
  void link(std::uint32_t from, std::uint32_t to) { put32(img_.bytes(), (from + 1) * 4096 + 20, to); }

  std::string walk(std::uint32_t root, OnFailure links = OnFailure::ReturnError, std::uint32_t owner = kOwner) {
    std::unique_ptr<Database> db = img_.open().value();
    TreeLeafWalk w(*db, root, owner, links);
    std::string seen;
    for (;;) {
      const TreeLeafWalk::Step step = w.advance();
      if (step == TreeLeafWalk::Step::End) break;
      if (step == TreeLeafWalk::Step::Error) {
        seen += "| " + w.error().to_string();
        EXPECT_EQ(w.advance(), TreeLeafWalk::Step::Error);
        break;
      }
      seen += std::to_string(w.page_number()) + " ";
    }
    EXPECT_EQ(w.advance(), seen.find('|') == std::string::npos ? TreeLeafWalk::Step::End : TreeLeafWalk::Step::Error);
    return seen;
  }

  DbImage img_;
};

TEST_F(TreeLeafWalkTest, TreeOrderWhateverTheLinks) {
  page(10, branch_of({11, 12, 13}));
  page(11, leaf_of({"a"}), 12);
  page(12, leaf_of({"b"}), 13);
  page(13, leaf_of({"c"}));
  EXPECT_EQ(walk(10), "11 12 13 ");
  link(11, 13);  // the chain skips 12
  EXPECT_EQ(walk(10), "11 12 13 ");
  link(11, 20);  // the chain leaves into another object's leaves
  page(20, leaf_of({"x"}), 21, 99);
  page(21, leaf_of({"y"}), 13, 99);
  EXPECT_EQ(walk(10), "11 12 13 ");
  link(13, 11);  // a link back to the start: nothing twice, no error
  EXPECT_EQ(walk(10), "11 12 13 ");
  link(12, 12);
  EXPECT_EQ(walk(10), "11 12 13 ");
}

TEST_F(TreeLeafWalkTest, LeavesOnlyALinkReachesComeAfter) {
  page(10, branch_of({11, 12}));
  page(11, leaf_of({"a"}), 14);
  page(12, leaf_of({"b"}), 15);
  page(14, leaf_of({"d"}), 12);  // the owner's, not in the tree
  page(15, leaf_of({"e"}), 16, 0);  // a header naming no owner is taken
  page(16, branch_of({}), 17);      // links lead on through leaves only
  page(17, leaf_of({"g"}));
  EXPECT_EQ(walk(10), "11 12 14 15 ");
  // A root that is itself a leaf: its chain is all there is.
  page(30, leaf_of({"r"}), 31);
  page(31, leaf_of({"s"}), 500);
  EXPECT_EQ(walk(30), "30 31 | Invalid page number: 500");
  EXPECT_EQ(walk(30, OnFailure::PassOver), "30 31 ");
  // Owner 0 (unknown) takes every page.
  EXPECT_EQ(walk(10, OnFailure::ReturnError, 0), "11 12 14 15 ");
}

TEST_F(TreeLeafWalkTest, HostileTreesEndCleanly) {
  PageDef fan = branch_of({});
  for (int k = 0; k < 300; ++k) fan.tags.push_back({0, branch_value("k", k % 3 == 0 ? 11 : k % 3 == 1 ? 10 : 12)});
  page(10, fan);  // names itself, one leaf and a branch 100 times each
  page(11, leaf_of({"a"}), 11);
  page(12, branch_of({13, 20, 500, 0}));  // an owned branch: a leaf, a foreign page, past the end, page 0
  page(13, leaf_of({"b"}), 10);
  page(20, leaf_of({"x"}), 0, 99);
  EXPECT_EQ(walk(10), "11 13 ");
  page(20, branch_of({21}), 0, 99);  // a foreign branch page is not entered
  page(21, leaf_of({"y"}));
  EXPECT_EQ(walk(10), "11 13 ");
  // A root owned by another object gives nothing.
  EXPECT_EQ(walk(20), "");
}

TEST_F(TreeLeafWalkTest, DepthLimitOf64Levels) {
  img_ = minimal_image(4096, 0x620, 12, 100);
  for (std::uint32_t levels : {64u, 65u}) {
    for (std::uint32_t k = 0; k + 1 < levels; ++k) page(10 + k, branch_of({11 + k}));
    page(9 + levels, leaf_of({"deep"}));
    EXPECT_EQ(walk(10), levels == 64 ? "73 " : "");
  }
}

}  // namespace
}  // namespace quarrow
