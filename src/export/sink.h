// Where rendered rows go, for both front ends: a file of our own or the standard
// output. Both create a file the same way (the name looked at, the opened file looked
// at again, only then truncated) and run the same loop (render a row, write it, drop
// the pages read so far from the resident set as the output grows). They differ in
// when the bytes reach the operating system, which each names with its FlushPolicy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "database/database.h"
#include "error/ese_error.h"
#include "platform/platform.h"
#include "record/reader.h"

namespace quarrow {

// When rows reach the operating system: whole rows collect in memory until they hold
// `block_bytes` (0: every row goes out as soon as it is committed), then go out in one
// write; finish() and flush() write the rest. A write per row costs more than
// rendering it, so both front ends gather blocks. Whoever reports an error first
// writes what was gathered, so no row before it is lost.
struct FlushPolicy {
  std::size_t block_bytes = 0;
};

// Whether the name is looked at before the file is opened, besides the opened file
// before it is truncated. By name first, a refusal does not depend on whether the
// file it reaches could be opened for writing (an input database is often read-only,
// and opening it would fail with a less telling error).
enum class NameCheck { First, OpenedFileOnly };

class OutputSink {
 public:
  // The standard output (never closed here).
  static OutputSink standard_output(FlushPolicy policy);
  // Creates or truncates the file; bytes are written unchanged (no line-ending
  // translation). Fails with the refusal's own error, or the system's error in the
  // context CreatingOutputFile. `refuse` looks at the file the name reaches and may
  // fail to keep it as it is (an input database reached by the output's name): a name
  // switched to an input between the checks changes nothing, since the file is only
  // cut once the opened file passed.
  using Refusal = std::function<Status(const platform::FileIdentity&)>;
  static Result<OutputSink> create(const std::string& path, FlushPolicy policy, const Refusal& refuse = {},
                                   NameCheck check = NameCheck::OpenedFileOnly);

  OutputSink(OutputSink&& other) noexcept;
  OutputSink& operator=(OutputSink&&) = delete;
  OutputSink(const OutputSink&) = delete;
  ~OutputSink();

  // The buffer rows are appended to; call commit() after each row.
  std::string& buffer() { return buffer_; }
  // Hands the buffer on as the policy says. Fails after a write error, with the
  // system's error in the context WritingOutput ("Write error: ..."), and keeps
  // failing so.
  Status commit() {
    if (buffer_.size() < policy_.block_bytes) return Status::success();
    return write_buffer();
  }
  // Writes the rows gathered so far, without closing.
  Status flush() { return write_buffer(); }
  // Writes everything and flushes the C library's buffer; closes files.
  Status finish();

 private:
  OutputSink(FlushPolicy policy, std::FILE* file, std::unique_ptr<platform::OutputFile> owned);
  Status write_buffer();
  Status fail(const EseError& error);

  FlushPolicy policy_;
  std::FILE* file_;                              // the standard output, or null
  std::unique_ptr<platform::OutputFile> owned_;  // a file of our own, or null
  bool finished_ = false;
  std::string buffer_;
  std::optional<EseError> error_;  // the first write error
};

// What pump_rows did: rows and bytes written (the bytes the buffer held before the
// first row included), and how it ended.
struct PumpResult {
  enum class End { Done, Limit, ReadError, WriteError };
  End end = End::Done;
  std::uint64_t rows = 0;
  std::uint64_t bytes = 0;
};

enum class RowStep { Row, End, Error };

// A table reader's step as the loop's.
constexpr RowStep row_step(TableRecordReader::Step step) {
  return step == TableRecordReader::Step::Record  ? RowStep::Row
         : step == TableRecordReader::Step::Error ? RowStep::Error
                                                  : RowStep::End;
}

// The loop of a table's output: `render(buffer)` appends one row and says Row, or
// appends nothing and says End or Error. Each row is committed; the database's pages
// already read are released after every kPageReleaseInterval bytes of output, so
// that the resident set does not grow with the table (they are seldom needed again);
// `after_row()` runs after each row that was written. Stops after `limit` rows when
// given. The sink is not finished here: the caller decides which failure it reports.
template <class Render, class AfterRow>
PumpResult pump_rows(const Database& db, OutputSink& sink, std::optional<std::uint64_t> limit, Render&& render,
                     AfterRow&& after_row) {
  PumpResult result;
  result.bytes = sink.buffer().size();
  std::uint64_t since_release = 0;
  for (;;) {
    if (limit && result.rows >= *limit) {
      result.end = PumpResult::End::Limit;
      return result;
    }
    std::string& buffer = sink.buffer();
    const std::size_t before = buffer.size();
    const RowStep step = render(buffer);
    if (step == RowStep::End) return result;
    if (step == RowStep::Error) {
      result.end = PumpResult::End::ReadError;
      return result;
    }
    ++result.rows;
    const std::size_t added = buffer.size() - before;
    result.bytes += added;
    since_release += added;
    if (!sink.commit().ok()) {
      result.end = PumpResult::End::WriteError;
      return result;
    }
    if (since_release >= kPageReleaseInterval) {
      db.release_resident_pages();
      since_release = 0;
    }
    after_row();
  }
}

}  // namespace quarrow
