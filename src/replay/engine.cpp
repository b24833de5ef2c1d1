#include "replay/engine.h"

#include <algorithm>
#include <cstring>

#include "format/log.h"
#include "format/redo.h"
#include "log/record_types.h"

namespace quarrow::replay {

PagePart page_part(Bytes b) {
  return PagePart{load_u32le(b, logfmt::kPagePgno), load_u64le(b, logfmt::kPageDbtimeAfter),
                  load_u64le(b, logfmt::kPageDbtimeBefore), load_u16le(b, logfmt::kPageIline)};
}

std::uint32_t named_page(Bytes b) {
  return b.size() >= logfmt::kPagePgno + sizeof(std::uint32_t) ? load_u32le(b, logfmt::kPagePgno) : 0;
}

using namespace logfmt;

namespace {

// The longest chain of records a replay holds for open macros (all sessions): a log
// whose macros never commit must not grow memory without bound.
constexpr std::size_t kMaxHeldBytes = 64u << 20;
// How deep a tree search may go before the tree is called damaged.
constexpr int kMaxTreeDepth = 64;

bool is_node_change(std::uint8_t type) {
  switch (type) {
    case kInsert: case kFlagInsert: case kFlagInsertAndReplaceData: case kFlagDelete: case kReplace:
    case kReplaceD: case kDelete: case kDelta: case kDelta64: case kSetExternalHeader: case kUndo:
      return true;
    default:
      return false;
  }
}

// Applies a ReplaceD diff to the node's current data.
Result<std::string> apply_diff(const std::string& before, Bytes diff, bool large) {
  std::string out;
  std::size_t pos = 0, i = 0;
  auto bad = [] { return EseError::parse("the replace diff does not fit the node's data"); };
  auto read_len = [&](bool two, std::size_t& v) {
    if (i + (two ? 2 : 1) > diff.size()) return false;
    v = two ? load_u16le(diff, i) : diff[i];
    i += two ? 2 : 1;
    return true;
  };
  while (i < diff.size()) {
    std::size_t offset = 0;
    bool same = false, insert = false, two = false;
    if (!large) {
      if (i + redo::kDiffHeaderSize > diff.size()) return bad();
      const std::uint16_t h = load_u16le(diff, i);
      i += redo::kDiffHeaderSize;
      offset = h & redo::kDiffOffsetMask;
      same = (h & redo::kDiffSameLength) != 0;
      insert = (h & redo::kDiffInsert) != 0;
      two = (h & redo::kDiffTwoByteLengths) != 0;
    } else {
      if (i + redo::kDiffLargeHeaderSize > diff.size()) return bad();
      offset = load_u16le(diff, i);
      const std::uint8_t f = diff[i + redo::kDiffLargeFlagsOffset];
      i += redo::kDiffLargeHeaderSize;
      same = (f & redo::kDiffLargeSameLength) != 0;
      insert = (f & redo::kDiffLargeInsert) != 0;
      two = (f & redo::kDiffLargeTwoByteLengths) != 0;
    }
    if (offset < pos || offset > before.size()) return bad();
    out.append(before, pos, offset - pos);
    pos = offset;
    std::size_t new_len = 0, old_len = 0;
    if (!read_len(two, new_len)) return bad();
    if (!insert) {
      if (same) {
        old_len = new_len;
      } else if (!read_len(two, old_len)) {
        return bad();
      }
    }
    if (i + new_len > diff.size() || pos + old_len > before.size()) return bad();
    out.append(reinterpret_cast<const char*>(diff.data() + i), new_len);
    i += new_len;
    pos += old_len;
  }
  out.append(before, pos, std::string::npos);
  return out;
}

}  // namespace

Engine::Engine(const Database& db, const ReplayOptions& options, ReplayReport& report,
               std::shared_ptr<PageOverlay> overlay)
    : db_(db), options_(options), report_(report), overlay_(std::move(overlay)) {
  page_size_ = overlay_->page_size();
  page_limit_ = overlay_->base_pages();
}

EseError Engine::error_at(std::uint32_t page, const std::string& what) const {
  return EseError::parse("log position " + logs::position_text(position_) + ", page " + std::to_string(page) + ": " + what);
}

Status Engine::fail_at(std::uint32_t page, const EseError& e) const { return error_at(page, error_detail(e)); }

void Engine::extend(std::uint32_t last_page) {
  if (last_page <= page_limit_) return;
  page_limit_ = last_page;
  extended_pages_ = last_page;
  overlay_->extend_to(last_page);
}

Status Engine::limit_page(std::uint32_t page) const {
  if (page == 0 || page > page_limit_) {
    return error_at(page, "the page is not one of the database's pages 1 to " + std::to_string(page_limit_));
  }
  return {};
}

std::uint64_t Engine::page_dbtime(std::uint32_t page) const {
  const Bytes b = overlay_->page(page);
  return b.size() >= kDbPageDbtime + 8 ? load_u64le(b, kDbPageDbtime) : 0;
}

Result<PageEditor> Engine::edit(std::uint32_t page) {
  if (Status st = limit_page(page); !st) return st.error();
  if (!overlay_->written(page)) {
    if ((overlay_->written_pages() + 1) * std::uint64_t{page_size_} > options_.max_overlay_bytes) {
      return error_at(page, "the logs write more pages than the replay may hold in memory (" +
                                std::to_string(options_.max_overlay_bytes >> 20) + " MiB)");
    }
    if (page > overlay_->base_pages()) created_.insert(page);
  }
  return PageEditor(overlay_->write(page));
}

void Engine::touch(std::uint32_t page, std::uint64_t dbtime) {
  // Every caller edited the page first: it is in the overlay already.
  PageEditor(overlay_->write(page)).set_dbtime(dbtime);
  written_at_[page] = dbtime;
  highest_dbtime_ = std::max(highest_dbtime_, dbtime);
  record_applied_ = true;
}

Result<Engine::Rule> Engine::check(std::uint32_t page, std::uint64_t after, std::uint64_t before, bool creates) {
  if (Status st = limit_page(page); !st) return st.error();
  if (after == kDbtimeNil || after == kDbtimeInvalid) return error_at(page, "the record carries no dbtime");
  highest_dbtime_ = std::max(highest_dbtime_, after);
  if (in_macro_) {
    if (auto it = macro_rule_.find(page); it != macro_rule_.end()) {
      ++report_.writes_same_operation;
      return it->second;
    }
  }
  const std::uint64_t now = page_dbtime(page);
  Rule rule = Rule::Apply;
  if (creates || before == kDbtimeInvalid || before == kDbtimeNil) {
    ++report_.writes_creating;
    rule = now >= after && pre_initialised_.count(page) == 0 ? Rule::Skip : Rule::Apply;
  } else if (now >= after) {
    auto w = written_at_.find(page);
    if (w != written_at_.end() && w->second == after) {
      ++report_.writes_same_operation;
    } else {
      ++report_.writes_already_applied;
    }
    rule = Rule::Skip;
  } else if (now == before) {
    ++report_.writes_at_before;
  } else {
    return error_at(page, "dbtime mismatch: the page is at " + std::to_string(now) + ", the record expects " +
                              std::to_string(before) + " before its " + std::to_string(after) +
                              (now < before ? " (the database lost a write)" : ""));
  }
  if (in_macro_) macro_rule_[page] = rule;
  return rule;
}

void Engine::count_change(std::uint32_t objid, std::uint8_t type, std::uint8_t flags) {
  if (flags & kNodeSpace) return;
  TableChanges& t = changes_[objid];
  t.objid = objid;
  switch (type) {
    case kInsert: case kFlagInsert: case kFlagInsertAndReplaceData: ++t.inserted; break;
    case kReplace: case kReplaceD: case kDelta: case kDelta64: ++t.replaced; break;
    case kFlagDelete: case kDelete: ++t.deleted; break;
    default: break;
  }
}

void Engine::notify(const HeldRecord& r, std::uint32_t objid, std::uint32_t page, const std::string& key,
                    const std::string& before, const std::string& after, bool undo_at_end) {
  if (!options_.on_node_change) return;
  NodeChange c;
  c.position = r.position;
  c.type = r.type;
  c.objid = objid;
  c.page = page;
  c.procid = load_u16le(r.view(), kPageProcid);
  c.key = key;
  c.before = before;
  c.after = after;
  c.undo_at_end = undo_at_end;
  options_.on_node_change(c);
}

void Engine::remember(Session& s, VersionEntry v) { s.versions.push_back(std::move(v)); }

Status Engine::feed(const logs::LogRecord& r, const logs::RecordSummary& s) {
  position_ = r.position;
  const Bytes b = r.bytes;
  switch (r.type) {
    case kBegin: case kBegin0: case kBeginDT: {
      if (b.size() <= kTrxLevels) return {};
      Session& ses = sessions_[load_u16le(b, kTrxProcid)];
      const std::uint8_t levels = b[kTrxLevels];
      ses.level = (levels & kLowNibble) + (levels >> kNibbleBits);
      return {};
    }
    case kCommit: {
      if (b.size() <= kTrxLevels) return {};
      Session& ses = sessions_[load_u16le(b, kTrxProcid)];
      const std::uint8_t to = b[kTrxLevels];
      for (VersionEntry& v : ses.versions) v.level = std::min<std::uint8_t>(v.level, to);
      ses.level = to;
      return {};
    }
    case kCommit0: {
      if (b.size() <= kTrxProcid + 1) return {};
      Session& ses = sessions_[load_u16le(b, kTrxProcid)];
      ses.versions.clear();
      ses.level = 0;
      ++report_.transactions_committed;
      return {};
    }
    case kRollback: {
      if (b.size() <= kTrxLevels) return {};
      Session& ses = sessions_[load_u16le(b, kTrxProcid)];
      const std::uint8_t n = b[kTrxLevels];
      ses.level = ses.level > n ? ses.level - n : 0;
      std::erase_if(ses.versions, [&](const VersionEntry& v) { return v.level > ses.level; });
      if (ses.level == 0) ++report_.transactions_rolled_back;
      return {};
    }
    case kMacroBegin: case kMacroCommit: case kMacroAbort: {
      if (b.size() < kMacroDbtime + 8) return {};
      Session& ses = sessions_[load_u16le(b, kTrxProcid)];
      if (r.type == kMacroBegin) {
        if (ses.in_macro) ++report_.macros_dropped;  // a begin without an end: the earlier one never committed
        held_bytes_ -= std::min(held_bytes_, [&] { std::size_t n = 0; for (auto& h : ses.macro) n += h.bytes.size(); return n; }());
        ses.macro.clear();
        ses.in_macro = true;
        ses.macro_dbtime = load_u64le(b, kMacroDbtime);
        return {};
      }
      if (!ses.in_macro) return {};
      Status st = r.type == kMacroCommit ? apply_macro(ses) : Status{};
      if (r.type == kMacroAbort) ++report_.macros_dropped;
      for (auto& h : ses.macro) held_bytes_ -= std::min(held_bytes_, h.bytes.size());
      ses.macro.clear();
      ses.in_macro = false;
      return st;
    }
    default: break;
  }
  if (!s.page_record && r.type != kNewPage) return {};
  const std::uint16_t procid = s.procid.value_or(kProcidNil);
  if (auto it = sessions_.find(procid); it != sessions_.end() && it->second.in_macro) {
    HeldRecord h{r.position, r.type, std::vector<std::uint8_t>(b.begin(), b.end()), {}};
    held_bytes_ += h.bytes.size();
    if (held_bytes_ > kMaxHeldBytes) {
      return error_at(s.page, "more than " + std::to_string(kMaxHeldBytes >> 20) +
                                  " MiB of records wait for macros that do not commit");
    }
    it->second.macro.push_back(std::move(h));
    return {};
  }
  return apply(HeldRecord{r.position, r.type, {}, b});
}

Status Engine::apply(const HeldRecord& r) {
  record_applied_ = false;
  position_ = r.position;
  Status st;
  switch (r.type) {
    case kNewPage: st = apply_new_page(r); break;
    case kCreateSingleExtentFDP: st = apply_single_extent_root(r); break;
    case kCreateMultipleExtentFDP: st = apply_multiple_extent_root(r); break;
    case kConvertFDP2: st = apply_convert(r); break;
    case kEmptyTree: st = apply_empty_tree(r); break;
    case kPageMove: st = apply_page_move(r); break;
    case kSplit2: case kMerge2: case kMerge: {
      // Outside a macro (the engine logs these inside one): the record on its own.
      std::vector<HeldRecord> one{r};
      std::vector<bool> consumed(1, false);
      const bool was = in_macro_;
      in_macro_ = true;
      macro_rule_.clear();
      st = r.type == kSplit2 ? apply_split(one, 0, consumed) : apply_merge(one, 0, consumed);
      in_macro_ = was;
      return st;  // counted where applied
    }
    case kUndoInfo: {
      // A before-image for an operation whose page had been written before the crash.
      const Bytes b = r.view();
      const std::uint32_t rceid = load_u32le(b, kNodeRceid);
      const logs::NodeParts parts = logs::node_parts(logs::LogRecord{r.position, r.type, b, {}, false});
      for (auto& [procid, ses] : sessions_) {
        for (VersionEntry& v : ses.versions) {
          if (v.rceid != rceid || v.known) continue;
          v.key = to_string(parts.key_suffix);
          v.before = to_string(parts.data);
          v.known = true;
        }
      }
      return {};
    }
    case kScrub: {
      // Scrubbing overwrites unused bytes only: nothing a reader sees changes.
      const Bytes b = r.view();
      auto rule = check(load_u32le(b, kPagePgno), load_u64le(b, kPageDbtimeAfter), load_u64le(b, kPageDbtimeBefore));
      if (!rule) return rule.error();
      if (*rule == Rule::Apply) touch(load_u32le(b, kPagePgno), load_u64le(b, kPageDbtimeAfter));
      break;
    }
    default:
      if (is_node_change(r.type)) {
        st = apply_node(r);
      } else if (r.type == kSplit || r.type == kConvertFDP) {
        const Bytes b = r.view();
        const std::uint32_t page = load_u32le(b, kPagePgno);
        auto rule = check(page, load_u64le(b, kPageDbtimeAfter), load_u64le(b, kPageDbtimeBefore));
        if (!rule) return rule.error();
        if (*rule == Rule::Apply) {
          return error_at(page, std::string("redo of a ") + logs::record_type_name(r.type) +
                                    " record is not supported: the replayed state would be incomplete");
        }
      }
      break;
  }
  if (!st) return st;
  if (record_applied_) {
    ++report_.records_applied;
  } else {
    ++report_.records_in_file;
  }
  return {};
}

Status Engine::apply_node(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kNodePartSize) return EseError::parse("log position " + logs::position_text(r.position) + ": short node record");
  const std::uint32_t page = load_u32le(b, kPagePgno);
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  const std::uint64_t before = load_u64le(b, kPageDbtimeBefore);
  const std::uint8_t level = b[kPageLevel];
  const std::uint16_t iline = load_u16le(b, kPageIline);
  const std::uint8_t rflags = b[kPageFlags];
  const std::uint8_t versioned = (rflags & logfmt::kNodeVersioned) ? quarrow::kNodeVersioned : 0;
  const std::uint32_t rceid = load_u32le(b, kNodeRceid);
  const std::uint32_t root = load_u32le(b, kNodeRootPage);
  const std::uint32_t objid = load_u32le(b, kNodeObjid);
  const std::uint16_t procid = load_u16le(b, kPageProcid);
  const logs::NodeParts parts = logs::node_parts(logs::LogRecord{r.position, r.type, b, {}, false});

