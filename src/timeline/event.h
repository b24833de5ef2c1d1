// One dated fact of a database or its logs, as the timeline orders it.
//
// Every event has a time (microseconds since 1970, UTC), says what happened at that
// time (`description`: "SRUM record written", "last access", "database last attached")
// and in a short sentence what it is about (`message`), and carries the values of the
// row it comes from (`attributes`: JSON object members, `"App":"x","Bytes":5`). Its
// place among events of the same time is fixed by where it comes from: input, table,
// kind, row, and which dated value of the row it is, so that the order is the same on
// every run however the inputs were read (in parallel or not).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarrow::timeline {

enum class EventKind : std::uint8_t {
  Row,          // a dated value of a view's row (or, without a profile, of a table's)
  Header,       // a time in the database header
  Recovered,    // a dated value of a record no longer live (a deleted row)
  Transaction,  // a level-0 transaction of the logs, at its first record's time
  RowChange,    // a row inserted, replaced or deleted by the logs (replay)
  kCount,
};

// "row", "header", "recovered", "transaction", "row_change".
const char* event_kind_name(EventKind kind);
// The kind of a name above; nullopt for others.
std::optional<EventKind> event_kind_from_name(std::string_view name);

// The members every written event has (src/app/timeline_fields.h says how each is
// written). A row value of one of these names is renamed "<name>_value", so that the
// values can sit beside them as attributes.
inline constexpr std::string_view kEventFieldNames[] = {"message", "datetime", "timestamp_desc", "timestamp",
                                                        "source_file", "kind", "table", "row"};

// An event whose text lives elsewhere (in a sorter's buffer, a collector's scratch).
struct EventView {
  std::int64_t time = 0;     // microseconds since 1970-01-01T00:00:00Z
  EventKind kind = EventKind::Row;
  std::uint32_t input = 0;   // index of the input (database file or log folder)
  std::uint32_t table = 0;   // index of the view or table within its input
  std::uint64_t row = 0;     // the row's position in its table's key order (recovered: page << 32 | offset;
                             // a row change: its place among the database's changes in the logs)
  std::uint32_t item = 0;    // which dated value of the row
  std::string_view description;
  std::string_view message;
  std::string_view attributes;  // JSON object members without the braces; may be empty
  // The event as its output writes it, when it was written once as it was found (see
  // EventSorter::add_written); the three texts above are then empty.
  std::string_view line;
};

// The order of the timeline: time, then input, table, kind, row, item. For events and
// for anything that carries their order's members (the sorter's keys).
template <class Event>
bool event_before(const Event& a, const Event& b) {
  if (a.time != b.time) return a.time < b.time;
  if (a.input != b.input) return a.input < b.input;
  if (a.table != b.table) return a.table < b.table;
  if (a.kind != b.kind) return a.kind < b.kind;
  if (a.row != b.row) return a.row < b.row;
  return a.item < b.item;
}

// A time bound as users write it: "2021-11-16", "2021-11-16T19:18", "2021-11-16 19:18:00",
// with optional fractional seconds and a zone ("Z", "+02:00", "-0500"); no zone is UTC.
// `end_of` makes a bound that leaves out parts inclusive: "2021-11-16" as an upper bound
// is 2021-11-16T23:59:59.999999Z, "2021-11-16T19:18" is 19:18:59.999999. nullopt when the
// text is no such time.
std::optional<std::int64_t> parse_time_bound(std::string_view text, bool end_of);

// Microseconds to ISO 8601 in UTC with "Z": seconds, and the fraction only when not zero
// ("2021-11-16T19:18:00Z", "2021-11-16T19:18:00.25Z").
void append_event_time(std::string& out, std::int64_t microseconds);

// Days since 1970-01-01 of a time (floor).
inline std::int64_t event_day(std::int64_t microseconds) {
  constexpr std::int64_t kMicrosecondsPerDay = 86400LL * 1000000LL;
  return microseconds >= 0 ? microseconds / kMicrosecondsPerDay
                           : -((-microseconds + kMicrosecondsPerDay - 1) / kMicrosecondsPerDay);
}

}  // namespace quarrow::timeline
