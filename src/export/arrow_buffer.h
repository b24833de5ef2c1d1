// The memory half of the Arrow producer: aligned growable buffers, the pool that
// lets a stream reuse the buffers of released batches, and the array nodes that own
// a released batch's buffers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "export/arrow_c.h"
#include "record/decoded.h"

// Hot paths: the per-value appenders have every call inlined into them, growth of
// a buffer stays out of line.
#if defined(__GNUC__) || defined(__clang__)
#define QUARROW_FLATTEN [[gnu::flatten]]
#define QUARROW_NOINLINE [[gnu::noinline]]
#define QUARROW_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define QUARROW_FLATTEN
#define QUARROW_NOINLINE
#define QUARROW_ALWAYS_INLINE inline
#endif

namespace quarrow::arrow {

// Offsets of binary and utf8 arrays are 32-bit: a batch ends early rather than let a
// column's data pass this.
inline constexpr std::uint64_t kMaxBatchData = std::numeric_limits<std::int32_t>::max();

// A growable byte buffer, 64-byte aligned as Arrow recommends (consumers may then use
// it in place with aligned vector loads), and never zero-filled: every byte below
// size() is written by the builders before a batch goes out.
class Buffer {
 public:
  static constexpr std::size_t kAlignment = 64;

  Buffer() = default;
  Buffer(Buffer&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      release();
      data_ = other.data_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      other.data_ = nullptr;
      other.size_ = other.capacity_ = 0;
    }
    return *this;
  }
  ~Buffer() { release(); }

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  void clear() { size_ = 0; }
  void shrink(std::size_t n) { size_ = n; }

  void reserve(std::size_t n) {
    if (n > capacity_) grow(n);
  }
  // Room for n more bytes; the caller writes them and then calls commit(n).
  QUARROW_ALWAYS_INLINE std::uint8_t* room(std::size_t n) {
    if (n > capacity_ - size_) grow(std::max(size_ + n, 2 * capacity_));
    return data_ + size_;
  }
  void commit(std::size_t n) { size_ += n; }
  // The next n bytes, to be written by the caller.
  QUARROW_ALWAYS_INLINE std::uint8_t* append(std::size_t n) {
    std::uint8_t* p = room(n);
    size_ += n;
    return p;
  }
  void push_byte(std::uint8_t v) { *append(1) = v; }
  void push_i32(std::int32_t v) { std::memcpy(append(4), &v, 4); }

