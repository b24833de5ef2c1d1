#include "record/leaf_ranges.h"

#include <algorithm>

#include "database/traversal.h"

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
        break;
      case TreeLeafWalk::Step::End:
        return out;
      case TreeLeafWalk::Step::Error:
        out.error = walk.error();
        return out;
    }
  }
}

std::vector<LeafRange> split_leaf_pages(std::size_t count, std::size_t parts, std::size_t min_pages) {
  min_pages = std::max<std::size_t>(min_pages, 1);
  parts = std::clamp<std::size_t>(std::min(parts, count / min_pages), 1, std::max<std::size_t>(count, 1));
  std::vector<LeafRange> ranges;
  ranges.reserve(parts);
  for (std::size_t k = 0; k < parts; ++k) ranges.push_back(LeafRange{count * k / parts, count * (k + 1) / parts});
  return ranges;
}

}  // namespace quarrow
