#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/traversal.h"
#include "db_builder.h"
#include "page/leaf.h"
#include "record/parser.h"

namespace quarrow {
namespace {

using test::add16;
using Strings = std::vector<std::string>;
using S = std::string;

// Databases that only supply the tag layout: classic, and large pages.
const Database& db_for(bool large) {
  static const std::unique_ptr<Database> classic = test::minimal_image(4096, 0x620, 12).open().value();
  static const std::unique_ptr<Database> big = test::minimal_image(16384, 0x620, 17).open().value();
  return large ? *big : *classic;
}

struct Col {
  const char* name;
  std::uint32_t id, type, space = 0;
  std::optional<std::uint32_t> codepage = 1252;
};

TableInfo table_of(const std::vector<Col>& cols) {
  TableInfo t;
  for (const Col& c : cols) t.columns.insert_or_replace(c.name, ColumnInfo{c.name, c.id, c.type, c.space, 0, c.codepage, {}});
  return t;
}

// "null", "u:7", "t:text", "b:hex", "m:hex" (multi-value), "l:hex" (long-value reference).
std::string show(const Value& v) {
  std::string hex;
  for (unsigned char ch : v.bytes) hex += "0123456789abcdef"[ch >> 4], hex += "0123456789abcdef"[ch & 0xF];
  switch (v.kind) {
    case Value::Kind::Null: return "null";
    case Value::Kind::U8: case Value::Kind::U16: case Value::Kind::U32: return "u:" + std::to_string(v.u);
    case Value::Kind::I16: case Value::Kind::I32: return "i:" + std::to_string(v.i);
    case Value::Kind::Text: return "t:" + v.bytes;
    case Value::Kind::Binary: return "b:" + hex;
    case Value::Kind::MultiValue: return "m:" + hex;
    case Value::Kind::LongValue: return "l:" + hex;
    default: return "other";
  }
}

// Record bytes: F, L, V (set by v()/v_here()), then whatever the test appends.
struct Rec {
  S b;
  Rec(std::uint8_t f, std::uint8_t l) : b{static_cast<char>(f), static_cast<char>(l), 0, 0} {}
  Rec& raw(const S& s) { b += s; return *this; }
  Rec& u16(std::uint16_t v) { add16(b, v); return *this; }
  Rec& v(std::size_t at) { b[2] = static_cast<char>(at & 0xFF); b[3] = static_cast<char>(at >> 8); return *this; }
  Rec& v_here() { return v(b.size()); }
  // A well-formed tagged part: (id, data, bit 14 set) per item; the data includes any flags byte.
  Rec& tagged(const std::vector<std::tuple<std::uint16_t, S, bool>>& items) {
    std::size_t offset = 4 * items.size();
    for (const auto& [id, data, flagged] : items) {
      u16(id).u16(static_cast<std::uint16_t>(offset | (flagged ? 0x4000 : 0)));
      offset += data.size();
    }
    for (const auto& item : items) b += std::get<1>(item);
    return *this;
  }
  operator S() const { return b; }
};

struct Case {
  S record;
  Strings values;  // in ascending column id
  bool large = false;
};

void run(const std::vector<Col>& cols, const std::vector<Case>& cases) {
  const TableInfo table = table_of(cols);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Record r = decode_record(make_column_plan(db_for(cases[i].large), table), as_bytes(cases[i].record));
    Strings got;
    for (const Field& f : r.fields) got.push_back(show(f.value));
    EXPECT_EQ(got, cases[i].values) << "case " << i;
  }
}

TEST(DecodeRecord, FixedColumns) {
  const std::vector<Col> cols = {{"a", 1, 14, 4}, {"b", 2, 2, 1}, {"c", 3, 17, 2}, {"tag", 256, 9}, {"var", 128, 9}};
  const S full("\x01\0\0\0\x07\x02\0", 7);
  run(cols, {{"", {"null", "null", "null", "null", "null"}},
             {S("\x03\x80\x04", 3), {"null", "null", "null", "null", "null"}},
             {Rec(3, 0).raw(full).v_here(), {"u:1", "u:7", "u:2", "null", "null"}},
             // a runs past the end: null, and b is still read at 8 (its catalog offset), so null too.
             {Rec(3, 0).raw(S("\x01\0", 2)).v_here(), {"null", "null", "null", "null", "null"}},
             {Rec(3, 0).raw(full.substr(0, 6)).v_here(), {"u:1", "u:7", "null", "null", "null"}},
             {Rec(1, 0).raw(full).v_here(), {"u:1", "null", "null", "null", "null"}}});
  // A column missing from the catalog takes no room.
  run({{"a", 1, 14, 4}, {"c", 3, 17, 2}}, {{Rec(3, 0).raw(S("\x01\0\0\0\x05\0", 6)).v_here(), {"u:1", "u:5"}}});
}

// The null bitmap (ceil(F/8) bytes ending at V) is read only when it fits between the
// fixed data, by catalog sizes, and V, and V lies inside the record.
TEST(DecodeRecord, FixedNullBitmap) {
  const S fixed("\x01\0\0\0\x02\0", 6);
  run({{"a", 1, 14, 4}, {"b", 2, 17, 2}}, {{Rec(2, 0).raw(fixed).raw("\x02").v_here(), {"u:1", "null"}},
                                           {Rec(2, 0).raw(fixed).raw("\x01").v_here(), {"null", "u:2"}},
                                           {Rec(2, 0).raw(S("\x01\0\0\0\x02\x03", 6)).v_here(), {"u:1", "u:770"}},
                                           {Rec(2, 0).raw(fixed).raw("\x03").v(12), {"u:1", "u:2"}}});
  run({{"a", 1, 14, 4}, {"i", 9, 2, 1}}, {{Rec(9, 0).raw(S("\x01\0\0\0\x09\0\x01", 7)).v_here(), {"u:1", "null"}},
                                          {Rec(9, 0).raw(S("\x01\0\0\0\x09\x01\0", 7)).v_here(), {"null", "u:9"}}});
}

TEST(DecodeRecord, VariableColumns) {
  const std::vector<Col> cols = {{"low", 5, 9}, {"v0", 128, 10}, {"v1", 129, 9}, {"v2", 130, 10}, {"high", 200, 9}};
  auto rec = [](std::uint16_t e0, std::uint16_t e1) { return Rec(0, 130).v_here().u16(e0).u16(e1).u16(7).raw("abcdefg"); };
  run(cols, {{rec(3, 5), {"null", "t:abc", "b:6465", "t:fg", "null"}},
             {rec(3, 0x8005), {"null", "t:abc", "null", "t:fg", "null"}},  // bit 15: null
             {rec(5, 3), {"null", "t:abcde", "null", "t:defg", "null"}},    // start after end: null
             {rec(3, 50), {"null", "t:abc", "null", "null", "null"}},       // end past the record
             {Rec(0, 128).v_here().u16(3).raw("abc"), {"null", "t:abc", "null", "null", "null"}},
             {Rec(0, 130).v_here().u16(1).raw("x"), {"null", "null", "null", "null", "null"}}});
}

TEST(DecodeRecord, TaggedDirectory) {
  const std::vector<Col> cols = {{"v", 128, 9}, {"a", 256, 9}, {"b", 257, 9}, {"c", 258, 9}, {"d", 259, 9}};
  const Strings none(5, "null");
  run(cols, {
                {Rec(0, 0).v_here().tagged({{256, S("\0x", 2), true}, {257, "yz", false}, {259, "w", false}}),
                 {"null", "b:78", "b:797a", "null", "b:77"}},
                // L = 127: no variable columns, the tagged part starts at V.
                {Rec(0, 127).v_here().tagged({{256, "q", false}}), {"null", "b:71", "null", "null", "null"}},
                {Rec(0, 128).v_here().u16(2).raw("vv").tagged({{258, "r", false}}), {"b:7676", "null", "null", "b:72", "null"}},
                // 257 would end before it starts: dropped, its neighbours stay.
                {Rec(0, 0).v_here().u16(256).u16(12).u16(257).u16(16).u16(258).u16(14).raw("aaaabbcc"),
                 {"null", "b:61616161", "null", "b:616162626363", "null"}},
                {Rec(0, 0).v_here().u16(256).u16(8).u16(257).u16(100).raw("abcd"), none},
                // The directory ends at the first entry's offset.
                {Rec(0, 0).v_here().u16(256).u16(4).u16(257).u16(4), {"null", "b:01010400", "null", "null", "null"}},
                {Rec(0, 0).v_here().tagged({{256, "aa", false}, {256, "bb", false}}), {"null", "b:6262", "null", "null", "null"}},
                {Rec(0, 0).v_here().tagged({{258, "c", false}, {256, "a", false}}), {"null", "b:61", "null", "b:63", "null"}},
                {Rec(0, 0).v_here().tagged({{256, S("\0", 1), true}}), none},
                {Rec(0, 0).v_here().raw("\x01\x01\x04"), none},
            });
}

// Large pages: every tagged item starts with a flags byte, bit 14 or not; bit 14 is not
// part of the offset unless the tagged part exceeds 0x3FFF bytes.
TEST(DecodeRecord, LargePageTaggedItems) {
  const S rec = Rec(0, 0).v_here().tagged({{256, S("\0hi", 3), false}, {257, "\x04\x01\x02", false}});
  run({{"text", 256, 10}, {"lv", 257, 11}}, {{rec, {"t:" + S("\0hi", 3), "b:040102"}, false},
                                             {rec, {"t:hi", "l:0102"}, true},
                                             {Rec(0, 0).v_here().tagged({{256, S("\0ok", 3), true}}), {"t:ok", "null"}, true}});
  const S big = Rec(0, 0).v_here().tagged({{256, S(1, '\0') + S(0x3FFF, 'a'), false}, {257, S("\0zz", 3), false}});
  const TableInfo table = table_of({{"a", 256, 9}, {"b", 257, 9}});
  const Record r = decode_record(make_column_plan(db_for(true), table), as_bytes(big));
  EXPECT_EQ(r.fields[0].value.bytes, S(0x3FFF, 'a'));
  EXPECT_EQ(show(r.fields[1].value), "b:7a7a");
}

TEST(DecodeRecord, TaggedFlagsAndCompression) {
  const std::vector<Col> cols = {{"text", 256, 10}, {"bin", 257, 9},  {"longbin", 258, 11},
                                 {"cp936", 260, 10, 0, 936}, {"no_cp", 261, 12, 0, std::nullopt}};
  auto one = [](std::uint16_t id, const S& data) { return S(Rec(0, 0).v_here().tagged({{id, data, true}})); };
  auto only = [](std::size_t k, const S& v) { Strings s(5, "null"); s[k] = v; return s; };
  const S packed("\x02\x10\x41\x00", 4);  // flags 0x02, then 0x10 0x41 0x00
  const S a_nul = "t:" + S("A\0", 2);
  run(cols, {{one(256, packed), only(0, a_nul)},
             {one(257, packed), only(1, "b:4100")},
             {one(260, packed), only(3, "b:4100")},  // unknown codepage: binary
             {one(261, packed), only(4, a_nul)},     // no codepage: windows-1252
             {one(257, "\x02"), only(1, "b:")},
             {one(257, S("\x02\x28\x01\x02", 4)), only(1, "b:280102")},
             {one(257, S("\x08\x01\x02", 3)), only(1, "m:0102")},
             {one(257, S("\x0a\x10\x41\x00", 4)), only(1, "m:104100")},
             {one(257, S("\x0e\x01\x02", 3)), only(1, "l:0102")},
             {one(258, S("\0\x01\x02", 3)), only(2, "b:0102")},  // Long Binary kept inline
             {one(256, S("\x31ok", 3)), only(0, "t:ok")},       // other flag bits ignored
             {one(260, S("\0ok", 3)), only(3, "null")}});
}

// Real records: basic.edb's second row has null fixed columns marked only in the null
// bitmap; large.edb's rows have tagged parts beyond 0x3FFF bytes.
TEST(DecodeRecord, RealDatabases) {
  struct Expect {
    const char* file;
    const char* table;
    std::size_t row;
    Strings values;  // of the first columns
    std::size_t non_null;
  };
  for (const Expect& e : {Expect{"basic.edb", "basic", 1, {"i:2", "other", "u:255", "i:1339"}, 9},
                          Expect{"large.edb", "large", 0, {"i:1", "u:0", "u:1", "u:2"}, 4097}}) {
    const std::string path = test::real_data_path(e.file);
    if (path.empty()) GTEST_SKIP() << "../shared/data/" << e.file << " is not available";
    std::unique_ptr<Database> db = Database::open(path).value();
    const TableInfo& table = *db->catalog().find(e.table);
    Result<PageView> leaf = descend_to_first_leaf(*db, table.root_page);
    ASSERT_TRUE(leaf.ok());
    std::string scratch;
    PageTag tag;
    ASSERT_TRUE(read_entry_tag(*leaf, static_cast<std::uint16_t>(1 + e.row), scratch, tag).ok());
    const Record r = decode_record(make_column_plan(*db, table), parse_leaf_entry_view(tag.flags, tag.value)->data);
    Strings first;
    std::size_t non_null = 0;
    for (const Field& f : r.fields) {
      if (first.size() < e.values.size()) first.push_back(show(f.value));
      non_null += !f.value.is_null();
    }
    EXPECT_EQ(first, e.values) << e.file;
    EXPECT_EQ(non_null, e.non_null) << e.file;
  }
}

}  // namespace
}  // namespace quarrow
