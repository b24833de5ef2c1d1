// The columns of one Arrow batch under construction: validity bits, 64-bit values,
// 32-bit offsets and bytes. The view reader writes plain values straight into them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "profiles/conversions.h"

namespace quarrow::profiles {

struct ColumnBuilder {
  OutType type = OutType::Text;
  std::vector<std::uint8_t> validity;
  std::vector<std::uint8_t> bits;      // Bool values
  std::vector<std::int64_t> ints;      // 64-bit values (Float64 bit patterns too)
  std::vector<std::int32_t> offsets{0};
  std::string data;
  std::int64_t nulls = 0;

  // A present 64-bit value (integers, timestamps, durations) or a null.
  [[gnu::always_inline]] void put_int(std::int64_t v, std::int64_t row) {
    const std::size_t byte = static_cast<std::size_t>(row >> 3);
    if (validity.size() <= byte) validity.push_back(0);
    validity[byte] |= static_cast<std::uint8_t>(1u << (row & 7));
    ints.push_back(v);
  }
  [[gnu::always_inline]] void put_null_int(std::int64_t row) {
    const std::size_t byte = static_cast<std::size_t>(row >> 3);
    if (validity.size() <= byte) validity.push_back(0);
    ++nulls;
    ints.push_back(0);
  }

  void append(const Cell& c, std::int64_t row) {
    const std::size_t byte = static_cast<std::size_t>(row >> 3);
    if (validity.size() <= byte) validity.push_back(0);
    if (c.valid) validity[byte] |= static_cast<std::uint8_t>(1u << (row & 7));
    else ++nulls;
    switch (type) {
      case OutType::Bool:
        if (bits.size() <= byte) bits.push_back(0);
        if (c.valid && c.i != 0) bits[byte] |= static_cast<std::uint8_t>(1u << (row & 7));
        break;
      case OutType::Float64: {
        std::int64_t pattern = 0;
        if (c.valid) std::memcpy(&pattern, &c.f, sizeof pattern);
        ints.push_back(pattern);
        break;
      }
      case OutType::Text:
      case OutType::Binary:
        if (c.valid) data += c.bytes();
        offsets.push_back(static_cast<std::int32_t>(data.size()));
        break;
      default:
        ints.push_back(c.valid ? c.i : 0);
        break;
    }
  }
};

}  // namespace quarrow::profiles
