// Long values read from a table's long-value tree: chunks put together in offset
// order for 4- and 8-byte ids, and nothing for references that cannot name a value.
#include <gtest/gtest.h>

#include <vector>

#include "db_builder.h"
#include "format/long_value.h"
#include "record/long_value.h"

namespace quarrow::test {
namespace {

constexpr std::uint32_t kTableRoot = 5;
constexpr std::uint32_t kLongValueRoot = 6;

std::string big_endian(std::uint64_t v, int width) {
  std::string s;
  for (int k = width - 1; k >= 0; --k) s.push_back(static_cast<char>(v >> (8 * k)));
  return s;
}

// Table "T" with one Long Binary column; its long-value tree is one leaf page holding
// value `lid` (key width `width`) as the given chunks. Without `with_tree` the table
// has no long-value tree. `tree_root` names the tree's root page in the catalog (a
// page past the file's end stands for a root that does not load).
DbImage long_value_table(std::uint64_t lid, int width, const std::vector<std::string>& chunks,
                         std::uint32_t revision = 12, bool with_tree = true,
                         std::uint32_t tree_root = kLongValueRoot) {
  DbImage img(4096, kLongValueRoot + 1, 0x620, revision);
  std::vector<std::string> catalog = {table_record(10, "T", kTableRoot), catalog_record(2, 10, 256, 11, "Blob")};
  if (with_tree) catalog.push_back(catalog_record(4, 10, 11, tree_root, "LV"));
  img.set_page(kCatalogRootPage, leaf_of(catalog));
  img.set_page(kTableRoot, PageDef{kLeaf, {{0, ""}}});
  std::string total;
  for (const std::string& c : chunks) total += c;
  std::string root;
  add32(root, 1);  // reference count
  add32(root, static_cast<std::uint32_t>(total.size()));
  PageDef lv{kLeaf | kPageLongValue, {{0, ""}, {0, leaf_value(big_endian(lid, width), root)}}};
  std::uint32_t offset = 0;
  for (const std::string& c : chunks) {
    lv.tags.push_back({0, leaf_value(big_endian(lid, width) + big_endian(offset, 4), c)});
    offset += static_cast<std::uint32_t>(c.size());
  }
  img.set_page(kLongValueRoot, lv);
  return img;
}

std::string lid_reference(std::uint32_t id) {
  std::string r;
  add32(r, id);
  return r;
}

struct Case {
  const char* what;
  DbImage image;
  std::string reference;
  std::uint64_t budget;
  std::optional<std::string> expected;
  ErrorKind cause = ErrorKind::LongValueAbsent;  // when nothing is expected
  std::string message = {};                      // when nothing is expected and it says more
};

TEST(LongValue, ChunksInOrderOrTheCauseOfNothing) {
  const std::string lid1 = lid_reference(1);
  const std::uint64_t lid64 = (std::uint64_t{1} << kLid64FlagBit) | 5;
  std::string ref64;
  add32(ref64, static_cast<std::uint32_t>(lid64));
  add32(ref64, static_cast<std::uint32_t>(lid64 >> 32));
  DbImage cyclic = long_value_table(1, 4, {"abc"});
  cyclic.set_page(kLongValueRoot, branch_of({kLongValueRoot}));
  const std::vector<Case> cases = {
      {"two chunks", long_value_table(1, 4, {"hello ", "world"}), lid1, 1000, "hello world"},
      {"one chunk", long_value_table(1, 4, {"x"}), lid1, 1000, "x"},
      {"8-byte id", long_value_table(lid64, 8, {"wide ", "id"}, kRevisionLid64), ref64, 1000, "wide id"},
      {"reference too short", long_value_table(1, 4, {"abc"}), std::string("\x01\x00\x00", 3), 1000, std::nullopt,
       ErrorKind::LongValueDamaged, "Damaged long value: reference of 3 bytes"},
      {"no long-value tree", long_value_table(1, 4, {"abc"}, 12, false), lid1, 1000, std::nullopt,
       ErrorKind::LongValueAbsent, "Long value not found: 1"},
      {"nothing under the id", long_value_table(1, 4, {"abc"}), lid_reference(2), 1000, std::nullopt,
       ErrorKind::LongValueAbsent, "Long value not found: 2"},
      {"over the budget", long_value_table(1, 4, {"hello ", "world"}), lid1, 5, std::nullopt,
       ErrorKind::LongValueOverBudget},
      {"root does not load", long_value_table(1, 4, {"abc"}, 12, true, 900), lid1, 1000, std::nullopt,
       ErrorKind::LongValueDamaged, "Damaged long value: tree root page 900 does not load"},
      {"tree leads back to itself", cyclic, lid1, 1000, std::nullopt, ErrorKind::LongValueCycle},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto db = c.image.open();
    ASSERT_TRUE(db.ok()) << db.error().to_string();
    const TableInfo* table = (*db)->catalog().find("T");
    ASSERT_NE(table, nullptr);
    LongValueBudget budget{c.budget};
    const Result<std::string> value = read_long_value(**db, *table, as_bytes(c.reference), budget);
    if (c.expected) {
      ASSERT_TRUE(value.ok()) << value.error().to_string();
      EXPECT_EQ(*value, *c.expected);
      continue;
    }
    ASSERT_FALSE(value.ok());
    EXPECT_EQ(value.error().kind(), c.cause);
    if (!c.message.empty()) EXPECT_EQ(value.error().to_string(), c.message);
  }
}

// The record reader's policy over the same causes, unchanged by keeping them apart: a
// value the tree cannot give now keeps its reference, one it does not hold is empty;
// every one of them is listed with its cause.
TEST(LongValue, ResolvingKeepsOrEmptiesAndListsTheCause) {
  struct Resolve {
    const char* what;
    DbImage image;
    std::uint64_t budget;
    bool keeps_reference;
    ErrorKind cause;
  };
  DbImage cyclic = long_value_table(1, 4, {"abc"});
  cyclic.set_page(kLongValueRoot, branch_of({kLongValueRoot}));
  const std::vector<Resolve> cases = {
      {"absent", long_value_table(2, 4, {"abc"}), 1000, false, ErrorKind::LongValueAbsent},
      {"cycle", cyclic, 1000, false, ErrorKind::LongValueCycle},
      {"root does not load", long_value_table(1, 4, {"abc"}, 12, true, 900), 1000, true, ErrorKind::LongValueDamaged},
      {"over the budget", long_value_table(1, 4, {"abc"}), 2, true, ErrorKind::LongValueOverBudget},
  };
  for (const Resolve& c : cases) {
    SCOPED_TRACE(c.what);
    auto db = c.image.open();
    ASSERT_TRUE(db.ok()) << db.error().to_string();
    const TableInfo* table = (*db)->catalog().find("T");
    ASSERT_NE(table, nullptr);
    Record record;
    Field field;
    field.name = "Blob";
    field.value = Value::of_bytes(Value::Kind::LongValue, lid_reference(1));
    // Two columns naming one value: looked up once, listed twice.
    record.fields = {field, field};
    LongValueBudget budget{c.budget};
    std::vector<UnresolvedLongValue> unresolved;
    resolve_long_values(**db, *table, record, budget, &unresolved);
    ASSERT_EQ(unresolved.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(unresolved[k].field, k);
      EXPECT_EQ(unresolved[k].cause.kind(), c.cause);
      const Value& v = record.fields[k].value;
      if (c.keeps_reference) {
        EXPECT_EQ(v.kind, Value::Kind::LongValue);
      } else {
        EXPECT_EQ(v.kind, Value::Kind::Binary);
        EXPECT_TRUE(v.bytes.empty());
      }
    }
  }
}

}  // namespace
}  // namespace quarrow::test
