// quarrow replay DB --logs DIR -o NEW [--force]: the database as the engine's recovery
// would leave it after the logs, written as a new file. The evidence is only read.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "log/log_folder.h"
#include "platform/platform.h"
#include "replay/page_edit.h"
#include "replay/replay.h"
#include "replay/write.h"

namespace quarrow::cli {

const std::string_view kReplayHelp =
    "usage: quarrow replay DATABASE --logs DIR -o NEW [--force]\n"
    "\n"
    "Replays the transaction logs of DIR onto DATABASE as the engine's recovery would\n"
    "(from the database's own log position; a clean older copy is rolled forward when\n"
    "the logs continue its log stream), undoes the transactions the logs leave open, and\n"
    "writes the result to NEW: clean shutdown state, both header copies, every page the\n"
    "logs changed with its checksum recomputed. DATABASE and the logs are only read.\n"
    "The replay report goes to the standard error.\n"
    "\n"
    "  -l, --logs DIR   the folder of the logs (*.log, *.jrs, *.chk)\n"
    "  -o, --output NEW the file to write; never DATABASE or a file of DIR\n"
    "      --force      replace NEW when it exists\n"
    "\n"
    "Exit status 1 when the logs cannot be replayed (a missing generation, logs of\n"
    "another log stream, a page older than a record expects, a damaged record): nothing\n"
    "is written then.\n";

namespace {

const std::vector<OptionSpec> kReplayOptions = {{"logs", 'l', true}, {"output", 'o', true}, {"force", 0, false}};

int fail(const std::string& file, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", file_error_line(file, message).c_str());
  return kExitFailed;
}

}  // namespace

int run_replay(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("replay", raw, kReplayOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 1) return usage_error("replay", "give one database file");
  const std::string* logs_dir = args->value("logs");
  const std::string* output = args->value("output");
  if (logs_dir == nullptr) return usage_error("replay", "--logs DIR is required");
  if (output == nullptr) return usage_error("replay", "-o NEW is required");
  const std::string& path = args->positionals[0];

  auto db = open_or_report(path, std::nullopt, false);  // replaying its logs is the point
  if (!db) return kExitFailed;
  auto folder = logs::LogFolder::open(*logs_dir);
  if (!folder) return fail(*logs_dir, folder.error().to_string());

  // The output must be none of the evidence: compared by file identity, so that
  // another name of the same file (a link, another path) is refused too.
  if (const auto out_id = platform::file_identity(*output)) {
    if (platform::file_identity(path) == out_id) return fail(*output, "refusing to write over the database being replayed");
    for (const logs::LogFileInfo& f : folder->files()) {
      if (platform::file_identity(f.path) == out_id) return fail(*output, "refusing to write over a file of the log folder");
    }
    if (!folder->checkpoint_name().empty()) {
      const std::string chk = folder->path() + "/" + folder->checkpoint_name();
      if (platform::file_identity(chk) == out_id) return fail(*output, "refusing to write over a file of the log folder");
    }
    if (!args->flag("force")) return fail(*output, "the file exists (use --force to replace it)");
  }

  auto outcome = replay::replay_logs(*db, *folder, replay::ReplayOptions{});
  if (!outcome) return fail(path, "cannot replay the logs: " + replay::error_detail(outcome.error()));
  for (const std::string& line : replay::report_lines(outcome->report)) std::fprintf(stderr, "%s\n", line.c_str());

  platform::OutputFile file;
  // The system's description alone, as the other refusals here are worded.
  if (Status opened = file.open(*output); !opened) return fail(*output, opened.error().text());
  if (Status cut = file.truncate(); !cut) return fail(*output, cut.error().text());
  Status st = replay::write_replayed(
      *db, *outcome, [&](Bytes b) -> Status { return file.write_all(reinterpret_cast<const char*>(b.data()), b.size()); });
  if (!st) return fail(*output, st.error().kind() == ErrorKind::Io ? st.error().os_error_text() : st.error().to_string());
  if (Status closed = file.close(); !closed) return fail(*output, closed.error().text());
  return kExitOk;
}

}  // namespace quarrow::cli
