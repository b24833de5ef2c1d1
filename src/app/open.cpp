#include "app/open.h"

#include "platform/platform.h"

namespace quarrow::app {

Result<std::unique_ptr<Database>> open_for_user(const std::string& path, std::string_view shown_path) {
  // A NUL is no name the operating system can look up: such a file is not there.
  if (path.find('\0') != std::string::npos || !platform::path_exists(path)) {
    return EseError::database_not_found(std::string(shown_path));
  }
  auto opened = Database::open(path);
  if (!opened) return std::move(opened).error().in(ErrorContext::OpeningDatabase);
  return opened;
}

}  // namespace quarrow::app
