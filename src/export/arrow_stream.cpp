#include "export/arrow_stream.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "record/decoded.h"
#include "record/parser.h"
#include "record/text.h"

// Hot paths: the per-value appenders have every call inlined into them, growth of
// a buffer stays out of line.
#if defined(__GNUC__) || defined(__clang__)
#define QUARROW_FLATTEN [[gnu::flatten]]
#define QUARROW_NOINLINE [[gnu::noinline]]
#else
#define QUARROW_FLATTEN
#define QUARROW_NOINLINE
#endif

namespace quarrow {
namespace {

// Offsets of binary and utf8 arrays are 32-bit: a batch ends early rather than let a
// column's data pass this.
constexpr std::uint64_t kMaxBatchData = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kReserveRows = 1 << 16;
constexpr std::uint64_t kReserveBytes = 16u << 20;

// ---- Schemas ------------------------------------------------------------------------

// Each schema node owns its strings and children, so a consumer may move a child out
// and release it on its own, as the interface allows.
struct SchemaNode {
  std::string format;
  std::string name;
  std::string metadata;
  std::vector<ArrowSchema*> children;
};

void release_schema(ArrowSchema* schema) {
  auto* node = static_cast<SchemaNode*>(schema->private_data);
  for (ArrowSchema* child : node->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete node;
  schema->release = nullptr;
}

// Metadata in the interface's encoding: int32 count, then per pair int32 length and
// bytes of the key, int32 length and bytes of the value (native byte order).
std::string encode_metadata(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out;
  const auto put = [&](std::int32_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(static_cast<std::int32_t>(pairs.size()));
  for (const auto& [key, value] : pairs) {
    put(static_cast<std::int32_t>(key.size()));
    out += key;
    put(static_cast<std::int32_t>(value.size()));
    out += value;
  }
  return out;
}

void fill_schema(ArrowSchema* out, SchemaNode* node, std::int64_t flags) {
  out->format = node->format.c_str();
  out->name = node->name.c_str();
  out->metadata = node->metadata.empty() ? nullptr : node->metadata.data();
  out->flags = flags;
  out->n_children = static_cast<std::int64_t>(node->children.size());
  out->children = node->children.empty() ? nullptr : node->children.data();
  out->dictionary = nullptr;
  out->release = release_schema;
  out->private_data = node;
}

const char* format_of(DecodedType type) {
  switch (type) {
    case DecodedType::Null: return "n";
    case DecodedType::Bool: return "b";
    case DecodedType::UInt8: return "C";
    case DecodedType::Int16: return "s";
    case DecodedType::UInt16: return "S";
    case DecodedType::Int32: return "i";
    case DecodedType::UInt32: return "I";
    case DecodedType::Int64: return "l";
    case DecodedType::Float32: return "f";
    case DecodedType::Float64: return "g";
    case DecodedType::Timestamp: return "tsu:";
    case DecodedType::Decimal: return "d:19,4";
    case DecodedType::Guid: return "w:16";
    case DecodedType::Binary: return "z";
    case DecodedType::Text: return "u";
  }
  return "n";
}

using Metadata = std::vector<std::pair<std::string, std::string>>;

Metadata uuid_metadata() { return {{"ARROW:extension:name", "arrow.uuid"}, {"ARROW:extension:metadata", ""}}; }

// One field: the column's value type, or a list of it for multi-valued columns.
ArrowSchema* column_schema(const DecodedColumn& column) {
  const ColumnInfo& info = *column.info;
  Metadata metadata{{"ese.type", column_type_name(info.column_type) ? column_type_name(info.column_type) : "?"},
                    {"ese.column_id", std::to_string(info.id)}};
  auto value_node = std::make_unique<SchemaNode>();
  value_node->format = format_of(column.type);
  Metadata value_metadata = column.type == DecodedType::Guid ? uuid_metadata() : Metadata();
  auto value = std::make_unique<ArrowSchema>();
  if (column.list) {
    value_node->name = "item";
    value_node->metadata = value_metadata.empty() ? std::string() : encode_metadata(value_metadata);
    fill_schema(value.get(), value_node.release(), ARROW_FLAG_NULLABLE);
    auto list_node = std::make_unique<SchemaNode>();
    list_node->format = "+l";
    list_node->name = lossy_utf8(as_bytes(info.name));
    list_node->metadata = encode_metadata(metadata);
    list_node->children.push_back(value.release());
    auto list = std::make_unique<ArrowSchema>();
    fill_schema(list.get(), list_node.release(), ARROW_FLAG_NULLABLE);
    return list.release();
  }
  value_node->name = lossy_utf8(as_bytes(info.name));
  metadata.insert(metadata.end(), value_metadata.begin(), value_metadata.end());
  value_node->metadata = encode_metadata(metadata);
  fill_schema(value.get(), value_node.release(), ARROW_FLAG_NULLABLE);
  return value.release();
}

void fill_table_schema(const std::vector<DecodedColumn>& columns, ArrowSchema* out) {
  auto node = std::make_unique<SchemaNode>();
  node->format = "+s";
  node->children.reserve(columns.size());
  try {
    for (const DecodedColumn& column : columns) node->children.push_back(column_schema(column));
  } catch (...) {
    for (ArrowSchema* child : node->children) {
      child->release(child);
      delete child;
    }
    throw;
  }
  fill_schema(out, node.release(), 0);
}

// ---- Arrays -------------------------------------------------------------------------

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
  std::uint8_t* room(std::size_t n) {
    if (n > capacity_ - size_) grow(std::max(size_ + n, 2 * capacity_));
    return data_ + size_;
  }
  void commit(std::size_t n) { size_ += n; }
  // The next n bytes, to be written by the caller.
  std::uint8_t* append(std::size_t n) {
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

// Buffers of released batches, kept for the next batches of the same stream: a
// consumer that releases each batch before asking for the next (DuckDB, a batch
// reader loop) then reads the whole table within the memory of a few batches, without
// fresh pages for every batch. Batches may be released on any thread.
class BufferPool {
 public:
  // A kept buffer with room for `need` bytes and not much more (a batch may live on
  // with it), or an empty one.
  Buffer take(std::size_t need) {
    if (need == 0) return Buffer();
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t k = kept_.size(); k-- > 0;) {
      const std::size_t capacity = kept_[k].capacity();
      if (capacity >= need && capacity <= 2 * need + 4096) {
        Buffer v = std::move(kept_[k]);
        kept_[k] = std::move(kept_.back());
        kept_.pop_back();
        return v;
      }
    }
    return Buffer();
  }
  void give(Buffer& v) {
    if (v.capacity() == 0) return;
    v.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.size() < kMaxKept) kept_.push_back(std::move(v));
  }

 private:
  static constexpr std::size_t kMaxKept = 256;

  std::mutex mutex_;
  std::vector<Buffer> kept_;
};

// Each array node owns its buffers and children.
struct ArrayNode {
  Buffer validity;
  Buffer values;  // fixed-width values, or the data of binary/utf8
  Buffer offsets;  // int32 offsets
  std::vector<const void*> buffers;
  std::vector<ArrowArray*> children;
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

void release_array(ArrowArray* array) {
  auto* node = static_cast<ArrayNode*>(array->private_data);
  for (ArrowArray* child : node->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete node;
  array->release = nullptr;
}

std::size_t value_width(DecodedType type) {
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

bool variable_width(DecodedType type) { return type == DecodedType::Binary || type == DecodedType::Text; }

// Appends bit `index` (the next one) of a bitmap.
inline void push_bit(Buffer& bits, std::int64_t index, bool on) {
  if ((index & 7) == 0) bits.push_byte(0);
  if (on) bits.data()[bits.size() - 1] |= static_cast<std::uint8_t>(1u << (index & 7));
}

// A buffer's address for the array: never null, also when nothing was written.
const void* address(Buffer& b) {
  b.reserve(1);
  return b.data();
}

// Builds one array of values of a type: validity bits, then values (bits for bool,
// fixed-width little-endian, or 32-bit offsets and data).
class ValueBuilder {
 public:
  ValueBuilder(DecodedType type, std::shared_ptr<BufferPool> pool, std::size_t expected_rows)
      : type_(type), width_(value_width(type)), pool_(std::move(pool)) {
    start(expected_rows / 8 + 1, expected_rows * width_, variable_width(type) ? expected_rows + 1 : 0);
  }

  std::uint64_t data_size() const { return node_->values.size(); }

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
  void integer(std::int64_t v) {
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

  // Hands the values so far to `out` and starts an empty array with room for as many.
  void finish(ArrowArray* out) {
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
    start(static_cast<std::size_t>(length_) / 8 + 1, node->values.size(), node->offsets.size() / 4);
  }

 private:
  // Completes a non-null value whose data is already in place.
  void valid() {
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
};

// One column: its values, or a list array over them for multi-valued columns.
class ColumnBuilder {
 public:
  ColumnBuilder(const DecodedColumn& column, std::shared_ptr<BufferPool> pool, std::size_t expected_rows)
      : list_(column.list),
        stored_(ValueBuilder::stored_appender(column.type)),
        pool_(pool),
        values_(column.type, std::move(pool), expected_rows) {
    start(expected_rows);
  }

  // The data bytes a cell would add (binary and utf8 columns).
  static std::uint64_t data_bytes(const DecodedCell& cell) {
    std::uint64_t n = 0;
    for (std::size_t k = 0; k < cell.size; ++k) n += cell.items[k].bytes.size();
    return n;
  }
  std::uint64_t data_size() const { return values_.data_size(); }

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

// ---- The stream ---------------------------------------------------------------------

struct StreamState {
  StreamState(std::shared_ptr<const Database> database, TableRecordReader table_reader)
      : db(std::move(database)),
        reader(std::make_unique<TableRecordReader>(std::move(table_reader))),
        decoder(*db, reader->table(), reader->plan()) {
    const std::vector<DecodedColumn>& columns = decoder.columns();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const DecodedColumn& c = columns[k];
      const ColumnInfo& info = *c.info;
      codepages.push_back(info.codepage.value_or(kDefaultCodepage));
      // Absent columns read as the catalog's default when it has one the decoder
      // can apply; otherwise an absent or null single value is a plain null.
      const bool has_default = (info.flags & kColumnHasDefault) && !(info.flags & kColumnDefaultCallback) &&
                               !info.default_value.empty();
      absent_decoded.push_back(c.list || has_default);
      lists.push_back(c.list);
      if (c.list || variable_width(c.type)) sized.push_back(k);
    }
    routes.resize(columns.size());
    cells.resize(columns.size());
  }

  std::shared_ptr<const Database> db;  // keeps the mapping and the catalog alive
  std::unique_ptr<TableRecordReader> reader;  // the decoder refers to its plan
  RecordDecoder decoder;
  std::vector<std::uint32_t> codepages;
  std::vector<ColumnBuilder> builders;
  std::vector<char> lists;           // column k is multi-valued
  std::vector<char> absent_decoded;  // column k, absent or null, goes through the decoder
  std::vector<std::size_t> sized;     // columns whose data can pass the 32-bit offsets
  // The record being added: how each column goes in (Route), with cells[k] holding
  // the decoded value of the columns routed through the decoder.
  std::vector<char> routes;
  std::vector<DecodedCell> cells;
  std::int64_t batch_rows = kDefaultBatchRows;
  bool pending = false;  // a record located but not yet in a batch
  bool finished = false;
  std::string last_error;
};

StreamState* state_of(ArrowArrayStream* stream) { return static_cast<StreamState*>(stream->private_data); }

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  StreamState* s = state_of(stream);
  try {
    fill_table_schema(s->decoder.columns(), out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

// How a column of the record being added goes into its builder.
enum Route : char {
  kStored,   // a present single value: its stored bytes, decoded into the buffers
  kNull,     // a single value, null or absent without a default
  kDecoded,  // anything else (lists, defaults, long values, compression): cells[k]
};

// A record fits the batch unless it could take a binary or utf8 column past the
// 32-bit offsets. Stored text grows at most to decoded_text_bound as UTF-8.
bool fits(const StreamState& s) {
  for (const std::size_t k : s.sized) {
    std::uint64_t extra = 0;
    if (s.routes[k] == kStored) {
      extra = decoded_text_bound(s.decoder.stored(k).data.size());
    } else if (s.routes[k] == kDecoded) {
      extra = ColumnBuilder::data_bytes(s.cells[k]);
    }
    if (extra > 0 && s.builders[k].data_size() + extra > kMaxBatchData) return false;
  }
  return true;
}

// Locates the next record and decodes the columns that need more than their bytes.
TableRecordReader::Step next_record(StreamState& s) {
  Bytes data;
  const TableRecordReader::Step step = s.reader->next_data(data);
  if (step != TableRecordReader::Step::Record) return step;
  s.decoder.locate(data);
  const std::size_t n = s.routes.size();
  char* const routes = s.routes.data();
  for (std::size_t k = 0; k < n; ++k) {
    const StoredCell& cell = s.decoder.stored(k);
    Route route;
    if (cell.state == StoredCell::State::Present) {
      // A single value stored as it is (0x01 only says the column is a long-value
      // column whose value is kept inline) goes straight into the buffers.
      route = !s.lists[k] && (cell.flags & ~kItemLongValueColumn) == 0 ? kStored : kDecoded;
    } else {
      route = s.absent_decoded[k] && cell.state == StoredCell::State::Absent ? kDecoded : kNull;
      if (route == kNull && s.lists[k]) route = kDecoded;  // a null list
    }
    routes[k] = route;
    if (route == kDecoded) s.decoder.decode_column(k, s.cells[k]);
  }
  return step;
}

void emit_batch(StreamState& s, std::int64_t rows, ArrowArray* out) {
  auto node = std::make_unique<ArrayNode>(nullptr, 0, 0, 0);
  node->children.reserve(s.builders.size());
  for (ColumnBuilder& builder : s.builders) {
    auto child = std::make_unique<ArrowArray>();
    builder.finish(child.get());
    node->children.push_back(child.release());
  }
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

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  StreamState* s = state_of(stream);
  try {
    if (!s->last_error.empty()) return EIO;
    std::int64_t rows = 0;
    while (rows < s->batch_rows) {
      if (!s->pending) {
        if (s->finished) break;
        const TableRecordReader::Step step = next_record(*s);
        if (step == TableRecordReader::Step::End) {
          s->finished = true;
          break;
        }
        if (step == TableRecordReader::Step::Error) {
          s->last_error = in_context(ErrorContext::ReadingRecord, s->reader->error());
          // The rows gathered for this batch are dropped with the builders' contents
          // when the stream is released.
          return EIO;
        }
        s->pending = true;
      }
      if (rows > 0 && !fits(*s)) break;
      const std::size_t n = s->builders.size();
      ColumnBuilder* const builders = s->builders.data();
      const char* const routes = s->routes.data();
      for (std::size_t k = 0; k < n; ++k) {
        switch (routes[k]) {
          case kStored: builders[k].append_stored(s->decoder.stored(k).data, s->codepages[k]); break;
          case kNull: builders[k].append_null(); break;
          default: builders[k].append(s->cells[k]); break;
        }
      }
      s->pending = false;
      ++rows;
    }
    if (rows == 0 && s->finished) {
      out->release = nullptr;  // end of the stream
      return 0;
    }
    emit_batch(*s, rows, out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = in_context(ErrorContext::ReadingRecord, "out of memory");
    return ENOMEM;
  }
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
  StreamState* s = state_of(stream);
  return s->last_error.empty() ? nullptr : s->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
  delete state_of(stream);
  stream->release = nullptr;
}

}  // namespace

Status export_arrow_schema(const Database& db, std::string_view table_name, ArrowSchema* out) {
  const TableInfo* table = db.catalog().find(table_name);
  if (table == nullptr) return EseError::table_not_found(std::string(table_name));
  const ColumnPlan plan = make_column_plan(db, *table);
  fill_table_schema(decoded_columns(plan), out);
  return Status::success();
}

Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                           std::int64_t batch_rows, ArrowArrayStream* out) {
  auto reader = open_table_reader(*db, table_name);
  if (!reader) return std::move(reader).error();
  auto state = std::make_unique<StreamState>(std::move(db), std::move(reader).value());
  state->batch_rows = batch_rows < 1 ? 1 : batch_rows;
  // Fixed-width buffers are sized for a full batch up front, within a bound on the
  // bytes of all columns (a table may have tens of thousands of columns); later
  // batches start with the sizes of the one before.
  std::uint64_t row_bytes = 1;
  for (const DecodedColumn& column : state->decoder.columns()) {
    row_bytes += value_width(column.type) + (variable_width(column.type) || column.list ? 4 : 0) + 1;
  }
  const std::size_t expected_rows = static_cast<std::size_t>(
      std::clamp<std::int64_t>(static_cast<std::int64_t>(kReserveBytes / row_bytes), 1,
                               std::min<std::int64_t>(state->batch_rows, kReserveRows)));
  auto pool = std::make_shared<BufferPool>();
  state->builders.reserve(state->decoder.columns().size());
  for (const DecodedColumn& column : state->decoder.columns()) state->builders.emplace_back(column, pool, expected_rows);
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_get_last_error;
  out->release = stream_release;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow
