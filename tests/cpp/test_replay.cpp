// Log replay: the page primitives redo is built from, the real Server 2022 vector (a
// clean copy rolled forward by its later logs), and records a damaged or hostile log
// could carry, fed to the redo engine on a small database built here.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "db_builder.h"
#include "log/log_folder.h"
#include "log/record_types.h"
#include "record/reader.h"
#include "replay/engine.h"
#include "replay/page_edit.h"
#include "replay/replay.h"
#include "replay/write.h"

namespace quarrow::replay {
namespace {

using test::ByteVec;

std::string logs_folder(const std::string& set) {
  const char* env = std::getenv("QUARROW_LOGS");
  const std::string source = __FILE__;
  const std::size_t tests = source.rfind("tests/cpp/");
  const std::string base = env != nullptr && *env != '\0' ? std::string(env)
                           : tests == std::string::npos ? std::string()
                                                        : source.substr(0, tests) + "../shared/logs";
  const std::string path = base + "/" + set;
  std::FILE* f = std::fopen((path + "/SRUDB.dat").c_str(), "rb");
  if (f == nullptr) return "";
  std::fclose(f);
  return path;
}

// A 4 KiB leaf page holding `keys` (data "d" + key), with its free-space words exact.
ByteVec leaf_page(const std::vector<std::string>& keys, std::uint64_t dbtime = 100) {
  ByteVec p(4096, 0);
  PageEditor ed(p);
  ed.initialise(dbtime, 9, 0x802);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    NodeImage n{0, keys[i], "d" + keys[i], 0};
    EXPECT_TRUE(ed.insert_node(static_cast<std::uint16_t>(i), n));
  }
  return p;
}

std::uint16_t word(const ByteVec& p, std::size_t at) { return load_u16le(p, at); }

// ---- Page primitives -------------------------------------------------------------------

TEST(ReplayPage, InsertPlacesNodesAtTheFirstFreeByteAndKeepsTheFreeWordsExact) {
  ByteVec p = leaf_page({"a", "c"});
  PageEditor ed(p);
  // Two nodes of 2 + 1 + 2 bytes at offsets 0 and 5; tag 0 empty.
  ASSERT_TRUE(ed.insert_node(1, NodeImage{0, "b", "db", 0}));
  EXPECT_EQ(ed.nodes(), 3);
  EXPECT_EQ(ed.tag(2)->offset, 10);  // the new node went to the end of the data area
  EXPECT_EQ(ed.tag(3)->offset, 5);   // "c" moved up one tag
  EXPECT_EQ(word(p, 32), 15);        // ibMicFree
  EXPECT_EQ(word(p, 28), 4096 - 40 - 15 - 4 * 4);
  EXPECT_EQ(ed.node(1)->key, "b");
}

TEST(ReplayPage, ReplaceStaysInPlaceWhenItCanAndMovesToTheEndWhenItGrows) {
  ByteVec p = leaf_page({"a", "b", "c"});
  PageEditor ed(p);
  const std::uint16_t free_before = word(p, 28);
  // Shrinking: in place, the freed bytes counted free but not contiguous.
  ASSERT_TRUE(ed.replace_node(0, NodeImage{0, "a", "", 0}));
  EXPECT_EQ(ed.tag(1)->offset, 0);
  EXPECT_EQ(word(p, 32), 15);
  EXPECT_EQ(word(p, 28), free_before + 2);
  // Growing a node that is not last: it moves to the end of the data area.
  ASSERT_TRUE(ed.replace_node(1, NodeImage{0, "b", "0123456789", 0}));
  EXPECT_EQ(ed.tag(2)->offset, 15);
  EXPECT_EQ(word(p, 32), 15 + 13);
  // Growing the last node: it stays where it is.
  ASSERT_TRUE(ed.replace_node(1, NodeImage{0, "b", "0123456789AB", 0}));
  EXPECT_EQ(ed.tag(2)->offset, 15);
  EXPECT_EQ(ed.node(1)->data, "0123456789AB");
}

TEST(ReplayPage, ReorganisesWhenTheFreeBytesAreNotContiguous) {
  ByteVec p = leaf_page({});
  PageEditor ed(p);
  const std::string big(1300, 'x');
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ed.insert_node(static_cast<std::uint16_t>(i), NodeImage{0, std::to_string(i), big, 0}));
  ASSERT_TRUE(ed.delete_node(0));  // 1303 bytes free at the start, not at the end
  ASSERT_LT(ed.contiguous_free(), 1303u);
  ASSERT_TRUE(ed.insert_node(2, NodeImage{0, "3", big, 0}));
  EXPECT_EQ(ed.tag(1)->offset, 0);  // compacted down in offset order
  EXPECT_EQ(ed.tag(2)->offset, 1303);
  EXPECT_EQ(ed.tag(3)->offset, 2 * 1303);
  EXPECT_EQ(ed.node(2)->key, "3");
  // No room at all: an error, the page unchanged.
  const ByteVec before = p;
  EXPECT_FALSE(ed.insert_node(0, NodeImage{0, "4", big, 0}));
  EXPECT_EQ(p, before);
}

TEST(ReplayPage, DeletingTheLastNodeStartsTheDataAreaOver) {
  ByteVec p = leaf_page({"a"});
  PageEditor ed(p);
  ASSERT_TRUE(ed.delete_node(0));
  EXPECT_EQ(word(p, 32), 0);
  EXPECT_EQ(word(p, 28), 4096 - 40 - 4);
}

TEST(ReplayPage, NodesAreStoredAgainstThePagePrefix) {
  ByteVec p = leaf_page({});
  PageEditor ed(p);
  ASSERT_TRUE(ed.replace_tag(0, as_bytes(std::string("prefix-")), 0));
  const std::string key = "prefix-42";
  NodeImage n{prefix_length_for(key, "prefix-"), key, "data", 1};
  ASSERT_TRUE(ed.insert_node(0, n));
  EXPECT_EQ(ed.tag(1)->flags, 0x4 | 0x1);
  EXPECT_EQ(ed.tag(1)->size, 2 + 2 + 2 + 4);  // prefix length, suffix length, "42", data
  EXPECT_EQ(ed.node(0)->key, key);
  // A common part of two bytes or less is stored whole.
  EXPECT_EQ(prefix_length_for("pr", "prefix-"), 0);
}

