#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "db_builder.h"
#include "page/tag.h"

namespace quarrow {
namespace {

using test::ByteVec;
using test::put16;

constexpr PageLayout kClassic{0x620, 12, 4096};
constexpr PageLayout kLarge{0x620, 17, 16384};

// A page whose tag 0 has the given size and offset words.
ByteVec page_with_tag(const PageLayout& layout, std::uint16_t size_word, std::uint16_t offset_word) {
  ByteVec page(layout.page_size, 0);
  put16(page, 34, 1);
  put16(page, page.size() - 4, size_word);
  put16(page, page.size() - 2, offset_word);
  return page;
}

PageView view_of(const ByteVec& page, const PageLayout& layout) {
  Result<PageView> v = parse_page_header(Bytes(page), layout);
  EXPECT_TRUE(v.ok());
  return v.ok() ? *v : PageView{};
}

TEST(PageHeader, ShapeDecidesHeaderSize) {
  struct Case {
    PageLayout layout;
    std::size_t length;
    std::uint64_t size_or_expected;
    bool ok;
  };
  for (const Case& c : {Case{kClassic, 39, 40, false}, Case{kClassic, 40, 40, true}, Case{kLarge, 39, 40, false},
                        Case{kLarge, 79, 80, false}, Case{kLarge, 80, 80, true}, Case{{0x620, 17, 8192}, 40, 40, true},
                        Case{{0x620, 16, 16384}, 40, 40, true},    // classic with two checksums
                        Case{{0x621, 0, 16384}, 79, 80, false},    // any newer version is current
                        Case{{0x61F, 99, 16384}, 40, 40, true}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.layout.version << " " << c.layout.revision << " " << c.length);
    const ByteVec page(c.length, 0);
    Result<PageView> v = parse_page_header(Bytes(page), c.layout);
    ASSERT_EQ(v.ok(), c.ok);
    const std::string got = c.ok ? std::to_string(v->header_size) : v.error().to_string();
    EXPECT_EQ(got, c.ok ? std::to_string(c.size_or_expected)
                        : "Page data too short, expected at least " + std::to_string(c.size_or_expected) +
                              " bytes, got " + std::to_string(c.length));
  }
  EXPECT_FALSE((PageLayout{0x621, 20, 16384}.large_tags()));  // newer versions keep classic tags
}

TEST(TagCount, CappedOnLargePagesAndMaskedToTwelveBits) {
  struct Case {
    std::uint32_t page_size;
    std::size_t length;
    std::uint16_t available, field, expected;
  };
  for (const Case& c : {Case{32768, 32768, 32700, 10, 10}, Case{32768, 32768, 32760, 10, 2},
                        Case{32768, 32768, 32768, 10, 0}, Case{32768, 32768, 40000, 10, 0},
                        Case{8192, 8192, 32760, 10, 10}, Case{8192, 8192, 40000, 10, 10},
                        Case{4096, 4096, 0, 0xF00A, 10}, Case{4096, 39, 0, 10, 0}}) {
    SCOPED_TRACE(testing::Message() << c.page_size << " " << c.length << " " << c.available);
    ByteVec page(c.length, 0);
    if (c.length >= 40) {
      put16(page, 28, c.available);
      put16(page, 34, c.field);
    }
    EXPECT_EQ(tag_count(Bytes(page), c.page_size), c.expected);
  }
}

TEST(ReadTag, ClassicAndLargeWordLayouts) {
  const ByteVec classic = page_with_tag(kClassic, 0xE010, 0x2F30);  // size 16, offset 0xF30, flags 1
  Result<PageTag> t = read_tag(view_of(classic, kClassic), 0);
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t->flags, 1);
  EXPECT_EQ(t->value.data(), classic.data() + 40 + 0xF30);
  EXPECT_EQ(t->value.size(), 16u);

