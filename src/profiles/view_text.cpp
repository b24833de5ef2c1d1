#include "profiles/view_text.h"

#include <cstdio>
#include <cstdlib>

#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"

namespace quarrow::profiles {

namespace {

void append_seconds(std::string& out, std::int64_t us) {
  char buf[48];
  const std::int64_t whole = us / 1000000;
  const std::int64_t fraction = us % 1000000;
  if (fraction == 0) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(whole));
  } else {
    std::snprintf(buf, sizeof buf, "%s%lld.%06lld", us < 0 && whole == 0 ? "-" : "", static_cast<long long>(whole),
                  static_cast<long long>(std::llabs(fraction)));
    // No trailing zeros in the fraction.
    std::size_t n = std::char_traits<char>::length(buf);
    while (buf[n - 1] == '0') buf[--n] = '\0';
  }
  out += buf;
}

// The value's text without JSON quoting; false for null.
bool append_plain(std::string& out, const Cell& c, OutType type, bool local = false) {
  if (!c.valid) return false;
  switch (type) {
    case OutType::Bool: out += c.i != 0 ? "true" : "false"; break;
    case OutType::Int64: out += std::to_string(c.i); break;
    case OutType::UInt64: out += std::to_string(static_cast<std::uint64_t>(c.i)); break;
    case OutType::Float64: append_json_number(out, c.f); break;
    case OutType::Text: out += c.bytes(); break;
    case OutType::Binary: append_hex(out, c.bytes()); break;
    case OutType::Timestamp:
      append_iso8601(out, c.i);
      if (!local) out += 'Z';  // a local time has no zone to name
      break;
    case OutType::Duration: append_seconds(out, c.i); break;
  }
  return true;
}

}  // namespace

void append_view_json(std::string& out, const std::vector<ViewColumn>& columns, const std::vector<Cell>& row) {
  out += '{';
  std::string text;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k != 0) out += ',';
    append_json_string(out, columns[k].name);
    out += ':';
    const Cell& c = row[k];
    if (!c.valid) {
      out += "null";
      continue;
    }
    switch (columns[k].type) {
      case OutType::Text:
        append_json_string(out, c.bytes());
        break;
      case OutType::Binary:
      case OutType::Timestamp:
        text.clear();
        append_plain(text, c, columns[k].type, columns[k].local);
        append_json_string(out, text);
        break;
      default:
        append_plain(out, c, columns[k].type);
        break;
    }
  }
  out += "}\n";
}

void append_view_csv_header(std::string& out, const std::vector<ViewColumn>& columns) {
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k != 0) out += ',';
    append_csv_field(out, columns[k].name);
  }
  out += kCsvRowEnd;
}

void append_view_csv_row(std::string& out, const std::vector<ViewColumn>& columns, const std::vector<Cell>& row) {
  std::string text;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k != 0) out += ',';
    text.clear();
    if (append_plain(text, row[k], columns[k].type, columns[k].local)) append_csv_field(out, text);
  }
  out += kCsvRowEnd;
}

bool append_view_text(std::string& out, const ViewColumn& column, const Cell& cell) {
  return append_plain(out, cell, column.type, column.local);
}

}  // namespace quarrow::profiles