TEST(ReplayPage, LargePagesKeepNodeFlagsInTheNodeAndAddressPastEightKiB) {
  for (std::uint32_t size : {16384u, 32768u}) {
    ByteVec p(size, 0);
    PageEditor ed(p);
    ed.initialise(100, 9, 0x802);
    EXPECT_EQ(word(p, 28), size - 80 - 4);  // the 80-byte header
    ASSERT_TRUE(ed.replace_tag(0, as_bytes(std::string("prefix-")), 0));
    EXPECT_EQ(ed.tag(0)->flags, 0);
    // Enough nodes that the last lands past the 13-bit offsets of small pages.
    const std::string big(3000, 'x');
    for (std::uint16_t i = 0; i < 4; ++i) {
      const std::string key = "prefix-" + std::to_string(i);
      ASSERT_TRUE(ed.insert_node(i, NodeImage{prefix_length_for(key, "prefix-"), key, big, 0x1}));
    }
    const TagEntry last = *ed.tag(4);
    EXPECT_GT(last.offset, 0x1FFF);
    EXPECT_EQ(word(p, size - 4 * 5 + 2), last.offset);     // no flags in the tag
    EXPECT_EQ(word(p, 80 + last.offset) >> 13, 0x4 | 0x1);  // but in the node's first word
    EXPECT_EQ(ed.node(3)->prefix_length, 7);
    EXPECT_EQ(ed.node(3)->key, "prefix-3");
    ASSERT_TRUE(ed.set_node_flags(3, 0x4 | 0x2));
    EXPECT_EQ(ed.node(3)->flags, 0x4 | 0x2);
    EXPECT_EQ(ed.node(3)->prefix_length, 7);
    // Moved by a reorganisation, the flags travel with the bytes.
    ASSERT_TRUE(ed.delete_node(0));
    ASSERT_TRUE(ed.insert_node(3, NodeImage{0, "z", std::string(size - 80 - 4 * 5 - 3 * 3011 - 7 - 4 - 3, 'y'), 0x1}));
    EXPECT_EQ(ed.tag(1)->offset, 7);  // compacted down behind the prefix
    EXPECT_EQ(ed.node(2)->flags, 0x4 | 0x2);
    EXPECT_EQ(ed.node(2)->key, "prefix-3");
    EXPECT_EQ(ed.node(3)->flags, 0x1);
  }
}

// ---- The real vector -----------------------------------------------------------------

std::map<std::string, std::uint64_t> row_counts(const Database& db) {
  std::map<std::string, std::uint64_t> out;
  for (const auto& entry : db.catalog()) {
    auto reader = open_table_reader(db, entry.second.name);
    EXPECT_TRUE(reader) << entry.second.name;
    if (!reader) continue;
    Record rec;
    std::uint64_t n = 0;
    TableRecordReader::Step step;
    while ((step = reader->next_record(rec)) == TableRecordReader::Step::Record) ++n;
    EXPECT_EQ(step, TableRecordReader::Step::End) << entry.second.name;
    out[entry.second.name] = n;
  }
  return out;
}

// A real set's database opened and its logs replayed onto it (the Database must outlive
// the outcome); the outcome is empty after a failure the test has reported.
struct RealReplay {
  std::unique_ptr<Database> db;
  std::optional<ReplayOutcome> out;
};
RealReplay replay_real_set(const std::string& dir) {
  RealReplay r;
  auto db = Database::open(dir + "/SRUDB.dat");
  auto folder = logs::LogFolder::open(dir);
  if (!db || !folder) {
    ADD_FAILURE() << dir << ": the database or its logs do not open";
    return r;
  }
  r.db = std::move(db).value();
  auto out = replay_logs(*r.db, *folder, ReplayOptions{});
  if (!out) {
    ADD_FAILURE() << dir << ": " << out.error().to_string();
    return r;
  }
  r.out.emplace(std::move(out).value());
  return r;
}

TEST(ReplayRealLogs, Server2022CopyRollsForwardToTheLaterState) {
  const std::string dir = logs_folder("srum-ws2022");
  if (dir.empty()) GTEST_SKIP() << "real log sets not available";
  auto real = replay_real_set(dir);
  ASSERT_TRUE(real.out);
  auto* db = &real.db;
  auto& out = real.out;
  const ReplayReport& r = out->report;
  EXPECT_EQ(r.generations, (std::vector<std::uint32_t>{2, 3, 4, 5}));
  EXPECT_EQ(r.dbtime_before, 457u);
  EXPECT_EQ(r.dbtime_after, 1566u);
  EXPECT_EQ(r.writes_at_before, 1032u);
  EXPECT_EQ(r.writes_creating, 86u);
  EXPECT_EQ(r.writes_same_operation, 34u);
  EXPECT_EQ(r.writes_already_applied, 0u);
  EXPECT_EQ(r.pages_changed + r.pages_created, 61u);
  EXPECT_EQ(out->overlay->written_pages(), 61u);
  EXPECT_EQ(r.macros_applied, 19u);
  EXPECT_EQ(r.transactions_committed, 18u);
  EXPECT_EQ(r.transactions_undone_at_end, 0u);
  // The record types the vector exercises.
  using namespace logfmt;
  const std::map<std::uint8_t, std::uint64_t> seen = {
      {kInsert, 964}, {kReplace, 21}, {kFlagDelete, 4}, {kDelete, 5}, {kSetExternalHeader, 20},
      {kNewPage, 43}, {kCreateSingleExtentFDP, 18}, {kConvertFDP2, 3}, {kSplit2, 34}, {kMacroCommit, 19}};
  for (const auto& [type, n] : seen) EXPECT_EQ(r.records_by_type[type], n) << int(type);
  for (std::uint8_t t : {kReplaceD, kFlagInsert, kFlagInsertAndReplaceData, kDelta, kDelta64, kUndoInfo, kUndo,
                         kMerge2, kEmptyTree, kPageMove, kCreateMultipleExtentFDP}) {
    EXPECT_EQ(r.records_by_type[t], 0u) << int(t);
  }
  // The replayed database, read as every reader reads it.
  auto replayed = Database::over_pages(**db, out->overlay, out->header);
  ASSERT_TRUE(replayed) << replayed.error().to_string();
  const auto counts = row_counts(**replayed);
  EXPECT_EQ(counts.size(), 12u);
  const std::map<std::string, std::uint64_t> expected = {
      {"MSysObjects", 161}, {"MSysObjectsShadow", 161}, {"MSysObjids", 28}, {"SruDbIdMapTable", 96},
      {"{17F4D97B-F26A-5E79-3A82-90040A47D13D}", 4}, {"{841A7317-3805-518B-C2EA-AD224CB4AF84}", 2},
      {"{D10CA2FE-6FCF-4F6D-848E-B2E99266FA89}", 153}, {"{DC3D3B50-BB90-5066-FA4E-A5F90DD8B677}", 2},
      {"{DD6636C4-8929-4683-974E-22C046A43763}", 4}, {"{EEE2F477-0659-5C47-EF03-6D6BEFD441B3}", 2}};
  for (const auto& [name, n] : expected) {
    auto it = counts.find(name);
    ASSERT_NE(it, counts.end()) << name;
    EXPECT_EQ(it->second, n) << name;
  }
  // Rows are only added: the copy's tables keep every row they had.
  for (const auto& [name, n] : row_counts(**db)) EXPECT_GE(counts.at(name), n) << name;
  // The header as recovery leaves it.
  EXPECT_EQ(load_u32le(out->header, kHeaderStateOffset), kStateCleanShutdown);
  EXPECT_EQ(load_u64le(out->header, kHeaderDatabaseTimeOffset), 1566u);
}

