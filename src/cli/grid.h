// `dump --format table`: the records as an aligned grid for reading on a terminal.
//
//   +----+---------------+-------------------------------+
//   | Id | Name          | Blob                          |
//   +----+---------------+-------------------------------+
//   |  1 | quarterly re… | 0001020304050607… (20 bytes)  |
//   |  2 | ∅             | 0102                          |
//   +----+---------------+-------------------------------+
//
// Values are the decoded ones; text longer than the cell width is cut with an
// ellipsis, control characters show as spaces, binary data as the hexadecimal of its
// first bytes and its length, null as "∅". Numbers are right-aligned. Widths count
// code points, so text in most scripts lines up (wide East Asian characters do not).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/progress.h"
#include "cli/stream.h"
#include "database/database.h"
#include "record/reader.h"

namespace quarrow::cli {

inline constexpr std::size_t kGridCellWidth = 40;  // code points at most per cell (a GUID is 36)
inline constexpr char kGridNull[] = "\xE2\x88\x85";  // U+2205 EMPTY SET

// The width of UTF-8 text on a terminal, counted in code points.
std::size_t code_points(std::string_view s);

// Display form of one cell's text: control characters as spaces, cut to `width`
// code points with "…" as the last one when longer.
std::string grid_cell_text(std::string_view text, std::size_t width);
// Binary data as the hexadecimal of its first 8 bytes, "… (N bytes)" when longer.
std::string grid_binary_text(std::string_view bytes);

// Lays out the grid: a rule, the header, a rule, the rows, a closing rule. Cells are
// display text already; `right` marks the columns aligned to the right.
std::string render_grid(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& right);

// Reads up to `limit` records, stops the progress display, renders them as the grid
// into `out` and finishes it.
// Fails and fills `counts` (when given) as stream_table does.
Status stream_grid(const Database& db, TableRecordReader& reader, std::optional<std::uint64_t> limit, Output& out,
                   Progress& progress, StreamCounts* counts);

}  // namespace quarrow::cli
