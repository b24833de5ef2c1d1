// The rows a database's logs insert, replace and delete, as timeline events, for both
// front ends: the changes the logs record (timeline/collect.h), each with the row it
// acts on and its values before or after, read from the logs replayed onto the
// database's file as row history reads them (row_images.h).
#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "log/log_folder.h"
#include "profiles/profile.h"
#include "timeline/collect.h"

namespace quarrow::app {

// The replay runs when the first change is shown, so that a timeline without row changes
// (another database's logs, a range or list of views that leaves them out) does none.
// `problems` gets what the change reader could not read and why no images came (a
// replay that failed); the events that could be made are made all the same.
Status timeline_row_changes(const Database& db, const logs::LogFolder& folder,
                            const std::vector<profiles::Profile>& profiles, const timeline::TimelineFilter& filter,
                            std::uint32_t input, timeline::InputNames& names, std::vector<std::string>& problems,
                            const timeline::EventSink& sink);

}  // namespace quarrow::app
