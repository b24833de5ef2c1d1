#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "forensic/carve.h"
#include "database/database.h"
#include "db_builder.h"
#include "page/tag.h"

namespace quarrow {

void PrintTo(const ByteRange& r, std::ostream* os) { *os << "[" << r.start << ", " << r.end << ")"; }

namespace {

using Buf = test::ByteVec;
using test::put16;
using test::put32;
void put_utf16(Buf& b, std::size_t at, const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) put16(b, at + 2 * i, static_cast<std::uint8_t>(s[i]));
}

// The scanner as the format's rules state it, one code unit at a time.
void reference_scan(std::uint64_t start, std::uint64_t end, const Buf& p, const std::string& needle,
                    std::uint64_t m, std::uint64_t k, std::vector<CarveHit>& out) {
  m = std::max<std::uint64_t>(m, 2);
  k = std::max<std::uint64_t>(k, 1);
  end = std::min<std::uint64_t>(end, p.size());
  if (start >= end) return;
  std::uint64_t c = start;
  for (;;) {
    if (c + 2 > end || out.size() >= k) return;
    if (c & 1) {
      if (c + 3 > end) return;
      c += 1;
    }
    std::uint64_t i = c;
    std::string text;
    while (i + 2 <= end) {
      const unsigned u = p[i] + 256u * p[i + 1];
      if (u < 0x20 || u > 0x7E) break;
      text.push_back(static_cast<char>(u));
      i += 2;
    }
    if (text.size() < m) {
      c += 2;
      continue;
    }
    if (needle.empty() || text.find(needle) != std::string::npos) {
      CarveHit h;
      h.offset = c;
      h.slack_start = start;
      h.slack_end = end;
      h.text = text;
      out.push_back(h);
      if (out.size() >= k) return;
    }
    c = i + 2;
  }
}

std::vector<CarveHit> fast_scan(std::uint64_t start, std::uint64_t end, const Buf& p, const std::string& needle,
                                std::uint64_t m, std::uint64_t k) {
  CarveRegion r;
  r.start = start;
  r.end = end;
  std::vector<CarveHit> out;
  scan_region(r, Bytes(p), needle, m, k, out);
  return out;
}

using Found = std::vector<std::pair<std::uint64_t, std::string>>;
Found offsets_and_texts(const std::vector<CarveHit>& hits) {
  Found f;
  for (const CarveHit& h : hits) f.emplace_back(h.offset, h.text);
  return f;
}

// ---- The scanner on hand-made byte arrays ----

struct ScanCase {
  const char* name;
  std::vector<std::pair<std::size_t, std::string>> texts;  // UTF-16LE strings placed at offsets
  std::vector<std::pair<std::size_t, std::uint16_t>> units;  // single code units placed at offsets
  std::uint64_t start, end, min_run, max_hits;
  std::string needle;
  Found expected;
};

class ScanRegion : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanRegion, FindsExactlyTheExpectedRuns) {
  const ScanCase& c = GetParam();
  Buf page(256, 0);
  for (const auto& [at, s] : c.texts) put_utf16(page, at, s);
  for (const auto& [at, u] : c.units) put16(page, at, u);
  EXPECT_EQ(offsets_and_texts(fast_scan(c.start, c.end, page, c.needle, c.min_run, c.max_hits)), c.expected);
  std::vector<CarveHit> ref;
  reference_scan(c.start, c.end, page, c.needle, c.min_run, c.max_hits, ref);
  EXPECT_EQ(offsets_and_texts(ref), c.expected);
}

