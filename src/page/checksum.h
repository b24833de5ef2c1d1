// Page checksums.
//
// Two forms exist. The old form is a plain XOR of the page's 32-bit words, seeded
// with 0x89ABCDEF and stored at offset 0, with the page number at offset 4 (the
// database header always uses it, over the whole page). The new form adds an error
// correcting code: per block of words it keeps the XOR of the words ("col") with the
// page number mixed in, plus a 32-bit code built from the indexes of the words with
// odd parity and the bit positions set in col, which can locate one flipped bit.
// Pages up to 8 KiB are one block; 16 and 32 KiB pages are four blocks whose values
// sit in the extended page header.
#pragma once

#include <cstdint>
#include <optional>

#include "format/bytes.h"
#include "format/checksum.h"

namespace quarrow {

// XOR of every little-endian 32-bit word but word 0, seeded with kXorChecksumSeed.
// `page.size()` must be a multiple of 4.
std::uint32_t xor_checksum(Bytes page);

// The new-form value of one block: (ecc << 32) | (col ^ page_number). With
// `first_block` the stored checksum in words 0 and 1 counts as zero. The block
// size must be a power of two, at least 32 bytes.
std::uint64_t ecc_checksum(Bytes block, std::uint32_t page_number, bool first_block);

// The bit (offset in the block) that one flipped bit explains, when the stored and
// computed values differ by exactly one correctable bit; nothing otherwise.
std::optional<std::uint32_t> locate_flipped_bit(std::uint64_t stored, std::uint64_t computed,
                                                std::size_t block_size);

}  // namespace quarrow
