#include "app/timeline_logs.h"

#include <optional>

#include "app/row_images.h"

namespace quarrow::app {

Status timeline_row_changes(const Database& db, const logs::LogFolder& folder,
                            const std::vector<profiles::Profile>& profiles, const timeline::TimelineFilter& filter,
                            std::uint32_t input, timeline::InputNames& names, std::vector<std::string>& problems,
                            const timeline::EventSink& sink) {
  std::optional<ChangeImages> images;
  const timeline::ChangeAttacher attach = [&](logs::RowChange& c) {
    if (!images) images.emplace(db, folder);
    images->attach(c);
  };
  Status s = timeline::row_change_events(db, folder, attach, profiles, filter, input, names, problems, sink);
  if (images && !images->problem().empty()) problems.push_back(images->problem());
  return s;
}

}  // namespace quarrow::app
