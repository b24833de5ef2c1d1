// What the commands share: exit statuses, opening a database with the module's
// messages, error lines, the table stream that dump and export run, and the command
// context.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "database/database.h"
#include "record/parser.h"
#include "version.h"
#include "error/ese_error.h"
#include "record/reader.h"

namespace quarrow::cli {

// Exit statuses: everything done; some file or table failed (the others were still
// done); the command line was wrong (nothing was done).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

inline constexpr char kVersion[] = QUARROW_VERSION;

// Opens a database as the module's constructor does. On failure returns nullptr and
// sets `error` to "Database file not found: {path}" or "Failed to open database: {error}".
std::unique_ptr<Database> open_database(const std::string& path, std::string& error);

// open_database for the commands that take one file: on failure the error line naming
// the file is already on stderr when nullptr comes back.
std::unique_ptr<Database> open_or_report(const std::string& path);

// The message the module raises for an error of looking up or opening a table:
// "Table not found: {name}", the operating-system error alone, or the rendered text.
std::string lookup_error_text(const EseError& error);

// Names from the catalog as text (invalid UTF-8 replaced by U+FFFD).
std::string name_text(std::string_view name_bytes);

// "quarrow: {file}: {message}" and "quarrow: {file}: {table}: {message}".
std::string file_error_line(std::string_view file, std::string_view message);
std::string table_error_line(std::string_view file, std::string_view table, std::string_view message);

// "{file name}  {table}": what the progress line shows as the current work.
std::string progress_label(const std::string& path, std::string_view what);

enum class Format { JsonLines, Csv };

struct StreamOptions {
  Format format = Format::JsonLines;
  std::optional<std::uint64_t> limit;  // records at most
  bool decoded = false;                // typed values of the decoded layer
  std::optional<ColumnSelection> columns;  // --columns: only these (by name)
};

// Writes the reader's records (up to the limit) into `out` and finishes it (flushes;
// closes a file). Returns the failure message, "Error reading record: {error}" or
// "Write error: {os error}"; every row produced before a read error is written first.
std::optional<std::string> stream_table(const Database& db, TableRecordReader& reader,
                                        const StreamOptions& options, Output& out, Progress& progress);

// The first --columns name that none of `tables` has, if any.
std::optional<std::string> missing_column(const StreamOptions& options, const std::vector<const TableInfo*>& tables);

// What every command is told about its surroundings.
struct Context {
  bool stderr_is_terminal = false;
};

// Parses the command's arguments, or prints the usage error ("quarrow {command}: {error}"
// and a hint) and returns std::nullopt.
std::optional<Arguments> parse_or_complain(std::string_view command, const std::vector<std::string_view>& args,
                                           const std::vector<OptionSpec>& specs);
// Prints a usage error for the command and returns kExitUsage.
int usage_error(std::string_view command, std::string_view message);

// --format, --limit and --decoded; false after printing a usage error.
bool stream_options(std::string_view command, const Arguments& args, StreamOptions& out);
// --jobs (default: the machine's thread count); false after printing a usage error.
bool jobs_option(std::string_view command, const Arguments& args, unsigned& out);

}  // namespace quarrow::cli
