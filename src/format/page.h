// The page header, the tag array and the large-page rule.
//
// Named after the engine's page header (PGHDR / PGHDR2, the le_* fields) and its tag
// (TAG) and node flags (fND*). Offsets are bytes from the start of the page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// Page header fields. Bytes 0-7 are the checksum (0-3, old form) and page number
// (4-7, old form) or the 64-bit ECC checksum; 8-15 the page's database time.
inline constexpr std::size_t kPageChecksumOffset = 0;        // le_ulChecksum
inline constexpr std::size_t kPageNumberOffset = 4;          // le_pgno (old checksum form)
inline constexpr std::size_t kPagePreviousOffset = 16;       // le_pgnoPrev
inline constexpr std::size_t kPageNextOffset = 20;           // le_pgnoNext
inline constexpr std::size_t kPageFatherObjectOffset = 24;   // le_objidFDP
// The object id at offset 24 names the tree the page belongs to: a table's data tree,
// each of its indexes and its long-value tree have ids of their own. No object has
// id 0: a page naming it names no owner.
inline constexpr std::uint32_t kNoObjectId = 0;
inline constexpr std::size_t kPageAvailableOffset = 28;      // le_cbFree
inline constexpr std::size_t kPageUncommittedOffset = 30;    // le_cbUncommittedFree
inline constexpr std::size_t kPageFirstFreeOffset = 32;      // le_ibMicFree
inline constexpr std::size_t kPageTagCountOffset = 34;       // le_itagMicFree
inline constexpr std::size_t kPageFlagsOffset = 36;          // le_fFlags
inline constexpr std::uint32_t kPageHeaderSize = 40;         // sizeof(PGHDR)
inline constexpr std::uint32_t kExtendedPageHeaderSize = 80; // sizeof(PGHDR2), large pages
// Extended header: the checksums of blocks 1..3 (8 bytes each) and the page number.
inline constexpr std::size_t kBlockChecksumOffset = 40;              // rgChecksum
inline constexpr std::size_t kBlockChecksumSize = 8;
// Where the 64-bit checksum of block b of a large page is kept: block 0's at the front
// of the header, blocks 1..3 in rgChecksum.
inline constexpr std::size_t block_checksum_offset(std::size_t block) {
  return block == 0 ? kPageChecksumOffset : kBlockChecksumOffset + kBlockChecksumSize * (block - 1);
}
inline constexpr std::size_t kExtendedHeaderPageNumberOffset = 64;   // pgno

// The tag-count word's top 4 bits hold a reserved-tag count in newer engine versions;
// no page layout can hold 4096 tags, so the count is the low 12 bits.
inline constexpr std::uint16_t kTagCountMask = 0x0FFF;

// Page sizes the engine writes: powers of two from 2 to 32 KiB.
inline constexpr std::uint32_t kSmallestPageSize = 2048;
inline constexpr std::uint32_t kLargestPageSize = 32768;

// The large-page rule. Pages above 8 KiB carry the 80-byte header, 15-bit tag fields
// with the node flags moved into the value, four checksum blocks, the tagged-item
// flags byte on every item, and the engine ignores version-store handler failures on
// them. (The engine's FIsSmallPage: cbPage <= 8 KiB.)
inline constexpr std::uint32_t kLargestSmallPage = 8192;
inline constexpr bool is_large_page(std::uint64_t page_size) { return page_size > kLargestSmallPage; }

// Page flag bits (fPage*), low byte of the 32-bit flags field.
inline constexpr std::uint32_t kPageLeaf = 0x02;        // fPageLeaf
inline constexpr std::uint32_t kPageSpaceTree = 0x20;   // fPageSpaceTree
inline constexpr std::uint32_t kPageIndex = 0x40;       // fPageIndex
inline constexpr std::uint32_t kPageLongValue = 0x80;   // fPageLongValue
// A table's records live on leaf pages that have none of the space-tree, index and
// long-value kinds: (flags & kPageKindMask) == kPageLeaf.
inline constexpr std::uint32_t kPageKindMask = kPageLeaf | kPageSpaceTree | kPageIndex | kPageLongValue;
// fPageNewChecksumFormat (byte 37 bit 0x20): the page carries the ECC checksum.
inline constexpr std::uint32_t kPageNewChecksumFormat = 0x2000;

// The tag array grows down from the page's end: tag i is the 4 bytes that end 4i bytes
// before it, a size word and then an offset word (TAG: cb_, ib_).
inline constexpr std::uint32_t kTagSize = 4;
inline constexpr std::size_t kTagSizeWordOffset = 0;
inline constexpr std::size_t kTagOffsetWordOffset = 2;
// Tag words: classic pages have 13-bit size and offset with the node flags in the top
// three bits of the offset word; large pages 15-bit fields.
inline constexpr std::uint16_t kTagFieldMask = 0x1FFF;
inline constexpr std::uint16_t kTagFieldMaskLarge = 0x7FFF;
inline constexpr unsigned kTagFlagsShift = 13;
// On large pages the node flags sit in the top three bits of the value's first word;
// the rest of that word is the entry's key size.
inline constexpr std::uint16_t kLargeEntryWordMask = 0x1FFF;
inline constexpr std::size_t kLargeEntryFlagsByte = 1;  // the value's second byte
inline constexpr unsigned kLargeEntryFlagsShift = 5;    // of that byte
inline constexpr std::uint8_t kLargeEntrySecondByteMask = 0x1F;

// Node flags (fNDVersion, fNDDeleted, fNDCompressed).
// fNDVersion: the node has versions in the engine's version store; it is live.
inline constexpr std::uint8_t kNodeVersioned = 0x1;
// fNDDeleted: the node is deleted and waits for the engine's cleanup; its entry is
// whole but is no longer part of the tree's contents.
inline constexpr std::uint8_t kNodeDeleted = 0x2;
// The value begins with a common-key size (the key shares a prefix with tag 0's).
inline constexpr std::uint8_t kTagCommonKey = 0x4;
// The local key size word of an entry (15 bits).
inline constexpr std::uint16_t kKeySizeMask = 0x7FFF;
// An entry's value begins with its key sizes, u16 words: the common-key size when
// kTagCommonKey is set, then the local key size; the local key follows. A branch
// entry ends with the u32 page number of its child.
inline constexpr std::size_t kKeySizeWordSize = 2;
inline constexpr std::size_t kChildPageNumberSize = 4;
inline constexpr std::size_t entry_key_sizes_size(bool common_key) {
  return common_key ? 2 * kKeySizeWordSize : kKeySizeWordSize;
}

// Not a disk fact but a reader rule shared by every long walk: every 16 MiB of pages
// read, the pages are handed back to the operating system, which keeps the resident
// set flat however large the file.
inline constexpr std::uint64_t kPageReleaseInterval = 16ull << 20;

}  // namespace quarrow
