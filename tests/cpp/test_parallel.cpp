// Work on several threads: the Arrow stream's workers and the tool's ordered parts
// give what one thread gives, in the same order, within their memory bound, and stop
// cleanly when released early; readings on several threads share what an open file
// keeps (long-value chains, joined rows). Built under ThreadSanitizer by
// scripts/tsan.sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "cli/pool.h"
#include "db_builder.h"
#include "export/arrow_buffer.h"
#include "export/arrow_pipeline.h"
#include "export/arrow_stream.h"
#include "profiles/profile.h"
#include "profiles/view_arrow.h"
#include "profiles/view_reader.h"
#include "record/leaf_ranges.h"
#include "record/long_value.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kRoot = 5;
constexpr std::uint32_t kLeaves = 60;
constexpr int kPerLeaf = 5;

// Table T's pages: a branch root over kLeaves linked leaves of kPerLeaf records, ids
// 0, 1, 2, ... taken modulo `id_modulo`. With `broken_leaf`, that leaf's next-page link
// names a page past the file's end.
void put_linked_leaves(DbImage& img, std::uint32_t broken_leaf, std::uint32_t id_modulo) {
  std::vector<std::uint32_t> children;
  for (std::uint32_t k = 0; k < kLeaves; ++k) children.push_back(kRoot + 1 + k);
  img.set_page(kRoot, branch_of(children));
  for (std::uint32_t k = 0; k < kLeaves; ++k) {
    std::vector<std::string> records{""};
    for (int r = 0; r < kPerLeaf; ++r) {
      std::string d("\x01\x7f", 2);
      add16(d, 8);
      add32(d, static_cast<std::uint32_t>(k * kPerLeaf + r) % id_modulo);
      records.push_back(d);
    }
    const std::uint32_t page = kRoot + 1 + k;
    img.set_page(page, leaf_of(records));
    const std::uint32_t next = k + 1 < kLeaves ? page + 1 : 0;
    put32(img.bytes(), (page + 1) * 4096 + 20, page == broken_leaf ? 99999 : next);
    if (k > 0) put32(img.bytes(), (page + 1) * 4096 + 16, page - 1);
  }
}

std::shared_ptr<const Database> opened(DbImage& img) {
  auto db = img.open();
  EXPECT_TRUE(db);
  return std::shared_ptr<const Database>(std::move(db).value());
}

// Table T (Id) of put_linked_leaves, ids 0 to kLeaves * kPerLeaf - 1.
std::shared_ptr<const Database> many_leaves(std::uint32_t broken_leaf = 0) {
  DbImage img(4096, kRoot + kLeaves);
  img.set_page(kCatalogRootPage, leaf_of({table_record(8, "T", kRoot), column_record(8, 1, "Id", 4)}));
  put_linked_leaves(img, broken_leaf, kLeaves * kPerLeaf);
  return opened(img);
}

struct Drained {
  std::vector<std::int32_t> ids;
  std::int64_t largest_batch = 0;
  int status = 0;
  std::string error;
};

Drained drain(std::shared_ptr<const Database> db, unsigned threads, std::int64_t batch_rows) {
  ArrowStreamOptions options;
  options.threads = threads;
  options.batch_rows = batch_rows;
  options.min_threaded_rows = 0;  // the small test table is still cut into stretches
  ArrowArrayStream s{};
  EXPECT_TRUE(export_arrow_stream(std::move(db), "T", options, &s));
  Drained out;
  for (;;) {
    ArrowArray batch{};
    out.status = s.get_next(&s, &batch);
    if (out.status != 0) {
      out.error = s.get_last_error(&s);
      break;
    }
    if (batch.release == nullptr) break;
    out.largest_batch = std::max(out.largest_batch, batch.length);
    const auto* values = static_cast<const std::int32_t*>(batch.children[0]->buffers[1]);
    out.ids.insert(out.ids.end(), values, values + batch.length);
    batch.release(&batch);
  }
  s.release(&s);
  return out;
}

TEST(Parallel, ArrowThreadsGiveWhatOneThreadGives) {
  const auto db = many_leaves();
  ASSERT_EQ(list_leaf_pages(*db, *db->catalog().find("T")).pages.size(), kLeaves);
  const Drained one = drain(db, 1, 7);
  ASSERT_EQ(one.ids.size(), kLeaves * kPerLeaf);
  for (unsigned threads : {2u, 3u, 8u}) {
    const Drained many = drain(db, threads, 7);
    EXPECT_EQ(many.ids, one.ids) << threads;
    EXPECT_LE(many.largest_batch, 7);
    EXPECT_EQ(many.status, 0);
  }
}

