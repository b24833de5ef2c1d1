#include "forensic/indexes.h"

#include <unordered_map>

#include "database/database.h"
#include "database/traversal.h"
#include "record/parser.h"

namespace quarrow {
namespace {

// Catalog rows are read here as the catalog reads them (format/catalog.h), with the
// catalog's count of variable columns.
constexpr std::size_t kKeyListColumn = kCatalogKeyListColumn - kFirstVariableId;  // KeyFldIDs

struct IndexRow {
  std::uint32_t owner = 0;
  IndexDefinition definition;
  std::string key_list;
};

// Variable column k of a catalog row; nothing when absent, null or out of bounds.
std::optional<Bytes> variable_column(Bytes row, std::size_t k) { return VariableOffsets::of_catalog_row(row).value(k); }

// The row's name as the catalog reads it: the first L bytes of the variable data, L
// being the whole word at V.
std::optional<std::string> row_name(Bytes row) {
  const VariableOffsets variable = VariableOffsets::of_catalog_row(row);
  if (!variable.word_fits(0)) return std::nullopt;
  const std::uint64_t length = variable.word(0);
  const std::uint64_t start = variable.data_start();
  if (!in_bounds(row, start, length)) return std::nullopt;
  return to_string(row.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(length)));
}

}  // namespace

std::vector<KeySegment> parse_key_segments(Bytes key_list, bool four_byte_segments) {
  std::vector<KeySegment> segments;
  const std::size_t width = four_byte_segments ? 4 : 2;
  for (std::size_t at = 0; at + width <= key_list.size(); at += width) {
    KeySegment s;
    if (four_byte_segments) {
      s.descending = (key_list[at] & kSegmentDescending) != 0;
      s.column_id = load_u16le(key_list, at + kSegmentColumnOffset);
    } else {
      const auto id = static_cast<std::int16_t>(load_u16le(key_list, at));
      s.descending = id < 0;
      s.column_id = static_cast<std::uint32_t>(id < 0 ? -static_cast<std::int32_t>(id) : id);
    }
    segments.push_back(s);
  }
  return segments;
}

Result<std::vector<IndexDefinition>> read_table_indexes(const Database& db, std::string_view table_name) {
  const TableInfo* table = db.catalog().find(table_name);
  if (table == nullptr) return EseError::table_not_found(std::string(table_name));

  // Table rows come before their index rows in the catalog tree; the owner id of an
  // index row is matched to a table row by name afterwards, as the catalog itself does.
  std::unordered_map<std::uint32_t, std::string> table_names;
  std::vector<IndexRow> rows;
  // The catalog walked the same tree when the database opened, so a failure here is
  // unexpected; it is reported rather than read as a catalog without indexes.
  Status walked = walk_catalog_tree(db, kCatalogRootPage, [&](Bytes row) {
    if (row.size() < kCatalogMinimumRow) return Status::success();
    const std::uint16_t type = load_u16le(row, kCatalogTypeOffset);
    const std::uint32_t owner = load_u32le(row, kCatalogOwnerOffset);
    std::optional<std::string> name = row_name(row);
    if (!name) return Status::success();
    if (type == kCatalogTypeTable) {
      table_names[load_u32le(row, kCatalogIdOffset)] = std::move(*name);
    } else if (type == kCatalogTypeIndex && row.size() >= kCatalogRowThroughFlags) {
      IndexRow r;
      r.owner = owner;
      r.definition.name = std::move(*name);
      r.definition.flags = load_u32le(row, kCatalogFlagsOffset);
      if (std::optional<Bytes> keys = variable_column(row, kKeyListColumn)) r.key_list = to_string(*keys);
      rows.push_back(std::move(r));
    }
    return Status::success();
  });
  if (!walked) return std::move(walked).error();

  // Index names are unique within a table: a repeated name replaces the earlier
  // definition in its place, as the catalog's own maps do.
  std::unordered_map<std::uint32_t, const std::string*> column_names;
  for (const auto& entry : table->columns) column_names.emplace(entry.second.id, &entry.second.name);
  std::unordered_map<std::string, std::size_t> position;
  std::vector<IndexDefinition> out;
  for (IndexRow& r : rows) {
    auto owner = table_names.find(r.owner);
    if (owner == table_names.end() || owner->second != table_name) continue;
    IndexDefinition& d = r.definition;
    d.unique = (d.flags & kIndexUnique) != 0;
    d.primary = (d.flags & kIndexPrimary) != 0;
    d.columns = parse_key_segments(as_bytes(r.key_list), (d.flags & kIndexFourByteSegments) != 0);
    for (KeySegment& s : d.columns) {
      auto column = column_names.find(s.column_id);
      if (column != column_names.end()) s.column_name = *column->second;
    }
    auto [it, fresh] = position.emplace(d.name, out.size());
    if (fresh) {
      out.push_back(std::move(d));
    } else {
      out[it->second] = std::move(d);
    }
  }
  return out;
}

}  // namespace quarrow
