// Rendering one reader's records as the tool writes them: the raw values as the JSON
// Lines export writes them (or as CSV), or the decoded layer's typed values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/common.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "record/decoded.h"
#include "record/reader.h"

namespace quarrow::cli {

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

}  // namespace quarrow::cli
