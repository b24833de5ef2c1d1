// The tool's commands. Each takes the arguments after its name and returns the exit
// status; `help` is the text `quarrow COMMAND --help` prints.
#pragma once

#include <string_view>
#include <vector>

#include "cli/common.h"

namespace quarrow::cli {

struct Command {
  std::string_view name;
  std::string_view summary;
  std::string_view help;
  int (*run)(const std::vector<std::string_view>& args, const Context& context);
};

int run_info(const std::vector<std::string_view>& args, const Context& context);
int run_tables(const std::vector<std::string_view>& args, const Context& context);
int run_schema(const std::vector<std::string_view>& args, const Context& context);
int run_dump(const std::vector<std::string_view>& args, const Context& context);
int run_export(const std::vector<std::string_view>& args, const Context& context);
int run_carve(const std::vector<std::string_view>& args, const Context& context);
int run_verify(const std::vector<std::string_view>& args, const Context& context);
int run_recover(const std::vector<std::string_view>& args, const Context& context);
int run_logs(const std::vector<std::string_view>& args, const Context& context);
int run_replay(const std::vector<std::string_view>& args, const Context& context);
int run_timeline(const std::vector<std::string_view>& args, const Context& context);
int run_report(const std::vector<std::string_view>& args, const Context& context);

// Help texts, each defined beside its command.
extern const std::string_view kInfoHelp;
extern const std::string_view kTablesHelp;
extern const std::string_view kSchemaHelp;
extern const std::string_view kDumpHelp;
extern const std::string_view kExportHelp;
extern const std::string_view kCarveHelp;
extern const std::string_view kVerifyHelp;
extern const std::string_view kRecoverHelp;
extern const std::string_view kLogsHelp;
extern const std::string_view kReplayHelp;
extern const std::string_view kReportHelp;
extern const std::string_view kTimelineHelp;

// What `quarrow info` says about the logs a dirty database needs (logs.cpp): a text
// line or JSON members; with `logs_dir`, whether they are there (`missing` tells).
std::string info_log_needs(const Database& db, const std::string* logs_dir, bool json, bool& missing);

// What export writes and says, shared by its table and view forms (export.cpp):
// whether an output file is there already (a regular file, through links), and a size
// as the summary line gives it ("1.5 MiB", "830 KiB", "12 bytes").
bool existing_output(const std::string& path);
std::string size_text(std::uint64_t bytes);

// Every command, in the order --help lists them.
const std::vector<Command>& commands();

}  // namespace quarrow::cli
