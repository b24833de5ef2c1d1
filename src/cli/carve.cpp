// quarrow carve FILE: UTF-16LE strings from page space, as JSON Lines.
//
// With several jobs the pages are cut into consecutive ranges carved on separate
// threads. A hit depends only on its own page, so the ranges' hits in range order,
// cut to --max-hits, are exactly the single run's hits; ranges are claimed in order
// and no new range starts once the finished ones at the front already hold enough.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "cli/commands.h"
#include "cli/pool.h"
#include "cli/terminal.h"
#include "forensic/carve.h"
#include "export/json_lines.h"

namespace quarrow::cli {
namespace {

const std::vector<OptionSpec> kCarveOptions = {
    {"scope", 's', true}, {"needle", 0, true}, {"min-chars", 'm', true}, {"max-hits", 'k', true},
    {"jobs", 'j', true},  {"quiet", 'q', false}};

constexpr std::uint64_t kDefaultMinChars = 6;
constexpr std::uint64_t kDefaultMaxHits = 1000;
// Ranges per job: enough to even out ranges of unequal cost.
constexpr std::uint32_t kRangesPerJob = 8;
// Fewer pages than this per range are not worth a thread's start-up.
constexpr std::uint32_t kMinRangePages = 256;

template <class Int>
void append_number(std::string& out, Int v) {
  out += std::to_string(v);
}

// The hit as the module's dictionary, with its keys in the same order.
void append_hit(std::string& out, const CarveHit& hit) {
  out += "{\"page\":";
  append_number(out, hit.page);
  out += ",\"offset\":";
  append_number(out, hit.offset);
  out += ",\"slack_start\":";
  append_number(out, hit.slack_start);
  out += ",\"slack_end\":";
  append_number(out, hit.slack_end);
  out += ",\"region_kind\":";
  append_json_string(out, hit.region_kind);
  out += ",\"page_flags\":";
  append_number(out, hit.page_flags);
  out += ",\"page_type\":";
  append_json_string(out, hit.page_type);
  out += ",\"table\":";
  if (hit.table) {
    append_json_string(out, *hit.table);
  } else {
    out += "null";
  }
  out += ",\"text\":";
  append_json_string(out, hit.text);
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

}  // namespace

int run_carve(const std::vector<std::string_view>& raw, const Context& context) {
  const auto args = parse_or_complain("carve", raw, kCarveOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 1) return usage_error("carve", "expected one database file");
  const std::string scope_name = args->value("scope") ? *args->value("scope") : "slack";
  const auto scope = parse_carve_scope(scope_name);
  if (!scope) {
    return usage_error("carve", "Invalid scope: " + scope_name + " (expected: slack, all, tag_data, lv_all, lv_slack)");
  }
  const std::string needle = args->value("needle") ? *args->value("needle") : "";
  std::uint64_t min_chars = 0;
  std::uint64_t max_hits = 0;
  unsigned jobs = 1;
  if (!count_option(*args, "min-chars", kDefaultMinChars, min_chars) ||
      !count_option(*args, "max-hits", kDefaultMaxHits, max_hits) || !jobs_option("carve", *args, jobs)) {
    return kExitUsage;
  }
  const std::string& path = args->positionals[0];
  const auto db = open_or_report(path);
  if (!db) return kExitFailed;

  const std::uint32_t total = db->total_pages();
  const std::uint64_t limit = std::max<std::uint64_t>(max_hits, 1);
  // One job carves in one run, like the module, unless progress is shown: then the
  // ranges are what the progress line counts.
  const bool show_progress = context.stderr_is_terminal && !args->flag("quiet");
  std::uint32_t ranges = 1;
  if (jobs > 1 || show_progress) ranges = std::clamp<std::uint32_t>(total / kMinRangePages, 1, jobs * kRangesPerJob);
  const std::uint32_t per_range = static_cast<std::uint32_t>((std::uint64_t{total} + ranges - 1) / ranges);

  Progress progress(show_progress);
  progress.add_total(total);
  progress.set_current(progress_label(path, "carving " + scope_name));

  std::vector<std::vector<CarveHit>> results(ranges);
  std::vector<bool> done(ranges, false);
  std::mutex mutex;
  std::size_t front = 0;       // ranges [0, front) are finished
  std::uint64_t front_hits = 0;  // hits in them
  std::atomic<bool> enough{false};
  run_parallel(
      jobs, ranges,
      [&](std::size_t r) {
        const std::uint64_t first = 1 + static_cast<std::uint64_t>(r) * per_range;
        const std::uint64_t last = std::min<std::uint64_t>(first + per_range - 1, total);
        auto hits = first <= last ? carve_strings_in_pages(*db, *scope, needle, min_chars, max_hits,
                                                           static_cast<std::uint32_t>(first),
                                                           static_cast<std::uint32_t>(last))
                                  : std::vector<CarveHit>{};
        const std::uint64_t pages = first <= last ? last - first + 1 : 0;
        progress.add_done(pages, pages * db->page_size());
        std::lock_guard lock(mutex);
        results[r] = std::move(hits);
        done[r] = true;
        while (front < ranges && done[front]) front_hits += results[front++].size();
        if (front_hits >= limit) enough = true;
      },
      [&] { return !enough.load(); });
  progress.stop();

  set_binary_stdout();
  Output out = Output::standard_output();
  std::uint64_t written = 0;
  for (std::size_t r = 0; r < ranges && written < limit && done[r]; ++r) {
    for (const CarveHit& hit : results[r]) {
      if (written == limit) break;
      append_hit(out.buffer(), hit);
      ++written;
      if (!out.commit()) break;
    }
  }
  if (!out.finish()) {
    std::fprintf(stderr, "%s\n", file_error_line(path, out.error()).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace quarrow::cli
