// The members of a timeline event as both front ends write them (quarrow timeline, the
// module's EseDatabase.timeline and quarrow_fleet.timeline): the three a timeline tool
// needs (Timesketch: message, datetime, timestamp_desc; timestamp in microseconds is
// read too), then where the event comes from. In JSON Lines the row's values follow as
// members of their own; in CSV, whose columns are the same on every line, they are one
// JSON object in the column "attributes".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "export/decoded_text.h"
#include "timeline/collect.h"
#include "timeline/event.h"

namespace quarrow::app {

enum class TimelineField : std::uint8_t {
  Message,        // a sentence about the row or fact
  Datetime,       // ISO 8601 in UTC: "2021-11-16T19:18:00+00:00"
  TimestampDesc,  // what happened at that time: "SRUM record written", "last access"
  Timestamp,      // microseconds since 1970-01-01 UTC
  SourceFile,     // the database file or log folder as given
  Kind,           // row, header, recovered, transaction, row_change
  Table,          // the view (or table, or "header", "transactions")
  Row,            // the row's position in its table's key order (recovered: page << 32 | offset)
};

inline constexpr TimelineField kTimelineFields[] = {
    TimelineField::Message,    TimelineField::Datetime, TimelineField::TimestampDesc, TimelineField::Timestamp,
    TimelineField::SourceFile, TimelineField::Kind,     TimelineField::Table,         TimelineField::Row,
};

inline std::string_view timeline_field_name(TimelineField f) {
  return timeline::kEventFieldNames[static_cast<std::size_t>(f)];
}

// The CSV column after the fixed members.
inline constexpr std::string_view kAttributesColumn = "attributes";

enum class TimelineFormat : std::uint8_t { JsonLines, Csv };

// The CSV header line (with its line end).
void append_timeline_csv_header(std::string& out);
// One event as a line of `format`; `inputs` names what its numbers refer to.
void append_timeline_event(std::string& out, TimelineFormat format, const timeline::EventView& e,
                           const std::vector<timeline::InputNames>& inputs);

// append_timeline_event for a stream of events, fast: events come in long runs of one
// input, table and kind, and of one second, so the members those give are written once
// per run and copied after. The bytes are append_timeline_event's. One writer per
// thread; `inputs` must outlive it (names may be added to it between events).
class TimelineWriter {
 public:
  TimelineWriter(TimelineFormat format, const std::vector<timeline::InputNames>& inputs)
      : format_(format), inputs_(&inputs) {}
  void append(std::string& out, const timeline::EventView& e);

 private:
  TimelineFormat format_;
  const std::vector<timeline::InputNames>* inputs_;
  Iso8601Writer time_;
  // `,"source_file":…,"kind":…,"table":…,"row":` of the last input, table and kind.
  std::string where_;
  std::uint32_t where_input_ = 0, where_table_ = 0;
  timeline::EventKind where_kind_ = timeline::EventKind::kCount;
  std::string text_;
};

}  // namespace quarrow::app
