#include "page/slack.h"

#include <algorithm>

namespace quarrow {

std::vector<ByteRange> slack_regions(const PageView& page) {
  const std::uint64_t size = page.data.size();
  const std::uint64_t tag_bytes = std::uint64_t{kTagSize} * page.tag_count;
  // Used space: the header, the tag array at the page end, and every tag's value. A
  // tag count too large for the page puts the tag array's start at 0: no slack then.
  std::vector<ByteRange> used;
  used.reserve(static_cast<std::size_t>(readable_tag_count(page)) + 2);
  used.push_back({0, std::min<std::uint64_t>(page.header_size, size)});
  used.push_back({tag_bytes > size ? 0 : size - tag_bytes, size});
  for (std::uint16_t i = 0; i < readable_tag_count(page); ++i) {
    Result<PageTag> tag = read_tag(page, i);
    if (!tag || tag->value.empty()) continue;
    const std::uint64_t start = static_cast<std::uint64_t>(tag->value.data() - page.data.data());
    used.push_back({start, start + tag->value.size()});
  }
  std::stable_sort(used.begin(), used.end(),
                   [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });

  // The gaps between the merged used ranges; touching ranges leave no gap.
  std::vector<ByteRange> gaps;
  std::uint64_t cursor = 0;
  for (const ByteRange& r : used) {
    if (cursor < r.start) gaps.push_back({cursor, r.start});
    cursor = std::max(cursor, r.end);
  }
  if (cursor < size) gaps.push_back({cursor, size});
  return gaps;
}

}  // namespace quarrow
