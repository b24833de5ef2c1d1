// The Arrow schema of a table: a struct of one field per column, each field naming
// the ESE type and column id in its metadata; and the schema nodes that profile views
// build their (plainer) schemas from.
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
  ArrowSchema* dictionary = nullptr;  // the value type of a dictionary-encoded field
};

void release_children(std::vector<ArrowSchema*>& children) {
  for (ArrowSchema* child : children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  children.clear();
}

void release_schema(ArrowSchema* schema) {
  auto* node = static_cast<SchemaNode*>(schema->private_data);
  release_children(node->children);
  if (node->dictionary != nullptr) {
    if (node->dictionary->release != nullptr) node->dictionary->release(node->dictionary);
    delete node->dictionary;
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

// A schema node of its own allocation (a child of another node).
ArrowSchema* new_schema_node(std::string format, std::string name, std::string metadata, std::int64_t flags,
                             std::vector<ArrowSchema*> children = {}) {
  std::unique_ptr<ArrowSchema> out;
  try {
    out = std::make_unique<ArrowSchema>();
  } catch (...) {
    release_children(children);
    throw;
  }
  fill_schema_node(out.get(), std::move(format), std::move(name), std::move(metadata), flags, std::move(children));
  return out.release();
}

using Metadata = std::vector<std::pair<std::string, std::string>>;

Metadata uuid_metadata() { return {{"ARROW:extension:name", "arrow.uuid"}, {"ARROW:extension:metadata", ""}}; }

// One field: the column's value type, or a list of it for multi-valued columns.
ArrowSchema* column_schema(const DecodedColumn& column) {
  const ColumnInfo& info = *column.info;
  Metadata metadata{{"ese.type", column_type_name(info.column_type) ? column_type_name(info.column_type) : "?"},
                    {"ese.column_id", std::to_string(info.id)}};
  const Metadata value_metadata = column.type == DecodedType::Guid ? uuid_metadata() : Metadata();
  std::string name = lossy_utf8(as_bytes(info.name));
  if (column.list) {
    std::string list_metadata = encode_metadata(metadata);
    std::vector<ArrowSchema*> item;
    item.reserve(1);
    item.push_back(new_schema_node(format_of(column.type), "item",
                                   value_metadata.empty() ? std::string() : encode_metadata(value_metadata),
                                   ARROW_FLAG_NULLABLE));
    return new_schema_node("+l", std::move(name), std::move(list_metadata), ARROW_FLAG_NULLABLE, std::move(item));
  }
  metadata.insert(metadata.end(), value_metadata.begin(), value_metadata.end());
  return new_schema_node(format_of(column.type), std::move(name), encode_metadata(metadata), ARROW_FLAG_NULLABLE);
}

}  // namespace

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

void fill_schema_node(ArrowSchema* out, std::string format, std::string name, std::string metadata,
                      std::int64_t flags, std::vector<ArrowSchema*> children) {
  SchemaNode* node = nullptr;
  try {
    node = new SchemaNode{std::move(format), std::move(name), std::move(metadata), std::move(children)};
  } catch (...) {
    release_children(children);
    throw;
  }
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

void fill_table_schema(const std::vector<DecodedColumn>& columns, ArrowSchema* out) {
  std::vector<ArrowSchema*> children;
  try {
    children.reserve(columns.size());
    for (const DecodedColumn& column : columns) children.push_back(column_schema(column));
  } catch (...) {
    release_children(children);
    throw;
  }
  fill_schema_node(out, "+s", "", "", 0, std::move(children));
}

void fill_struct_schema(const std::vector<SchemaField>& fields, ArrowSchema* out) {
  std::vector<ArrowSchema*> children;
  try {
    children.reserve(fields.size());
    for (const SchemaField& f : fields) {
      children.push_back(new_schema_node(f.format, f.name, "", ARROW_FLAG_NULLABLE));
      if (!f.dictionary.empty()) {
        ArrowSchema* values = new_schema_node(f.dictionary, "", "", ARROW_FLAG_NULLABLE);
        static_cast<SchemaNode*>(children.back()->private_data)->dictionary = values;
        children.back()->dictionary = values;
      }
    }
  } catch (...) {
    release_children(children);
    throw;
  }
  fill_schema_node(out, "+s", "", "", 0, std::move(children));
}

}  // namespace quarrow::arrow
