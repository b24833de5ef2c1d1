#include "cli/grid.h"

#include <algorithm>

#include "cli/open.h"
#include "export/decoded_text.h"
#include "record/decoded.h"

namespace quarrow::cli {
namespace {

constexpr char kEllipsis[] = "\xE2\x80\xA6";  // U+2026
constexpr std::size_t kBinaryShownBytes = 8;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void pad(std::string& out, std::size_t n) { out.append(n, ' '); }

bool numeric(DecodedType type) {
  switch (type) {
    case DecodedType::UInt8:
    case DecodedType::Int16:
    case DecodedType::UInt16:
    case DecodedType::Int32:
    case DecodedType::UInt32:
    case DecodedType::Int64:
    case DecodedType::Float32:
    case DecodedType::Float64:
    case DecodedType::Decimal:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::size_t code_points(std::string_view s) {
  std::size_t n = 0;
  for (const char c : s) n += is_continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return n;
}

std::string grid_cell_text(std::string_view text, std::size_t width) {
  std::string out;
  std::size_t points = 0;
  const std::size_t total = code_points(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!is_continuation(c)) {
      ++points;
      if (total > width && points == width) {
        out += kEllipsis;
        return out;
      }
    }
    out.push_back(c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c));
  }
  return out;
}

std::string grid_binary_text(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < kBinaryShownBytes; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xF]);
  }
  if (bytes.size() > kBinaryShownBytes) out += std::string(kEllipsis) + " (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

std::string render_grid(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& right) {
  std::vector<std::size_t> widths(header.size());
  for (std::size_t k = 0; k < header.size(); ++k) widths[k] = code_points(header[k]);
  for (const auto& row : rows) {
    for (std::size_t k = 0; k < row.size() && k < widths.size(); ++k) {
      widths[k] = std::max(widths[k], code_points(row[k]));
    }
  }
  std::string rule = "+";
  for (const std::size_t w : widths) rule += std::string(w + 2, '-') + "+";
  rule += "\n";
  const auto line = [&](std::string& out, const std::vector<std::string>& cells, bool align) {
    out += "|";
    for (std::size_t k = 0; k < widths.size(); ++k) {
      const std::string& cell = k < cells.size() ? cells[k] : std::string();
      const std::size_t gap = widths[k] - code_points(cell);
      out += " ";
      if (align && k < right.size() && right[k]) pad(out, gap);
      out += cell;
      if (!(align && k < right.size() && right[k])) pad(out, gap);
      out += " |";
    }
    out += "\n";
  };
  std::string out = rule;
  line(out, header, false);
  out += rule;
  for (const auto& row : rows) line(out, row, true);
  if (!rows.empty()) out += rule;
  return out;
}

Status stream_grid(const Database& db, TableRecordReader& reader, std::optional<std::uint64_t> limit, Output& out,
                   Progress& progress, StreamCounts* counts) {
  RecordDecoder decoder(db, reader.table(), reader.plan());
  const auto& columns = decoder.columns();
  std::vector<std::string> header;
  std::vector<bool> right;
  for (const DecodedColumn& c : columns) {
    header.push_back(grid_cell_text(name_text(c.info->name), kGridCellWidth));
    right.push_back(!c.list && numeric(c.type));
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<DecodedCell> cells;
  std::string text;
  Status failure;
  std::uint64_t pages_counted = 0;
  Bytes data;
  bool left = false;
  for (;;) {
    const TableRecordReader::Step step = reader.next_data(data);
    if (step == TableRecordReader::Step::End) break;
    if (step == TableRecordReader::Step::Error) {
      failure = reader.error().in(ErrorContext::ReadingRecord);
      break;
    }
    if (limit && rows.size() >= *limit) {
      left = true;
      break;
    }
    decoder.decode(data, cells);
    std::vector<std::string>& row = rows.emplace_back();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const DecodedColumn& column = columns[k];
      const DecodedCell& cell = cells[k];
      if (!column.list && column.type == DecodedType::Binary && cell.valid && cell.size > 0 && cell.at(0).valid) {
        row.push_back(grid_binary_text(cell.at(0).bytes));
        continue;
      }
      text.clear();
      row.push_back(append_decoded_text(text, column, cell) ? grid_cell_text(text, kGridCellWidth) : kGridNull);
    }
    const std::uint64_t pages = reader.pages_read();
    progress.add_done(pages - pages_counted, (pages - pages_counted) * db.page_size());
    pages_counted = pages;
  }
  // The grid is written in one piece once the records are read: the progress line
  // goes first, as both usually share one terminal.
  progress.stop();
  const std::string grid = render_grid(header, rows, right);
  if (counts != nullptr) *counts = StreamCounts{rows.size(), grid.size(), left};
  out.buffer() += grid;
  // A write error is kept by the output, and finish() says it.
  (void)out.commit();
  if (Status finished = out.finish(); !finished) return finished;
  return failure;
}

}  // namespace quarrow::cli
