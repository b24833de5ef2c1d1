#include "timeline/attributes.h"

#include <charconv>

#include "export/json_lines.h"
#include "profiles/view_text.h"

namespace quarrow::timeline {

namespace {

template <class Int>
void append_integer(std::string& out, Int v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

AttributeWriter::AttributeWriter(const std::vector<profiles::ViewColumn>& columns) : columns_(&columns) {
  prefixes_.reserve(columns.size());
  for (std::size_t k = 0; k < columns.size(); ++k) {
    std::string p = k == 0 ? "" : ",";
    append_json_string(p, columns[k].name);
    p += ':';
    prefixes_.push_back(std::move(p));
  }
}

void AttributeWriter::write(std::string& out, const std::vector<profiles::Cell>& row) {
  using profiles::OutType;
  out.clear();
  const std::vector<profiles::ViewColumn>& columns = *columns_;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    out += prefixes_[k];
    const profiles::Cell& c = row[k];
    if (!c.valid) {
      out += "null";
      continue;
    }
    switch (columns[k].type) {
      case OutType::Text: append_json_string(out, c.bytes()); break;
      case OutType::Int64: append_integer(out, c.i); break;
      case OutType::UInt64: append_integer(out, static_cast<std::uint64_t>(c.i)); break;
      case OutType::Bool: out += c.i != 0 ? "true" : "false"; break;
      case OutType::Timestamp:
        // ISO 8601 and hexadecimal never need escaping inside their quotes.
        out += '"';
        time_.append(out, c.i);
        if (!columns[k].local) out += 'Z';  // a local time has no zone to name
        out += '"';
        break;
      case OutType::Binary:
        out += '"';
        append_hex(out, c.bytes());
        out += '"';
        break;
      default: profiles::append_view_text(out, columns[k], c); break;
    }
  }
}

}  // namespace quarrow::timeline
