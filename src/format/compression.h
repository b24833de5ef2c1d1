// Compressed column data: the first byte names the scheme (scheme << 3, the engine's
// COMPRESSION_SCHEME); the low three bits belong to the scheme's own header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

inline constexpr std::uint8_t kCompressSchemeMask = 0xF8;
// Before the 7-bit schemes had a header, a first byte of 0x00..0x07 began the packed bits.
inline constexpr std::uint8_t kCompressLegacy7Bit = 0x00;
inline constexpr std::uint8_t kCompress7BitAscii = 0x08;    // COMPRESS_7BITASCII
inline constexpr std::uint8_t kCompress7BitUnicode = 0x10;  // COMPRESS_7BITUNICODE
inline constexpr std::uint8_t kCompressXpress = 0x18;       // COMPRESS_XPRESS
inline constexpr std::uint8_t kCompressXpress9 = 0x28;      // COMPRESS_XPRESS9 (not decoded)
inline constexpr std::uint8_t kCompressXpress10 = 0x30;     // COMPRESS_XPRESS10 (not decoded)
inline constexpr std::uint8_t kCompressLz4 = 0x38;          // COMPRESS_LZ4

inline constexpr std::uint8_t compression_scheme(std::uint8_t first_byte) {
  return first_byte & kCompressSchemeMask;
}

// Every frame begins with the scheme byte.
inline constexpr std::size_t kCompressSchemeOffset = 0;
// The 7-bit schemes: the scheme byte, then the packed 7-bit groups. Its low three bits
// count the bits used in the last byte, minus one; a frame has at least one packed byte.
inline constexpr std::size_t kCompress7BitHeaderSize = 1;
inline constexpr std::uint8_t kCompress7BitLastBitsMask = 0x07;
// The LZ schemes (Xpress, LZ4): the scheme byte, the u16 uncompressed size, the stream.
inline constexpr std::size_t kCompressLzSizeOffset = 1;
inline constexpr std::size_t kCompressLzHeaderSize = 3;

}  // namespace quarrow
