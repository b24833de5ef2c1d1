// Commands that describe the catalog: tables, schema.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json_object.h"
#include "export/json_lines.h"
#include "forensic/indexes.h"
#include "record/value.h"

namespace quarrow::cli {

const std::string_view kTablesHelp =
    "usage: quarrow tables FILE\n"
    "\n"
    "The table names of the catalog, one per line, in catalog order.\n";

const std::string_view kSchemaHelp =
    "usage: quarrow schema [--json] FILE [TABLE]\n"
    "\n"
    "The columns of one table, or of every table: id, name, type, nullable, codepage and\n"
    "whether the column is multi-valued; then its indexes (key columns in order, '-' for\n"
    "descending) and whether each is unique or primary.\n"
    "\n"
    "      --json    one JSON object per table\n";

namespace {

// Catalog column flag 0x1: not null (multi-valued is kColumnMultiValued, 0x8).
constexpr std::uint32_t kColumnNotNull = 0x1;
const std::vector<OptionSpec> kTablesOptions = {{"quiet", 'q', false}};
const std::vector<OptionSpec> kSchemaOptions = {{"json", 0, false}, {"quiet", 'q', false}};

void write_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string type_text(std::uint32_t code) {
  const char* name = column_type_name(code);
  return name != nullptr ? name : "Unknown (" + std::to_string(code) + ")";
}

// The table's index definitions: in JSON, closes the columns array and adds
// "indexes"; in text, a line per index: name, key columns (descending marked "-"),
// unique, primary.
void append_indexes(std::string& out, const Database& db, const TableInfo& table, bool json) {
  const auto indexes = read_table_indexes(db, table.name);
  if (json) {
    out += "],\"indexes\":[";
  } else if (indexes && !indexes->empty()) {
    out += "  indexes:\n";
  }
  if (!indexes) {
    if (json) out += "]";
    return;
  }
  bool first = true;
  for (const IndexDefinition& index : *indexes) {
    if (json) {
      if (!first) out += ",";
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
    } else {
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
    first = false;
  }
  if (json) out += "]";
}

}  // namespace

int run_tables(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("tables", raw, kTablesOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 1) return usage_error("tables", "expected one database file");
  const std::string& path = args->positionals[0];
  const auto db = open_or_report(path);
  if (!db) return kExitFailed;
  std::string out;
  for (const auto& entry : db->catalog()) out += name_text(entry.first) + "\n";
  write_text(out);
  return kExitOk;
}

int run_schema(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("schema", raw, kSchemaOptions);
  if (!args) return kExitUsage;
  if (args->positionals.empty() || args->positionals.size() > 2) {
    return usage_error("schema", "expected a database file and at most one table name");
  }
  const std::string& path = args->positionals[0];
  const auto db = open_or_report(path);
  if (!db) return kExitFailed;
  std::vector<const TableInfo*> tables;
  if (args->positionals.size() == 2) {
    const std::string& name = args->positionals[1];
    const TableInfo* table = db->catalog().find(name);
    if (table == nullptr) {
      print_lines(table_lookup_lines(*db, path, name, EseError::table_not_found(name)));
      return kExitFailed;
    }
    tables.push_back(table);
  } else {
    for (const auto& entry : db->catalog()) tables.push_back(&entry.second);
  }
  const bool json = args->flag("json");
  std::string out;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const TableInfo* table = tables[t];
    const std::string table_name = name_text(table->name);
    if (json) {
      out += "{";
      append_field(out, "table");
      append_json_string(out, table_name);
      append_field(out, "columns");
      out += "[";
    } else {
      if (t > 0) out += "\n";
      out += table_name + "\n";
      char buf[128];
      std::snprintf(buf, sizeof buf, "  %6s  %-32s  %-22s  %-8s  %-8s  %s\n", "id", "name", "type", "nullable",
                    "codepage", "multi-valued");
      out += buf;
    }
    bool first = true;
    for (const auto& entry : table->columns) {
      const ColumnInfo& c = entry.second;
      const bool nullable = (c.flags & kColumnNotNull) == 0;
      const bool multi = (c.flags & kColumnMultiValued) != 0;
      // Only text columns have a codepage; the catalog field means nothing for others.
      const bool has_codepage = c.codepage && is_text_type(c.column_type);
      const std::string codepage = has_codepage ? std::to_string(*c.codepage) : "";
      if (json) {
        if (!first) out += ",";
        out += "{";
        append_field(out, "id");
        out += std::to_string(c.id);
        append_field(out, "name");
        append_json_string(out, name_text(c.name));
        append_field(out, "type");
        append_json_string(out, type_text(c.column_type));
        append_field(out, "nullable");
        out += nullable ? "true" : "false";
        append_field(out, "codepage");
        out += has_codepage ? codepage : "null";
        append_field(out, "multi_valued");
        out += multi ? "true" : "false";
        out += "}";
      } else {
        char buf[64];
        std::snprintf(buf, sizeof buf, "  %6u  ", c.id);
        std::string row = buf;
        std::string name = name_text(c.name);
        if (name.size() < 32) name.resize(32, ' ');
        std::string type = type_text(c.column_type);
        if (type.size() < 22) type.resize(22, ' ');
        std::snprintf(buf, sizeof buf, "  %-8s  %-8s  %s\n", nullable ? "yes" : "no", codepage.c_str(),
                      multi ? "yes" : "no");
        out += row + name + "  " + type + buf;
      }
      first = false;
    }
    append_indexes(out, *db, *table, json);
    if (json) out += "}\n";
  }
  write_text(out);
  return kExitOk;
}

}  // namespace quarrow::cli
