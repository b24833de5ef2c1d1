// Buffered output to a file or the standard output. The tool is not bound by the
// module's one-write-per-line rule: rows collect in memory and go to the C library in
// large blocks, which is most of the tool's speed over the module's export. Whoever
// reports an error first flushes, so no row produced before the error is lost.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace quarrow::cli {

class Output {
 public:
  // Writes to the standard output (never closed here).
  static Output standard_output();
  // Creates or truncates the file, in binary mode. On failure returns std::nullopt and
  // sets `error` to "Failed to create output file: {os error}".
  static std::optional<Output> create(const std::string& path, std::string& error);

  Output(Output&& other) noexcept;
  Output& operator=(Output&&) = delete;
  Output(const Output&) = delete;
  ~Output();

  // The buffer rows are appended to; call commit() after each row.
  std::string& buffer() { return buffer_; }
  // Hands the buffer to the C library once it is large. Returns false after a write
  // error (see error()).
  bool commit() { return buffer_.size() < kBlockSize || write_buffer(); }
  // Writes everything and flushes the C library's buffer; closes files. Returns false
  // after a write error.
  bool finish();
  // "Write error: {os error}" after a failure.
  const std::string& error() const { return error_; }

 private:
  static constexpr std::size_t kBlockSize = 1u << 20;

  Output(std::FILE* file, bool owned);
  bool write_buffer();
  bool fail(int os_code);

  std::FILE* file_;
  bool owned_;
  std::string buffer_;
  std::string error_;
};

}  // namespace quarrow::cli
