// Long values: column data stored apart from the record, in the table's long-value tree.
//
// A separated column holds a long-value id (LID). The tree's keys are big-endian: the
// id alone for the root entry (LVROOT: u32 reference count, u32 total size), the id
// followed by the u32 byte offset of the chunk for every chunk of the value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

inline constexpr std::size_t kLid32Size = 4;
// From revision kRevisionLid64 (format/database_header.h) a reference may be an 8-byte
// id (LID64) whose top bit is set; its keys then hold 8 bytes of id.
inline constexpr std::size_t kLid64Size = 8;
inline constexpr unsigned kLid64FlagBit = 63;
inline constexpr std::size_t kChunkOffsetSize = 4;
// LVROOT: the reference count, then the value's total size.
inline constexpr std::size_t kLongValueRootSizeOffset = 4;
inline constexpr std::size_t kLongValueRootSize = 8;

}  // namespace quarrow