const std::string kAbc = "ABCDEFGH";
INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ScanRegion,
    testing::Values(
        ScanCase{"OneByteRegion", {{10, kAbc}}, {}, 10, 11, 2, 10, "", {}},
        ScanCase{"ThreeBytesAtOddStart", {{10, kAbc}}, {}, 9, 12, 2, 10, "", {}},
        ScanCase{"OddStartReadsFromNextEven", {{10, kAbc}}, {}, 9, 200, 6, 10, "", {{10, kAbc}}},
        ScanCase{"OddOffsetTextIsNeverFound", {}, {{11, 'A'}, {13, 'B'}, {15, 'C'}, {17, 'D'}}, 0, 200, 2, 10, "", {}},
        ScanCase{"FiveCharsBelowSix", {{10, "ABCDE"}}, {}, 0, 200, 6, 10, "", {}},
        ScanCase{"SixCharsReach", {{10, "ABCDEF"}}, {}, 0, 200, 6, 10, "", {{10, "ABCDEF"}}},
        ScanCase{"MinZeroActsAsTwo", {{10, "A"}, {20, "BC"}}, {}, 0, 200, 0, 10, "", {{20, "BC"}}},
        ScanCase{"MinOneActsAsTwo", {{10, "A"}, {20, "BC"}}, {}, 0, 200, 1, 10, "", {{20, "BC"}}},
        ScanCase{"RunToRegionEndNeedsNoTerminator", {{10, kAbc}}, {}, 0, 26, 2, 10, "", {{10, kAbc}}},
        ScanCase{"RegionCutsRunShort", {{10, kAbc}}, {}, 14, 22, 2, 10, "", {{14, "CDEF"}}},
        ScanCase{"TrailingOddByteIgnored", {{10, kAbc}}, {}, 10, 15, 2, 10, "", {{10, "AB"}}},
        ScanCase{"TerminatorsSplitRuns",
                 {{0, "AAA"}, {8, "BBB"}, {16, "CCC"}, {24, "DDD"}, {32, "EEE"}, {40, "FFF"}, {48, "GGG"}},
                 {{6, 0x0009}, {14, 0x000A}, {22, 0x00E9}, {30, 0x0141}, {38, 0x007F}, {46, 0x2041}},
                 0, 54, 3, 10, "",
                 {{0, "AAA"}, {8, "BBB"}, {16, "CCC"}, {24, "DDD"}, {32, "EEE"}, {40, "FFF"}, {48, "GGG"}}},
        ScanCase{"SpaceAndTildeArePrintable", {{0, " ~ ~"}}, {}, 0, 200, 4, 10, "", {{0, " ~ ~"}}},
        ScanCase{"NeedleIsCaseSensitive", {{10, "HELLO WORLD"}}, {}, 0, 200, 2, 10, "world", {}},
        ScanCase{"NeedleGivesWholeRun", {{10, "HELLO WORLD"}, {40, "OTHER"}}, {}, 0, 200, 2, 10, "LO W",
                 {{10, "HELLO WORLD"}}},
        ScanCase{"NeedleLongerThanRun", {{10, "ABC"}}, {}, 0, 200, 2, 10, "ABCD", {}},
        ScanCase{"NeedleOutsidePrintableAscii", {{10, "ABC"}}, {}, 0, 200, 2, 10, "A\tB", {}},
        ScanCase{"HitLimitStopsScan", {{0, "AAA"}, {8, "BBB"}, {16, "CCC"}}, {}, 0, 200, 2, 2, "",
                 {{0, "AAA"}, {8, "BBB"}}},
        ScanCase{"HitLimitZeroActsAsOne", {{0, "AAA"}, {8, "BBB"}}, {}, 0, 200, 2, 0, "", {{0, "AAA"}}},
        ScanCase{"RegionPastPageEndIsCut", {{248, "ABCD"}}, {}, 240, 100000, 2, 10, "", {{248, "ABCD"}}},
        ScanCase{"EmptyRegion", {{10, kAbc}}, {}, 50, 50, 2, 10, "", {}},
        ScanCase{"StartAfterEnd", {{10, kAbc}}, {}, 60, 50, 2, 10, "", {}}),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(ScanRegion, AppendsNothingWhenTheListIsAlreadyFull) {
  Buf page(64, 0);
  put_utf16(page, 0, "ABCDEF");
  CarveRegion r;
  r.end = 64;
  std::vector<CarveHit> out(3);
  scan_region(r, Bytes(page), "", 2, 3, out);
  EXPECT_EQ(out.size(), 3u);
}

