// Opening databases and tables for the commands, with the module's messages, and
// the error lines every command prints on the standard error.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/open.h"
#include "database/database.h"
#include "error/ese_error.h"
#include "platform/platform.h"

namespace quarrow::cli {

// Opens a database as the module's constructor does (app::open_for_user): the failure's
// message is "Database file not found: {path}" or "Failed to open database: {error}".
// With `logs` (--logs DIR) the database is read as the replay of those logs leaves it;
// a replay that cannot complete fails ("Failed to replay logs: {error}", or "Log folder
// not found: {DIR}"). A database left dirty (as read: a replay leaves its own header)
// is named on the standard error once, when it opens, with the hint to look at its
// logs (app::dirty_note); `warn_dirty` false for the commands that say so themselves
// (info, logs).
app::Opened open_database(const std::string& path, const std::optional<std::string>& logs = std::nullopt,
                          bool warn_dirty = true);

// open_database with the failure reported: the error line naming the file is on
// stderr (after the standard output is flushed) when nullptr comes back.
std::unique_ptr<Database> open_or_report(const std::string& path,
                                         const std::optional<std::string>& logs = std::nullopt,
                                         bool warn_dirty = true);

using app::add_log_identities;

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

// The message of a failure met reading `db` (error.message()), with what explains it
// when the file is cut short and the error is a read's (context ReadingRecord):
// "{message} (the file is truncated: the database owns N pages, the file holds M)".
std::string with_read_note(const Database& db, const EseError& error);

// Prints lines on the standard error, each ending in "\n".
void print_lines(const std::vector<std::string>& lines);

// "{file name}  {table}": what the progress line shows as the current work.
std::string progress_label(const std::string& path, std::string_view what);

}  // namespace quarrow::cli
