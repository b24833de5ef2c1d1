// quarrow dump FILE TABLE: one table to the standard output. A large table is read by
// --jobs threads, each on a stretch of its leaf pages, written in table order.
#include <cstdio>

#include "cli/commands.h"
#include "cli/split_table.h"
#include "cli/terminal.h"
#include "cli/views.h"

namespace quarrow::cli {

const std::string_view kDumpHelp =
    "usage: quarrow dump [--format jsonl|csv|table] [--decoded] [--limit N] [--columns A,B] [--jobs N]\n"
    "                    [--logs DIR] FILE TABLE\n"
    "       quarrow dump --view NAME [--profile FILE] [--format jsonl|csv|table] [--limit N] [--columns A,B]\n"
    "                    [--logs DIR] FILE\n"
    "\n"
    "Writes one table to the standard output. JSON Lines by default, byte for byte what\n"
    "the module's export_table writes. With --view, one view of the database's profile\n"
    "(see 'quarrow views'): converted values, timestamps in UTC (local times without a zone),\n"
    "durations in seconds.\n"
    "\n"
    "  -f, --format F   jsonl (default) or csv: RFC 4180, a header row, binary data as\n"
    "                   hexadecimal, null as an empty field; or table: an aligned grid\n"
    "                   of the decoded values for reading on a terminal (long values\n"
    "                   cut with '\xE2\x80\xA6', binary as short hexadecimal, null as '\xE2\x88\x85'),\n"
    "                   a screenful of records when the output is a terminal\n"
    "  -d, --decoded    typed values instead of the raw ones: dates as ISO 8601,\n"
    "                   Currency as an exact decimal, GUIDs as text, multi-valued\n"
    "                   columns as lists, column defaults applied\n"
    "  -n, --limit N    at most N records\n"
    "      --columns A,B  only these columns (in the table's column order)\n"
    "  -j, --jobs N     threads for a large table (default: the number of processors);\n"
    "                   the output is the same for any number\n"
    "  -q, --quiet      no progress display\n"
    "      --view NAME  a view instead of a table (--columns then keeps the view's\n"
    "                   columns named, in the order given)\n"
    "      --profile F  a profile file tried before the built-in ones\n"
    "      --logs DIR   read the database as replaying the transaction logs in DIR\n"
    "                   leaves it\n";

namespace {

const std::vector<OptionSpec> kDumpOptions = {
    {"format", 'f', true}, {"limit", 'n', true}, {"decoded", 'd', false}, {"quiet", 'q', false},
    {"columns", 0, true},  {"jobs", 'j', true},
    {"view", 0, true},     {"profile", 0, true},  kLogsOption};

struct DumpRequest {
  std::string path;
  std::string table;
  StreamOptions options;
  bool screenful = false;  // the limit was chosen to fit the terminal
  bool quiet = false;
  unsigned jobs = 1;       // threads for a large table
  std::optional<std::string> logs;  // --logs DIR
};

// The arguments, or std::nullopt without a word: parse_dump reports the error.
std::optional<Arguments> parse_arguments_quietly(const std::vector<std::string_view>& raw,
                                                 const std::vector<OptionSpec>& specs) {
  std::string ignored;
  return parse_arguments(raw, specs, ignored);
}

std::optional<DumpRequest> parse_dump(const std::vector<std::string_view>& raw, const Context& context) {
  const auto args = parse_or_complain("dump", raw, kDumpOptions);
  if (!args) return std::nullopt;
  if (args->positionals.size() != 2) {
    usage_error("dump", "expected a database file and a table name");
    return std::nullopt;
  }
  DumpRequest request;
  if (!stream_options("dump", *args, request.options, true) || !jobs_option("dump", *args, request.jobs)) {
    return std::nullopt;
  }
  request.path = args->positionals[0];
  request.table = args->positionals[1];
  request.quiet = args->flag("quiet");
  request.logs = logs_option(*args);
  if (request.options.format == Format::Table && !request.options.limit && context.stdout_is_terminal) {
    request.options.limit = screenful_rows();
    request.screenful = true;
  }
  return request;
}

}  // namespace

int run_dump(const std::vector<std::string_view>& raw, const Context& context) {
  // A view of the database's profile instead of a table (cli/views.cpp).
  if (const auto args = parse_arguments_quietly(raw, kDumpOptions); args && args->value("view") != nullptr) {
    StreamOptions options;
    if (!stream_options("dump", *args, options, true)) return kExitUsage;
    return run_dump_view(*args, options, context);
  }
  const auto request = parse_dump(raw, context);
  if (!request) return kExitUsage;
  const std::string& path = request->path;
  const std::string& table = request->table;
  const StreamOptions& options = request->options;

  const auto db = open_or_report(path, request->logs);
  if (!db) return kExitFailed;
  auto reader = open_table_reader(*db, table, options.columns ? &*options.columns : nullptr);
  if (!reader) {
    print_lines(table_lookup_lines(*db, path, table, reader.error()));
    return kExitFailed;
  }
  if (const auto missing = missing_column(options, {&reader->table()})) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, "Column not found: " + *missing).c_str());
    return kExitFailed;
  }
  Progress progress(context.stderr_is_terminal && !request->quiet);
  progress.add_total(db->total_pages());
  progress.set_current(progress_label(path, table));
  set_binary_stdout();
  Output out = Output::standard_output();
  StreamCounts counts;
  const auto leaves = pages_to_split(*db, reader->table(), request->jobs, options);
  const Status streamed = leaves
                             ? stream_table_split(*db, *reader, *leaves, options, out, progress, request->jobs, &counts)
                             : stream_table(*db, *reader, options, out, progress, &counts);
  progress.stop();
  if (!streamed) {
    std::fprintf(stderr, "%s\n", table_error_line(path, table, with_read_note(*db, streamed.error())).c_str());
    return kExitFailed;
  }
  if (request->screenful && counts.more) {
    std::fprintf(stderr, "quarrow: the first %llu records; --limit N shows more\n",
                 static_cast<unsigned long long>(*request->options.limit));
  }
  return kExitOk;
}

}  // namespace quarrow::cli