TEST(Parallel, ArrowErrorComesAfterEveryEarlierRecord) {
  const auto db = many_leaves(kRoot + kLeaves);  // the last leaf links out of the file
  const Drained one = drain(db, 1, 4);
  ASSERT_EQ(one.status, EIO);
  for (unsigned threads : {2u, 4u}) {
    const Drained many = drain(db, threads, 4);
    EXPECT_EQ(many.ids, one.ids);
    EXPECT_EQ(many.status, EIO);
    EXPECT_EQ(many.error, one.error);
  }
}

TEST(Parallel, ArrowStreamReleasedMidway) {
  for (int k = 0; k < 20; ++k) {
    ArrowStreamOptions options;
    options.threads = 4;
    options.batch_rows = 1;
    options.min_threaded_rows = 0;
    ArrowArrayStream s{};
    ASSERT_TRUE(export_arrow_stream(many_leaves(), "T", options, &s));
    ArrowArray batch{};
    ASSERT_EQ(s.get_next(&s, &batch), 0);
    batch.release(&batch);
    s.release(&s);  // joins the workers, frees the batches they made
  }
}

TEST(Parallel, OrderedPartsKeepOrderWithinTheBound) {
  for (unsigned jobs : {1u, 2u, 5u}) {
    std::atomic<int> outstanding{0};
    std::atomic<int> most{0};
    cli::OrderedParts<int> parts(jobs, 40, [&](std::size_t p, const cli::OrderedParts<int>::Emit& emit) {
      for (int b = 0; b < static_cast<int>(p % 5); ++b) {
        const int now = ++outstanding;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        if (p % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!emit(static_cast<int>(p * 10 + b))) return;
      }
    });
    std::vector<int> got;
    int block = 0;
    while (parts.next(block)) {
      --outstanding;
      got.push_back(block);
    }
    std::vector<int> want;
    for (int p = 0; p < 40; ++p) {
      for (int b = 0; b < p % 5; ++b) want.push_back(p * 10 + b);
    }
    EXPECT_EQ(got, want);
    // kBlocksPerJob * jobs + 1 blocks at most; the count here drops only after next()
    // has returned, by when a worker may have started the next block.
    EXPECT_LE(most.load(), static_cast<int>(cli::kBlocksPerJob * jobs) + 2);
  }
}

TEST(Parallel, OrderedPartsStopEarly) {
  cli::OrderedParts<std::string> parts(3, 100, [](std::size_t p, const cli::OrderedParts<std::string>::Emit& emit) {
    for (int b = 0; b < 1000; ++b) {
      if (!emit(std::to_string(p))) return;
    }
  });
  std::string block;
  ASSERT_TRUE(parts.next(block));
  EXPECT_EQ(block, "0");
  parts.stop();
}

TEST(Parallel, SplitLeafPagesCoversEveryPageOnce) {
  for (std::size_t count : {0u, 1u, 7u, 64u, 1000u}) {
    for (std::size_t parts : {1u, 3u, 32u}) {
      const auto ranges = split_leaf_pages(count, parts, 4);
      std::size_t next = 0;
      for (const LeafRange& r : ranges) {
        EXPECT_EQ(r.begin, next);
        next = r.end;
        if (ranges.size() > 1) {
          EXPECT_GE(r.end - r.begin, 4u);
        }
      }
      EXPECT_EQ(next, count);
      EXPECT_LE(ranges.size(), std::max<std::size_t>(parts, 1));
    }
  }
}

