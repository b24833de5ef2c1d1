// The platform interface's failures as the core's Status, on every system: each
// system's file gives its error code, and this is the one place it becomes an EseError.
#include "platform/platform.h"
#include "platform/system_codes.h"

namespace quarrow::platform {
namespace {

Status status_of(ErrorCode code) {
  if (code == 0) return Status::success();
  return system_error(code);
}

}  // namespace

EseError system_error(ErrorCode code) { return EseError::io(code, error_description(code)); }

EseError invalid_name_error() { return system_error(invalid_name_code()); }

Status map_file_read_only(const std::string& path, ReadOnlyMapping& out) {
  const ErrorCode code = map_file_code(path, out);
  if (code == kFileTooLargeToMap) return EseError::io_fixed("memory map length overflows isize");
  return status_of(code);
}

Status create_directories(const std::string& dir) { return status_of(create_directories_code(dir)); }

Status OutputFile::open(const std::string& path) { return status_of(open_code(path)); }

Result<FileIdentity> OutputFile::identity() const {
  FileIdentity out;
  if (const ErrorCode code = identity_code(out); code != 0) return system_error(code);
  return out;
}

Status OutputFile::truncate() { return status_of(truncate_code()); }

Status OutputFile::write_all(const char* data, std::size_t size) { return status_of(write_all_code(data, size)); }

Status OutputFile::close() { return status_of(close_code()); }

Status TemporaryFile::create(const std::string& dir) { return status_of(create_code(dir)); }

Status TemporaryFile::write_all(const char* data, std::size_t size) { return status_of(write_all_code(data, size)); }

Status TemporaryFile::read_at(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const {
  return status_of(read_at_code(offset, data, size, got));
}

}  // namespace quarrow::platform
