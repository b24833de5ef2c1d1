// Writing tables as JSON Lines files: one table into one file, and the helpers that
// an export of every table into a directory needs. No Python here: failures come back
// as the core's Status, in the context that words the message the caller shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "platform/platform.h"
#include "record/parser.h"

namespace quarrow {

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
// nothing either (a refusal in the context CreatingOutputFile). std::nullopt (an
// in-memory database) skips the check.
//
// With `columns`, only those of the table's columns are read and written.
//
// Each line is handed to the operating system as soon as it is rendered; the file is
// closed on every path, and lines written before a failure stay in it.
//
// Fails with: the error of opening the table reader, in no context (TableNotFound, or
// a damaged descent: each front end words it itself); a refusal or the system's error
// in the context CreatingOutputFile; the error that ended the table in ReadingRecord
// (unless writing the lines before it failed); a write error in WritingOutput.
//
// With `log_files` (the files of the log folder a database was read with), an output
// path that reaches one of them is refused the same way: they are evidence as much as
// the database file.
Status export_table_file(const Database& db, std::string_view table_name_utf8, const std::string& output_path,
                         std::optional<FileIdentity> database_file, const ColumnSelection* columns = nullptr,
                         const std::vector<FileIdentity>* log_files = nullptr);

// Creates `dir` with every missing parent (an existing directory is fine; "" stands for
// the current directory and creates nothing). Fails with the system's error in the
// context CreatingOutputDirectory.
Status create_output_directory(const std::string& dir);

// The file name of a table's export, "{name}.jsonl". A name that cannot be used as one
// file name inside the output directory (it contains '/' or a NUL byte, and on Windows
// '\\' or a drive prefix such as "C:") is refused in the context CreatingOutputFile:
// "unsafe table name for a file name: {name}". Table names come from the file being
// read and may be hostile; such names are refused, not rewritten, so that no two
// tables can silently end up in the same file.
Result<std::string> export_file_name(std::string_view table_name_text);

// `dir` and `file_name` joined with one '/' (none when `dir` is empty or already ends
// with a separator).
std::string output_file_path(const std::string& dir, std::string_view file_name);

}  // namespace quarrow
