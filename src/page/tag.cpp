#include "page/tag.h"

namespace quarrow {
namespace {

struct RawTag {
  std::uint8_t flags;
  std::uint64_t start;
  std::uint64_t end;
  std::uint16_t offset;
  std::uint16_t size;
};

// Locates tag i: checks the index and that its 4 bytes lie inside the page, decodes
// size, offset and (classic layout) flags, and computes the value range.
Result<RawTag> locate_tag(const PageView& page, std::uint16_t index) {
  if (index >= page.tag_count) return EseError::invalid_tag_number(index);
  const std::uint64_t len = page.data.size();
  const std::uint64_t need = std::uint64_t{kTagSize} * (static_cast<std::uint64_t>(index) + 1);
  if (len < need) {
    const std::uint64_t below = std::uint64_t{kTagSize} * index;
    return EseError::page_data_too_short(len < below ? below : need, len);
  }
  const std::size_t at = static_cast<std::size_t>(len - need);
  const std::uint16_t size_word = load_u16le(page.data, at + kTagSizeWordOffset);
  const std::uint16_t offset_word = load_u16le(page.data, at + kTagOffsetWordOffset);
  RawTag t{};
  if (page.layout.large_tags()) {
    t.size = size_word & kTagFieldMaskLarge;
    t.offset = offset_word & kTagFieldMaskLarge;
    t.flags = 0;
  } else {
    t.size = size_word & kTagFieldMask;
    t.offset = offset_word & kTagFieldMask;
    t.flags = static_cast<std::uint8_t>(offset_word >> kTagFlagsShift);
  }
  t.start = static_cast<std::uint64_t>(page.header_size) + t.offset;
  t.end = t.start + t.size;
  return t;
}

}  // namespace

HeaderShape PageLayout::shape() const {
  if (version < kFormatVersion) return HeaderShape::Classic;
  if (version == kFormatVersion) {
    if (revision < kRevisionTwoChecksums) return HeaderShape::Classic;
    if (revision < kRevisionCurrentPageHeader) return HeaderShape::ClassicTwoChecksums;
  }
  return HeaderShape::Current;
}

std::uint16_t tag_count(Bytes page, std::uint32_t page_size) {
  if (page.size() < kPageHeaderSize) return 0;
  std::uint16_t count = load_u16le(page, kPageTagCountOffset) & kTagCountMask;
  if (is_large_page(page_size)) {
    const std::uint16_t available = load_u16le(page, kPageAvailableOffset);
    const std::uint64_t cap = available > page.size() ? 0 : (page.size() - available) / kTagSize;
    if (count > cap) count = static_cast<std::uint16_t>(cap);
  }
  return count;
}

Result<PageView> parse_page_header(Bytes page, const PageLayout& layout) {
  PageView view;
  view.data = page;
  view.layout = layout;
  view.header.shape = layout.shape();
  if (page.size() < kPageHeaderSize) return EseError::page_data_too_short(kPageHeaderSize, page.size());
  view.header_size = kPageHeaderSize;
  if (view.header.shape == HeaderShape::Current && is_large_page(layout.page_size)) {
    if (page.size() < kExtendedPageHeaderSize) {
      return EseError::page_data_too_short(kExtendedPageHeaderSize, page.size());
    }
    view.header_size = kExtendedPageHeaderSize;
  }
  PageHeader& h = view.header;
  h.previous_page = load_u32le(page, kPagePreviousOffset);
  h.next_page = load_u32le(page, kPageNextOffset);
  h.father_object_id = load_u32le(page, kPageFatherObjectOffset);
  h.available_data_size = load_u16le(page, kPageAvailableOffset);
  h.available_uncommitted_size = load_u16le(page, kPageUncommittedOffset);
  h.first_available_data_offset = load_u16le(page, kPageFirstFreeOffset);
  h.first_available_page_tag = load_u16le(page, kPageTagCountOffset);
  h.flags = load_u32le(page, kPageFlagsOffset);
  view.tag_count = tag_count(page, layout.page_size);
  return view;
}

Result<PageTag> read_tag(const PageView& page, std::uint16_t index) {
  Result<RawTag> raw = locate_tag(page, index);
  if (!raw) return std::move(raw).error();
  const RawTag& t = *raw;
  if (t.end > page.data.size()) {
    return EseError::tag_offset_out_of_bounds(t.offset, t.size, page.data.size());
  }
  PageTag tag;
  tag.value = page.data.subspan(static_cast<std::size_t>(t.start), t.size);
  tag.flags = t.flags;
  if (page.layout.large_tags()) {
    tag.flags = tag.value.size() > kLargeEntryFlagsByte ? (tag.value[kLargeEntryFlagsByte] >> kLargeEntryFlagsShift) : 0;
  }
  return tag;
}

Status read_entry_tag(const PageView& page, std::uint16_t index, std::string& scratch, PageTag& out) {
  Result<RawTag> raw = locate_tag(page, index);
  if (!raw) return std::move(raw).error();
  const RawTag& t = *raw;
  if (t.end > page.data.size()) {
    if (!page.layout.large_tags()) {
      return EseError::tag_offset_out_of_bounds(t.offset, t.size, page.data.size());
    }
    out.flags = 0;
    out.value = Bytes();
    return Status::success();
  }
  Bytes value = page.data.subspan(static_cast<std::size_t>(t.start), t.size);
  out.flags = t.flags;
  out.value = value;
  if (page.layout.large_tags() && value.size() > kLargeEntryFlagsByte) {
    out.flags = value[kLargeEntryFlagsByte] >> kLargeEntryFlagsShift;
    if (out.flags != 0) {
      scratch.assign(reinterpret_cast<const char*>(value.data()), value.size());
      scratch[kLargeEntryFlagsByte] = static_cast<char>(value[kLargeEntryFlagsByte] & kLargeEntrySecondByteMask);
      out.value = as_bytes(scratch);
    }
  }
  return Status::success();
}

Result<OwnedPageTag> read_tag_owned(const PageView& page, std::uint16_t index) {
  std::string scratch;
  PageTag tag;
  Status st = read_entry_tag(page, index, scratch, tag);
  if (!st) return std::move(st).error();
  OwnedPageTag owned;
  owned.flags = tag.flags;
  owned.owned = to_string(tag.value);
  return owned;
}

const char* page_type_name(std::uint32_t flags) {
  if (flags & kPageLongValue) return "long_value";
  if (flags & kPageSpaceTree) return "space_tree";
  if (flags & kPageIndex) return "index";
  if (flags & kPageLeaf) return "leaf";
  return "branch";
}

}  // namespace quarrow
