#include "replay/page_edit.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "format/log.h"
#include "format/page.h"
#include "format/redo.h"

namespace quarrow::replay {

using namespace redo;

EseError page_error(std::uint32_t page, const std::string& what) {
  return EseError::parse("page " + std::to_string(page) + ": " + what);
}

std::string error_detail(const EseError& e) { return e.kind() == ErrorKind::Parse ? e.text() : e.to_string(); }

namespace {

void store_u16(std::span<std::uint8_t> p, std::size_t at, std::uint16_t v) { store_u16le(p, at, v); }
void store_u32(std::span<std::uint8_t> p, std::size_t at, std::uint32_t v) { store_u32le(p, at, v); }

EseError no_room() { return EseError::parse("the node does not fit in the page"); }

}  // namespace

PageEditor::PageEditor(std::span<std::uint8_t> page)
    : p_(page),
      large_(is_large_page(page.size())),
      header_(large_ ? kExtendedPageHeaderSize : kPageHeaderSize),
      field_mask_(large_ ? kTagFieldMaskLarge : kTagFieldMask) {}

std::uint16_t PageEditor::word(std::size_t at) const { return load_u16le(p_, at); }
void PageEditor::set_word(std::size_t at, std::uint16_t v) { store_u16(p_, at, v); }

std::uint64_t PageEditor::dbtime() const { return load_u64le(p_, logfmt::kDbPageDbtime); }
void PageEditor::set_dbtime(std::uint64_t t) {
  store_u64le(p_, logfmt::kDbPageDbtime, t);
}
std::uint32_t PageEditor::flags() const { return load_u32le(p_, kPageFlagsOffset); }
void PageEditor::set_flags(std::uint32_t f) { store_u32(p_, kPageFlagsOffset, f); }
std::uint32_t PageEditor::previous() const { return load_u32le(p_, kPagePreviousOffset); }
std::uint32_t PageEditor::next() const { return load_u32le(p_, kPageNextOffset); }
void PageEditor::set_previous(std::uint32_t page) { store_u32(p_, kPagePreviousOffset, page); }
void PageEditor::set_next(std::uint32_t page) { store_u32(p_, kPageNextOffset, page); }
void PageEditor::set_uncommitted_free(std::uint16_t v) { set_word(kPageUncommittedOffset, v); }

std::uint16_t PageEditor::free_bytes() const { return word(kPageAvailableOffset); }
void PageEditor::set_free_bytes(std::uint16_t v) { set_word(kPageAvailableOffset, v); }
std::uint16_t PageEditor::first_free() const { return word(kPageFirstFreeOffset); }
void PageEditor::set_first_free(std::uint16_t v) { set_word(kPageFirstFreeOffset, v); }

std::uint16_t PageEditor::tag_count() const { return word(kPageTagCountOffset) & kTagCountMask; }
std::uint16_t PageEditor::reserved_tags() const {
  const std::uint16_t r = (word(kPageTagCountOffset) >> kReservedTagsShift) & kReservedTagsMask;
  return r == 0 ? kDefaultReservedTags : r;
}
void PageEditor::set_tag_count(std::uint16_t n) {
  // The reserved-tag bits are kept as the page has them.
  const std::uint16_t w = word(kPageTagCountOffset);
  set_word(kPageTagCountOffset, static_cast<std::uint16_t>((w & ~kTagCountMask) | (n & kTagCountMask)));
}

std::uint32_t PageEditor::data_size() const { return static_cast<std::uint32_t>(p_.size()) - header_; }
std::uint32_t PageEditor::contiguous_free() const {
  const std::uint64_t used = std::uint64_t{first_free()} + std::uint64_t{kTagSize} * tag_count();
  return used >= data_size() ? 0 : static_cast<std::uint32_t>(data_size() - used);
}

Result<TagEntry> PageEditor::tag(std::uint16_t t) const {
  if (t >= tag_count() || std::uint64_t{kTagSize} * (t + 1) > data_size()) {
    return EseError::parse("tag " + std::to_string(t) + " is past the page's " + std::to_string(tag_count()) + " tags");
  }
  const std::size_t at = p_.size() - kTagSize * (t + 1u);
  TagEntry e;
  e.size = word(at) & field_mask_;
  const std::uint16_t o = word(at + kTagOffsetWordOffset);
  e.offset = o & field_mask_;
  if (!large_) {
    e.flags = static_cast<std::uint8_t>(o >> kTagFlagsShift);
  } else if (t != 0 && e.size >= 2 && std::uint64_t{header_} + e.offset + 2 <= p_.size()) {
    e.flags = static_cast<std::uint8_t>(word(header_ + e.offset) >> kTagFlagsShift);
  }
  return e;
}

void PageEditor::set_tag(std::uint16_t t, const TagEntry& e) {
  const std::size_t at = p_.size() - kTagSize * (t + 1u);
  set_word(at, e.size);
  // Large pages keep the flags with the node's bytes, which a tag move leaves in place.
  set_word(at + kTagOffsetWordOffset, large_ ? e.offset : static_cast<std::uint16_t>(e.offset | (e.flags << kTagFlagsShift)));
}

void PageEditor::store_value_flags(std::uint16_t t, const TagEntry& e, std::uint8_t flags) {
  // As the engine's TAG::SetFlags: not on tag 0, and only on values of two bytes or more.
  if (!large_ || t == 0 || e.size < 2) return;
  const std::uint16_t w = word(header_ + e.offset);
  set_word(header_ + e.offset, static_cast<std::uint16_t>((w & kLargeEntryWordMask) | (flags << kTagFlagsShift)));
}

Result<Bytes> PageEditor::tag_bytes(std::uint16_t t) const {
  auto e = tag(t);
  if (!e) return e.error();
  const std::uint64_t end = std::uint64_t{header_} + e->offset + e->size;
  if (end > p_.size() - std::uint64_t{kTagSize} * tag_count()) {
    return EseError::parse("tag " + std::to_string(t) + " runs into the tag array");
  }
  return Bytes(p_.data() + header_ + e->offset, e->size);
}

Result<Bytes> PageEditor::prefix_bytes() const {
  const std::uint32_t f = flags();
  if (tag_count() == 0) return Bytes{};
  auto b = tag_bytes(0);
  if (!b) return b.error();
  if ((f & kPageRoot) == 0) return *b;
  if ((f & redo::kPageSpaceTree) != 0 && b->size() > kSpaceSplitBufferSize) return b->subspan(kSpaceSplitBufferSize);
  return Bytes{};
}

Result<std::string> PageEditor::prefix() const {
  auto b = prefix_bytes();
  if (!b) return b.error();
  return to_string(*b);
}

Result<NodeImage> PageEditor::node(std::uint16_t iline) const {
  const std::uint32_t t = std::uint32_t{iline} + reserved_tags();
  if (t >= tag_count()) {
    return EseError::parse("node " + std::to_string(iline) + " is past the page's " + std::to_string(nodes()) + " nodes");
  }
  auto e = tag(static_cast<std::uint16_t>(t));
  if (!e) return e.error();
  auto b = tag_bytes(static_cast<std::uint16_t>(t));
  if (!b) return b.error();
  NodeImage n;
  n.flags = e->flags;
  std::size_t pos = 0;
  if (e->flags & kTagCommonKey) {
    if (b->size() < 2) return EseError::parse("node " + std::to_string(iline) + " is too short for its prefix length");
    n.prefix_length = load_u16le(*b, 0);
    // Large pages keep the node flags in the top bits of this first word.
    if (large_) n.prefix_length &= kLargeEntryWordMask;
    pos = 2;
  }
  if (b->size() < pos + 2) return EseError::parse("node " + std::to_string(iline) + " is too short for its key length");
  const std::size_t suffix = load_u16le(*b, pos) & kKeyLengthMask;
  pos += 2;
  if (b->size() < pos + suffix) return EseError::parse("node " + std::to_string(iline) + " key runs past the node");
  n.key.reserve(n.prefix_length + suffix);
  if (n.prefix_length > 0) {
    auto pre = prefix_bytes();
    if (!pre) return pre.error();
    if (n.prefix_length > pre->size()) {
      return EseError::parse("node " + std::to_string(iline) + " uses a longer prefix than the page has");
    }
    n.key.assign(reinterpret_cast<const char*>(pre->data()), n.prefix_length);
  }
  n.key.append(reinterpret_cast<const char*>(b->data() + pos), suffix);
  n.data.assign(reinterpret_cast<const char*>(b->data() + pos + suffix), b->size() - pos - suffix);
  return n;
}

Status PageEditor::set_node_flags(std::uint16_t iline, std::uint8_t f) {
  const std::uint32_t t = std::uint32_t{iline} + reserved_tags();
  auto e = tag(static_cast<std::uint16_t>(std::min<std::uint32_t>(t, 0xFFFF)));
  if (!e || t >= tag_count()) {
    return EseError::parse("node " + std::to_string(iline) + " is past the page's " + std::to_string(nodes()) + " nodes");
  }
  e->flags = f;
  set_tag(static_cast<std::uint16_t>(t), *e);
  if (large_) {
    if (auto b = tag_bytes(static_cast<std::uint16_t>(t)); !b) return b.error();
    store_value_flags(static_cast<std::uint16_t>(t), *e, f);
  }
  return {};
}

Status PageEditor::check_tags() const {
  for (std::uint16_t i = 0; i < tag_count(); ++i) {
    if (auto b = tag_bytes(i); !b) return b.error();
  }
  return {};
}

void PageEditor::reorganise() {
  const std::uint16_t n = tag_count();
  std::vector<std::uint16_t> order(n);
  std::iota(order.begin(), order.end(), std::uint16_t{0});
  std::vector<TagEntry> tags(n);
  for (std::uint16_t i = 0; i < n; ++i) tags[i] = *tag(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint16_t a, std::uint16_t b) { return tags[a].offset < tags[b].offset; });
  std::uint8_t* data = p_.data() + header_;
  std::uint32_t dest = 0;
  for (std::uint16_t i : order) {
    TagEntry& e = tags[i];
    // Tags were checked to lie inside the data area before any edit got here.
    if (e.size > 0 && dest != e.offset) std::memmove(data + dest, data + e.offset, e.size);
    e.offset = static_cast<std::uint16_t>(dest);
    dest += e.size;
    set_tag(i, e);
  }
  set_first_free(static_cast<std::uint16_t>(dest));
}

