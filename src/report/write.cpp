#include <utility>

#include "error/ese_error.h"
#include "export/sink.h"
#include "report/report.h"

namespace quarrow::report {

Status write_report_file(const std::string& html, const std::string& output_path,
                         const std::vector<platform::FileIdentity>& evidence) {
  const OutputSink::Refusal refusal = [&](const platform::FileIdentity& target) -> Status {
    for (const platform::FileIdentity& id : evidence) {
      if (target == id) {
        return EseError::refused("the output path is a database file itself: " + output_path)
            .in(ErrorContext::CreatingOutputFile);
      }
    }
    return Status::success();
  };
  // One block: the page is written in one go once it is whole.
  auto sink = OutputSink::create(output_path, FlushPolicy{html.size() + 1}, refusal, NameCheck::First);
  if (!sink) return std::move(sink).error();
  sink->buffer() = html;
  return sink->finish();
}

}  // namespace quarrow::report
