#include "export/csv.h"

#include "export/json_lines.h"
#include "record/text.h"

namespace quarrow {
namespace {

bool needs_quotes(std::string_view text) {
  return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

void append_csv_value(std::string& out, const Value& value, std::string& scratch) {
  switch (value.kind) {
    case Value::Kind::Null:
      return;
    case Value::Kind::Text:
      // An empty text is written "", so that readers which tell a quoted empty field from
      // an empty one can tell it from null.
      if (value.bytes.empty()) out.append("\"\"");
      else append_csv_field(out, value.bytes);
      return;
    case Value::Kind::Guid:
      out.append(guid_text(value.guid));  // hex digits and dashes: never quoted
      return;
    case Value::Kind::Binary:
    case Value::Kind::MultiValue:
    case Value::Kind::LongValue:
      append_hex(out, value.bytes);
      return;
    default:
      // Numbers and booleans: the JSON text has no comma, quote or line break.
      scratch.clear();
      append_value_json(scratch, value);
      out.append(scratch);
      return;
  }
}

}  // namespace

void append_csv_field(std::string& out, std::string_view text) {
  if (!needs_quotes(text)) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void append_csv_header(std::string& out, const ColumnPlan& plan) {
  for (std::size_t i = 0; i < plan.columns.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_csv_field(out, lossy_utf8(as_bytes(plan.columns[i].info->name)));
  }
  out.append(kCsvRowEnd);
}

void append_csv_row(std::string& out, const Record& record) {
  std::string scratch;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_csv_value(out, record.fields[i].value, scratch);
  }
  out.append(kCsvRowEnd);
}

}  // namespace quarrow