Status PageEditor::insert_tag(std::uint16_t t, Bytes bytes, std::uint8_t f) {
  const std::uint16_t n = tag_count();
  if (t > n) return EseError::parse("insert at tag " + std::to_string(t) + " past the page's " + std::to_string(n) + " tags");
  const std::uint32_t need = static_cast<std::uint32_t>(bytes.size()) + kTagSize;
  if (bytes.size() > field_mask_ || free_bytes() < need || need > contiguous_free() + free_bytes()) return no_room();
  if (contiguous_free() < need) {
    if (Status st = check_tags(); !st) return st;
    reorganise();
  }
  if (contiguous_free() < need) return no_room();
  for (std::uint16_t i = n; i > t; --i) set_tag(i, *tag(static_cast<std::uint16_t>(i - 1)));
  set_tag_count(static_cast<std::uint16_t>(n + 1));
  TagEntry e{static_cast<std::uint16_t>(bytes.size()), first_free(), f};
  set_tag(t, e);
  if (!bytes.empty()) std::memcpy(p_.data() + header_ + e.offset, bytes.data(), bytes.size());
  store_value_flags(t, e, f);
  set_first_free(static_cast<std::uint16_t>(first_free() + bytes.size()));
  set_free_bytes(static_cast<std::uint16_t>(free_bytes() - need));
  return {};
}

