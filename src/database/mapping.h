// The bytes a database is read from: a read-only memory mapping of a whole file, or
// a caller's buffer (fuzzers, tests). Either way the rest of the reader sees one
// contiguous, immutable byte range.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "error/ese_error.h"

namespace quarrow {

class Mapping {
 public:
  virtual ~Mapping() = default;
  virtual Bytes bytes() const = 0;
  // Drops the pages already read from this process's resident set. They stay in the
  // operating system's page cache and come back on the next access; nothing changes
  // for readers. Streaming passes call it so that memory stays flat on large files.
  virtual void release_resident_pages() const {}
};

// Opens `path` read-only, maps the whole file read-only and closes the file again.
// Nothing can be written through the mapping. A directory fails with the system's
// "is a directory" error.
Result<std::unique_ptr<Mapping>> map_file_read_only(const std::string& path);

// Wraps bytes already in memory (taken over by the mapping).
std::unique_ptr<Mapping> wrap_buffer(std::vector<std::uint8_t> bytes);

}  // namespace quarrow
