#include "export/sink.h"

#include <cerrno>
#include <utility>

#include "error/ese_error.h"

namespace quarrow {
namespace {

// The C library's stream says errno, or nothing: an unexplained failure is EIO.
EseError stream_error() { return platform::system_error(errno != 0 ? errno : EIO); }

}  // namespace

OutputSink OutputSink::standard_output(FlushPolicy policy) { return OutputSink(policy, stdout, nullptr); }

Result<OutputSink> OutputSink::create(const std::string& path, FlushPolicy policy, const Refusal& refuse,
                                      NameCheck check) {
  if (refuse && check == NameCheck::First) {
    if (const auto target = platform::file_identity(path)) {
      if (Status refused = refuse(*target); !refused) return std::move(refused).error();
    }
  }
  auto file = std::make_unique<platform::OutputFile>();
  if (Status st = file->open(path); !st) return std::move(st).error().in(ErrorContext::CreatingOutputFile);
  // Opened without truncating: what the name reaches now is checked before a byte of
  // it is lost.
  if (refuse) {
    Result<platform::FileIdentity> opened = file->identity();
    if (!opened) return std::move(opened).error().in(ErrorContext::CreatingOutputFile);
    if (Status refused = refuse(*opened); !refused) return std::move(refused).error();
  }
  if (Status st = file->truncate(); !st) return std::move(st).error().in(ErrorContext::CreatingOutputFile);
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
  // A destructor cannot report: a caller that wants the outcome calls finish() itself.
  if (!finished_) static_cast<void>(finish());
}

Status OutputSink::fail(const EseError& error) {
  if (!error_) error_ = EseError(error).in(ErrorContext::WritingOutput);
  buffer_.clear();
  return *error_;
}

Status OutputSink::write_buffer() {
  if (error_) return *error_;
  if (buffer_.empty()) return Status::success();
  if (owned_) {
    if (Status st = owned_->write_all(buffer_.data(), buffer_.size()); !st) return fail(st.error());
  } else {
    errno = 0;
    const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    if (written != buffer_.size()) return fail(stream_error());
  }
  buffer_.clear();
  return Status::success();
}

Status OutputSink::finish() {
  if (finished_) return error_ ? Status(*error_) : Status::success();
  finished_ = true;
  Status st = write_buffer();
  if (owned_) {
    if (Status closed = owned_->close(); !closed && st) st = fail(closed.error());
    owned_.reset();
  } else {
    errno = 0;
    if (std::fflush(file_) != 0 && st) st = fail(stream_error());
  }
  return st;
}

}  // namespace quarrow
