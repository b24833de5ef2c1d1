// Byte views and little-endian loads. Every read of a multi-byte integer from
// file bytes goes through these helpers; a pointer into a page is never cast to
// a struct (pages need not be aligned, and the fields are little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace quarrow {

using Bytes = std::span<const std::uint8_t>;

// True when [offset, offset + n) lies inside b. Written so that it cannot overflow.
inline bool in_bounds(Bytes b, std::uint64_t offset, std::uint64_t n) {
  return offset <= b.size() && n <= b.size() - offset;
}

// Unchecked loads: callers test in_bounds first.
inline std::uint16_t load_u16le(Bytes b, std::size_t offset) {
  return static_cast<std::uint16_t>(b[offset] | (b[offset + 1] << 8));
}
inline std::uint32_t load_u32le(Bytes b, std::size_t offset) {
  return static_cast<std::uint32_t>(b[offset]) | (static_cast<std::uint32_t>(b[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(b[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(b[offset + 3]) << 24);
}
inline std::uint64_t load_u64le(Bytes b, std::size_t offset) {
  return static_cast<std::uint64_t>(load_u32le(b, offset)) |
         (static_cast<std::uint64_t>(load_u32le(b, offset + 4)) << 32);
}
inline std::uint32_t load_u32be(Bytes b, std::size_t offset) {
  return (static_cast<std::uint32_t>(b[offset]) << 24) | (static_cast<std::uint32_t>(b[offset + 1]) << 16) |
         (static_cast<std::uint32_t>(b[offset + 2]) << 8) | static_cast<std::uint32_t>(b[offset + 3]);
}
inline std::uint64_t load_u64be(Bytes b, std::size_t offset) {
  return (static_cast<std::uint64_t>(load_u32be(b, offset)) << 32) | load_u32be(b, offset + 4);
}

// Little-endian stores, for the writers (log replay); callers test in_bounds first.
inline void store_u16le(std::span<std::uint8_t> b, std::size_t offset, std::uint16_t v) {
  b[offset] = static_cast<std::uint8_t>(v);
  b[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store_u32le(std::span<std::uint8_t> b, std::size_t offset, std::uint32_t v) {
  store_u16le(b, offset, static_cast<std::uint16_t>(v));
  store_u16le(b, offset + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void store_u64le(std::span<std::uint8_t> b, std::size_t offset, std::uint64_t v) {
  store_u32le(b, offset, static_cast<std::uint32_t>(v));
  store_u32le(b, offset + 4, static_cast<std::uint32_t>(v >> 32));
}

// Checked loads: 0 when the field does not lie inside b.
inline std::uint16_t read_u16le(Bytes b, std::uint64_t offset) {
  return in_bounds(b, offset, 2) ? load_u16le(b, static_cast<std::size_t>(offset)) : 0;
}
inline std::uint32_t read_u32le(Bytes b, std::uint64_t offset) {
  return in_bounds(b, offset, 4) ? load_u32le(b, static_cast<std::size_t>(offset)) : 0;
}

inline Bytes as_bytes(std::string_view s) {
  return Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
inline std::string to_string(Bytes b) {
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}
inline std::string_view to_string_view(Bytes b) {
  return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace quarrow
