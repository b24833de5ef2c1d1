// Records of a table that are no longer live but can still be read.
//
// Two sources:
//   - "flagged_deleted": leaf entries whose node carries the deleted flag (0x2). The
//     engine marks a record deleted first and removes the node later; until then the
//     record is whole. (Table reading returns these nodes like any other.)
//   - "free_space": record images in the space of the table's leaf pages that no tag
//     covers. Removing a node takes its tag out and adds its size to the free count,
//     but leaves its bytes where they were until the page is reorganised. Such images
//     are found by scanning for byte ranges that decode as a plausible record of the
//     table (see recover.cpp for the checks), never overlapping a live value.
// Many such records are only older copies of rows that are still live (an update
// rewrites a record and leaves the old image behind). Each record says how it stands
// against the live rows with the same primary key.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "format/bytes.h"
#include "error/ese_error.h"
#include "record/value.h"

namespace quarrow {

class Database;
struct TableInfo;

inline constexpr const char* kSourceFlaggedDeleted = "flagged_deleted";
inline constexpr const char* kSourceFreeSpace = "free_space";
// A live row has the same primary key and the same values.
inline constexpr const char* kLiveIdentical = "identical";
// A live row has the same primary key and other values.
inline constexpr const char* kLiveOlderVersion = "older_version";

struct RecoveredRecord {
  std::uint32_t page = 0;
  std::uint32_t offset = 0;  // of the record's first byte in the page
  const char* source = kSourceFreeSpace;
  // kLiveIdentical, kLiveOlderVersion, or nullptr: no live row has this primary key,
  // or the table has no primary index.
  const char* live = nullptr;
  Record record;  // as table reading decodes it, long values resolved
  // The record's stored bytes, where they lie in the page (a view into the database,
  // valid while it is open): for decoding the record as typed values.
  Bytes image;
  // Columns whose long value can no longer be found (their value is Null), in column
  // order. The names point into the catalog.
  std::vector<std::string_view> missing_long_values;
};

// Why a free-space candidate was not taken.
enum class Rejection : std::uint8_t {
  FixedPart,        // the variable part does not start where the fixed columns end
  VariableOffsets,  // end offsets decrease or run past the space available
  TaggedDirectory,  // ids not ascending or unknown, offsets decreasing or outside
  WorkLimit,        // the page's scanning budget ran out (hostile pages only)
  kCount,
};
const char* rejection_name(Rejection reason);

// What a recovery run looked at, for reports and tests.
struct RecoveryCounts {
  std::uint64_t pages_scanned = 0;
  std::uint64_t flagged_deleted = 0;
  std::uint64_t free_bytes_scanned = 0;
  std::uint64_t fill_bytes_skipped = 0;  // zero or scrub-byte runs passed over
  // A candidate is an offset whose first two bytes name a last fixed and a last
  // variable column the table has: everything after that is a check on the shape.
  std::uint64_t candidates = 0;
  std::uint64_t accepted = 0;
  std::uint64_t rejected[static_cast<std::size_t>(Rejection::kCount)] = {};
};

// Recovers the table's records from its own leaf pages (the tree's leaves in key order,
// see TreeLeafWalk), in page order and, within a page, flagged nodes first then free
// space by offset, and compares each with the live rows. Fails with TableNotFound for
// an unknown name; damaged pages and links only narrow the result.
Result<std::vector<RecoveredRecord>> recover_records(const Database& db, std::string_view table_name,
                                                     RecoveryCounts* counts = nullptr);

}  // namespace quarrow
