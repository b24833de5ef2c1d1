#include "cli/common.h"

#include <cstdio>
#include <filesystem>

#include "cli/row_renderer.h"
#include "cli/terminal.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "platform/platform.h"
#include "record/text.h"

namespace quarrow::cli {
namespace {

// Pages already read are dropped from the resident set after this much output, as the
// module's export does, so that memory use does not grow with the table.
constexpr std::uint64_t kReleaseInterval = kPageReleaseInterval;

}  // namespace

std::unique_ptr<Database> open_database(const std::string& path, std::string& error) {
  if (!platform::path_exists(path)) {
    error = "Database file not found: " + path;
    return nullptr;
  }
  auto opened = Database::open(path);
  if (!opened) {
    error = in_context(ErrorContext::OpeningDatabase, opened.error());
    return nullptr;
  }
  return std::move(*opened);
}

std::unique_ptr<Database> open_or_report(const std::string& path) {
  std::string error;
  auto db = open_database(path, error);
  if (!db) std::fprintf(stderr, "%s\n", file_error_line(path, error).c_str());
  return db;
}

std::string lookup_error_text(const EseError& error) {
  // A table name is stored bytes: shown as text the way the tool shows every name.
  const std::string text = user_message(error);
  return error.kind() == ErrorKind::TableNotFound ? name_text(text) : text;
}

std::string name_text(std::string_view name_bytes) { return lossy_utf8(as_bytes(name_bytes)); }

std::string progress_label(const std::string& path, std::string_view what) {
  // Through char8_t: a narrow std::string is read in the ANSI code page on Windows.
  const std::u8string name =
      std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
  std::string label(name.begin(), name.end());
  label.append("  ").append(what);
  return label;
}

std::string file_error_line(std::string_view file, std::string_view message) {
  std::string line = "quarrow: ";
  line.append(file).append(": ").append(message);
  return line;
}

std::string table_error_line(std::string_view file, std::string_view table, std::string_view message) {
  std::string line = "quarrow: ";
  line.append(file).append(": ").append(table).append(": ").append(message);
  return line;
}

std::optional<std::string> stream_table(const Database& db, TableRecordReader& reader,
                                        const StreamOptions& options, Output& out, Progress& progress) {
  RowRenderer renderer(db, reader, options);
  std::uint64_t count = 0;
  std::uint64_t pages_counted = 0;
  std::uint64_t since_release = 0;
  const std::uint64_t page_size = db.page_size();
  auto count_pages = [&] {
    const std::uint64_t pages = reader.pages_read();
    if (pages != pages_counted) {
      progress.add_done(pages - pages_counted, (pages - pages_counted) * page_size);
      pages_counted = pages;
    }
  };
  renderer.header(out.buffer());
  std::optional<std::string> failure;
  while (!options.limit || count < *options.limit) {
    std::string& buffer = out.buffer();
    const std::size_t before = buffer.size();
    const TableRecordReader::Step step = renderer.next(buffer);
    if (step == TableRecordReader::Step::End) break;
    if (step == TableRecordReader::Step::Error) {
      failure = in_context(ErrorContext::ReadingRecord, reader.error());
      break;
    }
    ++count;
    since_release += buffer.size() - before;
    if (!out.commit()) break;
    if (since_release >= kReleaseInterval) {
      db.release_resident_pages();
      since_release = 0;
    }
    count_pages();
  }
  count_pages();
  // Rows before a read error are written before the error is reported.
  if (!out.finish()) return out.error();
  return failure;
}

std::optional<std::string> missing_column(const StreamOptions& options, const std::vector<const TableInfo*>& tables) {
  if (!options.columns) return std::nullopt;
  for (const std::string& name : options.columns->names) {
    bool found = false;
    for (const TableInfo* table : tables) found = found || table_has_any(*table, ColumnSelection{{name}});
    if (!found) return name_text(name);
  }
  return std::nullopt;
}

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

bool stream_options(std::string_view command, const Arguments& args, StreamOptions& out) {
  if (const std::string* format = args.value("format")) {
    if (*format == "jsonl" || *format == "json") {
      out.format = Format::JsonLines;
    } else if (*format == "csv") {
      out.format = Format::Csv;
    } else {
      usage_error(command, "unknown format '" + *format + "' (expected: jsonl, csv)");
      return false;
    }
  }
  out.decoded = args.flag("decoded");
  if (const std::string* list = args.value("columns")) {
    ColumnSelection selection;
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = list->find(',', start);
      selection.names.push_back(list->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
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
