// Redo of the records that make pages and trees: NewPage (a page prepared for a tree),
// the roots of new trees with their space header, the conversion of a single-extent
// tree to one with space trees of its own, and emptying a small tree.
#include <algorithm>

#include "format/log.h"
#include "format/redo.h"
#include "replay/engine.h"

namespace quarrow::replay {

using namespace logfmt;

namespace {

std::string space_header(std::int32_t primary, std::uint32_t parent, std::uint32_t flags, std::uint32_t last) {
  std::string h(redo::kSpaceHeaderSize, '\0');
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(redo::kSpacePrimaryPages, static_cast<std::uint32_t>(primary));
  put(redo::kSpaceParentRoot, parent);
  put(redo::kSpaceFlags, flags);
  put(redo::kSpaceLast, last);
  return h;
}

// A single extent tracks its free pages in a bitmap: page root + 1 + i is free when bit i is set.
std::uint32_t initial_bitmap(std::int32_t primary) {
  if (primary <= 1) return 0;
  if (primary > static_cast<std::int32_t>(redo::kSpaceBitmapBits)) return 0xFFFFFFFFu;
  return (1u << (primary - 1)) - 1;
}

struct Extent {
  std::uint32_t last = 0;
  std::uint32_t count = 0;
};

// The free extents of a single-extent tree's primary extent, highest first: the pages
// past the bitmap's reach, then runs of set bits walking down from the top bit.
std::vector<Extent> free_extents(std::uint32_t root, std::int32_t primary, std::uint32_t bitmap) {
  std::vector<Extent> out;
  const std::uint32_t bits = redo::kSpaceBitmapBits;
  if (primary - 1 > static_cast<std::int32_t>(bits)) {
    out.push_back({root + static_cast<std::uint32_t>(primary) - 1, static_cast<std::uint32_t>(primary) - bits - 1});
  }
  for (int bit = static_cast<int>(bits) - 1; bit >= 0; --bit) {
    if ((bitmap & (1u << bit)) == 0) continue;
    const std::uint32_t page = root + 1 + static_cast<std::uint32_t>(bit);
    if (!out.empty() && out.back().last - out.back().count + 1 == page + 1) {
      ++out.back().count;
    } else {
      out.push_back({page, 1});
    }
  }
  return out;
}

}  // namespace

Status Engine::apply_new_page(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kNewPageDbtime + 8) return EseError::parse("short NewPage record");
  const std::uint32_t page = load_u32le(b, kNewPagePgno);
  const std::uint32_t objid = load_u32le(b, kNewPageObjid);
  const std::uint64_t dbtime = load_u64le(b, kNewPageDbtime);
  auto rule = check(page, dbtime, kDbtimeNil, true);
  if (!rule) return rule.error();
  if (*rule == Rule::Skip) return {};
  auto ed = edit(page);
  if (!ed) return ed.error();
  ed->pre_initialise(dbtime, objid, redo::kPagePreInitialised | redo::kPageNewRecordFormat);
  pre_initialised_.insert(page);
  created_.insert(page);
  touch(page, dbtime);
  return {};
}

Status Engine::new_space_root(std::uint32_t page, std::uint64_t dbtime, std::uint32_t objid, std::uint32_t flags) {
  auto ed = edit(page);
  if (!ed) return ed.error();
  ed->initialise(dbtime, objid,
                 (flags | redo::kPageRoot | redo::kPageLeaf | redo::kPageSpaceTree | redo::kPageNewRecordFormat) &
                     ~redo::kPagePreInitialised);
  const std::string split_buffer(redo::kSpaceSplitBufferSize, '\0');
  if (Status st = ed->replace_tag(0, as_bytes(split_buffer), 0); !st) return fail_at(page, st.error());
  pre_initialised_.erase(page);
  created_.insert(page);
  touch(page, dbtime);
  return {};
}

Status Engine::insert_extent(PageEditor& page, std::uint32_t last, std::uint32_t count) {
  NodeImage n;
  n.key.resize(redo::kExtentKeySize);
  for (std::size_t i = 0; i < redo::kExtentKeySize; ++i) {
    n.key[i] = static_cast<char>((last >> (8 * (redo::kExtentKeySize - 1 - i))) & 0xFF);
  }
  n.data.resize(redo::kExtentDataSize);
  for (std::size_t i = 0; i < redo::kExtentDataSize; ++i) n.data[i] = static_cast<char>((count >> (8 * i)) & 0xFF);
  // At its key position: after every node with a smaller key.
  std::uint16_t at = 0;
  for (; at < page.nodes(); ++at) {
    auto node = page.node(at);
    if (!node) return node.error();
    if (!(node->key < n.key)) break;
  }
  return page.insert_node(at, n);
}