TEST(ScanRegion, HitCarriesTheRegionContext) {
  Buf page(64, 0);
  put_utf16(page, 20, "ABCDEF");
  const std::optional<std::string> table = "T";
  CarveRegion r{7, 3, 60, "tag_data", 0x4802, "leaf", &table};
  std::vector<CarveHit> out;
  scan_region(r, Bytes(page), "", 6, 10, out);
  ASSERT_EQ(out.size(), 1u);
  const CarveHit& h = out[0];
  EXPECT_EQ(std::tie(h.page, h.offset, h.slack_start, h.slack_end, h.page_flags),
            std::make_tuple(7u, 20u, 3u, 60u, 0x4802u));
  EXPECT_EQ(h.region_kind, "tag_data");
  EXPECT_EQ(h.page_type, "leaf");
  EXPECT_EQ(h.table, table);
}

// The block-wise scanner against the rules, over buffers whose runs cross the
// 64-unit blocks in every way: long runs, short runs, stray odd-offset text, units
// with a high byte, and needles taken from the data.
TEST(ScanRegion, MatchesTheReferenceOnRandomBuffers) {
  std::mt19937_64 rng(20240611);
  auto pick = [&rng](std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng); };
  const char alphabet[] = "abcAB ~xyz";
  for (int round = 0; round < 4000; ++round) {
    Buf page(pick(600) + 1);
    std::size_t i = 0;
    while (i < page.size()) {
      const std::uint64_t kind = pick(10);
      const std::size_t len = static_cast<std::size_t>(kind < 3 ? pick(150) : pick(6));
      for (std::size_t j = 0; j < len && i < page.size(); ++j, ++i) {
        switch (kind) {
          case 0: case 1: case 2: case 3: case 4:  // printable text (one byte in two)
            page[i] = (i % 2 == 0) ? static_cast<std::uint8_t>(alphabet[pick(10)]) : 0;
            break;
          case 5: page[i] = 0; break;
          case 6: page[i] = static_cast<std::uint8_t>(0x1F + pick(3) * 0x5F / 2); break;  // 0x1F, 0x4E, 0x7E
          default: page[i] = static_cast<std::uint8_t>(pick(256)); break;
        }
      }
    }
    const std::uint64_t a = pick(page.size() + 3), b = pick(page.size() + 8);
    const std::uint64_t start = std::min(a, b), end = pick(20) == 0 ? std::max(a, b) + 100 : std::max(a, b);
    const std::uint64_t min_run = pick(5) == 0 ? pick(140) : pick(8);
    const std::uint64_t max_hits = pick(4) == 0 ? pick(4) : 1000;
    std::string needle;
    if (pick(3) == 0) {
      const std::size_t at = static_cast<std::size_t>(pick(page.size()) & ~std::size_t{1});
      const std::size_t length = static_cast<std::size_t>(pick(4) + 1);
      for (std::size_t j = at; j + 1 < page.size() && needle.size() < length; j += 2) {
        needle.push_back(static_cast<char>(page[j]));
      }
    }
    std::vector<CarveHit> ref;
    reference_scan(start, end, page, needle, min_run, max_hits, ref);
    const std::vector<CarveHit> got = fast_scan(start, end, page, needle, min_run, max_hits);
    ASSERT_EQ(offsets_and_texts(got), offsets_and_texts(ref))
        << "round " << round << " size " << page.size() << " [" << start << "," << end << ") m " << min_run;
  }
}

// ---- Slack of one page ----

PageView view_of(const Buf& page, std::uint32_t page_size, std::uint32_t version = 0x620,
                 std::uint32_t revision = 20) {
  Result<PageView> v = parse_page_header(Bytes(page), PageLayout{version, revision, page_size});
  EXPECT_TRUE(v.ok());
  return *v;
}

