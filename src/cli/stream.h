// The table stream that dump and export run: records read, rendered in the chosen
// format and written, with pages released as the output grows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/progress.h"
#include "database/database.h"
#include "record/parser.h"
#include "record/reader.h"

namespace quarrow::cli {

// JSON Lines and CSV for files and pipes; Table is the aligned grid for a terminal
// (dump only), always of decoded values.
enum class Format { JsonLines, Csv, Table };

struct StreamOptions {
  Format format = Format::JsonLines;
  std::optional<std::uint64_t> limit;  // records at most
  bool decoded = false;                // typed values of the decoded layer
  std::optional<ColumnSelection> columns;  // --columns: only these (by name)
};

// Writes the reader's records (up to the limit) into `out` and finishes it (flushes;
// closes a file). Fails with the reading's error in the context ReadingRecord or the
// sink's write error; every row produced before a read error is written first.
// `counts`, when given, receives what was written.
struct StreamCounts {
  std::uint64_t records = 0;
  std::uint64_t bytes = 0;
  bool more = false;  // records were left unread because of the limit
};
Status stream_table(const Database& db, TableRecordReader& reader, const StreamOptions& options, Output& out,
                    Progress& progress, StreamCounts* counts = nullptr);

// The first --columns name that none of `tables` has, if any.
std::optional<std::string> missing_column(const StreamOptions& options, const std::vector<const TableInfo*>& tables);

}  // namespace quarrow::cli
