// Carving: recovering UTF-16LE text from page space, including space that no tag
// covers any more (slack), for forensic recovery.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "format/database_header.h"
#include "page/slack.h"
#include "format/bytes.h"

namespace quarrow {

enum class CarveScope : std::uint8_t { Slack, All, TagData, LvAll, LvSlack };

// Exact, case-sensitive scope names: "slack", "all", "tag_data", "lv_all", "lv_slack".
std::optional<CarveScope> parse_carve_scope(std::string_view name);

struct CarveRegion {
  std::uint32_t page = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  const char* region_kind = "slack";  // "slack", "all" or "tag_data"
  std::uint32_t page_flags = 0;
  const char* page_type = "branch";
  const std::optional<std::string>* table = nullptr;  // owning table name as text, or absent
};

struct CarveHit {
  std::uint32_t page = 0;
  std::uint64_t offset = 0;
  std::uint64_t slack_start = 0;
  std::uint64_t slack_end = 0;
  std::string region_kind;
  std::uint32_t page_flags = 0;
  std::string page_type;
  std::optional<std::string> table;
  std::string text;
};


// Scans one region of a page for runs of printable-ASCII UTF-16LE code units at even
// offsets, at least `min_run` (>= 2) long and containing `needle` (empty: any), and
// appends hits until `results` holds `max_hits` (>= 1).
void scan_region(const CarveRegion& region, Bytes page, std::string_view needle, std::uint64_t min_run,
                 std::uint64_t max_hits, std::vector<CarveHit>& results);

// Where the hit's string lies in the file (its page's start plus its offset in the
// page): the `file_offset` of the module's hits and the tool's.
inline std::uint64_t hit_file_offset(const CarveHit& hit, std::uint32_t page_size) {
  return page_file_offset(hit.page, page_size) + hit.offset;
}

// The whole carving run over pages 1..total_pages. Never fails. `min_chars` is raised
// to at least 2 and `max_hits` to at least 1.
std::vector<CarveHit> carve_strings(const Database& db, CarveScope scope, std::string_view needle,
                                    std::uint64_t min_chars, std::uint64_t max_hits);

// The same run over pages first_page..last_page only (clamped to 1..total_pages).
// Hits depend only on their own page, so the runs over consecutive page ranges,
// concatenated and cut to `max_hits`, equal the whole run: this lets a caller carve
// ranges on several threads.
std::vector<CarveHit> carve_strings_in_pages(const Database& db, CarveScope scope, std::string_view needle,
                                             std::uint64_t min_chars, std::uint64_t max_hits,
                                             std::uint32_t first_page, std::uint32_t last_page);

}  // namespace quarrow
