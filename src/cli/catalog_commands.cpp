// Commands that describe the catalog: tables, schema. schema gathers each table's
// columns and indexes first, then renders them as text or JSON.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json_object.h"
#include "export/json_lines.h"
#include "forensic/indexes.h"
#include "record/value.h"

namespace quarrow::cli {

const std::string_view kTablesHelp =
    "usage: quarrow tables [--logs DIR] FILE\n"
    "\n"
    "The table names of the catalog, one per line, in catalog order.\n"
    "\n"
    "      --logs DIR  read the database as replaying the transaction logs in DIR leaves it\n";

const std::string_view kSchemaHelp =
    "usage: quarrow schema [--json] [--logs DIR] FILE [TABLE]\n"
    "\n"
    "The columns of one table, or of every table: id, name, type, nullable, codepage and\n"
    "whether the column is multi-valued; then its indexes (key columns in order, '-' for\n"
    "descending) and whether each is unique or primary.\n"
    "\n"
    "      --json    one JSON object per table\n"
    "      --logs DIR  read the database as replaying the transaction logs in DIR leaves it\n";

namespace {

const std::vector<OptionSpec> kTablesOptions = {{"quiet", 'q', false}, kLogsOption};
const std::vector<OptionSpec> kSchemaOptions = {{"json", 0, false}, {"quiet", 'q', false}, kLogsOption};

void write_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string type_text(std::uint32_t code) {
  const char* name = column_type_name(code);
  return name != nullptr ? name : "Unknown (" + std::to_string(code) + ")";
}

struct SchemaRequest {
  std::string path;
  std::optional<std::string> table;
  bool json = false;
  std::optional<std::string> logs;  // --logs DIR
};

struct ColumnFacts {
  std::uint32_t id = 0;
  std::string name;
  std::string type;
  bool nullable = false;
  std::optional<std::uint32_t> codepage;  // text columns only
  bool multi_valued = false;
};

struct TableSchema {
  std::string name;
  std::vector<ColumnFacts> columns;
  std::optional<std::vector<IndexDefinition>> indexes;  // none when they cannot be read
};

std::optional<SchemaRequest> parse_schema(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("schema", raw, kSchemaOptions);
  if (!args) return std::nullopt;
  if (args->positionals.empty() || args->positionals.size() > 2) {
    usage_error("schema", "expected a database file and at most one table name");
    return std::nullopt;
  }
  SchemaRequest request;
  request.path = args->positionals[0];
  if (args->positionals.size() == 2) request.table = args->positionals[1];
  request.json = args->flag("json");
  request.logs = logs_option(*args);
  return request;
}

TableSchema gather_schema(const Database& db, const TableInfo& table) {
  TableSchema schema;
  schema.name = name_text(table.name);
  for (const auto& entry : table.columns) {
    const ColumnInfo& c = entry.second;
    ColumnFacts column;
    column.id = c.id;
    column.name = name_text(c.name);
    column.type = type_text(c.column_type);
    column.nullable = (c.flags & kColumnNotNull) == 0;
    column.multi_valued = (c.flags & kColumnMultiValued) != 0;
    // Only text columns have a codepage; the catalog field means nothing for others.
    if (c.codepage && is_text_type(c.column_type)) column.codepage = *c.codepage;
    schema.columns.push_back(std::move(column));
  }
  auto indexes = read_table_indexes(db, table.name);
  if (indexes) schema.indexes = std::move(*indexes);
  return schema;
}

std::string render_schema_json(const TableSchema& t) {
  std::string out = "{";
  append_field(out, "table");
  append_json_string(out, t.name);
  append_field(out, "columns");
  out += "[";
  bool first = true;
  for (const ColumnFacts& c : t.columns) {
    if (!first) out += ",";
    first = false;
    out += "{";
    append_field(out, "id");
    out += std::to_string(c.id);
    append_field(out, "name");
    append_json_string(out, c.name);
    append_field(out, "type");
    append_json_string(out, c.type);
    append_field(out, "nullable");
    out += c.nullable ? "true" : "false";
    append_field(out, "codepage");
    out += c.codepage ? std::to_string(*c.codepage) : "null";
    append_field(out, "multi_valued");
    out += c.multi_valued ? "true" : "false";
    out += "}";
  }
  out += "],\"indexes\":[";
  first = true;
  for (const IndexDefinition& index : t.indexes ? *t.indexes : std::vector<IndexDefinition>{}) {
    if (!first) out += ",";
    first = false;
    out += "{";
    append_field(out, "name");
    append_json_string(out, name_text(index.name));
    append_field(out, "columns");
    out += "[";
    for (std::size_t k = 0; k < index.columns.size(); ++k) {
      const KeySegment& s = index.columns[k];
      out += k == 0 ? "{" : ",{";
      append_field(out, "name");
      if (s.column_name) {
        append_json_string(out, name_text(*s.column_name));
      } else {
        out += "null";
      }
      append_field(out, "descending");
      out += s.descending ? "true}" : "false}";
    }
    out += "]";
    append_field(out, "unique");
    out += index.unique ? "true" : "false";
    append_field(out, "primary");
    out += index.primary ? "true}" : "false}";
  }
  out += "]}\n";
  return out;
}

// The columns as a table (id, name, type, nullable, codepage, multi-valued), then a
// line per index: name, key columns (descending marked "-"), unique, primary.
std::string render_schema_text(const TableSchema& t) {
  std::string out = t.name + "\n";
  char buf[128];
  std::snprintf(buf, sizeof buf, "  %6s  %-32s  %-22s  %-8s  %-8s  %s\n", "id", "name", "type", "nullable",
                "codepage", "multi-valued");
  out += buf;
  for (const ColumnFacts& c : t.columns) {
    std::snprintf(buf, sizeof buf, "  %6u  ", c.id);
    std::string row = buf;
    std::string name = c.name;
    if (name.size() < 32) name.resize(32, ' ');
    std::string type = c.type;
    if (type.size() < 22) type.resize(22, ' ');
    const std::string codepage = c.codepage ? std::to_string(*c.codepage) : "";
    std::snprintf(buf, sizeof buf, "  %-8s  %-8s  %s\n", c.nullable ? "yes" : "no", codepage.c_str(),
                  c.multi_valued ? "yes" : "no");
    out += row + name + "  " + type + buf;
  }
  if (t.indexes && !t.indexes->empty()) out += "  indexes:\n";
  for (const IndexDefinition& index : t.indexes ? *t.indexes : std::vector<IndexDefinition>{}) {
    std::string keys;
    for (const KeySegment& s : index.columns) {
      if (!keys.empty()) keys += ", ";
      keys += s.descending ? '-' : '+';
      if (s.column_name) {
        keys += name_text(*s.column_name);
      } else {
        keys += '#';
        keys += std::to_string(s.column_id);
      }
    }
    out += "    " + name_text(index.name) + " (" + keys + ")" + (index.unique ? " unique" : "") +
           (index.primary ? " primary" : "") + "\n";
  }
  return out;
}

}  // namespace

int run_tables(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("tables", raw, kTablesOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 1) return usage_error("tables", "expected one database file");
  const std::string& path = args->positionals[0];
  const auto db = open_or_report(path, logs_option(*args));
  if (!db) return kExitFailed;
  std::string out;
  for (const std::string& name : table_names(*db)) out += name + "\n";
  write_text(out);
  return kExitOk;
}

int run_schema(const std::vector<std::string_view>& raw, const Context&) {
  const auto request = parse_schema(raw);
  if (!request) return kExitUsage;
  const std::string& path = request->path;
  const auto db = open_or_report(path, request->logs);
  if (!db) return kExitFailed;
  std::vector<const TableInfo*> tables;
  if (request->table) {
    const std::string& name = *request->table;
    const TableInfo* table = db->catalog().find(name);
    if (table == nullptr) {
      print_lines(table_lookup_lines(*db, path, name, EseError::table_not_found(name)));
      return kExitFailed;
    }
    tables.push_back(table);
  } else {
    for (const auto& entry : db->catalog()) tables.push_back(&entry.second);
  }
  std::string out;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const TableSchema schema = gather_schema(*db, *tables[t]);
    if (request->json) {
      out += render_schema_json(schema);
    } else {
      if (t > 0) out += "\n";
      out += render_schema_text(schema);
    }
  }
  write_text(out);
  return kExitOk;
}

}  // namespace quarrow::cli
