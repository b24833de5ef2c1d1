// Tree entries: the values that the tags of a B+ tree page locate.
//
// Layout: [common key size, u16, only with tag flag 0x4] [local key size, u16, low 15
// bits] [local key bytes] [leaf: entry data | branch: u32 child page, then ignored].
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/bytes.h"
#include "error/ese_error.h"

namespace quarrow {


// A leaf entry as views into the tag's bytes; LeafEntry owns copies of the same.
struct LeafEntryView {
  std::optional<std::uint16_t> common_key_size;
  std::uint16_t local_key_size = 0;
  Bytes key;
  Bytes data;
};

struct LeafEntry {
  std::optional<std::uint16_t> common_key_size;
  std::uint16_t local_key_size = 0;
  std::string key;
  std::string data;
};

struct BranchEntry {
  std::optional<std::uint16_t> common_key_size;
  std::uint16_t local_key_size = 0;
  std::string key;
  std::uint32_t child_page = 0;
};

// Decodes without copying; the hot paths (table reading, long values) use this.
Result<LeafEntryView> parse_leaf_entry_view(std::uint8_t tag_flags, Bytes value);
Result<LeafEntry> parse_leaf_entry(std::uint8_t tag_flags, Bytes value);
// A child page number is plausible from 1 to `last_page`, the database's last page
// (Database::total_pages): a branch entry naming 0 or a page past the end of the file
// is damage. Page numbers are 32-bit, so every file size gets its own bound.
Result<BranchEntry> parse_branch_entry(std::uint8_t tag_flags, Bytes value, std::uint32_t last_page);
// The child page of a branch entry, with the same checks and errors.
Result<std::uint32_t> parse_branch_child(std::uint8_t tag_flags, Bytes value, std::uint32_t last_page);

}  // namespace quarrow
