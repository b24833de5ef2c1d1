// quarrow report FILE... -o DIR [--logs DIR]: one HTML page per database, and an
// index page when several are given.
//
// Each file is opened, its facts gathered and its page rendered and written before the
// next one is opened; a file that cannot be opened is listed in the index with the
// reason. Output names are the database's file name with ".html" added, made unique
// within the folder ("-2", "-3", ...); a name that reaches one of the databases given
// is refused, so a report never overwrites its evidence.
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "cli/commands.h"
#include "export/export_file.h"
#include "forensic/verify.h"
#include "report/report.h"

namespace quarrow::cli {

const std::string_view kReportHelp =
    "usage: quarrow report FILE... -o DIR [--logs DIR]\n"
    "\n"
    "Writes a self-contained HTML page per database into DIR ({file name}.html), and\n"
    "index.html over them when several files are given. Each page opens offline in any\n"
    "browser: header facts and the verify summary, catalog problems, tables and views\n"
    "with row counts, columns and sizes, a map of every page coloured by what it holds\n"
    "(catalog, table data, index, long values, space trees, unused, damaged) with\n"
    "recovered records and carved text marked on it, and with --logs the log chain:\n"
    "generations present, gaps, what the database needs and the replay verdict.\n"
    "The page of a file of any size stays a few megabytes: the map groups pages into\n"
    "at most 4096 cells and every list stops with the count of the rest.\n"
    "\n"
    "  -o, --output DIR   the folder for the pages (created when missing)\n"
    "      --logs DIR     a folder of the databases' transaction logs\n"
    "  -q, --quiet        no line per page written\n"
    "\n"
    "Prints the path of each page written. Exit status 1 when a file could not be\n"
    "reported or a page not written (the others are done).\n";

namespace {

const std::vector<OptionSpec> kReportOptions = {{"output", 'o', true}, {"logs", 0, true}, {"quiet", 'q', false}};

struct ReportRequest {
  std::vector<std::string> paths;
  std::string output;
  std::string logs;
  bool quiet = false;
};

std::optional<ReportRequest> parse_report(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("report", raw, kReportOptions);
  if (!args) return std::nullopt;
  if (args->positionals.empty()) {
    usage_error("report", "no database file given");
    return std::nullopt;
  }
  const std::string* output = args->value("output");
  if (output == nullptr || output->empty()) {
    usage_error("report", "no output directory given (-o DIR)");
    return std::nullopt;
  }
  ReportRequest request{args->positionals, *output, "", args->flag("quiet")};
  if (const std::string* logs = args->value("logs")) request.logs = *logs;
  return request;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "{name}.html", or "{name}-N.html" when a page of that name is written already (or
// is the index's); compared without case, as Windows and macOS file systems do.
std::string unique_page_name(const std::string& database_path, std::set<std::string>& taken) {
  std::string stem = base_name(database_path);
  if (stem.empty() || stem == "." || stem == "..") stem = "database";
  std::string name = stem + ".html";
  for (int n = 2; taken.count(folded(name)) != 0; ++n) name = stem + "-" + std::to_string(n) + ".html";
  taken.insert(folded(name));
  return name;
}

}  // namespace

int run_report(const std::vector<std::string_view>& args, const Context&) {
  const auto request = parse_report(args);
  if (!request) return kExitUsage;
  if (Status made = create_output_directory(request->output); !made) {
    print_lines({file_error_line(request->output, made.error().message())});
    return kExitFailed;
  }
  // Every database given is evidence: no page, the index included, may replace one.
  std::vector<platform::FileIdentity> evidence;
  for (const std::string& path : request->paths) {
    if (auto id = file_identity(path)) evidence.push_back(*id);
  }
  std::set<std::string> taken = {"index.html"};
  std::vector<report::IndexEntry> entries;
  bool failed = false;
  for (const std::string& path : request->paths) {
    report::IndexEntry entry;
    entry.path = path;
    app::Opened opened = open_database(path);
    if (!opened) {
      entry.error = std::move(opened.failure.message);
      print_lines({file_error_line(path, entry.error)});
      failed = true;
      entries.push_back(std::move(entry));
      continue;
    }
    const std::unique_ptr<Database> db = std::move(opened.database);
    const report::ReportFacts facts = report::gather_report(*db, {path, request->logs});
    const std::string html = report::render_report_html(facts);
    const std::string name = unique_page_name(path, taken);
    const std::string out_path = output_file_path(request->output, name);
    if (Status written = report::write_report_file(html, out_path, evidence); !written) {
      entry.error = written.error().message();
      print_lines({file_error_line(path, entry.error)});
      failed = true;
    } else {
      entry.href = name;
      entry.total_pages = facts.total_pages;
      entry.tables = facts.table_count;
      entry.damaged = facts.verify_problem_count;
      if (facts.header) entry.state = facts.header->state_name;
      if (!request->quiet) std::printf("%s\n", out_path.c_str());
    }
    entries.push_back(std::move(entry));
  }
  if (request->paths.size() > 1) {
    const std::string html = report::render_index_html(entries);
    const std::string out_path = output_file_path(request->output, "index.html");
    if (Status written = report::write_report_file(html, out_path, evidence); !written) {
      print_lines({file_error_line(out_path, written.error().message())});
      failed = true;
    } else if (!request->quiet) {
      std::printf("%s\n", out_path.c_str());
    }
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quarrow::cli
