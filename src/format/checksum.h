// Page checksums: the old XOR form and the new ECC form (see page/checksum.h for
// how they are computed).
#pragma once

#include <cstdint>

#include "format/database_header.h"
#include "format/page.h"

namespace quarrow {

// The XOR form is seeded with the header's magic (ulDAEMagic).
inline constexpr std::uint32_t kXorChecksumSeed = kDatabaseSignature;
// Pages above kLargestSmallPage always carry the new form, in four blocks.
inline constexpr std::uint32_t kLargestSingleBlockPage = kLargestSmallPage;
inline constexpr std::uint32_t kChecksumBlocks = 4;

}  // namespace quarrow
