#include "record/leaf_ranges.h"

#include <algorithm>

#include "database/traversal.h"
#include "page/tag.h"

namespace quarrow {

LeafPages list_leaf_pages(const Database& db, const TableInfo& table) {
  // The walk a whole-table reader makes, so that the stretches read one after the
  // other give exactly its pages, in its order, and its error at the same place.
  LeafPages out;
  TreeLeafWalk walk(db, table.root_page, table.object_id, OnFailure::ReturnError);
  for (;;) {
    switch (walk.advance()) {
      case TreeLeafWalk::Step::Page:
        out.pages.push_back(walk.page_number());
        out.lines.push_back(readable_tag_count(walk.page()));
        break;
      case TreeLeafWalk::Step::End:
        return out;
      case TreeLeafWalk::Step::Error:
        out.error = walk.error();
        return out;
    }
  }
}

void keep_part(LeafPages& leaves, std::size_t k, std::size_t parts) {
  const std::size_t n = leaves.pages.size();
  const auto first = static_cast<std::ptrdiff_t>(n * k / parts);
  const auto last = static_cast<std::ptrdiff_t>(n * (k + 1) / parts);
  leaves.pages = std::vector<std::uint32_t>(leaves.pages.begin() + first, leaves.pages.begin() + last);
  leaves.lines = std::vector<std::uint16_t>(leaves.lines.begin() + first, leaves.lines.begin() + last);
  if (k + 1 < parts) leaves.error.reset();
}

std::vector<LeafRange> split_leaf_pages(std::size_t count, std::size_t parts, std::size_t min_pages) {
  min_pages = std::max<std::size_t>(min_pages, 1);
  parts = std::clamp<std::size_t>(std::min(parts, count / min_pages), 1, std::max<std::size_t>(count, 1));
  std::vector<LeafRange> ranges;
  ranges.reserve(parts);
  for (std::size_t k = 0; k < parts; ++k) ranges.push_back(LeafRange{count * k / parts, count * (k + 1) / parts});
  return ranges;
}

std::vector<LeafRange> split_leaf_pages_by_lines(const LeafPages& leaves, std::uint64_t max_lines) {
  max_lines = std::max<std::uint64_t>(max_lines, 1);
  std::vector<LeafRange> ranges;
  LeafRange range;
  std::uint64_t lines = 0;
  for (std::size_t k = 0; k < leaves.pages.size(); ++k) {
    const std::uint64_t here = k < leaves.lines.size() ? leaves.lines[k] : 1;
    if (range.end > range.begin && lines + here > max_lines) {
      ranges.push_back(range);
      range = LeafRange{k, k};
      lines = 0;
    }
    range.end = k + 1;
    lines += here;
  }
  ranges.push_back(range);
  return ranges;
}

}  // namespace quarrow
