#include "cli/options.h"

#include <cstdio>
#include <string>

#include "cli/common.h"
#include "cli/names.h"
#include "cli/terminal.h"

namespace quarrow::cli {

int usage_error(std::string_view command, std::string_view message) {
  std::string text = "quarrow";
  if (!command.empty()) text.append(" ").append(command);
  text.append(": ").append(message).append("\nTry 'quarrow");
  if (!command.empty()) text.append(" ").append(command);
  text.append(" --help'.\n");
  std::fputs(text.c_str(), stderr);
  return kExitUsage;
}

std::optional<Arguments> parse_or_complain(std::string_view command, const std::vector<std::string_view>& args,
                                           const std::vector<OptionSpec>& specs) {
  std::string error;
  auto parsed = parse_arguments(args, specs, error);
  if (!parsed) usage_error(command, error);
  return parsed;
}

std::optional<std::string> logs_option(const Arguments& args) {
  if (const std::string* logs = args.value("logs")) return *logs;
  return std::nullopt;
}

bool stream_options(std::string_view command, const Arguments& args, StreamOptions& out, bool table_allowed) {
  if (const std::string* format = args.value("format")) {
    if (*format == "jsonl" || *format == "json") {
      out.format = Format::JsonLines;
    } else if (*format == "csv") {
      out.format = Format::Csv;
    } else if (*format == "table" && table_allowed) {
      out.format = Format::Table;
    } else {
      usage_error(command, "unknown format '" + *format + "' (expected: jsonl, csv" +
                               (table_allowed ? ", table)" : ")"));
      return false;
    }
  }
  // The grid is for reading: typed values always.
  out.decoded = args.flag("decoded") || out.format == Format::Table;
  if (const std::string* list = args.value("columns")) {
    ColumnSelection selection;
    for (std::string& name : split_list(*list)) selection.names.push_back(std::move(name));
    if (selection.names.empty()) {
      usage_error(command, "--columns needs at least one column name");
      return false;
    }
    out.columns = std::move(selection);
  }
  if (const std::string* limit = args.value("limit")) {
    out.limit = parse_count(*limit);
    if (!out.limit) {
      usage_error(command, "--limit needs a count, not '" + *limit + "'");
      return false;
    }
  }
  return true;
}

bool jobs_option(std::string_view command, const Arguments& args, unsigned& out) {
  out = hardware_threads();
  if (const std::string* jobs = args.value("jobs")) {
    const auto n = parse_count(*jobs);
    if (!n || *n == 0 || *n > 1024) {
      usage_error(command, "--jobs needs a count from 1 to 1024, not '" + *jobs + "'");
      return false;
    }
    out = static_cast<unsigned>(*n);
  }
  return true;
}

}  // namespace quarrow::cli
