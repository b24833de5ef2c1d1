// quarrow dump FILE TABLE: one table to the standard output.
#include <cstdio>

#include "cli/commands.h"
#include "cli/terminal.h"

namespace quarrow::cli {
namespace {

const std::vector<OptionSpec> kDumpOptions = {
    {"format", 'f', true}, {"limit", 'n', true}, {"decoded", 'd', false}, {"quiet", 'q', false}};

}  // namespace

int run_dump(const std::vector<std::string_view>& raw, const Context& context) {
  const auto args = parse_or_complain("dump", raw, kDumpOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 2) return usage_error("dump", "expected a database file and a table name");
  StreamOptions options;
  if (!stream_options("dump", *args, options)) return kExitUsage;
  const std::string& path = args->positionals[0];
  const std::string& table = args->positionals[1];

  std::string error;
  const auto db = open_database(path, error);
  if (!db) {
    std::fprintf(stderr, "%s\n", file_error_line(path, error).c_str());
    return kExitFailed;
  }
  auto reader = open_table_reader(*db, table);
  if (!reader) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, lookup_error_text(reader.error())).c_str());
    return kExitFailed;
  }
  Progress progress(context.stderr_is_terminal && !args->flag("quiet"));
  progress.add_total(db->total_pages());
  progress.set_current(progress_label(path, table));
  set_binary_stdout();
  Output out = Output::standard_output();
  const auto failure = stream_table(*db, *reader, options, out, progress);
  progress.stop();
  if (failure) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, *failure).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace quarrow::cli
