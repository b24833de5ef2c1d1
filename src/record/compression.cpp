// Decoders for compressed tagged data. The engine marks compressed items with a
// flag and names the scheme in the item's first byte (scheme << 3). The LZ
// schemes declare the uncompressed size next; the output buffer is allocated at
// that size once and no decoder writes past it, reads past the input, or copies
// from before the output's start.
#include "record/compression.h"

#include <cstring>

namespace quarrow {
namespace {

// `count` groups of 7 bits from a little-endian bit stream (LSB of each byte first).
// The caller guarantees 7 * count <= 8 * stream.size().
std::string unpack_groups(Bytes stream, std::size_t count, bool widen) {
  std::string out(widen ? count * 2 : count, '\0');
  char* p = out.data();
  std::uint32_t acc = 0;
  unsigned bits = 0;
  std::size_t in = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (bits < 7) {
      acc |= static_cast<std::uint32_t>(stream[in++]) << bits;
      bits += 8;
    }
    *p++ = static_cast<char>(acc & 0x7F);
    acc >>= 7;
    bits -= 7;
    if (widen) *p++ = '\0';  // UTF-16LE high byte
  }
  return out;
}

// Copies a match of `length` bytes from `offset` back; handles overlap (offset <
// length repeats the last `offset` bytes). Bounds are checked by the callers.
inline void copy_match(std::uint8_t* out, std::size_t pos, std::size_t offset, std::size_t length) {
  std::uint8_t* dst = out + pos;
  const std::uint8_t* src = dst - offset;
  if (offset >= length) {
    std::memcpy(dst, src, length);
  } else {
    for (std::size_t k = 0; k < length; ++k) dst[k] = src[k];
  }
}

// The LZ schemes: the scheme byte, the 16-bit uncompressed size, then the stream.
struct Frame {
  Bytes in;
  std::size_t size = 0;
};

std::optional<Frame> frame_of(Bytes data) {
  if (data.size() < kCompressLzHeaderSize) return std::nullopt;
  return Frame{data.subspan(kCompressLzHeaderSize), load_u16le(data, kCompressLzSizeOffset)};
}

}  // namespace

std::string unpack_7bit_legacy(Bytes data) {
  if (data.size() <= kCompress7BitHeaderSize) return {};
  const Bytes packed = data.subspan(kCompress7BitHeaderSize);
  return unpack_groups(packed, packed.size() * 8 / 7, false);
}

std::string unpack_7bit(Bytes data, bool widen) {
  if (data.size() <= kCompress7BitHeaderSize) return {};
  // The header's low 3 bits count the bits used in the last byte, minus one.
  const Bytes packed = data.subspan(kCompress7BitHeaderSize);
  const std::size_t bits = (packed.size() - 1) * 8 + (data[kCompressSchemeOffset] & kCompress7BitLastBitsMask) + 1;
  return unpack_groups(packed, bits / 7, widen);
}

