// The value half of the Arrow producer: builders that append one column's values of
// a batch into Arrow buffers, either decoded cells or stored bytes decoded in place.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "export/arrow_buffer.h"
#include "record/decoded.h"
#include "record/text.h"

namespace quarrow::arrow {

class ValueBuilder {
 public:
  // `expected_data`: bytes to reserve for the values when more than the fixed width
  // of `expected_rows` values (the data of binary and utf8 columns).
  ValueBuilder(DecodedType type, std::shared_ptr<BufferPool> pool, std::size_t expected_rows,
               std::size_t expected_data = 0)
      : type_(type), width_(value_width(type)), pool_(std::move(pool)) {
    start(expected_rows / 8 + 1, std::max(expected_rows * width_, expected_data),
          variable_width(type) ? expected_rows + 1 : 0);
  }

  std::uint64_t data_size() const { return node_->values.size(); }
  // The bytes of the values of the last batch finished (0 before the first).
  std::size_t last_data_size() const { return last_data_size_; }

  // Room for `rows` values of the batch in all, keeping those written (the data of
  // binary and utf8 values aside).
  void reserve(std::size_t rows) {
    node_->values.reserve(rows * width_);
    if (variable_width(type_)) node_->offsets.reserve(4 * (rows + 1));
  }

  // A decoded value (from a DecodedCell).
  void append(const DecodedValue& v) {
    if (!v.valid) return null();
    switch (type_) {
      case DecodedType::Null: return null();
      case DecodedType::Bool: return boolean(v.b);
      case DecodedType::Float32: return f32(v.f32);
      case DecodedType::Float64: return f64(v.f64);
      case DecodedType::Guid: return guid(v.guid.data());
      case DecodedType::Binary:
      case DecodedType::Text: return bytes(as_bytes(v.bytes));
      default: return integer(v.i);
    }
  }

  // Plain stored bytes, decoded straight into the buffers: append_stored_as<T> is
  // decode_scalar_into with the type known at compile time, one per column type.
  template <DecodedType T>
  QUARROW_FLATTEN static void append_stored_as(ValueBuilder& b, Bytes data, std::uint32_t codepage) {
    decode_scalar_into(data, T, codepage, b);
  }
  using StoredAppender = void (*)(ValueBuilder&, Bytes, std::uint32_t);
  static StoredAppender stored_appender(DecodedType type) {
    switch (type) {
      case DecodedType::Null: return append_stored_as<DecodedType::Null>;
      case DecodedType::Bool: return append_stored_as<DecodedType::Bool>;
      case DecodedType::UInt8: return append_stored_as<DecodedType::UInt8>;
      case DecodedType::Int16: return append_stored_as<DecodedType::Int16>;
      case DecodedType::UInt16: return append_stored_as<DecodedType::UInt16>;
      case DecodedType::Int32: return append_stored_as<DecodedType::Int32>;
      case DecodedType::UInt32: return append_stored_as<DecodedType::UInt32>;
      case DecodedType::Int64: return append_stored_as<DecodedType::Int64>;
      case DecodedType::Float32: return append_stored_as<DecodedType::Float32>;
      case DecodedType::Float64: return append_stored_as<DecodedType::Float64>;
      case DecodedType::Timestamp: return append_stored_as<DecodedType::Timestamp>;
      case DecodedType::Decimal: return append_stored_as<DecodedType::Decimal>;
      case DecodedType::Guid: return append_stored_as<DecodedType::Guid>;
      case DecodedType::Binary: return append_stored_as<DecodedType::Binary>;
      case DecodedType::Text: return append_stored_as<DecodedType::Text>;
    }
    return append_stored_as<DecodedType::Null>;
  }

