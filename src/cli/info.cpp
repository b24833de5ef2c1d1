// quarrow info FILE...: the facts of each file and its tables.
//
// Each file goes through three steps: the facts are gathered (header, tables, record
// counts, the errors met on the way), then rendered as text or as one JSON object, and
// written with the errors after them.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/grid.h"
#include "cli/views.h"
#include "cli/json_object.h"
#include "app/header_fields.h"
#include "app/open.h"
#include "app/replay_fields.h"
#include "export/json_lines.h"
#include "database/space.h"
#include "forensic/header.h"

namespace quarrow::cli {

const std::string_view kInfoHelp =
    "usage: quarrow info [--count] [--json] [--logs DIR [--replay]] FILE...\n"
    "\n"
    "For each file: page size, format version and revision, number of pages, the kind\n"
    "of database when a profile knows it (srum, ual, windows_search; see views), the\n"
    "database state from the header (with a warning when the database was not shut\n"
    "down cleanly), the creation and last attach and detach times, the tables with\n"
    "their column counts, and the catalog rows passed over (--json lists them). Times in\n"
    "JSON are ISO 8601 (\"2022-07-16T14:46:07.615Z\" for UTC times).\n"
    "\n"
    "  -c, --count   also count the records of every table (reads every table)\n"
    "      --json    one JSON object per file\n"
    "  -l, --logs DIR  for a dirty database, whether the log generations it needs are\n"
    "                in DIR (exit status 1 when one is missing)\n"
    "      --replay  with --logs: the facts of the database as replaying the logs in DIR\n"
    "                leaves it (header, pages, tables; what the file needed of DIR is\n"
    "                still said), and what the replay did\n";

namespace {

// After kStateDirtyShutdown and kStateDirtyAndPatchedShutdown (format/database_header.h)
// the transaction logs may hold changes the file lacks.
const char* const kDirtyWarning =
    "warning: the database was not shut down cleanly; recent changes may still be in its transaction logs";

const std::vector<OptionSpec> kInfoOptions = {
    {"count", 'c', false}, {"json", 0, false}, {"quiet", 'q', false}, {"logs", 'l', true}, {"replay", 0, false}};

struct InfoRequest {
  std::vector<std::string> paths;
  bool json = false;
  bool count = false;
  std::optional<std::string> logs;  // --logs DIR
  bool replay = false;              // --replay: read the database as the logs leave it
};

struct TableFacts {
  std::string name;
  std::size_t columns = 0;
  std::optional<std::uint64_t> records;  // with --count, when readable
};

struct InfoFacts {
  std::string path;
  std::uint32_t page_size = 0;
  std::uint32_t format_version = 0;
  std::uint32_t format_revision = 0;
  std::uint32_t total_pages = 0;
  std::optional<std::string> profile;  // the built-in profile that knows the database
  std::optional<HeaderFacts> header;
  bool dirty = false;
  std::optional<OwnedSpace> truncation;  // pages the database owns past the file's end
  std::uint32_t catalog_root_owner = 0;  // not 0: no catalog (see Database)
  bool counted = false;
  std::vector<TableFacts> tables;
  std::vector<CatalogProblem> catalog_problems;  // rows passed over at open
  // What the database needs of its transaction logs (cli/logs.cpp renders it in both
  // forms), and whether --logs lacks one of them.
  std::string log_needs_json;
  std::string log_needs_text;
  bool logs_missing = false;
  std::shared_ptr<const replay::ReplayReport> replay;  // --replay
  std::vector<std::string> errors;  // lines for the standard error, the dirty warning first
  bool failed = false;              // an error beyond the warning
};

std::optional<InfoRequest> parse_info(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("info", raw, kInfoOptions);
  if (!args) return std::nullopt;
  if (args->positionals.empty()) {
    usage_error("info", "no database file given");
    return std::nullopt;
  }
  InfoRequest request{args->positionals, args->flag("json"), args->flag("count"), std::nullopt, args->flag("replay")};
  if (const std::string* logs = args->value("logs")) request.logs = *logs;
  if (request.replay && !request.logs) {
    usage_error("info", "--replay needs --logs DIR");
    return std::nullopt;
  }
  return request;
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
        error = with_read_note(db, reader->error().in(ErrorContext::ReadingRecord));
        return std::nullopt;
    }
  }
}

