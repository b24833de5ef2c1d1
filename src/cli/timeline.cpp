// quarrow timeline FILE... [--logs DIR]: every dated fact of the databases (and of their
// transaction logs) as one stream in time order, in the formats timeline tools import.
// With --logs, each database whose logs they are gets the rows they insert, replace and
// delete (app/timeline_logs.h); the others get none, and a line says why.
//
// Each database's events are gathered by one worker into a sorter of its own (sorted
// runs, spilled to temporary files beyond a memory bound); the runs are merged as the
// output is written. The order is total (time, input, table, kind, row, value), so the
// output is the same byte for byte whatever --jobs is.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/timeline_fields.h"
#include "app/timeline_logs.h"
#include "cli/commands.h"
#include "cli/pool.h"
#include "log/log_folder.h"
#include "profiles/profile.h"
#include "timeline/collect.h"
#include "timeline/event_sort.h"

namespace quarrow::cli {

const std::string_view kTimelineHelp =
    "usage: quarrow timeline [OPTIONS] FILE...\n"
    "\n"
    "Every dated fact of the databases as one stream in time order: the dated values of\n"
    "each view of a known database (SRUM, UAL, Windows Search: each time column names\n"
    "the event it dates; a database no profile knows gives each table's DateTime\n"
    "values, named 'Table.Column'), the header's times, the dated values of recovered\n"
    "(deleted) rows and, with --logs, one event per level-0 transaction and one per row\n"
    "the logs insert, replace or delete in a database they belong to (at its record's\n"
    "time; the row's key and values, after the change or before a delete). Each event has\n"
    "message, datetime (ISO 8601, UTC), timestamp_desc, timestamp (microseconds since\n"
    "1970), source_file, kind, table and row, then the row's values: members of their\n"
    "own in JSON Lines, one JSON object in the column 'attributes' in CSV. Both import\n"
    "into Timesketch as they are; the CSV opens in Timeline Explorer.\n"
    "\n"
    "      --logs DIR          also the transactions and row changes of the logs in DIR\n"
    "      --from T            only events at or after T (2021-11-16, 2021-11-16T19:18:00,\n"
    "                          with an optional zone: Z, +02:00; no zone is UTC)\n"
    "      --to T              only events at or before T (a date or minute given without\n"
    "                          the smaller parts includes all of it)\n"
    "      --views A,B         only these views (tables, for a database no profile knows;\n"
    "                          'header' for the header's times)\n"
    "      --kinds K,L         only these kinds: row, header, recovered, transaction,\n"
    "                          row_change\n"
    "  -f, --format FMT        jsonl (default) or csv\n"
    "      --profile FILE      a profile file (JSON) tried before the built-in ones\n"
    "  -j, --jobs N            databases read at once (default: the machine's threads)\n"
    "      --sort-memory MIB   memory for sorting before runs go to temporary files\n"
    "                          (default 256)\n"
    "      --temp-dir DIR      where sorted runs go (default: the system's temporary folder)\n"
    "  -q, --quiet             no summary on the standard error\n";

namespace {

const std::vector<OptionSpec> kTimelineOptions = {
    {"logs", 0, true},    {"from", 0, true},         {"to", 0, true},       {"views", 0, true},
    {"kinds", 0, true},   {"format", 'f', true},     {"profile", 0, true},  {"jobs", 'j', true},
    {"sort-memory", 0, true}, {"temp-dir", 0, true}, {"quiet", 'q', false},
};

std::vector<std::string> split_list(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    if (comma > at) out.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  return out;
}

struct TimelineRequest {
  std::vector<std::string> files;
  std::string logs;
  timeline::TimelineFilter filter;
  app::TimelineFormat format = app::TimelineFormat::JsonLines;
  std::string profile;
  unsigned jobs = 1;
  timeline::SortOptions sort;
  bool quiet = false;
};

std::optional<TimelineRequest> parse_timeline(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("timeline", raw, kTimelineOptions);
  if (!args) return std::nullopt;
  TimelineRequest r;
  r.files = args->positionals;
  if (const std::string* v = args->value("logs")) r.logs = *v;
  if (r.files.empty() && r.logs.empty()) {
    usage_error("timeline", "expected a database file (or --logs DIR)");
    return std::nullopt;
  }
  for (const char* bound : {"from", "to"}) {
    const std::string* v = args->value(bound);
    if (v == nullptr) continue;
    const auto us = timeline::parse_time_bound(*v, std::string_view(bound) == "to");
    if (!us) {
      usage_error("timeline", "--" + std::string(bound) + " '" + *v +
                                  "' is no time (2021-11-16, 2021-11-16T19:18:00, 2021-11-16T19:18:00+02:00)");
      return std::nullopt;
    }
    (std::string_view(bound) == "to" ? r.filter.to : r.filter.from) = *us;
  }
  if (r.filter.from && r.filter.to && *r.filter.from > *r.filter.to) {
    usage_error("timeline", "--from is after --to");
    return std::nullopt;
  }
  if (const std::string* v = args->value("views")) r.filter.views = split_list(*v);
  if (const std::string* v = args->value("kinds")) {
    r.filter.kinds.fill(false);
    for (const std::string& k : split_list(*v)) {
      const auto kind = timeline::event_kind_from_name(k);
      if (!kind) {
        usage_error("timeline", "unknown kind '" + k + "' (known: row, header, recovered, transaction, row_change)");
        return std::nullopt;
      }
      r.filter.kinds[static_cast<std::size_t>(*kind)] = true;
    }
  }
  if (const std::string* v = args->value("format")) {
    if (*v == "jsonl" || *v == "json") r.format = app::TimelineFormat::JsonLines;
    else if (*v == "csv") r.format = app::TimelineFormat::Csv;
    else {
      usage_error("timeline", "--format is jsonl or csv, not '" + *v + "'");
      return std::nullopt;
    }
  }
  if (const std::string* v = args->value("profile")) r.profile = *v;
  if (!jobs_option("timeline", *args, r.jobs)) return std::nullopt;
  if (const std::string* v = args->value("sort-memory")) {
    const auto mib = parse_count(*v);
    if (!mib || *mib == 0 || *mib > (std::uint64_t{1} << 20)) {
      usage_error("timeline", "--sort-memory is a number of MiB from 1 to 1048576");
      return std::nullopt;
    }
    r.sort.memory_bound = static_cast<std::size_t>(*mib) << 20;
  }
  if (const std::string* v = args->value("temp-dir")) r.sort.temp_dir = *v;
  r.quiet = args->flag("quiet");
  return r;
}

void report(std::mutex& lock, const std::string& line) {
  std::lock_guard<std::mutex> hold(lock);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

int run_timeline(const std::vector<std::string_view>& raw, const Context&) {
  auto request = parse_timeline(raw);
  if (!request) return kExitUsage;
  TimelineRequest& r = *request;

  std::vector<profiles::Profile> extra;
  if (!r.profile.empty()) {
    auto loaded = profiles::load_profile_file(r.profile);
    if (!loaded) {
      std::fprintf(stderr, "quarrow: %s\n", loaded.error().to_string().c_str());
      return kExitFailed;
    }
    extra.push_back(std::move(loaded).value());
  }
  const std::vector<profiles::Profile> profile_list = profiles::merge_profiles(extra);

  const std::size_t inputs = r.files.size() + (r.logs.empty() ? 0 : 1);
  std::vector<timeline::InputNames> names(inputs);
  std::vector<timeline::EventSorter> sorters;
  // A quarter of the memory bound holds finished inputs' events (small inputs need no
  // file of their own); the rest is shared by the workers, so that all of it together
  // stays within the bound.
  const std::size_t kept_bound = r.sort.memory_bound / 4;
  timeline::SortOptions each = r.sort;
  const unsigned workers = std::max(1u, std::min<unsigned>(r.jobs, static_cast<unsigned>(std::max<std::size_t>(1, r.files.size()))));
  each.memory_bound = std::max<std::size_t>((r.sort.memory_bound - kept_bound) / workers, std::size_t{1} << 20);
  // One database alone has no finished inputs to keep: all of the bound is its own.
  if (inputs == 1) each.memory_bound = r.sort.memory_bound;
  for (std::size_t k = 0; k < inputs; ++k) sorters.emplace_back(each);
  std::vector<char> failed(inputs, 0);
  std::mutex lock;
  std::size_t buffered = 0;  // bytes the finished sorters still hold in memory
  std::size_t finished = 0;  // databases read

  // A finished input's events stay in memory only while all such fit their share. The
  // last database to finish has the whole bound (no worker holds any more) unless a log
  // folder's sorter follows: its events need not go to disk only to be read back.
  auto settle = [&](std::size_t k) -> Status {
    std::lock_guard<std::mutex> hold(lock);
    const std::size_t bytes = sorters[k].buffered_bytes();
    const bool last = ++finished == r.files.size() && r.logs.empty();
    if (buffered + bytes <= (last ? r.sort.memory_bound : kept_bound)) {
      buffered += bytes;
      // The room beyond the events is given back only while other inputs still need
      // memory: shrinking copies the events, which for the last one is all cost.
      if (!last) sorters[k].shrink();
      return Status::success();
    }
    return sorters[k].spill_buffer();
  };

  run_parallel(r.jobs, r.files.size(), [&](std::size_t k) {
    names[k].source = r.files[k];
    const app::Opened opened = open_database(r.files[k]);
    const std::unique_ptr<Database>& db = opened.database;
    if (!opened) {
      report(lock, file_error_line(r.files[k], opened.failure.message));
      failed[k] = 1;
      std::lock_guard<std::mutex> hold(lock);
      ++finished;
      return;
    }
    timeline::EventSorter& sorter = sorters[k];
    // Each event is written as its output line once, as it is found; the sort moves lines.
    app::TimelineWriter writer(r.format, names);
    std::string line;
    const auto add_event = [&](const timeline::EventView& e) {
      line.clear();
      writer.append(line, e);
      return sorter.add_line(e, line);
    };
    Status s = timeline::database_events(*db, profile_list, r.filter, static_cast<std::uint32_t>(k), names[k],
                                         add_event);
    if (s.ok() && !r.logs.empty()) {
      // The folder read by this worker alone; one that cannot be opened is reported once,
      // as the logs' own input, below.
      auto folder = logs::LogFolder::open(r.logs);
      if (folder) {
        std::vector<std::string> problems;
        s = app::timeline_row_changes(*db, folder.value(), profile_list, r.filter, static_cast<std::uint32_t>(k),
                                      names[k], problems, add_event);
        for (const std::string& p : problems) report(lock, "quarrow timeline: " + r.files[k] + ": " + p);
      }
    }
    if (s.ok()) {
      s = settle(k);
    } else {
      std::lock_guard<std::mutex> hold(lock);
      ++finished;
    }
    if (!s.ok()) {
      report(lock, file_error_line(r.files[k], user_message(s.error())));
      sorter = timeline::EventSorter(each);  // none of a failed file's events
      failed[k] = 1;
    }
  });

  if (!r.logs.empty()) {
    const std::size_t k = r.files.size();
    names[k].source = r.logs;
    auto folder = logs::LogFolder::open(r.logs);
    if (!folder) {
      report(lock, file_error_line(r.logs, user_message(folder.error())));
      failed[k] = 1;
    } else {
      timeline::EventSorter& sorter = sorters[k];
      app::TimelineWriter writer(r.format, names);
      std::string line;
      const Status s = timeline::log_events(folder.value(), r.filter, static_cast<std::uint32_t>(k), names[k],
                                            [&](const timeline::EventView& e) {
                                              line.clear();
                                              writer.append(line, e);
                                              return sorter.add_line(e, line);
                                            });
      if (!s.ok()) {
        report(lock, file_error_line(r.logs, user_message(s.error())));
        sorter = timeline::EventSorter(each);
        failed[k] = 1;
      }
    }
  }

  // Views asked for that no database has.
  for (const std::string& v : r.filter.views) {
    bool found = false;
    for (const auto& n : names) found = found || std::find(n.views_matched.begin(), n.views_matched.end(), v) != n.views_matched.end();
    if (!found) report(lock, "quarrow timeline: no database has a view or table named '" + v + "'");
  }

  std::size_t runs = 0;
  for (const auto& s : sorters) runs += s.spilled_runs();
  timeline::EventMerger merger(std::move(sorters));
  Output output = Output::standard_output();
  if (r.format == app::TimelineFormat::Csv) app::append_timeline_csv_header(output.buffer());
  timeline::EventView e;
  std::uint64_t written = 0;
  while (merger.next(e)) {
    output.buffer().append(e.line);
    ++written;
    if (!output.commit().ok()) break;
  }
  int status = std::find(failed.begin(), failed.end(), 1) != failed.end() ? kExitFailed : kExitOk;
  if (!merger.status().ok()) {
    report(lock, "quarrow timeline: " + user_message(merger.status().error()));
    status = kExitFailed;
  }
  if (Status finished = output.finish(); !finished) {
    std::fprintf(stderr, "quarrow timeline: %s\n", finished.error().message().c_str());
    return kExitFailed;
  }
  if (!r.quiet) {
    std::fprintf(stderr, "quarrow timeline: %llu events from %zu inputs%s\n", static_cast<unsigned long long>(written),
                 inputs, runs == 0 ? "" : (" (" + std::to_string(runs) + " sorted runs on disk)").c_str());
  }
  return status;
}

}  // namespace quarrow::cli
