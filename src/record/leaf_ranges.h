// A table's leaf pages in key order, found through its tree, and cut into stretches
// that separate readers (threads, or fleet partitions) can read side by side. Read one
// after the other, the stretches give the records of the whole table in table order.
//
// Only the branch pages are loaded to list the leaves: the leaves themselves are
// left to the readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "database/catalog.h"
#include "database/database.h"
#include "error/ese_error.h"

namespace quarrow {

struct LeafPages {
  std::vector<std::uint32_t> pages;  // left to right
  // Set when the tree could not be followed past the last listed page (a branch or
  // child that does not load, a cycle, a tree too deep): the reading of the table
  // ends there with this error, after every record of the pages before it.
  std::optional<EseError> error;
};

// Follows the tree from `root`: branch entries from tag 1 on, each child's subtree in
// turn. A page reached a second time through another branch is passed over (its
// records were listed already); a page naming itself or an ancestor ends the list.
LeafPages list_leaf_pages(const Database& db, std::uint32_t root);

struct LeafRange {
  std::size_t begin = 0;  // indexes into LeafPages::pages
  std::size_t end = 0;
};

// Cuts `count` pages into at most `parts` contiguous ranges of near equal size, each
// at least `min_pages` long (except when there are fewer pages). At least one range,
// possibly empty.
std::vector<LeafRange> split_leaf_pages(std::size_t count, std::size_t parts, std::size_t min_pages = 1);

}  // namespace quarrow
