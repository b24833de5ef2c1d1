#include "cli/stream.h"

#include "cli/grid.h"
#include "cli/row_renderer.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"

namespace quarrow::cli {
namespace {

// Pages already read are dropped from the resident set after this much output, as the
// module's export does, so that memory use does not grow with the table.
constexpr std::uint64_t kReleaseInterval = kPageReleaseInterval;

}  // namespace

std::optional<std::string> stream_table(const Database& db, TableRecordReader& reader,
                                        const StreamOptions& options, Output& out, Progress& progress,
                                        StreamCounts* counts) {
  if (options.format == Format::Table) return stream_grid(db, reader, options.limit, out, progress, counts);
  RowRenderer renderer(db, reader, options);
  std::uint64_t count = 0;
  std::uint64_t pages_counted = 0;
  std::uint64_t since_release = 0;
  const std::uint64_t page_size = db.page_size();
  auto count_pages = [&] {
    const std::uint64_t pages = reader.pages_read();
    if (pages != pages_counted) {
      progress.add_done(pages - pages_counted, (pages - pages_counted) * page_size);
      pages_counted = pages;
    }
  };
  renderer.header(out.buffer());
  std::uint64_t bytes = out.buffer().size();
  std::optional<std::string> failure;
  while (!options.limit || count < *options.limit) {
    std::string& buffer = out.buffer();
    const std::size_t before = buffer.size();
    const TableRecordReader::Step step = renderer.next(buffer);
    if (step == TableRecordReader::Step::End) break;
    if (step == TableRecordReader::Step::Error) {
      failure = in_context(ErrorContext::ReadingRecord, reader.error());
      break;
    }
    ++count;
    since_release += buffer.size() - before;
    bytes += buffer.size() - before;
    if (!out.commit()) break;
    if (since_release >= kReleaseInterval) {
      db.release_resident_pages();
      since_release = 0;
    }
    count_pages();
  }
  count_pages();
  if (counts != nullptr) {
    counts->records = count;
    counts->bytes = bytes;
    Bytes ignored;
    counts->more = !failure && options.limit && count == *options.limit &&
                   reader.next_data(ignored) == TableRecordReader::Step::Record;
  }
  // Rows before a read error are written before the error is reported.
  if (!out.finish()) return out.error();
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
