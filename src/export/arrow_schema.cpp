// The Arrow schema of a table: a struct of one field per column, each field naming
// the ESE type and column id in its metadata.
#include "export/arrow_schema.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "record/text.h"

namespace quarrow::arrow {
namespace {

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

}  // namespace

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

}  // namespace quarrow::arrow
