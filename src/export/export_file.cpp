#include "export/export_file.h"

#include <utility>

#include "export/json_lines.h"
#include "export/sink.h"
#include "record/reader.h"

namespace quarrow {
namespace {

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
                                               const ColumnSelection* columns) {
  auto reader = open_table_reader(db, table_name_utf8, columns);
  if (!reader) return ExportFailure{ExportFailure::Kind::Lookup, std::move(reader).error(), {}};

  OutputSink::Refusal refusal;
  if (database_file) {
    refusal = [&](const FileIdentity& target) -> std::optional<std::string> {
      if (target != *database_file) return std::nullopt;
      return same_file_message(output_path);
    };
  }
  std::string error;
  // The module's callers may watch the file grow, or stop a long export and keep
  // every line finished so far: each line goes out as soon as it is rendered.
  auto sink = OutputSink::create(output_path, FlushPolicy::EachRow, error, refusal, NameCheck::First);
  if (!sink) return failure(ExportFailure::Kind::CreateFile, std::move(error));

  JsonLineWriter writer;
  Record record;
  const PumpResult pumped = pump_rows(
      db, *sink, std::nullopt,
      // With EachRow the buffer is empty whenever a row begins: render() may replace it.
      [&](std::string& line) {
        const TableRecordReader::Step step = reader->next_record(record);
        if (step == TableRecordReader::Step::Record) {
          writer.render(record, line);
          line.push_back('\n');
        }
        return row_step(step);
      },
      [] {});
  // The lines before a read error stay in the file; the read error is what is reported.
  const bool finished = sink->finish();
  if (pumped.end == PumpResult::End::ReadError) {
    return ExportFailure{ExportFailure::Kind::ReadRecord, reader->error(),
                         in_context(ErrorContext::ReadingRecord, reader->error())};
  }
  if (!finished) return failure(ExportFailure::Kind::Write, sink->error());
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
