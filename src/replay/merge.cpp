// Redo of page merges (Merge and Merge2 records inside a macro) and page moves. A merge macro holds one
// record per tree level, the topmost first and the leaf level last. The leaf record names
// the page merged away with its two siblings and says how: its nodes move in whole or in
// part to the right or left sibling, or the page is simply emptied. The records above
// it change the parent pages: a page pointer is deleted, a separator key changes, or a
// parent page emptied by the merge is emptied as well.
//
// Each page is redone only when its own before-dbtime says so, exactly as the engine's
// recovery does (logredo.cxx ErrLGRIRedoMerge; bt.cxx BTIPerformOneMerge and the
// BTIMerge* steps it calls), so that a page the file already holds after the merge is
// left as it is.
#include <algorithm>

#include "format/log.h"
#include "format/redo.h"
#include "record/compression.h"
#include "replay/engine.h"

namespace quarrow::replay {

using namespace logfmt;

namespace {

// page: the page merged away (leaf level) or the parent page; iline: parent levels,
// the page pointer the merge changes.
struct MergeRecord : PagePart {
  std::uint32_t right = 0;
  std::uint64_t right_before = 0;
  std::uint32_t left = 0;
  std::uint64_t left_before = 0;
  std::uint16_t uncommitted_destination = 0;
  std::uint16_t iline_merge = 0;
  std::uint8_t flags = 0;
  std::uint8_t type = 0;
  std::string separator;  // leaf level: the new separator key of the parent
  std::uint32_t image_flags = 0;
  Bytes image;  // leaf level: the merged page before the merge, as logged
};

Result<MergeRecord> parse_merge(Bytes b, std::uint8_t record_type) {
  const bool with_image = record_type == kMerge2;
  const std::size_t fixed = with_image ? redo::kMergeVariable : redo::kMergeOldVariable;
  if (b.size() < fixed) return EseError::parse("a merge record shorter than its fixed part");
  MergeRecord m;
  static_cast<PagePart&>(m) = page_part(b);
  m.right = load_u32le(b, kMergeRightPage);
  m.right_before = load_u64le(b, kMergeRightDbtime);
  m.left = load_u32le(b, kMergeLeftPage);
  m.left_before = load_u64le(b, kMergeLeftDbtime);
  m.uncommitted_destination = load_u16le(b, redo::kMergeUncommittedDestination);
  m.iline_merge = load_u16le(b, kMergeIline);
  m.flags = b[kMergeFlags];
  m.type = b[kMergeType];
  const std::size_t key = load_u16le(b, kMergeKeyLength);
  if (fixed + key > b.size()) return EseError::parse("a merge record whose separator key runs past its end");
  m.separator.assign(reinterpret_cast<const char*>(b.data() + fixed), key);
  if (with_image) {
    const std::uint64_t image = load_u32le(b, kMergeImageLength);
    m.image_flags = load_u32le(b, kMergeImageFlags);
    if (fixed + key + image > b.size()) return EseError::parse("a merge record whose page image runs past its end");
    m.image = b.subspan(fixed + key, static_cast<std::size_t>(image));
  }
  switch (m.type) {
    case redo::kMergeNone:
      break;
    case redo::kMergeEmptyPageType: case redo::kMergeFullRight: case redo::kMergePartialRight:
    case redo::kMergeFullLeft: case redo::kMergePartialLeft:
      if ((m.left != 0 && (m.left == m.page || m.left == m.right)) || (m.right != 0 && m.right == m.page)) {
        return EseError::parse("a merge record naming one page twice");
      }
      break;
    default:
      // Empty-tree merges are logged as EmptyTree records and page moves as PageMove
      // records; a merge record of either kind is not one the engine writes.
      return EseError::parse("a merge record of unknown merge type " + std::to_string(m.type));
  }
  return m;
}

bool right_merge(std::uint8_t type) { return type == redo::kMergeFullRight || type == redo::kMergePartialRight; }
bool left_merge(std::uint8_t type) { return type == redo::kMergeFullLeft || type == redo::kMergePartialLeft; }
bool partial_merge(std::uint8_t type) { return type == redo::kMergePartialRight || type == redo::kMergePartialLeft; }

// A page emptied by a merge (NDEmptyPage): the prefix goes (root pages keep their
// external header), every node is deleted from the last one down, and the page is
// marked empty.
Status empty_page(PageEditor& ed) {
  if ((ed.flags() & redo::kPageRoot) == 0) {
    if (Status st = ed.replace_tag(0, {}, 0); !st) return st;
  }
  for (int i = static_cast<int>(ed.nodes()) - 1; i >= 0; --i) {
    if (Status st = ed.delete_node(static_cast<std::uint16_t>(i)); !st) return st;
  }
  ed.set_flags(ed.flags() | redo::kPageEmpty);
  return {};
}

// A page pointer given another key (BTIChangeKeyOfPagePointer): the node is deleted and
// inserted again at the same place with the new key, prefix-compressed against the
// page's prefix, its page number kept and its flags cleared.
Status change_key(PageEditor& ed, std::uint16_t iline, const std::string& key) {
  auto node = ed.node(iline);
  if (!node) return node.error();
  if (node->data.size() != redo::kPagePointerSize) return EseError::parse("the node the merge re-keys is not a page pointer");
  if (Status st = ed.delete_node(iline); !st) return st;
  auto pre = ed.prefix();
  if (!pre) return pre.error();
  NodeImage n;
  n.key = key;
  n.data = node->data;
  n.prefix_length = prefix_length_for(key, *pre);
  return ed.insert_node(iline, n);
}

}  // namespace

Result<std::vector<std::uint8_t>> logged_page_image(Bytes image, std::uint32_t flags, std::uint32_t page_size,
                                                    const std::string& what) {
  if (image.empty()) return EseError::parse("the " + what + " logged no page image");
  if (flags & redo::kImageDehydrated) return EseError::parse("a dehydrated page image is not supported");
  std::vector<std::uint8_t> page;
  if (flags & redo::kImageCompressed) {
    auto raw = decompress(image, false);
    if (!raw) return EseError::parse("the " + what + "'s page image does not decompress");
    page.assign(raw->begin(), raw->end());
  } else {
    page.assign(image.begin(), image.end());
  }
  if (page.size() != page_size) return EseError::parse("the " + what + "'s page image is not one page");
  return page;
}

Status Engine::apply_merge(const std::vector<HeldRecord>& recs, std::size_t at, std::vector<bool>& consumed) {
  // The levels of this merge: Merge records from here down to the leaf level's.
  std::vector<MergeRecord> levels;
  std::vector<logs::LogPosition> positions;
  for (std::size_t j = at; j < recs.size(); ++j) {
    if (consumed[j] || (recs[j].type != kMerge2 && recs[j].type != kMerge)) break;
    position_ = recs[j].position;
    const Bytes b = recs[j].view();
    auto m = parse_merge(b, recs[j].type);
    if (!m) return fail_at(named_page(b), m.error());
    consumed[j] = true;
    levels.push_back(std::move(*m));
    positions.push_back(recs[j].position);
    if (levels.back().type != redo::kMergeNone) break;
  }
  if (levels.empty() || levels.back().type == redo::kMergeNone) {
    return error_at(levels.empty() ? 0 : levels.back().page, "a merge without its leaf level");
  }
  const MergeRecord& leaf = levels.back();
  std::vector<std::uint32_t> named;
  for (const MergeRecord& m : levels) named.push_back(m.page);
  for (std::uint32_t p : {leaf.left, leaf.right}) {
    if (p != 0) named.push_back(p);
  }
  std::sort(named.begin(), named.end());
  if (auto dup = std::adjacent_find(named.begin(), named.end()); dup != named.end()) {
    return error_at(*dup, "a merge naming one page twice");
  }

  // The page rule, once per page: the parents, then the merged page and its siblings.
  std::vector<Rule> parent_rules;
  for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
    position_ = positions[i];
    auto rule = check(levels[i].page, levels[i].after, levels[i].before);
    if (!rule) return rule.error();
    parent_rules.push_back(*rule);
  }
  position_ = positions.back();
  auto source_rule = check(leaf.page, leaf.after, leaf.before);
  if (!source_rule) return source_rule.error();
  Rule left_rule = Rule::Skip, right_rule = Rule::Skip;
  if (leaf.left != 0) {
    auto r = check(leaf.left, leaf.after, leaf.left_before);
    if (!r) return r.error();
    left_rule = *r;
  }
  if (leaf.right != 0) {
    auto r = check(leaf.right, leaf.after, leaf.right_before);
    if (!r) return r.error();
    right_rule = *r;
  }

