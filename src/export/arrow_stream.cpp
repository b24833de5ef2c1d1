#include "export/arrow_stream.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "record/decoded.h"
#include "record/text.h"

namespace quarrow {
namespace {

// Offsets of binary and utf8 arrays are 32-bit: a batch ends early rather than let a
// column's data pass this.
constexpr std::uint64_t kMaxBatchData = std::numeric_limits<std::int32_t>::max();

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

// Each array node owns its buffers and children.
struct ArrayNode {
  std::vector<std::uint8_t> validity;
  std::vector<std::uint8_t> values;  // fixed-width values, or the data of binary/utf8
  std::vector<std::int32_t> offsets;
  std::vector<const void*> buffers;
  std::vector<ArrowArray*> children;
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

void set_bit(std::vector<std::uint8_t>& bits, std::int64_t index, bool on) {
  const std::size_t byte = static_cast<std::size_t>(index / 8);
  if (byte >= bits.size()) bits.push_back(0);
  if (on) bits[byte] |= static_cast<std::uint8_t>(1u << (index % 8));
}

// Builds one array of values of a type: validity bits, then values (bits for bool,
// fixed-width little-endian, or 32-bit offsets and data).
class ValueBuilder {
 public:
  explicit ValueBuilder(DecodedType type) : type_(type) { start(); }

  std::uint64_t data_size() const { return node_->values.size(); }

  void append(const DecodedValue& v) {
    bool valid = v.valid && type_ != DecodedType::Null;
    if (valid && variable_width(type_) && data_size() + v.bytes.size() > kMaxBatchData) valid = false;
    set_bit(node_->validity, length_, valid);
    if (!valid) ++null_count_;
    std::vector<std::uint8_t>& values = node_->values;
    switch (type_) {
      case DecodedType::Null:
        break;
      case DecodedType::Bool:
        set_bit(values, length_, valid && v.b);
        break;
      case DecodedType::Binary:
      case DecodedType::Text:
        if (valid) values.insert(values.end(), v.bytes.begin(), v.bytes.end());
        node_->offsets.push_back(static_cast<std::int32_t>(values.size()));
        break;
      case DecodedType::Float32:
        append_raw(valid ? v.f32 : 0.0f);
        break;
      case DecodedType::Float64:
        append_raw(valid ? v.f64 : 0.0);
        break;
      case DecodedType::Decimal: {
        // Two's complement in 16 little-endian bytes: the 64-bit count sign-extended.
        const std::int64_t low = valid ? v.i : 0;
        append_raw(low);
        append_raw<std::int64_t>(low < 0 ? -1 : 0);
        break;
      }
      case DecodedType::Guid:
        if (valid) {
          values.insert(values.end(), v.guid.begin(), v.guid.end());
        } else {
          values.resize(values.size() + 16, 0);
        }
        break;
      default: {
        // Integers and timestamps: the low bytes of the 64-bit value (little-endian).
        const std::int64_t x = valid ? v.i : 0;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&x);
        values.insert(values.end(), p, p + value_width(type_));
        break;
      }
    }
    ++length_;
  }

  // Hands the values so far to `out` and starts an empty array with room for as many.
  void finish(ArrowArray* out) {
    ArrayNode* node = node_.release();
    const bool nulls = null_count_ > 0;
    if (type_ == DecodedType::Null) {
      node->buffers.clear();
    } else if (variable_width(type_)) {
      node->buffers = {nulls ? node->validity.data() : nullptr, node->offsets.data(), node->values.data()};
    } else {
      node->buffers = {nulls ? node->validity.data() : nullptr, node->values.data()};
    }
    out->length = length_;
    out->null_count = null_count_;
    out->offset = 0;
    out->n_buffers = static_cast<std::int64_t>(node->buffers.size());
    out->n_children = 0;
    out->buffers = node->buffers.empty() ? nullptr : node->buffers.data();
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = release_array;
    out->private_data = node;
    const std::size_t values = node->values.size();
    const std::size_t offsets = node->offsets.size();
    start();
    node_->values.reserve(values);
    node_->offsets.reserve(offsets);
  }

 private:
  template <class T>
  void append_raw(T x) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&x);
    node_->values.insert(node_->values.end(), p, p + sizeof x);
  }

  void start() {
    node_ = std::make_unique<ArrayNode>();
    length_ = 0;
    null_count_ = 0;
    if (variable_width(type_)) node_->offsets.push_back(0);
  }