Status Engine::apply_single_extent_root(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kCreateSingleExtentFDPSize) return EseError::parse("short CreateSingleExtentFDP record");
  const std::uint32_t root = load_u32le(b, kPagePgno);
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  auto rule = check(root, after, kDbtimeNil, true);
  if (!rule) return rule.error();
  if (*rule == Rule::Skip) return {};
  const std::uint32_t objid = load_u32le(b, redo::kSingleObjid);
  const std::uint32_t parent = load_u32le(b, redo::kSingleParentRoot);
  const std::int32_t primary = static_cast<std::int32_t>(load_u32le(b, redo::kSinglePrimaryPages));
  const std::uint32_t flags = load_u32le(b, redo::kSinglePageFlags);
  const bool unique = (b[kPageFlags] & kNodeUnique) != 0;
  auto ed = edit(root);
  if (!ed) return ed.error();
  ed->initialise(after, objid, (flags | redo::kPageRoot | redo::kPageLeaf | redo::kPageNewRecordFormat) & ~redo::kPagePreInitialised);
  const std::string header = space_header(primary, parent, unique ? 0 : redo::kSpaceNonUnique, initial_bitmap(primary));
  if (Status st = ed->replace_tag(0, as_bytes(header), 0); !st) return fail_at(root, st.error());
  pre_initialised_.erase(root);
  created_.insert(root);
  touch(root, after);
  return {};
}

Status Engine::apply_multiple_extent_root(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kCreateMultipleExtentFDPSize) return EseError::parse("short CreateMultipleExtentFDP record");
  const std::uint32_t root = load_u32le(b, kPagePgno);
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  const std::uint32_t objid = load_u32le(b, redo::kMultipleObjid);
  const std::uint32_t owned = load_u32le(b, redo::kMultipleOwnedRoot);
  const std::uint32_t avail = load_u32le(b, redo::kMultipleAvailRoot);
  const std::uint32_t parent = load_u32le(b, redo::kMultipleParentRoot);
  const std::int32_t primary = static_cast<std::int32_t>(load_u32le(b, redo::kMultiplePrimaryPages));
  const std::uint32_t flags = load_u32le(b, redo::kMultiplePageFlags);
  const bool unique = (b[kPageFlags] & kNodeUnique) != 0;
  if (owned == root || avail == root || owned == avail || primary < 1) return error_at(root, "a tree whose space pages overlap");
  const std::uint32_t last = root + static_cast<std::uint32_t>(primary) - 1;
  auto rule = check(root, after, kDbtimeNil, true);
  if (!rule) return rule.error();
  if (*rule == Rule::Apply) {
    auto ed = edit(root);
    if (!ed) return ed.error();
    ed->initialise(after, objid, (flags | redo::kPageRoot | redo::kPageLeaf | redo::kPageNewRecordFormat) & ~redo::kPagePreInitialised);
    const std::string header = space_header(primary, parent, redo::kSpaceMultipleExtent | (unique ? 0 : redo::kSpaceNonUnique), owned);
    if (Status st = ed->replace_tag(0, as_bytes(header), 0); !st) return fail_at(root, st.error());
    pre_initialised_.erase(root);
    created_.insert(root);
    touch(root, after);
  }
  for (const std::uint32_t page : {owned, avail}) {
    auto pr = check(page, after, kDbtimeNil, true);
    if (!pr) return pr.error();
    if (*pr == Rule::Skip) continue;
    if (Status st = new_space_root(page, after, objid, flags); !st) return st;
    PageEditor ed(overlay_->write(page));
    const std::uint32_t count = page == owned ? static_cast<std::uint32_t>(primary)
                                              : static_cast<std::uint32_t>(std::max<std::int32_t>(0, primary - static_cast<std::int32_t>(redo::kMultipleExtentReservedPages)));
    if (count > 0) {
      if (Status st = insert_extent(ed, last, count); !st) return fail_at(page, st.error());
    }
  }
  return {};
}

