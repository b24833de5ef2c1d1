// Page header and tags.
//
// Every page starts with a header and ends with a tag array growing backwards from
// the page end; tag i is the 4 bytes at [len - 4(i+1), len - 4i) and locates one
// value (a tree entry, a record, or the page's external header) in the page.
// Two tag layouts exist: classic (13-bit size and offset, 3 flag bits in the top of
// the offset word) and large-page (15-bit fields, the flag bits moved into the top
// three bits of the value's second byte).
#pragma once

#include <cstdint>
#include <string>

#include "format/bytes.h"
#include "format/database_header.h"
#include "format/page.h"
#include "error/ese_error.h"

namespace quarrow {

enum class HeaderShape : std::uint8_t { Classic, ClassicTwoChecksums, Current };

// The facts of a database that choose page and tag layouts.
struct PageLayout {
  std::uint32_t version = 0;
  std::uint32_t revision = 0;
  std::uint32_t page_size = 0;

  HeaderShape shape() const;
  // 15-bit tags with flags in the value: the current version and page header on a large page.
  bool large_tags() const {
    return version == kFormatVersion && revision >= kRevisionCurrentPageHeader && is_large_page(page_size);
  }
};

struct PageHeader {
  HeaderShape shape = HeaderShape::Classic;
  std::uint32_t previous_page = 0;
  std::uint32_t next_page = 0;
  std::uint32_t father_object_id = 0;
  std::uint16_t available_data_size = 0;
  std::uint16_t available_uncommitted_size = 0;
  std::uint16_t first_available_data_offset = 0;
  std::uint16_t first_available_page_tag = 0;
  std::uint32_t flags = 0;
};

// One page: a view into the mapping plus its decoded header. Owns nothing.
struct PageView {
  Bytes data;
  PageHeader header;
  std::uint32_t header_size = kPageHeaderSize;
  PageLayout layout;
  std::uint16_t tag_count = 0;

  bool is_leaf() const { return (header.flags & kPageLeaf) != 0; }
};

// A tag's flags and value; `value` is a range inside the page (read_tag) or a view of
// `owned` (read_tag_owned).
struct PageTag {
  std::uint8_t flags = 0;
  Bytes value;
};

struct OwnedPageTag {
  std::uint8_t flags = 0;
  std::string owned;
  Bytes value() const { return as_bytes(owned); }
};

Result<PageView> parse_page_header(Bytes page, const PageLayout& layout);

std::uint16_t tag_count(Bytes page, std::uint32_t page_size);

// Tag i as a range in the page. Fails with InvalidTagNumber, PageDataTooShort or
// TagOffsetOutOfBounds. In the large-page layout the value still carries its flag bits.
Result<PageTag> read_tag(const PageView& page, std::uint16_t index);

// Tag i as an owned copy. In the large-page layout an out-of-range value is an empty
// tag with flags 0, and the flag bits are masked out of the copy.
Result<OwnedPageTag> read_tag_owned(const PageView& page, std::uint16_t index);

// Tag i as table reading needs it: the value with the flag bits removed in the
// large-page layout, written into `scratch` only when a byte has to change (so a
// classic-layout read copies nothing). `out.value` points into the page or `scratch`.
// Same failures as read_tag_owned.
Status read_entry_tag(const PageView& page, std::uint16_t index, std::string& scratch, PageTag& out);

// The tag indexes worth trying: tag i occupies [len - 4(i + 1), len - 4i), so no index
// at or above len / 4 can be read. Loops over a page's tags stop here: a damaged count
// (up to 4095 on any page) on small pages would otherwise cost thousands of failing
// reads per page, about a hundred per byte of file on 40-byte pages.
inline std::uint16_t readable_tag_count(const PageView& page) {
  const std::size_t fit = page.data.size() / kTagSize;
  return fit < page.tag_count ? static_cast<std::uint16_t>(fit) : page.tag_count;
}

// "long_value", "space_tree", "index", "leaf" or "branch", testing 0x80, 0x20, 0x40, 0x02.
const char* page_type_name(std::uint32_t flags);

}  // namespace quarrow