TEST(Parallel, SplitByLinesKeepsEachRangeWithinABatch) {
  // Lines per page as a table's pages may have them: a page fuller than a batch
  // stands alone, the others are packed up to the cap.
  LeafPages leaves;
  leaves.lines = {10, 10, 10, 30, 5, 5, 5, 5, 40, 1};
  for (std::size_t k = 0; k < leaves.lines.size(); ++k) leaves.pages.push_back(static_cast<std::uint32_t>(100 + k));
  for (std::uint64_t cap : {1u, 20u, 25u, 1000u}) {
    const auto ranges = split_leaf_pages_by_lines(leaves, cap);
    std::size_t next = 0;
    for (const LeafRange& r : ranges) {
      EXPECT_EQ(r.begin, next);
      ASSERT_GT(r.end, r.begin);
      next = r.end;
      std::uint64_t lines = 0;
      for (std::size_t k = r.begin; k < r.end; ++k) lines += leaves.lines[k];
      if (r.end - r.begin > 1) {
        EXPECT_LE(lines, cap);
      }
    }
    EXPECT_EQ(next, leaves.pages.size());
  }
  EXPECT_EQ(split_leaf_pages_by_lines(leaves, 25).size(), 6u);  // 20 | 10 | 30 | 20 | 40 | 1
  EXPECT_EQ(split_leaf_pages_by_lines(LeafPages{}, 10).size(), 1u);
}

TEST(Parallel, ThreadsShareOneLongValueChain) {
  // The chain of a long-value tree is worked out by the first lookup of any reading
  // and shared with the others, here from several threads at once.
  constexpr std::uint32_t kTable = 5;
  constexpr std::uint32_t kTree = 6;
  constexpr std::uint32_t kValues = 40;
  DbImage img(4096, kTree, 0x620, 12);
  img.set_page(kCatalogRootPage, leaf_of({table_record(10, "T", kTable), catalog_record(2, 10, 256, 11, "Blob"),
                                          catalog_record(4, 10, 11, kTree, "LV")}));
  img.set_page(kTable, PageDef{kLeaf, {{0, ""}}});
  PageDef tree{kLeaf | kPageLongValue, {{0, ""}}};
  for (std::uint32_t id = 1; id <= kValues; ++id) {
    const std::string key{static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                          static_cast<char>(id)};
    std::string root;
    add32(root, 1);
    add32(root, 3);
    tree.tags.push_back({0, leaf_value(key, root)});
    tree.tags.push_back({0, leaf_value(key + std::string(4, '\0'), "v" + std::to_string(id % 10) + "!")});
  }
  img.set_page(kTree, tree);
  auto opened = img.open();
  ASSERT_TRUE(opened.ok()) << opened.error().to_string();
  const Database& db = **opened;
  const TableInfo& table = *db.catalog().find("T");
  std::vector<std::vector<std::optional<std::string>>> seen(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      LongValueBudget budget{1u << 20};
      for (std::uint32_t id = 1; id <= kValues; ++id) {
        std::string reference;
        add32(reference, id);
        auto value = read_long_value(db, table, as_bytes(reference), budget);
        seen[t].push_back(value ? std::optional<std::string>(*value) : std::nullopt);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::uint32_t id = 1; id <= kValues; ++id) {
    EXPECT_EQ(seen[0][id - 1], "v" + std::to_string(id % 10) + "!");
  }
  for (const auto& values : seen) EXPECT_EQ(values, seen[0]);
}

// Table Names (Id, Num) of 30 rows, ids 0-29 with Num 1000 + id: a leaf page's records
// after tag 0 (the page's external header).
std::vector<std::string> names_records() {
  std::vector<std::string> names{""};
  for (std::uint32_t id = 0; id < 30; ++id) {
    std::string d("\x02\x7f", 2);
    add16(d, 12);
    add32(d, id);
    add32(d, 1000 + id);
    names.push_back(d);
  }
  return names;
}

// Main (Ref) refers to Names (Id, Num) by id; a profile view shows Num as hex text
// through a join (a dictionary column in Arrow).
std::shared_ptr<const Database> joined_tables() {
  DbImage img(4096, 6);
  img.set_page(kCatalogRootPage, leaf_of({table_record(8, "Main", 5), column_record(8, 1, "Ref", 4),
                                          table_record(9, "Names", 6), column_record(9, 1, "Id", 4),
                                          column_record(9, 2, "Num", 4)}));
  std::vector<std::string> main{""};  // tag 0: the page's external header
  for (std::uint32_t k = 0; k < 120; ++k) {
    std::string d("\x01\x7f", 2);
    add16(d, 8);
    add32(d, k % 40);  // ids 30-39 have no row in Names
    main.push_back(d);
  }
  img.set_page(5, leaf_of(main));
  img.set_page(6, leaf_of(names_records()));
  auto db = img.open();
  EXPECT_TRUE(db);
  return std::shared_ptr<const Database>(std::move(db).value());
}

std::vector<std::string> view_texts(const Database& db, const profiles::Profile& profile) {
  auto reader = profiles::ViewReader::open(db, profile, profile.views.front());
  EXPECT_TRUE(reader);
  std::vector<std::string> out;
  std::vector<profiles::Cell> row;
  while ((*reader)->next(row) == profiles::ViewReader::Step::Row) {
    out.push_back(row[1].valid ? std::string(row[1].bytes()) : "<null>");
  }
  return out;
}

// A profile "t" of one view "v" of `table`: its column `from` and, as "Hex", the Num of
// table Names whose Id equals it, in hexadecimal.
std::shared_ptr<const profiles::Profile> joined_view_profile(const std::string& table, const std::string& from) {
  auto parsed = profiles::parse_profile(R"({"profile": "t", "recognize": [[")" + table + R"("]], "views": [
      {"name": "v", "table": ")" + table + R"(", "columns": [")" + from + R"(", {"name": "Hex", "from": ")" +
                                            from + R"(", "convert": "join",
       "join": {"table": "Names", "key": "Id", "value": "Num", "convert": "hex"}}]}]})",
                                        "t.json");
  if (!parsed) {
    ADD_FAILURE() << parsed.error().to_string();
    return nullptr;
  }
  return std::make_shared<const profiles::Profile>(std::move(parsed).value());
}