// Tags as (start offset after the header, size); tag i is written at the page end.
Buf page_with_tags(std::uint32_t page_size, const std::vector<std::pair<std::uint16_t, std::uint16_t>>& tags,
                   std::optional<std::uint16_t> count = std::nullopt) {
  Buf page(page_size, 0);
  put16(page, 34, count.value_or(static_cast<std::uint16_t>(tags.size())));
  for (std::size_t i = 0; i < tags.size(); ++i) {
    put16(page, page_size - 4 * (i + 1), tags[i].second);
    put16(page, page_size - 4 * (i + 1) + 2, tags[i].first);
  }
  return page;
}

struct SlackCase {
  const char* name;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> tags;
  std::optional<std::uint16_t> count;
  std::vector<ByteRange> expected;
};

class SlackRegions : public testing::TestWithParam<SlackCase> {};

TEST_P(SlackRegions, AreTheGapsBetweenUsedRanges) {
  const SlackCase& c = GetParam();
  const Buf page = page_with_tags(4096, c.tags, c.count);
  EXPECT_EQ(slack_regions(view_of(page, 4096)), c.expected);
}

// Header 0..40; tag offsets count from 40.
INSTANTIATE_TEST_SUITE_P(
    Pages, SlackRegions,
    testing::Values(
        SlackCase{"NoTags", {}, std::nullopt, {{40, 4096}}},
        SlackCase{"OneTag", {{0, 100}}, std::nullopt, {{140, 4092}}},
        SlackCase{"HoleBetweenValuesOutOfOrder", {{200, 10}, {0, 100}}, std::nullopt, {{140, 240}, {250, 4088}}},
        SlackCase{"OverlappingTagsAreUnited", {{100, 60}, {130, 70}}, std::nullopt, {{40, 140}, {240, 4088}}},
        SlackCase{"TouchingTagsLeaveNoGap", {{0, 10}, {10, 10}}, std::nullopt, {{60, 4088}}},
        SlackCase{"EmptyTagUsesNothing", {{500, 0}}, std::nullopt, {{40, 4092}}},
        SlackCase{"TagPastPageEndIsIgnored", {{4040, 100}}, std::nullopt, {{40, 4092}}},
        SlackCase{"TagEndingAtPageEndCoversTheTagArray", {{4040, 16}}, std::nullopt, {{40, 4080}}},
        SlackCase{"TagCountLargerThanThePage", {{0, 10}}, std::uint16_t{1025}, {}}),
    [](const testing::TestParamInfo<SlackCase>& info) { return std::string(info.param.name); });

TEST(SlackRegionsLargePages, StartAfterTheExtendedHeader) {
  // 32 KiB pages of a current-format database: 80-byte header, 15-bit tag fields.
  Buf page = page_with_tags(32768, {{0x8000 | 100, 16}});
  put16(page, 28, 0);  // available data size: no cap on the tag count
  EXPECT_EQ(slack_regions(view_of(page, 32768)), (std::vector<ByteRange>{{80, 180}, {196, 32764}}));
}

// ---- The page walk over small in-memory databases ----

// A database image: header page, then pages 0..total of 4096 bytes. Page 4 holds the
// catalog: one leaf page whose entries are table records.
class Image {
 public:
  static constexpr std::uint32_t S = 4096;
  static constexpr std::uint32_t H = 40;

  explicit Image(std::uint32_t total) : bytes_((total + 2) * S, 0) {
    put32(bytes_, 4, 0x89ABCDEF);
    put32(bytes_, 8, 0x620);
    put32(bytes_, 232, 20);
    put32(bytes_, 236, S);
    set_page(4, kPageLeaf, 0);
    add_tag(4, {});  // the catalog page's external header
  }

  std::size_t at(std::uint32_t page, std::size_t offset) const { return (page + 1) * S + offset; }

  void set_page(std::uint32_t page, std::uint32_t flags, std::uint32_t next) {
    put32(bytes_, at(page, 20), next);
    put32(bytes_, at(page, 36), flags);
  }