 private:
  QUARROW_NOINLINE void grow(std::size_t n) {
    n = (std::max<std::size_t>(n, kAlignment) + kAlignment - 1) / kAlignment * kAlignment;
    auto* fresh = static_cast<std::uint8_t*>(::operator new(n, std::align_val_t(kAlignment)));
    if (size_ > 0) std::memcpy(fresh, data_, size_);
    release();
    data_ = fresh;
    capacity_ = n;
  }
  void release() {
    if (data_ != nullptr) ::operator delete(data_, std::align_val_t(kAlignment));
    data_ = nullptr;
    capacity_ = 0;
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Buffers of released batches, kept for the next batches: a consumer that releases
// each batch before asking for the next (DuckDB, a batch reader loop) reads a whole
// table within the memory of a few batches, and a reading that follows another (an
// EseDatabase keeps one pool for all its readings) takes the pages of the batches the
// consumer has freed instead of fresh ones, which the system must clear first (on a
// table in memory that clearing is a good part of a reading). At most limit() bytes
// are kept; they go back to the system once no buffer was taken or given for
// kIdleMilliseconds, on set_limit(0), and with the pool. Batches may be released on
// any thread.
class BufferPool {
 public:
  // About four batches of 65,536 rows of a dozen columns.
  static constexpr std::size_t kDefaultLimit = std::size_t{64} << 20;
  static constexpr int kIdleMilliseconds = 1000;

  explicit BufferPool(std::size_t limit = kDefaultLimit) : state_(std::make_shared<State>()) {
    state_->limit = limit;
  }
  ~BufferPool();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // A kept buffer with room for `need` bytes and not much more (a batch may live on
  // with it), or an empty one.
  Buffer take(std::size_t need);
  void give(Buffer& v);

  std::size_t limit() const;
  // Keeps at most `bytes` from now on (0: none), giving back what is over.
  void set_limit(std::size_t bytes);
  std::size_t kept_bytes() const;

 private:
  // What the pool and its idle watcher share: the watcher runs detached (a process
  // forked while it waits must not wait for it), holding the state while it runs.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Buffer> kept;
    std::size_t kept_bytes = 0;
    std::size_t limit = 0;
    std::uint64_t uses = 0;  // takes and gives, so the watcher sees activity
    bool closing = false;
    bool watching = false;  // a watcher runs only while buffers are kept
    void trim(std::size_t bytes);  // keeps at most `bytes`; the caller holds the lock
  };
  static void watch(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
};

// Each array node owns its buffers and children.
struct ArrayNode {
  Buffer validity;
  Buffer values;  // fixed-width values, or the data of binary/utf8
  Buffer offsets;  // int32 offsets
  std::vector<const void*> buffers;
  std::vector<ArrowArray*> children;
  ArrowArray* dictionary = nullptr;  // the values of a dictionary-encoded array
  std::shared_ptr<BufferPool> pool;

  // Buffers for `validity_size` bitmap bytes, `values_size` value bytes and
  // `offsets_size` offsets, from the pool where it has them.
  ArrayNode(std::shared_ptr<BufferPool> p, std::size_t validity_size, std::size_t values_size,
            std::size_t offsets_size)
      : pool(std::move(p)) {
    if (pool) {
      validity = pool->take(validity_size);
      values = pool->take(values_size);
      offsets = pool->take(4 * offsets_size);
    }
    validity.reserve(validity_size);
    values.reserve(values_size);
    offsets.reserve(4 * offsets_size);
  }
  ~ArrayNode() {
    if (!pool) return;
    pool->give(validity);
    pool->give(values);
    pool->give(offsets);
  }
};

inline void release_array(ArrowArray* array) {
  auto* node = static_cast<ArrayNode*>(array->private_data);
  for (ArrowArray* child : node->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  if (node->dictionary != nullptr) {
    if (node->dictionary->release != nullptr) node->dictionary->release(node->dictionary);
    delete node->dictionary;
  }
  delete node;
  array->release = nullptr;
}

// Makes `out` the struct array of `node`'s children (one per column, each `rows`
// long); `out` then owns the node.
inline void fill_struct_array(std::unique_ptr<ArrayNode> node, std::int64_t rows, ArrowArray* out) {
  node->buffers = {nullptr};
  out->length = rows;
  out->null_count = 0;
  out->offset = 0;
  out->n_buffers = 1;
  out->n_children = static_cast<std::int64_t>(node->children.size());
  out->buffers = node->buffers.data();
  out->children = node->children.empty() ? nullptr : node->children.data();
  out->dictionary = nullptr;
  out->release = release_array;
  out->private_data = node.release();
}

inline std::size_t value_width(DecodedType type) {
  switch (type) {
    case DecodedType::UInt8: return 1;
    case DecodedType::Int16:
    case DecodedType::UInt16: return 2;
    case DecodedType::Int32:
    case DecodedType::UInt32:
    case DecodedType::Float32: return 4;
    case DecodedType::Int64:
    case DecodedType::Float64:
    case DecodedType::Timestamp: return 8;
    case DecodedType::Decimal:
    case DecodedType::Guid: return 16;
    default: return 0;
  }
}

inline bool variable_width(DecodedType type) { return type == DecodedType::Binary || type == DecodedType::Text; }

// Appends bit `index` (the next one) of a bitmap.
inline void push_bit(Buffer& bits, std::int64_t index, bool on) {
  if ((index & 7) == 0) bits.push_byte(0);
  if (on) bits.data()[bits.size() - 1] |= static_cast<std::uint8_t>(1u << (index & 7));
}

// A buffer's address for the array: never null, also when nothing was written.
inline const void* address(Buffer& b) {
  b.reserve(1);
  return b.data();
}

// Builds one array of values of a type: validity bits, then values (bits for bool,

}  // namespace quarrow::arrow
