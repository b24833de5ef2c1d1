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

EseError same_file_error(const std::string& output_path) {
  return EseError::refused("the output path is the database file itself: " + output_path)
      .in(ErrorContext::CreatingOutputFile);
}

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

}  // namespace

Status export_table_file(const Database& db, std::string_view table_name_utf8, const std::string& output_path,
                         std::optional<FileIdentity> database_file, const ColumnSelection* columns,
                         const std::vector<FileIdentity>* log_files) {
  auto reader = open_table_reader(db, table_name_utf8, columns);
  if (!reader) return std::move(reader).error();

  OutputSink::Refusal refusal;
  if (database_file || (log_files != nullptr && !log_files->empty())) {
    refusal = [&](const FileIdentity& target) -> Status {
      if (database_file && target == *database_file) return same_file_error(output_path);
      // A database read with its logs: they are evidence as much as the file.
      if (log_files != nullptr && std::find(log_files->begin(), log_files->end(), target) != log_files->end()) {
        return EseError::refused("the output path is a file of the log folder: " + output_path)
            .in(ErrorContext::CreatingOutputFile);
      }
      return Status::success();
    };
  }
  auto sink = OutputSink::create(output_path, kModuleFlush, refusal, NameCheck::First);
  if (!sink) return std::move(sink).error();

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
    if (Status written = sink->flush(); !written) return written;
    return reader->error().in(ErrorContext::ReadingRecord);
  }
  return sink->finish();
}

Status create_output_directory(const std::string& dir) {
  if (Status st = platform::create_directories(dir); !st) {
    return std::move(st).error().in(ErrorContext::CreatingOutputDirectory);
  }
  return Status::success();
}

Result<std::string> export_file_name(std::string_view table_name_text) {
  bool safe = true;
  for (const char c : table_name_text) safe = safe && c != '\0' && !is_separator(c);
#ifdef _WIN32
  if (table_name_text.size() >= 2 && table_name_text[1] == ':') safe = false;
#endif
  if (!safe) {
    return EseError::refused("unsafe table name for a file name: " + std::string(table_name_text))
        .in(ErrorContext::CreatingOutputFile);
  }
  std::string name(table_name_text);
  name.append(".jsonl");
  return name;
}

std::string output_file_path(const std::string& dir, std::string_view file_name) {
  std::string path = dir;
  if (!path.empty() && !is_separator(path.back())) path.push_back('/');
  path.append(file_name);
  return path;
}

}  // namespace quarrow
