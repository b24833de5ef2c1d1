#include "cli/stream.h"

#include "cli/grid.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"

namespace quarrow::cli {
namespace {

// Pages already read are dropped from the resident set after this much output, as the
// module's export does, so that memory use does not grow with the table.
constexpr std::uint64_t kReleaseInterval = kPageReleaseInterval;

// Renders the next record into the output buffer: the raw values as the JSON Lines
// export writes them (or as CSV), or the decoded layer's typed values.
class RowRenderer {
 public:
  RowRenderer(const Database& db, TableRecordReader& reader, const StreamOptions& options)
      : reader_(reader), options_(options) {
    if (options.decoded) {
      decoder_.emplace(db, reader.table(), reader.plan());
      json_decoded_.emplace(decoder_->columns());
    }
  }

  void header(std::string& out) {
    if (options_.format == Format::Csv) append_csv_header(out, reader_.plan());
  }

  TableRecordReader::Step next(std::string& out) {
    if (!options_.decoded) {
      const TableRecordReader::Step step = reader_.next_record(record_);
      if (step != TableRecordReader::Step::Record) return step;
      if (options_.format == Format::Csv) {
        append_csv_row(out, record_);
      } else {
        json_.render(record_, line_);
        out.append(line_);
        out.push_back('\n');
      }
      return step;
    }
    Bytes data;
    const TableRecordReader::Step step = reader_.next_data(data);
    if (step != TableRecordReader::Step::Record) return step;
    decoder_->decode(data, cells_);
    if (options_.format == Format::Csv) {
      const auto& columns = decoder_->columns();
      for (std::size_t k = 0; k < columns.size(); ++k) {
        if (k > 0) out.push_back(',');
        append_decoded_csv(out, columns[k], cells_[k]);
      }
      out.append(kCsvRowEnd);
    } else {
      json_decoded_->append(out, cells_);
    }
    return step;
  }

 private:
  TableRecordReader& reader_;
  const StreamOptions& options_;
  JsonLineWriter json_;
  std::string line_;
  Record record_;
  std::optional<RecordDecoder> decoder_;
  std::optional<DecodedJsonWriter> json_decoded_;
  std::vector<DecodedCell> cells_;
};

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

}  // namespace quarrow::cli