TEST(ReplayRealLogs, DatabasesTheirLogsDoNotChangeStayAsTheyAre) {
  for (const char* set : {"srum-belka", "srum-w11"}) {
    const std::string dir = logs_folder(set);
    if (dir.empty()) GTEST_SKIP() << "real log sets not available";
    auto real = replay_real_set(dir);
    ASSERT_TRUE(real.out) << set;
    auto* db = &real.db;
    auto& out = real.out;
    EXPECT_FALSE(out->report.needed) << set;
    EXPECT_EQ(out->overlay->written_pages(), 0u) << set;
    // The written copy: pages byte for byte the file's.
    ByteVec bytes;
    ASSERT_TRUE(write_replayed(**db, *out, [&](Bytes b) -> Status {
      bytes.insert(bytes.end(), b.begin(), b.end());
      return {};
    }));
    const Bytes file = (*db)->bytes();
    ASSERT_EQ(bytes.size(), file.size()) << set;
    EXPECT_TRUE(std::equal(bytes.begin() + 2 * (*db)->page_size(), bytes.end(), file.begin() + 2 * (*db)->page_size())) << set;
  }
}

// ---- Records a damaged or hostile log may hold ----------------------------------------

// A leaf of a three-leaf tree, linked to its siblings; `prefix` is its key prefix.
ByteVec tree_leaf(const std::vector<std::string>& keys, std::uint32_t previous, std::uint32_t next,
                  const std::string& prefix = "") {
  ByteVec p(4096, 0);
  PageEditor ed(p);
  ed.initialise(100, 9, 0x802);
  ed.set_previous(previous);
  ed.set_next(next);
  EXPECT_TRUE(ed.replace_tag(0, as_bytes(prefix), 0));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    NodeImage n{prefix_length_for(keys[i], prefix), keys[i], "d" + keys[i], 0};
    EXPECT_TRUE(ed.insert_node(static_cast<std::uint16_t>(i), n));
  }
  return p;
}

// A database of pages 1..10. Page 5 is a leaf with nodes "a", "b", "c"; pages 7, 8 and 9
// are the leaves of a tree whose root is page 10 (rows "row-a" to "row-i", three a page;
// page 9 stores its keys against the prefix "row-h"). Every page is at dbtime 100.
struct SmallDatabase {
  std::unique_ptr<Database> db;
  SmallDatabase() {
    test::DbImage img = test::minimal_image(4096, 0x620, 12, 10);
    auto put = [&](std::uint32_t page, const ByteVec& bytes) {
      std::copy(bytes.begin(), bytes.end(), img.bytes().begin() + (page + 1) * 4096);
    };
    put(5, leaf_page({"a", "b", "c"}));
    put(7, tree_leaf({"row-a", "row-b", "row-c"}, 0, 8));
    put(8, tree_leaf({"row-d", "row-e", "row-f"}, 7, 9));
    put(9, tree_leaf({"row-g", "row-h", "row-i"}, 8, 0, "row-h"));
    ByteVec root(4096, 0);
    PageEditor ed(root);
    ed.initialise(100, 9, 0x805);  // root, parent of leaves
    EXPECT_TRUE(ed.replace_tag(0, as_bytes(std::string(16, '\0')), 0));
    const std::pair<std::string, std::uint32_t> pointers[] = {{"row-d", 7}, {"row-g", 8}, {"", 9}};
    for (std::uint16_t i = 0; i < 3; ++i) {
      std::string data(4, '\0');
      data[0] = static_cast<char>(pointers[i].second);
      EXPECT_TRUE(ed.insert_node(i, NodeImage{0, pointers[i].first, data, 0}));
    }
    put(10, root);
    db = std::move(img.open()).value();
  }
};

struct Rec {
  std::uint8_t type;
  ByteVec bytes;
};

ByteVec page_part(std::uint8_t type, std::uint32_t page, std::uint64_t after, std::uint64_t before,
                  std::uint16_t iline = 0, std::uint8_t level = 0, std::uint8_t flags = 0x04, std::uint16_t procid = 7) {
  ByteVec b(44, 0);
  b[0] = type;
  test::put16(b, 1, procid);
  b[3] = 1;  // dbid
  test::put32(b, 4, page);
  test::put32(b, 8, static_cast<std::uint32_t>(after));
  test::put32(b, 12, static_cast<std::uint32_t>(after >> 32));
  test::put32(b, 16, static_cast<std::uint32_t>(before));
  test::put32(b, 20, static_cast<std::uint32_t>(before >> 32));
  b[28] = level;
  test::put16(b, 29, iline);
  b[31] = flags;
  test::put32(b, 32, 77);  // rceid
  test::put32(b, 36, 5);   // root
  test::put32(b, 40, 9);   // objid
  return b;
}

