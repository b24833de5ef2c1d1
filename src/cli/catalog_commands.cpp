// Commands that describe databases: info, tables, schema.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/views.h"
#include "export/json_lines.h"
#include "forensic/header.h"
#include "forensic/indexes.h"
#include "record/value.h"

namespace quarrow::cli {
namespace {

// After kStateDirtyShutdown and kStateDirtyAndPatchedShutdown (format/database_header.h)
// the transaction logs may hold changes the file lacks.
const char* const kDirtyWarning =
    "warning: the database was not shut down cleanly; recent changes may still be in its transaction logs";

const std::vector<OptionSpec> kInfoOptions = {
    {"count", 'c', false}, {"json", 0, false}, {"quiet", 'q', false}, {"logs", 'l', true}};
const std::vector<OptionSpec> kTablesOptions = {{"quiet", 'q', false}};
const std::vector<OptionSpec> kSchemaOptions = {{"json", 0, false}, {"quiet", 'q', false}};

void write_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string type_text(std::uint32_t code) {
  const char* name = column_type_name(code);
  return name != nullptr ? name : "Unknown (" + std::to_string(code) + ")";
}

// Counts a table's records by reading them all. Returns the count, or sets `error`.
std::optional<std::uint64_t> count_records(const Database& db, std::string_view name, std::string& error) {
  auto reader = open_table_reader(db, name);
  if (!reader) {
    error = lookup_error_text(reader.error());
    return std::nullopt;
  }
  // The records are only counted: their stored bytes are not decoded.
  Bytes data;
  std::uint64_t n = 0;
  for (;;) {
    switch (reader->next_data(data)) {
      case TableRecordReader::Step::Record:
        ++n;
        break;
      case TableRecordReader::Step::End:
        return n;
      case TableRecordReader::Step::Error:
        error = in_context(ErrorContext::ReadingRecord, reader->error());
        return std::nullopt;
    }
  }
}

// Starts a member of the JSON object being built: a comma unless it is the first.
void append_field(std::string& out, const char* key) {
  if (out.back() != '{') out.push_back(',');
  append_json_string(out, key);
  out.push_back(':');
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

// The writer's OS as "major.minor build N[ SP n]".
std::string os_text(const HeaderFacts& f) {
  std::string text = std::to_string(f.os_major) + "." + std::to_string(f.os_minor) + " build " +
                     std::to_string(f.os_build);
  if (f.os_service_pack != 0) text += " SP " + std::to_string(f.os_service_pack);
  return text;
}

std::string header_copies_text(const HeaderFacts& f) {
  if (!f.checksum_ok || !f.shadow_checksum_ok) {
    return std::string("checksum mismatch in the ") +
           (!f.checksum_ok && !f.shadow_checksum_ok ? "header and its shadow copy"
            : !f.checksum_ok                        ? "header"
                                                    : "shadow copy");
  }
  return f.copies_agree ? "agree, checksums verify" : "differ (both checksums verify)";
}

}  // namespace

int run_info(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("info", raw, kInfoOptions);
  if (!args) return kExitUsage;
  if (args->positionals.empty()) return usage_error("info", "no database file given");
  const bool json = args->flag("json");
  const bool count = args->flag("count");
  int status = kExitOk;
  bool first = true;
  for (const std::string& path : args->positionals) {
    std::string error;
    const auto db = open_database(path, error);
    if (!db) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", file_error_line(path, error).c_str());
      status = kExitFailed;
      continue;
    }
    std::string out;
    std::vector<std::string> errors;
    const auto facts = read_header_facts(*db);
    if (!facts) errors.push_back(file_error_line(path, "header facts: " + facts.error().to_string()));
    const bool dirty = facts && (facts->state == kStateDirtyShutdown || facts->state == kStateDirtyAndPatchedShutdown);
    if (json) {
      out = "{";
      append_field(out, "file");
      append_json_string(out, path);
      append_field(out, "page_size");
      out += std::to_string(db->page_size());
      append_field(out, "format_version");
      out += std::to_string(db->format_version());
      append_field(out, "format_revision");
      out += std::to_string(db->format_revision());
      append_field(out, "total_pages");
      out += std::to_string(db->total_pages());
      append_field(out, "profile");
      if (const auto profile = recognised_profile(*db)) append_json_string(out, *profile);
      else out += "null";
      if (facts) {
        append_field(out, "state");
        append_json_string(out, facts->state_name);
        append_field(out, "dirty");
        out += dirty ? "true" : "false";
        const std::pair<const char*, const LogTime*> times[] = {{"created", &facts->creation_time},
                                                                {"last_attached", &facts->last_attach_time},
                                                                {"last_detached", &facts->last_detach_time},
                                                                {"last_consistent", &facts->last_consistent_time}};
        for (const auto& [key, time] : times) {
          append_field(out, key);
          if (time->set) {
            append_json_string(out, log_time_text(*time));
          } else {
            out += "null";
          }
        }
        append_field(out, "log_generations_required");
        out += "[" + std::to_string(facts->log_generation_low) + "," + std::to_string(facts->log_generation_high) + "]";
        bool logs_missing = false;
        out += info_log_needs(*db, args->value("logs"), true, logs_missing);
        if (logs_missing) status = kExitFailed;
        append_field(out, "os_version");
        append_json_string(out, os_text(*facts));
        append_field(out, "header_copies_agree");
        out += facts->copies_agree ? "true" : "false";
        append_field(out, "header_checksums_ok");
        out += facts->checksum_ok && facts->shadow_checksum_ok ? "true" : "false";
      }
      // Catalog rows passed over at open (types the reader has no use for, unknown
      // column types, rows too short): listed, so that nothing is dropped unseen.
      append_field(out, "catalog_problems");
      out.push_back('[');
      for (const CatalogProblem& p : db->catalog_problems()) {
        if (out.back() != '[') out.push_back(',');
        out += "{\"page\":" + std::to_string(p.page) + ",\"tag\":" + std::to_string(p.tag) + ",\"object_id\":" +
               (p.object_id ? std::to_string(*p.object_id) : "null") +
               ",\"type\":" + (p.type ? std::to_string(*p.type) : "null") + ",\"error\":";
        append_json_string(out, p.error);
        out.push_back('}');
      }
      out.push_back(']');
      append_field(out, "tables");
      out.push_back('[');
    } else {
      if (!first) out += "\n";
      char buf[256];
      std::snprintf(buf, sizeof buf, "  page size:      %u\n  format:         0x%x, revision %u\n  pages:          %u\n",
                    db->page_size(), db->format_version(), db->format_revision(), db->total_pages());
      out += path + "\n" + buf;
      out += "  profile:        " + recognised_profile(*db).value_or("-") + "\n";
      if (facts) {
        out += "  state:          " + facts->state_name + "\n";
        const auto time_line = [&](const char* label, const LogTime& time) {
          out += label + (time.set ? log_time_text(time) : std::string("-")) + "\n";
        };
        time_line("  created:        ", facts->creation_time);
        time_line("  last attached:  ", facts->last_attach_time);
        time_line("  last detached:  ", facts->last_detach_time);
        time_line("  consistent:     ", facts->last_consistent_time);
        if (facts->log_generation_high != 0) {
          out += "  logs required:  " + std::to_string(facts->log_generation_low) + " to " +
                 std::to_string(facts->log_generation_high) + "\n";
        }
        bool logs_missing = false;
        out += info_log_needs(*db, args->value("logs"), false, logs_missing);
        if (logs_missing) status = kExitFailed;
        out += "  written on OS:  " + os_text(*facts) + "\n";
        out += "  header copies:  " + header_copies_text(*facts) + "\n";
      }
      out += "  tables:         " + std::to_string(db->catalog().size()) + "\n";
      out += "  catalog problems: " + std::to_string(db->catalog_problems().size()) + "\n";
    }
    if (dirty) errors.insert(errors.begin(), file_error_line(path, kDirtyWarning));
    first = false;
    bool first_table = true;
    for (const auto& [stored_name, table] : db->catalog()) {
      const std::string name = name_text(stored_name);
      std::optional<std::uint64_t> records;
      if (count) {
        std::string count_error;
        records = count_records(*db, stored_name, count_error);
        if (!records) errors.push_back(table_error_line(path, name, count_error));
      }
      if (json) {
        if (!first_table) out.push_back(',');
        out += "{";
        append_field(out, "name");
        append_json_string(out, name);
        append_field(out, "columns");
        out += std::to_string(table.columns.size());
        if (count) {
          append_field(out, "records");
          out += records ? std::to_string(*records) : "null";
        }
        out += "}";
      } else {
        out += "    " + name + "  " + std::to_string(table.columns.size()) + " columns";
        if (count) out += records ? ", " + std::to_string(*records) + " records" : ", records unreadable";
        out += "\n";
      }
      first_table = false;
    }
    if (json) out += "]}\n";
    write_text(out);
    std::fflush(stdout);
    for (const std::string& line : errors) std::fprintf(stderr, "%s\n", line.c_str());
    if (errors.size() > (dirty ? 1u : 0u)) status = kExitFailed;
  }
  return status;
}

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
      std::fprintf(stderr, "%s\n", table_error_line(path, name, "Table not found: " + name).c_str());
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
