#include "cli/stream.h"

#include "cli/grid.h"
#include "cli/row_renderer.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"

namespace quarrow::cli {

Status stream_table(const Database& db, TableRecordReader& reader, const StreamOptions& options, Output& out,
                    Progress& progress, StreamCounts* counts) {
  if (options.format == Format::Table) return stream_grid(db, reader, options.limit, out, progress, counts);
  RowRenderer renderer(db, reader, options);
  std::uint64_t pages_counted = 0;
  const std::uint64_t page_size = db.page_size();
  auto count_pages = [&] {
    const std::uint64_t pages = reader.pages_read();
    if (pages != pages_counted) {
      progress.add_done(pages - pages_counted, (pages - pages_counted) * page_size);
      pages_counted = pages;
    }
  };
  renderer.header(out.buffer());
  const PumpResult pumped =
      pump_rows(db, out, options.limit, [&](std::string& buffer) { return row_step(renderer.next(buffer)); }, count_pages);
  count_pages();
  Status failure;
  if (pumped.end == PumpResult::End::ReadError) failure = reader.error().in(ErrorContext::ReadingRecord);
  if (counts != nullptr) {
    counts->records = pumped.rows;
    counts->bytes = pumped.bytes;
    Bytes ignored;
    counts->more = pumped.end == PumpResult::End::Limit && reader.next_data(ignored) == TableRecordReader::Step::Record;
  }
  // Rows before a read error are written before the error is reported.
  if (Status finished = out.finish(); !finished) return finished;
  return failure;
}

std::optional<std::string> missing_column(const StreamOptions& options, const std::vector<const TableInfo*>& tables) {
  if (!options.columns) return std::nullopt;
  for (const std::string& name : options.columns->names) {
    bool found = false;
    for (const TableInfo* table : tables) found = found || table_has_any(*table, ColumnSelection{{name}});
    if (!found) return name_text(name);
  }
  return std::nullopt;
}

}  // namespace quarrow::cli
