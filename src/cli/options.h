// Usage errors and the options several commands share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/stream.h"

namespace quarrow::cli {

// Parses the command's arguments, or prints the usage error ("quarrow {command}: {error}"
// and a hint) and returns std::nullopt.
std::optional<Arguments> parse_or_complain(std::string_view command, const std::vector<std::string_view>& args,
                                           const std::vector<OptionSpec>& specs);
// Prints a usage error for the command and returns kExitUsage.
int usage_error(std::string_view command, std::string_view message);

// --format, --limit and --decoded; false after printing a usage error. `table_allowed`:
// whether the command accepts --format table (dump does, export does not).
bool stream_options(std::string_view command, const Arguments& args, StreamOptions& out,
                    bool table_allowed = false);
// --logs DIR: read the database as the replay of the transaction logs in DIR leaves it.
inline const OptionSpec kLogsOption = {"logs", 0, true};
std::optional<std::string> logs_option(const Arguments& args);
// --jobs (default: the machine's thread count); false after printing a usage error.
bool jobs_option(std::string_view command, const Arguments& args, unsigned& out);

}  // namespace quarrow::cli
