// A database read through a page overlay: every reader (catalog, tables, header facts,
// checksums, carving, the long-value budget) sees the overlay's pages and header, the
// file's bytes and the database opened on them stay as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "db_builder.h"
#include "forensic/carve.h"
#include "forensic/header.h"
#include "forensic/verify.h"
#include "format/page.h"
#include "record/long_value.h"
#include "record/reader.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kPageSize = 4096;
constexpr std::uint32_t kTableRoot = 6;  // the file's last page
constexpr std::uint32_t kCreatedRoot = 7;  // past the file's end: a page the logs made

std::string id_record(std::uint32_t id) {
  std::string r("\x01\x7f", 2);  // last fixed id 1, no variable columns
  add16(r, 8);
  add32(r, id);
  return r;
}

PageDef ids_page(const std::vector<std::uint32_t>& ids) {
  PageDef page{kLeaf, {{0, ""}}};  // tag 0: the page's key prefix
  for (std::uint32_t id : ids) page.tags.push_back({0, leaf_value("", id_record(id))});
  return page;
}

// Table "T" (ids 1, 2 on page 6) in a file of pages 1..6.
DbImage base_image() {
  DbImage img(kPageSize, 6);
  img.set_page(kCatalogRootPage, leaf_of({table_record(10, "T", kTableRoot), column_record(10, 1, "Id", 4)}));
  img.set_page(kTableRoot, ids_page({1, 2}));
  return img;
}

void put_page(PageOverlay& overlay, std::uint32_t number, const PageDef& def) {
  const ByteVec page = build_page(PageLayout{0x620, 12, kPageSize}, def);
  const std::span<std::uint8_t> image = overlay.write(number);
  std::copy(page.begin(), page.end(), image.begin());
}

// The logs' work by hand: T gains id 3, and table "U" (id 9) is created with its
// root on a page past the file's end.
std::shared_ptr<PageOverlay> replayed_overlay(const Database& base) {
  auto overlay = std::make_shared<PageOverlay>(base.bytes(), base.page_size(), base.total_pages());
  put_page(*overlay, kCatalogRootPage,
           leaf_of({table_record(10, "T", kTableRoot), column_record(10, 1, "Id", 4),
                    table_record(11, "U", kCreatedRoot), column_record(11, 1, "Id", 4)}));
  put_page(*overlay, kTableRoot, ids_page({1, 2, 3}));
  put_page(*overlay, kCreatedRoot, ids_page({9}));
  return overlay;
}

std::array<std::uint8_t, kHeaderCopySize> header_with_state(const Database& base, std::uint32_t state) {
  std::array<std::uint8_t, kHeaderCopySize> header = base.header();
  for (int k = 0; k < 4; ++k) header[kHeaderStateOffset + k] = static_cast<std::uint8_t>(state >> (8 * k));
  return header;
}

std::vector<std::uint32_t> read_ids(const Database& db, std::string_view table) {
  std::vector<std::uint32_t> ids;
  auto reader = open_table_reader(db, table);
  EXPECT_TRUE(reader.ok()) << table;
  if (!reader.ok()) return ids;
  Record record;
  while (reader->next_record(record) == TableRecordReader::Step::Record) {
    ids.push_back(static_cast<std::uint32_t>(record.fields.at(0).value.i));
  }
  return ids;
}

std::vector<std::string> names(const Database& db) {
  std::vector<std::string> out;
  for (const auto& entry : db.catalog()) out.push_back(entry.first);
  return out;
}

TEST(PageSource, ReplayedDatabaseReadsTheOverlayAndTheFileStaysAsItWas) {
  DbImage img = base_image();
  const ByteVec before = img.bytes();
  auto base = img.open();
  ASSERT_TRUE(base.ok());
  auto replayed = Database::over_pages(**base, replayed_overlay(**base),
                                       header_with_state(**base, kStateCleanShutdown));
  ASSERT_TRUE(replayed.ok()) << replayed.error().to_string();
  const Database& db = **replayed;

  EXPECT_TRUE(db.replayed());
  EXPECT_FALSE((*base)->replayed());
  EXPECT_EQ(names(db), (std::vector<std::string>{"T", "U"}));
  EXPECT_EQ(read_ids(db, "T"), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(read_ids(db, "U"), (std::vector<std::uint32_t>{9}));
  EXPECT_EQ(db.total_pages(), kCreatedRoot);
  EXPECT_EQ(db.size_bytes(), (kCreatedRoot + 2ull) * kPageSize);
  EXPECT_GT(long_value_budget(db).remaining, long_value_budget(**base).remaining);

  // The database opened on the file, and the file's bytes, are untouched.
  EXPECT_EQ(names(**base), (std::vector<std::string>{"T"}));
  EXPECT_EQ(read_ids(**base, "T"), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ((*base)->total_pages(), 6u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), (*base)->bytes().begin(), (*base)->bytes().end()));
  EXPECT_EQ(db.bytes().data(), (*base)->bytes().data());  // one mapping, shared

  // Pages past both ends fail as a page number, as the file's do.
  for (const Database* d : {&db, static_cast<const Database*>(base->get())}) {
    const std::uint32_t past = d->total_pages() + 1;
    auto page = d->load_page(past);
    ASSERT_FALSE(page.ok());
    EXPECT_EQ(page.error().kind(), ErrorKind::InvalidPageNumber);
    EXPECT_TRUE(d->page_bytes(past).empty());
  }
}

