// A database and its logs: what the database header says about the logs, which
// generations a dirty database needs and whether they are here, whether anything after
// its attach position would change it, and its row changes decoded with its catalog.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "log/log_folder.h"
#include "log/record_fields.h"
#include "log/transactions.h"
#include "record/long_value.h"
#include "record/parser.h"
#include "record/value.h"

namespace quarrow::logs {

struct DatabaseLogFacts {
  std::uint32_t state = 0;
  bool dirty = false;  // dirty shutdown (or dirty and patched): recovery would run
  std::uint64_t dbtime = 0;
  Signature signature{};
  Signature log_signature{};
  LogPosition consistent;
  LogPosition attached;
  std::uint8_t dbid = 0;
  std::uint32_t gen_min = 0;
  std::uint32_t gen_max = 0;
  std::uint32_t gen_max_committed = 0;
  std::uint64_t gen_max_time_raw = 0;  // creation time of the gen_max log, as the header keeps it
  LogTime gen_max_time;
};

// Reads the header's log fields from the database file's bytes.
DatabaseLogFacts read_database_log_facts(Bytes file);

// Whether a log carries the database's log signature (any log does when the header
// names none).
bool same_log_sequence(const LogHeader& log, const DatabaseLogFacts& facts);
// Whether the logs are another database's: logs are present and none carries the
// database's log signature. Then nothing in them can be replayed onto it.
bool logs_of_another_database(const LogFolder& folder, const DatabaseLogFacts& facts);
// "these logs belong to another database: log signature ... in the logs, ... in the
// database's header", naming the first log's signature.
std::string another_database_text(const LogFolder& folder, const DatabaseLogFacts& facts);

struct DatabaseNeeds {
  DatabaseLogFacts facts;
  std::vector<std::uint32_t> needed;   // gen_min .. gen_max when dirty
  // Of those, the generations whose log chains to the database: it carries the
  // database's log signature and the creation time that the next generation (or, for
  // gen_max, the database header) names. A log of the right number that does not chain
  // is missing, and listed in `unchained` as well.
  std::vector<std::uint32_t> present;
  std::vector<std::uint32_t> missing;
  std::vector<std::uint32_t> unchained;
  bool another_database = false;  // see logs_of_another_database: no replay is estimated
  std::optional<bool> log_signature_ok;   // every log present carries the header's log signature
  std::optional<bool> gen_max_time_ok;    // the gen_max log's creation time matches the header's
  std::optional<bool> attach_signature_ok;  // the AttachDB at the attach position names this database
  bool attach_found = false;
  std::uint64_t replay_records = 0;   // page changes of this database after its attach position
  std::uint64_t already_applied = 0;  // of those, on pages whose dbtime is already as new
  bool needs_replay() const { return replay_records > already_applied; }
  bool complete() const { return missing.empty(); }
  // What a reader must report as a failure: missing generations, another database's logs.
  bool failed() const { return !missing.empty() || another_database; }
};

// The generations the database needs and which of them chain, without the pass over
// the records (replay_records and the attach facts stay unset).
DatabaseNeeds needed_generations(const Database& db, const LogFolder& folder);
// One pass over the logs. The database is read, never written.
DatabaseNeeds assess_database(const Database& db, const LogFolder& folder);
// The verdict in a few words: another database's logs, "generations missing", "N records
// would be replayed" or "needs no replay".
std::string needs_verdict(const LogFolder& folder, const DatabaseNeeds& n);

// Which dbid the database has at each point of the stream: the header's, then as the
// log headers' attachment lists and AttachDB / CreateDB / DetachDB records say.
class DbidTracker {
 public:
  DbidTracker(std::uint8_t dbid, const Signature& signature) : dbid_(dbid), signature_(signature) {}
  void enter_file(const LogHeader& h);
  void feed(const LogRecord& r);
  bool ours(const RecordSummary& s) const { return s.dbid && dbid_ != 0 && *s.dbid == dbid_; }

 private:
  std::uint8_t dbid_;
  Signature signature_;
};

enum class ChangeKind : std::uint8_t { Insert, FlagInsert, Replace, ReplaceDiff, FlagDelete, Delete, Undo };
const char* change_kind_name(ChangeKind k);

struct RowChange {
  LogPosition position;
  ChangeKind kind = ChangeKind::Insert;
  const TableInfo* table = nullptr;
  std::uint16_t procid = 0;
  std::uint32_t trx = 0;
  std::uint8_t level = 0;
  std::uint32_t page = 0;
  std::uint16_t iline = 0;
  std::uint32_t objid = 0;
  std::uint64_t dbtime_before = 0;
  std::uint64_t dbtime_after = 0;
  // Insert, FlagInsert(AndReplaceData), Undo: the row's primary key from the record;
  // the others when a replay named the node they act on (app/row_images.h).
  bool has_key = false;
  std::string key;
  bool has_record = false;  // the record image: Insert, FlagInsert(AndReplaceData), Replace
  Bytes record;             // valid until the next step
  Bytes diff;               // ReplaceD: the diff against the node's current data
  std::uint16_t undo_operation = 0;
  // The node's data before and after the change as the replayed pages held it at that
  // point of the logs, when a replay gave them (app/row_images.h); views into the images.
  bool has_before = false;
  Bytes before;
  bool has_after = false;
  Bytes after;
  LogTime time;             // the start time of the record's segment
  Outcome outcome = Outcome::Open;
};

// The row changes of one database in log order. The constructor makes a first pass
// over the logs for the transactions' outcomes (and the inner rollbacks); next() makes
// the second. Only changes to the data trees of the database's tables are reported:
// index, long-value and space-tree operations are not row changes.
class RowChangeReader {
 public:
  // Logs of another database give no change (and say so in problems()); a log whose
  // signature differs from the database's is left out, and said so too.
  RowChangeReader(const LogFolder& folder, const Database& db);
  bool next(RowChange& out);
  const std::vector<std::string>& problems() const { return stream_.problems(); }
  bool failed() const { return stream_.failed(); }
  // The column plan of a table, made once per table.
  const ColumnPlan& plan(const TableInfo& table);
  // Decodes a change's record image with its table's columns, as read_table decodes
  // the table's records (long values resolved through the database).
  const Record& decode(const RowChange& change);

 private:
  const Database* db_;
  DatabaseLogFacts facts_;
  OutcomeIndex outcomes_;
  std::map<std::uint32_t, const TableInfo*> tables_by_root_;
  LogStream stream_;
  DbidTracker dbids_;
  const LogFileInfo* file_ = nullptr;
  bool skip_file_ = false;  // a log of another log sequence
  bool another_database_ = false;
  std::map<const TableInfo*, ColumnPlan> plans_;
  LongValueBudget budget_;
  Record record_;
  RecordScratch cells_;
  std::string key_;
};

}  // namespace quarrow::logs
