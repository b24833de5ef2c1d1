#include "app/open.h"

#include <filesystem>

#include "error/ese_error.h"
#include "log/log_folder.h"
#include "platform/platform.h"

namespace quarrow::app {

Opened open_for_user(const std::string& path, std::string_view shown_path) {
  Opened out;
  // A NUL is no name the operating system can look up: such a file is not there.
  if (path.find('\0') != std::string::npos || !platform::path_exists(path)) {
    out.failure = {OpenFailure::Kind::NotFound, "Database file not found: " + std::string(shown_path), 0};
    return out;
  }
  auto opened = Database::open(path);
  if (!opened) {
    const EseError& error = opened.error();
    const bool system = error.kind() == ErrorKind::Io;
    out.failure = {system ? OpenFailure::Kind::System : OpenFailure::Kind::Format,
                   in_context(ErrorContext::OpeningDatabase, error), system ? error.os_code() : 0};
    return out;
  }
  out.database = std::move(opened).value();
  return out;
}

// The identities of the files of a log folder (or of the one log file given): evidence
// that an output must not land on either.
void add_log_identities(const std::string& logs, std::vector<platform::FileIdentity>& out) {
  const std::filesystem::path root(std::u8string(logs.begin(), logs.end()));
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) {
    if (const auto id = platform::file_identity(logs)) out.push_back(*id);
    return;
  }
  for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::u8string name = it->path().u8string();
    if (const auto id = platform::file_identity(std::string(name.begin(), name.end()))) out.push_back(*id);
  }
}

Opened open_for_user(const std::string& path, std::string_view shown_path, const ReadWith& with) {
  Opened file = open_for_user(path, shown_path);
  if (!file || !with.logs) return file;
  return open_replayed(*file.database, *with.logs, with.options);
}

Opened open_replayed(const Database& base, const std::string& logs, const replay::ReplayOptions& options) {
  Opened out;
  if (logs.find('\0') != std::string::npos || !platform::path_exists(logs)) {
    out.failure = {OpenFailure::Kind::NotFound, "Log folder not found: " + logs, 0};
    return out;
  }
  Result<logs::LogFolder> folder = logs::LogFolder::open(logs);
  if (!folder) {
    const EseError& error = folder.error();
    const bool system = error.kind() == ErrorKind::Io;
    out.failure = {system ? OpenFailure::Kind::System : OpenFailure::Kind::Replay,
                   "Failed to read logs: " + error.to_string(), system ? error.os_code() : 0};
    return out;
  }
  Result<replay::ReplayOutcome> outcome = replay::replay_logs(base, *folder, options);
  if (!outcome) {
    out.failure = {OpenFailure::Kind::Replay, "Failed to replay logs: " + outcome.error().to_string(), 0};
    return out;
  }
  Result<std::unique_ptr<Database>> replayed = Database::over_pages(base, outcome->overlay, outcome->header);
  if (!replayed) {
    out.failure = {OpenFailure::Kind::Replay, "Failed to open the replayed database: " + replayed.error().to_string(),
                   0};
    return out;
  }
  out.database = std::move(replayed).value();
  out.replay = std::make_shared<const replay::ReplayReport>(std::move(outcome->report));
  return out;
}

}  // namespace quarrow::app
