// Layouts of values that applications store inside ESE columns (not the engine's own
// format): the ones the profile conversions read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/catalog.h"  // kCodepageUtf16Le
#include "format/record.h"   // kGuidSize

namespace quarrow {

// Windows code page of UTF-16LE text (the catalog's code page of the same number).
inline constexpr std::uint32_t kUtf16Codepage = kCodepageUtf16Le;

// Binary SID (MS-DTYP "SID--Packet Representation"): byte 0 revision, byte 1 the
// sub-authority count, bytes 2-7 the identifier authority (48-bit big-endian), then
// the sub-authorities as 32-bit little-endian integers, at most 15 of them.
inline constexpr std::size_t kSidHeaderSize = 8;
inline constexpr std::size_t kSidSubAuthoritySize = 4;
inline constexpr std::size_t kSidMaxSubAuthorities = 15;

// Network addresses in network byte order.
inline constexpr std::size_t kIpv4Size = 4;
inline constexpr std::size_t kIpv6Size = 16;

// 64-bit times and counters stored as Binary.
inline constexpr std::size_t kBinary64Size = 8;

}  // namespace quarrow
