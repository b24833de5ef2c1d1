#include "cli/output.h"

#include <cerrno>
#include <utility>

#include "error/ese_error.h"

namespace quarrow::cli {

Output Output::standard_output() { return Output(stdout, false); }

std::optional<Output> Output::create(const std::string& path, std::string& error) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "Failed to create output file: " + os_error_text(errno != 0 ? errno : EIO);
    return std::nullopt;
  }
  // Our own buffer already gathers large blocks.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return Output(file, true);
}

Output::Output(std::FILE* file, bool owned) : file_(file), owned_(owned) {
  buffer_.reserve(kBlockSize + (kBlockSize >> 2));
}

Output::Output(Output&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      owned_(other.owned_),
      buffer_(std::move(other.buffer_)),
      error_(std::move(other.error_)) {}

Output::~Output() {
  if (file_ != nullptr) finish();
}

bool Output::fail(int os_code) {
  if (error_.empty()) error_ = "Write error: " + os_error_text(os_code != 0 ? os_code : EIO);
  buffer_.clear();
  return false;
}

bool Output::write_buffer() {
  if (!error_.empty()) return false;
  if (buffer_.empty()) return true;
  errno = 0;
  const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  if (written != buffer_.size()) return fail(errno);
  buffer_.clear();
  return true;
}

bool Output::finish() {
  if (file_ == nullptr) return error_.empty();
  bool ok = write_buffer();
  errno = 0;
  if (std::fflush(file_) != 0 && ok) ok = fail(errno);
  if (owned_) {
    errno = 0;
    if (std::fclose(file_) != 0 && ok) ok = fail(errno);
  }
  file_ = nullptr;
  return ok && error_.empty();
}

}  // namespace quarrow::cli
