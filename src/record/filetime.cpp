#include "record/filetime.h"

#include "format/datetime.h"

namespace quarrow {

bool filetime_to_microseconds(std::uint64_t filetime, std::int64_t& out) {
  if (filetime > kFiletimeMax) return false;
  // Unsigned: every FILETIME is at or after 1601, so the division floors.
  out = static_cast<std::int64_t>(filetime / kFiletimeTicksPerMicrosecond) - kFiletimeEpochTo1970Microseconds;
  return true;
}

}  // namespace quarrow
