// The small values of the log format: positions (LGPOS), signatures, and the problems a
// reader reports. Positions order the whole log stream: generation, then segment, then
// byte, which is the order of one 64-bit number built from the three.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "format/bytes.h"
#include "format/log.h"

namespace quarrow::logs {

struct LogPosition {
  std::uint32_t generation = 0;
  std::uint16_t sector = 0;
  std::uint16_t byte = 0;

  std::uint64_t key() const {
    return (static_cast<std::uint64_t>(generation) << 32) | (static_cast<std::uint64_t>(sector) << 16) | byte;
  }
  bool is_zero() const { return key() == 0; }
  // The engine writes the position of a record that starts a segment with byte 0: it
  // stands for the first byte after the segment header.
  LogPosition normalised() const {
    LogPosition p = *this;
    if (p.byte == 0 && p.sector != 0) p.byte = static_cast<std::uint16_t>(logfmt::kSegmentHeaderSize);
    return p;
  }
  friend bool operator==(const LogPosition& a, const LogPosition& b) { return a.key() == b.key(); }
  friend bool operator<(const LogPosition& a, const LogPosition& b) { return a.key() < b.key(); }
};

// Reads an LGPOS (ib, isec, generation) at `offset`; zero when it does not fit.
inline LogPosition read_position(Bytes b, std::size_t offset) {
  LogPosition p;
  if (!in_bounds(b, offset, logfmt::kPositionSize)) return p;
  p.byte = load_u16le(b, offset + logfmt::kPositionByteOffset);
  p.sector = load_u16le(b, offset + logfmt::kPositionSectorOffset);
  p.generation = load_u32le(b, offset + logfmt::kPositionGenerationOffset);
  return p;
}

// "GGGGGG,SSSS,BBBB" in upper-case hexadecimal, as the engine's tools print positions.
std::string position_text(const LogPosition& p);

using Signature = std::array<std::uint8_t, logfmt::kSignatureSize>;
inline Signature read_signature(Bytes b, std::size_t offset) {
  Signature s{};
  if (in_bounds(b, offset, s.size())) {
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = b[offset + i];
  }
  return s;
}
// "random-hex created-time" for display.
std::string signature_text(const Signature& s);

// A fact about a file that a reader must know: damage, an unexpected value, data
// that could not be read.
struct LogProblem {
  LogPosition where;  // zero when it concerns the file as a whole
  std::string text;
};

// Bytes of a UTF-16LE name (NUL-terminated or not) as UTF-8.
std::string utf16_name(Bytes b);
// Bytes of an ANSI name (NUL-terminated or not) as UTF-8 (windows-1252).
std::string ansi_name(Bytes b);

}  // namespace quarrow::logs
