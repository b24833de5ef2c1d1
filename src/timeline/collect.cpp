#include "timeline/collect.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <unordered_map>

#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "format/calendar.h"
#include "forensic/header.h"
#include "forensic/recover.h"
#include "log/log_types.h"
#include "log/record_fields.h"
#include "log/transactions.h"
#include "profiles/conversions.h"
#include "profiles/view_names.h"
#include "profiles/view_reader.h"
#include "profiles/view_text.h"
#include "record/value.h"
#include "timeline/attributes.h"

namespace quarrow::timeline {

namespace {

using profiles::Cell;
using profiles::OutType;
using profiles::ViewColumn;
using profiles::ViewSpec;

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
// How many values a message made without a template shows.
constexpr std::size_t kDefaultMessageValues = 6;
// A message value longer than this is cut (with "..."): a message is a line to read.
constexpr std::size_t kMessageValueLimit = 200;

bool wanted(const TimelineFilter& filter, std::string_view name, InputNames& names) {
  if (filter.views.empty()) return true;
  for (const std::string& v : filter.views) {
    if (v == name) {
      if (std::find(names.views_matched.begin(), names.views_matched.end(), v) == names.views_matched.end())
        names.views_matched.push_back(v);
      return true;
    }
  }
  return false;
}

template <class Int>
void append_decimal(std::string& out, Int v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// A cell as message text; false for null.
bool append_cell_text(std::string& out, const Cell& c, OutType type) {
  if (!c.valid) return false;
  const std::size_t start = out.size();
  switch (type) {
    case OutType::Bool: out += c.i != 0 ? "true" : "false"; break;
    case OutType::Int64: append_decimal(out, c.i); break;
    case OutType::UInt64: append_decimal(out, static_cast<std::uint64_t>(c.i)); break;
    case OutType::Float64: append_json_number(out, c.f); break;
    case OutType::Text: out += c.bytes(); break;
    case OutType::Binary: append_hex(out, c.bytes()); break;
    case OutType::Timestamp: append_event_time(out, c.i); break;
    case OutType::Duration: out += std::to_string(c.i / kMicrosecondsPerSecond) + " s"; break;
  }
  if (out.size() - start > kMessageValueLimit) {
    // Cut on a UTF-8 character boundary.
    std::size_t cut = start + kMessageValueLimit;
    while (cut > start && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out += "...";
  }
  return true;
}

// A message template taken apart once: literal text and column positions.
struct MessagePart {
  std::string text;
  int column = -1;  // -1: literal; -2: a name the view lacks (shown as nothing)
};

std::vector<MessagePart> compile_message(const std::string& tmpl, const std::vector<ViewColumn>& columns) {
  std::vector<MessagePart> parts;
  std::size_t at = 0;
  while (at < tmpl.size()) {
    const std::size_t open = tmpl.find('{', at);
    if (open == std::string::npos) {
      parts.push_back({tmpl.substr(at), -1});
      break;
    }
    if (open > at) parts.push_back({tmpl.substr(at, open - at), -1});
    const std::size_t close = tmpl.find('}', open);
    if (close == std::string::npos) {  // the loader refuses this; keep the text as it is
      parts.push_back({tmpl.substr(open), -1});
      break;
    }
    const std::string name = tmpl.substr(open + 1, close - open - 1);
    MessagePart p{name, -2};
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (columns[k].name == name) p.column = static_cast<int>(k);
    }
    parts.push_back(std::move(p));
    at = close + 1;
  }
  return parts;
}

void render_message(std::string& out, const std::string& label, const std::vector<MessagePart>& parts,
                    const std::vector<ViewColumn>& columns, const std::vector<Cell>& row) {
  out.clear();
  if (!parts.empty()) {
    for (const MessagePart& p : parts) {
      if (p.column == -1) {
        out += p.text;
      } else if (p.column >= 0) {
        const auto k = static_cast<std::size_t>(p.column);
        if (!append_cell_text(out, row[k], columns[k].type)) out += "-";
      } else {
        out += "-";
      }
    }
    return;
  }
  // No template: the view's name and its first values.
  out += label;
  out += ':';
  std::size_t shown = 0;
  for (std::size_t k = 0; k < columns.size() && shown < kDefaultMessageValues; ++k) {
    if (!row[k].valid || columns[k].type == OutType::Binary || columns[k].type == OutType::Timestamp) continue;
    out += shown == 0 ? " " : ", ";
    out += columns[k].name;
    out += '=';
    append_cell_text(out, row[k], columns[k].type);
    ++shown;
  }
}

struct EventColumn {
  std::size_t column = 0;
  std::string description;
};

// The columns of a view that date events.
std::vector<EventColumn> event_columns(const ViewSpec& view, const std::vector<ViewColumn>& columns) {
  std::vector<EventColumn> out;
  if (view.has_events) {
    for (const auto& [name, what] : view.events) {
      for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k].name == name && columns[k].type == OutType::Timestamp) out.push_back({k, what});
      }
    }
    return out;
  }
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].type == OutType::Timestamp) out.push_back({k, view.name + "." + columns[k].name});
  }
  return out;
}