  // The sink of decode_scalar_into.
  void null() {
    // The bitmap is written from the first null on: a column without nulls needs none.
    if (null_count_ == 0) start_validity();
    push_bit(node_->validity, length_, false);
    ++null_count_;
    switch (type_) {
      case DecodedType::Null: break;
      case DecodedType::Bool: push_bit(node_->values, length_, false); break;
      case DecodedType::Binary:
      case DecodedType::Text: node_->offsets.push_i32(static_cast<std::int32_t>(node_->values.size())); break;
      default: std::memset(node_->values.append(width_), 0, width_); break;
    }
    ++length_;
  }
  void boolean(bool v) {
    valid();
    push_bit(node_->values, length_ - 1, v);
  }
  // Always inlined: the views' reader appends most of its values by this call from a
  // loop too large for the compiler to inline it on its own.
  QUARROW_ALWAYS_INLINE void integer(std::int64_t v) {
    std::uint8_t* p = node_->values.append(width_);
    // The low bytes of the 64-bit value (little-endian) for every integer width;
    // Currency as two's complement in 16 bytes, the 64-bit count sign-extended.
    switch (width_) {
      case 1: *p = static_cast<std::uint8_t>(v); break;
      case 2: std::memcpy(p, &v, 2); break;
      case 4: std::memcpy(p, &v, 4); break;
      case 8: std::memcpy(p, &v, 8); break;
      default: {
        const std::int64_t words[2] = {v, v < 0 ? -1 : 0};
        std::memcpy(p, words, 16);
      }
    }
    valid();
  }
  void f32(float v) {
    std::memcpy(node_->values.append(4), &v, 4);
    valid();
  }
  void f64(double v) {
    std::memcpy(node_->values.append(8), &v, 8);
    valid();
  }
  void guid(const std::uint8_t* rfc) {
    std::memcpy(node_->values.append(16), rfc, 16);
    valid();
  }
  void bytes(Bytes d) {
    Buffer& values = node_->values;
    if (values.size() + d.size() > kMaxBatchData) return null();
    if (!d.empty()) std::memcpy(values.append(d.size()), d.data(), d.size());
    node_->offsets.push_i32(static_cast<std::int32_t>(values.size()));
    valid();
  }
  void text(Bytes d, std::uint32_t codepage) {
    Buffer& values = node_->values;
    char* out = reinterpret_cast<char*>(values.room(decoded_text_bound(d.size())));
    std::size_t n = decode_text_to(d, codepage, out);
    if (n == kUnknownCodepage || values.size() + n > kMaxBatchData) return null();
    n = without_trailing_nuls(out, n);
    values.commit(n);
    node_->offsets.push_i32(static_cast<std::int32_t>(values.size()));
    valid();
  }

  // Hands the values so far to `out` and starts an empty array with room for as many
  // (`last`: none, nothing more is appended).
  void finish(ArrowArray* out, bool last = false) {
    ArrayNode* node = node_.release();
    const bool nulls = null_count_ > 0;
    const void* validity = nulls ? node->validity.data() : nullptr;
    if (type_ == DecodedType::Null) {
      node->buffers.clear();
    } else if (variable_width(type_)) {
      node->buffers = {validity, address(node->offsets), address(node->values)};
    } else {
      node->buffers = {validity, address(node->values)};
    }
    out->length = length_;
    out->null_count = type_ == DecodedType::Null ? length_ : null_count_;
    out->offset = 0;
    out->n_buffers = static_cast<std::int64_t>(node->buffers.size());
    out->n_children = 0;
    out->buffers = node->buffers.empty() ? nullptr : node->buffers.data();
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = release_array;
    out->private_data = node;
    last_data_size_ = node->values.size();
    if (!last) start(static_cast<std::size_t>(length_) / 8 + 1, last_data_size_, node->offsets.size() / 4);
  }

 private:
  // Completes a non-null value whose data is already in place.
  QUARROW_ALWAYS_INLINE void valid() {
    if (null_count_ > 0) push_bit(node_->validity, length_, true);
    ++length_;
  }