void append(ByteVec& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

Rec insert(std::uint32_t page, std::uint64_t after, std::uint64_t before, std::uint16_t iline, const std::string& key,
           const std::string& data, std::uint8_t level = 0, std::uint8_t flags = 0x04) {
  ByteVec b = page_part(logfmt::kInsert, page, after, before, iline, level, flags);
  b.resize(50);
  test::put16(b, 44, static_cast<std::uint16_t>(key.size()));
  test::put16(b, 46, 0);
  test::put16(b, 48, static_cast<std::uint16_t>(data.size()));
  append(b, key);
  append(b, data);
  return {logfmt::kInsert, b};
}

Rec replace(std::uint32_t page, std::uint64_t after, std::uint64_t before, std::uint16_t iline, const std::string& data,
            std::uint8_t level = 0, std::uint8_t flags = 0x04) {
  ByteVec b = page_part(logfmt::kReplace, page, after, before, iline, level, flags);
  b.resize(50);
  test::put16(b, 44, static_cast<std::uint16_t>(data.size()));
  test::put16(b, 48, static_cast<std::uint16_t>(data.size()));
  append(b, data);
  return {logfmt::kReplace, b};
}

Rec undo(std::uint32_t page, std::uint64_t after, std::uint64_t before, std::uint16_t iline, std::uint16_t oper) {
  ByteVec b = page_part(logfmt::kUndo, page, after, before, iline, 1, 0x05);
  b.resize(51);
  test::put16(b, 48, oper);
  return {logfmt::kUndo, b};
}

Rec trx(std::uint8_t type, std::uint8_t arg, std::uint16_t procid = 7) {
  ByteVec b(type == logfmt::kBegin0 || type == logfmt::kCommit0 ? 8 : 4, 0);
  b[0] = type;
  test::put16(b, 1, procid);
  b[3] = arg;
  return {type, b};
}

Rec macro(std::uint8_t type, std::uint64_t dbtime) {
  ByteVec b(11, 0);
  b[0] = type;
  test::put16(b, 1, 7);
  test::put32(b, 3, static_cast<std::uint32_t>(dbtime));
  return {type, b};
}

Rec split(std::uint32_t page, std::uint32_t new_page, std::uint16_t lines, std::uint16_t iline_split,
          const ByteVec& image = {}) {
  ByteVec b = page_part(logfmt::kSplit2, page, 101, 100);
  b.resize(110);
  std::fill(b.begin() + 32, b.begin() + 44, 0);  // no node part: right sibling and its dbtime
  test::put32(b, 32, new_page);
  b[68] = 2;  // append
  b[69] = 1;  // insert
  test::put16(b, 70, 3);
  test::put16(b, 72, iline_split);
  test::put16(b, 74, lines);
  test::put32(b, 76, 0x802);
  test::put32(b, 88, 0xFFFFFFFFu);
  test::put32(b, 92, 0);
  test::put32(b, 106, static_cast<std::uint32_t>(image.size()));  // uncompressed image: flags 0
  b.insert(b.end(), image.begin(), image.end());
  return {logfmt::kSplit2, b};
}

// One level of a merge (Merge2): `type` 0 is a parent level, changing the page pointer
// at `iline`; a leaf level names the merged page's siblings (both at dbtime 100).
Rec merge(std::uint32_t page, std::uint8_t type, std::uint8_t flags, std::uint16_t iline, std::uint16_t iline_merge = 0,
          std::uint32_t left = 0, std::uint32_t right = 0, const std::string& separator = "", const ByteVec& image = {},
          std::uint64_t before = 100) {
  ByteVec b = page_part(logfmt::kMerge2, page, 101, before, iline);
  b.resize(96);
  std::fill(b.begin() + 32, b.end(), 0);
  test::put32(b, 32, right);
  test::put32(b, 36, right != 0 ? 100 : 0);
  test::put32(b, 44, left);
  test::put32(b, 48, left != 0 ? 100 : 0);
  test::put32(b, 68, 10);  // root
  test::put32(b, 72, 9);   // objid
  test::put16(b, 82, iline_merge);
  b[84] = flags;
  b[85] = type;
  test::put16(b, 86, static_cast<std::uint16_t>(separator.size()));
  test::put32(b, 92, static_cast<std::uint32_t>(image.size()));  // uncompressed image: flags 0
  append(b, separator);
  b.insert(b.end(), image.begin(), image.end());
  return {logfmt::kMerge2, b};
}

constexpr std::uint8_t kKeyChange = 0x1, kDeleteNode = 0x2, kEmpties = 0x4;
constexpr std::uint8_t kEmptyPage = 1, kFullRight = 2, kPartialRight = 3, kFullLeft = 5, kPartialLeft = 6;

std::vector<Rec> merge_macro(std::vector<Rec> levels) {
  levels.insert(levels.begin(), macro(logfmt::kMacroBegin, 101));
  levels.push_back(macro(logfmt::kMacroCommit, 101));
  return levels;
}

struct EngineRun {
  SmallDatabase small;
  ReplayReport report;
  ReplayOptions options;
  std::shared_ptr<PageOverlay> overlay;
  std::unique_ptr<Engine> engine;
  EngineRun() {
    overlay = std::make_shared<PageOverlay>(small.db->bytes(), 4096, small.db->total_pages());
    engine = std::make_unique<Engine>(*small.db, options, report, overlay);
  }
  Status feed(const std::vector<Rec>& recs) {
    std::uint16_t at = 0x100;
    for (const Rec& r : recs) {
      logs::LogRecord lr{logs::LogPosition{3, 1, at++}, r.type, Bytes(r.bytes.data(), r.bytes.size()), {}, false};
      if (Status st = engine->feed(lr, logs::summarize(lr)); !st) return st;
    }
    return engine->finish();
  }
  PageEditor page(std::uint32_t n) { return PageEditor(overlay->write(n)); }
};

struct HostileCase {
  const char* name;
  std::vector<Rec> records;
  const char* error;
};

class ReplayHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ReplayHostile, EndsInAnErrorNamingThePositionAndPage) {
  EngineRun run;
  Status st = run.feed(GetParam().records);
  ASSERT_FALSE(st) << GetParam().name;
  const std::string text = st.error().to_string();
  EXPECT_NE(text.find(GetParam().error), std::string::npos) << text;
  EXPECT_NE(text.find("log position 000003,0001,"), std::string::npos) << text;
}

