// quarrow recover FILE TABLE: records no longer live but still readable.
//
// The table's pages are scanned (the facts: the records and what the scan counted),
// then the records are written as JSON Lines, one object per record with the module's
// fields, its members sorted by name as in every JSON line the tool writes, and the
// summary goes to the standard error.
#include <cstdio>
#include <string>

#include "app/forensic_fields.h"
#include "cli/commands.h"
#include "cli/json_object.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "forensic/recover.h"
#include "record/decoded.h"
#include "record/reader.h"

namespace quarrow::cli {

const std::string_view kRecoverHelp =
    "usage: quarrow recover [--quiet] [--exclude-live] [--decoded] [--logs DIR] FILE TABLE\n"
    "\n"
    "Writes the records of TABLE that are no longer live but can still be read, as JSON\n"
    "Lines: {\"live\", \"missing_long_values\", \"offset\", \"page\", \"record\", \"source\"},\n"
    "record being the row as 'dump' writes it. Source 'flagged_deleted': nodes the engine\n"
    "marked deleted but has not yet removed; 'free_space': record images found in the\n"
    "unused space of the table's leaf pages. Live 'identical': a live row has the same\n"
    "primary key and values; 'older_version': a live row has the same primary key and\n"
    "other values; null: no live row has the key, or the table has no primary index.\n"
    "A long value that can no longer be found is null, and its column is listed under\n"
    "missing_long_values. A summary (candidates examined, taken, rejected and why) goes\n"
    "to the standard error.\n"
    "\n"
    "      --exclude-live   leave out records identical to a live row\n"
    "  -d, --decoded        records as 'dump --decoded' writes them (typed values)\n"
    "  -q, --quiet          no summary\n"
    "      --logs DIR       read the database as replaying the transaction logs in DIR\n"
    "                       leaves it (records the replay removed can be found again)\n";

namespace {

const std::vector<OptionSpec> kRecoverOptions = {
    {"quiet", 'q', false}, {"exclude-live", 0, false}, {"decoded", 'd', false}, kLogsOption};

struct RecoverRequest {
  std::string path;
  std::string table;
  bool exclude_live = false;
  bool quiet = false;
  bool decoded = false;
  std::optional<std::string> logs;  // --logs DIR
};

// What the scan of the table found and counted.
struct RecoverFacts {
  std::vector<RecoveredRecord> records;
  RecoveryCounts counts;
  std::uint64_t identical = 0;  // records identical to a live row
  std::uint64_t older = 0;      // records an older version of a live row
};

std::optional<RecoverRequest> parse_recover(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("recover", raw, kRecoverOptions);
  const bool named = args && args->positionals.size() == 2;
  if (args && !named) usage_error("recover", "expected a database file and a table name");
  if (!named) return std::nullopt;
  return RecoverRequest{args->positionals[0], args->positionals[1], args->flag("exclude-live"), args->flag("quiet"),
                        args->flag("decoded"), logs_option(*args)};
}

Result<RecoverFacts> gather_recover(const Database& db, const std::string& table) {
  RecoverFacts facts;
  Result<std::vector<RecoveredRecord>> records = recover_records(db, table, &facts.counts);
  if (!records) return std::move(records).error();
  facts.records = std::move(records).value();
  for (const RecoveredRecord& r : facts.records) {
    facts.identical += r.live == kLiveIdentical;
    facts.older += r.live == kLiveOlderVersion;
  }
  return facts;
}

// --decoded: the records as typed values, decoded from their stored bytes the way
// dump --decoded decodes a table's records.
class RecoveredDecoder {
 public:
  RecoveredDecoder(const Database& db, TableRecordReader reader)
      : reader_(std::move(reader)), decoder_(db, reader_.table(), reader_.plan()), writer_(decoder_.columns()) {}
  // The record's JSON object, without the line feed.
  void render(const RecoveredRecord& r, std::string& out) {
    out.clear();
    decoder_.decode(r.image, cells_);
    writer_.append(out, cells_);
    if (!out.empty() && out.back() == '\n') out.pop_back();
  }

