#include "page/checksum.h"

#include <cstring>

namespace quarrow {
namespace {

// Words are read eight at a time as four 64-bit loads ("a row"). memcpy keeps the
// loads legal on unaligned pages and compiles to plain moves.
constexpr std::size_t kRowBytes = 32;
constexpr std::size_t kWordsPerRow = 8;

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // little-endian hosts only (x86-64, arm64): the format's byte order
}

inline std::uint32_t parity32(std::uint32_t x) {
  x ^= x >> 16;
  x ^= x >> 8;
  x ^= x >> 4;
  return (0x6996u >> (x & 0xF)) & 1u;
}

inline std::uint32_t fold(std::uint64_t x) {
  return static_cast<std::uint32_t>(x) ^ static_cast<std::uint32_t>(x >> 32);
}

}  // namespace

std::uint32_t xor_checksum(Bytes page) {
  const std::uint8_t* p = page.data();
  const std::size_t n = page.size();
  std::uint64_t acc[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (; i + kRowBytes <= n; i += kRowBytes) {
    acc[0] ^= load64(p + i);
    acc[1] ^= load64(p + i + 8);
    acc[2] ^= load64(p + i + 16);
    acc[3] ^= load64(p + i + 24);
  }
  std::uint32_t x = fold(acc[0] ^ acc[1] ^ acc[2] ^ acc[3]);
  for (; i + 4 <= n; i += 4) x ^= load_u32le(page, i);
  // Word 0 holds the checksum itself and does not take part.
  if (n >= 4) x ^= load_u32le(page, 0);
  return x ^ kXorChecksumSeed;
}

// For word index i = 8r + c, the low three index bits come from c and the rest from
// the row r. Bit j of p is the parity of the number of odd-parity words whose index
// has bit j set, which equals the parity of the XOR of those words. So:
//   - low bits: XOR the rows together column-wise (eight accumulators C_c) and take
//     the parity of the XOR of the columns with bit j set;
//   - high bits: a row's parity is the parity of the XOR of its eight words; XOR r << 3
//     into p for every odd row.
// q is the XOR of ~i over the same words: p, inverted when their count is odd, which
// is the parity of col. r and s come from col alone in the same way.
std::uint64_t ecc_checksum(Bytes block, std::uint32_t page_number, bool first_block) {
  const std::uint8_t* b = block.data();
  const std::size_t rows = block.size() / kRowBytes;
  const std::uint32_t n = static_cast<std::uint32_t>(block.size() / 4);
  std::uint64_t c01 = 0, c23 = 0, c45 = 0, c67 = 0;
  std::uint32_t p_high = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint8_t* row = b + r * kRowBytes;
    std::uint64_t w01 = load64(row);
    if (r == 0 && first_block) w01 = 0;
    const std::uint64_t w23 = load64(row + 8), w45 = load64(row + 16), w67 = load64(row + 24);
    c01 ^= w01;
    c23 ^= w23;
    c45 ^= w45;
    c67 ^= w67;
    const std::uint32_t odd = parity32(fold(w01 ^ w23 ^ w45 ^ w67));
    p_high ^= static_cast<std::uint32_t>(r * kWordsPerRow) & (0u - odd);
  }
  const std::uint32_t c[kWordsPerRow] = {
      static_cast<std::uint32_t>(c01), static_cast<std::uint32_t>(c01 >> 32),
      static_cast<std::uint32_t>(c23), static_cast<std::uint32_t>(c23 >> 32),
      static_cast<std::uint32_t>(c45), static_cast<std::uint32_t>(c45 >> 32),
      static_cast<std::uint32_t>(c67), static_cast<std::uint32_t>(c67 >> 32)};
  const std::uint32_t col = c[0] ^ c[1] ^ c[2] ^ c[3] ^ c[4] ^ c[5] ^ c[6] ^ c[7];
  std::uint32_t p = p_high;
  p |= parity32(c[1] ^ c[3] ^ c[5] ^ c[7]) << 0;
  p |= parity32(c[2] ^ c[3] ^ c[6] ^ c[7]) << 1;
  p |= parity32(c[4] ^ c[5] ^ c[6] ^ c[7]) << 2;
  const std::uint32_t invert = 0u - parity32(col);
  const std::uint32_t q = p ^ invert;
  std::uint32_t r = 0;
  r |= parity32(col & 0xAAAAAAAAu) << 0;
  r |= parity32(col & 0xCCCCCCCCu) << 1;
  r |= parity32(col & 0xF0F0F0F0u) << 2;
  r |= parity32(col & 0xFF00FF00u) << 3;
  r |= parity32(col & 0xFFFF0000u) << 4;
  const std::uint32_t s = r ^ invert;
  const std::uint32_t ecc = ((q & (n - 1)) << 21) | ((s & 31) << 16) | ((p & (n - 1)) << 5) | (r & 31);
  return (static_cast<std::uint64_t>(ecc) << 32) | (col ^ page_number);
}

std::optional<std::uint32_t> locate_flipped_bit(std::uint64_t stored, std::uint64_t computed,
                                                std::size_t block_size) {
  const std::uint32_t xor_diff = static_cast<std::uint32_t>(stored ^ computed);
  if (xor_diff == 0 || (xor_diff & (xor_diff - 1)) != 0) return std::nullopt;
  const std::uint32_t d = static_cast<std::uint32_t>((stored ^ computed) >> 32);
  const std::uint32_t mask = static_cast<std::uint32_t>(block_size * 8 - 1);
  if ((((d >> 16) ^ d) & mask) != mask) return std::nullopt;
  const std::uint32_t bit = d & 0xFFFF;
  // The located bit must be the one that changed col.
  if ((1u << (bit & 31)) != xor_diff) return std::nullopt;
  return bit;
}

}  // namespace quarrow
