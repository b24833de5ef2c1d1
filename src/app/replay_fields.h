// The replay report as named fields, in one order for both front ends: the module's
// replay_report() dict and the tool's info output (text and JSON) show the same names.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "replay/replay.h"

namespace quarrow::app {

// The report's counts, in the order shown ("records_applied", ...).
std::vector<std::pair<const char*, std::uint64_t>> replay_counts(const replay::ReplayReport& report);

// How many records of each type the replay read, by the engine's type name ("Insert"),
// types that occurred only, in type order. An unnamed type is "type N".
std::vector<std::pair<std::string, std::uint64_t>> replay_record_types(const replay::ReplayReport& report);

}  // namespace quarrow::app
