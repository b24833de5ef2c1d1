// The columns of one Arrow batch under construction: validity bits, 64-bit values,
// 32-bit offsets and bytes. The view reader writes plain values straight into them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "profiles/conversions.h"

// The per-value calls of the hot loop: GCC leaves them out of line in the large
// reader loop otherwise.
#if defined(__GNUC__)
#define QUARROW_INLINE [[gnu::always_inline]] inline
#else
#define QUARROW_INLINE inline
#endif

namespace quarrow::profiles {

// A growable buffer of trivially copyable values, not initialised ahead of use (the
// builder writes every slot it hands out).
template <class T>
class RawBuffer {
 public:
  T* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  // Makes room for `n` values in all, keeping the ones written.
  void reserve(std::size_t n) {
    if (n <= capacity_) return;
    const std::size_t want = std::max(n, capacity_ * 2);
    std::unique_ptr<T[]> bigger(new T[want]);
    if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(bigger);
    capacity_ = want;
  }
  QUARROW_INLINE void push(T v) {
    if (size_ == capacity_) reserve(size_ + 1);
    data_[size_++] = v;
  }
  // One more zero-filled value.
  QUARROW_INLINE void push_zero() { push(T{}); }
  QUARROW_INLINE T& back() { return data_[size_ - 1]; }

 private:
  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

struct ColumnBuilder {
  OutType type = OutType::Text;
  RawBuffer<std::uint8_t> validity;  // one bit per row
  RawBuffer<std::uint8_t> bits;      // Bool values
  RawBuffer<std::int64_t> ints;      // 64-bit values (Float64 bit patterns too)
  std::vector<std::int32_t> offsets{0};
  std::string data;
  std::int64_t nulls = 0;

  // Rows arrive in order 0, 1, 2, ...: a new validity byte every eighth row.
  QUARROW_INLINE void valid_bit(bool valid, std::int64_t row) {
    if ((row & 7) == 0) validity.push_zero();
    if (valid) validity.back() |= static_cast<std::uint8_t>(1u << (row & 7));
    else ++nulls;
  }
  // A present 64-bit value (integers, timestamps, durations) or a null.
  QUARROW_INLINE void put_int(std::int64_t v, std::int64_t row) {
    valid_bit(true, row);
    ints.push(v);
  }
  QUARROW_INLINE void put_null_int(std::int64_t row) {
    valid_bit(false, row);
    ints.push(0);
  }

  void append(const Cell& c, std::int64_t row) {
    valid_bit(c.valid, row);
    switch (type) {
      case OutType::Bool:
        if ((row & 7) == 0) bits.push_zero();
        if (c.valid && c.i != 0) bits.back() |= static_cast<std::uint8_t>(1u << (row & 7));
        break;
      case OutType::Float64: {
        std::int64_t pattern = 0;
        if (c.valid) std::memcpy(&pattern, &c.f, sizeof pattern);
        ints.push(pattern);
        break;
      }
      case OutType::Text:
      case OutType::Binary:
        if (c.valid) data += c.bytes();
        offsets.push_back(static_cast<std::int32_t>(data.size()));
        break;
      default:
        ints.push(c.valid ? c.i : 0);
        break;
    }
  }
};

}  // namespace quarrow::profiles
