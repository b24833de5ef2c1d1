// What redo of the transaction logs writes into pages: the page-header words it keeps
// exact, the page flags of new pages and trees, the space header of a tree root, and
// the fields of the records that create pages and trees. Named after the engine's
// CPAGE, SPACE_HEADER and LR* structures (cpage.hxx, space.hxx, logapi.hxx).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/page.h"

namespace quarrow::redo {

// ---- Page header (PGHDR) words redo maintains -------------------------------------------
// itagMicFree keeps the tag count in its low 12 bits and, in databases with the
// reserved-tag format, the number of reserved tags in bits 12-14; without that format
// the bits stay zero and tag 0 (the external header) is the one reserved tag.
inline constexpr unsigned kReservedTagsShift = 12;
inline constexpr std::uint16_t kReservedTagsMask = 0x7;
inline constexpr std::uint16_t kDefaultReservedTags = 1;
using ::quarrow::kTagSize;  // u16 size, u16 offset (and node flags)

// Page flags (fPage*).
inline constexpr std::uint32_t kPageRoot = 0x1;
inline constexpr std::uint32_t kPageLeaf = ::quarrow::kPageLeaf;
inline constexpr std::uint32_t kPageParentOfLeaf = 0x4;
inline constexpr std::uint32_t kPageEmpty = 0x8;
inline constexpr std::uint32_t kPageSpaceTree = ::quarrow::kPageSpaceTree;
inline constexpr std::uint32_t kPageNewRecordFormat = 0x800;
inline constexpr std::uint32_t kPageNewChecksum = ::quarrow::kPageNewChecksumFormat;
inline constexpr std::uint32_t kPageFlushTypeMask = 0x18000;  // set by the buffer manager at each write
inline constexpr std::uint32_t kPageFlushTypeFirst = 0x8000;  // flush type 1
inline constexpr std::uint32_t kPagePreInitialised = 0x20000;  // NewPage: not yet used by a tree
inline constexpr std::uint32_t kPageTreeDeleting = 0x40000;

// The catalog's own tree (MSysObjects): new tables arrive as rows inserted into it.
inline constexpr std::uint32_t kCatalogObjid = 2;

// ---- Nodes (node.cxx) ---------------------------------------------------------------------
// [u16 prefix length when flagged compressed] [u16 suffix length] [suffix] [data].
inline constexpr std::uint16_t kKeyLengthMask = 0x1FFF;  // usNDCbKeyMask
// A common key part is only stored as a prefix when longer than this (cbPrefixOverhead).
inline constexpr std::size_t kPrefixOverhead = 2;
// The root page of a space tree keeps a 16-byte split buffer in front of its prefix.
inline constexpr std::size_t kSpaceSplitBufferSize = 16;

// A node of a parent page: the separator key, and as data the child's u32 page number.
inline constexpr std::size_t kPagePointerSize = 4;

// ---- Space header of a tree root (SPACE_HEADER, tag 0 of the root, 16 bytes) -------------
inline constexpr std::size_t kSpaceHeaderSize = 16;
inline constexpr std::size_t kSpacePrimaryPages = 0;   // i32 cpgPrimary
inline constexpr std::size_t kSpaceParentRoot = 4;     // pgnoParent
inline constexpr std::size_t kSpaceFlags = 8;          // fSingleExtent/fMultipleExtent/fUnique bits
inline constexpr std::size_t kSpaceLast = 12;          // avail bitmap (single) or owned-extent root (multiple)
inline constexpr std::uint32_t kSpaceMultipleExtent = 0x1;
inline constexpr std::uint32_t kSpaceNonUnique = 0x2;
inline constexpr std::uint32_t kSpaceBitmapBits = 32;  // pages of a single extent tracked by the bitmap
// Space-tree nodes: key = big-endian last page of the extent, data = u32 page count.
inline constexpr std::size_t kExtentKeySize = 4;
inline constexpr std::size_t kExtentDataSize = 4;
// Pages of a converted tree's secondary extent taken by the two space-tree roots.
inline constexpr std::uint32_t kSpaceRootPages = 2;
// The owned and available extent roots of a multiple-extent tree take two pages of its
// primary extent besides the root itself.
inline constexpr std::uint32_t kMultipleExtentReservedPages = 3;

// ---- Records that create pages and trees (LRCREATESEFDP, LRCREATEMEFDP, LRCONVERTFDP) ----
inline constexpr std::size_t kSingleObjid = 32;
inline constexpr std::size_t kSingleParentRoot = 36;
inline constexpr std::size_t kSinglePrimaryPages = 40;
inline constexpr std::size_t kSinglePageFlags = 44;
inline constexpr std::size_t kMultipleObjid = 32;
inline constexpr std::size_t kMultipleOwnedRoot = 36;
inline constexpr std::size_t kMultipleAvailRoot = 40;
inline constexpr std::size_t kMultipleParentRoot = 44;
inline constexpr std::size_t kMultiplePrimaryPages = 48;
inline constexpr std::size_t kMultiplePageFlags = 52;
inline constexpr std::size_t kConvertObjid = 32;
inline constexpr std::size_t kConvertOwnedRoot = 36;
inline constexpr std::size_t kConvertAvailRoot = 40;
inline constexpr std::size_t kConvertParentRoot = 44;
inline constexpr std::size_t kConvertSecondaryFirst = 48;
inline constexpr std::size_t kConvertPrimaryPages = 52;
inline constexpr std::size_t kConvertSecondaryPages = 56;
inline constexpr std::size_t kConvertBitmap = 60;
inline constexpr std::size_t kConvertPageFlags = 64;

// Split2 (LRSPLITNEW_) fields not named with the log reader's: the uncommitted free
// bytes of the split and new pages, and the kinds of split and operation.
inline constexpr std::size_t kSplitUncommittedSource = 84;
inline constexpr std::size_t kSplitUncommittedDestination = 86;
inline constexpr std::size_t kSplitVariable = 110;  // parent key, old prefix, new prefix, image
inline constexpr std::uint8_t kSplitVertical = 0;
inline constexpr std::uint8_t kSplitRight = 1;
inline constexpr std::uint8_t kSplitAppend = 2;
inline constexpr std::uint8_t kSplitOperNone = 0;
inline constexpr std::uint8_t kSplitOperInsert = 1;
inline constexpr std::uint8_t kSplitOperReplace = 2;
inline constexpr std::uint8_t kSplitOperFlagInsertAndReplace = 3;
inline constexpr std::int32_t kNoPrefixLine = -1;
// Page image flags (@102): the image is dehydrated (free space cut out) / compressed.
inline constexpr std::uint32_t kImageDehydrated = 0x1;
inline constexpr std::uint32_t kImageCompressed = 0x2;

// Merge and Merge2 (LRMERGE_) fields not named with the log reader's: the uncommitted
// free bytes the destination page takes, the per-level flags and the kinds of merge
// (MERGETYPE). The old Merge has no page image: its separator key starts at 88.
inline constexpr std::size_t kMergeUncommittedDestination = 80;
inline constexpr std::size_t kMergeOldVariable = 88;
inline constexpr std::size_t kMergeVariable = 96;  // separator key, then the page image
inline constexpr std::uint8_t kMergeKeyChange = 0x1;   // a separator key changes on this level
inline constexpr std::uint8_t kMergeDeleteNode = 0x2;  // the page pointer at the record's iline goes
inline constexpr std::uint8_t kMergeEmptyPage = 0x4;   // this level's page is emptied
inline constexpr std::uint8_t kMergeNone = 0;          // a parent level: no nodes move here
inline constexpr std::uint8_t kMergeEmptyPageType = 1;
inline constexpr std::uint8_t kMergeFullRight = 2;
inline constexpr std::uint8_t kMergePartialRight = 3;
inline constexpr std::uint8_t kMergeEmptyTree = 4;
inline constexpr std::uint8_t kMergeFullLeft = 5;
inline constexpr std::uint8_t kMergePartialLeft = 6;
inline constexpr std::uint8_t kMergePageMove = 7;

// PageMove (LRPAGEMOVE) fields not named with the log reader's: the siblings, the parent
// and their dbtimes before, the parent's pointer, the root-move flags; the page's
// header part and trailer part follow the fixed part.
inline constexpr std::size_t kPageMoveLeft = 36;
inline constexpr std::size_t kPageMoveRight = 40;
inline constexpr std::size_t kPageMoveParent = 44;
inline constexpr std::size_t kPageMoveLeftDbtime = 48;
inline constexpr std::size_t kPageMoveRightDbtime = 56;
inline constexpr std::size_t kPageMoveParentDbtime = 64;
inline constexpr std::size_t kPageMoveParentIline = 80;  // i32
inline constexpr std::size_t kPageMoveFlags = 84;
inline constexpr std::size_t kPageMoveVariable = 96;
// A tree root moving (its own page, or a space tree's root): part of a root move macro.
inline constexpr std::uint32_t kPageMoveRootFlags = 0x7;

// Delta / Delta64: the signed amount and the byte offset in the node data.
inline constexpr std::size_t kDeltaAmount = 48;
inline constexpr std::size_t kDeltaOffset = 52;
inline constexpr std::size_t kDelta64Offset = 56;
// UndoInfo: before-image sizes.
inline constexpr std::size_t kUndoInfoOperation = 48;
// Undo: the operation reversed.
inline constexpr std::size_t kUndoOperation = 48;
// ReplaceD diff entry headers (small pages: 2 bytes; with the large flag: 3 bytes).
// Small: one u16 of offset and flags. Large: a u16 offset, then a byte of flags.
inline constexpr std::size_t kDiffHeaderSize = 2;
inline constexpr std::size_t kDiffLargeHeaderSize = 3;
inline constexpr std::size_t kDiffLargeFlagsOffset = 2;
inline constexpr std::uint16_t kDiffOffsetMask = 0x1FFF;
inline constexpr std::uint16_t kDiffSameLength = 0x2000;
inline constexpr std::uint16_t kDiffInsert = 0x4000;
inline constexpr std::uint16_t kDiffTwoByteLengths = 0x8000;
inline constexpr std::uint8_t kDiffLargeSameLength = 0x20;
inline constexpr std::uint8_t kDiffLargeInsert = 0x40;
inline constexpr std::uint8_t kDiffLargeTwoByteLengths = 0x80;
// EmptyTree: 16-byte entries (u64 dbtime before, u32 page, u32 page flags).
inline constexpr std::size_t kEmptyTreeEntrySize = 16;
inline constexpr std::size_t kEmptyTreeEntryPage = 8;
// ExtendDB (ignorable): dbid @5, new last page @6.
inline constexpr std::size_t kExtendDbid = 5;
inline constexpr std::size_t kExtendLastPage = 6;

}  // namespace quarrow::redo