const std::string kHuge(4090, 'x');

INSTANTIATE_TEST_SUITE_P(
    Records, ReplayHostile,
    ::testing::Values(
        HostileCase{"iline past the nodes", {insert(5, 101, 100, 60000, "z", "")}, "past the page's"},
        HostileCase{"page past the database", {insert(500, 101, 100, 0, "z", "")}, "not one of the database's pages"},
        HostileCase{"page zero", {insert(0, 101, 100, 0, "z", "")}, "not one of the database's pages"},
        HostileCase{"page older than the record", {insert(5, 101, 90, 0, "z", "")}, "dbtime mismatch"},
        HostileCase{"page between before and after", {insert(5, 120, 99, 0, "z", "")}, "dbtime mismatch"},
        HostileCase{"node larger than the page", {insert(5, 101, 100, 0, "z", kHuge)}, "does not fit"},
        HostileCase{"replace past the nodes", {replace(5, 101, 100, 0xFFFF, "q")}, "past the page's"},
        HostileCase{"undo of a replace without its before-image", {undo(5, 101, 100, 0, 2)}, "before-image"},
        HostileCase{"split into a page past the database",
                    {macro(logfmt::kMacroBegin, 101), split(5, 9999, 4, 3), insert(5, 101, logfmt::kDbtimeNil, 3, "d", "dd"),
                     macro(logfmt::kMacroCommit, 101)},
                    "not one of the database's pages"},
        HostileCase{"split of more lines than the page has",
                    {macro(logfmt::kMacroBegin, 101), split(5, 6, 50, 3), insert(5, 101, logfmt::kDbtimeNil, 3, "d", "dd"),
                     macro(logfmt::kMacroCommit, 101)},
                    "the split names 50 lines"},
        HostileCase{"split without its operation",
                    {macro(logfmt::kMacroBegin, 101), split(5, 6, 4, 3), macro(logfmt::kMacroCommit, 101)},
                    "without the operation"},
        HostileCase{"merge into a page past the database",
                    merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 9999)}),
                    "not one of the database's pages"},
        HostileCase{"merge moving from past the nodes",
                    merge_macro({merge(10, 0, kKeyChange, 1), merge(8, kPartialRight, 0, 0, 60000, 7, 9, "x")}),
                    "moves from node 60000 of 3"},
        HostileCase{"merge deleting a pointer past the nodes",
                    merge_macro({merge(10, 0, kDeleteNode, 60000), merge(8, kFullRight, kEmpties, 0, 0, 7, 9)}),
                    "past the page's"},
        HostileCase{"merge whose sibling is older than the record",
                    merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 9, "", {}, 90)}),
                    "dbtime mismatch"},
        HostileCase{"merge naming one page twice",
                    merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 9, 9)}),
                    "naming one page twice"},
        HostileCase{"merge of an unknown type", merge_macro({merge(8, 7, kEmpties, 0, 0, 7, 9)}), "unknown merge type 7"},
        HostileCase{"merge without its leaf level", merge_macro({merge(10, 0, kDeleteNode, 1)}), "without its leaf level"},
        HostileCase{"merge whose key runs past the record",
                    [] {
                      Rec r = merge(8, kPartialRight, 0, 0, 1, 7, 9, "row-e");
                      test::put16(r.bytes, 86, 0xFFFF);
                      return merge_macro({r});
                    }(),
                    "runs past its end"},
        HostileCase{"merge into a sibling the record does not name",
                    merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 0)}),
                    "does not name"}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return n;
    });

TEST(ReplayEngine, PagesPastTheMemoryLimitAreAnError) {
  EngineRun run;
  run.options.max_overlay_bytes = 4096;  // one page
  const Status st = run.feed({insert(5, 101, 100, 0, "0", "d0"), insert(4, 101, 0, 0, "0", "d0")});
  ASSERT_FALSE(st);
  EXPECT_NE(st.error().to_string().find("more pages than the replay may hold"), std::string::npos);
  EXPECT_EQ(run.overlay->written_pages(), 1u);
}

TEST(ReplayEngine, NodeChangesNameTheRowBeforeAndAfter) {
  EngineRun run;
  std::vector<NodeChange> seen;
  run.options.on_node_change = [&](const NodeChange& c) { seen.push_back(c); };
  ByteVec fd = page_part(logfmt::kFlagDelete, 5, 103, 102, 2);
  ByteVec del = page_part(logfmt::kDelete, 5, 104, 103, 0);
  ASSERT_TRUE(run.feed({replace(5, 101, 100, 1, "new"), insert(5, 102, 101, 3, "d", "dd"), {logfmt::kFlagDelete, fd},
                        {logfmt::kDelete, del}}));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].key, "b");  // the replace names the row the record does not
  EXPECT_EQ(seen[0].before, "db");
  EXPECT_EQ(seen[0].after, "new");
  EXPECT_EQ(seen[1].key, "d");
  EXPECT_EQ(seen[1].after, "dd");
  EXPECT_EQ(seen[2].key, "c");  // flag-delete and delete: the row as it was
  EXPECT_EQ(seen[2].before, "dc");
  EXPECT_EQ(seen[3].key, "a");
  EXPECT_EQ(seen[3].before, "da");
  for (const NodeChange& c : seen) EXPECT_EQ(c.objid, 9u);
}

TEST(ReplayEngine, AMacroThatNeverCommitsChangesNothing) {
  EngineRun run;
  ASSERT_TRUE(run.feed({macro(logfmt::kMacroBegin, 101), insert(5, 101, 100, 0, "0", "d0")}));
  EXPECT_EQ(run.report.macros_dropped, 1u);
  EXPECT_EQ(run.overlay->written_pages(), 0u);
}

