// Decoders for the engine's compressed column data. The first byte names the scheme
// (scheme << 3); decoders are bounded by the data and by the declared size, so a
// corrupt stream yields nothing rather than an over-read or a large allocation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/bytes.h"
#include "format/compression.h"

namespace quarrow {

// The historical 7-bit unpacking for a first byte of 0x00..0x07: the bytes after the
// first are a little-endian bit stream; floor(8(m-1)/7) groups of 7 bits.
std::string unpack_7bit_legacy(Bytes data);

// 7-bit schemes with the exact bit count: (m-2)*8 + (low3+1) bits, floor(bits/7)
// characters; `widen` makes each character a UTF-16LE code unit.
std::string unpack_7bit(Bytes data, bool widen);

// XPRESS (plain LZ77, no Huffman) after the 1-byte header: 16-bit LE size, then the
// stream. nullopt when corrupt or when the output would not be exactly that size.
std::optional<std::string> xpress_decompress(Bytes data);

// LZ4 block after the 1-byte header: 16-bit LE size, then the block.
std::optional<std::string> lz4_decompress(Bytes data);

// Decompresses a compressed tagged item by its first byte. `allow_legacy` admits first
// bytes 0x00..0x07 (historical 7-bit rule). nullopt: not a decodable scheme, or corrupt.
std::optional<std::string> decompress(Bytes data, bool allow_legacy);

}  // namespace quarrow
