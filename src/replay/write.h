// The replayed database as a file other readers open: both header copies as recovery
// leaves them, every page the replay wrote with its checksum recomputed, the pages it
// did not write as the file has them, and the pages the logs added past the file's end.
#pragma once

#include <functional>

#include "error/ese_error.h"
#include "replay/replay.h"

namespace quarrow::replay {

// Calls `write` with the file's bytes in order, a page at a time; `write` returns an
// error to stop.
Status write_replayed(const Database& db, const ReplayOutcome& outcome, const std::function<Status(Bytes)>& write);

// Prepares a replayed page for writing as the engine's buffer manager does: the new
// checksum form, a flush type when the page has none, and its checksum.
void seal_page(std::span<std::uint8_t> page, std::uint32_t page_number);

}  // namespace quarrow::replay