TEST(ReplayEngine, AppendSplitDealsTheLinesOutAndLinksTheLeaves) {
  EngineRun run;
  const Status st = run.feed({macro(logfmt::kMacroBegin, 101), split(5, 6, 4, 3),
                              insert(5, 101, logfmt::kDbtimeNil, 3, "ddd", "dd", 0, 0x05), macro(logfmt::kMacroCommit, 101)});
  ASSERT_TRUE(st) << st.error().to_string();
  PageEditor left = run.page(5), right = run.page(6);
  EXPECT_EQ(left.nodes(), 3);
  ASSERT_EQ(right.nodes(), 1);
  EXPECT_EQ(right.node(0)->key, "ddd");
  EXPECT_EQ(right.node(0)->prefix_length, 3);  // the new page's prefix is the inserted key
  EXPECT_EQ(right.node(0)->flags & 0x1, 0x1);  // versioned, as the record says
  EXPECT_EQ(left.next(), 6u);
  EXPECT_EQ(right.previous(), 5u);
  EXPECT_EQ(left.dbtime(), 101u);
  EXPECT_EQ(right.dbtime(), 101u);
  EXPECT_EQ(run.report.records_applied, 2u);
}

TEST(ReplayEngine, ANewerSplitPageLeavesTheNewPageToTheLoggedImage) {
  // The file has the split page after the split (a database flushed mid-way) but not
  // the new page: the new page is built from the image, the split page left alone.
  EngineRun run;
  const ByteVec image = leaf_page({"a", "b", "c"});
  PageEditor(run.overlay->write(5)).set_dbtime(150);
  const ByteVec newer(run.overlay->page(5).begin(), run.overlay->page(5).end());
  const Status st = run.feed({macro(logfmt::kMacroBegin, 101), split(5, 6, 4, 3, image),
                              insert(5, 101, logfmt::kDbtimeNil, 3, "ddd", "dd", 0, 0x05), macro(logfmt::kMacroCommit, 101)});
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_TRUE(std::equal(newer.begin(), newer.end(), run.overlay->page(5).begin()));
  ASSERT_EQ(run.page(6).nodes(), 1);
  EXPECT_EQ(run.page(6).node(0)->key, "ddd");
  EXPECT_EQ(run.page(6).previous(), 5u);
  // Without an image the same log is an error, not a new page left empty.
  EngineRun bare;
  PageEditor(bare.overlay->write(5)).set_dbtime(150);
  const Status none = bare.feed({macro(logfmt::kMacroBegin, 101), split(5, 6, 4, 3),
                                 insert(5, 101, logfmt::kDbtimeNil, 3, "ddd", "dd", 0, 0x05), macro(logfmt::kMacroCommit, 101)});
  ASSERT_FALSE(none);
  EXPECT_NE(none.error().to_string().find("logged no page image"), std::string::npos) << none.error().to_string();
}

// ---- Merges ---------------------------------------------------------------------------

std::vector<std::string> keys_of(PageEditor p) {
  std::vector<std::string> out;
  for (std::uint16_t i = 0; i < p.nodes(); ++i) out.push_back(p.node(i)->key);
  return out;
}

std::vector<std::pair<std::string, std::uint32_t>> pointers_of(PageEditor p) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  for (std::uint16_t i = 0; i < p.nodes(); ++i) {
    auto n = p.node(i);
    out.emplace_back(n->key, load_u32le(as_bytes(n->data), 0));
  }
  return out;
}

struct MergeCase {
  const char* name;
  std::vector<Rec> levels;
  std::uint16_t deleted_on_8;  // node of page 8 flag-deleted before the merge (0xFFFF: none)
  std::vector<std::pair<std::string, std::uint32_t>> root;
  std::map<std::uint32_t, std::vector<std::string>> leaves;
  std::uint32_t emptied;  // the page the merge empties (0: none)
  std::vector<std::array<std::uint32_t, 3>> links;  // page, previous, next
};

class ReplayMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(ReplayMerge, MovesTheNodesAndFixesParentAndSiblings) {
  const MergeCase& c = GetParam();
  EngineRun run;
  if (c.deleted_on_8 != 0xFFFF) ASSERT_TRUE(run.page(8).set_node_flags(c.deleted_on_8, 0x2));
  const Status st = run.feed(merge_macro(c.levels));
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_EQ(pointers_of(run.page(10)), c.root);
  for (const auto& [page, keys] : c.leaves) EXPECT_EQ(keys_of(run.page(page)), keys) << "page " << page;
  std::set<std::uint32_t> changed = {10};
  if (c.emptied != 0) changed.insert(c.emptied);
  for (const auto& [page, keys] : c.leaves) changed.insert(page);
  for (const auto& link : c.links) changed.insert(link[0]);
  for (std::uint32_t page : {7u, 8u, 9u}) {
    EXPECT_EQ((run.page(page).flags() & 0x8) != 0, page == c.emptied) << "page " << page;
    if (changed.count(page) != 0) EXPECT_EQ(run.page(page).dbtime(), 101u) << "page " << page;
  }
  if (c.emptied == 9) EXPECT_EQ(run.page(7).dbtime(), 100u);  // not named by the merge
  if (c.emptied != 0) {
    EXPECT_EQ(run.page(c.emptied).nodes(), 0);
    EXPECT_EQ(run.page(c.emptied).tag(0)->size, 0);
  }
  for (const auto& [page, previous, next] : c.links) {
    EXPECT_EQ(run.page(page).previous(), previous) << "page " << page;
    EXPECT_EQ(run.page(page).next(), next) << "page " << page;
  }
  EXPECT_EQ(run.report.macros_applied, 1u);
  EXPECT_EQ(run.report.records_applied, 2u);
}

const std::uint16_t kNone = 0xFFFF;

