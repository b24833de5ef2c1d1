// The database file's header (the first page).
#pragma once

#include <cstddef>

namespace quarrow {

// The signature 0x89ABCDEF (ulMagic) sits after the 4-byte header checksum.
inline constexpr std::size_t kHeaderSignatureOffset = 4;

}  // namespace quarrow
