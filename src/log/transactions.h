// Transactions as the log shows them. Each session (procid) begins a transaction from
// level 0 with Begin0 (which may open several levels at once), nests with Begin, and
// leaves levels with Commit / Rollback; Commit0 makes the changes permanent. Begins
// are logged lazily (just before a session's first change), so a transaction that
// changed nothing leaves no record. Node records carry the id of their transaction's
// Begin0, which ties them to it even when the Begin0 itself lies before the logs read.
//
// TransactionTracker follows the records in log order and hands out one entry per
// level-0 transaction when it ends (or, for those still open, at finish()). Its memory
// is bounded by the number of sessions open at once, not by the log's length.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "log/log_file.h"
#include "log/record_fields.h"

namespace quarrow::logs {

enum class Outcome : std::uint8_t { Committed, RolledBack, Open };
const char* outcome_name(Outcome o);

struct OperationCounts {
  std::uint32_t records = 0;  // every record of the transaction, Begin and Commit included
  std::uint32_t inserts = 0;
  std::uint32_t replaces = 0;  // Replace, ReplaceD, FlagInsertAndReplaceData, Delta
  std::uint32_t flag_deletes = 0;
  std::uint32_t deletes = 0;
  std::uint32_t other = 0;  // other page changes: splits, merges, new trees, undo
};

struct TransactionEntry {
  std::uint16_t procid = 0;
  std::uint32_t trx = 0;             // the Begin0's id (0 when neither it nor a change was seen)
  bool begin_seen = false;           // false: it began before the logs read
  LogPosition begin;                 // its first record in the logs
  LogTime begin_time;                // the start time of that record's segment
  LogPosition end;                   // Commit0 / Rollback; the last record when open
  LogTime end_time;
  Outcome outcome = Outcome::Open;
  std::uint32_t commit_id = 0;       // Commit0's id
  OperationCounts counts;
};

// A rollback of inner levels: the changes of one session at level >= `level` between
// `from` and `to` were undone although the transaction may still commit.
struct InnerRollback {
  std::uint16_t procid = 0;
  std::uint32_t trx = 0;
  std::uint8_t level = 0;
  LogPosition from;
  LogPosition to;
};

class TransactionTracker {
 public:
  using Sink = std::function<void(const TransactionEntry&)>;
  explicit TransactionTracker(Sink sink) : sink_(std::move(sink)) {}

  void feed(const LogRecord& r, const RecordSummary& s);
  // Hands out the transactions still open at the end.
  void finish();
  const std::vector<InnerRollback>& inner_rollbacks() const { return inner_; }

 private:
  struct Session {
    TransactionEntry entry;
    int level = 0;
    std::vector<LogPosition> level_begins;  // index = level - 1
    bool active = false;
  };
  void close(Session& s, Outcome outcome, const LogRecord& r);
  static void start(Session& s, std::uint16_t procid, bool begin_seen, std::uint32_t trx, const LogRecord& r);
  static void open_levels(Session& s, int levels, const LogRecord& r);
  static void extend(Session& s, const LogRecord& r);
  bool follow_transaction_record(Session& s, std::uint16_t procid, const LogRecord& r);
  bool roll_back(Session& s, std::uint16_t procid, int levels, const LogRecord& r);
  bool end(Session& s, Outcome outcome, const LogRecord& r);
  void follow_page_change(Session& s, std::uint16_t procid, const LogRecord& r, const RecordSummary& sum);

  Sink sink_;
  std::map<std::uint16_t, Session> sessions_;
  std::vector<InnerRollback> inner_;
  std::uint32_t last_generation_ = 0;
};

// Outcomes of every transaction of a log stream, found in one pass, for looking up
// the fate of a change seen in a later pass.
class OutcomeIndex {
 public:
  void add(const TransactionEntry& e);
  void set_inner(std::vector<InnerRollback> inner) { inner_ = std::move(inner); }
  // The outcome of a change by `procid` in transaction `trx` at `level`, at `at`.
  Outcome outcome(std::uint16_t procid, std::uint32_t trx, std::uint8_t level, LogPosition at) const;

 private:
  std::map<std::uint64_t, Outcome> by_trx_;  // (procid << 32) | trx
  std::vector<InnerRollback> inner_;
};

}  // namespace quarrow::logs
