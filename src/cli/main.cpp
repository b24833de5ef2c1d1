// quarrow: the command-line front end of the reader. Dispatches to the commands;
// usage errors exit with 2 before any work is done.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/names.h"
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

bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// The usage line of `quarrow help` itself.
constexpr std::string_view kHelpHelp =
    "usage: quarrow help [COMMAND]\n"
    "\n"
    "The list of commands, or the options of one command (as 'quarrow COMMAND --help').\n";

int print_usage(std::FILE* stream) {
  std::string text(kUsage);
  for (const Command& c : commands()) {
    std::string name(c.name);
    name.resize(10, ' ');
    text += "  " + name + std::string(c.summary) + "\n";
  }
  text += "  help      the commands, or the options of one\n";
  text += kUsageEnd;
  std::fputs(text.c_str(), stream);
  return stream == stdout ? kExitOk : kExitUsage;
}

const Command* find_command(std::string_view name) {
  for (const Command& c : commands()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::vector<std::string> command_names() {
  std::vector<std::string> names;
  for (const Command& c : commands()) names.emplace_back(c.name);
  names.emplace_back("help");
  return names;
}

int unknown_command(std::string_view name) {
  std::string message = "unknown command '" + std::string(name) + "'";
  const std::string hint = did_you_mean(closest_names(name, command_names()));
  if (!hint.empty()) message += "; " + hint;
  return usage_error("", message);
}

void print_help(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// quarrow help [COMMAND]
int run_help(const std::vector<std::string_view>& args) {
  if (args.empty()) return print_usage(stdout);
  if (args.size() > 1) return usage_error("help", "expected at most one command name");
  if (args[0] == "help" || is_help(args[0])) {
    print_help(kHelpHelp);
    return kExitOk;
  }
  const Command* c = find_command(args[0]);
  if (c == nullptr) return unknown_command(args[0]);
  print_help(c->help);
  return kExitOk;
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> list = {
      {"info", "file facts and tables with their column (and record) counts", kInfoHelp, run_info},
      {"tables", "table names, one per line", kTablesHelp, run_tables},
      {"schema", "columns of a table or of every table", kSchemaHelp, run_schema},
      {"dump", "one table to the standard output (JSON Lines, CSV or a grid)", kDumpHelp, run_dump},
      {"export", "tables to files, in parallel", kExportHelp, run_export},
      {"views", "the views of a known database's profile (SRUM, UAL, ...)", kViewsHelp, run_views},
      {"carve", "UTF-16LE strings from page space, as JSON Lines", kCarveHelp, run_carve},
      {"verify", "page checksums and both header copies", kVerifyHelp, run_verify},
      {"recover", "deleted records still on a table's pages, as JSON Lines", kRecoverHelp, run_recover},
      {"logs", "transaction logs: files, generations, what a database needs, records", kLogsHelp, run_logs},
      {"replay", "the database as recovery would leave it after its logs, as a new file", kReplayHelp, run_replay},
      {"timeline", "every dated fact of databases and logs in time order (JSON Lines, CSV)", kTimelineHelp,
       run_timeline},
      {"report", "an HTML page per database: facts, tables, a map of its pages, logs", kReportHelp, run_report},
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
  const std::vector<std::string_view> rest(args.begin() + 1, args.end());
  if (args[0] == "help") return run_help(rest);
  const Command* c = find_command(args[0]);
  if (c == nullptr) {
    if (!args[0].empty() && args[0][0] == '-') return usage_error("", "unknown option '" + std::string(args[0]) + "'");
    return unknown_command(args[0]);
  }
  for (std::string_view arg : rest) {
    if (arg == "--") break;
    if (is_help(arg)) {
      print_help(c->help);
      return kExitOk;
    }
  }
  Context context;
  context.stderr_is_terminal = is_terminal(stderr);
  context.stdout_is_terminal = is_terminal(stdout);
  const int status = c->run(rest, context);
  if (std::fflush(stdout) != 0 && status == kExitOk) return kExitFailed;
  return status;
}

}  // namespace quarrow::cli

int main(int argc, char** argv) { return quarrow::cli::main(argc, argv); }