// For a reading of times only: the names of the dated columns, each once, with `dated`
// renumbered to their places among them. False (nothing changed) when a name is not
// the view's only column of that name, as a reading keeps columns by name.
bool keep_only_dated(const std::vector<ViewColumn>& columns, std::vector<EventColumn>& dated,
                     std::vector<std::string>& names) {
  std::unordered_map<std::string_view, std::size_t> uses;
  for (const ViewColumn& c : columns) ++uses[c.name];
  for (const EventColumn& d : dated) {
    if (uses[columns[d.column].name] != 1) return false;
  }
  names.clear();
  std::unordered_map<std::string_view, std::size_t> place;
  for (EventColumn& d : dated) {
    const std::string& name = columns[d.column].name;
    const auto [at, added] = place.emplace(name, names.size());
    if (added) names.push_back(name);
    d.column = at->second;
  }
  return true;
}

// The dated values of a view's rows.
Status view_events(const Database& db, const profiles::Profile& profile, const ViewSpec& view,
                   const TimelineFilter& filter, std::uint32_t input, std::uint32_t table, const EventSink& sink) {
  auto described = profiles::ViewReader::describe(db, profile, view);
  if (!described) return std::move(described).error();
  std::vector<EventColumn> dated = event_columns(view, described.value());
  if (dated.empty()) return Status::success();  // no join tables read
  std::vector<std::string> kept;
  const bool only_dated = filter.times_only && keep_only_dated(described.value(), dated, kept);
  auto opened = profiles::ViewReader::open(db, profile, view, only_dated ? &kept : nullptr);
  if (!opened) return std::move(opened).error();
  profiles::ViewReader& reader = *opened.value();
  const auto& columns = reader.columns();
  // The columns as attributes: names that would shadow an event's own members renamed.
  std::vector<ViewColumn> attribute_columns = columns;
  for (ViewColumn& c : attribute_columns) {
    for (std::string_view reserved : kEventFieldNames) {
      if (c.name == reserved) c.name += "_value";
    }
  }
  const std::vector<MessagePart> message = compile_message(view.message, columns);
  AttributeWriter attribute_writer(attribute_columns);
  std::vector<Cell> row;
  std::string attributes, text;
  std::uint64_t row_number = 0;
  for (;; ++row_number) {
    const auto step = reader.next(row);
    if (step == profiles::ViewReader::Step::End) break;
    if (step == profiles::ViewReader::Step::Error) return reader.error();
    bool any = false;
    for (const EventColumn& d : dated) any = any || (row[d.column].valid && filter.in_range(row[d.column].i));
    if (!any) continue;
    if (!filter.times_only) {
      attribute_writer.write(attributes, row);
      render_message(text, view.name, message, columns, row);
    }
    for (std::size_t k = 0; k < dated.size(); ++k) {
      const Cell& c = row[dated[k].column];
      if (!c.valid || !filter.in_range(c.i)) continue;
      EventView e;
      e.time = c.i;
      e.kind = EventKind::Row;
      e.input = input;
      e.table = table;
      e.row = row_number;
      e.item = static_cast<std::uint32_t>(k);
      e.description = dated[k].description;
      e.message = text;
      e.attributes = attributes;
      if (Status s = sink(e); !s.ok()) return s;
    }
  }
  return Status::success();
}

