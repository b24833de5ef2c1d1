#include "export/export_file.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "export/json_lines.h"
#include "export/sink.h"
#include "record/reader.h"

namespace quarrow {
namespace {

// The module's export gathers lines in blocks of this many bytes: a write call per
// record took about half the time of a narrow table's export.
constexpr FlushPolicy kModuleFlush{std::size_t{1} << 18};

ExportFailure failure(ExportFailure::Kind kind, std::string message) {
  return ExportFailure{kind, std::nullopt, std::move(message)};
}

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
                                               const ColumnSelection* columns,
                                               const std::vector<FileIdentity>* log_files) {
  auto reader = open_table_reader(db, table_name_utf8, columns);
  if (!reader) return ExportFailure{ExportFailure::Kind::Lookup, std::move(reader).error(), {}};

  OutputSink::Refusal refusal;
  if (database_file || (log_files != nullptr && !log_files->empty())) {
    refusal = [&](const FileIdentity& target) -> std::optional<std::string> {
      if (database_file && target == *database_file) return same_file_message(output_path);
      // A database read with its logs: they are evidence as much as the file.
      if (log_files != nullptr && std::find(log_files->begin(), log_files->end(), target) != log_files->end()) {
        return in_context(ErrorContext::CreatingOutputFile, "the output path is a file of the log folder: " + output_path);
      }
      return std::nullopt;
    };
  }
  std::string error;
  auto sink = OutputSink::create(output_path, kModuleFlush, error, refusal, NameCheck::First);
  if (!sink) return failure(ExportFailure::Kind::CreateFile, std::move(error));

  JsonLineWriter writer;
  Record record;
  std::string line;
  const PumpResult pumped = pump_rows(
      db, *sink, std::nullopt,
      [&](std::string& pending) {
        const TableRecordReader::Step step = reader->next_record(record);
        if (step == TableRecordReader::Step::Record) {
          writer.render(record, line);  // render() replaces what it is given
          pending.append(line);
          pending.push_back('\n');
        }
        return row_step(step);
      },
      [] {});
  if (pumped.end == PumpResult::End::ReadError) {
    // The records before the failure are in the file; unless writing them failed,
    // the read error is what is reported.
    if (!sink->flush()) return failure(ExportFailure::Kind::Write, sink->error());
    return ExportFailure{ExportFailure::Kind::ReadRecord, reader->error(),
                         in_context(ErrorContext::ReadingRecord, reader->error())};
  }
  if (!sink->finish()) return failure(ExportFailure::Kind::Write, sink->error());
  return std::nullopt;
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
