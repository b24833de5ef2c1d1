// Opening a database for a user of either front end: the file is looked up first (a
// missing file is said so, by its path), then opened read-only; a failure carries the
// message both front ends show, "Database file not found: {path}" or "Failed to open
// database: {error}", and whether the operating system refused it (the module raises
// the matching OSError subclass then).
//
// With a folder of transaction logs, the database is read as the replay of those logs
// leaves it (the file is still opened read-only and never written): every reader then
// reads the replayed pages and header, and the replay's report comes with it. A replay
// that cannot complete fails the open, "Failed to replay logs: {error}" naming the log
// position and page; a partial state is never handed out.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "platform/platform.h"
#include "replay/replay.h"

namespace quarrow::app {

struct OpenFailure {
  // Replay: the logs could not be replayed onto the database (the message says where).
  enum class Kind { NotFound, System, Format, Replay } kind = Kind::Format;
  std::string message;
  int os_code = 0;  // Kind::System: the operating system's error number
};

struct Opened {
  std::unique_ptr<Database> database;  // null on failure
  OpenFailure failure;
  // Opened with logs: what the replay did (null without logs).
  std::shared_ptr<const replay::ReplayReport> replay;
  explicit operator bool() const { return database != nullptr; }
};

// `shown_path` names the file in the not-found message (the path as the user gave it).
Opened open_for_user(const std::string& path, std::string_view shown_path);
inline Opened open_for_user(const std::string& path) { return open_for_user(path, path); }

// What to read the database with: nothing (the file as it is), or a folder (or one file)
// of transaction logs to replay onto it.
struct ReadWith {
  std::optional<std::string> logs;
  replay::ReplayOptions options;
};

// open_for_user, then the replay when `with.logs` is set. A missing log folder is
// "Log folder not found: {path}" (Kind::NotFound).
Opened open_for_user(const std::string& path, std::string_view shown_path, const ReadWith& with);

// Adds the identities of the files of a log folder (or of the one log file given):
// evidence that no output may land on, by whatever name it is reached.
void add_log_identities(const std::string& logs, std::vector<platform::FileIdentity>& out);

// Replays the logs in `logs` onto an opened database and returns the database as the
// replay leaves it (sharing `base`'s file mapping), with the report.
Opened open_replayed(const Database& base, const std::string& logs, const replay::ReplayOptions& options);

}  // namespace quarrow::app
