// Writing tables as JSON Lines files: one table into one file, and the helpers that
// an export of every table into a directory needs. No Python here: failures come back
// as values carrying the exact message that the caller shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "database/database.h"
#include "error/ese_error.h"
#include "platform/platform.h"
#include "record/parser.h"

namespace quarrow {

struct ExportFailure {
  enum class Kind { Lookup, CreateFile, ReadRecord, Write };
  Kind kind;
  // Lookup: the error of opening the table reader (TableNotFound, or a damaged
  // descent); ReadRecord: the error that ended the table. Empty otherwise.
  std::optional<EseError> error;
  // The complete message for CreateFile, ReadRecord and Write:
  //   "Failed to create output file: {os error}", "Error reading record: {error}",
  //   "Write error: {os error}". Empty for Lookup, whose error the caller maps itself.
  std::string message;
};

// Identity of a file on its file system, and that of the file at a path.
using platform::FileIdentity;
using platform::file_identity;

// Writes every record of the table named `table_name_utf8` (looked up by its exact
// bytes) to `output_path`, one JSON object and one line feed per record.
//
// The table reader is opened first, so an unknown table creates and changes nothing.
// `database_file` is the identity of the database's own file (take it with
// file_identity() when the database is opened). The database is memory-mapped;
// truncating its file would pull the pages from under the mapping, so an output path
// that reaches that file by any name, symbolic or hard link, is refused with a
// CreateFile failure. The path is checked before the open, and the opened file again
// before it is truncated, so that a name switched to the database in between changes
// nothing either. std::nullopt (an in-memory database) skips the check.
//
// With `columns`, only those of the table's columns are read and written.
//
// Each line is handed to the operating system as soon as it is rendered; the file is
// closed on every path, and lines written before a failure stay in it.
std::optional<ExportFailure> export_table_file(const Database& db, std::string_view table_name_utf8,
                                               const std::string& output_path,
                                               std::optional<FileIdentity> database_file,
                                               const ColumnSelection* columns = nullptr,
                                               const std::vector<FileIdentity>* log_files = nullptr);

// Creates `dir` with every missing parent (an existing directory is fine; "" stands for
// the current directory and creates nothing). Returns the message
// "Failed to create output directory: {os error}" on failure.
std::optional<std::string> create_output_directory(const std::string& dir);

// The file name of a table's export, "{name}.jsonl", or std::nullopt when the name
// cannot be used as one file name inside the output directory: it contains '/' or a
// NUL byte (and, on Windows, '\\' or a drive prefix such as "C:"). Table names come
// from the file being read and may be hostile; such names are refused, not rewritten,
// so that no two tables can silently end up in the same file.
std::optional<std::string> export_file_name(std::string_view table_name_text);

// "Failed to create output file: unsafe table name for a file name: {name}".
std::string unsafe_table_name_message(std::string_view table_name_text);

// `dir` and `file_name` joined with one '/' (none when `dir` is empty or already ends
// with a separator).
std::string output_file_path(const std::string& dir, std::string_view file_name);

}  // namespace quarrow
