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

DatabaseNeeds assess_database(const Database& db, const LogFolder& folder) {
  DatabaseNeeds n;
  n.facts = read_database_log_facts(db.header_pages());
  const DatabaseLogFacts& f = n.facts;
  if (f.dirty && f.gen_max >= f.gen_min && f.gen_max != 0) {
    // A damaged header could claim billions of generations: list at most a few thousand.
    const std::uint32_t last = std::min<std::uint32_t>(f.gen_max, f.gen_min + 4095);
    for (std::uint32_t g = f.gen_min; g <= last; ++g) {
      n.needed.push_back(g);
      (folder.generation(g) != nullptr ? n.present : n.missing).push_back(g);
    }
  }
  bool any = false, all_match = true;
  for (std::size_t i : folder.stream_order()) {
    any = true;
    all_match = all_match && folder.files()[i].header.signature == f.log_signature;
  }
  if (any) n.log_signature_ok = all_match;
  if (f.dirty && f.gen_max != 0) {
    if (const LogFileInfo* last = folder.generation(f.gen_max)) {
      n.gen_max_time_ok = last->header.create_time_raw == f.gen_max_time_raw;
    }
  }

  // One pass: the AttachDB at the attach position, and the page changes after it.
  const LogPosition attach = f.attached.normalised();
  DbidTracker dbids(f.dbid, f.signature);
  LogStream stream(folder);
  LogRecord r;
  const LogFileInfo* file_seen = nullptr;
  while (stream.next(r)) {
    if (&stream.file() != file_seen) {
      file_seen = &stream.file();
      dbids.enter_file(file_seen->header);
    }
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
  return n;
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
  // First pass: how every transaction ended.
  TransactionTracker tracker([this](const TransactionEntry& e) { outcomes_.add(e); });
  LogStream pass(folder);
  LogRecord r;
  while (pass.next(r)) tracker.feed(r, summarize(r));
  tracker.finish();
  outcomes_.set_inner(tracker.inner_rollbacks());
}

bool RowChangeReader::next(RowChange& out) {
  LogRecord r;
  while (stream_.next(r)) {
    if (&stream_.file() != file_) {
      file_ = &stream_.file();
      dbids_.enter_file(file_->header);
    }
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

const Record& RowChangeReader::decode(const RowChange& change) {
  auto plan = plans_.find(change.table);
  if (plan == plans_.end()) plan = plans_.emplace(change.table, make_column_plan(*db_, *change.table)).first;
  decode_record_into(plan->second, change.record, record_, cells_);
  resolve_long_values(*db_, *change.table, record_, budget_);
  return record_;
}

}  // namespace quarrow::logs
