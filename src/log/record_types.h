// Record types: their names, and the length of a record, which follows from its type
// and, for the variable records, from length words in its fixed part.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/bytes.h"

namespace quarrow::logs {

// The engine's name without its "lrtyp" prefix ("Insert", "Split2"); nullptr for a
// code no engine of this format writes.
const char* record_type_name(std::uint8_t type);

// Records of the "ignorable" family (u8 type, u32 n, n bytes).
bool is_ignorable_type(std::uint8_t type);

// Page-level records start with the 32-byte page part; node records add the 12-byte
// node part after it.
bool is_page_record(std::uint8_t type);
bool is_node_record(std::uint8_t type);

struct RecordSize {
  enum class Status : std::uint8_t { Ok, Truncated, Unknown };
  Status status = Status::Unknown;
  std::uint64_t size = 0;
};

// The length of the record starting at rest[0]. Truncated: the bytes end before the
// length words (or before the fixed part); Unknown: a type that cannot be sized.
// The size may exceed rest.size(): the caller judges that.
RecordSize record_size(Bytes rest);

}  // namespace quarrow::logs