TEST(Parallel, ViewReadingsShareJoinedRows) {
  const auto profile = joined_view_profile("Main", "Ref");
  ASSERT_TRUE(profile);
  // What one reading of a file of its own gives.
  const std::vector<std::string> expected = view_texts(*joined_tables(), *profile);
  ASSERT_EQ(expected.size(), 120u);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), "<null>"), 30);
  // Readings of one open file on four threads: rows and Arrow batches.
  const auto db = joined_tables();
  std::vector<std::vector<std::string>> seen(4);
  std::vector<std::int64_t> arrow_rows(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) seen[t] = view_texts(*db, *profile);
      profiles::ViewRequest request{db, profile, "v", std::nullopt, 16};
      ArrowArrayStream stream{};
      if (!profiles::export_view_stream(request, &stream)) return;
      for (;;) {
        ArrowArray batch{};
        if (stream.get_next(&stream, &batch) != 0 || batch.release == nullptr) break;
        if (batch.n_children == 2 && batch.children[1]->dictionary != nullptr) arrow_rows[t] += batch.length;
        batch.release(&batch);
      }
      stream.release(&stream);
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t t = 0; t < seen.size(); ++t) {
    EXPECT_EQ(seen[t], expected);
    EXPECT_EQ(arrow_rows[t], 120);
  }
}

// Stretches for threads: several per thread, none over a batch, every page once in
// order; a small table, or one thread, stays whole.
TEST(Parallel, ThreadedStretchesShareTheWork) {
  LeafPages leaves;
  for (std::uint32_t k = 0; k < 400; ++k) {
    leaves.pages.push_back(100 + k);
    leaves.lines.push_back(k % 7 == 0 ? 300 : 40);  // some pages much fuller than others
  }
  struct Case {
    unsigned threads;
    std::int64_t batch_rows;
    std::uint64_t min_rows;
    std::size_t at_least;
  };
  for (const Case c : {Case{2, 65536, 4000, 8}, Case{4, 65536, 4000, 16}, Case{2, 500, 4000, 8},
                       Case{1, 65536, 4000, 1}, Case{2, 65536, 1000000, 1}}) {
    const std::vector<LeafRange> ranges = arrow::threaded_stretches(leaves, c.threads, c.batch_rows, c.min_rows);
    EXPECT_GE(ranges.size(), c.at_least) << c.threads << " " << c.batch_rows;
    if (c.at_least == 1) EXPECT_EQ(ranges.size(), 1u);
    std::size_t next = 0;
    for (const LeafRange& r : ranges) {
      EXPECT_EQ(r.begin, next);
      next = r.end;
      std::uint64_t lines = 0;
      for (std::size_t k = r.begin; k < r.end; ++k) lines += leaves.lines[k];
      if (ranges.size() > 1 && r.end - r.begin > 1) EXPECT_LE(lines, static_cast<std::uint64_t>(c.batch_rows));
    }
    EXPECT_EQ(next, leaves.pages.size());
  }
}

