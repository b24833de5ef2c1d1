// One table written by several threads: its leaf pages (in the order a whole-table
// reader takes them) are cut into stretches, each rendered by a worker into blocks,
// and the blocks are written in stretch order. The output is byte for byte what
// stream_table writes on one thread, errors included.
#pragma once

#include <optional>
#include <string>

#include "cli/common.h"
#include "record/leaf_ranges.h"

namespace quarrow::cli {

// A table is worth splitting from this many leaf pages on.
inline constexpr std::size_t kSplitMinPages = 64;

// The table's leaf pages when it is worth splitting over `jobs` threads (more than
// one, no --limit, enough pages), otherwise std::nullopt.
std::optional<LeafPages> pages_to_split(const Database& db, const TableInfo& table, unsigned jobs,
                                        const StreamOptions& options);

// stream_table for the reader's table over the listed pages, on `jobs` threads.
// `reader` gives the table and its column plan; its position is not used. `counts`,
// when given, receives what was written (as stream_table's).
Status stream_table_split(const Database& db, const TableRecordReader& reader, const LeafPages& leaves,
                          const StreamOptions& options, Output& out, Progress& progress, unsigned jobs,
                          StreamCounts* counts = nullptr);

}  // namespace quarrow::cli
