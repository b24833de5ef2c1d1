// The slack of a page: the bytes that neither the page header, the tag array at the
// page end nor any tag's value covers. Deleted records and replaced values often
// survive there until the engine reuses the space, which makes it the first place
// forensic readers (carving, recovery) look.
#pragma once

#include <cstdint>
#include <vector>

#include "page/tag.h"

namespace quarrow {

// A half-open byte range [start, end) of a page.
struct ByteRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  bool operator==(const ByteRange&) const = default;
};

// The slack of a page, ascending: every byte outside the page header, the tag array
// and the value of every readable, non-empty tag (holes between values included).
std::vector<ByteRange> slack_regions(const PageView& page);

}  // namespace quarrow