  // The bits of the values so far, all valid.
  void start_validity() {
    Buffer& bits = node_->validity;
    bits.clear();
    const std::size_t full = static_cast<std::size_t>(length_ / 8);
    if (full > 0) std::memset(bits.append(full), 0xFF, full);
    if (length_ % 8) bits.push_byte(static_cast<std::uint8_t>((1u << (length_ % 8)) - 1));
  }

  void start(std::size_t validity, std::size_t values, std::size_t offsets) {
    node_ = std::make_unique<ArrayNode>(pool_, validity, values, offsets);
    length_ = 0;
    null_count_ = 0;
    if (variable_width(type_)) node_->offsets.push_i32(0);
  }

  DecodedType type_;
  std::size_t width_;
  std::shared_ptr<BufferPool> pool_;
  std::unique_ptr<ArrayNode> node_;
  std::int64_t length_ = 0;
  std::int64_t null_count_ = 0;
  std::size_t last_data_size_ = 0;
};

// One column: its values, or a list array over them for multi-valued columns.
class ColumnBuilder {
 public:
  ColumnBuilder(const DecodedColumn& column, std::shared_ptr<BufferPool> pool, std::size_t expected_rows,
                std::size_t expected_data = 0)
      : list_(column.list),
        stored_(ValueBuilder::stored_appender(column.type)),
        pool_(pool),
        values_(column.type, std::move(pool), expected_rows, expected_data) {
    start(expected_rows);
  }

  // The data bytes a cell would add (binary and utf8 columns).
  static std::uint64_t data_bytes(const DecodedCell& cell) {
    std::uint64_t n = 0;
    for (std::size_t k = 0; k < cell.size; ++k) n += cell.items[k].bytes.size();
    return n;
  }
  std::uint64_t data_size() const { return values_.data_size(); }
  std::size_t last_data_size() const { return values_.last_data_size(); }

  // Single-valued columns only.
  void append_stored(Bytes data, std::uint32_t codepage) { stored_(values_, data, codepage); }
  void append_null() { values_.null(); }

  void append(const DecodedCell& cell) {
    if (!list_) {
      static const DecodedValue kNull;
      values_.append(cell.valid && cell.size > 0 ? cell.items[0] : kNull);
      return;
    }
    push_bit(node_->validity, length_, cell.valid);
    if (cell.valid) {
      for (std::size_t k = 0; k < cell.size; ++k) values_.append(cell.items[k]);
      child_length_ += static_cast<std::int64_t>(cell.size);
    } else {
      ++null_count_;
    }
    node_->offsets.push_i32(static_cast<std::int32_t>(child_length_));
    ++length_;
  }

  void finish(ArrowArray* out) {
    if (!list_) {
      values_.finish(out);
      return;
    }
    auto child = std::make_unique<ArrowArray>();
    values_.finish(child.get());
    ArrayNode* node = node_.release();
    node->children.push_back(child.release());
    node->buffers = {null_count_ > 0 ? node->validity.data() : nullptr, address(node->offsets)};
    out->length = length_;
    out->null_count = null_count_;
    out->offset = 0;
    out->n_buffers = 2;
    out->n_children = 1;
    out->buffers = node->buffers.data();
    out->children = node->children.data();
    out->dictionary = nullptr;
    out->release = release_array;
    out->private_data = node;
    start(node->offsets.size() / 4);
  }

 private:
  void start(std::size_t rows) {
    if (!list_) return;
    node_ = std::make_unique<ArrayNode>(pool_, rows / 8 + 1, 0, rows + 1);
    node_->offsets.push_i32(0);
    length_ = 0;
    null_count_ = 0;
    child_length_ = 0;
  }

  bool list_;
  ValueBuilder::StoredAppender stored_;
  std::shared_ptr<BufferPool> pool_;
  ValueBuilder values_;
  std::unique_ptr<ArrayNode> node_;  // list columns: validity and offsets
  std::int64_t length_ = 0;
  std::int64_t null_count_ = 0;
  std::int64_t child_length_ = 0;
};

}  // namespace quarrow::arrow
