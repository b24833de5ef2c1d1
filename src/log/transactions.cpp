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
  const std::uint8_t type = r.type;
  const bool trx_record = type == kBegin || type == kBegin0 || type == kBeginDT || type == kCommit ||
                          type == kCommit0 || type == kRollback;
  if (!trx_record && !sum.page_record) {
    // Records of a session outside the transaction records and page changes (macros,
    // NewPage, Trace...) count towards an open transaction but start none.
    auto it = sessions_.find(procid);
    if (it != sessions_.end() && it->second.active) {
      ++it->second.entry.counts.records;
      it->second.entry.end = r.position;
      it->second.entry.end_time = r.segment_time;
    }
    return;
  }
  Session& s = sessions_[procid];
  const auto start = [&](bool begin_seen, std::uint32_t trx) {
    s = Session{};
    s.active = true;
    s.entry.procid = procid;
    s.entry.trx = trx;
    s.entry.begin_seen = begin_seen;
    s.entry.begin = r.position;
    s.entry.begin_time = r.segment_time;
  };
  const Bytes b = r.bytes;
  switch (type) {
    case kBegin0:
    case kBeginDT: {
      if (s.active) close(s, Outcome::Open, r);  // a new Begin0 means the old one ended unseen
      start(true, read_u32le(b, kTrxId));
      const int levels = in_bounds(b, kTrxLevels, 1) ? (b[kTrxLevels] >> kNibbleBits) : 1;
      for (int k = 0; k < levels && s.level < kMaxLevels; ++k) {
        s.level_begins.push_back(r.position);
        ++s.level;
      }
      break;
    }
    case kBegin: {
      if (!s.active) start(false, 0);
      const int from = in_bounds(b, kTrxLevels, 1) ? (b[kTrxLevels] & kLowNibble) : s.level;
      const int levels = in_bounds(b, kTrxLevels, 1) ? (b[kTrxLevels] >> kNibbleBits) : 1;
      s.level = std::min(from, kMaxLevels);
      s.level_begins.resize(static_cast<std::size_t>(s.level), s.entry.begin);
      for (int k = 0; k < levels && s.level < kMaxLevels; ++k) {
        s.level_begins.push_back(r.position);
        ++s.level;
      }
      break;
    }
    case kCommit: {
      if (!s.active) start(false, 0);
      const int to = in_bounds(b, kTrxLevels, 1) ? b[kTrxLevels] : 0;
      if (to <= 0) {
        ++s.entry.counts.records;
        close(s, Outcome::Committed, r);
        return;
      }
      s.level = std::min(to, kMaxLevels);
      s.level_begins.resize(static_cast<std::size_t>(s.level), s.entry.begin);
      break;
    }
    case kCommit0: {
      if (!s.active) start(false, 0);
      s.entry.commit_id = read_u32le(b, kTrxId);
      ++s.entry.counts.records;
      close(s, Outcome::Committed, r);
      return;
    }
    case kRollback: {
      if (!s.active) start(false, 0);
      const int levels = in_bounds(b, kTrxLevels, 1) ? b[kTrxLevels] : 1;
      const int to = s.level - levels;
      if (to <= 0) {
        ++s.entry.counts.records;
        close(s, Outcome::RolledBack, r);
        return;
      }
      const auto first = static_cast<std::size_t>(to);  // level to + 1 began at level_begins[to]
      inner_.push_back({procid, s.entry.trx, static_cast<std::uint8_t>(to + 1),
                        first < s.level_begins.size() ? s.level_begins[first] : s.entry.begin, r.position});
      s.level = to;
      s.level_begins.resize(static_cast<std::size_t>(to), s.entry.begin);
      break;
    }
    default: {
      // A page change: it belongs to the transaction its Begin0 id names.
      if (s.active && s.entry.trx != 0 && sum.trx != 0 && sum.trx != s.entry.trx) close(s, Outcome::Open, r);
      if (!s.active) {
        start(false, sum.trx);
        s.level = sum.level;
      }
      if (s.entry.trx == 0) s.entry.trx = sum.trx;
      OperationCounts& c = s.entry.counts;
      switch (type) {
        case kInsert: case kFlagInsert: ++c.inserts; break;
        case kReplace: case kReplaceD: case kFlagInsertAndReplaceData: case kDelta: case kDelta64: ++c.replaces; break;
        case kFlagDelete: ++c.flag_deletes; break;
        case kDelete: ++c.deletes; break;
        default: ++c.other; break;
      }
      break;
    }
  }
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
