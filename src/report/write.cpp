#include <utility>

#include "error/ese_error.h"
#include "export/sink.h"
#include "report/report.h"

namespace quarrow::report {

std::optional<std::string> write_report_file(const std::string& html, const std::string& output_path,
                                             const std::vector<platform::FileIdentity>& evidence) {
  const OutputSink::Refusal refusal = [&](const platform::FileIdentity& target) -> std::optional<std::string> {
    for (const platform::FileIdentity& id : evidence) {
      if (target == id) {
        return in_context(ErrorContext::CreatingOutputFile, "the output path is a database file itself: " + output_path);
      }
    }
    return std::nullopt;
  };
  std::string error;
  // One block: the page is written in one go once it is whole.
  auto sink = OutputSink::create(output_path, FlushPolicy{html.size() + 1}, error, refusal, NameCheck::First);
  if (!sink) return error;
  sink->buffer() = html;
  if (!sink->finish()) return sink->error();
  return std::nullopt;
}

}  // namespace quarrow::report