  // Parent levels, top down.
  for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
    position_ = positions[i];
    record_applied_ = false;
    const MergeRecord& m = levels[i];
    if (parent_rules[i] == Rule::Apply) {
      auto ed_r = edit(m.page);
      if (!ed_r) return ed_r.error();
      PageEditor& ed = *ed_r;
      auto fail = [&](const EseError& e) { return fail_at(m.page, EseError::parse("Merge2: " + error_detail(e))); };
      const bool both = (m.flags & redo::kMergeDeleteNode) && (m.flags & redo::kMergeKeyChange);
      if (leaf.type == redo::kMergeFullLeft && both) {
        // The pointer to the merged page now leads to the left page, whose own pointer
        // (the node before) goes: the merged page's separator stays the left page's.
        if (m.iline == 0) return fail(EseError::parse("a full left merge of the first page pointer"));
        auto node = ed.node(m.iline);
        if (!node) return fail(node.error());
        node->data = page_pointer_data(leaf.left);
        if (Status st = ed.replace_node(m.iline, *node); !st) return fail(st.error());
        if (Status st = ed.delete_node(static_cast<std::uint16_t>(m.iline - 1)); !st) return fail(st.error());
      } else if (m.flags & redo::kMergeDeleteNode) {
        if (ed.nodes() < 2) return fail(EseError::parse("the merge deletes the only page pointer of the page"));
        auto node = ed.node(m.iline);
        if (!node) return fail(node.error());
        // The last pointer of a level has no key; when it goes, the one before becomes last.
        const bool last_unkeyed = node->key.empty();
        if (Status st = ed.delete_node(m.iline); !st) return fail(st.error());
        if (last_unkeyed) {
          if (m.iline == 0) return fail(EseError::parse("the merge deletes the first page pointer, which has no key"));
          if (Status st = change_key(ed, static_cast<std::uint16_t>(m.iline - 1), {}); !st) return fail(st.error());
        }
      } else if (m.flags & redo::kMergeKeyChange) {
        // Partial left merges move the merged page's first nodes onto the left page: the
        // separator before the merged page's pointer changes.
        if (leaf.type == redo::kMergePartialLeft && m.iline == 0) {
          return fail(EseError::parse("a partial left merge of the first page pointer"));
        }
        const std::uint16_t target = leaf.type == redo::kMergePartialLeft ? static_cast<std::uint16_t>(m.iline - 1) : m.iline;
        if (Status st = change_key(ed, target, leaf.separator); !st) return fail(st.error());
      }
      if (m.flags & redo::kMergeEmptyPage) {
        if (Status st = empty_page(ed); !st) return fail(st.error());
      }
      touch(m.page, m.after);
    }
    if (record_applied_) ++report_.records_applied; else ++report_.records_in_file;
  }

  // The leaf level.
  position_ = positions.back();
  record_applied_ = false;
  const std::uint32_t destination = right_merge(leaf.type) ? leaf.right : left_merge(leaf.type) ? leaf.left : 0;
  const bool moves = destination != 0;
  if ((right_merge(leaf.type) || left_merge(leaf.type)) && destination == 0) {
    return error_at(leaf.page, "a merge into a sibling the record does not name");
  }
  const Rule destination_rule = right_merge(leaf.type) ? right_rule : left_merge(leaf.type) ? left_rule : Rule::Skip;
  bool source_apply = *source_rule == Rule::Apply;
  auto fail = [&](std::uint32_t page, const EseError& e) { return fail_at(page, EseError::parse("Merge2: " + error_detail(e))); };
  if (moves && destination_rule == Rule::Apply && !source_apply) {
    // The file holds the merged page after the merge but not its destination (a
    // database flushed mid-way): the engine puts the logged image back and redoes the
    // merged page as well.
    auto img = logged_page_image(leaf.image, leaf.image_flags, page_size_, "merge");
    if (!img) {
      return error_at(leaf.page, "the merged page is newer than the merge but its destination page " +
                                     std::to_string(destination) + " is not, and " + error_detail(img.error()));
    }
    auto e = edit(leaf.page);
    if (!e) return e.error();
    std::span<std::uint8_t> target = overlay_->write(leaf.page);
    std::copy(img->begin(), img->end(), target.begin());
    source_apply = true;
  }

  // The merged page's nodes as the merge found them.
  std::vector<NodeImage> lines;
  if (source_apply) {
    auto e = edit(leaf.page);
    if (!e) return e.error();
    const std::uint16_t n = e->nodes();
    lines.reserve(n);
    for (std::uint16_t i = 0; i < n; ++i) {
      auto node = e->node(i);
      if (!node) return fail(leaf.page, node.error());
      lines.push_back(std::move(*node));
    }
    if (moves && leaf.iline_merge >= lines.size()) {
      return error_at(leaf.page, "the merge moves from node " + std::to_string(leaf.iline_merge) + " of " +
                                     std::to_string(lines.size()));
    }
  }

  // Moving: from the last line to move back to the first, each inserted at the same
  // place (the front of the right page, the end of the left page) and re-prefixed
  // against the destination's prefix. Flag-deleted nodes are not moved: the engine's
  // redo never finds their versions active.
  if (moves && destination_rule == Rule::Apply) {
    auto d = edit(destination);
    if (!d) return d.error();
    PageEditor& dest = *d;
    auto pre = dest.prefix();
    if (!pre) return fail(destination, pre.error());
    const bool right = right_merge(leaf.type);
    const std::size_t first = right ? leaf.iline_merge : 0;
    const std::size_t end = right ? lines.size() : std::size_t{leaf.iline_merge} + 1;
    const std::uint16_t place = right ? 0 : dest.nodes();
    for (std::size_t i = end; i-- > first;) {
      if (lines[i].flags & quarrow::kNodeDeleted) continue;
      NodeImage node = lines[i];
      node.prefix_length = prefix_length_for(node.key, *pre);
      if (Status st = dest.insert_node(place, node); !st) return fail(destination, st.error());
    }
    dest.set_uncommitted_free(leaf.uncommitted_destination);
  }

  if (source_apply) {
    auto e = edit(leaf.page);
    if (!e) return e.error();
    PageEditor& ed = *e;
    // What moved in a partial merge leaves the merged page (flag-deleted nodes in that
    // range with it); other flag-deleted nodes stay for the engine's cleanup.
    if (leaf.type == redo::kMergePartialRight) {
      for (int i = static_cast<int>(lines.size()) - 1; i >= static_cast<int>(leaf.iline_merge); --i) {
        if (Status st = ed.delete_node(static_cast<std::uint16_t>(i)); !st) return fail(leaf.page, st.error());
      }
    } else if (leaf.type == redo::kMergePartialLeft) {
      for (int i = leaf.iline_merge; i >= 0; --i) {
        if (Status st = ed.delete_node(static_cast<std::uint16_t>(i)); !st) return fail(leaf.page, st.error());
      }
    }
    if (leaf.flags & redo::kMergeEmptyPage) {
      if (Status st = empty_page(ed); !st) return fail(leaf.page, st.error());
    }
    touch(leaf.page, leaf.after);
  }
  // Whole pages merged or emptied: the siblings now lead to each other.
  if (!partial_merge(leaf.type)) {
    if (leaf.left != 0 && left_rule == Rule::Apply) {
      auto e = edit(leaf.left);
      if (!e) return e.error();
      e->set_next(leaf.right);
    }
    if (leaf.right != 0 && right_rule == Rule::Apply) {
      auto e = edit(leaf.right);
      if (!e) return e.error();
      e->set_previous(leaf.left);
    }
  }
  // Every page of the merge that needed redo gets the merge's dbtime, changed or not.
  if (leaf.left != 0 && left_rule == Rule::Apply) {
    if (auto e = edit(leaf.left); !e) return e.error();
    touch(leaf.left, leaf.after);
  }
  if (leaf.right != 0 && right_rule == Rule::Apply) {
    if (auto e = edit(leaf.right); !e) return e.error();
    touch(leaf.right, leaf.after);
  }
  if (record_applied_) ++report_.records_applied; else ++report_.records_in_file;
  return {};
}

