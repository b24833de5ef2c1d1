// Index definitions of a table, from the index rows (type 3) of the catalog.
//
// An index row's flags: low 16 bits 0x01 unique, 0x20 primary; bit 0x00010000 says the
// key list ("KeyFldIDs", the fifth variable column of a catalog row) is made of 4-byte
// segments {u8 flags (0x40 descending), u8 reserved, u16 column id}; otherwise it is a
// list of signed 16-bit column ids, negative meaning descending.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/bytes.h"
#include "format/catalog.h"
#include "error/ese_error.h"

namespace quarrow {

class Database;
struct TableInfo;

struct KeySegment {
  std::uint32_t column_id = 0;
  std::optional<std::string> column_name;  // nothing when the table has no such column
  bool descending = false;
};

struct IndexDefinition {
  std::string name;
  std::uint32_t flags = 0;
  std::vector<KeySegment> columns;  // in key order
  bool unique = false;
  bool primary = false;
};

// Decodes a key list; a trailing partial segment is ignored.
std::vector<KeySegment> parse_key_segments(Bytes key_list, bool four_byte_segments);

// The table's indexes in catalog order. Fails with TableNotFound for an unknown name.
// The catalog tree is walked again: the definitions are read on demand only.
Result<std::vector<IndexDefinition>> read_table_indexes(const Database& db, std::string_view table_name);

}  // namespace quarrow
