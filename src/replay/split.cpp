// Redo of page splits (Split2 records inside a macro): the split page's nodes, with the
// operation that caused the split, are dealt out between the split page and the new
// page, prefixes are recomputed the way the engine computes them, and the parent
// level receives the separator of the level below.
#include <algorithm>

#include "format/log.h"
#include "format/redo.h"
#include "record/compression.h"
#include "replay/engine.h"

namespace quarrow::replay {

using namespace logfmt;

namespace {

struct SplitRecord : PagePart {
  std::uint32_t new_page = 0;
  std::uint32_t right = 0;
  std::uint64_t right_before = 0;
  std::uint32_t parent = 0;
  std::uint64_t parent_before = 0;
  std::uint32_t objid = 0;
  std::uint8_t type = 0;
  std::uint8_t operation = 0;
  std::uint16_t iline_oper = 0;
  std::uint16_t iline_split = 0;
  std::uint16_t lines = 0;
  std::uint32_t new_flags = 0;
  std::uint32_t split_flags = 0;
  std::uint16_t uncommitted_source = 0;
  std::uint16_t uncommitted_destination = 0;
  std::int32_t prefix_split = redo::kNoPrefixLine;
  std::int32_t prefix_new = redo::kNoPrefixLine;
  std::string parent_key;
  std::string old_prefix;
  std::string new_prefix;
  std::uint32_t image_flags = 0;
  Bytes image;  // the split page before the split, as logged (compressed or not)
};

Result<SplitRecord> parse_split(Bytes b) {
  if (b.size() < redo::kSplitVariable) return EseError::parse("a Split2 record shorter than its fixed part");
  SplitRecord s;
  static_cast<PagePart&>(s) = page_part(b);
  s.new_page = load_u32le(b, kSplitNewPage);
  s.right = load_u32le(b, kSplitRightPage);
  s.right_before = load_u64le(b, kSplitRightDbtime);
  s.parent = load_u32le(b, kSplitParentPage);
  s.parent_before = load_u64le(b, kSplitParentDbtime);
  s.objid = load_u32le(b, kSplitObjid);
  s.type = b[kSplitType];
  s.operation = b[kSplitOperation];
  s.iline_oper = load_u16le(b, kSplitOperationIline);
  s.iline_split = load_u16le(b, kSplitIline);
  s.lines = load_u16le(b, kSplitNodes);
  s.new_flags = load_u32le(b, kSplitNewPageFlags);
  s.split_flags = load_u32le(b, kSplitPageFlags);
  s.uncommitted_source = load_u16le(b, redo::kSplitUncommittedSource);
  s.uncommitted_destination = load_u16le(b, redo::kSplitUncommittedDestination);
  s.prefix_split = static_cast<std::int32_t>(load_u32le(b, kSplitPrefixIline));
  s.prefix_new = static_cast<std::int32_t>(load_u32le(b, kSplitNewPrefixIline));
  const std::size_t key = load_u16le(b, kSplitParentKeyLength);
  const std::size_t old_prefix = load_u16le(b, kSplitOldPrefixLength);
  const std::size_t new_prefix = load_u16le(b, kSplitNewPrefixLength);
  if (redo::kSplitVariable + key + old_prefix + new_prefix > b.size()) {
    return EseError::parse("a Split2 record whose keys run past its end");
  }
  const char* v = reinterpret_cast<const char*>(b.data() + redo::kSplitVariable);
  s.parent_key.assign(v, key);
  s.old_prefix.assign(v + key, old_prefix);
  s.new_prefix.assign(v + key + old_prefix, new_prefix);
  const std::size_t image_at = redo::kSplitVariable + key + old_prefix + new_prefix;
  const std::uint64_t image_length = load_u32le(b, kSplitImageLength);
  s.image_flags = load_u32le(b, kSplitImageFlags);
  if (image_at + image_length > b.size()) return EseError::parse("a Split2 record whose page image runs past its end");
  s.image = b.subspan(image_at, static_cast<std::size_t>(image_length));
  if (s.new_page != 0 && (s.new_page == s.page || s.new_page == s.right || s.new_page == s.parent)) {
    return EseError::parse("a Split2 record whose new page is one of its other pages");
  }
  if (s.page == s.parent || (s.right != 0 && (s.right == s.page || s.right == s.parent))) {
    return EseError::parse("a Split2 record naming one page twice");
  }
  if (s.type != redo::kSplitVertical && s.type != redo::kSplitRight && s.type != redo::kSplitAppend) {
    return EseError::parse("a Split2 record of unknown split type " + std::to_string(s.type));
  }
  return s;
}

// The split page as it was before the split, from the record's page image.
Result<std::vector<std::uint8_t>> split_image(const SplitRecord& s, std::uint32_t page_size) {
  return logged_page_image(s.image, s.image_flags, page_size, "split");
}

bool is_leaf_operation(std::uint8_t type) {
  return type == kInsert || type == kReplace || type == kFlagInsertAndReplaceData || type == kFlagInsert;
}

}  // namespace

Status Engine::apply_macro(Session& s) {
  in_macro_ = true;
  macro_rule_.clear();
  std::vector<bool> consumed(s.macro.size(), false);
  Status st;
  for (std::size_t i = 0; i < s.macro.size() && st; ++i) {
    if (consumed[i]) continue;
    if (s.macro[i].type == kSplit2) {
      st = apply_split(s.macro, i, consumed);
    } else if (s.macro[i].type == kMerge2 || s.macro[i].type == kMerge) {
      st = apply_merge(s.macro, i, consumed);
    } else {
      st = apply(s.macro[i]);
    }
  }
  in_macro_ = false;
  macro_rule_.clear();
  if (st) ++report_.macros_applied;
  return st;
}

Status Engine::apply_split(const std::vector<HeldRecord>& recs, std::size_t at, std::vector<bool>& consumed) {
  const HeldRecord& r = recs[at];
  position_ = r.position;
  record_applied_ = false;
  const std::uint32_t named_page = load_u32le(r.view(), kPagePgno);
  auto parsed = parse_split(r.view());
  if (!parsed) return fail_at(named_page, parsed.error());
  const SplitRecord& s = *parsed;
  consumed[at] = true;

  // The level below (its separator comes up to this level), or the leaf operation.
  std::optional<SplitRecord> lower;
  std::size_t leaf_index = recs.size();
  for (std::size_t j = at + 1; j < recs.size(); ++j) {
    if (consumed[j]) continue;
    if (recs[j].type == kSplit2) {
      auto l = parse_split(recs[j].view());
      if (!l) return fail_at(load_u32le(recs[j].view(), kPagePgno), l.error());
      lower = *l;
      break;
    }
    const Bytes b = recs[j].view();
    if (is_leaf_operation(recs[j].type) && b.size() >= kNodePartSize && load_u32le(b, kPagePgno) == s.page &&
        (load_u64le(b, kPageDbtimeBefore) == kDbtimeInvalid || load_u64le(b, kPageDbtimeBefore) == kDbtimeNil)) {
      leaf_index = j;
      break;
    }
  }
  const HeldRecord* leaf = leaf_index < recs.size() ? &recs[leaf_index] : nullptr;
  if (!lower && s.operation != redo::kSplitOperNone && leaf == nullptr) {
    return error_at(s.page, "a split without the operation that caused it");
  }
  auto finish_leaf = [&](bool applied) {
    if (leaf == nullptr) return;
    consumed[leaf_index] = true;
    ++report_.writes_creating;  // the leaf operation carries no before-dbtime
    if (applied) {
      ++report_.records_applied;
      const Bytes b = leaf->view();
      count_change(load_u32le(b, kNodeObjid), leaf->type, b[kPageFlags]);
    } else {
      ++report_.records_in_file;
    }
  };

  auto rule = check(s.page, s.after, s.before);
  if (!rule) return rule.error();

  if (s.new_page == 0) {
    // This level is not split: it receives the separator of the level below.
    if (!lower) return error_at(s.page, "a split level without a split below it");
    if (*rule == Rule::Apply) {
      auto ed_r = edit(s.page);
      if (!ed_r) return ed_r.error();
      PageEditor& ed = *ed_r;
      auto pre = ed.prefix();
      if (!pre) return fail_at(s.page, pre.error());
      NodeImage sep;
      sep.key = lower->parent_key;
      sep.data = page_pointer_data(lower->page);
      sep.prefix_length = prefix_length_for(sep.key, *pre);
      if (Status st = ed.insert_node(s.iline_oper, sep); !st) return fail_at(s.page, st.error());
      auto next = ed.node(static_cast<std::uint16_t>(s.iline_oper + 1));
      if (!next) return fail_at(s.page, next.error());
      next->data = page_pointer_data(lower->new_page);
      if (Status st = ed.replace_node(static_cast<std::uint16_t>(s.iline_oper + 1), *next); !st) return fail_at(s.page, st.error());
      touch(s.page, s.after);
    }
    if (s.parent != 0) {
      if (auto p = check(s.parent, s.after, s.parent_before); !p) return p.error();
    }
    if (record_applied_) ++report_.records_applied; else ++report_.records_in_file;
    return {};
  }

  // The new page: created by this split, normally prepared by a NewPage just before.
  if (Status st = limit_page(s.new_page); !st) return st;
  bool new_apply = false;
  if (auto it = macro_rule_.find(s.new_page); it != macro_rule_.end()) {
    ++report_.writes_same_operation;
    new_apply = it->second == Rule::Apply;
  } else {
    const std::uint64_t now = page_dbtime(s.new_page);
    const bool prepared = pre_initialised_.count(s.new_page) != 0;
    new_apply = prepared || now < s.after;
    // A page the NewPage of this split prepared counts with the split's other pages;
    // one without it is created here.
    if (prepared) {
      ++report_.writes_same_operation;
    } else if (now >= s.after) {
      ++report_.writes_already_applied;
    } else {
      ++report_.writes_creating;
    }
    macro_rule_[s.new_page] = new_apply ? Rule::Apply : Rule::Skip;
  }
  Rule right_rule = Rule::Skip;
  if (s.right != 0) {
    auto rr = check(s.right, s.after, s.right_before);
    if (!rr) return rr.error();
    right_rule = *rr;
  }
  if (s.parent != 0) {
    if (auto p = check(s.parent, s.after, s.parent_before); !p) return p.error();
  }

  const bool split_apply = *rule == Rule::Apply;
  if (!split_apply && !new_apply) {
    if (right_rule == Rule::Apply) {
      auto er = edit(s.right);
      if (!er) return er.error();
      er->set_previous(s.new_page);
      touch(s.right, s.after);
    }
    finish_leaf(false);
    if (record_applied_) ++report_.records_applied; else ++report_.records_in_file;
    return {};
  }

  // The split page as the split found it: the page itself, or (when the file already
  // has a newer split page but not the new one: a database flushed mid-way) the image
  // the record logged, which only serves to build the new page.
  std::vector<std::uint8_t> image;
  std::optional<PageEditor> source;
  if (split_apply) {
    auto e = edit(s.page);
    if (!e) return e.error();
    source = *e;
  } else {
    auto img = split_image(s, page_size_);
    if (!img) return error_at(s.page, "the split page is newer than the split but its new page " +
                                          std::to_string(s.new_page) + " is not, and " + error_detail(img.error()));
    image = std::move(*img);
    source = PageEditor(image);
  }
  PageEditor ed = *source;
  const std::uint32_t old_flags = ed.flags();
  const bool leaf_level = (old_flags & redo::kPageLeaf) != 0;
  const std::uint16_t n = ed.nodes();

  // The logical line list: the split page's nodes with the operation done.
  std::vector<NodeImage> lines;
  lines.reserve(n + 1u);
  for (std::uint16_t i = 0; i < n; ++i) {
    auto node = ed.node(i);
    if (!node) return fail_at(s.page, node.error());
    node->flags = static_cast<std::uint8_t>(node->flags & ~kTagCommonKey);
    lines.push_back(std::move(*node));
  }
  enum class Op : std::uint8_t { None, Insert, Replace } op_kind = Op::None;
  NodeImage op;
  std::uint8_t versioned = 0;
  std::string op_before;
  if (lower) {
    op_kind = Op::Insert;
    op.key = lower->parent_key;
    op.data = page_pointer_data(lower->page);
  } else if (s.operation != redo::kSplitOperNone && leaf != nullptr) {
    const Bytes b = leaf->view();
    versioned = (b[kPageFlags] & logfmt::kNodeVersioned) ? quarrow::kNodeVersioned : 0;
    const logs::NodeParts parts = logs::node_parts(logs::LogRecord{leaf->position, leaf->type, b, {}, false});
    if (leaf->type == kInsert) {
      op_kind = Op::Insert;
      op.key = to_string(parts.key_prefix) + to_string(parts.key_suffix);
      op.data = to_string(parts.data);
      op.flags = versioned;
    } else {
      op_kind = Op::Replace;
      if (s.iline_oper >= n) return error_at(s.page, "the split's operation names node " + std::to_string(s.iline_oper) + " of " + std::to_string(n));
      op = lines[s.iline_oper];
      op_before = op.data;
      if (leaf->type != kFlagInsert) op.data = to_string(parts.data);
      op.flags = static_cast<std::uint8_t>(op.flags | versioned);
      if (leaf->type != kReplace) op.flags = static_cast<std::uint8_t>(op.flags & ~quarrow::kNodeDeleted);
    }
  }
  if (op_kind == Op::Insert) {
    if (s.iline_oper > n) return error_at(s.page, "the split inserts at node " + std::to_string(s.iline_oper) + " of " + std::to_string(n));
    lines.insert(lines.begin() + s.iline_oper, op);
  } else if (op_kind == Op::Replace) {
    lines[s.iline_oper] = op;
  }
  if (lines.size() != s.lines || s.iline_split > lines.size()) {
    return error_at(s.page, "the split names " + std::to_string(s.lines) + " lines split at " + std::to_string(s.iline_split) +
                                "; the page gives " + std::to_string(lines.size()));
  }
  const bool vertical = s.type == redo::kSplitVertical;

  // The new page.
  std::optional<PageEditor> en;
  if (new_apply) {
    auto e = edit(s.new_page);
    if (!e) return e.error();
    en = *e;
    en->initialise(s.after, s.objid, (s.new_flags | redo::kPageNewRecordFormat) & ~redo::kPagePreInitialised);
    pre_initialised_.erase(s.new_page);
    created_.insert(s.new_page);
    std::string prefix;
    if (s.prefix_new != redo::kNoPrefixLine) {
      const std::uint64_t idx = std::uint64_t{s.iline_split} + static_cast<std::uint32_t>(s.prefix_new);
      if (s.prefix_new < 0 || idx >= lines.size()) return error_at(s.new_page, "the new page's prefix line is past the split's lines");
      prefix = lines[idx].key;
      if (Status st = en->replace_tag(0, as_bytes(prefix), 0); !st) return fail_at(s.new_page, st.error());
    }
    for (std::size_t j = s.iline_split; j < lines.size(); ++j) {
      NodeImage node = lines[j];
      node.prefix_length = s.prefix_new != redo::kNoPrefixLine ? prefix_length_for(node.key, prefix) : 0;
      if (Status st = en->insert_node(static_cast<std::uint16_t>(j - s.iline_split), node); !st) return fail_at(s.new_page, st.error());
    }
    if (leaf_level) {
      en->set_uncommitted_free(s.uncommitted_destination);
      if (!vertical) {
        en->set_previous(s.page);
        en->set_next(s.right);
      }
    }
    touch(s.new_page, s.after);
  }

  // The split page.
  if (!split_apply) {
    // Already split in the file.
  } else if (vertical) {
    for (int t = static_cast<int>(n) - 1; t >= 0; --t) {
      if (Status st = ed.delete_node(static_cast<std::uint16_t>(t)); !st) return fail_at(s.page, st.error());
    }
    ed.set_flags(s.split_flags | (old_flags & redo::kPageTreeDeleting));
    NodeImage down;
    down.data = page_pointer_data(s.new_page);
    if (Status st = ed.insert_node(0, down); !st) return fail_at(s.page, st.error());
    if (leaf_level) ed.set_uncommitted_free(s.uncommitted_source);
  } else {
    const bool op_here = op_kind != Op::None && s.iline_oper < s.iline_split;
    const std::uint16_t first_moved = (op_here && op_kind == Op::Insert) ? static_cast<std::uint16_t>(s.iline_split - 1) : s.iline_split;
    for (int t = static_cast<int>(n) - 1; t >= static_cast<int>(first_moved); --t) {
      if (Status st = ed.delete_node(static_cast<std::uint16_t>(t)); !st) return fail_at(s.page, st.error());
    }
    if (s.type == redo::kSplitRight) {
      // Re-prefix what stays: nodes whose prefix grows first, then those whose prefix
      // shrinks, then the new prefix; keys are read with the old prefix throughout.
      const std::uint16_t m = ed.nodes();
      std::vector<NodeImage> stay;
      for (std::uint16_t i = 0; i < m; ++i) {
        auto node = ed.node(i);
        if (!node) return fail_at(s.page, node.error());
        stay.push_back(std::move(*node));
      }
      if (!s.old_prefix.empty()) {
        if (Status st = ed.replace_tag(0, {}, 0); !st) return fail_at(s.page, st.error());
      }
      for (int pass = 0; pass < 2; ++pass) {
        for (std::uint16_t i = 0; i < m; ++i) {
          const std::uint16_t target = s.prefix_split != redo::kNoPrefixLine ? prefix_length_for(stay[i].key, s.new_prefix) : 0;
          const bool change = pass == 0 ? target > stay[i].prefix_length : target < stay[i].prefix_length;
          if (!change) continue;
          stay[i].prefix_length = target;
          if (Status st = ed.replace_node(i, stay[i]); !st) return fail_at(s.page, st.error());
        }
      }
      if (Status st = ed.replace_tag(0, as_bytes(s.new_prefix), 0); !st) return fail_at(s.page, st.error());
    }
    if (op_here) {
      auto pre = ed.prefix();
      if (!pre) return fail_at(s.page, pre.error());
      NodeImage node = op;
      if (op_kind == Op::Replace) {
        if (Status st = ed.delete_node(s.iline_oper); !st) return fail_at(s.page, st.error());
        node.flags = versioned;
      }
      node.prefix_length = prefix_length_for(node.key, *pre);
      if (Status st = ed.insert_node(s.iline_oper, node); !st) return fail_at(s.page, st.error());
    }
    if (leaf_level) {
      ed.set_uncommitted_free(s.uncommitted_source);
      ed.set_next(s.new_page);
    }
  }
  // A parent level: the pointer that followed the separator now leads to the lower new page.
  if (lower) {
    const std::uint32_t target = s.iline_oper + 1u;
    const bool on_new = vertical || target >= s.iline_split;
    PageEditor* pe = on_new ? (en ? &*en : nullptr) : (split_apply ? &ed : nullptr);
    if (pe != nullptr) {
      const std::uint16_t idx = static_cast<std::uint16_t>(on_new && !vertical ? target - s.iline_split : target);
      auto node = pe->node(idx);
      if (!node) return fail_at(on_new ? s.new_page : s.page, node.error());
      node->data = page_pointer_data(lower->new_page);
      if (Status st = pe->replace_node(idx, *node); !st) return fail_at(on_new ? s.new_page : s.page, st.error());
    }
  }
  if (split_apply) touch(s.page, s.after);
  if (right_rule == Rule::Apply && leaf_level && !vertical) {
    auto er = edit(s.right);
    if (!er) return er.error();
    er->set_previous(s.new_page);
    touch(s.right, s.after);
  }
  if (leaf != nullptr) {
    const Bytes b = leaf->view();
    const std::uint8_t level = b[kPageLevel];
    if (versioned && level > 0) {
      VersionEntry v;
      v.level = level;
      v.rceid = load_u32le(b, kNodeRceid);
      v.objid = load_u32le(b, kNodeObjid);
      v.root = load_u32le(b, kNodeRootPage);
      v.unique = (b[kPageFlags] & kNodeUnique) != 0;
      v.operation = op_kind == Op::Insert || leaf->type != kReplace ? kOperInsert : kOperReplace;
      v.key = op.key;
      v.bookmark_data = op.data;
      v.before = op_before;
      v.known = true;
      remember(sessions_[load_u16le(b, kPageProcid)], v);
    }
    notify(*leaf, load_u32le(b, kNodeObjid), s.page, op.key, op_before, op.data);
    if (load_u32le(b, kNodeObjid) == redo::kCatalogObjid && leaf->type == kInsert) {
      add_catalog_row(as_bytes(op.data), s.page, s.iline_oper, learnt_);
    }
  }
  finish_leaf(true);
  ++report_.records_applied;
  return {};
}

}  // namespace quarrow::replay
