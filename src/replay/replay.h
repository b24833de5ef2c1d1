// Redo of a database's transaction logs onto copy-on-write page images: the database
// as the engine's recovery would leave it, read from the evidence without writing it.
//
// The replay starts at the database's own position (its attach position when it was
// attached, else its last consistent position: a clean older copy is rolled forward
// when later logs chain to it by log signature) and walks every later record of the
// database in log order. Each page change obeys the page rule with dbtimes: a page
// already at the record's dbtime-after has it; a page at the record's dbtime-before
// gets it; a page older than that lost a write, and the replay stops with an error
// naming the position and the page. Multi-page operations (splits, merges) are held
// per session between MacroBegin and MacroCommit and applied at the commit. At the end,
// every transaction still open is undone from the before-images the replay kept.
//
// The outcome is never a partial state presented as complete: a missing generation, a
// log of another stream or a record that does not fit its page ends in an error.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/page_overlay.h"
#include "error/ese_error.h"
#include "format/database_header.h"
#include "log/log_folder.h"
#include "log/log_types.h"

namespace quarrow::replay {

// What the logs did to one table (or index, or long-value tree: any tree with an
// object id). Rows are counted on the tree's leaf level as the records say.
struct TableChanges {
  std::uint32_t objid = 0;
  std::string name;  // from the catalog or the catalog rows the logs inserted; empty if unknown
  std::uint64_t inserted = 0;
  std::uint64_t replaced = 0;
  std::uint64_t deleted = 0;  // flag-deleted or deleted
};

struct ReplayReport {
  // The generations whose records were read, in order.
  std::vector<std::uint32_t> generations;
  logs::LogPosition start;  // the database's own position the replay started after
  logs::LogPosition end;    // the last record read
  bool needed = false;      // some record changed a page

  // Records of this database after the start that change pages.
  std::uint64_t records_applied = 0;      // changed at least one page
  std::uint64_t records_in_file = 0;      // every page already had them
  std::uint64_t records_other_database = 0;  // page records of another attachment
  // Page writes by the page rule: the page was at the record's dbtime-before; the
  // record creates the page (no dbtime-before); the page had just been given the
  // record's dbtime by the same multi-page operation; the page already had it.
  std::uint64_t writes_at_before = 0;
  std::uint64_t writes_creating = 0;
  std::uint64_t writes_same_operation = 0;
  std::uint64_t writes_already_applied = 0;

  std::uint64_t transactions_committed = 0;
  std::uint64_t transactions_rolled_back = 0;
  std::uint64_t transactions_undone_at_end = 0;
  std::uint64_t operations_undone_at_end = 0;
  std::uint64_t macros_applied = 0;
  std::uint64_t macros_dropped = 0;  // aborted, or still open at the end of the logs

  std::uint64_t pages_changed = 0;  // existing pages the replay wrote
  std::uint64_t pages_created = 0;  // pages the logs created (new pages, beyond the file)
  std::uint32_t total_pages = 0;    // data pages of the replayed database

  std::uint64_t dbtime_before = 0;  // the header's
  std::uint64_t dbtime_after = 0;

  // How many records of each type the replay read after the start (all databases).
  std::array<std::uint64_t, 256> records_by_type{};
  // Per tree with changes, by object id.
  std::vector<TableChanges> tables;
};

// One node operation as the replay applied it, for row history: the tree, the node's
// key and its data before and after, read from the replayed pages at that point.
struct NodeChange {
  logs::LogPosition position;
  std::uint8_t type = 0;      // the record type (Insert, Replace, FlagDelete, Delete, ...)
  std::uint32_t objid = 0;
  std::uint32_t page = 0;
  std::uint16_t procid = 0;
  std::string key;            // the full key
  std::string before;         // empty for an insert
  std::string after;          // empty for a delete / flag-delete
  bool undo_at_end = false;   // made by the final undo
};

struct ReplayOptions {
  // Undo the transactions still open at the end of the logs, as recovery does. Off:
  // their changes stay (the state at the last record).
  bool undo_open_transactions = true;
  // The most memory the replayed page images may take: a log that would write more
  // distinct pages (a damaged ExtendDB and many NewPage records cost 4 KiB each for
  // 20 bytes of log) ends in an error instead.
  std::uint64_t max_overlay_bytes = std::uint64_t{8} << 30;
  // Called for every node operation applied to a page (see NodeChange); may be empty.
  std::function<void(const NodeChange&)> on_node_change;
};

struct ReplayOutcome {
  // The replayed pages over the database file's bytes: the Database must outlive it.
  std::shared_ptr<PageOverlay> overlay;
  // The database header (660 bytes) as recovery leaves it: clean shutdown, the last
  // dbtime, consistent at the end of the logs, no generations required.
  std::array<std::uint8_t, kHeaderCopySize> header{};
  ReplayReport report;
};

// Replays the logs of `logs` onto `db` (which stays unchanged: the file is never
// written). Errors name the log position and the page concerned.
Result<ReplayOutcome> replay_logs(const Database& db, const logs::LogFolder& logs, const ReplayOptions& options);

// The report as lines of text for people ("records applied: 1152", ...).
std::vector<std::string> report_lines(const ReplayReport& report);

}  // namespace quarrow::replay