// A time of the engine's own (database header, log segments) in microseconds; nullopt
// when unset or not a calendar time.
std::optional<std::int64_t> log_time_microseconds(const LogTime& t) {
  if (!t.set || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hours > 23 || t.minutes > 59 ||
      t.seconds > 60 || t.milliseconds > 999)
    return std::nullopt;
  const std::int64_t days = days_from_civil(t.year, t.month, t.day);
  const std::int64_t seconds = days * 86400 + t.hours * 3600 + t.minutes * 60 + t.seconds;
  return seconds * kMicrosecondsPerSecond + std::int64_t{t.milliseconds} * 1000;
}

void append_member(std::string& out, std::string_view key) {
  if (!out.empty()) out += ',';
  append_json_string(out, key);
  out += ':';
}

Status header_events(const Database& db, const TimelineFilter& filter, std::uint32_t input, std::uint32_t table,
                     const std::string& source, const EventSink& sink) {
  auto facts = read_header_facts(db);
  if (!facts) return Status::success();  // the database opened: its header facts are a bonus
  const HeaderFacts& h = facts.value();
  std::string attributes;
  append_member(attributes, "state");
  append_json_string(attributes, h.state_name);
  append_member(attributes, "database_time");
  attributes += std::to_string(h.database_time);
  append_member(attributes, "log_generations_required");
  attributes += "[" + std::to_string(h.log_generation_low) + "," + std::to_string(h.log_generation_high) + "]";
  append_member(attributes, "os_version");
  append_json_string(attributes, std::to_string(h.os_major) + "." + std::to_string(h.os_minor) + " build " +
                                     std::to_string(h.os_build));
  struct Item {
    const LogTime* time;
    const char* what;
  };
  const Item items[] = {{&h.creation_time, "database created"},
                        {&h.last_attach_time, "database last attached"},
                        {&h.last_detach_time, "database last detached"},
                        {&h.last_consistent_time, "database last consistent"}};
  std::string name = source;
  if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  for (std::size_t k = 0; k < std::size(items); ++k) {
    const auto us = log_time_microseconds(*items[k].time);
    if (!us || !filter.in_range(*us)) continue;
    std::string attrs = attributes;
    append_member(attrs, "utc");
    // The engine marks whether it wrote the time in UTC; an unmarked one is local time of
    // an unknown zone, placed as if it were UTC.
    attrs += items[k].time->utc ? "true" : "false";
    const std::string message = name + ": " + items[k].what + " (" + h.state_name + ")";
    EventView e;
    e.time = *us;
    e.kind = EventKind::Header;
    e.input = input;
    e.table = table;
    e.item = static_cast<std::uint32_t>(k);
    e.description = items[k].what;
    e.message = message;
    e.attributes = attrs;
    if (Status s = sink(e); !s.ok()) return s;
  }
  return Status::success();
}

// A stored value as a conversion's input.
bool source_of_value(const Field& f, profiles::Source& out) {
  out = profiles::Source{};
  out.column_type = f.column_type;
  const Value& v = f.value;
  switch (v.kind) {
    case Value::Kind::U8:
    case Value::Kind::U16:
    case Value::Kind::U32:
      out.kind = profiles::Source::Kind::Int;
      out.i = static_cast<std::int64_t>(v.u);
      return true;
    case Value::Kind::I16:
    case Value::Kind::I32:
      out.kind = profiles::Source::Kind::Int;
      out.i = v.i;
      return true;
    case Value::Kind::U64:
    case Value::Kind::DateTime:
      out.kind = profiles::Source::Kind::UInt;
      out.u = v.u;
      return true;
    case Value::Kind::F64:
      out.kind = profiles::Source::Kind::Float;
      out.f = v.f64;
      return true;
    case Value::Kind::Binary:
    case Value::Kind::LongValue:
      out.kind = profiles::Source::Kind::Bytes;
      out.raw = Bytes(reinterpret_cast<const std::uint8_t*>(v.bytes.data()), v.bytes.size());
      return true;
    default:
      return false;
  }
}

// A stored column of a recovered table that dates an event, and how to read it.
struct RecoveredDate {
  std::string column;
  profiles::Conversion convert = profiles::Conversion::DateTime;
  const profiles::ColumnSpec* def = nullptr;
  std::string description;
};

