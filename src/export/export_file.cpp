#include "export/export_file.h"

#include <utility>

#include "export/json_lines.h"
#include "record/reader.h"

namespace quarrow {
namespace {

ExportFailure failure(ExportFailure::Kind kind, std::string message) {
  return ExportFailure{kind, std::nullopt, std::move(message)};
}

// Bytes of output between two releases of the database pages read so far.
constexpr std::uint64_t kReleaseInterval = kPageReleaseInterval;
// Bytes of whole lines gathered before they are written.
constexpr std::size_t kWriteBlockBytes = 1u << 18;

std::string same_file_message(const std::string& output_path) {
  return in_context(ErrorContext::CreatingOutputFile, "the output path is the database file itself: " + output_path);
}

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

}  // namespace

std::optional<ExportFailure> export_table_file(const Database& db, std::string_view table_name_utf8,
                                               const std::string& output_path,
                                               std::optional<FileIdentity> database_file,
                                               const ColumnSelection* columns) {
  auto reader = open_table_reader(db, table_name_utf8, columns);
  if (!reader) return ExportFailure{ExportFailure::Kind::Lookup, std::move(reader).error(), {}};

  // Checked by name first, so that the refusal does not depend on whether the
  // database file could be opened for writing (it is often read-only).
  if (database_file && file_identity(output_path) == database_file) {
    return failure(ExportFailure::Kind::CreateFile, same_file_message(output_path));
  }
  platform::OutputFile file;
  const auto create_failure = [](platform::ErrorCode err) {
    return failure(ExportFailure::Kind::CreateFile, in_context(ErrorContext::CreatingOutputFile, os_error_text(err)));
  };
  if (const auto err = file.open(output_path); err != 0) return create_failure(err);
  // The name may have been pointed at the database since the check above: look at the
  // file actually opened (opening changed nothing yet) before cutting it to length 0.
  if (database_file) {
    FileIdentity opened;
    if (const auto err = file.identity(opened); err != 0) return create_failure(err);
    if (opened == *database_file) return failure(ExportFailure::Kind::CreateFile, same_file_message(output_path));
  }
  if (const auto err = file.truncate(); err != 0) return create_failure(err);

  JsonLineWriter writer;
  Record record;
  std::string line;
  std::string pending;  // whole lines not written yet
  std::uint64_t written_since_release = 0;
  const auto write_pending = [&]() -> std::optional<ExportFailure> {
    if (const int err = file.write_all(pending.data(), pending.size()); err != 0) {
      return failure(ExportFailure::Kind::Write, "Write error: " + os_error_text(err));
    }
    pending.clear();
    return std::nullopt;
  };
  for (;;) {
    switch (reader->next_record(record)) {
      case TableRecordReader::Step::Record:
        writer.render(record, line);
        line.push_back('\n');
        pending.append(line);
        // Lines go out in blocks: a write per line cost more than rendering it.
        if (pending.size() >= kWriteBlockBytes) {
          if (auto err = write_pending()) return err;
        }
        // Pages of the database already exported are not needed again soon: keep the
        // resident set independent of the table's size.
        written_since_release += line.size();
        if (written_since_release >= kReleaseInterval) {
          db.release_resident_pages();
          written_since_release = 0;
        }
        break;
      case TableRecordReader::Step::Error: {
        // The records before the failure are in the file.
        if (auto err = write_pending()) return err;
        return ExportFailure{ExportFailure::Kind::ReadRecord, reader->error(),
                             in_context(ErrorContext::ReadingRecord, reader->error())};
      }
      case TableRecordReader::Step::End:
        if (auto err = write_pending()) return err;
        if (const int err = file.close(); err != 0) {
          return failure(ExportFailure::Kind::Write, "Write error: " + os_error_text(err));
        }
        return std::nullopt;
    }
  }
}

std::optional<std::string> create_output_directory(const std::string& dir) {
  if (const int err = platform::create_directories(dir); err != 0) {
    return in_context(ErrorContext::CreatingOutputDirectory, os_error_text(err));
  }
  return std::nullopt;
}

std::optional<std::string> export_file_name(std::string_view table_name_text) {
  for (const char c : table_name_text) {
    if (c == '\0' || is_separator(c)) return std::nullopt;
  }
#ifdef _WIN32
  if (table_name_text.size() >= 2 && table_name_text[1] == ':') return std::nullopt;
#endif
  std::string name(table_name_text);
  name.append(".jsonl");
  return name;
}

std::string unsafe_table_name_message(std::string_view table_name_text) {
  std::string message(context_prefix(ErrorContext::CreatingOutputFile));
  message.append("unsafe table name for a file name: ");
  message.append(table_name_text);
  return message;
}

std::string output_file_path(const std::string& dir, std::string_view file_name) {
  std::string path = dir;
  if (!path.empty() && !is_separator(path.back())) path.push_back('/');
  path.append(file_name);
  return path;
}

}  // namespace quarrow
