// The evidence report: one self-contained HTML page per database (header facts, the
// verify summary, catalog problems, tables and views, a map of every page coloured by
// what it holds, recovered records and carved text marked on it, and the log chain
// when logs are given), and an index page over several.
//
// Facts are gathered first (gather_report), then rendered (render_report_html): the
// renderer reads no file bytes, and every text that came from a file is escaped there.
// Everything a report holds is bounded: the page map has at most kMaxMapCells cells,
// however many pages the file has, and every list stops at its bound with the count of
// what was left out, so that the page of a file of any size stays a few megabytes and
// is built in one pass per kind of fact.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "forensic/header.h"
#include "forensic/verify.h"
#include "log/database_link.h"
#include "log/log_folder.h"
#include "platform/platform.h"
#include "profiles/profile.h"

namespace quarrow::report {

// What a page holds, as the map colours it.
enum class PageKind : std::uint8_t {
  Catalog,     // the catalog and its shadow copy (trees, indexes)
  TableData,   // a table's data tree
  Index,       // a secondary index tree
  LongValues,  // a long-value tree
  SpaceTrees,  // the database's and every tree's space trees
  Unused,      // never written (all zero), or a leaf no table's tree reaches any more
  Damaged,     // fails its checksum, or does not load
  kCount,
};
inline constexpr std::size_t kPageKinds = static_cast<std::size_t>(PageKind::kCount);
const char* page_kind_name(PageKind kind);

// At most this many map cells (64 columns of 64 rows); a larger file puts several
// consecutive pages in each cell.
inline constexpr std::uint32_t kMapColumns = 64;
inline constexpr std::uint32_t kMaxMapCells = kMapColumns * 64;
// A cell names its owners with the most pages, at most this many.
inline constexpr std::size_t kCellOwners = 3;
// Bounds of the lists a report shows ("and N more" for the rest).
inline constexpr std::size_t kMaxListedTables = 1000;
inline constexpr std::size_t kMaxListedColumns = 200;
inline constexpr std::size_t kMaxListedProblems = 100;
inline constexpr std::size_t kMaxListedRecovered = 100;
inline constexpr std::size_t kMaxListedHits = 100;
inline constexpr std::size_t kMaxListedLogFiles = 200;
// Carving for the map: strings of this many characters or more in page slack, at most
// kMaxCarveHits of them (the map counts them; the list shows the first).
inline constexpr std::uint64_t kCarveMinChars = 8;
inline constexpr std::uint64_t kMaxCarveHits = 100000;

struct OwnerPages {
  std::uint32_t owner = 0;  // index into ReportFacts::owners
  std::uint32_t pages = 0;
};

// Consecutive pages first_page..last_page.
struct MapCell {
  std::uint32_t first_page = 0;
  std::uint32_t last_page = 0;
  std::array<std::uint32_t, kPageKinds> kinds{};
  std::array<OwnerPages, kCellOwners> owners{};  // most pages first; pages 0: unused slot
  std::uint32_t other_owner_pages = 0;           // pages of owners not in `owners`
  std::uint32_t recovered = 0;                   // recovered records on these pages
  std::uint32_t carved = 0;                      // carving hits on these pages
  PageKind dominant() const;                     // the kind with the most pages
};

struct PageMap {
  std::uint32_t pages_per_cell = 1;
  std::vector<MapCell> cells;
  std::array<std::uint64_t, kPageKinds> totals{};
};

struct ColumnFacts {
  std::string name;  // as text (lossy UTF-8)
  std::string type;
};

struct TableFacts {
  std::string name;
  std::size_t column_count = 0;
  std::vector<ColumnFacts> columns;  // the first kMaxListedColumns
  std::size_t index_count = 0;
  std::optional<std::uint64_t> rows;
  std::string rows_error;  // why there is no count
  // Pages of the table's data tree, its indexes and its long values (all kinds).
  std::uint64_t data_pages = 0;
  std::uint64_t index_pages = 0;
  std::uint64_t long_value_pages = 0;
  std::uint64_t recovered = 0;
  std::uint64_t carved = 0;
};

struct ViewFacts {
  std::string name;
  std::string table;
  std::string description;
  std::optional<std::size_t> columns;
  std::optional<std::uint64_t> table_rows;  // rows of the view's table
};

struct RecoveredFacts {
  std::string table;
  std::uint32_t page = 0;
  std::uint32_t offset = 0;
  std::string source;
  std::string live;  // "" when no live row has its key
};

struct CarveFacts {
  std::uint32_t page = 0;
  std::uint64_t offset = 0;
  std::string table;
  std::string text;
};

struct LogFileFacts {
  std::string name;
  std::string role;
  std::optional<std::uint32_t> generation;
  std::uint64_t size = 0;
  std::size_t problems = 0;
  std::string error;  // why it is not usable
};

// Consecutive generations first..last of the chain strip: how many have a usable log,
// how many the database needs, and how many of those are absent.
struct GenerationCell {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t present = 0;
  std::uint32_t needed = 0;
  std::uint32_t missing = 0;
};
inline constexpr std::uint32_t kMaxStripCells = 256;

struct LogChainFacts {
  std::string path;
  std::string error;  // the folder could not be read
  std::vector<LogFileFacts> files;  // the first kMaxListedLogFiles
  std::size_t file_count = 0;
  std::optional<std::uint32_t> lowest;
  std::optional<std::uint32_t> highest;
  std::vector<logs::GenerationGap> gaps;
  std::size_t broken_links = 0;  // links whose time or signature does not match
  bool checksum_failed = false;
  std::uint64_t records = 0;
  std::optional<logs::DatabaseNeeds> needs;
  std::string verdict;
  std::vector<GenerationCell> strip;  // the generations of the logs and of the needs
};

// Events per day (the timeline's events of the database and, with logs, of the logs),
// counted as they are found: no sorting and no event text (a view's reading keeps only
// its dated columns), one entry per distinct day, at most kMaxEventDays of them (events
// of further days are counted in the totals and as left out, not drawn). The work is
// one reading of each view.
inline constexpr std::size_t kMaxEventDays = 100000;
// The histogram shows at most this many bars; a longer span puts several days in a bar.
inline constexpr std::size_t kMaxHistogramBars = 366;

struct EventFacts {
  std::map<std::int64_t, std::array<std::uint64_t, 2>> days;  // day since 1970 -> database, logs
  std::uint64_t database_events = 0;
  std::uint64_t log_events = 0;          // the logs' transactions
  std::uint64_t row_change_events = 0;   // rows the logs insert, replace or delete
  std::uint64_t left_out = 0;  // events of days past kMaxEventDays (in the totals)
  std::string database_error;  // why the database's events are incomplete
  std::string logs_error;
  std::string row_changes_note;  // why row changes are missing or incomplete (the reader's first word)
};

struct ReportFacts {
  std::string path;  // as given
  std::string file_name;
  std::uint64_t file_size = 0;
  std::uint32_t page_size = 0;
  std::uint32_t total_pages = 0;
  std::uint32_t format_version = 0;
  std::uint32_t format_revision = 0;
  std::optional<HeaderFacts> header;
  std::string header_error;
  std::optional<VerifyReport> verify;  // problems cut to kMaxListedProblems
  std::size_t verify_problem_count = 0;
  std::string verify_error;
  std::vector<CatalogProblem> catalog_problems;  // the first kMaxListedProblems
  std::size_t catalog_problem_count = 0;
  std::vector<TableFacts> tables;  // the first kMaxListedTables
  std::size_t table_count = 0;
  std::string profile;
  std::vector<ViewFacts> views;
  // Map owners: [0] is "no owner"; then tables, indexes, long-value trees, objects
  // named by page headers but not by the catalog.
  std::vector<std::string> owners;
  PageMap map;
  std::vector<RecoveredFacts> recovered;  // the first kMaxListedRecovered
  std::uint64_t recovered_count = 0;
  std::vector<CarveFacts> carved;  // the first kMaxListedHits
  std::uint64_t carved_count = 0;
  bool carve_capped = false;  // kMaxCarveHits reached
  std::optional<LogChainFacts> logs;
  EventFacts events;
};

struct ReportOptions {
  std::string path;       // the database's path as the report names it
  std::string logs_path;  // a folder of logs (or one log file); "" for none
  // The profile whose views the report lists; nullptr: the built-in one that
  // recognises the database, if any.
  const profiles::Profile* profile = nullptr;
};

// Gathers every fact of the report. Never fails: what cannot be read is said in the
// facts (an error text in its section).
ReportFacts gather_report(const Database& db, const ReportOptions& options);

// The page: one HTML document that needs nothing outside itself.
std::string render_report_html(const ReportFacts& facts);

// One line of the index page: a report written, or a file that gave none.
struct IndexEntry {
  std::string path;       // the database
  std::string href;       // the report's file name in the output folder ("" on failure)
  std::string error;      // why there is no report
  std::uint32_t total_pages = 0;
  std::size_t tables = 0;
  std::size_t damaged = 0;
  std::string state;
};
std::string render_index_html(const std::vector<IndexEntry>& entries);

// Text escaped for HTML element content and attribute values (&, <, >, ", ').
std::string escape_html(std::string_view text);

// Writes `html` to `output_path`. `evidence`: the identities of the database files
// the report is about; a path that reaches one by any name is refused, so that a
// report never overwrites its evidence. Fails in the context CreatingOutputFile (a
// refusal, or the system's error) or WritingOutput.
Status write_report_file(const std::string& html, const std::string& output_path,
                         const std::vector<platform::FileIdentity>& evidence);

}  // namespace quarrow::report