bool dating_conversion(profiles::Conversion c) {
  using profiles::Conversion;
  return c == Conversion::FileTime || c == Conversion::FileTimeBE || c == Conversion::DateTime ||
         c == Conversion::OleDate || c == Conversion::Value || c == Conversion::UnixSeconds;
}

// The stored columns of `table` whose values date events in the views that read it.
std::vector<RecoveredDate> recovered_dates(const TableInfo& table, const std::vector<const ViewSpec*>& views,
                                           const std::vector<std::vector<ViewColumn>>& columns) {
  std::vector<RecoveredDate> out;
  auto add = [&](RecoveredDate d) {
    for (const RecoveredDate& o : out) {
      if (o.column == d.column) return;
    }
    out.push_back(std::move(d));
  };
  for (std::size_t v = 0; v < views.size(); ++v) {
    for (const EventColumn& ec : event_columns(*views[v], columns[v])) {
      const ViewColumn& vc = columns[v][ec.column];
      if (vc.source.empty()) continue;  // an unpivoted date has no stored column of its own
      const profiles::ColumnSpec* def = nullptr;
      for (const profiles::ColumnSpec& c : views[v]->columns) {
        if (c.name == vc.name) def = &c;
      }
      const profiles::Conversion convert = def != nullptr ? def->convert : profiles::Conversion::Value;
      if (!dating_conversion(convert)) continue;
      if (def != nullptr && def->has_range == false && convert == profiles::Conversion::Value) def = nullptr;
      add({vc.source, convert, def, ec.description});
    }
  }
  (void)table;
  return out;
}

Status recovered_events(const Database& db, const TableInfo& table, const std::vector<RecoveredDate>& dates,
                        const TimelineFilter& filter, std::uint32_t input, std::uint32_t table_id,
                        const EventSink& sink) {
  if (dates.empty()) return Status::success();
  auto recovered = recover_records(db, table.name);
  if (!recovered) return Status::success();  // damage narrows recovery; it never fails the timeline
  std::string attributes, message, description;
  std::vector<std::pair<std::int64_t, std::size_t>> times;
  for (const RecoveredRecord& r : recovered.value()) {
    // A copy identical to a live row is no fact of its own.
    if (r.live == kLiveIdentical) continue;
    times.clear();
    for (std::size_t d = 0; d < dates.size(); ++d) {
      for (const Field& f : r.record.fields) {
        if (f.name != dates[d].column) continue;
        profiles::Source src;
        if (!source_of_value(f, src)) break;
        Cell cell;
        if (profiles::convert(dates[d].convert, dates[d].def, src, cell) != profiles::Converted::Value) break;
        if (dates[d].def != nullptr && dates[d].def->has_range &&
            (cell.i < dates[d].def->range_min || cell.i > dates[d].def->range_max))
          break;
        if (profiles::conversion_type(dates[d].convert, f.column_type) != OutType::Timestamp) break;
        if (filter.in_range(cell.i)) times.emplace_back(cell.i, d);
        break;
      }
    }
    if (times.empty()) continue;
    std::string line;
    record_to_json_line(r.record, line);
    // "{...}" -> "...", then where the record was found.
    attributes.assign(line, 1, line.size() >= 2 ? line.size() - 2 : 0);
    append_member(attributes, "recovered_from");
    append_json_string(attributes, r.source);
    append_member(attributes, "page");
    attributes += std::to_string(r.page);
    append_member(attributes, "offset");
    attributes += std::to_string(r.offset);
    append_member(attributes, "live_row");
    if (r.live != nullptr) append_json_string(attributes, r.live);
    else attributes += "null";
    message = "deleted row of " + table.name + " (" + r.source + ", page " + std::to_string(r.page) + ")";
    for (const auto& [time, d] : times) {
      description = dates[d].description + " (deleted row)";
      EventView e;
      e.time = time;
      e.kind = EventKind::Recovered;
      e.input = input;
      e.table = table_id;
      e.row = (std::uint64_t{r.page} << 32) | r.offset;
      e.item = static_cast<std::uint32_t>(d);
      e.description = description;
      e.message = message;
      e.attributes = attributes;
      if (Status s = sink(e); !s.ok()) return s;
    }
  }
  return Status::success();
}

