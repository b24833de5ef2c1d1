#include "log/transactions.h"

#include <algorithm>

#include "format/log.h"

namespace quarrow::logs {

using namespace logfmt;

namespace {
// Levels are a nibble in Begin records; anything deeper is damage.
constexpr int kMaxLevels = 64;
}  // namespace

const char* outcome_name(Outcome o) {
  switch (o) {
    case Outcome::Committed: return "committed";
    case Outcome::RolledBack: return "rolled back";
    case Outcome::Open: return "open";
  }
  return "open";
}

void TransactionTracker::close(Session& s, Outcome outcome, const LogRecord& r) {
  s.entry.outcome = outcome;
  s.entry.end = r.position;
  s.entry.end_time = r.segment_time;
  sink_(s.entry);
  s.active = false;
  s.level = 0;
  s.level_begins.clear();
}

namespace {

bool is_transaction_record(std::uint8_t type) {
  return type == kBegin || type == kBegin0 || type == kBeginDT || type == kCommit || type == kCommit0 ||
         type == kRollback;
}

// The count a page change adds to its transaction's operation counts.
void count_operation(OperationCounts& c, std::uint8_t type) {
  switch (type) {
    case kInsert: case kFlagInsert: ++c.inserts; break;
    case kReplace: case kReplaceD: case kFlagInsertAndReplaceData: case kDelta: case kDelta64: ++c.replaces; break;
    case kFlagDelete: ++c.flag_deletes; break;
    case kDelete: ++c.deletes; break;
    default: ++c.other; break;
  }
}

}  // namespace

void TransactionTracker::start(Session& s, std::uint16_t procid, bool begin_seen, std::uint32_t trx,
                               const LogRecord& r) {
  s = Session{};
  s.active = true;
  s.entry.procid = procid;
  s.entry.trx = trx;
  s.entry.begin_seen = begin_seen;
  s.entry.begin = r.position;
  s.entry.begin_time = r.segment_time;
}

void TransactionTracker::open_levels(Session& s, int levels, const LogRecord& r) {
  for (int k = 0; k < levels && s.level < kMaxLevels; ++k) {
    s.level_begins.push_back(r.position);
    ++s.level;
  }
}

// Begin0 / BeginDT start a transaction, Begin nests, Commit and Rollback leave levels
// (to level 0: the end), Commit0 ends it. False when the record closed the session's
// transaction (its entry is already handed out).
bool TransactionTracker::follow_transaction_record(Session& s, std::uint16_t procid, const LogRecord& r) {
  const Bytes b = r.bytes;
  const bool has_levels = in_bounds(b, kTrxLevels, 1);
  switch (r.type) {
    case kBegin0:
    case kBeginDT:
      if (s.active) close(s, Outcome::Open, r);  // a new Begin0 means the old one ended unseen
      start(s, procid, true, read_u32le(b, kTrxId), r);
      open_levels(s, has_levels ? (b[kTrxLevels] >> kNibbleBits) : 1, r);
      return true;
    case kBegin: {
      if (!s.active) start(s, procid, false, 0, r);
      s.level = std::min(has_levels ? (b[kTrxLevels] & kLowNibble) : s.level, kMaxLevels);
      s.level_begins.resize(static_cast<std::size_t>(s.level), s.entry.begin);
      open_levels(s, has_levels ? (b[kTrxLevels] >> kNibbleBits) : 1, r);
      return true;
    }
    case kCommit: {
      if (!s.active) start(s, procid, false, 0, r);
      const int to = has_levels ? b[kTrxLevels] : 0;
      if (to <= 0) return end(s, Outcome::Committed, r);
      s.level = std::min(to, kMaxLevels);
      s.level_begins.resize(static_cast<std::size_t>(s.level), s.entry.begin);
      return true;
    }
    case kCommit0:
      if (!s.active) start(s, procid, false, 0, r);
      s.entry.commit_id = read_u32le(b, kTrxId);
      return end(s, Outcome::Committed, r);
    default:  // kRollback
      return roll_back(s, procid, has_levels ? b[kTrxLevels] : 1, r);
  }
}

bool TransactionTracker::roll_back(Session& s, std::uint16_t procid, int levels, const LogRecord& r) {
  if (!s.active) start(s, procid, false, 0, r);
  const int to = s.level - levels;
  if (to <= 0) return end(s, Outcome::RolledBack, r);
  const auto first = static_cast<std::size_t>(to);  // level to + 1 began at level_begins[to]
  inner_.push_back({procid, s.entry.trx, static_cast<std::uint8_t>(to + 1),
                    first < s.level_begins.size() ? s.level_begins[first] : s.entry.begin, r.position});
  s.level = to;
  s.level_begins.resize(static_cast<std::size_t>(to), s.entry.begin);
  return true;
}

bool TransactionTracker::end(Session& s, Outcome outcome, const LogRecord& r) {
  ++s.entry.counts.records;
  close(s, outcome, r);
  return false;
}

// A page change belongs to the transaction its Begin0 id names.
void TransactionTracker::follow_page_change(Session& s, std::uint16_t procid, const LogRecord& r,
                                            const RecordSummary& sum) {
  if (s.active && s.entry.trx != 0 && sum.trx != 0 && sum.trx != s.entry.trx) close(s, Outcome::Open, r);
  if (!s.active) {
    start(s, procid, false, sum.trx, r);
    s.level = sum.level;
  }
  if (s.entry.trx == 0) s.entry.trx = sum.trx;
  count_operation(s.entry.counts, r.type);
}

void TransactionTracker::feed(const LogRecord& r, const RecordSummary& sum) {
  // An engine start ends every session of the previous run: what was open then was
  // either rolled back by recovery or is lost with the missing logs.
  if (r.type == kInit || r.type == kInit2) {
    finish();
    return;
  }
  // So does a gap in the generations: whatever ended there is unknown.
  if (last_generation_ != 0 && r.position.generation > last_generation_ + 1) finish();
  last_generation_ = r.position.generation;
  if (!sum.procid) return;
  const std::uint16_t procid = *sum.procid;
  if (!is_transaction_record(r.type) && !sum.page_record) {
    // Records of a session outside the transaction records and page changes (macros,
    // NewPage, Trace...) count towards an open transaction but start none.
    auto it = sessions_.find(procid);
    if (it != sessions_.end() && it->second.active) extend(it->second, r);
    return;
  }
  Session& s = sessions_[procid];
  if (is_transaction_record(r.type)) {
    if (!follow_transaction_record(s, procid, r)) return;
  } else {
    follow_page_change(s, procid, r, sum);
  }
  extend(s, r);
}

void TransactionTracker::extend(Session& s, const LogRecord& r) {
  ++s.entry.counts.records;
  s.entry.end = r.position;
  s.entry.end_time = r.segment_time;
}

void TransactionTracker::finish() {
  for (auto& [procid, s] : sessions_) {
    if (!s.active) continue;
    s.entry.outcome = Outcome::Open;
    sink_(s.entry);
    s.active = false;
  }
  sessions_.clear();
}

void OutcomeIndex::add(const TransactionEntry& e) {
  if (e.trx == 0) return;
  by_trx_[(static_cast<std::uint64_t>(e.procid) << 32) | e.trx] = e.outcome;
}

Outcome OutcomeIndex::outcome(std::uint16_t procid, std::uint32_t trx, std::uint8_t level, LogPosition at) const {
  const auto it = by_trx_.find((static_cast<std::uint64_t>(procid) << 32) | trx);
  const Outcome o = it == by_trx_.end() ? Outcome::Open : it->second;
  if (o != Outcome::Committed) return o;
  for (const InnerRollback& r : inner_) {
    if (r.procid == procid && r.trx == trx && level >= r.level && r.from < at && at < r.to) {
      return Outcome::RolledBack;
    }
  }
  return o;
}

}  // namespace quarrow::logs
