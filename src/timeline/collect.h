// The events of one input: a database (its views' dated values, its header's times, its
// recovered records' dated values) or a folder of transaction logs (one event per level-0
// transaction). Each collector hands its events to a sink as it finds them, unsorted;
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

// The event count per day (days since 1970, ascending) of a sorted stream, for
// histograms; `next` gives the events in order and false at the end.
std::vector<std::pair<std::int64_t, std::uint64_t>> events_per_day(const std::function<bool(EventView&)>& next);

}  // namespace quarrow::timeline