Status PageEditor::replace_tag(std::uint16_t t, Bytes bytes, std::uint8_t f) {
  auto old = tag(t);
  if (!old) return old.error();
  if (auto b = tag_bytes(t); !b) return b.error();
  if (bytes.size() > field_mask_ || std::uint64_t{free_bytes()} + old->size < bytes.size()) return no_room();
  const std::int32_t d = static_cast<std::int32_t>(old->size) - static_cast<std::int32_t>(bytes.size());
  const bool last = std::uint32_t{old->offset} + old->size == first_free();
  TagEntry e = *old;
  if (d >= 0 || (last && contiguous_free() >= static_cast<std::uint32_t>(-d))) {
    if (last) set_first_free(static_cast<std::uint16_t>(first_free() - d));
    set_free_bytes(static_cast<std::uint16_t>(free_bytes() + d));
  } else {
    // Tags are checked only when a reorganisation is to move them all.
    if (contiguous_free() < bytes.size()) {
      if (Status st = check_tags(); !st) return st;
    }
    set_free_bytes(static_cast<std::uint16_t>(free_bytes() + old->size));
    set_tag(t, TagEntry{});
    if (contiguous_free() < bytes.size()) reorganise();
    if (contiguous_free() < bytes.size()) return no_room();
    e.offset = first_free();
    set_first_free(static_cast<std::uint16_t>(first_free() + bytes.size()));
    set_free_bytes(static_cast<std::uint16_t>(free_bytes() - bytes.size()));
  }
  e.size = static_cast<std::uint16_t>(bytes.size());
  e.flags = f;
  set_tag(t, e);
  if (!bytes.empty()) std::memmove(p_.data() + header_ + e.offset, bytes.data(), bytes.size());
  store_value_flags(t, e, f);
  return {};
}