// The logs grew the database (ExtendDB) past the pages they wrote: those pages read as
// the zeros the engine's extension leaves, for every reader, checksums included.
TEST(PageSource, PagesAddedButNeverWrittenReadAsZeros) {
  const DbImage img = base_image();
  auto base = img.open();
  ASSERT_TRUE(base.ok());
  auto overlay = replayed_overlay(**base);  // writes page 7, one past the file's end
  overlay->extend_to(12);
  auto replayed = Database::over_pages(**base, overlay, (*base)->header());
  ASSERT_TRUE(replayed.ok());
  const Database& db = **replayed;
  EXPECT_EQ(db.total_pages(), 12u);
  for (std::uint32_t page : {8u, 12u}) {
    const Bytes bytes = db.page_bytes(page);
    ASSERT_EQ(bytes.size(), kPageSize) << page;
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) << page;
    EXPECT_TRUE(db.load_page(page).ok()) << page;
  }
  EXPECT_FALSE(db.load_page(13).ok());
  auto report = verify_database(db);
  auto file_report = verify_database(**base);
  ASSERT_TRUE(report.ok());
  ASSERT_TRUE(file_report.ok());
  EXPECT_EQ(report->pages_checked, 14u);
  EXPECT_EQ(report->uninitialised, file_report->uninitialised + 5);  // pages 8 to 12
}

TEST(PageSource, OutlivesTheDatabaseItWasMadeFrom) {
  const DbImage img = base_image();
  std::unique_ptr<Database> replayed;
  {
    auto base = img.open();
    ASSERT_TRUE(base.ok());
    auto made = Database::over_pages(**base, replayed_overlay(**base), (*base)->header());
    ASSERT_TRUE(made.ok());
    replayed = std::move(made).value();
  }
  EXPECT_EQ(read_ids(*replayed, "T"), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(read_ids(*replayed, "U"), (std::vector<std::uint32_t>{9}));
}

TEST(PageSource, HeaderFactsComeFromTheReplayedHeader) {
  DbImage img = base_image();
  for (std::size_t copy : {std::size_t{0}, std::size_t{kPageSize}}) put32(img.bytes(), copy + kHeaderStateOffset, kStateDirtyShutdown);
  auto base = img.open();
  ASSERT_TRUE(base.ok());
  auto replayed = Database::over_pages(**base, replayed_overlay(**base),
                                       header_with_state(**base, kStateCleanShutdown));
  ASSERT_TRUE(replayed.ok());
  auto facts = read_header_facts(**replayed);
  auto file_facts = read_header_facts(**base);
  ASSERT_TRUE(facts.ok());
  ASSERT_TRUE(file_facts.ok());
  EXPECT_EQ(facts->state, kStateCleanShutdown);
  EXPECT_EQ(file_facts->state, kStateDirtyShutdown);
  EXPECT_EQ(facts->copies_agree, true);  // both copies carry the replayed header
  EXPECT_EQ((*replayed)->header_pages().size(), 2u * kPageSize);
  EXPECT_EQ(load_u32le((*base)->header_pages(), kHeaderStateOffset), kStateDirtyShutdown);
}

TEST(PageSource, AnOverlayOfAnotherShapeIsRefused) {
  const DbImage img = base_image();
  auto base = img.open();
  ASSERT_TRUE(base.ok());
  const Bytes file = (*base)->bytes();
  const std::vector<std::shared_ptr<const PageOverlay>> wrong = {
      nullptr,
      std::make_shared<PageOverlay>(file, kPageSize * 2, (*base)->total_pages()),
      std::make_shared<PageOverlay>(file, kPageSize, (*base)->total_pages() - 1),
  };
  for (const auto& overlay : wrong) {
    auto replayed = Database::over_pages(**base, overlay, (*base)->header());
    EXPECT_FALSE(replayed.ok());
  }
}

// On a real file whose pages all verify: a page copied into the overlay unchanged still
// verifies, the same page damaged in the overlay is reported (the file's copy is not),
// and text only the overlay holds is carved from it.
TEST(PageSource, ChecksumsAndCarvingReadTheOverlay) {
  const std::string path = real_data_path("basic.edb");
  if (path.empty()) GTEST_SKIP() << "../shared/data is not available";
  auto base = Database::open(path);
  ASSERT_TRUE(base.ok());
  const Database& file_db = **base;
  auto overlay = std::make_shared<PageOverlay>(file_db.bytes(), file_db.page_size(), file_db.total_pages());
  overlay->write(3);  // unchanged copy
  const std::uint32_t damaged = file_db.total_pages() - 1;
  std::span<std::uint8_t> page = overlay->write(damaged);
  // UTF-16LE text written over the page's middle: damage, and text only the overlay holds.
  const std::string text = "ReplayOnlyMarker";
  for (std::size_t k = 0; k < text.size(); ++k) {
    page[page.size() / 2 + 2 * k] = static_cast<std::uint8_t>(text[k]);
    page[page.size() / 2 + 2 * k + 1] = 0;
  }
  auto replayed = Database::over_pages(file_db, overlay, file_db.header());
  ASSERT_TRUE(replayed.ok());

  auto report = verify_database(**replayed);
  ASSERT_TRUE(report.ok());
  ASSERT_EQ(report->problems.size(), 1u);
  EXPECT_EQ(report->problems[0].page, damaged);
  EXPECT_EQ(report->pages_checked, file_db.total_pages() + 2ull);
  auto file_report = verify_database(file_db);
  ASSERT_TRUE(file_report.ok());
  EXPECT_TRUE(file_report->problems.empty());

  const auto hits = carve_strings(**replayed, CarveScope::All, text, 8, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].page, damaged);
  EXPECT_TRUE(carve_strings(file_db, CarveScope::All, text, 8, 10).empty());
}

}  // namespace
}  // namespace quarrow::test