  // Appends a tag whose value is `value`, stored after the previous tag's value.
  void add_tag(std::uint32_t page, const Buf& value) {
    std::uint16_t& used = used_[page];
    add_raw_tag(page, used, static_cast<std::uint16_t>(value.size()));
    std::copy(value.begin(), value.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at(page, H + used)));
    used = static_cast<std::uint16_t>(used + value.size());
  }
  // A tag with any offset (from the header end) and size.
  void add_raw_tag(std::uint32_t page, std::uint16_t offset, std::uint16_t size) {
    const std::uint16_t n = tag_count_[page]++;
    put16(bytes_, at(page, 34), tag_count_[page]);
    put16(bytes_, at(page, S - 4 * (n + 1)), size);
    put16(bytes_, at(page, S - 4 * (n + 1) + 2), offset);
  }

  void add_table(const std::string& name, std::uint32_t root) {
    Buf entry(2 + 24 + name.size(), 0);  // local key size 0, then the record
    Buf rec(24 + name.size(), 0);
    rec[1] = 128;  // one variable column: the name
    put16(rec, 2, 22);
    put32(rec, 4, 2);
    put16(rec, 8, 1);  // table record
    put32(rec, 10, ++object_id_);
    put32(rec, 14, root);
    put16(rec, 22, static_cast<std::uint16_t>(name.size()));
    std::copy(name.begin(), name.end(), rec.begin() + 24);
    std::copy(rec.begin(), rec.end(), entry.begin() + 2);
    add_tag(4, entry);
  }

  void text(std::uint32_t page, std::size_t offset, const std::string& s) { put_utf16(bytes_, at(page, offset), s); }
  void put(std::uint32_t page, std::size_t offset, const Buf& b) {
    std::copy(b.begin(), b.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at(page, offset)));
  }

  std::unique_ptr<Database> open() const {
    Result<std::unique_ptr<Database>> db = Database::open_bytes(bytes_);
    EXPECT_TRUE(db.ok()) << (db.ok() ? "" : db.error().to_string());
    return db.ok() ? std::move(*db) : nullptr;
  }

 private:
  Buf bytes_;
  std::uint16_t used_[64] = {};
  std::uint16_t tag_count_[64] = {};
  std::uint32_t object_id_ = 100;
};

Buf utf16(const std::string& s) {
  Buf b(2 * s.size(), 0);
  put_utf16(b, 0, s);
  return b;
}

std::vector<CarveHit> carve(const Image& img, const char* scope, std::uint64_t max_hits = 1000,
                            const std::string& needle = "", std::uint64_t min_chars = 6) {
  std::unique_ptr<Database> db = img.open();
  if (!db) return {};
  return carve_strings(*db, *parse_carve_scope(scope), needle, min_chars, max_hits);
}

TEST(CarveScopes, NamesAreExact) {
  EXPECT_EQ(parse_carve_scope("lv_slack"), CarveScope::LvSlack);
  EXPECT_EQ(parse_carve_scope("tag_data"), CarveScope::TagData);
  using namespace std::string_view_literals;
  for (std::string_view bad : {"Slack"sv, " all"sv, "all "sv, ""sv, "lv-all"sv, "tag_data\0"sv}) {
    EXPECT_FALSE(parse_carve_scope(bad).has_value()) << bad;
  }
}

struct TypeCase {
  std::uint32_t flags;
  const char* page_type;
  bool owned;
};

class CarvePageKinds : public testing::TestWithParam<TypeCase> {};

TEST_P(CarvePageKinds, NameTheTypeAndOwnerOnlyForTableLeaves) {
  const TypeCase& c = GetParam();
  Image img(8);
  img.add_table("T", 6);
  img.set_page(6, c.flags, 0);
  img.text(6, 100, "PAGE SIX TEXT");
  const std::vector<CarveHit> hits = carve(img, "slack");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].page, 6u);
  EXPECT_EQ(hits[0].page_flags, c.flags);
  EXPECT_EQ(hits[0].page_type, c.page_type);
  EXPECT_EQ(hits[0].table, c.owned ? std::optional<std::string>("T") : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Flags, CarvePageKinds,
                         testing::Values(TypeCase{0x00, "branch", false}, TypeCase{0x02, "leaf", true},
                                         TypeCase{0x4802, "leaf", true}, TypeCase{0x22, "space_tree", false},
                                         TypeCase{0x42, "index", false}, TypeCase{0x82, "long_value", false}));

