// The system calls behind the platform interface, as each system's file implements
// them: they return the system's own error code, 0 for success. system_calls.cpp turns
// the codes into the core's Status at the interface; nothing outside src/platform
// includes this header.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quarrow::platform {

// Returned by map_file_code when the file is larger than the address space.
constexpr ErrorCode kFileTooLargeToMap = -1;

ErrorCode invalid_name_code();
ErrorCode map_file_code(const std::string& path, ReadOnlyMapping& out);
ErrorCode create_directories_code(const std::string& dir);

}  // namespace quarrow::platform
