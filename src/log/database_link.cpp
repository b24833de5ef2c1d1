#include "log/database_link.h"

#include <algorithm>

#include "format/log.h"
#include "log/record_types.h"

namespace quarrow::logs {

using namespace logfmt;

DatabaseLogFacts read_database_log_facts(Bytes file) {
  DatabaseLogFacts f;
  if (!in_bounds(file, 0, kDbHeaderLogFieldsEnd)) return f;
  f.state = load_u32le(file, kDbState);
  f.dirty = f.state == kDbStateDirty || f.state == kDbStateDirtyAndPatched;
  f.dbtime = load_u64le(file, kDbDbtime);
  f.signature = read_signature(file, kDbSignature);
  f.log_signature = read_signature(file, kDbLogSignature);
  f.consistent = read_position(file, kDbConsistentPosition);
  f.attached = read_position(file, kDbAttachPosition);
  f.dbid = static_cast<std::uint8_t>(load_u32le(file, kDbDbid));
  f.gen_min = load_u32le(file, kDbGenMin);
  f.gen_max = load_u32le(file, kDbGenMax);
  f.gen_max_committed = load_u32le(file, kDbGenMaxCommitted);
  // Newer headers keep the gen_max log's creation time at 672; older ones at 348, which
  // is only meant when gen_max equals gen_max_committed.
  std::size_t time_at = kDbGenMaxTime;
  if (load_u64le(file, kDbGenMaxTime) == 0 && f.gen_max == f.gen_max_committed) time_at = kDbGenMaxTimeOld;
  f.gen_max_time_raw = load_u64le(file, time_at);
  f.gen_max_time = parse_log_time(file.subspan(time_at, kLogTimeSize));
  return f;
}

void DbidTracker::enter_file(const LogHeader& h) {
  for (const AttachedDatabase& a : h.attachments) {
    if (a.signature == signature_) {
      dbid_ = a.dbid;
      return;
    }
  }
}

void DbidTracker::feed(const LogRecord& r) {
  const Bytes b = r.bytes;
  if (r.type == kAttachDB || r.type == kCreateDB) {
    if (!in_bounds(b, kAttachDBDbid, 1)) return;
    const std::uint8_t dbid = b[kAttachDBDbid];
    const std::size_t sig_at = r.type == kAttachDB ? kAttachDBDbSignature : kCreateDBSignature;
    if (read_signature(b, sig_at) == signature_) {
      dbid_ = dbid;
    } else if (dbid == dbid_) {
      dbid_ = 0;  // another database took the dbid
    }
  } else if (r.type == kDetachDB && in_bounds(b, kAttachDBDbid, 1) && b[kAttachDBDbid] == dbid_) {
    dbid_ = 0;
  }
}

bool same_log_sequence(const LogHeader& log, const DatabaseLogFacts& facts) {
  // A header that never named its logs (all zero) cannot tell: every log may be its.
  const bool unnamed = std::all_of(facts.log_signature.begin(), facts.log_signature.end(),
                                   [](std::uint8_t b) { return b == 0; });
  return unnamed || log.signature == facts.log_signature;
}

bool logs_of_another_database(const LogFolder& folder, const DatabaseLogFacts& facts) {
  const auto& order = folder.stream_order();
  return !order.empty() && std::none_of(order.begin(), order.end(), [&](std::size_t i) {
    return same_log_sequence(folder.files()[i].header, facts);
  });
}

std::string another_database_text(const LogFolder& folder, const DatabaseLogFacts& facts) {
  const auto& order = folder.stream_order();
  const std::string logs = order.empty() ? std::string("none") : signature_text(folder.files()[order.front()].header.signature);
  return "these logs belong to another database: log signature " + logs + " in the logs, " +
         signature_text(facts.log_signature) + " in the database's header";
}

namespace {

// The usable log of generation `g` with the database's log signature and, when
// `create_time_raw` is known (not 0), that creation time.
const LogFileInfo* chained_log(const LogFolder& folder, std::uint32_t g, const DatabaseLogFacts& facts,
                               std::uint64_t create_time_raw) {
  for (std::size_t i : folder.stream_order()) {
    const LogHeader& h = folder.files()[i].header;
    if (h.generation == g && same_log_sequence(h, facts) &&
        (create_time_raw == 0 || h.create_time_raw == create_time_raw)) {
      return &folder.files()[i];
    }
  }
  return nullptr;
}

// The generations a dirty database needs, and which of them chain. The walk goes down
// from gen_max, whose creation time the database header keeps; each log found names
// its predecessor's creation time.
void find_needed(DatabaseNeeds& n, const LogFolder& folder) {
  const DatabaseLogFacts& f = n.facts;
  if (!f.dirty || f.gen_max < f.gen_min || f.gen_max == 0) return;
  // A damaged header could claim billions of generations: list at most a few thousand.
  const std::uint32_t last = std::min<std::uint32_t>(f.gen_max, f.gen_min + 4095);
  std::uint64_t time_raw = last == f.gen_max ? f.gen_max_time_raw : 0;
  std::vector<bool> chains(last - f.gen_min + 1, false);
  for (std::uint32_t g = last;; --g) {
    const LogFileInfo* log = chained_log(folder, g, f, time_raw);
    chains[g - f.gen_min] = log != nullptr;
    time_raw = log != nullptr ? log->header.previous_time_raw : 0;
    if (g == f.gen_min) break;
  }
  for (std::uint32_t g = f.gen_min; g <= last; ++g) {
    n.needed.push_back(g);
    (chains[g - f.gen_min] ? n.present : n.missing).push_back(g);
    if (!chains[g - f.gen_min] && folder.generation(g) != nullptr) n.unchained.push_back(g);
  }
}

// The page changes of the database after its attach position (and the AttachDB at
// that position), in the logs that carry its log signature.
void count_replay(DatabaseNeeds& n, const Database& db, const LogFolder& folder) {
  const DatabaseLogFacts& f = n.facts;
  const LogPosition attach = f.attached.normalised();
  DbidTracker dbids(f.dbid, f.signature);
  LogStream stream(folder);
  LogRecord r;
  const LogFileInfo* file_seen = nullptr;
  bool ours = true;
  while (stream.next(r)) {
    if (&stream.file() != file_seen) {
      file_seen = &stream.file();
      ours = same_log_sequence(file_seen->header, f);
      dbids.enter_file(file_seen->header);
    }
    if (!ours) continue;
    dbids.feed(r);
    if ((r.type == kAttachDB || r.type == kCreateDB) && r.position == attach) {
      n.attach_found = true;
      const std::size_t sig_at = r.type == kAttachDB ? kAttachDBDbSignature : kCreateDBSignature;
      n.attach_signature_ok = read_signature(r.bytes, sig_at) == f.signature;
    }
    if (!(attach < r.position) || attach.is_zero()) continue;
    const RecordSummary s = summarize(r);
    const bool changes_page = s.page_record || r.type == kNewPage;
    if (!changes_page || !dbids.ours(s)) continue;
    if (s.dbtime_after == kDbtimeNil || s.dbtime_after == kDbtimeInvalid) continue;  // UndoInfo: no page change
    ++n.replay_records;
    const Bytes page = s.page != 0 ? db.page_bytes(s.page) : Bytes{};
    if (in_bounds(page, kDbPageDbtime, 8) && load_u64le(page, kDbPageDbtime) >= s.dbtime_after) {
      ++n.already_applied;
    }
  }
}

}  // namespace

DatabaseNeeds needed_generations(const Database& db, const LogFolder& folder) {
  DatabaseNeeds n;
  n.facts = read_database_log_facts(db.header_pages());
  if (!folder.stream_order().empty()) n.another_database = logs_of_another_database(folder, n.facts);
  find_needed(n, folder);
  return n;
}

DatabaseNeeds assess_database(const Database& db, const LogFolder& folder) {
  DatabaseNeeds n;
  n.facts = read_database_log_facts(db.header_pages());
  const DatabaseLogFacts& f = n.facts;
  // The signatures first: another database's logs say nothing about this one.
  if (!folder.stream_order().empty()) {
    n.another_database = logs_of_another_database(folder, f);
    n.log_signature_ok = std::all_of(folder.stream_order().begin(), folder.stream_order().end(),
                                     [&](std::size_t i) { return folder.files()[i].header.signature == f.log_signature; });
  }
  find_needed(n, folder);
  if (f.dirty && f.gen_max != 0) {
    if (const LogFileInfo* last = chained_log(folder, f.gen_max, f, 0)) {
      n.gen_max_time_ok = last->header.create_time_raw == f.gen_max_time_raw;
    }
  }
  if (!n.another_database) count_replay(n, db, folder);
  return n;
}

std::string needs_verdict(const LogFolder& folder, const DatabaseNeeds& n) {
  if (n.another_database) return another_database_text(folder, n.facts);
  if (!n.missing.empty()) return "generations missing";
  if (n.needs_replay()) return std::to_string(n.replay_records - n.already_applied) + " records would be replayed";
  return "needs no replay";
}

const char* change_kind_name(ChangeKind k) {
  switch (k) {
    case ChangeKind::Insert: return "insert";
    case ChangeKind::FlagInsert: return "flag-insert";
    case ChangeKind::Replace: return "replace";
    case ChangeKind::ReplaceDiff: return "replace-diff";
    case ChangeKind::FlagDelete: return "flag-delete";
    case ChangeKind::Delete: return "delete";
    case ChangeKind::Undo: return "undo";
  }
  return "insert";
}

RowChangeReader::RowChangeReader(const LogFolder& folder, const Database& db)
    : db_(&db),
      facts_(read_database_log_facts(db.header_pages())),
      stream_(folder),
      dbids_(facts_.dbid, facts_.signature),
      budget_(long_value_budget(db)) {
  for (const auto& entry : db.catalog()) tables_by_root_[entry.second.root_page] = &entry.second;
  another_database_ = logs_of_another_database(folder, facts_);
  if (another_database_) {
    stream_.add_failure(another_database_text(folder, facts_) + "; no change is read");
    return;
  }
  // First pass: how every transaction ended.
  TransactionTracker tracker([this](const TransactionEntry& e) { outcomes_.add(e); });
  LogStream pass(folder);
  LogRecord r;
  while (pass.next(r)) {
    if (same_log_sequence(pass.file().header, facts_)) tracker.feed(r, summarize(r));
  }
  tracker.finish();
  outcomes_.set_inner(tracker.inner_rollbacks());
}

bool RowChangeReader::next(RowChange& out) {
  if (another_database_) return false;
  LogRecord r;
  while (stream_.next(r)) {
    if (&stream_.file() != file_) {
      file_ = &stream_.file();
      skip_file_ = !same_log_sequence(file_->header, facts_);
      if (skip_file_) {
        stream_.add_failure(file_->name + ": its log signature is not the database's; its changes are left out");
      }
      dbids_.enter_file(file_->header);
    }
    if (skip_file_) continue;
    dbids_.feed(r);
    ChangeKind kind;
    switch (r.type) {
      case kInsert: kind = ChangeKind::Insert; break;
      case kFlagInsert: case kFlagInsertAndReplaceData: kind = ChangeKind::FlagInsert; break;
      case kReplace: kind = ChangeKind::Replace; break;
      case kReplaceD: kind = ChangeKind::ReplaceDiff; break;
      case kFlagDelete: kind = ChangeKind::FlagDelete; break;
      case kDelete: kind = ChangeKind::Delete; break;
      case kUndo: kind = ChangeKind::Undo; break;
      default: continue;
    }
    const RecordSummary s = summarize(r);
    if (!s.node_record || !dbids_.ours(s) || (s.flags & kNodeSpace) != 0) continue;
    const auto table = tables_by_root_.find(s.root_page);
    if (table == tables_by_root_.end()) continue;  // an index, long-value or catalog tree
    out = RowChange{};
    out.position = r.position;
    out.kind = kind;
    out.table = table->second;
    out.procid = s.procid.value_or(kProcidNil);
    out.trx = s.trx;
    out.level = s.level;
    out.page = s.page;
    out.iline = s.iline;
    out.objid = s.objid.value_or(0);
    out.dbtime_before = s.dbtime_before;
    out.dbtime_after = s.dbtime_after;
    out.time = r.segment_time;
    out.outcome = outcomes_.outcome(out.procid, s.trx, s.level, r.position);
    const NodeParts parts = node_parts(r);
    if (kind == ChangeKind::Insert || kind == ChangeKind::FlagInsert || kind == ChangeKind::Undo) {
      out.has_key = true;
      out.key.assign(reinterpret_cast<const char*>(parts.key_prefix.data()), parts.key_prefix.size());
      out.key.append(reinterpret_cast<const char*>(parts.key_suffix.data()), parts.key_suffix.size());
    }
    if (kind == ChangeKind::Insert || kind == ChangeKind::FlagInsert || kind == ChangeKind::Replace) {
      // A FlagInsert without data revives the node with its old data.
      out.has_record = !(kind == ChangeKind::FlagInsert && parts.data.empty());
      out.record = parts.data;
    }
    if (kind == ChangeKind::ReplaceDiff) out.diff = parts.data;
    out.undo_operation = parts.operation;
    return true;
  }
  return false;
}

const ColumnPlan& RowChangeReader::plan(const TableInfo& table) {
  auto plan = plans_.find(&table);
  if (plan == plans_.end()) plan = plans_.emplace(&table, make_column_plan(*db_, table)).first;
  return plan->second;
}

const Record& RowChangeReader::decode(const RowChange& change) {
  decode_record_into(plan(*change.table), change.record, record_, cells_);
  resolve_long_values(*db_, *change.table, record_, budget_);
  return record_;
}

}  // namespace quarrow::logs
