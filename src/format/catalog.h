// Rows of the catalog (MSysObjects): the row type at bytes 8-9.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// sysobj* codes of the engine.
inline constexpr std::uint16_t kCatalogRowTable = 1;
inline constexpr std::uint16_t kCatalogRowColumn = 2;
inline constexpr std::uint16_t kCatalogRowIndex = 3;
inline constexpr std::uint16_t kCatalogRowLongValue = 4;
inline constexpr std::uint16_t kCatalogRowCallback = 5;
// 6 and 7: the streaming-file space trees of old engine versions (sysobjSLVAvail,
// sysobjSLVOwnerMap). The reader has no use for them.
inline constexpr std::uint16_t kCatalogRowStreamingAvail = 6;
inline constexpr std::uint16_t kCatalogRowStreamingOwnerMap = 7;

// Fixed columns of a catalog row (offsets into the record): ObjidTable, Type, Id.
inline constexpr std::size_t kCatalogOwnerOffset = 4;
inline constexpr std::size_t kCatalogTypeOffset = 8;
inline constexpr std::size_t kCatalogIdOffset = 10;

}  // namespace quarrow