INSTANTIATE_TEST_SUITE_P(
    Types, ReplayMerge,
    ::testing::Values(
        // Page 8 whole into page 9; its flag-deleted "row-e" is dropped, not moved.
        MergeCase{"full_right",
                  {merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 9)},
                  1,
                  {{"row-d", 7}, {"", 9}},
                  {{9, {"row-d", "row-f", "row-g", "row-h", "row-i"}}},
                  8,
                  {{7, 0, 9}, {9, 7, 0}}},
        // Page 8 whole onto the end of page 7: the pointer to 8 now leads to 7, 7's goes.
        MergeCase{"full_left",
                  {merge(10, 0, kDeleteNode | kKeyChange, 1), merge(8, kFullLeft, kEmpties, 0, 2, 7, 9)},
                  kNone,
                  {{"row-g", 7}, {"", 9}},
                  {{7, {"row-a", "row-b", "row-c", "row-d", "row-e", "row-f"}}},
                  8,
                  {{7, 0, 9}, {9, 7, 0}}},
        // Page 8 from node 1 on to the front of page 9; page 8's flag-deleted "row-d" is
        // outside the moved range and stays.
        MergeCase{"partial_right",
                  {merge(10, 0, kKeyChange, 1), merge(8, kPartialRight, 0, 0, 1, 7, 9, "row-e")},
                  0,
                  {{"row-d", 7}, {"row-e", 8}, {"", 9}},
                  {{8, {"row-d"}}, {9, {"row-e", "row-f", "row-g", "row-h", "row-i"}}},
                  0,
                  {{7, 0, 8}, {8, 7, 9}, {9, 8, 0}}},
        // Page 8's first node onto the end of page 7, whose separator changes.
        MergeCase{"partial_left",
                  {merge(10, 0, kKeyChange, 1), merge(8, kPartialLeft, 0, 0, 0, 7, 9, "row-e")},
                  kNone,
                  {{"row-e", 7}, {"row-g", 8}, {"", 9}},
                  {{7, {"row-a", "row-b", "row-c", "row-d"}}, {8, {"row-e", "row-f"}}},
                  0,
                  {{7, 0, 8}, {8, 7, 9}}},
        // The last page emptied: its unkeyed pointer goes and the one before becomes unkeyed.
        MergeCase{"empty_page",
                  {merge(10, 0, kDeleteNode, 2), merge(9, kEmptyPage, kEmpties, 0, 0, 8, 0)},
                  kNone,
                  {{"row-d", 7}, {"", 8}},
                  {{8, {"row-d", "row-e", "row-f"}}},
                  9,
                  {{8, 7, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayEngine, MergedNodesTakeTheDestinationsPrefixAndItsUncommittedFreeBytes) {
  EngineRun run;
  Rec leaf = merge(8, kFullRight, kEmpties, 0, 0, 7, 9);
  test::put16(leaf.bytes, 80, 12);  // the destination's uncommitted free bytes
  ASSERT_TRUE(run.feed(merge_macro({merge(10, 0, kDeleteNode, 1), leaf})));
  PageEditor right = run.page(9);
  for (std::uint16_t i = 0; i < right.nodes(); ++i) {
    // Against the prefix "row-h": "row-" in common, all of "row-h" for that key.
    EXPECT_EQ(right.node(i)->prefix_length, right.node(i)->key == "row-h" ? 5 : 4) << i;
    EXPECT_EQ(right.node(i)->data, "d" + right.node(i)->key);
  }
  EXPECT_EQ(load_u16le(run.overlay->page(9), 30), 12);
}

TEST(ReplayEngine, TheOlderMergeRecordWithoutAnImageIsRedoneAlike) {
  // The older Merge record: the same fields, the separator key at 88, no page image.
  auto older = [](Rec r) {
    r.type = logfmt::kMerge;
    r.bytes[0] = logfmt::kMerge;
    r.bytes.erase(r.bytes.begin() + 88, r.bytes.begin() + 96);
    return r;
  };
  EngineRun run;
  const Status st = run.feed(merge_macro({older(merge(10, 0, kKeyChange, 1)),
                                          older(merge(8, kPartialRight, 0, 0, 1, 7, 9, "row-e"))}));
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_EQ(keys_of(run.page(8)), (std::vector<std::string>{"row-d"}));
  EXPECT_EQ(pointers_of(run.page(10))[1], (std::pair<std::string, std::uint32_t>{"row-e", 8}));
}

TEST(ReplayEngine, MergePagesAlreadyMergedInTheFileAreLeftAlone) {
  EngineRun run;
  for (std::uint32_t page : {7u, 8u, 9u, 10u}) PageEditor(run.overlay->write(page)).set_dbtime(101);
  std::vector<ByteVec> before;
  for (std::uint32_t page : {7u, 8u, 9u, 10u}) before.emplace_back(run.overlay->page(page).begin(), run.overlay->page(page).end());
  ASSERT_TRUE(run.feed(merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 9)})));
  int k = 0;
  for (std::uint32_t page : {7u, 8u, 9u, 10u}) {
    EXPECT_TRUE(std::equal(before[k].begin(), before[k].end(), run.overlay->page(page).begin())) << page;
    ++k;
  }
  EXPECT_EQ(run.report.records_in_file, 2u);
}

TEST(ReplayEngine, ANewerMergedPageIsRebuiltFromTheLoggedImage) {
  // The file has page 8 after the merge (a database flushed mid-way) but not page 9:
  // the engine puts the image back and redoes both.
  const auto levels = [](const ByteVec& image) {
    return merge_macro({merge(10, 0, kDeleteNode, 1), merge(8, kFullRight, kEmpties, 0, 0, 7, 9, "", image)});
  };
  EngineRun run;
  ByteVec image(run.overlay->page(8).begin(), run.overlay->page(8).end());
  PageEditor(image).set_dbtime(101);
  ASSERT_TRUE(run.page(8).delete_node(0));
  run.page(8).set_dbtime(150);
  const Status st = run.feed(levels(image));
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_EQ(keys_of(run.page(9)), (std::vector<std::string>{"row-d", "row-e", "row-f", "row-g", "row-h", "row-i"}));
  EXPECT_EQ(run.page(8).nodes(), 0);
  EXPECT_EQ(run.page(8).dbtime(), 101u);
  // Without an image the same log is an error, not a destination left without the nodes.
  EngineRun bare;
  bare.page(8).set_dbtime(150);
  const Status none = bare.feed(levels({}));
  ASSERT_FALSE(none);
  EXPECT_NE(none.error().to_string().find("logged no page image"), std::string::npos) << none.error().to_string();
}

// ---- Page moves -----------------------------------------------------------------------

