// Hostile input in the core: long values whose chunks are named over and over must
// not make a reading allocate far more than the file holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/database.h"
#include "db_builder.h"
#include "page/tag.h"
#include "record/long_value.h"
#include "record/reader.h"

namespace quarrow {
namespace {

// Pages are laid out by hand so that tags can repeat each other's words; the byte
// helpers are the shared test builder's.
using test::ByteVec;
using test::add16;
using test::add32;
using test::put16;
using test::put32;

std::string leaf_value(const std::string& key, const std::string& data) {
  std::string v;
  add16(v, static_cast<std::uint16_t>(key.size()));
  return v + key + data;
}

// A catalog record: 30 fixed bytes, then the name as the one variable column.
std::string catalog_record(std::uint16_t type, std::uint32_t owner, std::uint32_t id, std::uint32_t v14,
                           const std::string& name) {
  std::string d("\x09\x80", 2);
  add16(d, 30);
  add32(d, owner);
  add16(d, type);
  for (std::uint32_t v : {id, v14, 0u, 0u, 1252u}) add32(d, v);
  add16(d, static_cast<std::uint16_t>(name.size()));
  return d + name;
}

// Large-page layout (version 0x620, revision 20, 32 kB pages: 80-byte headers).
class Image {
 public:
  explicit Image(std::uint32_t last_page) : bytes_((last_page + 2ull) * kPageSize, 0) {
    put32(bytes_, 4, kDatabaseSignature);
    put32(bytes_, 8, 0x620);
    put32(bytes_, 232, 20);
    put32(bytes_, 236, kPageSize);
  }
  static constexpr std::uint32_t kPageSize = 32768;

  // Values laid out one after another; tag i names value i.
  void set_page(std::uint32_t number, std::uint32_t flags, std::uint32_t next, const std::vector<std::string>& values) {
    const std::size_t base = (number + 1ull) * kPageSize;
    put32(bytes_, base + 20, next);
    put16(bytes_, base + 34, static_cast<std::uint16_t>(values.size()));
    put32(bytes_, base + 36, flags);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::size_t tag = base + kPageSize - 4 * (i + 1);
      put16(bytes_, tag, static_cast<std::uint16_t>(values[i].size()));
      put16(bytes_, tag + 2, static_cast<std::uint16_t>(offset));
      std::copy(values[i].begin(), values[i].end(), bytes_.begin() + static_cast<std::ptrdiff_t>(base + 80 + offset));
      offset += values[i].size();
    }
  }
  ByteVec& bytes() { return bytes_; }
  Result<std::unique_ptr<Database>> open() const { return Database::open_bytes(bytes_); }

