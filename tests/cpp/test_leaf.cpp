#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "page/leaf.h"

namespace quarrow {
namespace {

using S = std::string;

struct LeafCase {
  std::uint8_t flags;
  S value;
  std::optional<std::uint16_t> common;
  std::uint16_t local_size;
  S key, data;
};

TEST(LeafEntry, SplitsKeyAndData) {
  const std::vector<LeafCase> cases = {
      {0, S("\x01\x00", 2), std::nullopt, 0, "", ""},                        // size word, no bytes behind it
      {0, S("\x00\x00\xAA\xBB", 4), std::nullopt, 0, "", "\xAA\xBB"},         // empty key
      {0, S("\x05\x00\xAA\xBB", 4), std::nullopt, 2, "\xAA\xBB", ""},         // key cut short
      {0, S("\x03\x80" "abcd", 6), std::nullopt, 3, "abc", "d"},              // bit 15 dropped
      {0x4, S("\x07\x80\x01\x00" "kd", 6), 0x8007, 1, "k", "d"},              // common size kept whole
      {0x4, S("\x02\x00\x05\x00", 4), 2, 0, "", ""},
      {0x3, S("\x01\x00" "kd", 4), std::nullopt, 1, "k", "d"},                // other flag bits ignored
  };
  for (const LeafCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value));
    Result<LeafEntry> r = parse_leaf_entry(c.flags, as_bytes(c.value));
    ASSERT_TRUE(r.ok()) << r.error().to_string();
    EXPECT_EQ(r->common_key_size, c.common);
    EXPECT_EQ(r->local_key_size, c.local_size);
    EXPECT_EQ(r->key, c.key);
    EXPECT_EQ(r->data, c.data);
  }
}

TEST(BranchEntry, FindsChildPage) {
  struct Case {
    std::uint8_t flags;
    S value, key;
    std::uint16_t local_size;
    std::uint32_t child;
  };
  for (const Case& c : {Case{0, S("\x02\x00\xAA\xBB\x05\x00\x00\x00", 8), "\xAA\xBB", 2, 5},
                        Case{0, S("\x00\x00\x01\x00\x00\x00\xFF\xFF", 8), "", 0, 1},  // trailing bytes ignored
                        Case{0, S("\x00\x00\xA0\x86\x01\x00", 6), "", 0, 100000},
                        Case{0, S("\x01\x80\xAA\x07\x00\x00\x00", 7), "\xAA", 1, 7},
                        Case{0x4, S("\x03\x00\x01\x00\xCC\x09\x00\x00\x00", 9), "\xCC", 1, 9}}) {
    SCOPED_TRACE(testing::PrintToString(c.value));
    Result<BranchEntry> r = parse_branch_entry(c.flags, as_bytes(c.value), 100000);
    ASSERT_TRUE(r.ok()) << r.error().to_string();
    EXPECT_EQ(r->key, c.key);
    EXPECT_EQ(r->local_key_size, c.local_size);
    EXPECT_EQ(r->child_page, c.child);
  }
}

TEST(TreeEntry, ParseErrorMessages) {
  struct Case {
    bool branch;
    std::uint8_t flags;
    S value, message;
  };
  const std::vector<Case> cases = {
      {false, 0x4, "abc", "Leaf entry too short: got 3 bytes, need at least 4 (flags: 0x4)"},
      {false, 0x0, "a", "Leaf entry too short: got 1 bytes, need at least 2 (flags: 0x0)"},
      {true, 0x0, "abcde", "Branch entry too short: got 5 bytes, need at least 6 (flags: 0x0)"},
      {true, 0x6, "abcdefg", "Branch entry too short: got 7 bytes, need at least 8 (flags: 0x6)"},
      {true, 0x0, S("\x04\x00\xAA\xBB\xCC\xDD\x05\x00", 8),
       "Branch entry too short for child page number: got 8 bytes, offset 6, need 4 more (likely metadata tag)"},
      {true, 0x4, S("\x00\x00\x09\x00" "abcd", 8),
       "Branch entry too short for child page number: got 8 bytes, offset 8, need 4 more (likely metadata tag)"},
      {true, 0x0, S("\x00\x00\xA1\x86\x01\x00", 6),
       "Branch entry has invalid child page number: 100001 (likely corrupted data)"},
      {true, 0x0, S("\x00\x00\x00\x00\x00\x00", 6), "Branch entry has invalid child page number: 0 (likely corrupted data)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Bytes value = as_bytes(c.value);
    const std::string got = c.branch ? parse_branch_entry(c.flags, value, 100000).error().to_string()
                                     : parse_leaf_entry(c.flags, value).error().to_string();
    EXPECT_EQ(got, "Parse error: " + c.message);
    if (c.branch) {
      EXPECT_EQ(parse_branch_child(c.flags, value, 100000).error().text(), c.message);
    }
  }
}

}  // namespace
}  // namespace quarrow
