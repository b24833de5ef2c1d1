// quarrow carve FILE: UTF-16LE strings from page space, as JSON Lines.
//
// With several jobs the pages are cut into consecutive ranges carved on separate
// threads. A hit depends only on its own page, so the ranges' hits in range order,
// cut to --max-hits, are exactly the single run's hits; ranges are claimed in order
// and no new range starts once the finished ones at the front already hold enough.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "app/carve_request.h"
#include "cli/commands.h"
#include "cli/pool.h"
#include "cli/terminal.h"
#include "forensic/carve.h"
#include "export/json_lines.h"

namespace quarrow::cli {

const std::string_view kCarveHelp =
    "usage: quarrow carve [OPTIONS] FILE\n"
    "\n"
    "Carves printable UTF-16LE strings out of the pages and writes the hits as JSON\n"
    "Lines, with the keys and in the order of the module's carving results; file_offset\n"
    "is the hit's offset in the file (offset is within its page).\n"
    "\n"
    "  -s, --scope S       slack (default), all, tag_data, lv_all or lv_slack\n"
    "      --needle TEXT   only strings containing TEXT (case-sensitive)\n"
    "  -m, --min-chars N   shortest string reported (default 6, at least 2)\n"
    "  -k, --max-hits N    stop after N hits (default 1000; 0: no limit); a note on the\n"
    "                      standard error tells when the limit cut the carving\n"
    "  -j, --jobs N        threads (default: the number of processors)\n"
    "  -q, --quiet         no progress display\n"
    "      --logs DIR      carve the pages as replaying the transaction logs in DIR\n"
    "                      leaves them (file_offset: where the page sits in that database)\n";

namespace {

const std::vector<OptionSpec> kCarveOptions = {
    {"scope", 's', true}, {"needle", 0, true}, {"min-chars", 'm', true}, {"max-hits", 'k', true},
    {"jobs", 'j', true},  {"quiet", 'q', false}, kLogsOption};

constexpr std::uint64_t kDefaultMinChars = app::kCarveDefaultMinChars;
constexpr std::uint64_t kDefaultMaxHits = app::kCarveDefaultMaxHits;
// Ranges per job: enough to even out ranges of unequal cost.
constexpr std::uint32_t kRangesPerJob = 8;
// Fewer pages than this per range are not worth a thread's start-up.
constexpr std::uint32_t kMinRangePages = 256;

template <class Int>
void append_number(std::string& out, Int v) {
  out += std::to_string(v);
}

// `,"name":` (or `{"name":` for the first field).
void append_key(std::string& out, app::HitField field) {
  out += field == app::HitField::Page ? "{\"" : ",\"";
  out += app::hit_field_name(field);
  out += "\":";
}

// The hit as the module's dictionary, with its keys in the same order.
void append_hit(std::string& out, const CarveHit& hit, std::uint64_t file_offset) {
  using app::HitField;
  append_key(out, HitField::Page);
  append_number(out, hit.page);
  append_key(out, HitField::Offset);
  append_number(out, hit.offset);
  append_key(out, HitField::SlackStart);
  append_number(out, hit.slack_start);
  append_key(out, HitField::SlackEnd);
  append_number(out, hit.slack_end);
  append_key(out, HitField::RegionKind);
  append_json_string(out, hit.region_kind);
  append_key(out, HitField::PageFlags);
  append_number(out, hit.page_flags);
  append_key(out, HitField::PageType);
  append_json_string(out, hit.page_type);
  append_key(out, HitField::Table);
  if (hit.table) {
    append_json_string(out, *hit.table);
  } else {
    out += "null";
  }
  append_key(out, HitField::Text);
  append_json_string(out, hit.text);
  append_key(out, HitField::FileOffset);
  append_number(out, file_offset);
  out += "}\n";
}

bool count_option(const Arguments& args, const char* name, std::uint64_t fallback, std::uint64_t& out) {
  out = fallback;
  if (const std::string* text = args.value(name)) {
    const auto n = parse_count(*text);
    if (!n) {
      usage_error("carve", std::string("--") + name + " needs a count, not '" + *text + "'");
      return false;
    }
    out = *n;
  }
  return true;
}

struct CarveRequest {
  std::string path;
  std::string scope_name;
  CarveScope scope = CarveScope::Slack;
  std::string needle;
  std::uint64_t min_chars = kDefaultMinChars;
  std::uint64_t max_hits = kDefaultMaxHits;  // 0: no limit
  unsigned jobs = 1;
  bool quiet = false;
  std::optional<std::string> logs;  // --logs DIR
};

std::optional<CarveRequest> parse_carve(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("carve", raw, kCarveOptions);
  if (!args) return std::nullopt;
  if (args->positionals.size() != 1) {
    usage_error("carve", "expected one database file");
    return std::nullopt;
  }
  CarveRequest request;
  request.path = args->positionals[0];
  request.scope_name = args->value("scope") ? *args->value("scope") : "slack";
  const auto scope = parse_carve_scope(request.scope_name);
  if (!scope) {
    usage_error("carve",
                "Invalid scope: " + request.scope_name + " (expected: slack, all, tag_data, lv_all, lv_slack)");
    return std::nullopt;
  }
  request.scope = *scope;
  request.needle = args->value("needle") ? *args->value("needle") : "";
  request.quiet = args->flag("quiet");
  request.logs = logs_option(*args);
  if (!count_option(*args, "min-chars", kDefaultMinChars, request.min_chars) ||
      !count_option(*args, "max-hits", kDefaultMaxHits, request.max_hits) ||
      !jobs_option("carve", *args, request.jobs)) {
    return std::nullopt;
  }
  return request;
}

// The hits of the run, in page order, and whether there were more than the limit.
struct CarveFacts {
  std::vector<CarveHit> hits;
  bool cut = false;
};

CarveFacts carve(const Database& db, const CarveRequest& request, bool show_progress) {
  const std::uint32_t total = db.total_pages();
  // Unlike the module's max_hits, 0 lifts the limit. One hit past the limit is asked
  // for, to know whether the limit cut anything.
  const std::uint64_t limit = request.max_hits == 0 ? UINT64_MAX : request.max_hits;
  const std::uint64_t wanted = limit == UINT64_MAX ? limit : limit + 1;
  // One job carves in one run, like the module, unless progress is shown: then the
  // ranges are what the progress line counts.
  std::uint32_t ranges = 1;
  if (request.jobs > 1 || show_progress) {
    ranges = std::clamp<std::uint32_t>(total / kMinRangePages, 1, request.jobs * kRangesPerJob);
  }
  const std::uint32_t per_range = static_cast<std::uint32_t>((std::uint64_t{total} + ranges - 1) / ranges);

  Progress progress(show_progress);
  progress.add_total(total);
  progress.set_current(progress_label(request.path, "carving " + request.scope_name));

  std::vector<std::vector<CarveHit>> results(ranges);
  std::vector<bool> done(ranges, false);
  std::mutex mutex;
  std::size_t front = 0;       // ranges [0, front) are finished
  std::uint64_t front_hits = 0;  // hits in them
  std::atomic<bool> enough{false};
  run_parallel(
      request.jobs, ranges,
      [&](std::size_t r) {
        const std::uint64_t first = 1 + static_cast<std::uint64_t>(r) * per_range;
        const std::uint64_t last = std::min<std::uint64_t>(first + per_range - 1, total);
        auto hits = first <= last ? carve_strings_in_pages(db, request.scope, request.needle, request.min_chars,
                                                           wanted, static_cast<std::uint32_t>(first),
                                                           static_cast<std::uint32_t>(last))
                                  : std::vector<CarveHit>{};
        const std::uint64_t pages = first <= last ? last - first + 1 : 0;
        progress.add_done(pages, pages * db.page_size());
        std::lock_guard lock(mutex);
        results[r] = std::move(hits);
        done[r] = true;
        while (front < ranges && done[front]) front_hits += results[front++].size();
        if (front_hits >= wanted) enough = true;
      },
      [&] { return !enough.load(); });
  progress.stop();

  CarveFacts facts;
  for (std::size_t r = 0; r < ranges && done[r]; ++r) {
    for (CarveHit& hit : results[r]) {
      if (facts.hits.size() == limit) {
        facts.cut = true;
        return facts;
      }
      facts.hits.push_back(std::move(hit));
    }
  }
  return facts;
}

}  // namespace

int run_carve(const std::vector<std::string_view>& raw, const Context& context) {
  const auto request = parse_carve(raw);
  if (!request) return kExitUsage;
  const std::string& path = request->path;
  const auto db = open_or_report(path, request->logs);
  if (!db) return kExitFailed;
  const CarveFacts facts = carve(*db, *request, context.stderr_is_terminal && !request->quiet);

  set_binary_stdout();
  Output out = Output::standard_output();
  for (const CarveHit& hit : facts.hits) {
    append_hit(out.buffer(), hit, hit_file_offset(hit, db->page_size()));
    if (!out.commit().ok()) break;
  }
  if (Status finished = out.finish(); !finished) {
    std::fprintf(stderr, "%s\n", file_error_line(path, finished.error().message()).c_str());
    return kExitFailed;
  }
  // A cut is said even with --quiet: it changes what the output means.
  if (facts.cut) {
    std::fprintf(stderr, "%s\n",
                 file_error_line(path, "carving stopped at " + std::to_string(request->max_hits) +
                                           " hits (--max-hits); -k N for more, -k 0 for no limit")
                     .c_str());
  }
  return kExitOk;
}

}  // namespace quarrow::cli
