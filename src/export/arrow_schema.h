// The schema half of the Arrow producer: a table's decoded columns as an Arrow
// schema (a struct of one field per column; multi-valued columns are lists; GUIDs
// carry the canonical extension type arrow.uuid).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/arrow_c.h"
#include "record/decoded.h"

namespace quarrow::arrow {

// The Arrow format string of a decoded type's values ("i" for Int32, ...).
const char* format_of(DecodedType type);

// Fills `out` with the struct schema of `columns`; `out->release` frees it. Throws
// std::bad_alloc only.
void fill_table_schema(const std::vector<DecodedColumn>& columns, ArrowSchema* out);

// One node of a schema that owns its strings and children: `out->release` frees them
// all, and a consumer may move a child out and release it on its own, as the interface
// allows. `metadata` is in the interface's encoding ("" for none). Throws
// std::bad_alloc only; the children are released then.
void fill_schema_node(ArrowSchema* out, std::string format, std::string name, std::string metadata,
                      std::int64_t flags, std::vector<ArrowSchema*> children = {});

// A struct of one nullable field per (format, name), without metadata. A field with
// a `dictionary` format is dictionary-encoded: `format` is then its index type, and
// its values have that format. Throws std::bad_alloc only.
struct SchemaField {
  std::string format;
  std::string name;
  std::string dictionary = {};
};
void fill_struct_schema(const std::vector<SchemaField>& fields, ArrowSchema* out);

}  // namespace quarrow::arrow
