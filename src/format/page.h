// Page and node facts the readers test: who owns a page, and what a node's tag flags
// say about its entry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// Page header offset 24 (objidFDP): the object id of the tree the page belongs to. A
// table's data tree, each of its indexes and its long-value tree have ids of their own.
inline constexpr std::size_t kPageFatherObjectIdOffset = 24;
// No object has id 0: a page naming it names no owner.
inline constexpr std::uint32_t kNoObjectId = 0;

// Tag flags of a node (three bits: the top of the classic offset word, or the top of
// the value's second byte in the large-page layout).
// fNDVersion: the node has versions in the engine's version store; it is live.
inline constexpr std::uint8_t kTagVersioned = 0x1;
// fNDDeleted: the node is deleted and waits for the engine's cleanup; its entry is
// whole but is no longer part of the tree's contents.
inline constexpr std::uint8_t kTagDeleted = 0x2;

}  // namespace quarrow