// A page moved to another page number (PageMove, the engine's shrink and defragmentation):
// the new page takes the page's bytes, the page is emptied, and its parent's pointer and
// its siblings' links lead to the new page (logredo.cxx ErrLGRIIRedoPageMove, bt.cxx
// BTPerformPageMove). Tree roots move inside a root-move macro that also rewrites the
// catalog and space headers; that is not redone.
Status Engine::apply_page_move(const HeldRecord& r) {
  const Bytes b = r.view();
  const std::uint32_t source = named_page(b);
  if (b.size() < redo::kPageMoveVariable) return error_at(source, "a PageMove record shorter than its fixed part");
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  const std::uint64_t before = load_u64le(b, kPageDbtimeBefore);
  const std::uint32_t dest = load_u32le(b, kPageMoveDestination);
  const std::uint32_t left = load_u32le(b, redo::kPageMoveLeft);
  const std::uint32_t right = load_u32le(b, redo::kPageMoveRight);
  const std::uint32_t parent = load_u32le(b, redo::kPageMoveParent);
  const std::int32_t parent_iline = static_cast<std::int32_t>(load_u32le(b, redo::kPageMoveParentIline));
  const std::uint32_t flags = load_u32le(b, redo::kPageMoveFlags);
  const std::uint64_t header_part = load_u32le(b, kPageMoveHeaderLength);
  const std::uint64_t trailer_part = load_u32le(b, kPageMoveTrailerLength);
  if (redo::kPageMoveVariable + header_part + trailer_part > b.size()) {
    return error_at(source, "a PageMove record whose page image runs past its end");
  }
  if (header_part + trailer_part > page_size_) return error_at(source, "a PageMove record whose page image is larger than a page");
  std::vector<std::uint32_t> named = {source, dest, parent};
  for (std::uint32_t p : {left, right}) {
    if (p != 0) named.push_back(p);
  }
  std::sort(named.begin(), named.end());
  if (std::adjacent_find(named.begin(), named.end()) != named.end()) {
    return error_at(source, "a PageMove record naming one page twice");
  }

  auto parent_rule = check(parent, after, load_u64le(b, redo::kPageMoveParentDbtime));
  if (!parent_rule) return parent_rule.error();
  auto source_rule = check(source, after, before);
  if (!source_rule) return source_rule.error();
  Rule left_rule = Rule::Skip, right_rule = Rule::Skip;
  if (left != 0) {
    auto lr = check(left, after, load_u64le(b, redo::kPageMoveLeftDbtime));
    if (!lr) return lr.error();
    left_rule = *lr;
  }
  if (right != 0) {
    auto rr = check(right, after, load_u64le(b, redo::kPageMoveRightDbtime));
    if (!rr) return rr.error();
    right_rule = *rr;
  }
  auto dest_rule = check(dest, after, kDbtimeInvalid, true);
  if (!dest_rule) return dest_rule.error();
  const bool any = *parent_rule == Rule::Apply || *source_rule == Rule::Apply || *dest_rule == Rule::Apply ||
                   left_rule == Rule::Apply || right_rule == Rule::Apply;
  if ((flags & redo::kPageMoveRootFlags) != 0 && any) {
    return error_at(source, "redo of a tree root's page move is not supported: the replayed state would be incomplete");
  }
  auto fail = [&](std::uint32_t page, const EseError& e) { return fail_at(page, EseError::parse("PageMove: " + error_detail(e))); };

  bool source_apply = *source_rule == Rule::Apply;
  if (*dest_rule == Rule::Apply && !source_apply) {
    // The file holds the moved page already emptied but not the new page: the engine
    // rebuilds the page from the logged parts (its used start and its tag array, zeros
    // between) and redoes the move from it.
    auto e = edit(source);
    if (!e) return e.error();
    std::span<std::uint8_t> page = overlay_->write(source);
    std::fill(page.begin(), page.end(), std::uint8_t{0});
    const Bytes parts = b.subspan(redo::kPageMoveVariable);
    std::copy_n(parts.begin(), static_cast<std::size_t>(header_part), page.begin());
    std::copy_n(parts.begin() + static_cast<std::ptrdiff_t>(header_part), static_cast<std::size_t>(trailer_part),
                page.end() - static_cast<std::ptrdiff_t>(trailer_part));
    source_apply = true;
  }
  if (source_apply) {
    // The dbtime first: the new page is a copy of the page as the move leaves it.
    if (auto e = edit(source); !e) return e.error();
    touch(source, after);
  }
  if (*dest_rule == Rule::Apply) {
    auto e = edit(dest);
    if (!e) return e.error();
    const Bytes from = overlay_->page(source);
    std::span<std::uint8_t> to = overlay_->write(dest);
    std::copy(from.begin(), from.end(), to.begin());
    pre_initialised_.erase(dest);
    touch(dest, after);
  }
  if (source_apply) {
    auto e = edit(source);
    if (!e) return e.error();
    if (Status st = empty_page(*e); !st) return fail(source, st.error());
  }
  if (*parent_rule == Rule::Apply) {
    auto e = edit(parent);
    if (!e) return e.error();
    if (parent_iline < 0 || parent_iline >= e->nodes()) {
      return fail(parent, EseError::parse("the parent's pointer " + std::to_string(parent_iline) + " is past its " +
                                          std::to_string(e->nodes()) + " nodes"));
    }
    auto node = e->node(static_cast<std::uint16_t>(parent_iline));
    if (!node) return fail(parent, node.error());
    if (node->data != page_pointer_data(source)) return fail(parent, EseError::parse("the parent's pointer does not lead to the moved page"));
    node->data = page_pointer_data(dest);
    if (Status st = e->replace_node(static_cast<std::uint16_t>(parent_iline), *node); !st) return fail(parent, st.error());
    touch(parent, after);
  }
  if (left_rule == Rule::Apply) {
    auto e = edit(left);
    if (!e) return e.error();
    e->set_next(dest);
    touch(left, after);
  }
  if (right_rule == Rule::Apply) {
    auto e = edit(right);
    if (!e) return e.error();
    e->set_previous(dest);
    touch(right, after);
  }
  return {};
}

}  // namespace quarrow::replay
