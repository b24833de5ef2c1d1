// A carving request as both front ends take it: the defaults of its options and the
// fields of a hit, in the order the module's dicts and the tool's JSON objects give
// them. The scope names are the forensic layer's (parse_carve_scope).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quarrow::app {

// Shortest string reported, in characters, and hits at most, when the caller names
// neither.
inline constexpr std::uint64_t kCarveDefaultMinChars = 6;
inline constexpr std::uint64_t kCarveDefaultMaxHits = 1000;

// The fields of a hit. file_offset came last, so that the earlier fields keep their
// places for readers that went by position.
enum class HitField : std::uint8_t {
  Page, Offset, SlackStart, SlackEnd, RegionKind, PageFlags, PageType, Table, Text, FileOffset,
};
inline constexpr std::array<std::string_view, 10> kHitFieldNames = {
    "page", "offset", "slack_start", "slack_end", "region_kind",
    "page_flags", "page_type", "table", "text", "file_offset"};

constexpr std::string_view hit_field_name(HitField field) {
  return kHitFieldNames[static_cast<std::size_t>(field)];
}

}  // namespace quarrow::app