// `file_db` is the database as its file holds it, for what it needs of the logs; `db`
// is the one described (the same, or the replayed database).
InfoFacts gather_info(const Database& db, const Database& file_db, const std::string& path, bool count,
                      const std::optional<std::string>& logs) {
  InfoFacts facts;
  facts.path = path;
  facts.page_size = db.page_size();
  facts.format_version = db.format_version();
  facts.format_revision = db.format_revision();
  facts.total_pages = db.total_pages();
  facts.counted = count;
  facts.profile = recognised_profile(db);
  auto header = read_header_facts(db);
  if (header) {
    facts.header = std::move(*header);
    facts.dirty = facts.header->state == kStateDirtyShutdown || facts.header->state == kStateDirtyAndPatchedShutdown;
  } else {
    facts.errors.push_back(file_error_line(path, "header facts: " + header.error().to_string()));
    facts.failed = true;
  }
  if (facts.header) {
    const std::string* logs_dir = logs ? &*logs : nullptr;
    facts.log_needs_json = info_log_needs(file_db, logs_dir, true, facts.logs_missing);
    bool missing = false;
    facts.log_needs_text = info_log_needs(file_db, logs_dir, false, missing);
  }
  if (facts.dirty) facts.errors.insert(facts.errors.begin(), file_error_line(path, kDirtyWarning));
  if (const auto space = owned_space(db); space && space->truncated()) {
    facts.truncation = space;
    facts.errors.push_back(file_error_line(path, truncation_text(*space)));
    facts.failed = true;
  }
  facts.catalog_root_owner = db.catalog_root_owner();
  facts.catalog_problems = db.catalog_problems();
  for (const auto& [stored_name, table] : db.catalog()) {
    TableFacts t;
    t.name = name_text(stored_name);
    t.columns = table.columns.size();
    if (count) {
      std::string count_error;
      t.records = count_records(db, stored_name, count_error);
      if (!t.records) {
        facts.errors.push_back(table_error_line(path, t.name, count_error));
        facts.failed = true;
      }
    }
    facts.tables.push_back(std::move(t));
  }
  return facts;
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

// The header's facts take their names from the list the module shares.
using F = app::HeaderField;
constexpr std::string_view tool_name(F field) { return app::header_tool_name(field); }

void append_header_json(std::string& out, const InfoFacts& f, const HeaderFacts& h) {
  append_field(out, tool_name(F::State));
  append_json_string(out, h.state_name);
  append_field(out, "dirty");
  out += f.dirty ? "true" : "false";
  const std::pair<F, const LogTime*> times[] = {{F::Created, &h.creation_time},
                                                {F::LastAttached, &h.last_attach_time},
                                                {F::LastDetached, &h.last_detach_time},
                                                {F::LastConsistent, &h.last_consistent_time}};
  for (const auto& [field, time] : times) {
    append_field(out, tool_name(field));
    if (time->set) {
      append_json_string(out, log_time_iso8601(*time));
    } else {
      out += "null";
    }
  }
  append_field(out, tool_name(F::LogGenerationsRequired));
  out += "[" + std::to_string(h.log_generation_low) + "," + std::to_string(h.log_generation_high) + "]";
  out += f.log_needs_json;
  append_field(out, tool_name(F::OsVersion));
  append_json_string(out, os_text(h));
  append_field(out, tool_name(F::HeaderCopiesAgree));
  out += h.copies_agree ? "true" : "false";
  append_field(out, tool_name(F::HeaderChecksumsOk));
  out += h.checksum_ok && h.shadow_checksum_ok ? "true" : "false";
}

void append_replay_json(std::string& out, const replay::ReplayReport& r) {
  append_field(out, "replay");
  out += "{\"generations\":[";
  for (std::size_t k = 0; k < r.generations.size(); ++k) out += (k ? "," : "") + std::to_string(r.generations[k]);
  out += "],\"start\":";
  append_json_string(out, logs::position_text(r.start));
  out += ",\"end\":";
  append_json_string(out, logs::position_text(r.end));
  out += std::string(",\"needed\":") + (r.needed ? "true" : "false");
  for (const auto& [name, value] : app::replay_counts(r)) out += ",\"" + std::string(name) + "\":" + std::to_string(value);
  out += ",\"tables\":[";
  for (std::size_t k = 0; k < r.tables.size(); ++k) {
    const replay::TableChanges& t = r.tables[k];
    out += (k ? ",{" : "{") + std::string("\"objid\":") + std::to_string(t.objid) + ",\"name\":";
    if (t.name.empty()) {
      out += "null";
    } else {
      append_json_string(out, name_text(t.name));
    }
    out += ",\"inserted\":" + std::to_string(t.inserted) + ",\"replaced\":" + std::to_string(t.replaced) +
           ",\"deleted\":" + std::to_string(t.deleted) + "}";
  }
  out += "]}";
}

// Catalog rows passed over at open (types the reader has no use for, unknown column
// types, rows too short): listed, so that nothing is dropped unseen.
void append_catalog_problems_json(std::string& out, const std::vector<CatalogProblem>& problems) {
  append_field(out, "catalog_problems");
  out.push_back('[');
  for (const CatalogProblem& p : problems) {
    if (out.back() != '[') out.push_back(',');
    out += "{\"page\":" + std::to_string(p.page) + ",\"tag\":" + std::to_string(p.tag) + ",\"object_id\":" +
           (p.object_id ? std::to_string(*p.object_id) : "null") +
           ",\"type\":" + (p.type ? std::to_string(*p.type) : "null") + ",\"error\":";
    append_json_string(out, p.error);
    out.push_back('}');
  }
  out.push_back(']');
}

void append_tables_json(std::string& out, const InfoFacts& f) {
  append_field(out, "tables");
  out.push_back('[');
  bool first = true;
  for (const TableFacts& t : f.tables) {
    if (!first) out.push_back(',');
    first = false;
    out += "{";
    append_field(out, "name");
    append_json_string(out, t.name);
    append_field(out, "columns");
    out += std::to_string(t.columns);
    if (f.counted) {
      append_field(out, "records");
      out += t.records ? std::to_string(*t.records) : "null";
    }
    out += "}";
  }
  out.push_back(']');
}

std::string render_info_json(const InfoFacts& f) {
  std::string out = "{";
  append_field(out, "file");
  append_json_string(out, f.path);
  append_field(out, tool_name(F::PageSize));
  out += std::to_string(f.page_size);
  append_field(out, tool_name(F::FormatVersion));
  out += std::to_string(f.format_version);
  append_field(out, tool_name(F::FormatRevision));
  out += std::to_string(f.format_revision);
  append_field(out, "total_pages");
  out += std::to_string(f.total_pages);
  if (f.truncation) {  // only when it applies: sound files keep their objects' shape
    append_field(out, tool_name(F::Truncated));
    out += "{\"owned_pages\":" + std::to_string(f.truncation->last_owned_page) +
           ",\"file_pages\":" + std::to_string(f.truncation->pages_held) + "}";
  }
  if (f.catalog_root_owner != 0) {
    append_field(out, "catalog_root_owner");
    out += std::to_string(f.catalog_root_owner);
  }
  append_field(out, "profile");
  if (f.profile) {
    append_json_string(out, *f.profile);
  } else {
    out += "null";
  }
  if (f.header) append_header_json(out, f, *f.header);
  if (f.replay) append_replay_json(out, *f.replay);
  append_catalog_problems_json(out, f.catalog_problems);
  append_tables_json(out, f);
  out += "}\n";
  return out;
}

std::string pad_right(std::string text, std::size_t width) {
  const std::size_t shown = code_points(text);
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

std::string pad_left(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string render_info_text(const InfoFacts& f) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "  page size:      %u\n  format:         0x%x, revision %u\n  pages:          %u\n",
                f.page_size, f.format_version, f.format_revision, f.total_pages);
  std::string out = f.path + "\n" + buf;
  if (f.truncation) out += "  truncated:      the database owns " + std::to_string(f.truncation->last_owned_page) +
                           " pages, the file holds " + std::to_string(f.truncation->pages_held) + "\n";
  out += "  profile:        " + f.profile.value_or("-") + "\n";
  if (f.header) {
    const HeaderFacts& h = *f.header;
    out += "  state:          " + h.state_name + "\n";
    const auto time_line = [&](const char* label, const LogTime& time) {
      out += label + (time.set ? log_time_text(time) : std::string("-")) + "\n";
    };
    time_line("  created:        ", h.creation_time);
    time_line("  last attached:  ", h.last_attach_time);
    time_line("  last detached:  ", h.last_detach_time);
    time_line("  consistent:     ", h.last_consistent_time);
    if (h.log_generation_high != 0) {
      // In hexadecimal, as the log file names and `quarrow logs` give generations.
      char range[48];
      std::snprintf(range, sizeof range, "0x%X to 0x%X", static_cast<unsigned>(h.log_generation_low),
                    static_cast<unsigned>(h.log_generation_high));
      out += std::string("  logs required:  ") + range + "\n";
    }
    out += f.log_needs_text;
    out += "  written on OS:  " + os_text(h) + "\n";
    out += "  header copies:  " + header_copies_text(h) + "\n";
  }
  if (f.catalog_root_owner != 0) {
    out += "  catalog:        none (its root page " + std::to_string(kCatalogRootPage) + " belongs to object " +
           std::to_string(f.catalog_root_owner) +
           "; an engine temporary database?)\n";
  }
  if (f.replay) {
    out += "  replay:\n";
    for (const std::string& line : replay::report_lines(*f.replay)) out += "    " + line + "\n";
  }
  out += "  tables:         " + std::to_string(f.tables.size()) + "\n";
  out += "  catalog problems: " + std::to_string(f.catalog_problems.size()) + "\n";
  // The table list as columns: names padded to the longest, counts aligned right.
  std::size_t name_width = 0;
  std::size_t columns_width = 0;
  std::size_t records_width = 0;
  for (const TableFacts& t : f.tables) {
    name_width = std::max(name_width, code_points(t.name));
    columns_width = std::max(columns_width, std::to_string(t.columns).size());
    if (t.records) records_width = std::max(records_width, std::to_string(*t.records).size());
  }
  for (const TableFacts& t : f.tables) {
    std::string line = "    " + pad_right(t.name, name_width) + "  " + pad_left(std::to_string(t.columns), columns_width) +
                       " columns";
    if (f.counted) {
      line += t.records ? ", " + pad_left(std::to_string(*t.records), records_width) + " records" : ", records unreadable";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

void write_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int run_info(const std::vector<std::string_view>& raw, const Context&) {
  const auto request = parse_info(raw);
  if (!request) return kExitUsage;
  int status = kExitOk;
  bool first = true;
  for (const std::string& path : request->paths) {
    const auto db = open_or_report(path, std::nullopt, false);  // its own warning, in its place
    if (!db) {
      status = kExitFailed;
      continue;
    }
    app::Opened replayed;
    if (request->replay) {
      replayed = app::open_replayed(*db, *request->logs, replay::ReplayOptions{});
      if (!replayed) {
        std::fflush(stdout);
        print_lines({file_error_line(path, replayed.failure.message)});
        status = kExitFailed;
        continue;
      }
    }
    InfoFacts facts = gather_info(replayed ? *replayed.database : *db, *db, path, request->count, request->logs);
    facts.replay = replayed.replay;
    std::string out;
    if (request->json) {
      out = render_info_json(facts);
    } else {
      if (!first) out += "\n";
      out += render_info_text(facts);
    }
    first = false;
    write_text(out);
    std::fflush(stdout);
    print_lines(facts.errors);
    if (facts.failed || facts.logs_missing) status = kExitFailed;
  }
  return status;
}

}  // namespace quarrow::cli
