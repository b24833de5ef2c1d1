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
  std::uint32_t object_id = 0;  // the index tree's id, named by its pages' headers
};

struct LongValueInfo {
  std::string name;
  std::uint32_t root_page = 0;
  std::uint32_t space_usage = 0;
  std::uint32_t object_id = 0;  // the long-value tree's id, named by its pages' headers
};

struct TableInfo {
  std::string name;
  OrderedMap<ColumnInfo> columns;
  OrderedMap<IndexInfo> indexes;
  OrderedMap<LongValueInfo> long_values;
  std::uint32_t root_page = 0;
  std::uint32_t space_usage = 0;
  // The table's object id (bytes 10-13 of its row), which the headers of its data
  // tree's pages name.
  std::uint32_t object_id = 0;
};

using Catalog = OrderedMap<TableInfo>;

// A catalog row the reader passed over: a type it has no use for (callbacks, the old
// streaming-file trees, unknown codes), a column type it does not know, or a row too
// short for its type. The database opens without it; the row is listed here.
struct CatalogProblem {
  std::uint32_t page = 0;
  std::uint16_t tag = 0;
  std::optional<std::uint32_t> object_id;  // bytes 4-7, the table the row belongs to
  std::optional<std::uint16_t> type;       // bytes 8-9
  std::string error;                       // the error's text
};

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
  std::vector<CatalogProblem> problems;
};

// Handles one catalog leaf entry's data.
Status add_catalog_record(Bytes data, CatalogBuilder& builder);
// The same, but a row that fails is listed in builder.problems (except tag 0, the
// page's external header, which is no row) and the call succeeds.
void add_catalog_row(Bytes data, std::uint32_t page, std::uint16_t tag, CatalogBuilder& builder);
// Files pending column, index and long-value records under their tables.
void attach_pending_entries(CatalogBuilder& builder);

}  // namespace quarrow
