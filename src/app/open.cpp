#include "app/open.h"

#include "error/ese_error.h"
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

}  // namespace quarrow::app
