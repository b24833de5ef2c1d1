// One column of a view's Arrow batch under construction: the Arrow producer's value
// builder (validity written from the first null on, buffers from the stream's pool)
// holding a view type's values. The view reader writes plain values straight into it.
#pragma once

#include <cstdint>
#include <memory>

#include "export/arrow_builders.h"
#include "profiles/conversions.h"

// The per-value calls of the hot loop: GCC leaves them out of line in the large
// reader loop otherwise.
#if defined(__GNUC__)
#define QUARROW_INLINE [[gnu::always_inline]] inline
#else
#define QUARROW_INLINE inline
#endif

namespace quarrow::profiles {

// The buffer layout of a view type, as the producer's decoded type of the same layout:
// 64-bit integers, timestamps, durations and uint64 bit patterns are all eight bytes
// per value (the schema alone tells them apart).
inline DecodedType storage_type(OutType t) {
  switch (t) {
    case OutType::Bool: return DecodedType::Bool;
    case OutType::Float64: return DecodedType::Float64;
    case OutType::Text: return DecodedType::Text;
    case OutType::Binary: return DecodedType::Binary;
    case OutType::Timestamp: return DecodedType::Timestamp;
    case OutType::Int64:
    case OutType::UInt64:
    case OutType::Duration: break;
  }
  return DecodedType::Int64;
}

class ColumnBuilder {
 public:
  ColumnBuilder(OutType type, std::shared_ptr<arrow::BufferPool> pool, std::size_t expected_rows)
      : type_(type), values_(storage_type(type), std::move(pool), expected_rows) {}

  // A present 64-bit value (integers, timestamps, durations) or a null.
  QUARROW_INLINE void put_int(std::int64_t v) { values_.integer(v); }
  QUARROW_INLINE void put_null() { values_.null(); }

  void append(const Cell& c) {
    if (!c.valid) return values_.null();
    switch (type_) {
      case OutType::Bool: return values_.boolean(c.i != 0);
      case OutType::Float64: return values_.f64(c.f);
      case OutType::Text:
      case OutType::Binary: return values_.bytes(as_bytes(c.bytes()));
      default: return values_.integer(c.i);
    }
  }

  void reserve(std::size_t rows) { values_.reserve(rows); }
  // Bytes of text or binary data so far in this batch.
  std::uint64_t data_size() const { return values_.data_size(); }
  bool variable() const { return type_ == OutType::Text || type_ == OutType::Binary; }
  // Hands the batch's values to `out` and starts the next batch.
  void finish(ArrowArray* out) { values_.finish(out); }

 private:
  OutType type_;
  arrow::ValueBuilder values_;
};

}  // namespace quarrow::profiles
