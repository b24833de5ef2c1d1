// quarrow: the command-line front end of the reader. Dispatches to the commands;
// usage errors exit with 2 before any work is done.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "cli/views.h"
#include "platform/platform.h"

namespace quarrow::cli {
namespace {

constexpr std::string_view kUsage =
    "usage: quarrow [--version] [--help] COMMAND [ARGS]\n"
    "\n"
    "Reads ESE database files (SRUM, Windows Search, WebCache, User Access Logging, ...)\n"
    "read-only, without the database engine.\n"
    "\n"
    "commands:\n";

constexpr std::string_view kUsageEnd =
    "\n"
    "Run 'quarrow COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 some file or table failed (the others are done), 2 usage error.\n";

constexpr std::string_view kInfoHelp =
    "usage: quarrow info [--count] [--json] [--logs DIR] FILE...\n"
    "\n"
    "For each file: page size, format version and revision, number of pages, the kind\n"
    "of database when a profile knows it (srum, ual, windows_search; see views), the\n"
    "database state from the header (with a warning when the database was not shut\n"
    "down cleanly), the creation and last attach and detach times, the tables with\n"
    "their column counts, and the catalog rows passed over (--json lists them).\n"
    "\n"
    "  -c, --count   also count the records of every table (reads every table)\n"
    "      --json    one JSON object per file\n"
    "  -l, --logs DIR  for a dirty database, whether the log generations it needs are\n"
    "                in DIR (exit status 1 when one is missing)\n";

constexpr std::string_view kTablesHelp =
    "usage: quarrow tables FILE\n"
    "\n"
    "The table names of the catalog, one per line, in catalog order.\n";

constexpr std::string_view kSchemaHelp =
    "usage: quarrow schema [--json] FILE [TABLE]\n"
    "\n"
    "The columns of one table, or of every table: id, name, type, nullable, codepage and\n"
    "whether the column is multi-valued; then its indexes (key columns in order, '-' for\n"
    "descending) and whether each is unique or primary.\n"
    "\n"
    "      --json    one JSON object per table\n";

constexpr std::string_view kDumpHelp =
    "usage: quarrow dump [--format jsonl|csv] [--decoded] [--limit N] [--columns A,B] [--jobs N] FILE TABLE\n"
    "       quarrow dump --view NAME [--profile FILE] [--format jsonl|csv] [--limit N] FILE\n"
    "\n"
    "Writes one table to the standard output. JSON Lines by default, byte for byte what\n"
    "the module's export_table writes. With --view, one view of the database's profile\n"
    "(see 'quarrow views'): converted values, timestamps in UTC, durations in seconds.\n"
    "\n"
    "  -f, --format F   jsonl (default) or csv: RFC 4180, a header row, binary data as\n"
    "                   hexadecimal, null as an empty field\n"
    "  -d, --decoded    typed values instead of the raw ones: dates as ISO 8601,\n"
    "                   Currency as an exact decimal, GUIDs as text, multi-valued\n"
    "                   columns as lists, column defaults applied\n"
    "  -n, --limit N    at most N records\n"
    "      --columns A,B  only these columns (in the table's column order)\n"
    "  -j, --jobs N     threads for a large table (default: the number of processors);\n"
    "                   the output is the same for any number\n"
    "  -q, --quiet      no progress display\n"
    "      --view NAME  a view instead of a table\n"
    "      --profile F  a profile file tried before the built-in ones\n";

constexpr std::string_view kExportHelp =
    "usage: quarrow export [OPTIONS] FILE... -o DIR\n"
    "\n"
    "Writes every table (or the ones named) of each file to DIR/{table}.jsonl, as the\n"
    "module's export_all does. With several files, each gets its own folder:\n"
    "DIR/{file name}/{table}.jsonl. The output is the same for any number of jobs.\n"
    "\n"
    "  -o, --output DIR   output directory (created with its parents)\n"
    "  -t, --tables A,B   only these tables\n"
    "  -f, --format F     jsonl (default) or csv (files named {table}.csv)\n"
    "  -d, --decoded      typed values (see 'quarrow dump --help')\n"
    "  -n, --limit N      at most N records per table\n"
    "      --columns A,B  only these columns; tables with none of them are not written\n"
    "  -j, --jobs N       threads (default: the number of processors); a large table is\n"
    "                     shared out over them too\n"
    "  -q, --quiet        no progress display\n"
    "      --views        every view of the database's profile instead of the tables,\n"
    "                     as DIR/{view}.jsonl (or .csv)\n"
    "      --profile F    a profile file tried before the built-in ones\n";

constexpr std::string_view kCarveHelp =
    "usage: quarrow carve [OPTIONS] FILE\n"
    "\n"
    "Carves printable UTF-16LE strings out of the pages and writes the hits as JSON\n"
    "Lines, with the keys and in the order of the module's carving results.\n"
    "\n"
    "  -s, --scope S       slack (default), all, tag_data, lv_all or lv_slack\n"
    "      --needle TEXT   only strings containing TEXT (case-sensitive)\n"
    "  -m, --min-chars N   shortest string reported (default 6, at least 2)\n"
    "  -k, --max-hits N    stop after N hits (default 1000)\n"
    "  -j, --jobs N        threads (default: the number of processors)\n"
    "  -q, --quiet         no progress display\n";

bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

int print_usage(std::FILE* stream) {
  std::string text(kUsage);
  for (const Command& c : commands()) {
    std::string name(c.name);
    name.resize(10, ' ');
    text += "  " + name + std::string(c.summary) + "\n";
  }
  text += kUsageEnd;
  std::fputs(text.c_str(), stream);
  return stream == stdout ? kExitOk : kExitUsage;
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> list = {
      {"info", "file facts and tables with their column (and record) counts", kInfoHelp, run_info},
      {"tables", "table names, one per line", kTablesHelp, run_tables},
      {"schema", "columns of a table or of every table", kSchemaHelp, run_schema},
      {"dump", "one table to the standard output (JSON Lines or CSV)", kDumpHelp, run_dump},
      {"export", "tables to files, in parallel", kExportHelp, run_export},
      {"views", "the views of a known database's profile (SRUM, UAL, ...)", kViewsHelp, run_views},
      {"carve", "UTF-16LE strings from page space, as JSON Lines", kCarveHelp, run_carve},
      {"verify", "page checksums and both header copies", kVerifyHelp, run_verify},
      {"recover", "deleted records still on a table's pages, as JSON Lines", kRecoverHelp, run_recover},
      {"logs", "transaction logs: files, generations, what a database needs, records", kLogsHelp, run_logs},
  };
  return list;
}

int main(int argc, char** argv) {
  // Every line the tool prints ends in "\n" alone, on Windows too.
  set_binary_stdout();
  const std::vector<std::string> utf8_args = platform::utf8_arguments(argc, argv);
  std::vector<std::string_view> args(utf8_args.begin(), utf8_args.end());
  if (args.empty()) return print_usage(stderr);
  if (is_help(args[0])) return print_usage(stdout);
  if (args[0] == "--version" || args[0] == "-V") {
    std::printf("quarrow %s\n", kVersion);
    return kExitOk;
  }
  for (const Command& c : commands()) {
    if (c.name != args[0]) continue;
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    for (std::string_view arg : rest) {
      if (arg == "--") break;
      if (is_help(arg)) {
        std::fwrite(c.help.data(), 1, c.help.size(), stdout);
        return kExitOk;
      }
    }
    Context context;
    context.stderr_is_terminal = is_terminal(stderr);
    const int status = c.run(rest, context);
    if (std::fflush(stdout) != 0 && status == kExitOk) return kExitFailed;
    return status;
  }
  if (!args[0].empty() && args[0][0] == '-') return usage_error("", "unknown option '" + std::string(args[0]) + "'");
  return usage_error("", "unknown command '" + std::string(args[0]) + "'");
}

}  // namespace quarrow::cli

int main(int argc, char** argv) { return quarrow::cli::main(argc, argv); }
