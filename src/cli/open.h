// Opening databases and tables for the commands, with the module's messages, and
// the error lines every command prints on the standard error.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "platform/platform.h"

namespace quarrow::cli {

// Opens a database as the module's constructor does. On failure returns nullptr and
// sets `error` to "Database file not found: {path}" or "Failed to open database: {error}".
// With `logs` (--logs DIR) the database is read as the replay of those logs leaves it;
// a replay that cannot complete fails ("Failed to replay logs: {error}", or "Log folder
// not found: {DIR}").
std::unique_ptr<Database> open_database(const std::string& path, std::string& error,
                                        const std::optional<std::string>& logs = std::nullopt);

// open_database with the failure reported: the error line naming the file is on
// stderr (after the standard output is flushed) when nullptr comes back.
std::unique_ptr<Database> open_or_report(const std::string& path,
                                         const std::optional<std::string>& logs = std::nullopt);

// Adds the identities of the files of a log folder (or of the one log file given):
// evidence that no output may land on, by whatever name it is reached.
void add_log_identities(const std::string& logs, std::vector<platform::FileIdentity>& out);

// The message the module raises for an error of looking up or opening a table:
// "Table not found: {name}", the operating-system error alone, or the rendered text.
std::string lookup_error_text(const EseError& error);

// The lines reporting that `table` could not be looked up in `db`: the error line,
// and for a table that is not there a second line naming the closest table names
// ("quarrow: did you mean 'SruDbIdMapTable'?") when the catalog has any.
std::vector<std::string> table_lookup_lines(const Database& db, std::string_view file, std::string_view table,
                                            const EseError& error);

// Names from the catalog as text (invalid UTF-8 replaced by U+FFFD).
std::string name_text(std::string_view name_bytes);

// The catalog's table names as text, in catalog order.
std::vector<std::string> table_names(const Database& db);

// "quarrow: {file}: {message}" and "quarrow: {file}: {table}: {message}".
std::string file_error_line(std::string_view file, std::string_view message);
std::string table_error_line(std::string_view file, std::string_view table, std::string_view message);

// Prints lines on the standard error, each ending in "\n".
void print_lines(const std::vector<std::string>& lines);

// "{file name}  {table}": what the progress line shows as the current work.
std::string progress_label(const std::string& path, std::string_view what);

}  // namespace quarrow::cli
