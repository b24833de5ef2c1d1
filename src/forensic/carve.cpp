// The carving walk: which pages are visited, which byte ranges of each page are
// scanned under each scope, and the context (page type, owning table) every hit
// carries. Nothing here fails: unreadable pages, tags and links only narrow the result.
#include "forensic/carve.h"

#include <algorithm>

#include "database/traversal.h"
#include "forensic/page_owners.h"
#include "page/slack.h"
#include "page/tag.h"
#include "record/text.h"

namespace quarrow {
namespace {

const char* const kKindSlack = "slack";
const char* const kKindAll = "all";
const char* const kKindTagData = "tag_data";

class CarveRun {
 public:
  CarveRun(const Database& db, CarveScope scope, std::string_view needle, std::uint64_t min_run,
           std::uint64_t max_hits)
      : db_(db), scope_(scope), needle_(needle), min_run_(min_run), max_hits_(max_hits), owners_(db) {}

  std::vector<CarveHit> run(std::uint32_t first, std::uint32_t last) {
    const std::uint64_t end = std::min<std::uint64_t>(last, db_.total_pages());
    // Every page is read once, in file order: hand the pages scanned so far back to the
    // operating system now and then, so that the resident set stays flat.
    std::uint64_t since_release = 0;
    for (std::uint64_t p = std::max<std::uint32_t>(first, 1); p <= end && !full(); ++p) {
      carve_page(static_cast<std::uint32_t>(p));
      since_release += db_.page_size();
      if (since_release >= kChainReleaseBytes) {
        db_.release_resident_pages();
        since_release = 0;
      }
    }
    return std::move(results_);
  }

 private:
  bool full() const { return results_.size() >= max_hits_; }

  void carve_page(std::uint32_t number) {
    Result<PageView> loaded = db_.load_page(number);
    if (!loaded) return;
    const PageView& page = *loaded;
    const std::uint32_t flags = page.header.flags;
    const bool long_value_scope = scope_ == CarveScope::LvAll || scope_ == CarveScope::LvSlack;
    if (long_value_scope && (flags & kPageLongValue) == 0) return;

    CarveRegion region;
    region.page = number;
    region.page_flags = flags;
    region.page_type = page_type_name(flags);
    const bool table_leaf = (flags & kPageLeaf) != 0 && (flags & (kPageSpaceTree | kPageIndex | kPageLongValue)) == 0;
    region.table = table_leaf && !db_.catalog().empty() ? owners_.owner_of(number) : &no_table_;

    switch (scope_) {
      case CarveScope::All:
      case CarveScope::LvAll:
        region.region_kind = kKindAll;
        scan(region, page, 0, page.data.size());
        break;
      case CarveScope::Slack:
      case CarveScope::LvSlack:
        region.region_kind = kKindSlack;
        for (const ByteRange& gap : slack_regions(page)) {
          scan(region, page, gap.start, gap.end);
          if (full()) break;
        }
        break;
      case CarveScope::TagData:
        region.region_kind = kKindTagData;
        for (std::uint16_t i = 0; i < readable_tag_count(page) && !full(); ++i) {
          Result<PageTag> tag = read_tag(page, i);
          if (!tag || tag->value.empty()) continue;
          const std::uint64_t start = static_cast<std::uint64_t>(tag->value.data() - page.data.data());
          scan(region, page, start, start + tag->value.size());
        }
        break;
    }
  }

  void scan(CarveRegion& region, const PageView& page, std::uint64_t start, std::uint64_t end) {
    region.start = start;
    region.end = end;
    scan_region(region, page.data, needle_, min_run_, max_hits_, results_);
  }

  const Database& db_;
  CarveScope scope_;
  std::string_view needle_;
  std::uint64_t min_run_;
  std::uint64_t max_hits_;
  PageOwners owners_;
  std::optional<std::string> no_table_;
  std::vector<CarveHit> results_;
};

}  // namespace

std::optional<CarveScope> parse_carve_scope(std::string_view name) {
  if (name == "slack") return CarveScope::Slack;
  if (name == "all") return CarveScope::All;
  if (name == "tag_data") return CarveScope::TagData;
  if (name == "lv_all") return CarveScope::LvAll;
  if (name == "lv_slack") return CarveScope::LvSlack;
  return std::nullopt;
}

std::vector<CarveHit> carve_strings(const Database& db, CarveScope scope, std::string_view needle,
                                    std::uint64_t min_chars, std::uint64_t max_hits) {
  return carve_strings_in_pages(db, scope, needle, min_chars, max_hits, 1, db.total_pages());
}

std::vector<CarveHit> carve_strings_in_pages(const Database& db, CarveScope scope, std::string_view needle,
                                             std::uint64_t min_chars, std::uint64_t max_hits,
                                             std::uint32_t first_page, std::uint32_t last_page) {
  CarveRun run(db, scope, needle, std::max<std::uint64_t>(min_chars, 2), std::max<std::uint64_t>(max_hits, 1));
  return run.run(first_page, last_page);
}

}  // namespace quarrow