  DecodedType type_;
  std::unique_ptr<ArrayNode> node_;
  std::int64_t length_ = 0;
  std::int64_t null_count_ = 0;
};

// One column: its values, or a list array over them for multi-valued columns.
class ColumnBuilder {
 public:
  explicit ColumnBuilder(const DecodedColumn& column) : list_(column.list), values_(column.type) { start(); }

  // The data bytes a cell would add (binary and utf8 columns).
  static std::uint64_t data_bytes(const DecodedCell& cell) {
    std::uint64_t n = 0;
    for (std::size_t k = 0; k < cell.size; ++k) n += cell.items[k].bytes.size();
    return n;
  }
  std::uint64_t data_size() const { return values_.data_size(); }

  void append(const DecodedCell& cell) {
    if (!list_) {
      static const DecodedValue kNull;
      values_.append(cell.valid && cell.size > 0 ? cell.items[0] : kNull);
      return;
    }
    set_bit(node_->validity, length_, cell.valid);
    if (cell.valid) {
      for (std::size_t k = 0; k < cell.size; ++k) values_.append(cell.items[k]);
      child_length_ += static_cast<std::int64_t>(cell.size);
    } else {
      ++null_count_;
    }
    node_->offsets.push_back(static_cast<std::int32_t>(child_length_));
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
    node->buffers = {null_count_ > 0 ? node->validity.data() : nullptr, node->offsets.data()};
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
    const std::size_t offsets = node->offsets.size();
    start();
    node_->offsets.reserve(offsets);
  }

 private:
  void start() {
    node_ = std::make_unique<ArrayNode>();
    node_->offsets.push_back(0);
    length_ = 0;
    null_count_ = 0;
    child_length_ = 0;
  }

  bool list_;
  ValueBuilder values_;
  std::unique_ptr<ArrayNode> node_;  // list columns: validity and offsets
  std::int64_t length_ = 0;
  std::int64_t null_count_ = 0;
  std::int64_t child_length_ = 0;
};

// ---- The stream ---------------------------------------------------------------------

struct StreamState {
  StreamState(std::shared_ptr<const Database> database, DecodedTableReader table_reader)
      : db(std::move(database)), reader(std::move(table_reader)) {}

  std::shared_ptr<const Database> db;  // keeps the mapping and the catalog alive
  DecodedTableReader reader;
  std::vector<ColumnBuilder> builders;
  std::vector<DecodedCell> cells;
  std::int64_t batch_rows = kDefaultBatchRows;
  bool pending = false;  // `cells` holds a record not yet in a batch
  bool finished = false;
  std::string last_error;
};

StreamState* state_of(ArrowArrayStream* stream) { return static_cast<StreamState*>(stream->private_data); }

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  StreamState* s = state_of(stream);
  try {
    fill_table_schema(s->reader.columns(), out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

// A record fits the batch unless it would take a binary or utf8 column past the
// 32-bit offsets.
bool fits(const StreamState& s) {
  for (std::size_t k = 0; k < s.builders.size(); ++k) {
    const std::uint64_t extra = ColumnBuilder::data_bytes(s.cells[k]);
    if (extra > 0 && s.builders[k].data_size() + extra > kMaxBatchData) return false;
  }
  return true;
}

void emit_batch(StreamState& s, std::int64_t rows, ArrowArray* out) {
  auto node = std::make_unique<ArrayNode>();
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
        const DecodedTableReader::Step step = s->reader.next(s->cells);
        if (step == DecodedTableReader::Step::End) {
          s->finished = true;
          break;
        }
        if (step == DecodedTableReader::Step::Error) {
          s->last_error = "Error reading record: " + s->reader.error().to_string();
          // The rows gathered for this batch are dropped with the builders' contents
          // when the stream is released.
          return EIO;
        }
        s->pending = true;
      }
      if (rows > 0 && !fits(*s)) break;
      for (std::size_t k = 0; k < s->builders.size(); ++k) s->builders[k].append(s->cells[k]);
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
    s->last_error = "Error reading record: out of memory";
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
  auto reader = DecodedTableReader::open(*db, table_name);
  if (!reader) return std::move(reader).error();
  auto state = std::make_unique<StreamState>(std::move(db), std::move(reader).value());
  state->batch_rows = batch_rows < 1 ? 1 : batch_rows;
  state->builders.reserve(state->reader.columns().size());
  for (const DecodedColumn& column : state->reader.columns()) state->builders.emplace_back(column);
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_get_last_error;
  out->release = stream_release;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow
