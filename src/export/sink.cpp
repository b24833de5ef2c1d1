#include "export/sink.h"

#include <cerrno>
#include <utility>

#include "error/ese_error.h"

namespace quarrow {

OutputSink OutputSink::standard_output(FlushPolicy policy) { return OutputSink(policy, stdout, nullptr); }

std::optional<OutputSink> OutputSink::create(const std::string& path, FlushPolicy policy, std::string& error,
                                             const Refusal& refuse, NameCheck check) {
  if (refuse && check == NameCheck::First) {
    if (const auto target = platform::file_identity(path)) {
      if (auto message = refuse(*target)) {
        error = std::move(*message);
        return std::nullopt;
      }
    }
  }
  auto file = std::make_unique<platform::OutputFile>();
  const auto create_failure = [&](platform::ErrorCode err) {
    error = in_context(ErrorContext::CreatingOutputFile, os_error_text(err));
    return std::nullopt;
  };
  if (const auto err = file->open(path); err != 0) return create_failure(err);
  // Opened without truncating: what the name reaches now is checked before a byte of
  // it is lost.
  if (refuse) {
    platform::FileIdentity opened;
    if (const auto err = file->identity(opened); err != 0) return create_failure(err);
    if (auto message = refuse(opened)) {
      error = std::move(*message);
      return std::nullopt;
    }
  }
  if (const auto err = file->truncate(); err != 0) return create_failure(err);
  return OutputSink(policy, nullptr, std::move(file));
}

OutputSink::OutputSink(FlushPolicy policy, std::FILE* file, std::unique_ptr<platform::OutputFile> owned)
    : policy_(policy), file_(file), owned_(std::move(owned)) {
  if (policy_.block_bytes != 0) buffer_.reserve(policy_.block_bytes + (policy_.block_bytes >> 2));
}

OutputSink::OutputSink(OutputSink&& other) noexcept
    : policy_(other.policy_),
      file_(std::exchange(other.file_, nullptr)),
      owned_(std::move(other.owned_)),
      finished_(std::exchange(other.finished_, true)),
      buffer_(std::move(other.buffer_)),
      error_(std::move(other.error_)) {}

OutputSink::~OutputSink() {
  if (!finished_) finish();
}

bool OutputSink::fail(int os_code) {
  if (error_.empty()) error_ = "Write error: " + os_error_text(os_code != 0 ? os_code : EIO);
  buffer_.clear();
  return false;
}

bool OutputSink::write_buffer() {
  if (!error_.empty()) return false;
  if (buffer_.empty()) return true;
  if (owned_) {
    if (const auto err = owned_->write_all(buffer_.data(), buffer_.size()); err != 0) return fail(err);
  } else {
    errno = 0;
    const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    if (written != buffer_.size()) return fail(errno);
  }
  buffer_.clear();
  return true;
}

bool OutputSink::finish() {
  if (finished_) return error_.empty();
  finished_ = true;
  bool ok = write_buffer();
  if (owned_) {
    if (const auto err = owned_->close(); err != 0 && ok) ok = fail(err);
    owned_.reset();
  } else {
    errno = 0;
    if (std::fflush(file_) != 0 && ok) ok = fail(errno);
  }
  return ok && error_.empty();
}

}  // namespace quarrow
