// Opening a database for a user of either front end: the file is looked up first (a
// missing file is said so, by its path), then opened read-only; a failure carries the
// message both front ends show, "Database file not found: {path}" or "Failed to open
// database: {error}", and whether the operating system refused it (the module raises
// the matching OSError subclass then).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "database/database.h"

namespace quarrow::app {

struct OpenFailure {
  enum class Kind { NotFound, System, Format } kind = Kind::Format;
  std::string message;
  int os_code = 0;  // Kind::System: the operating system's error number
};

struct Opened {
  std::unique_ptr<Database> database;  // null on failure
  OpenFailure failure;
  explicit operator bool() const { return database != nullptr; }
};

// `shown_path` names the file in the not-found message (the path as the user gave it).
Opened open_for_user(const std::string& path, std::string_view shown_path);
inline Opened open_for_user(const std::string& path) { return open_for_user(path, path); }

}  // namespace quarrow::app
