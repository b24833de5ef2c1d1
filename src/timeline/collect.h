// The events of one input: a database (its views' dated values, its header's times, its
// recovered records' dated values, and with its logs the rows they insert, replace and
// delete) or a folder of transaction logs (one event per level-0 transaction). Each collector hands its events to a sink as it finds them, unsorted;
// EventSorter puts them in order. Nothing here holds more than one row at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "log/database_link.h"
#include "log/log_folder.h"
#include "profiles/profile.h"
#include "timeline/event.h"

namespace quarrow::timeline {

struct TimelineFilter {
  std::optional<std::int64_t> from, to;  // inclusive bounds, microseconds since 1970 UTC
  // Views (or, for a database no profile knows, tables) to read, and "header" for the
  // header's times; empty: all of them.
  std::vector<std::string> views;
  std::array<bool, static_cast<std::size_t>(EventKind::kCount)> kinds{true, true, true, true, true};
  // Only the events' times and places are wanted (to count them): no message or
  // attributes are made, and a view's reading keeps only its dated columns.
  bool times_only = false;

  bool wants(EventKind k) const { return kinds[static_cast<std::size_t>(k)]; }
  bool in_range(std::int64_t t) const { return (!from || t >= *from) && (!to || t <= *to); }
};

// What an input's events refer to by number.
struct InputNames {
  std::string source;               // the file or folder as the caller named it
  std::string profile;              // the profile that recognised the database ("" for none)
  std::vector<std::string> tables;  // by EventView::table
  std::vector<std::string> views_matched;  // names of TimelineFilter::views this input has
};

using EventSink = std::function<Status(const EventView&)>;

// The events of a database. `profiles` are tried in order (the first that recognises the
// database gives the views); without one, each table's DateTime values are events named
// "Table.Column". Fails when a view cannot be read or the sink fails; a damaged table's
// recovery narrows what it finds and does not fail.
Status database_events(const Database& db, const std::vector<profiles::Profile>& profiles,
                       const TimelineFilter& filter, std::uint32_t input, InputNames& names, const EventSink& sink);

// One event per level-0 transaction of the logs, at the time of its first record's
// segment; transactions whose time the logs do not give are left out.
Status log_events(const logs::LogFolder& folder, const TimelineFilter& filter, std::uint32_t input,
                  InputNames& names, const EventSink& sink);

// Names a change's row and gives its before / after images (app/row_images.h replays
// the logs onto the database's file for them); empty: the changes as the records give them.
using ChangeAttacher = std::function<void(logs::RowChange&)>;

// One event per row the logs insert, replace or delete in the database's tables (what
// RowChangeReader reads: changes of the tables' data trees; a flag-delete is a delete,
// a flag-insert an insert, an undo no event). Each is at the time of its record's
// segment, the clock of the transaction events (a transaction's event is at its first
// record's), and carries the row's key, where it is in the logs and the row's values:
// after the change for an insert or replace, before it for a delete, where the record
// or the replayed pages give them. The events belong to the database's input, one table
// entry per changed table; `row` is the change's place in the logs. With a list of views
// only the tables those views read give events. Logs of another database give none: the
// reader says why in `problems`, as it does what it could not read.
Status row_change_events(const Database& db, const logs::LogFolder& folder, const ChangeAttacher& attach,
                         const std::vector<profiles::Profile>& profiles, const TimelineFilter& filter,
                         std::uint32_t input, InputNames& names, std::vector<std::string>& problems,
                         const EventSink& sink);

// The event count per day (days since 1970, ascending) of a sorted stream, for
// histograms; `next` gives the events in order and false at the end.
std::vector<std::pair<std::int64_t, std::uint64_t>> events_per_day(const std::function<bool(EventView&)>& next);

}  // namespace quarrow::timeline
