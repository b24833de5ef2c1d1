// A table's leaf pages in the order a whole-table reading takes them (its tree walk),
// cut into stretches that separate readers (threads, or fleet partitions) can read
// side by side. Read one after the other, the stretches give the records of the whole
// table in table order.
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
  // Beside each page, its readable tag count: an upper bound of the records it holds
  // (tag 0 is the page's own header line), known without decoding a record.
  std::vector<std::uint16_t> lines;
  // Set when the walk failed after the last listed page: the reading of the table
  // ends there with this error, after every record of the pages before it.
  std::optional<EseError> error;
};

// Walks the table's tree as open_table_reader's reader does, loading each leaf once.
LeafPages list_leaf_pages(const Database& db, const TableInfo& table);

// Keeps only part `k` of `parts` near-equal stretches of the pages: the parts 0 ..
// parts - 1 together hold every page, in order (the failure that ended the listing
// belongs to the last part).
void keep_part(LeafPages& leaves, std::size_t k, std::size_t parts);

struct LeafRange {
  std::size_t begin = 0;  // indexes into LeafPages::pages
  std::size_t end = 0;
};

// Cuts `count` pages into at most `parts` contiguous ranges of near equal size, each
// at least `min_pages` long (except when there are fewer pages). At least one range,
// possibly empty.
std::vector<LeafRange> split_leaf_pages(std::size_t count, std::size_t parts, std::size_t min_pages = 1);

// Cuts the pages into contiguous ranges of at most `max_lines` lines each (a page with
// more lines is a range of its own), so that each range fills about one output batch.
// At least one range, possibly empty.
std::vector<LeafRange> split_leaf_pages_by_lines(const LeafPages& leaves, std::uint64_t max_lines);

}  // namespace quarrow