  ByteVec large = page_with_tag(kLarge, 0x8010, 0x0100);  // size 16, offset 256: high bits dropped
  large[80 + 256 + 1] = 0xA5;                              // flags 0xA5 >> 5 = 5
  const PageView v = view_of(large, kLarge);
  t = read_tag(v, 0);
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t->flags, 5);
  EXPECT_EQ(t->value.data(), large.data() + 80 + 256);
  EXPECT_EQ(t->value[1], 0xA5);  // the range still carries the flag bits
  Result<OwnedPageTag> o = read_tag_owned(v, 0);
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o->flags, 5);
  EXPECT_EQ(o->owned, std::string("\0\x05", 2) + std::string(14, '\0'));  // the copy does not
  EXPECT_EQ(large[80 + 257], 0xA5);

  for (std::uint16_t size : {0, 1}) {  // too short to carry flags
    ByteVec tiny = page_with_tag(kLarge, size, 0);
    tiny[80] = 0xE7;
    o = read_tag_owned(view_of(tiny, kLarge), 0);
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o->flags, 0);
    EXPECT_EQ(o->owned, std::string("\xE7", size));
  }
}

// A value may end exactly at the page end. One byte further, read_tag fails; so does
// read_tag_owned in the classic layout, while in the large layout it gives an empty tag.
TEST(ReadTag, ValueRangeEndsAtPageEnd) {
  for (const PageLayout& layout : {kClassic, kLarge}) {
    SCOPED_TRACE(layout.page_size);
    const std::uint16_t last = static_cast<std::uint16_t>(layout.page_size - (layout.large_tags() ? 80 : 40) - 16);
    const ByteVec fits = page_with_tag(layout, 16, last);
    Result<PageTag> ok = read_tag(view_of(fits, layout), 0);
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(ok->value.data() + 16, fits.data() + fits.size());

    const ByteVec over = page_with_tag(layout, 16, last + 1);
    const PageView v = view_of(over, layout);
    Result<PageTag> bad = read_tag(v, 0);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().to_string(), "Tag offset out of bounds: offset=" + std::to_string(last + 1) +
                                           ", size=16, page_size=" + std::to_string(layout.page_size));
    Result<OwnedPageTag> owned = read_tag_owned(v, 0);
    ASSERT_EQ(owned.ok(), layout.large_tags());
    if (owned.ok()) {
      EXPECT_EQ(owned->flags, 0);
      EXPECT_TRUE(owned->owned.empty());
    }
  }
}

// Index at the count is invalid; a tag slot that would start before the page fails.
TEST(ReadTag, IndexChecks) {
  struct Case {
    std::size_t length;
    std::uint16_t count, index;
    std::string error;
  };
  for (const Case& c : {Case{4096, 3, 2, ""}, Case{4096, 3, 3, "Invalid tag number: 3"},
                        Case{42, 200, 9, ""},  // bytes 2..6
                        Case{42, 200, 10, "Page data too short, expected at least 44 bytes, got 42"},
                        Case{40, 200, 11, "Page data too short, expected at least 44 bytes, got 40"},
                        Case{40, 200, 12, "Page data too short, expected at least 48 bytes, got 40"}}) {
    SCOPED_TRACE(testing::Message() << c.length << " " << c.index);
    ByteVec page(c.length, 0);
    put16(page, 34, c.count);
    const PageView v = view_of(page, kClassic);
    Result<PageTag> t = read_tag(v, c.index);
    Result<OwnedPageTag> o = read_tag_owned(v, c.index);
    EXPECT_EQ(t.ok() ? "" : t.error().to_string(), c.error);
    EXPECT_EQ(o.ok() ? "" : o.error().to_string(), c.error);
  }
}

TEST(PageTypeName, FirstMatchingBitWins) {
  const std::vector<std::pair<std::uint32_t, std::string>> cases = {
      {0xE2, "long_value"}, {0x62, "space_tree"}, {0x42, "index"}, {0x02, "leaf"}, {0x00, "branch"}, {0x101, "branch"}};
  for (const auto& [flags, name] : cases) EXPECT_EQ(page_type_name(flags), name) << flags;
}

}  // namespace
}  // namespace quarrow