// Page 8 of the tree (pointer 1 of root 10, between 7 and 9) moved to page 6; `parts` is
// the page's logged header and trailer parts.
Rec page_move(std::uint32_t flags = 0, const std::pair<ByteVec, ByteVec>& parts = {}, std::uint32_t dest = 6,
              std::int32_t parent_iline = 1) {
  ByteVec b = page_part(logfmt::kPageMove, 8, 101, 100);
  b.resize(96);
  std::fill(b.begin() + 32, b.end(), 0);
  test::put32(b, 32, dest);
  test::put32(b, 36, 7);
  test::put32(b, 40, 9);
  test::put32(b, 44, 10);
  for (std::size_t at : {48u, 56u, 64u}) test::put32(b, at, 100);
  test::put32(b, 72, 10);
  test::put32(b, 76, 9);
  test::put32(b, 80, static_cast<std::uint32_t>(parent_iline));
  test::put32(b, 84, flags);
  test::put32(b, 88, static_cast<std::uint32_t>(parts.first.size()));
  test::put32(b, 92, static_cast<std::uint32_t>(parts.second.size()));
  b.insert(b.end(), parts.first.begin(), parts.first.end());
  b.insert(b.end(), parts.second.begin(), parts.second.end());
  return {logfmt::kPageMove, b};
}

TEST(ReplayEngine, AMovedPageIsCopiedEmptiedAndRelinked) {
  EngineRun run;
  const ByteVec moved(run.overlay->page(8).begin(), run.overlay->page(8).end());
  const Status st = run.feed({page_move()});
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_TRUE(std::equal(moved.begin() + 16, moved.end(), run.overlay->page(6).begin() + 16));  // all but dbtime
  EXPECT_EQ(run.page(6).dbtime(), 101u);
  EXPECT_EQ(keys_of(run.page(6)), (std::vector<std::string>{"row-d", "row-e", "row-f"}));
  EXPECT_EQ(run.page(8).nodes(), 0);
  EXPECT_NE(run.page(8).flags() & 0x8, 0u);
  EXPECT_EQ(pointers_of(run.page(10)), (std::vector<std::pair<std::string, std::uint32_t>>{{"row-d", 7}, {"row-g", 6}, {"", 9}}));
  EXPECT_EQ(run.page(7).next(), 6u);
  EXPECT_EQ(run.page(9).previous(), 6u);
  for (std::uint32_t page : {7u, 8u, 9u, 10u}) EXPECT_EQ(run.page(page).dbtime(), 101u) << page;
}

TEST(ReplayEngine, AMovedPageTheFileHoldsEmptiedIsRebuiltFromItsLoggedParts) {
  EngineRun run;
  const ByteVec moved(run.overlay->page(8).begin(), run.overlay->page(8).end());
  PageEditor ed(run.overlay->write(8));
  const std::size_t used = 40 + ed.tag(3)->offset + ed.tag(3)->size, tags = 4 * 4;
  const ByteVec header(moved.begin(), moved.begin() + static_cast<std::ptrdiff_t>(used));
  const ByteVec trailer(moved.end() - static_cast<std::ptrdiff_t>(tags), moved.end());
  ASSERT_TRUE(ed.delete_node(0));
  ed.set_dbtime(150);  // the file has the page after the move
  const Status st = run.feed({page_move(0, {header, trailer})});
  ASSERT_TRUE(st) << st.error().to_string();
  EXPECT_EQ(keys_of(run.page(6)), (std::vector<std::string>{"row-d", "row-e", "row-f"}));
  EXPECT_EQ(run.page(8).nodes(), 0);
}

TEST(ReplayEngine, RootPageMovesAndMovesThatDoNotFitTheTreeAreErrors) {
  const std::pair<Rec, const char*> cases[] = {
      {page_move(0x1), "tree root's page move is not supported"},
      {page_move(0, {ByteVec(4000, 1), ByteVec(200, 2)}), "larger than a page"},
      {page_move(0, {}, 8), "naming one page twice"},
      {page_move(0, {}, 6, 2), "does not lead to the moved page"},
      {page_move(0, {}, 6, 70000), "past its 3 nodes"},
  };
  for (const auto& [rec, error] : cases) {
    EngineRun run;
    const Status st = run.feed({rec});
    ASSERT_FALSE(st) << error;
    EXPECT_NE(st.error().to_string().find(error), std::string::npos) << st.error().to_string();
    EXPECT_NE(st.error().to_string().find("log position 000003,0001,"), std::string::npos);
  }
}

TEST(ReplayEngine, TransactionsLeftOpenAreUndoneAndRolledBackOnesStayUndone) {
  {  // An insert and a replace of a transaction that never commits.
    EngineRun run;
    ASSERT_TRUE(run.feed({trx(logfmt::kBegin0, 0x10), insert(5, 101, 100, 3, "d", "dd", 1, 0x05),
                          replace(5, 102, 101, 0, "new", 1, 0x05)}));
    PageEditor p = run.page(5);
    EXPECT_EQ(run.report.transactions_undone_at_end, 1u);
    EXPECT_EQ(run.report.operations_undone_at_end, 2u);
    EXPECT_EQ(p.node(3)->flags & 0x2, 0x2);  // the insert: flag-deleted
    EXPECT_EQ(p.node(0)->data, "da");        // the replace: the before-image back
    EXPECT_GT(p.dbtime(), 102u);             // a dbtime above every logged one
  }
  {  // Rolled back in the log: the Undo record reverses it, nothing is left to undo.
    EngineRun run;
    ASSERT_TRUE(run.feed({trx(logfmt::kBegin0, 0x10), insert(5, 101, 100, 3, "d", "dd", 1, 0x05), undo(5, 102, 101, 3, 1),
                          trx(logfmt::kRollback, 1)}));
    EXPECT_EQ(run.report.transactions_rolled_back, 1u);
    EXPECT_EQ(run.report.transactions_undone_at_end, 0u);
    EXPECT_EQ(run.page(5).node(3)->flags & 0x2, 0x2);
  }
  {  // Committed: nothing undone.
    EngineRun run;
    ASSERT_TRUE(run.feed({trx(logfmt::kBegin0, 0x10), insert(5, 101, 100, 3, "d", "dd", 1, 0x05), trx(logfmt::kCommit0, 0)}));
    EXPECT_EQ(run.report.transactions_committed, 1u);
    EXPECT_EQ(run.page(5).node(3)->flags & 0x2, 0);
  }
}

}  // namespace
}  // namespace quarrow::replay
