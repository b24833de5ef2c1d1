// The catalog: every table's name, data-tree root, columns, indexes and long-value
// tree, read from the records of MSysObjects (tree rooted at page 4) at open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "database/ordered_map.h"
#include "format/bytes.h"
#include "format/catalog.h"
#include "error/ese_error.h"

namespace quarrow {

struct ColumnInfo {
  std::string name;
  std::uint32_t id = 0;
  std::uint32_t column_type = 0;
  std::uint32_t space_usage = 0;
  std::uint32_t flags = 0;
  std::optional<std::uint32_t> codepage;
  // The stored bytes of the column's default (catalog column DefaultValue), kept as
  // the raw column value; empty when the column has none.
  std::string default_value;
};

struct IndexInfo {
  std::string name;
  std::uint32_t root_page = 0;
  std::uint32_t space_usage = 0;
  std::uint32_t flags = 0;
  std::uint32_t locale = 0;
};

struct LongValueInfo {
  std::string name;
  std::uint32_t root_page = 0;
  std::uint32_t space_usage = 0;
};

struct TableInfo {
  std::string name;
  OrderedMap<ColumnInfo> columns;
  OrderedMap<IndexInfo> indexes;
  OrderedMap<LongValueInfo> long_values;
  std::uint32_t root_page = 0;
  std::uint32_t space_usage = 0;
};

using Catalog = OrderedMap<TableInfo>;

// A column, index or long-value record waiting for the end of the walk, when every
// table record has been seen.
struct PendingCatalogEntry {
  std::string name;
  CatalogType kind = CatalogType::Column;
  std::uint32_t owner_id = 0;
  std::uint32_t id = 0;
  std::uint32_t type_or_root = 0;  // bytes 14-17: column type, or root page
  std::uint32_t space_usage = 0;
  std::uint32_t flags = 0;
  std::uint32_t codepage_or_locale = 0;
  std::string default_value;  // columns: the DefaultValue bytes
};

// The catalog under construction during the walk.
struct CatalogBuilder {
  Catalog tables;
  OrderedMap<std::string> table_names_by_id;  // key: the 4 id bytes
  std::vector<PendingCatalogEntry> pending;
};

// Handles one catalog leaf entry's data.
Status add_catalog_record(Bytes data, CatalogBuilder& builder);
// Files pending column, index and long-value records under their tables.
void attach_pending_entries(CatalogBuilder& builder);

}  // namespace quarrow
