#include "app/timeline_fields.h"

#include <charconv>

#include "export/csv.h"
#include "export/json_lines.h"

namespace quarrow::app {

static_assert(std::size(kTimelineFields) == std::size(timeline::kEventFieldNames));

namespace {

const std::string& name_at(const std::vector<std::string>& names, std::uint32_t k) {
  static const std::string kUnknown = "?";
  return k < names.size() ? names[k] : kUnknown;
}

// The text of a member (for CSV, and JSON strings); `number` says it is written bare in JSON.
void field_text(std::string& out, TimelineField f, const timeline::EventView& e,
                const std::vector<timeline::InputNames>& inputs, bool& number) {
  number = false;
  const timeline::InputNames* input = e.input < inputs.size() ? &inputs[e.input] : nullptr;
  switch (f) {
    case TimelineField::Message: out.append(e.message); break;
    case TimelineField::Datetime: timeline::append_event_time(out, e.time); break;
    case TimelineField::TimestampDesc: out.append(e.description); break;
    case TimelineField::Timestamp:
      out += std::to_string(e.time);
      number = true;
      break;
    case TimelineField::SourceFile: out += input != nullptr ? input->source : "?"; break;
    case TimelineField::Kind: out += timeline::event_kind_name(e.kind); break;
    case TimelineField::Table: out += input != nullptr ? name_at(input->tables, e.table) : "?"; break;
    case TimelineField::Row:
      out += std::to_string(e.row);
      number = true;
      break;
  }
}

}  // namespace

void append_timeline_csv_header(std::string& out) {
  for (TimelineField f : kTimelineFields) {
    append_csv_field(out, timeline_field_name(f));
    out += ',';
  }
  append_csv_field(out, kAttributesColumn);
  out += kCsvRowEnd;
}

void append_timeline_event(std::string& out, TimelineFormat format, const timeline::EventView& e,
                           const std::vector<timeline::InputNames>& inputs) {
  std::string text;
  bool number = false;
  if (format == TimelineFormat::Csv) {
    for (TimelineField f : kTimelineFields) {
      text.clear();
      field_text(text, f, e, inputs, number);
      append_csv_field(out, text);
      out += ',';
    }
    text.assign("{");
    text.append(e.attributes);
    text += '}';
    append_csv_field(out, text);
    out += kCsvRowEnd;
    return;
  }
  out += '{';
  bool first = true;
  for (TimelineField f : kTimelineFields) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, timeline_field_name(f));
    out += ':';
    text.clear();
    field_text(text, f, e, inputs, number);
    if (number) out += text;
    else append_json_string(out, text);
  }
  if (!e.attributes.empty()) {
    out += ',';
    out.append(e.attributes);
  }
  out += "}\n";
}

void TimelineWriter::append(std::string& out, const timeline::EventView& e) {
  if (format_ == TimelineFormat::Csv) {
    append_timeline_event(out, format_, e, *inputs_);
    return;
  }
  if (e.kind != where_kind_ || e.input != where_input_ || e.table != where_table_ || where_.empty()) {
    where_.clear();
    bool number = false;
    for (TimelineField f : {TimelineField::SourceFile, TimelineField::Kind, TimelineField::Table}) {
      where_ += ',';
      append_json_string(where_, timeline_field_name(f));
      where_ += ':';
      text_.clear();
      field_text(text_, f, e, *inputs_, number);
      append_json_string(where_, text_);
    }
    where_ += ',';
    append_json_string(where_, timeline_field_name(TimelineField::Row));
    where_ += ':';
    where_input_ = e.input;
    where_table_ = e.table;
    where_kind_ = e.kind;
  }
  // The member order of kTimelineFields, written out.
  static_assert(kTimelineFields[0] == TimelineField::Message && kTimelineFields[1] == TimelineField::Datetime &&
                kTimelineFields[2] == TimelineField::TimestampDesc && kTimelineFields[3] == TimelineField::Timestamp &&
                kTimelineFields[4] == TimelineField::SourceFile && kTimelineFields[5] == TimelineField::Kind &&
                kTimelineFields[6] == TimelineField::Table && kTimelineFields[7] == TimelineField::Row);
  char number[24];
  out += "{\"message\":";
  append_json_string(out, e.message);
  out += ",\"datetime\":\"";
  time_.append(out, e.time);
  out += "+00:00\",\"timestamp_desc\":";
  append_json_string(out, e.description);
  out += ",\"timestamp\":";
  out.append(number, std::to_chars(number, number + sizeof number, e.time).ptr);
  out += where_;
  out.append(number, std::to_chars(number, number + sizeof number, e.row).ptr);
  if (!e.attributes.empty()) {
    out += ',';
    out.append(e.attributes);
  }
  out += "}\n";
}

}  // namespace quarrow::app