 private:
  ByteVec bytes_;
};

constexpr std::uint32_t kPage = Image::kPageSize;
constexpr std::uint32_t kTableRoot = 5;
constexpr std::uint32_t kLongValueRoot = 6;

std::string be32(std::uint32_t v) {
  std::string s;
  for (int k = 3; k >= 0; --k) s.push_back(static_cast<char>(v >> (8 * k)));
  return s;
}

// A record whose tagged column 256 is a long-value reference to LID 1.
std::string reference_record() {
  std::string r;
  r.push_back(0);  // last fixed column id
  r.push_back(0);  // last variable column id
  add16(r, 4);     // V: the tagged part starts right after the header
  add16(r, 256);   // tagged directory: column 256, data at offset 4
  add16(r, 4);
  r.push_back(0x04);  // flags byte: long-value reference
  add32(r, 1);
  return r;
}

// Large-page database: table "T" (one Long Binary column 256) whose long-value tree is
// the chain of leaf pages kLongValueRoot .. kLongValueRoot + lv_pages - 1. On every such
// page, `tags` tags (after tag 0) name the same chunk entry of `chunk` bytes.
Image overlapping_chunks(std::uint32_t lv_pages, std::uint16_t tags, std::size_t chunk) {
  Image img(kLongValueRoot + lv_pages);
  img.set_page(kCatalogRootPage, kPageLeaf, 0,
               {leaf_value("", catalog_record(1, 10, 10, kTableRoot, "T")),
                leaf_value("", catalog_record(2, 10, 256, 11, "Blob")),
                leaf_value("", catalog_record(4, 10, 11, kLongValueRoot, "LV"))});
  img.set_page(kTableRoot, kPageLeaf, 0, {leaf_value("", ""), leaf_value("", reference_record())});
  const std::string entry = leaf_value(be32(1) + be32(0), std::string(chunk, 'z'));
  for (std::uint32_t k = 0; k < lv_pages; ++k) {
    const std::uint32_t number = kLongValueRoot + k;
    // Tag 0 is the page's (empty) key prefix.
    img.set_page(number, kPageLeaf | kPageLongValue, k + 1 < lv_pages ? number + 1 : 0, {"", entry});
    // Every further tag repeats tag 1's words: the same value, named again and again.
    ByteVec& bytes = img.bytes();
    const std::size_t base = (static_cast<std::size_t>(number) + 1) * kPage;
    const std::size_t tag1 = base + kPage - 8;
    for (std::uint16_t i = 2; i <= tags; ++i) {
      const std::size_t at = base + kPage - 4 * (static_cast<std::size_t>(i) + 1);
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(tag1), 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    put16(bytes, base + 34, static_cast<std::uint16_t>(tags + 1));
  }
  return img;
}

std::vector<Record> read_all(const Database& db) {
  Result<TableRecordReader> reader = open_table_reader(db, "T");
  EXPECT_TRUE(reader.ok());
  std::vector<Record> out;
  Record r;
  while (reader.ok() && reader->next_record(r) == TableRecordReader::Step::Record) out.push_back(r);
  return out;
}

TEST(HostileLongValue, OverlappingChunksStopAtTheBudget) {
  // 10 pages x 3000 tags x 8 kB would assemble 240 MB from a 560 kB file.
  const Image img = overlapping_chunks(10, 3000, 8000);
  auto db = img.open();
  ASSERT_TRUE(db.ok());
  const std::vector<Record> records = read_all(**db);
  ASSERT_EQ(records.size(), 1u);
  const Value& v = records[0].fields.at(0).value;
  // Over the budget the field keeps its reference bytes.
  EXPECT_EQ(v.kind, Value::Kind::LongValue);
  EXPECT_EQ(v.bytes, std::string("\x01\x00\x00\x00", 4));
}

TEST(HostileLongValue, BudgetDecidesBetweenValueAndReference) {
  const Image img = overlapping_chunks(1, 3, 100);
  auto db = img.open();
  ASSERT_TRUE(db.ok());
  const TableInfo& table = *(*db)->catalog().find("T");
  const ColumnPlan plan = make_column_plan(**db, table);
  struct Case {
    std::uint64_t budget;
    Value::Kind kind;
    std::size_t size;
    std::uint64_t left;
  };
  for (const Case& c : {Case{1000, Value::Kind::Binary, 300, 700}, Case{300, Value::Kind::Binary, 300, 0},
                        Case{299, Value::Kind::LongValue, 4, 299}, Case{0, Value::Kind::LongValue, 4, 0}}) {
    Record record = decode_record(plan, as_bytes(reference_record()));
    LongValueBudget budget{c.budget};
    resolve_long_values(**db, table, record, budget);
    EXPECT_EQ(record.fields.at(0).value.kind, c.kind) << c.budget;
    EXPECT_EQ(record.fields.at(0).value.bytes.size(), c.size) << c.budget;
    EXPECT_EQ(budget.remaining, c.left) << c.budget;
  }
}

// Tag loops stop at the last index whose 4 bytes can lie inside the page, whatever
// count the header claims.
TEST(HostileTags, LoopsStopWhereTagsCanNoLongerFit) {
  struct Case {
    std::uint32_t page_size;
    std::uint16_t count_word;
    std::uint16_t expected;
  };
  for (const Case& c : {Case{40, 0x0FFF, 10}, Case{43, 0xFFFF, 10}, Case{40, 3, 3}, Case{4096, 0x0FFF, 1024},
                        Case{4096, 7, 7}, Case{8192, 0x0FFF, 2048}}) {
    ByteVec page(c.page_size, 0);
    put16(page, 34, c.count_word);
    const PageLayout layout{0x620, 12, c.page_size};
    Result<PageView> view = parse_page_header(Bytes(page), layout);
    ASSERT_TRUE(view.ok());
    EXPECT_EQ(readable_tag_count(*view), c.expected) << c.page_size << " " << c.count_word;
    if (c.expected < view->tag_count) {
      EXPECT_FALSE(read_tag(*view, c.expected).ok());
    }
  }
}

}  // namespace
}  // namespace quarrow
