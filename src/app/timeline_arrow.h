// Timeline events as Arrow record batches through the C stream interface: the members
// of app/timeline_fields.h as columns (datetime a timestamp[us, UTC], timestamp int64,
// row uint64, the others utf8) and the row's values as one JSON text column,
// "attributes", since they differ from view to view.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "export/arrow_c.h"
#include "timeline/collect.h"
#include "timeline/event_sort.h"

namespace quarrow::app {

// Sorted events ready to be handed out, and the names their numbers refer to.
struct TimelineEvents {
  std::vector<timeline::InputNames> names;
  std::unique_ptr<timeline::EventMerger> merger;
};

void timeline_arrow_schema(ArrowSchema* out);

// A stream over the events, which it takes over; batches of at most `batch_rows` events.
void timeline_arrow_stream(std::unique_ptr<TimelineEvents> events, std::int64_t batch_rows, ArrowArrayStream* out);

}  // namespace quarrow::app