// A profile of its own for a database no profile knows: one view per table, every
// column as it is, so that DateTime values read by the `datetime` rule.
profiles::Profile table_profile(const Database& db) {
  profiles::Profile p;
  p.name = "";
  for (const auto& [key, t] : db.catalog()) {
    ViewSpec v;
    v.name = t.name;
    v.table = t.name;
    v.other_columns = true;
    p.views.push_back(std::move(v));
  }
  return p;
}

// What happened to the row, as the event's description and in its message; none for
// an undo (the rollback of an earlier change, whose own outcome says so already).
struct ChangeWords {
  const char* description;
  const char* verb;
};

std::optional<ChangeWords> change_words(logs::ChangeKind kind) {
  switch (kind) {
    case logs::ChangeKind::Insert:
    case logs::ChangeKind::FlagInsert: return ChangeWords{"row inserted", "inserted"};
    case logs::ChangeKind::Replace:
    case logs::ChangeKind::ReplaceDiff: return ChangeWords{"row replaced", "replaced"};
    case logs::ChangeKind::FlagDelete:
    case logs::ChangeKind::Delete: return ChangeWords{"row deleted", "deleted"};
    case logs::ChangeKind::Undo: return std::nullopt;
  }
  return std::nullopt;
}

// A row change's own members, before the row's values.
constexpr std::string_view kChangeMembers[] = {"key", "position", "operation", "outcome", "session", "trx"};

bool shadows_a_member(std::string_view name) {
  for (std::string_view m : kEventFieldNames) {
    if (name == m) return true;
  }
  for (std::string_view m : kChangeMembers) {
    if (name == m) return true;
  }
  return false;
}

// A record's values as JSON members (no braces) after `out`'s; a column named like one of
// the event's own members is written as "<name>_value", as a view's columns are.
void append_record_members(std::string& out, const Record& record, std::string& line) {
  const Record* shown = &record;
  Record renamed;
  std::vector<std::string> names;
  for (const Field& f : record.fields) {
    if (!shadows_a_member(f.name)) continue;
    if (shown == &record) {
      renamed = record;
      names.reserve(record.fields.size());  // the fields keep views into these names
      shown = &renamed;
    }
  }
  if (shown == &renamed) {
    for (Field& f : renamed.fields) {
      if (!shadows_a_member(f.name)) continue;
      names.push_back(std::string(f.name) + "_value");
      f.name = names.back();
    }
  }
  record_to_json_line(*shown, line);
  if (line.size() <= 2) return;  // "{}": no values
  if (!out.empty()) out += ',';
  out.append(line, 1, line.size() - 2);
}

// The stored tables that the listed views read (a database no profile knows: the tables
// named); nullopt without a list, for all of them.
std::optional<std::vector<std::string>> tables_of_views(const Database& db,
                                                        const std::vector<profiles::Profile>& profile_list,
                                                        const TimelineFilter& filter) {
  if (filter.views.empty()) return std::nullopt;
  const profiles::Profile* known = profiles::recognize(db, profile_list);
  profiles::Profile own;
  if (known == nullptr) own = table_profile(db);
  std::vector<std::string> out;
  for (const ViewSpec* view : profiles::available_views(db, known != nullptr ? *known : own)) {
    if (std::find(filter.views.begin(), filter.views.end(), view->name) != filter.views.end()) {
      out.push_back(view->table);
    }
  }
  return out;
}

}  // namespace

