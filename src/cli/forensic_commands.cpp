// Commands that examine a database as evidence: verify (page checksums and both
// header copies) and recover (records no longer live but still readable).
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "export/json_lines.h"
#include "forensic/recover.h"
#include "forensic/verify.h"

namespace quarrow::cli {

const std::string_view kVerifyHelp =
    "usage: quarrow verify [--json] FILE...\n"
    "\n"
    "Checks both header copies and the checksum of every page (both checksum forms; pages\n"
    "of 16 and 32 KiB as four blocks). All-zero pages are uninitialised, not damaged.\n"
    "Prints a summary line per file, then a line per damaged page: the problem\n"
    "('checksum mismatch' or 'page number mismatch'), the stored and computed values and,\n"
    "for one flipped bit the code can locate, the bit's offset in the page; a last page\n"
    "the file holds only in part is 'truncated', with the bytes present. Page -1 is\n"
    "the header, page 0 its shadow copy. The catalog is not needed: a file whose tables\n"
    "no longer open can still be checked; a file that is no database fails.\n"
    "\n"
    "      --json    one JSON object per file\n"
    "\n"
    "Exit status 1 when any problem is found or a file cannot be read.\n";

const std::string_view kRecoverHelp =
    "usage: quarrow recover [--quiet] [--exclude-live] FILE TABLE\n"
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
    "  -q, --quiet          no summary\n";

namespace {

const std::vector<OptionSpec> kVerifyOptions = {{"json", 0, false}, {"quiet", 'q', false}};
const std::vector<OptionSpec> kRecoverOptions = {{"quiet", 'q', false}, {"exclude-live", 0, false}};

void write_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string hex64(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return buf;
}

void append_problem_json(std::string& out, const PageProblem& p) {
  out += "{\"page\":" + std::to_string(p.page) + ",\"problem\":";
  append_json_string(out, p.problem);
  out += ",\"stored\":" + std::to_string(p.stored) + ",\"computed\":" + std::to_string(p.computed);
  if (p.bit) out += ",\"bit\":" + std::to_string(*p.bit);
  if (p.bytes_present) out += ",\"bytes_present\":" + std::to_string(*p.bytes_present);
  out += "}";
}

}  // namespace

int run_verify(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("verify", raw, kVerifyOptions);
  if (!args) return kExitUsage;
  if (args->positionals.empty()) return usage_error("verify", "no database file given");
  const bool json = args->flag("json");
  int status = kExitOk;
  for (const std::string& path : args->positionals) {
    Result<VerifyReport> report = verify_path(path);
    if (!report) {
      std::fflush(stdout);
      const std::string message = report.error().kind() == ErrorKind::Io ? report.error().os_error_text()
                                                                           : report.error().to_string();
      std::fprintf(stderr, "%s\n", file_error_line(path, message).c_str());
      status = kExitFailed;
      continue;
    }
    const VerifyReport& r = *report;
    if (!r.problems.empty()) status = kExitFailed;
    std::string out;
    if (json) {
      out = "{\"file\":";
      append_json_string(out, path);
      out += ",\"pages_checked\":" + std::to_string(r.pages_checked) +
             ",\"uninitialised\":" + std::to_string(r.uninitialised) + ",\"problems\":[";
      for (std::size_t i = 0; i < r.problems.size(); ++i) {
        if (i > 0) out += ",";
        append_problem_json(out, r.problems[i]);
      }
      out += "]}\n";
    } else {
      out = path + ": " + (r.problems.empty() ? "ok" : std::to_string(r.problems.size()) + " damaged") + ", " +
            std::to_string(r.pages_checked) + " pages checked (header copies included), " +
            std::to_string(r.uninitialised) + " uninitialised\n";
      for (const PageProblem& p : r.problems) {
        if (p.bytes_present) {
          out += "  page " + std::to_string(p.page) + ": " + p.problem + ", " + std::to_string(*p.bytes_present) +
                 " bytes present\n";
          continue;
        }
        out += "  page " + std::to_string(p.page) + ": " + p.problem + ", stored " + hex64(p.stored) +
               ", computed " + hex64(p.computed);
        if (p.bit) out += ", bit " + std::to_string(*p.bit) + " flipped";
        out += "\n";
      }
    }
    write_text(out);
  }
  return status;
}

int run_recover(const std::vector<std::string_view>& raw, const Context&) {
  const auto args = parse_or_complain("recover", raw, kRecoverOptions);
  if (!args) return kExitUsage;
  if (args->positionals.size() != 2) return usage_error("recover", "expected a database file and a table name");
  const std::string& path = args->positionals[0];
  const std::string& name = args->positionals[1];
  const auto db = open_or_report(path);
  if (!db) return kExitFailed;
  RecoveryCounts counts;
  Result<std::vector<RecoveredRecord>> records = recover_records(*db, name, &counts);
  if (!records) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, lookup_error_text(records.error())).c_str());
    return kExitFailed;
  }
  const bool exclude_live = args->flag("exclude-live");
  Output out = Output::standard_output();
  std::string row;
  std::uint64_t excluded = 0;
  for (const RecoveredRecord& r : *records) {
    if (exclude_live && r.live == kLiveIdentical) {
      ++excluded;
      continue;
    }
    record_to_json_line(r.record, row);
    std::string& buffer = out.buffer();
    buffer += "{\"live\":";
    if (r.live != nullptr) {
      append_json_string(buffer, r.live);
    } else {
      buffer += "null";
    }
    buffer += ",\"missing_long_values\":[";
    for (std::size_t k = 0; k < r.missing_long_values.size(); ++k) {
      if (k > 0) buffer += ",";
      append_json_string(buffer, name_text(r.missing_long_values[k]));
    }
    buffer += "],\"offset\":" + std::to_string(r.offset) + ",\"page\":" + std::to_string(r.page) + ",\"record\":";
    buffer += row;
    buffer += ",\"source\":";
    append_json_string(buffer, r.source);
    buffer += "}\n";
    if (!out.commit()) break;
  }
  if (!out.finish()) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, out.error()).c_str());
    return kExitFailed;
  }
  if (!args->flag("quiet")) {
    std::uint64_t identical = 0, older = 0;
    for (const RecoveredRecord& r : *records) {
      identical += r.live == kLiveIdentical;
      older += r.live == kLiveOlderVersion;
    }
    std::string summary = std::to_string(records->size()) + " recovered (" + std::to_string(counts.flagged_deleted) +
                          " flagged deleted, " + std::to_string(counts.accepted) + " from free space; " +
                          std::to_string(identical) + " identical to live rows" +
                          (exclude_live ? " (" + std::to_string(excluded) + " left out)" : std::string()) + ", " +
                          std::to_string(older) + " older versions) on " +
                          std::to_string(counts.pages_scanned) + " leaf pages; " +
                          std::to_string(counts.candidates) + " free-space candidates, rejected:";
    for (std::size_t k = 0; k < static_cast<std::size_t>(Rejection::kCount); ++k) {
      summary += std::string(k == 0 ? " " : ", ") + rejection_name(static_cast<Rejection>(k)) + " " +
                 std::to_string(counts.rejected[k]);
    }
    std::fprintf(stderr, "%s\n", table_error_line(path, name, summary).c_str());
  }
  return kExitOk;
}

}  // namespace quarrow::cli
