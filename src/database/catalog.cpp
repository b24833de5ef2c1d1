#include "database/catalog.h"

#include "format/record.h"

namespace quarrow {
namespace {

// Catalog rows (format/catalog.h): a record whose fixed columns sit at known offsets.
// The name is the first variable column: n end offsets at V, data from V + 2n, the
// first L bytes, L being the word at V taken whole (n by catalog_variable_column_count).
std::size_t required_length(CatalogType type) {
  switch (type) {
    case CatalogType::Column:
    case CatalogType::Index:
      return kCatalogRowThroughCodepage;
    default:
      return kCatalogRowThroughSpaceUsage;
  }
}

// The bytes of variable column `id` of a catalog record: empty when the record stops
// before it, when it is null, or when its offsets do not fit the record.
Bytes catalog_variable_column(Bytes data, std::uint32_t id) {
  if (id < kFirstVariableId || id > read_record_header(data).last_variable) return Bytes();
  return VariableOffsets::of_catalog_row(data).value(id - kFirstVariableId).value_or(Bytes());
}

std::string id_key(std::uint32_t id) {
  return std::string(reinterpret_cast<const char*>(&id), sizeof id);
}

}  // namespace

Status add_catalog_record(Bytes data, CatalogBuilder& builder) {
  const std::size_t len = data.size();
  if (len < kRecordHeaderSize) return Status::success();
  if (len < kCatalogMinimumRow) return EseError::invalid_catalog_entry();
  const std::uint16_t type_code = load_u16le(data, kCatalogTypeOffset);
  if (type_code == 0 || type_code > kLastCatalogType) return EseError::unsupported_catalog_type(type_code);
  const auto type = static_cast<CatalogType>(type_code);
  if (type == CatalogType::Callback) return EseError::callback_catalog_type();
  if (len < required_length(type)) return EseError::invalid_catalog_entry();
  const std::uint32_t type_or_root = load_u32le(data, kCatalogTypeOrRootOffset);
  if (type == CatalogType::Column && type_or_root > kMaxColumnType) {
    return EseError::unsupported_column_type(type_or_root);
  }

  const VariableOffsets variable = VariableOffsets::of_catalog_row(data);
  if (!variable.word_fits(0)) return EseError::invalid_catalog_entry();
  const std::uint64_t name_length = variable.word(0);  // taken whole, see above
  const std::uint64_t name_start = variable.data_start();
  if (name_start + name_length > len) return EseError::invalid_catalog_entry();
  std::string name = to_string(data.subspan(static_cast<std::size_t>(name_start), static_cast<std::size_t>(name_length)));

  const std::uint32_t owner = load_u32le(data, kCatalogOwnerOffset);
  const std::uint32_t id = load_u32le(data, kCatalogIdOffset);
  const std::uint32_t space_usage = load_u32le(data, kCatalogSpaceUsageOffset);
  if (type == CatalogType::Table) {
    TableInfo table;
    table.name = name;
    table.root_page = type_or_root;
    table.space_usage = space_usage;
    table.object_id = id;
    builder.tables.insert_or_replace(name, std::move(table));
    builder.table_names_by_id.insert_or_replace(id_key(id), std::move(name));
    return Status::success();
  }
  PendingCatalogEntry entry;
  entry.name = std::move(name);
  entry.kind = type;
  entry.owner_id = owner;
  entry.id = id;
  entry.type_or_root = type_or_root;
  entry.space_usage = space_usage;
  if (len >= kCatalogRowThroughCodepage) {
    entry.flags = load_u32le(data, kCatalogFlagsOffset);
    entry.codepage_or_locale = load_u32le(data, kCatalogCodepageOffset);
  }
  if (type == CatalogType::Column) entry.default_value = to_string(catalog_variable_column(data, kCatalogDefaultValueColumn));
  builder.pending.push_back(std::move(entry));
  return Status::success();
}

void add_catalog_row(Bytes data, std::uint32_t page, std::uint16_t tag, CatalogBuilder& builder) {
  Status st = add_catalog_record(data, builder);
  // Tag 0 is the page's external header (the key prefix of its entries), never a row:
  // what it fails to say is no problem of the catalog.
  if (st || tag == 0) return;
  CatalogProblem problem;
  problem.page = page;
  problem.tag = tag;
  if (in_bounds(data, kCatalogOwnerOffset, 4)) problem.object_id = load_u32le(data, kCatalogOwnerOffset);
  if (in_bounds(data, kCatalogTypeOffset, 2)) problem.type = load_u16le(data, kCatalogTypeOffset);
  problem.error = st.error().to_string();
  builder.problems.push_back(std::move(problem));
}

void attach_pending_entries(CatalogBuilder& builder) {
  for (PendingCatalogEntry& entry : builder.pending) {
    const std::string* table_name = builder.table_names_by_id.find(id_key(entry.owner_id));
    if (table_name == nullptr) continue;
    TableInfo* table = builder.tables.find(*table_name);
    if (table == nullptr) continue;
    switch (entry.kind) {
      case CatalogType::Column: {
        ColumnInfo column{entry.name, entry.id, entry.type_or_root, entry.space_usage, entry.flags,
                          entry.codepage_or_locale, std::move(entry.default_value)};
        table->columns.insert_or_replace(entry.name, std::move(column));
        break;
      }
      case CatalogType::Index: {
        IndexInfo index{entry.name, entry.type_or_root, entry.space_usage, entry.flags, entry.codepage_or_locale,
                        entry.id};
        table->indexes.insert_or_replace(entry.name, std::move(index));
        break;
      }
      case CatalogType::LongValue: {
        LongValueInfo lv{entry.name, entry.type_or_root, entry.space_usage, entry.id};
        table->long_values.insert_or_replace(entry.name, std::move(lv));
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace quarrow