// Table T of many_leaves and table Names (Id, Num: ids 0-29) on one page; view v shows
// T's Id and Names' Num of Id % 40 as hex through a join (ids 30-39 resolve nothing).
std::shared_ptr<const Database> many_leaves_and_names() {
  DbImage img(4096, kRoot + kLeaves + 1);
  img.set_page(kCatalogRootPage, leaf_of({table_record(8, "T", kRoot), column_record(8, 1, "Id", 4),
                                          table_record(9, "Names", kRoot + kLeaves + 1),
                                          column_record(9, 1, "Id", 4), column_record(9, 2, "Num", 4)}));
  put_linked_leaves(img, 0, 40);
  img.set_page(kRoot + kLeaves + 1, leaf_of(names_records()));
  return opened(img);
}

// A view's Arrow stream on several threads: the rows of one thread, in order, each
// batch with a dictionary of its own, none over batch_rows; released midway, it stops.
TEST(Parallel, ViewThreadsGiveWhatOneThreadGives) {
  const auto profile = joined_view_profile("T", "Id");
  ASSERT_TRUE(profile);
  const auto db = many_leaves_and_names();
  const auto pool = std::make_shared<arrow::BufferPool>();
  auto read = [&](unsigned threads, std::int64_t batch_rows, int stop_after = -1) {
    profiles::ViewRequest request{db, profile, "v", std::nullopt, batch_rows};
    request.threads = threads;
    request.min_threaded_rows = 0;
    request.pool = pool;
    ArrowArrayStream stream{};
    EXPECT_TRUE(profiles::export_view_stream(request, &stream));
    std::vector<std::string> rows;
    for (int n = 0; n != stop_after; ++n) {
      ArrowArray batch{};
      EXPECT_EQ(stream.get_next(&stream, &batch), 0);
      if (batch.release == nullptr) break;
      EXPECT_LE(batch.length, batch_rows);
      const ArrowArray& hex = *batch.children[1];
      const auto* ids = static_cast<const std::int32_t*>(batch.children[0]->buffers[1]);
      const auto* index = static_cast<const std::int32_t*>(hex.buffers[1]);
      const auto* offsets = static_cast<const std::int32_t*>(hex.dictionary->buffers[1]);
      const char* text = static_cast<const char*>(hex.dictionary->buffers[2]);
      const auto* valid = static_cast<const std::uint8_t*>(hex.buffers[0]);
      for (std::int64_t r = 0; r < batch.length; ++r) {
        const bool present = valid == nullptr || (valid[r / 8] >> (r % 8) & 1) != 0;
        rows.push_back(std::to_string(ids[r]) + "=" +
                       (present ? std::string(text + offsets[index[r]], text + offsets[index[r] + 1]) : "-"));
      }
      batch.release(&batch);
    }
    stream.release(&stream);
    return rows;
  };
  const std::vector<std::string> one = read(1, 65536);
  ASSERT_EQ(one.size(), kLeaves * kPerLeaf);
  EXPECT_EQ(one[1], "1=0x00000000000003e9");
  EXPECT_EQ(one[30], "30=-");
  for (unsigned threads : {2u, 3u, 8u}) {
    for (std::int64_t batch_rows : {1, 7, 65536}) EXPECT_EQ(read(threads, batch_rows), one) << threads;
  }
  for (int k = 0; k < 10; ++k) read(4, 1, 2);
}

// Released batches' buffers are kept up to the pool's limit, reused, and given back
// on a lower limit or after an idle spell.
TEST(Parallel, BufferPoolKeepsWithinItsLimit) {
  constexpr std::size_t kSize = 1 << 16;
  arrow::BufferPool pool(3 * kSize);
  std::vector<arrow::Buffer> buffers(4);
  for (arrow::Buffer& b : buffers) b.reserve(kSize);
  for (arrow::Buffer& b : buffers) pool.give(b);
  EXPECT_EQ(pool.kept_bytes(), 3 * kSize);  // the fourth went back to the system
  arrow::Buffer again = pool.take(kSize - 100);
  EXPECT_EQ(again.capacity(), kSize);
  EXPECT_EQ(pool.take(100).capacity(), 0u);  // too large to hand out for 100 bytes
  pool.give(again);
  pool.set_limit(kSize);
  EXPECT_EQ(pool.kept_bytes(), kSize);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (pool.kept_bytes() != 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(pool.kept_bytes(), 0u);  // the idle watcher gave it back
}

}  // namespace
}  // namespace quarrow::test
