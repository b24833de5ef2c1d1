// quarrow dump FILE TABLE: one table to the standard output. A large table is read by
// --jobs threads, each on a stretch of its leaf pages, written in table order.
#include <cstdio>

#include "cli/commands.h"
#include "cli/split_table.h"
#include "cli/terminal.h"
#include "cli/views.h"

namespace quarrow::cli {
namespace {

const std::vector<OptionSpec> kDumpOptions = {
    {"format", 'f', true}, {"limit", 'n', true}, {"decoded", 'd', false}, {"quiet", 'q', false},
    {"columns", 0, true},  {"jobs", 'j', true},
    {"view", 0, true},     {"profile", 0, true}};

}  // namespace

int run_dump(const std::vector<std::string_view>& raw, const Context& context) {
  const auto args = parse_or_complain("dump", raw, kDumpOptions);
  if (!args) return kExitUsage;
  StreamOptions options;
  if (args->value("view") != nullptr) {
    if (!stream_options("dump", *args, options)) return kExitUsage;
    return run_dump_view(*args, options, context);
  }
  if (args->positionals.size() != 2) return usage_error("dump", "expected a database file and a table name");
  unsigned jobs = 1;
  if (!stream_options("dump", *args, options) || !jobs_option("dump", *args, jobs)) return kExitUsage;
  const std::string& path = args->positionals[0];
  const std::string& table = args->positionals[1];

  const auto db = open_or_report(path);
  if (!db) return kExitFailed;
  auto reader = open_table_reader(*db, table, options.columns ? &*options.columns : nullptr);
  if (!reader) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, lookup_error_text(reader.error())).c_str());
    return kExitFailed;
  }
  if (const auto missing = missing_column(options, {&reader->table()})) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, "Column not found: " + *missing).c_str());
    return kExitFailed;
  }
  Progress progress(context.stderr_is_terminal && !args->flag("quiet"));
  progress.add_total(db->total_pages());
  progress.set_current(progress_label(path, table));
  set_binary_stdout();
  Output out = Output::standard_output();
  const auto leaves = pages_to_split(*db, reader->table(), jobs, options);
  const auto failure = leaves ? stream_table_split(*db, *reader, *leaves, options, out, progress, jobs)
                              : stream_table(*db, *reader, options, out, progress);
  progress.stop();
  if (failure) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, *failure).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace quarrow::cli
