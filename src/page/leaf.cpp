#include "page/leaf.h"

#include <algorithm>

#include "page/tag.h"

namespace quarrow {
namespace {

std::string flags_hex(std::uint8_t flags) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  if (flags >= 16) out.push_back(digits[flags >> 4]);
  out.push_back(digits[flags & 0xF]);
  return out;
}

struct KeyedPrefix {
  std::optional<std::uint16_t> common_key_size;
  std::uint16_t stored_local_size = 0;  // masked with kKeySizeMask
  std::size_t after_size_word = 0;
};

// Reads the key-size words; the caller has checked the value's minimum length.
KeyedPrefix read_prefix(std::uint8_t tag_flags, Bytes value) {
  KeyedPrefix p;
  std::size_t at = 0;
  if (tag_flags & kTagCommonKey) {
    p.common_key_size = load_u16le(value, 0);
    at = kKeySizeWordSize;
  }
  p.stored_local_size = load_u16le(value, at) & kKeySizeMask;
  p.after_size_word = at + kKeySizeWordSize;
  return p;
}

struct BranchParts {
  KeyedPrefix prefix;
  Bytes key;
  std::uint32_t child = 0;
};

Result<BranchParts> split_branch(std::uint8_t tag_flags, Bytes value, std::uint32_t last_page) {
  const std::size_t n = value.size();
  const std::size_t minimum = entry_key_sizes_size(tag_flags & kTagCommonKey) + kChildPageNumberSize;
  if (n < minimum) {
    return EseError::parse("Branch entry too short: got " + std::to_string(n) + " bytes, need at least " +
                           std::to_string(minimum) + " (flags: 0x" + flags_hex(tag_flags) + ")");
  }
  BranchParts parts;
  parts.prefix = read_prefix(tag_flags, value);
  std::size_t p = parts.prefix.after_size_word;
  if (parts.prefix.stored_local_size != 0) {
    const std::size_t take = std::min<std::size_t>(parts.prefix.stored_local_size, n - p);
    parts.key = value.subspan(p, take);
    p += take;
  }
  if (n - p < kChildPageNumberSize) {
    return EseError::parse("Branch entry too short for child page number: got " + std::to_string(n) +
                           " bytes, offset " + std::to_string(p) + ", need 4 more (likely metadata tag)");
  }
  parts.child = load_u32le(value, p);
  if (parts.child == 0 || parts.child > last_page) {
    return EseError::parse("Branch entry has invalid child page number: " + std::to_string(parts.child) +
                           " (likely corrupted data)");
  }
  return parts;
}

}  // namespace

Result<LeafEntryView> parse_leaf_entry_view(std::uint8_t tag_flags, Bytes value) {
  const std::size_t n = value.size();
  const std::size_t prefix = entry_key_sizes_size(tag_flags & kTagCommonKey);
  if (n < prefix) {
    return EseError::parse("Leaf entry too short: got " + std::to_string(n) + " bytes, need at least " +
                           std::to_string(prefix) + " (flags: 0x" + flags_hex(tag_flags) + ")");
  }
  const KeyedPrefix kp = read_prefix(tag_flags, value);
  const std::size_t p = kp.after_size_word;
  LeafEntryView entry;
  entry.common_key_size = kp.common_key_size;
  if (kp.stored_local_size == 0) {
    entry.data = value.subspan(p);
  } else if (n == p) {
    // A key size with no bytes behind it: nothing to take.
  } else {
    const std::size_t take = std::min<std::size_t>(kp.stored_local_size, n - p);
    entry.key = value.subspan(p, take);
    entry.data = value.subspan(p + take);
    entry.local_key_size = static_cast<std::uint16_t>(take);
  }
  return entry;
}

Result<LeafEntry> parse_leaf_entry(std::uint8_t tag_flags, Bytes value) {
  Result<LeafEntryView> view = parse_leaf_entry_view(tag_flags, value);
  if (!view) return std::move(view).error();
  LeafEntry entry;
  entry.common_key_size = view->common_key_size;
  entry.local_key_size = view->local_key_size;
  entry.key = to_string(view->key);
  entry.data = to_string(view->data);
  return entry;
}

Result<BranchEntry> parse_branch_entry(std::uint8_t tag_flags, Bytes value, std::uint32_t last_page) {
  Result<BranchParts> parts = split_branch(tag_flags, value, last_page);
  if (!parts) return std::move(parts).error();
  BranchEntry entry;
  entry.common_key_size = parts->prefix.common_key_size;
  entry.local_key_size = parts->prefix.stored_local_size;
  entry.key = to_string(parts->key);
  entry.child_page = parts->child;
  return entry;
}

Result<std::uint32_t> parse_branch_child(std::uint8_t tag_flags, Bytes value, std::uint32_t last_page) {
  Result<BranchParts> parts = split_branch(tag_flags, value, last_page);
  if (!parts) return std::move(parts).error();
  return parts->child;
}

}  // namespace quarrow
