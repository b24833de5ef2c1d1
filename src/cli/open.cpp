#include "cli/open.h"

#include <cstdio>
#include <filesystem>

#include "app/notes.h"
#include "app/open.h"
#include "cli/names.h"
#include "platform/platform.h"
#include "record/text.h"

namespace quarrow::cli {

app::Opened open_database(const std::string& path, const std::optional<std::string>& logs, bool warn_dirty) {
  app::Opened opened = app::open_for_user(path, path, app::ReadWith{logs, {}});
  if (opened && warn_dirty) {
    if (const std::string note = app::dirty_note(*opened.database); !note.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", file_error_line(path, note).c_str());
    }
  }
  return opened;
}

std::unique_ptr<Database> open_or_report(const std::string& path, const std::optional<std::string>& logs,
                                         bool warn_dirty) {
  app::Opened opened = open_database(path, logs, warn_dirty);
  if (!opened) {
    // After what the command printed for earlier files, when both streams are one.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", file_error_line(path, opened.failure.message).c_str());
  }
  return std::move(opened.database);
}

std::string lookup_error_text(const EseError& error) {
  // A table name is stored bytes: shown as text the way the tool shows every name.
  const std::string text = user_message(error);
  return error.kind() == ErrorKind::TableNotFound ? name_text(text) : text;
}

std::vector<std::string> table_lookup_lines(const Database& db, std::string_view file, std::string_view table,
                                            const EseError& error) {
  std::string text = lookup_error_text(error);
  if (error.kind() == ErrorKind::InvalidPageNumber) {
    if (const std::string note = app::truncation_note(db); !note.empty()) text += " (" + note + ")";
  }
  std::vector<std::string> lines = {table_error_line(file, table, text)};
  if (error.kind() == ErrorKind::TableNotFound) {
    const std::string hint = app::table_suggestion(db, name_text(table));
    if (!hint.empty()) lines.push_back("quarrow: " + hint);
  }
  return lines;
}

std::string name_text(std::string_view name_bytes) { return lossy_utf8(as_bytes(name_bytes)); }

std::vector<std::string> table_names(const Database& db) {
  std::vector<std::string> names;
  for (const auto& entry : db.catalog()) names.push_back(name_text(entry.first));
  return names;
}

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

std::string with_read_note(const Database& db, const EseError& error) {
  std::string failure = error.message();
  // Only reads meet missing pages: a write error has other causes.
  if (error.context() != ErrorContext::ReadingRecord) return failure;
  const std::string note = app::truncation_note(db);
  if (!note.empty()) failure += " (" + note + ")";
  return failure;
}

void print_lines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace quarrow::cli