TEST(CarveWalk, PageWithoutTagsIsSlackFromHeaderToEnd) {
  Image img(6);
  img.text(5, 40, "AT HEADER END");
  img.text(5, 4096 - 14, "AT PAGE");  // reaches the page end
  const std::vector<CarveHit> hits = carve(img, "slack");
  ASSERT_EQ(hits.size(), 2u);
  for (const CarveHit& h : hits) {
    EXPECT_EQ(std::tie(h.page, h.slack_start, h.slack_end), std::make_tuple(5u, 40u, 4096u));
    EXPECT_EQ(h.region_kind, "slack");
  }
  EXPECT_EQ(offsets_and_texts(hits), (Found{{40, "AT HEADER END"}, {4082, "AT PAGE"}}));
}

TEST(CarveWalk, OverlappingTagsAreScannedTwiceButUsedOnce) {
  Image img(6);
  img.set_page(5, kPageLeaf, 0);
  img.add_raw_tag(5, 100, 60);  // page bytes 140..200
  img.add_raw_tag(5, 130, 70);  // page bytes 170..240
  img.text(5, 170, "SHARED TEXT HERE");
  img.text(5, 300, "FREE SPACE");
  img.add_raw_tag(5, 4000, 200);  // ends past the page: ignored by both scopes
  img.text(5, 4050, "PAST END");

  const std::vector<CarveHit> tags = carve(img, "tag_data");
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(std::tie(tags[0].offset, tags[0].slack_start, tags[0].slack_end), std::make_tuple(170u, 140u, 200u));
  EXPECT_EQ(tags[0].text, "SHARED TEXT HER");  // cut at the end of the first tag's value
  EXPECT_EQ(std::tie(tags[1].offset, tags[1].slack_start, tags[1].slack_end), std::make_tuple(170u, 170u, 240u));
  EXPECT_EQ(tags[1].text, "SHARED TEXT HERE");

  const std::vector<CarveHit> slack = carve(img, "slack");
  EXPECT_EQ(offsets_and_texts(slack), (Found{{300, "FREE SPACE"}, {4050, "PAST END"}}));
  EXPECT_EQ(std::tie(slack[0].slack_start, slack[0].slack_end), std::make_tuple(240u, 4084u));
}

TEST(CarveWalk, WholePageScopeStartsAtOffsetZero) {
  Image img(6);
  img.text(6, 0, "FIRST BYTES");
  const std::vector<CarveHit> hits = carve(img, "all");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(std::tie(hits[0].page, hits[0].offset, hits[0].slack_start, hits[0].slack_end),
            std::make_tuple(6u, 0u, 0u, 4096u));
  EXPECT_EQ(hits[0].region_kind, "all");
}

TEST(CarveWalk, HitLimitEndsTheRun) {
  Image img(8);
  for (std::uint32_t p : {5u, 6u}) {
    img.set_page(p, kPageLeaf, 0);
    for (int i = 0; i < 3; ++i) img.add_tag(p, utf16("TAGGED" + std::to_string(i) + '\0'));
    img.text(p, 1000, "LOOSE ONE");
    img.text(p, 2000, "LOOSE TWO");
  }
  for (const char* scope : {"all", "slack", "tag_data"}) {
    const std::vector<CarveHit> two = carve(img, scope, 2);
    ASSERT_EQ(two.size(), 2u) << scope;
    EXPECT_EQ(two[1].page, 5u) << scope;
    EXPECT_EQ(carve(img, scope, 0).size(), 1u) << scope;
  }
  EXPECT_EQ(carve(img, "all").size(), 10u);
  EXPECT_EQ(carve(img, "all", 1000, "TWO").size(), 2u);
  EXPECT_EQ(carve(img, "all", 1000, "", 12).size(), 0u);
}

