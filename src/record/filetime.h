// FILETIME values outside DateTime columns: Long long columns and binary properties
// hold them too (SRUM connection times, Windows Search dates). The encodings and the
// rule that tells them apart in DateTime columns are in format/datetime.h and
// record/decoded.h (datetime_to_microseconds).
#pragma once

#include <cstdint>

namespace quarrow {

// FILETIME (100 ns ticks since 1601-01-01 UTC) to microseconds since 1970; false past
// 9999-12-31. 0 is a valid 1601-01-01 here: callers that read 0 as "not set" test
// for it themselves.
bool filetime_to_microseconds(std::uint64_t filetime, std::int64_t& out);

}  // namespace quarrow