Status Engine::apply_convert(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kConvertFDP2Size) return EseError::parse("short ConvertFDP2 record");
  const std::uint32_t root = load_u32le(b, kPagePgno);
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  const std::uint64_t before = load_u64le(b, kPageDbtimeBefore);
  const std::uint32_t objid = load_u32le(b, redo::kConvertObjid);
  const std::uint32_t owned = load_u32le(b, redo::kConvertOwnedRoot);
  const std::uint32_t avail = load_u32le(b, redo::kConvertAvailRoot);
  const std::uint32_t parent = load_u32le(b, redo::kConvertParentRoot);
  const std::uint32_t secondary_first = load_u32le(b, redo::kConvertSecondaryFirst);
  const std::int32_t primary = static_cast<std::int32_t>(load_u32le(b, redo::kConvertPrimaryPages));
  const std::uint32_t secondary = load_u32le(b, redo::kConvertSecondaryPages);
  const std::uint32_t bitmap = load_u32le(b, redo::kConvertBitmap);
  const std::uint32_t flags = load_u32le(b, redo::kConvertPageFlags);
  const bool unique = (b[kPageFlags] & kNodeUnique) != 0;
  if (owned == root || avail == root || owned == avail || primary < 1 || secondary < redo::kSpaceRootPages) {
    return error_at(root, "a ConvertFDP2 record whose space pages do not fit together");
  }
  const std::uint32_t secondary_last = secondary_first + secondary - 1;
  // The owned extents: the secondary extent first, then the primary one at its key position.
  auto ro = check(owned, after, kDbtimeNil, true);
  if (!ro) return ro.error();
  if (*ro == Rule::Apply) {
    if (Status st = new_space_root(owned, after, objid, flags); !st) return st;
    PageEditor ed(overlay_->write(owned));
    if (Status st = insert_extent(ed, secondary_last, secondary); !st) return fail_at(owned, st.error());
    if (Status st = insert_extent(ed, root + static_cast<std::uint32_t>(primary) - 1, static_cast<std::uint32_t>(primary)); !st) {
      return fail_at(owned, st.error());
    }
  }
  // The available extents: the secondary extent less the two space roots, then the
  // primary extent's free pages, lowest first.
  auto ra = check(avail, after, kDbtimeNil, true);
  if (!ra) return ra.error();
  if (*ra == Rule::Apply) {
    if (Status st = new_space_root(avail, after, objid, flags); !st) return st;
    PageEditor ed(overlay_->write(avail));
    if (secondary > redo::kSpaceRootPages) {
      if (Status st = insert_extent(ed, secondary_last, secondary - redo::kSpaceRootPages); !st) return fail_at(avail, st.error());
    }
    const std::vector<Extent> extents = free_extents(root, primary, bitmap);
    for (auto it = extents.rbegin(); it != extents.rend(); ++it) {
      if (Status st = insert_extent(ed, it->last, it->count); !st) return fail_at(avail, st.error());
    }
  }
  auto rr = check(root, after, before);
  if (!rr) return rr.error();
  if (*rr == Rule::Apply) {
    auto ed = edit(root);
    if (!ed) return ed.error();
    const std::string header = space_header(primary, parent, redo::kSpaceMultipleExtent | (unique ? 0 : redo::kSpaceNonUnique), owned);
    if (Status st = ed->replace_tag(0, as_bytes(header), 0); !st) return fail_at(root, st.error());
    touch(root, after);
  }
  return {};
}

Status Engine::apply_empty_tree(const HeldRecord& r) {
  const Bytes b = r.view();
  if (b.size() < kEmptyTreeFixed) return EseError::parse("short EmptyTree record");
  const std::uint32_t root = load_u32le(b, kPagePgno);
  const std::uint64_t after = load_u64le(b, kPageDbtimeAfter);
  const std::uint64_t before = load_u64le(b, kPageDbtimeBefore);
  const std::size_t length = load_u16le(b, kNodeLength1);
  if (kEmptyTreeFixed + length > b.size()) return error_at(root, "an EmptyTree record whose page list runs past its end");
  for (std::size_t at = kEmptyTreeFixed; at + redo::kEmptyTreeEntrySize <= kEmptyTreeFixed + length; at += redo::kEmptyTreeEntrySize) {
    const std::uint64_t page_before = load_u64le(b, at);
    const std::uint32_t page = load_u32le(b, at + redo::kEmptyTreeEntryPage);
    auto rule = check(page, after, page_before);
    if (!rule) return rule.error();
    if (*rule == Rule::Skip) continue;
    auto ed = edit(page);
    if (!ed) return ed.error();
    if (Status st = ed->replace_tag(0, {}, 0); !st) return fail_at(page, st.error());
    for (int i = static_cast<int>(ed->nodes()) - 1; i >= 0; --i) {
      if (Status st = ed->delete_node(static_cast<std::uint16_t>(i)); !st) return fail_at(page, st.error());
    }
    // The engine empties each page the way a merge does (NDEmptyPage): marked empty too.
    ed->set_flags(ed->flags() | redo::kPageEmpty);
    touch(page, after);
  }
  auto rule = check(root, after, before);
  if (!rule) return rule.error();
  if (*rule == Rule::Apply) {
    auto ed = edit(root);
    if (!ed) return ed.error();
    if (ed->nodes() > 0) {
      if (Status st = ed->delete_node(0); !st) return fail_at(root, st.error());
    }
    ed->set_flags((ed->flags() & ~redo::kPageParentOfLeaf) | redo::kPageLeaf);
    touch(root, after);
  }
  return {};
}

}  // namespace quarrow::replay