TEST(CarveWalk, LongValueScopesVisitOnlyLongValuePages) {
  Image img(8);
  img.set_page(5, kPageLeaf | kPageLongValue, 0);
  img.text(5, 500, "LONG VALUE TEXT");
  img.set_page(6, kPageLeaf, 0);
  img.text(6, 500, "ORDINARY TEXT");
  img.add_table("T", 5);
  for (const auto& [scope, kind] : {std::pair{"lv_all", "all"}, std::pair{"lv_slack", "slack"}}) {
    const std::vector<CarveHit> hits = carve(img, scope);
    ASSERT_EQ(hits.size(), 1u) << scope;
    EXPECT_EQ(hits[0].region_kind, kind);
    EXPECT_EQ(hits[0].page_type, "long_value");
    EXPECT_FALSE(hits[0].table.has_value());
  }
}

// Table roots and chains, damaged ones included:
//   A: root 5, chain 5 -> 6 -> 7            B: root 6 (shares 6, 7 with A)
//   C: root 8, chain 8 -> 9 -> 8 (a loop)   D: root beyond the file (passed over)
//   E: branch root 10, tag 1 -> leaf 11 -> 12
//   F: branch root 13 whose tag 1 does not decode: no leaf, and the next-page link of
//      a branch page leads to no leaf of F (14 stays unowned)
//   G: branch root 15 whose tag 1 names itself: passed over (its next page 16 stays unowned)
//   H: name bytes that are not UTF-8
TEST(CarveWalk, OwningTableFollowsEachTreeFirstTableWins) {
  Image img(20);
  for (std::uint32_t p = 5; p <= 18; ++p) img.set_page(p, kPageLeaf, 0);
  img.set_page(5, kPageLeaf, 6);
  img.set_page(6, kPageLeaf, 7);
  img.set_page(8, kPageLeaf, 9);
  img.set_page(9, kPageLeaf, 8);
  img.set_page(10, 0, 0);
  img.add_tag(10, {});
  img.add_tag(10, {0, 0, 11, 0, 0, 0});  // branch entry: empty key, child page 11
  img.set_page(11, kPageLeaf, 12);
  img.set_page(13, 0, 14);
  img.add_tag(13, {});
  img.add_tag(13, {1, 2});
  img.set_page(15, 0, 16);
  img.add_tag(15, {});
  img.add_tag(15, {0, 0, 15, 0, 0, 0});
  img.set_page(17, kPageLeaf, 0);
  img.add_table("A", 5);
  img.add_table("B", 6);
  img.add_table("C", 8);
  img.add_table("D", 5000);
  img.add_table("E", 10);
  img.add_table("F", 13);
  img.add_table("G", 15);
  img.add_table("H\xff", 17);
  for (std::uint32_t p = 5; p <= 18; ++p) img.text(p, 2000, "PAGE TEXT");

  std::vector<std::optional<std::string>> owners;
  for (const CarveHit& h : carve(img, "slack")) {
    if (h.page >= 5) owners.push_back(h.table);
  }
  const std::optional<std::string> none;
  EXPECT_EQ(owners, (std::vector<std::optional<std::string>>{
                        "A", "A", "A", "C", "C",  // pages 5..9
                        none, "E", "E",           // 10 is a branch page
                        none, none,               // 13 is a branch page, 14 not F's
                        none, none,               // G was passed over
                        "H\xEF\xBF\xBD", none}));
}

TEST(CarveWalk, EmptyCatalogLeavesEveryPageWithoutTable) {
  Image img(6);
  img.set_page(5, kPageLeaf, 0);
  img.text(5, 200, "NO TABLES HERE");
  const std::vector<CarveHit> hits = carve(img, "all");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_FALSE(hits[0].table.has_value());
}

}  // namespace
}  // namespace quarrow