Status PageEditor::delete_tag(std::uint16_t t) {
  auto e = tag(t);
  if (!e) return e.error();
  if (auto b = tag_bytes(t); !b) return b.error();
  const std::uint16_t n = tag_count();
  if (std::uint32_t{e->offset} + e->size == first_free()) set_first_free(static_cast<std::uint16_t>(first_free() - e->size));
  set_free_bytes(static_cast<std::uint16_t>(free_bytes() + e->size + kTagSize));
  for (std::uint16_t i = t; i + 1 < n; ++i) set_tag(i, *tag(static_cast<std::uint16_t>(i + 1)));
  set_tag_count(static_cast<std::uint16_t>(n - 1));
  // Only tag 0 left, and empty: the data area starts over.
  if (std::uint64_t{free_bytes()} + kTagSize + header_ == p_.size()) set_first_free(0);
  return {};
}

std::string encode_node(const NodeImage& n) {
  std::string out;
  const std::size_t plen = std::min<std::size_t>(n.prefix_length, n.key.size());
  const std::size_t suffix = n.key.size() - plen;
  auto put16 = [&](std::size_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  if (plen > 0) put16(plen);
  put16(suffix);
  out.append(n.key, plen, suffix);
  out.append(n.data);
  return out;
}

namespace {
std::uint8_t stored_flags(const NodeImage& n) {
  const std::uint8_t f = static_cast<std::uint8_t>(n.flags & ~kTagCommonKey);
  return n.prefix_length > 0 ? static_cast<std::uint8_t>(f | kTagCommonKey) : f;
}
}  // namespace

Status PageEditor::insert_node(std::uint16_t iline, const NodeImage& n) {
  const std::uint32_t t = std::uint32_t{iline} + reserved_tags();
  if (t > tag_count()) return EseError::parse("insert at node " + std::to_string(iline) + " past the page's " + std::to_string(nodes()) + " nodes");
  if (n.key.size() > kKeyLengthMask || n.prefix_length > n.key.size()) return EseError::parse("a node key is too long");
  const std::string bytes = encode_node(n);
  return insert_tag(static_cast<std::uint16_t>(t), as_bytes(bytes), stored_flags(n));
}

Status PageEditor::replace_node(std::uint16_t iline, const NodeImage& n) {
  const std::uint32_t t = std::uint32_t{iline} + reserved_tags();
  if (t >= tag_count()) return EseError::parse("node " + std::to_string(iline) + " is past the page's " + std::to_string(nodes()) + " nodes");
  if (n.key.size() > kKeyLengthMask || n.prefix_length > n.key.size()) return EseError::parse("a node key is too long");
  const std::string bytes = encode_node(n);
  return replace_tag(static_cast<std::uint16_t>(t), as_bytes(bytes), stored_flags(n));
}

void PageEditor::initialise(std::uint64_t dbtime, std::uint32_t objid, std::uint32_t f) {
  std::fill(p_.begin(), p_.end(), std::uint8_t{0});
  set_dbtime(dbtime);
  store_u32(p_, kPageFatherObjectOffset, objid);
  set_free_bytes(static_cast<std::uint16_t>(data_size() - kTagSize));
  set_first_free(0);
  set_word(kPageTagCountOffset, 1);
  set_flags(f);
}

void PageEditor::pre_initialise(std::uint64_t dbtime, std::uint32_t objid, std::uint32_t f) {
  initialise(dbtime, objid, f);
  set_free_bytes(static_cast<std::uint16_t>(data_size()));
  set_word(kPageTagCountOffset, 0);
}

std::string page_pointer_data(std::uint32_t page) {
  std::uint8_t bytes[sizeof page];
  store_u32le(bytes, 0, page);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::size_t common_length(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

std::uint16_t prefix_length_for(const std::string& key, const std::string& prefix) {
  const std::size_t c = common_length(key, prefix);
  return c > kPrefixOverhead ? static_cast<std::uint16_t>(c) : 0;
}

}  // namespace quarrow::replay