 private:
  TableRecordReader reader_;
  RecordDecoder decoder_;
  DecodedJsonWriter writer_;
  std::vector<DecodedCell> cells_;
};

// One record's line; `row` is scratch space for the rendered record.
void append_recovered_json(std::string& out, const RecoveredRecord& r, std::string& row, RecoveredDecoder* decoded) {
  using app::RecoveredField;
  out += '{';
  for (const RecoveredField field : app::kRecoveredFieldsByName) {
    append_field(out, app::recovered_field_name(field));
    switch (field) {
      case RecoveredField::Page: out += std::to_string(r.page); break;
      case RecoveredField::Offset: out += std::to_string(r.offset); break;
      case RecoveredField::Source: append_json_string(out, r.source); break;
      case RecoveredField::Record:
        if (decoded != nullptr) decoded->render(r, row);
        else record_to_json_line(r.record, row);
        out += row;
        break;
      case RecoveredField::Live:
        if (r.live != nullptr) {
          append_json_string(out, r.live);
        } else {
          out += "null";
        }
        break;
      case RecoveredField::MissingLongValues:
        out += "[";
        for (std::size_t k = 0; k < r.missing_long_values.size(); ++k) {
          if (k > 0) out += ",";
          append_json_string(out, name_text(r.missing_long_values[k]));
        }
        out += "]";
        break;
    }
  }
  out += "}\n";
}

std::string render_recover_summary(const RecoverFacts& f, bool exclude_live, std::uint64_t excluded) {
  const RecoveryCounts& counts = f.counts;
  std::string summary = std::to_string(f.records.size()) + " recovered (" + std::to_string(counts.flagged_deleted) +
                        " flagged deleted, " + std::to_string(counts.accepted) + " from free space; " +
                        std::to_string(f.identical) + " identical to live rows" +
                        (exclude_live ? " (" + std::to_string(excluded) + " left out)" : std::string()) + ", " +
                        std::to_string(f.older) + " older versions) on " + std::to_string(counts.pages_scanned) +
                        " leaf pages; " + std::to_string(counts.candidates) + " free-space candidates, rejected:";
  for (std::size_t k = 0; k < static_cast<std::size_t>(Rejection::kCount); ++k) {
    summary += std::string(k == 0 ? " " : ", ") + rejection_name(static_cast<Rejection>(k)) + " " +
               std::to_string(counts.rejected[k]);
  }
  return summary;
}

}  // namespace

int run_recover(const std::vector<std::string_view>& raw, const Context&) {
  const auto request = parse_recover(raw);
  if (!request) return kExitUsage;
  const std::string& path = request->path;
  const std::string& name = request->table;
  const auto db = open_or_report(path, request->logs);
  if (!db) return kExitFailed;
  Result<RecoverFacts> facts = gather_recover(*db, name);
  if (!facts) {
    print_lines(table_lookup_lines(*db, path, name, facts.error()));
    return kExitFailed;
  }
  std::optional<RecoveredDecoder> decoder;
  if (request->decoded) {
    auto reader = open_table_reader(*db, name);
    if (!reader) {
      print_lines(table_lookup_lines(*db, path, name, reader.error()));
      return kExitFailed;
    }
    decoder.emplace(*db, std::move(reader).value());
  }
  Output out = Output::standard_output();
  std::string row;
  std::uint64_t excluded = 0;
  for (const RecoveredRecord& r : facts->records) {
    if (request->exclude_live && r.live == kLiveIdentical) {
      ++excluded;
      continue;
    }
    append_recovered_json(out.buffer(), r, row, decoder ? &*decoder : nullptr);
    if (!out.commit().ok()) break;
  }
  if (Status finished = out.finish(); !finished) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, finished.error().message()).c_str());
    return kExitFailed;
  }
  if (!request->quiet) {
    const std::string summary = render_recover_summary(*facts, request->exclude_live, excluded);
    std::fprintf(stderr, "%s\n", table_error_line(path, name, summary).c_str());
  }
  return kExitOk;
}

}  // namespace quarrow::cli