Status database_events(const Database& db, const std::vector<profiles::Profile>& profile_list,
                       const TimelineFilter& filter, std::uint32_t input, InputNames& names, const EventSink& sink) {
  const profiles::Profile* known = profiles::recognize(db, profile_list);
  profiles::Profile own;
  if (known == nullptr) own = table_profile(db);
  const profiles::Profile& profile = known != nullptr ? *known : own;
  names.profile = known != nullptr ? known->name : "";
  names.tables.clear();
  names.tables.push_back("header");
  // With a list of views, the header's times come when it names "header".
  if (filter.wants(EventKind::Header) && wanted(filter, "header", names)) {
    if (Status s = header_events(db, filter, input, 0, names.source, sink); !s.ok()) return s;
  }
  // The views read, by stored table, for recovery.
  std::vector<const TableInfo*> tables;
  std::vector<std::vector<const ViewSpec*>> table_views;
  std::vector<std::vector<std::vector<ViewColumn>>> table_columns;
  for (const ViewSpec* view : profiles::available_views(db, profile)) {
    if (!wanted(filter, view->name, names)) continue;
    const auto table_id = static_cast<std::uint32_t>(names.tables.size());
    names.tables.push_back(view->name);
    if (filter.wants(EventKind::Row)) {
      if (Status s = view_events(db, profile, *view, filter, input, table_id, sink); !s.ok()) return s;
    }
    if (!filter.wants(EventKind::Recovered)) continue;
    const TableInfo* t = profiles::find_table(db, view->table);
    auto described = profiles::ViewReader::describe(db, profile, *view);
    if (t == nullptr || !described) continue;
    std::size_t at = 0;
    while (at < tables.size() && tables[at] != t) ++at;
    if (at == tables.size()) {
      tables.push_back(t);
      table_views.emplace_back();
      table_columns.emplace_back();
    }
    table_views[at].push_back(view);
    table_columns[at].push_back(std::move(described).value());
  }
  for (std::size_t k = 0; k < tables.size(); ++k) {
    const std::vector<RecoveredDate> dates = recovered_dates(*tables[k], table_views[k], table_columns[k]);
    if (dates.empty()) continue;
    const auto table_id = static_cast<std::uint32_t>(names.tables.size());
    names.tables.push_back(tables[k]->name);
    if (Status s = recovered_events(db, *tables[k], dates, filter, input, table_id, sink); !s.ok()) return s;
  }
  return Status::success();
}

Status log_events(const logs::LogFolder& folder, const TimelineFilter& filter, std::uint32_t input,
                  InputNames& names, const EventSink& sink) {
  names.tables.assign(1, "transactions");
  if (!filter.wants(EventKind::Transaction)) return Status::success();
  Status failed;
  std::uint64_t number = 0;
  std::string attributes, message;
  logs::TransactionTracker tracker([&](const logs::TransactionEntry& t) {
    const std::uint64_t n = number++;
    if (!failed.ok()) return;
    const auto us = log_time_microseconds(t.begin_time);
    if (!us || !filter.in_range(*us)) return;
    if (filter.times_only) {
      EventView e;
      e.time = *us;
      e.kind = EventKind::Transaction;
      e.input = input;
      e.row = n;
      failed = sink(e);
      return;
    }
    attributes.clear();
    append_member(attributes, "begin");
    append_json_string(attributes, logs::position_text(t.begin));
    append_member(attributes, "end");
    append_json_string(attributes, logs::position_text(t.end));
    append_member(attributes, "end_time");
    if (const auto end = log_time_microseconds(t.end_time)) {
      std::string text;
      append_event_time(text, *end);
      append_json_string(attributes, text);
    } else {
      attributes += "null";
    }
    append_member(attributes, "session");
    attributes += std::to_string(t.procid);
    append_member(attributes, "trx");
    attributes += std::to_string(t.trx);
    append_member(attributes, "begin_seen");
    attributes += t.begin_seen ? "true" : "false";
    append_member(attributes, "outcome");
    append_json_string(attributes, logs::outcome_name(t.outcome));
    const logs::OperationCounts& c = t.counts;
    const std::pair<const char*, std::uint32_t> counts[] = {{"records", c.records},   {"inserts", c.inserts},
                                                            {"replaces", c.replaces}, {"flag_deletes", c.flag_deletes},
                                                            {"deletes", c.deletes},   {"other", c.other}};
    for (const auto& [key, value] : counts) {
      append_member(attributes, key);
      attributes += std::to_string(value);
    }
    message = "session " + std::to_string(t.procid) + ", transaction " + std::to_string(t.trx) + " " +
              logs::outcome_name(t.outcome) + ": " + std::to_string(c.inserts) + " inserts, " +
              std::to_string(c.replaces) + " replaces, " + std::to_string(c.flag_deletes + c.deletes) + " deletes (" +
              std::to_string(c.records) + " records)";
    EventView e;
    e.time = *us;
    e.kind = EventKind::Transaction;
    e.input = input;
    e.table = 0;
    e.row = n;
    e.description = "transaction began";
    e.message = message;
    e.attributes = attributes;
    failed = sink(e);
  });
  logs::LogStream stream(folder);
  logs::LogRecord r;
  while (stream.next(r) && failed.ok()) tracker.feed(r, logs::summarize(r));
  if (failed.ok()) tracker.finish();
  return failed;
}

