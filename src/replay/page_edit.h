// Editing one page image the way the engine's page code does, so that a replayed page
// is the page the engine would have written: where each node's bytes land (insert at
// the first free byte, replace in place or moved to the end, delete leaving the bytes
// behind, reorganise when the contiguous room runs out) decides every later offset.
//
// Pages up to 8 KiB have the 40-byte header and 13-bit tag fields with the node flags in
// the top bits of the offset word; larger pages (16 and 32 KiB) the 80-byte header and
// 15-bit tag fields, their node flags kept in the top bits of the node's first word
// (tag 0, the external header, has none). Every edit checks its bounds first and fails
// with an error instead of writing outside the page or the tag array.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "error/ese_error.h"
#include "format/bytes.h"
#include "format/page.h"

namespace quarrow::replay {

struct TagEntry {
  std::uint16_t size = 0;
  std::uint16_t offset = 0;  // from the end of the header
  std::uint8_t flags = 0;
};

// A node decoded: its stored prefix length, the full key, the data and its flags.
struct NodeImage {
  std::uint16_t prefix_length = 0;
  std::string key;  // page prefix [0, prefix_length) followed by the suffix
  std::string data;
  std::uint8_t flags = 0;
};

class PageEditor {
 public:
  explicit PageEditor(std::span<std::uint8_t> page);

  std::uint64_t dbtime() const;
  void set_dbtime(std::uint64_t t);
  std::uint32_t flags() const;
  void set_flags(std::uint32_t f);
  std::uint32_t previous() const;
  std::uint32_t next() const;
  void set_previous(std::uint32_t page);
  void set_next(std::uint32_t page);
  void set_uncommitted_free(std::uint16_t v);

  std::uint16_t tag_count() const;
  std::uint16_t reserved_tags() const;
  // The number of nodes (tags after the reserved ones).
  std::uint16_t nodes() const { return tag_count() > reserved_tags() ? tag_count() - reserved_tags() : 0; }
  Result<TagEntry> tag(std::uint16_t t) const;
  // The bytes of tag t, bounds-checked.
  Result<Bytes> tag_bytes(std::uint16_t t) const;

  // The page's key prefix (tag 0 of non-root pages; none on a data tree's root; after
  // the split buffer on a space tree's root).
  Result<std::string> prefix() const;
  Result<Bytes> prefix_bytes() const;
  // Node iline (tag iline + reserved).
  Result<NodeImage> node(std::uint16_t iline) const;
  Status set_node_flags(std::uint16_t iline, std::uint8_t flags);

  // The four primitives.
  Status insert_tag(std::uint16_t t, Bytes bytes, std::uint8_t flags);
  Status replace_tag(std::uint16_t t, Bytes bytes, std::uint8_t flags);
  Status delete_tag(std::uint16_t t);
  void reorganise();

  // Node operations by iline.
  Status insert_node(std::uint16_t iline, const NodeImage& n);
  Status replace_node(std::uint16_t iline, const NodeImage& n);
  Status delete_node(std::uint16_t iline) { return delete_tag(static_cast<std::uint16_t>(iline + reserved_tags())); }

  // A zeroed page as a new page of a tree (one empty external header tag).
  void initialise(std::uint64_t dbtime, std::uint32_t objid, std::uint32_t flags);
  // A zeroed page prepared for a tree that has not used it yet: no tags at all.
  void pre_initialise(std::uint64_t dbtime, std::uint32_t objid, std::uint32_t flags);

  std::uint32_t data_size() const;
  std::uint32_t contiguous_free() const;
  bool large() const { return large_; }

 private:
  std::uint16_t word(std::size_t at) const;
  void set_word(std::size_t at, std::uint16_t v);
  void set_tag(std::uint16_t t, const TagEntry& e);
  void set_tag_count(std::uint16_t n);
  std::uint16_t free_bytes() const;
  void set_free_bytes(std::uint16_t v);
  std::uint16_t first_free() const;
  void set_first_free(std::uint16_t v);
  // Every tag's bytes inside the data area: what a reorganisation moves must be.
  Status check_tags() const;
  // Large pages: the node flags in the first word of tag t's bytes.
  void store_value_flags(std::uint16_t t, const TagEntry& e, std::uint8_t flags);

  std::span<std::uint8_t> p_;
  bool large_ = false;
  std::uint32_t header_ = kPageHeaderSize;
  std::uint16_t field_mask_ = kTagFieldMask;
};

// Encodes a node's stored bytes for the given prefix length (<= key length).
std::string encode_node(const NodeImage& n);
// A branch node's data: the child page number, little-endian (as load_u32le reads it).
std::string page_pointer_data(std::uint32_t page);
// The length of the common start of two byte strings.
std::size_t common_length(const std::string& a, const std::string& b);
// The prefix length a key gets against a page prefix: the common part when it is
// longer than the prefix overhead, else 0.
std::uint16_t prefix_length_for(const std::string& key, const std::string& prefix);

EseError page_error(std::uint32_t page, const std::string& what);
// An error's text without the kind's prefix when it is a parse error (so that errors
// wrapped with their page and position read as one sentence).
std::string error_detail(const EseError& e);

}  // namespace quarrow::replay