  auto rule = check(page, after, before);
  if (!rule) return rule.error();

  VersionEntry v;
  v.level = level;
  v.rceid = rceid;
  v.objid = objid;
  v.root = root;
  v.unique = (rflags & kNodeUnique) != 0;
  const bool keep_version = versioned && level > 0 && r.type != kUndo && r.type != kDelete && r.type != kSetExternalHeader;

  if (*rule == Rule::Skip) {
    if (keep_version) {
      // The page already has the change; its bookmark comes from the record or a later UndoInfo.
      if (r.type == kInsert) {
        v.operation = kOperInsert;
        v.key = to_string(parts.key_prefix) + to_string(parts.key_suffix);
        v.known = true;
      } else if (r.type == kFlagInsert || r.type == kFlagInsertAndReplaceData) {
        v.operation = kOperInsert;
        v.key = to_string(parts.key_suffix);
        v.known = true;
      } else {
        v.operation = r.type == kFlagDelete ? kOperFlagDelete : (r.type == kDelta || r.type == kDelta64) ? kOperDelta : kOperReplace;
      }
      remember(sessions_[procid], v);
    }
    return {};
  }

  auto ed_r = edit(page);
  if (!ed_r) return ed_r.error();
  PageEditor& ed = *ed_r;
  auto fail = [&](const EseError& e) { return fail_at(page, EseError::parse(std::string(logs::record_type_name(r.type)) + ": " + error_detail(e))); };
  NodeImage old;
  const bool has_node = r.type != kInsert && r.type != kSetExternalHeader;
  if (has_node) {
    auto n = ed.node(iline);
    if (!n) return fail(n.error());
    old = std::move(*n);
  }
  std::string after_data;
  switch (r.type) {
    case kInsert: {
      NodeImage n;
      n.prefix_length = load_u16le(b, kNodeLength2);
      n.key = to_string(parts.key_prefix) + to_string(parts.key_suffix);
      n.data = to_string(parts.data);
      n.flags = versioned;
      auto pre = ed.prefix_bytes();
      if (!pre) return fail(pre.error());
      if (n.prefix_length > pre->size()) return fail(EseError::parse("the key prefix is longer than the page's"));
      if (Status st = ed.insert_node(iline, n); !st) return fail(st.error());
      v.operation = kOperInsert;
      v.key = n.key;
      v.bookmark_data = n.data;
      after_data = n.data;
      notify(r, objid, page, n.key, {}, n.data);
      if (objid == redo::kCatalogObjid && !(rflags & kNodeSpace)) add_catalog_row(parts.data, page, iline, learnt_);
      break;
    }
    case kFlagInsert: {
      if (Status st = ed.set_node_flags(iline, static_cast<std::uint8_t>((old.flags & ~quarrow::kNodeDeleted) | versioned | (old.flags & kTagCommonKey))); !st) return fail(st.error());
      v.operation = kOperInsert;
      notify(r, objid, page, old.key, {}, old.data);
      break;
    }
    case kFlagInsertAndReplaceData: case kReplace: case kReplaceD: case kDelta: case kDelta64: {
      NodeImage n = old;
      if (r.type == kReplace || r.type == kFlagInsertAndReplaceData) {
        n.data = to_string(parts.data);
      } else if (r.type == kReplaceD) {
        const std::uint16_t word = load_u16le(b, kNodeLength1);
        auto d = apply_diff(old.data, parts.data, (word & kReplaceDiffLargeHeaders) != 0);
        if (!d) return fail(d.error());
        if (d->size() != load_u16le(b, kNodeLength3)) return fail(EseError::parse("the diff gives data of another length than the record says"));
        n.data = std::move(*d);
      } else {
        const bool wide = r.type == kDelta64;
        const std::size_t at = load_u16le(b, wide ? redo::kDelta64Offset : redo::kDeltaOffset);
        const std::size_t width = wide ? 8 : 4;
        if (at + width > n.data.size()) return fail(EseError::parse("the delta's offset is past the node's data"));
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{static_cast<std::uint8_t>(n.data[at + i])} << (8 * i);
        const std::uint64_t delta = wide ? load_u64le(b, redo::kDeltaAmount)
                                         : static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(load_u32le(b, redo::kDeltaAmount))));
        value += delta;
        for (std::size_t i = 0; i < width; ++i) n.data[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        v.delta = static_cast<std::int64_t>(delta);
        v.delta_offset = static_cast<std::uint16_t>(at);
        v.delta64 = wide;
      }
      n.flags = static_cast<std::uint8_t>(old.flags | versioned);
      if (r.type == kFlagInsertAndReplaceData) n.flags = static_cast<std::uint8_t>(n.flags & ~quarrow::kNodeDeleted);
      if (Status st = ed.replace_node(iline, n); !st) return fail(st.error());
      v.operation = r.type == kFlagInsertAndReplaceData ? kOperInsert
                    : (r.type == kDelta || r.type == kDelta64) ? kOperDelta : kOperReplace;
      if (keep_version) v.before = old.data;
      after_data = n.data;
      notify(r, objid, page, old.key, old.data, n.data);
      break;
    }
    case kFlagDelete: {
      if (Status st = ed.set_node_flags(iline, static_cast<std::uint8_t>(old.flags | quarrow::kNodeDeleted | versioned)); !st) return fail(st.error());
      v.operation = kOperFlagDelete;
      notify(r, objid, page, old.key, old.data, {});
      break;
    }
    case kDelete: {
      if (Status st = ed.delete_node(iline); !st) return fail(st.error());
      notify(r, objid, page, old.key, old.data, {});
      break;
    }
    case kSetExternalHeader: {
      if (Status st = ed.replace_tag(0, parts.data, 0); !st) return fail(st.error());
      break;
    }
    case kUndo: {
      if (Status st = apply_undo(r, ed); !st) return fail(st.error());
      // The row as the undo leaves it: gone when it undid an insert (the node is marked
      // deleted), else the node's data restored.
      auto undone = ed.node(iline);
      if (!undone) return fail(undone.error());
      const bool gone = (undone->flags & quarrow::kNodeDeleted) != 0;
      notify(r, objid, page, old.key, old.data, gone ? std::string() : undone->data);
      break;
    }
    default: break;
  }
  // The bookmark only matters to an entry kept for the undo.
  if (keep_version && (has_node || r.type == kInsert)) {
    v.key = v.key.empty() ? old.key : v.key;
    if (v.bookmark_data.empty()) v.bookmark_data = r.type == kInsert ? after_data : old.data;
    v.known = true;
  }
  touch(page, after);
  if (r.type != kSetExternalHeader && r.type != kUndo) count_change(objid, r.type, rflags);
  if (keep_version) remember(sessions_[procid], std::move(v));
  return {};
}