Status row_change_events(const Database& db, const logs::LogFolder& folder, const ChangeAttacher& attach,
                         const std::vector<profiles::Profile>& profile_list, const TimelineFilter& filter,
                         std::uint32_t input, InputNames& names, std::vector<std::string>& problems,
                         const EventSink& sink) {
  if (!filter.wants(EventKind::RowChange)) return Status::success();
  const std::optional<std::vector<std::string>> tables = tables_of_views(db, profile_list, filter);
  if (tables && tables->empty()) return Status::success();
  logs::RowChangeReader reader(folder, db);
  // A table's entry among the input's names, made when its first change is shown.
  std::map<const TableInfo*, std::uint32_t> table_ids;
  std::string attributes, message, line;
  std::uint64_t number = 0;
  logs::RowChange c;
  while (reader.next(c)) {
    const std::uint64_t n = number++;  // the change's place in the logs
    const std::optional<ChangeWords> words = change_words(c.kind);
    if (!words || c.table == nullptr) continue;
    if (tables && std::find(tables->begin(), tables->end(), c.table->name) == tables->end()) continue;
    const auto us = log_time_microseconds(c.time);
    if (!us || !filter.in_range(*us)) continue;
    auto [id, added] = table_ids.try_emplace(c.table, static_cast<std::uint32_t>(names.tables.size()));
    if (added) names.tables.push_back(c.table->name);
    EventView e;
    e.time = *us;
    e.kind = EventKind::RowChange;
    e.input = input;
    e.table = id->second;
    e.row = n;
    e.description = words->description;
    if (filter.times_only) {  // counted: neither the row's images nor its values needed
      if (Status s = sink(e); !s.ok()) return s;
      continue;
    }
    if (attach) attach(c);
    const std::string key = c.has_key ? hex_text(as_bytes(c.key)) : std::string();
    attributes.clear();
    append_member(attributes, "key");
    if (c.has_key) append_json_string(attributes, key);
    else attributes += "null";
    append_member(attributes, "position");
    append_json_string(attributes, logs::position_text(c.position));
    append_member(attributes, "operation");
    append_json_string(attributes, logs::change_kind_name(c.kind));
    append_member(attributes, "outcome");
    append_json_string(attributes, logs::outcome_name(c.outcome));
    append_member(attributes, "session");
    attributes += std::to_string(c.procid);
    append_member(attributes, "trx");
    attributes += std::to_string(c.trx);
    // The row as the change leaves it, or as it was before a delete: the record the log
    // carries, or the image the replayed pages gave.
    const bool deletes = c.kind == logs::ChangeKind::FlagDelete || c.kind == logs::ChangeKind::Delete;
    std::optional<Bytes> image;
    if (deletes) {
      if (c.has_before) image = c.before;
    } else if (c.has_after) {
      image = c.after;
    } else if (c.has_record) {
      image = c.record;
    }
    if (image) {
      logs::RowChange as_record = c;
      as_record.record = *image;
      append_record_members(attributes, reader.decode(as_record), line);
    }
    message = c.table->name + ": row " + (c.has_key ? key : std::string("(key not known)")) + " " +
              words->verb + " (session " + std::to_string(c.procid) + ", transaction " + std::to_string(c.trx) + " " +
              logs::outcome_name(c.outcome) + ")";
    e.message = message;
    e.attributes = attributes;
    if (Status s = sink(e); !s.ok()) return s;
  }
  problems = reader.problems();
  return Status::success();
}

std::vector<std::pair<std::int64_t, std::uint64_t>> events_per_day(const std::function<bool(EventView&)>& next) {
  std::vector<std::pair<std::int64_t, std::uint64_t>> days;
  EventView e;
  while (next(e)) {
    const std::int64_t d = event_day(e.time);
    if (days.empty() || days.back().first != d) days.emplace_back(d, 0);
    ++days.back().second;
  }
  return days;
}

}  // namespace quarrow::timeline
