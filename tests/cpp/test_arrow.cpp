// The Arrow producer over small built databases and the real files: batch shapes,
// buffers, schema, errors, and release paths (run under AddressSanitizer, whose leak
// check fails a test that leaves a batch or stream behind).
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "db_builder.h"
#include "export/arrow_stream.h"
#include "record/decoded.h"

namespace quarrow::test {
namespace {

// Record with fixed column 1 (Signed long) and variable column 128 (Text).
std::string id_name_record(std::int32_t id, const std::string& name) {
  std::string d("\x01\x80", 2);
  add16(d, 8);
  add32(d, static_cast<std::uint32_t>(id));
  add16(d, static_cast<std::uint16_t>(name.size()));
  return d + name;
}

// Table T (Id, Name) on leaves 5 and 6, five records each; leaf 6 links to `after_last`.
std::shared_ptr<const Database> two_leaf_table(std::uint32_t after_last = 0) {
  DbImage img(4096, 6);
  img.set_page(kCatalogRootPage, leaf_of({table_record(8, "T", 5), column_record(8, 1, "Id", 4),
                                          column_record(8, 128, "Name", 10)}));
  for (std::uint32_t page : {5u, 6u}) {
    std::vector<std::string> records{""};  // tag 0: the page's external header
    for (int k = 0; k < 5; ++k) {
      const int id = static_cast<int>(page - 5) * 5 + k;
      records.push_back(id_name_record(id, std::string("n") + std::to_string(id)));
    }
    img.set_page(page, leaf_of(records));
  }
  put32(img.bytes(), 6 * 4096 + 20, 6);
  put32(img.bytes(), 7 * 4096 + 20, after_last);
  auto db = img.open();
  EXPECT_TRUE(db);
  return std::shared_ptr<const Database>(std::move(db).value());
}

ArrowArrayStream open_stream(std::shared_ptr<const Database> db, const char* table, std::int64_t rows) {
  ArrowArrayStream s{};
  EXPECT_TRUE(export_arrow_stream(std::move(db), table, rows, &s));
  return s;
}

TEST(ArrowStream, BatchesCarryTheValues) {
  ArrowArrayStream s = open_stream(two_leaf_table(), "T", 4);
  ArrowSchema schema{};
  ASSERT_EQ(s.get_schema(&s, &schema), 0);
  EXPECT_STREQ(schema.format, "+s");
  ASSERT_EQ(schema.n_children, 2);
  EXPECT_STREQ(schema.children[0]->format, "i");
  EXPECT_STREQ(schema.children[1]->format, "u");
  EXPECT_STREQ(schema.children[1]->name, "Name");
  schema.release(&schema);

  std::vector<std::int64_t> lengths;
  std::int32_t next_id = 0;
  for (;;) {
    ArrowArray batch{};
    ASSERT_EQ(s.get_next(&s, &batch), 0);
    if (batch.release == nullptr) break;
    lengths.push_back(batch.length);
    const ArrowArray* ids = batch.children[0];
    const ArrowArray* names = batch.children[1];
    const auto* id_values = static_cast<const std::int32_t*>(ids->buffers[1]);
    const auto* offsets = static_cast<const std::int32_t*>(names->buffers[1]);
    const auto* text = static_cast<const char*>(names->buffers[2]);
    for (std::int64_t k = 0; k < batch.length; ++k, ++next_id) {
      EXPECT_EQ(id_values[k], next_id);
      EXPECT_EQ(std::string(text + offsets[k], offsets[k + 1] - offsets[k]), std::string("n") + std::to_string(next_id));
    }
    batch.release(&batch);
  }
  EXPECT_EQ(lengths, (std::vector<std::int64_t>{4, 4, 2}));
  s.release(&s);
}

TEST(ArrowStream, FailedReadingGivesTheMessage) {
  ArrowArrayStream s = open_stream(two_leaf_table(99999), "T", 3);
  int status = 0;
  for (int k = 0; k < 5 && status == 0; ++k) {
    ArrowArray batch{};
    status = s.get_next(&s, &batch);
    if (status == 0 && batch.release != nullptr) batch.release(&batch);
  }
  EXPECT_EQ(status, EIO);
  EXPECT_STREQ(s.get_last_error(&s), "Error reading record: Invalid page number: 99999");
  s.release(&s);
}

TEST(ArrowStream, BatchesAndSchemasOutliveTheirStreamAndDatabase) {
  ArrowArray held{};
  ArrowSchema child_moved{};
  {
    auto db = two_leaf_table();
    ArrowArrayStream s = open_stream(db, "T", 3);
    db.reset();  // the stream keeps the database
    ASSERT_EQ(s.get_next(&s, &held), 0);
    ArrowSchema schema{};
    ASSERT_EQ(s.get_schema(&s, &schema), 0);
    // A consumer may move a child out and release the parent first.
    child_moved = *schema.children[1];
    schema.children[1]->release = nullptr;
    schema.release(&schema);
    s.release(&s);  // dropped half-way
  }
  EXPECT_EQ(held.length, 3);
  EXPECT_STREQ(child_moved.name, "Name");
  child_moved.release(&child_moved);
  held.release(&held);
}

TEST(ArrowStream, UnknownTable) {
  ArrowArrayStream s{};
  const Status st = export_arrow_stream(two_leaf_table(), "Nope", 1, &s);
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().kind(), ErrorKind::TableNotFound);
  ArrowSchema schema{};
  EXPECT_FALSE(export_arrow_schema(*two_leaf_table(), "Nope", &schema));
}

// Pulls every batch of every table of every real file, releasing streams half-way too.
TEST(ArrowStream, RealFilesPullAndDrop) {
  for (const char* file : {"basic.edb", "multi.edb", "default.edb", "text.edb", "binary.edb", "srum-small.dat"}) {
    const std::string path = real_data_path(file);
    if (path.empty()) GTEST_SKIP() << "real files not available";
    auto opened = Database::open(path);
    ASSERT_TRUE(opened) << file;
    std::shared_ptr<const Database> db(std::move(opened).value());
    for (const auto& [name, table] : db->catalog()) {
      for (bool drop_early : {false, true}) {
        ArrowArrayStream s = open_stream(db, name.c_str(), 2);
        ArrowArray batch{};
        while (s.get_next(&s, &batch) == 0 && batch.release != nullptr) {
          batch.release(&batch);
          if (drop_early) break;
        }
        s.release(&s);
      }
    }
  }
}

TEST(Decoded, OleDatesAndScalars) {
  std::int64_t us = 0;
  ASSERT_TRUE(ole_date_to_microseconds(45000.5, us));
  EXPECT_EQ(us, 1678881600000000);  // 2023-03-15 12:00
  ASSERT_TRUE(ole_date_to_microseconds(-1.25, us));
  EXPECT_EQ(us, (-25570LL * 86400 + 6 * 3600) * 1000000);  // 1899-12-29 06:00
  EXPECT_FALSE(ole_date_to_microseconds(std::nan(""), us));
  EXPECT_FALSE(ole_date_to_microseconds(1e300, us));

  DecodedValue v;
  const std::uint8_t guid[16] = {0xf1, 0x0a, 0x36, 0x3f, 0x67, 0x66, 0xdc, 0x46,
                                 0x9a, 0xf2, 0x0d, 0xac, 0xf2, 0x95, 0xc2, 0xa1};
  decode_scalar(Bytes(guid, 16), DecodedType::Guid, 0, v);
  ASSERT_TRUE(v.valid);
  EXPECT_EQ(v.guid[0], 0x3f);
  EXPECT_EQ(v.guid[3], 0xf1);
  EXPECT_EQ(v.guid[4], 0x66);
  EXPECT_EQ(v.guid[8], 0x9a);
  const std::uint8_t minus_one[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  decode_scalar(Bytes(minus_one, 8), DecodedType::Decimal, 0, v);
  EXPECT_TRUE(v.valid && v.i == -1);
  decode_scalar(Bytes(minus_one, 2), DecodedType::UInt8, 0, v);  // 0xFFFF has no uint8 reading
  EXPECT_FALSE(v.valid);
  decode_scalar(Bytes(minus_one, 3), DecodedType::Text, 12345, v);  // unsupported codepage
  EXPECT_FALSE(v.valid);
}

}  // namespace
}  // namespace quarrow::test