// The plain LZ77 variant of Microsoft's Xpress format (no Huffman stage). The
// stream interleaves 32-bit flag words with the data they describe; flags are
// consumed from the most significant bit down, 0 = one literal byte, 1 = a 16-bit
// match word: offset - 1 in the high 13 bits, length - 3 in the low 3. A length
// field of 7 continues in a half-byte (two matches share one byte, low nibble
// first), then a byte, then a 16-bit and finally a 32-bit word, each of the last
// two holding the whole length - 3.
std::optional<std::string> xpress_decompress(Bytes data) {
  const std::optional<Frame> f = frame_of(data);
  if (!f) return std::nullopt;
  const Bytes in = f->in;
  const std::size_t n = in.size();
  const std::size_t size = f->size;
  std::string result(size, '\0');
  auto* out = reinterpret_cast<std::uint8_t*>(result.data());

  std::size_t ip = 0, op = 0;
  std::uint32_t flags = 0;
  unsigned flag_count = 0;
  std::size_t half_byte = 0;  // position of a shared length byte with its high nibble unused; 0: none
  while (op < size) {
    if (flag_count == 0) {
      if (n - ip < 4) return std::nullopt;
      flags = load_u32le(in, ip);
      ip += 4;
      flag_count = 32;
    }
    --flag_count;
    if (((flags >> flag_count) & 1u) == 0) {
      if (ip >= n) return std::nullopt;
      out[op++] = in[ip++];
      continue;
    }
    if (n - ip < 2) return std::nullopt;
    const std::uint32_t match = load_u16le(in, ip);
    ip += 2;
    const std::size_t offset = (match >> 3) + 1;
    std::size_t length = match & 7u;
    if (length == 7) {
      if (half_byte == 0) {
        if (ip >= n) return std::nullopt;
        length = in[ip] & 0x0Fu;
        half_byte = ip++;  // never 0: a flag word precedes it
      } else {
        length = in[half_byte] >> 4;
        half_byte = 0;
      }
      if (length == 15) {
        if (ip >= n) return std::nullopt;
        length = in[ip++];
        if (length == 255) {
          if (n - ip < 2) return std::nullopt;
          length = load_u16le(in, ip);
          ip += 2;
          if (length == 0) {
            if (n - ip < 4) return std::nullopt;
            length = load_u32le(in, ip);
            ip += 4;
          }
          if (length < 15 + 7) return std::nullopt;
          length -= 15 + 7;
        }
        length += 15;
      }
      length += 7;
    }
    length += 3;
    if (offset > op || length > size - op) return std::nullopt;
    copy_match(out, op, offset, length);
    op += length;
  }
  return result;
}

// A standard LZ4 block: sequences of a token (literal length high nibble, match
// length - 4 low nibble, 15 meaning "add the following bytes up to one below 255"),
// the literals, and a 16-bit offset; the last sequence has literals only.
std::optional<std::string> lz4_decompress(Bytes data) {
  const std::optional<Frame> f = frame_of(data);
  if (!f) return std::nullopt;
  const Bytes in = f->in;
  const std::size_t n = in.size();
  const std::size_t size = f->size;
  std::string result(size, '\0');
  auto* out = reinterpret_cast<std::uint8_t*>(result.data());

  // Adds length-extension bytes; stops early once the length exceeds the output,
  // which also keeps the sum from overflowing.
  std::size_t ip = 0, op = 0;
  auto extend = [&](std::size_t& length) {
    std::uint8_t b;
    do {
      if (ip >= n) return false;
      b = in[ip++];
      length += b;
      if (length > size) return false;
    } while (b == 255);
    return true;
  };

  while (ip < n) {
    const std::uint8_t token = in[ip++];
    std::size_t literals = token >> 4;
    if (literals == 15 && !extend(literals)) return std::nullopt;
    if (literals > n - ip || literals > size - op) return std::nullopt;
    std::memcpy(out + op, in.data() + ip, literals);
    ip += literals;
    op += literals;
    if (ip == n) break;  // the final, literal-only sequence

    if (n - ip < 2) return std::nullopt;
    const std::size_t offset = load_u16le(in, ip);
    ip += 2;
    if (offset == 0 || offset > op) return std::nullopt;
    std::size_t length = token & 0x0Fu;
    if (length == 15 && !extend(length)) return std::nullopt;
    length += 4;
    if (length > size - op) return std::nullopt;
    copy_match(out, op, offset, length);
    op += length;
  }
  if (op != size) return std::nullopt;
  return result;
}

std::optional<std::string> decompress(Bytes data, bool allow_legacy) {
  if (data.empty()) return std::nullopt;
  switch (compression_scheme(data[kCompressSchemeOffset])) {
    case kCompressLegacy7Bit:
      if (!allow_legacy) return std::nullopt;
      return unpack_7bit_legacy(data);
    case kCompress7BitAscii:
      return unpack_7bit(data, false);
    case kCompress7BitUnicode:
      return unpack_7bit(data, true);
    case kCompressXpress:
      return xpress_decompress(data);
    case kCompressLz4:
      return lz4_decompress(data);
    default:  // kCompressXpress9, kCompressXpress10 and unknown schemes
      return std::nullopt;
  }
}

}  // namespace quarrow