Status Engine::apply_undo(const HeldRecord& r, PageEditor& ed) {
  const Bytes b = r.view();
  const std::uint16_t iline = load_u16le(b, kPageIline);
  const std::uint16_t oper = load_u16le(b, redo::kUndoOperation);
  const std::uint32_t rceid = load_u32le(b, kNodeRceid);
  Session& ses = sessions_[load_u16le(b, kPageProcid)];
  auto entry = std::find_if(ses.versions.begin(), ses.versions.end(), [&](const VersionEntry& v) { return v.rceid == rceid; });
  auto n = ed.node(iline);
  if (!n) return n.error();
  switch (oper) {
    case kOperInsert:
      if (Status st = ed.set_node_flags(iline, static_cast<std::uint8_t>(n->flags | quarrow::kNodeDeleted)); !st) return st;
      break;
    case kOperFlagDelete:
      if (Status st = ed.set_node_flags(iline, static_cast<std::uint8_t>(n->flags & ~quarrow::kNodeDeleted)); !st) return st;
      break;
    case kOperReplace: case kOperDelta: case kOperDelta64: {
      if (entry == ses.versions.end() || !entry->known) {
        return EseError::parse("undo of an operation whose before-image the logs do not hold (RCE id " + std::to_string(rceid) + ")");
      }
      NodeImage m = *n;
      if (oper == kOperReplace) {
        m.data = entry->before;
      } else {
        const std::size_t width = entry->delta64 ? 8 : 4;
        if (entry->delta_offset + width > m.data.size()) return EseError::parse("the delta's offset is past the node's data");
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{static_cast<std::uint8_t>(m.data[entry->delta_offset + i])} << (8 * i);
        value -= static_cast<std::uint64_t>(entry->delta);
        for (std::size_t i = 0; i < width; ++i) m.data[entry->delta_offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
      }
      if (Status st = ed.replace_node(iline, m); !st) return st;
      break;
    }
    default:
      return EseError::parse("undo of an unknown operation " + std::to_string(oper));
  }
  if (entry != ses.versions.end()) ses.versions.erase(entry);
  return {};
}

Result<std::pair<std::uint32_t, std::uint16_t>> Engine::find_node(std::uint32_t root, const std::string& key,
                                                                  const std::string& data, bool unique) {
  std::uint32_t page = root;
  for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
    if (Status st = limit_page(page); !st) return st.error();
    const Bytes bytes = overlay_->page(page);
    if (bytes.size() != page_size_) return error_at(page, "the tree reaches a page the database does not have");
    // Read-only use: the editor's reading methods never write.
    PageEditor ed(std::span<std::uint8_t>(const_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    const std::uint16_t n = ed.nodes();
    if (ed.flags() & redo::kPageLeaf) {
      for (std::uint16_t i = 0; i < n; ++i) {
        auto node = ed.node(i);
        if (!node) return fail_at(page, node.error()).error();
        if (node->key == key && (unique || node->data == data)) return std::make_pair(page, i);
      }
      return error_at(page, "the node to undo is not in its tree");
    }
    std::uint32_t child = 0;
    bool found = false;
    for (std::uint16_t i = 0; i < n; ++i) {
      auto node = ed.node(i);
      if (!node) return fail_at(page, node.error()).error();
      if (node->key.empty() || key < node->key || i + 1 == n) {
        if (node->data.size() < 4) return error_at(page, "a parent node without a page number");
        child = load_u32le(as_bytes(node->data), 0);
        found = true;
        break;
      }
    }
    if (!found) return error_at(page, "an empty parent page");
    page = child;
  }
  return error_at(root, "the tree is deeper than a real tree can be");
}

Status Engine::undo_entry(const VersionEntry& v) {
  if (!v.known) {
    return EseError::parse("an open transaction's change cannot be undone: the logs hold no before-image for RCE id " +
                           std::to_string(v.rceid));
  }
  auto at = find_node(v.root, v.key, v.bookmark_data, v.unique);
  if (!at) return at.error();
  const auto [page, iline] = *at;
  auto ed_r = edit(page);
  if (!ed_r) return ed_r.error();
  PageEditor& ed = *ed_r;
  auto n = ed.node(iline);
  if (!n) return fail_at(page, n.error());
  NodeImage m = *n;
  Status st;
  switch (v.operation) {
    case kOperInsert: st = ed.set_node_flags(iline, static_cast<std::uint8_t>(n->flags | quarrow::kNodeDeleted)); break;
    case kOperFlagDelete: st = ed.set_node_flags(iline, static_cast<std::uint8_t>(n->flags & ~quarrow::kNodeDeleted)); break;
    case kOperReplace: m.data = v.before; st = ed.replace_node(iline, m); break;
    case kOperDelta: case kOperDelta64: {
      const std::size_t width = v.delta64 ? 8 : 4;
      if (v.delta_offset + width > m.data.size()) return error_at(page, "the delta's offset is past the node's data");
      std::uint64_t value = 0;
      for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{static_cast<std::uint8_t>(m.data[v.delta_offset + i])} << (8 * i);
      value -= static_cast<std::uint64_t>(v.delta);
      for (std::size_t i = 0; i < width; ++i) m.data[v.delta_offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
      st = ed.replace_node(iline, m);
      break;
    }
    default: return EseError::parse("undo of an unknown operation");
  }
  if (!st) return fail_at(page, st.error());
  // Recovery's undo takes new dbtimes from the database's counter: above every logged one.
  touch(page, highest_dbtime_ + 1);
  if (options_.on_node_change) {
    NodeChange c;
    c.position = position_;
    c.type = kUndo;
    c.objid = v.objid;
    c.page = page;
    c.key = v.key;
    c.before = n->data;
    c.after = m.data;
    c.undo_at_end = true;
    options_.on_node_change(c);
  }
  return {};
}

Status Engine::finish() {
  for (auto& [procid, ses] : sessions_) {
    if (ses.in_macro) {
      ++report_.macros_dropped;
      ses.macro.clear();
      ses.in_macro = false;
    }
  }
  held_bytes_ = 0;
  if (!options_.undo_open_transactions) return {};
  for (auto& [procid, ses] : sessions_) {
    if (ses.level == 0 && ses.versions.empty()) continue;
    if (!ses.versions.empty()) ++report_.transactions_undone_at_end;
    for (auto it = ses.versions.rbegin(); it != ses.versions.rend(); ++it) {
      if (Status st = undo_entry(*it); !st) return st;
      ++report_.operations_undone_at_end;
    }
    ses.versions.clear();
    ses.level = 0;
  }
  return {};
}

}  // namespace quarrow::replay
