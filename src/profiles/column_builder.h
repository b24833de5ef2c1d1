// One column of a view's Arrow batch under construction: the Arrow producer's value
// builder (validity written from the first null on, buffers from the stream's pool)
// holding a view type's values. The view reader writes plain values straight into it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// Where a dictionary column last put a recurring value (a joined row's text): its
// index in the dictionary of batch `batch`. Kept by the caller per value source, so
// that a value met again in the same batch costs no hashing.
struct DictionarySlot {
  std::int32_t index = -1;
  std::uint32_t batch = 0;
};

class ColumnBuilder {
 public:
  // `layout`: storage_type(type), or a narrower integer (the values are written in
  // its width). `dictionary` (text only): int32 indices into each batch's own
  // dictionary of the distinct values of that batch, in order of first appearance.
  ColumnBuilder(OutType type, DecodedType layout, bool dictionary, std::shared_ptr<arrow::BufferPool> pool,
                std::size_t expected_rows)
      : type_(type),
        dictionary_(dictionary),
        values_(dictionary ? DecodedType::Int32 : layout, std::move(pool), expected_rows) {}

  // A present 64-bit value (integers, timestamps, durations) or a null.
  QUARROW_INLINE void put_int(std::int64_t v) { values_.integer(v); }
  QUARROW_INLINE void put_null() { values_.null(); }
  // A dictionary column's value, looked up once per batch through `slot`.
  QUARROW_INLINE void put_text(DictionarySlot& slot, std::string_view text) {
    if (slot.batch != batch_) slot = {intern(text), batch_};
    values_.integer(slot.index);
  }

  void append(const Cell& c) {
    if (!c.valid) return values_.null();
    if (dictionary_) return values_.integer(intern(c.bytes()));
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
  std::uint64_t data_size() const { return dictionary_ ? words_.size() : values_.data_size(); }
  bool variable() const { return type_ == OutType::Text || type_ == OutType::Binary; }
  bool dictionary() const { return dictionary_; }
  // Hands the batch's values to `out` and starts the next batch (`last`: none).
  void finish(ArrowArray* out, bool last = false) {
    values_.finish(out, last);
    if (!dictionary_) return;
    // The dictionary: a utf8 array of the batch's distinct values, owned by the array.
    auto values = std::make_unique<ArrowArray>();
    arrow::ValueBuilder text(DecodedType::Text, nullptr, offsets_.size(), words_.size());
    for (std::size_t k = 0; k < offsets_.size(); ++k) text.bytes(as_bytes(word(k)));
    text.finish(values.get(), true);
    ArrowArray* dictionary = values.release();
    static_cast<arrow::ArrayNode*>(out->private_data)->dictionary = dictionary;
    out->dictionary = dictionary;
    std::fill(table_.begin(), table_.end(), -1);
    offsets_.clear();
    words_.clear();
    ++batch_;
  }

 private:
  std::string_view word(std::size_t k) const {
    const std::size_t end = k + 1 < offsets_.size() ? offsets_[k + 1] : words_.size();
    return std::string_view(words_).substr(offsets_[k], end - offsets_[k]);
  }
  // The index of `text` in this batch's dictionary, added when new: an open-addressing
  // table of indices, at most half full.
  std::int32_t intern(std::string_view text) {
    if (2 * (offsets_.size() + 1) > table_.size()) rehash(std::max<std::size_t>(64, 2 * table_.size()));
    const std::size_t mask = table_.size() - 1;
    for (std::size_t h = std::hash<std::string_view>{}(text) & mask;; h = (h + 1) & mask) {
      const std::int32_t k = table_[h];
      if (k < 0) {
        table_[h] = static_cast<std::int32_t>(offsets_.size());
        offsets_.push_back(words_.size());
        words_ += text;
        return table_[h];
      }
      if (word(static_cast<std::size_t>(k)) == text) return k;
    }
  }
  void rehash(std::size_t size) {
    table_.assign(size, -1);
    for (std::size_t k = 0; k < offsets_.size(); ++k) {
      std::size_t h = std::hash<std::string_view>{}(word(k)) & (size - 1);
      while (table_[h] >= 0) h = (h + 1) & (size - 1);
      table_[h] = static_cast<std::int32_t>(k);
    }
  }

  OutType type_;
  bool dictionary_;
  arrow::ValueBuilder values_;
  // This batch's dictionary: the values' bytes and where each starts, and the table
  // that finds a value's index (-1: free; its size a power of two).
  std::vector<std::size_t> offsets_;
  std::string words_;
  std::vector<std::int32_t> table_;
  std::uint32_t batch_ = 1;  // DictionarySlot{} (batch 0) is never current
};

}  // namespace quarrow::profiles
