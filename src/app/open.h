// Opening a database for a user of either front end: the file is looked up first (a
// missing file is said so, by its path), then opened read-only. A failure is
// DatabaseNotFound ("Database file not found: {path}"), or the error of opening in the
// context OpeningDatabase ("Failed to open database: {error}"); an Io error there
// means the operating system refused the file (the module raises the matching OSError
// subclass then).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "database/database.h"
#include "error/ese_error.h"

namespace quarrow::app {

// `shown_path` names the file in the not-found message (the path as the user gave it).
Result<std::unique_ptr<Database>> open_for_user(const std::string& path, std::string_view shown_path);
inline Result<std::unique_ptr<Database>> open_for_user(const std::string& path) { return open_for_user(path, path); }

}  // namespace quarrow::app
