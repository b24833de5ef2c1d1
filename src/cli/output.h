// The tool's output: the shared sink (export/sink.h) with the tool's flush policy.
// Rows collect in memory and go to the operating system in blocks of 1 MiB (the
// module's export uses blocks of 256 KiB); large blocks are much of the tool's speed.
// Whoever reports an error first finishes the output, so no row produced before the
// error is lost.
#pragma once

#include <string>
#include <utility>

#include "export/sink.h"

namespace quarrow::cli {

inline constexpr FlushPolicy kToolFlush{std::size_t{1} << 20};

class Output : public OutputSink {
 public:
  // The standard output (never closed here).
  static Output standard_output() { return Output(OutputSink::standard_output(kToolFlush)); }
  // A file, created as OutputSink::create says; the refusal looks at the opened file.
  static Result<Output> create(const std::string& path, const Refusal& refuse = {}) {
    auto sink = OutputSink::create(path, kToolFlush, refuse);
    if (!sink) return std::move(sink).error();
    return Output(std::move(sink).value());
  }

 private:
  explicit Output(OutputSink&& sink) : OutputSink(std::move(sink)) {}
};

}  // namespace quarrow::cli
