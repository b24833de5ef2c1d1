#include "database/traversal.h"

#include <algorithm>

#include "format/page.h"
#include "page/leaf.h"

namespace quarrow {
namespace {

bool on_path(const std::vector<std::uint32_t>& path, std::uint32_t page) {
  return std::find(path.begin(), path.end(), page) != path.end();
}

class CatalogWalk {
 public:
  CatalogWalk(const Database& db, const CatalogRowHandler& handler)
      : db_(db), handler_(handler), walked_(db.total_pages()) {}

  Status walk(std::uint32_t page_number, std::size_t depth) {
    if (depth >= kMaxTreeDepth) return tree_depth_error(page_number);
    if (on_path(path_, page_number)) return tree_cycle_error(page_number);
    if (!walked_.enter(page_number)) return Status::success();
    path_.push_back(page_number);
    Status st = walk_page(page_number, depth);
    path_.pop_back();
    return st;
  }

 private:
  Status walk_page(std::uint32_t page_number, std::size_t depth) {
    Result<PageView> loaded = db_.load_page(page_number);
    if (!loaded) return std::move(loaded).error();
    const PageView& page = *loaded;
    const std::uint32_t flags = page.header.flags;
    const bool leaf = (flags & kPageLeaf) != 0;
    const bool foreign = (flags & (kPageSpaceTree | kPageIndex | kPageLongValue)) != 0;
    const bool ignore_handler_errors = is_large_page(db_.page_size());

    std::string scratch;
    PageTag tag;
    for (std::uint16_t i = 0; i < readable_tag_count(page); ++i) {
      if (!read_entry_tag(page, i, scratch, tag) || tag.value.empty()) continue;
      if (!leaf || foreign || (tag.flags & kNodeDeleted)) continue;
      Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
      if (!entry) continue;
      Status st = handler_(entry->data, CatalogRowPlace{page_number, i});
      if (!st && !ignore_handler_errors) return st;
    }
    for (std::uint16_t i = 0; i < readable_tag_count(page); ++i) {
      if (!read_entry_tag(page, i, scratch, tag) || tag.value.empty()) continue;
      if (leaf) continue;
      Result<std::uint32_t> child = parse_branch_child(tag.flags, tag.value, db_.total_pages());
      if (!child) continue;
      Status st = walk(*child, depth + 1);
      if (!st) return st;
    }
    return Status::success();
  }

  const Database& db_;
  const CatalogRowHandler& handler_;
  // Every page walked so far. A sound tree reaches each page by one path only. A page
  // shared by two subtrees is damage but harmless: its entries were handed over the
  // first time, and walking it again would only repeat them (without bound, for pages
  // shared at every level). A page on the current path is a cycle.
  PageChainGuard walked_;
  std::vector<std::uint32_t> path_;
};

}  // namespace

EseError tree_cycle_error(std::uint32_t page) {
  return EseError::parse("Tree page " + std::to_string(page) +
                         " is reached twice (cycle in a damaged tree)");
}

EseError tree_depth_error(std::uint32_t page) {
  return EseError::parse("Tree deeper than " + std::to_string(kMaxTreeDepth) + " levels at page " +
                         std::to_string(page) + " (damaged tree)");
}

EseError chain_cycle_error(std::uint32_t page) {
  return EseError::parse("Leaf page chain returns to page " + std::to_string(page) +
                         " (cycle in a damaged tree)");
}

Status walk_catalog_tree(const Database& db, std::uint32_t root, const CatalogRowHandler& handler) {
  CatalogWalk walk(db, handler);
  return walk.walk(root, 0);
}

Status walk_catalog_tree(const Database& db, std::uint32_t root, const CatalogHandler& handler) {
  const CatalogRowHandler rows = [&handler](Bytes data, const CatalogRowPlace&) { return handler(data); };
  return walk_catalog_tree(db, root, rows);
}

bool page_owned_by(const PageView& page, std::uint32_t owner) {
  const std::uint32_t named = page.header.father_object_id;
  return owner == kNoObjectId || named == owner || named == kNoObjectId;
}

Descent descend_leftmost(const Database& db, std::uint32_t root, const DescentPolicy& policy) {
  Descent d;
  // Applies the policy to a failure met while standing on `current` (if any).
  auto fail = [&](OnFailure what, EseError error, const std::optional<PageView>& current,
                  std::uint32_t current_number) -> Descent& {
    if (what == OnFailure::StopHere && current) {
      d.outcome = Descent::Outcome::Reached;
      d.page = *current;
      d.page_number = current_number;
    } else if (what == OnFailure::ReturnError) {
      d.outcome = Descent::Outcome::Failed;
      d.error = std::move(error);
    } else {
      d.outcome = Descent::Outcome::PassedOver;
    }
    return d;
  };

  std::optional<PageView> current;
  std::uint32_t current_number = 0;
  std::uint32_t next = root;
  std::string scratch;
  for (;;) {
    if (d.path.size() >= kMaxTreeDepth) return fail(policy.cycle, tree_depth_error(next), current, current_number);
    if (on_path(d.path, next)) return fail(policy.cycle, tree_cycle_error(next), current, current_number);
    Result<PageView> loaded = db.load_page(next);
    if (!loaded) return fail(policy.page_load, std::move(loaded).error(), current, current_number);
    d.path.push_back(next);
    current = *loaded;
    current_number = next;
    const PageView& page = *current;
    if (page.is_leaf() || page.tag_count < 2) break;
    // A range outside the page is an error here in every layout (the entry readers
    // of the large-page layout take it for an empty value instead).
    Result<PageTag> located = read_tag(page, 1);
    if (!located) return fail(policy.entry, std::move(located).error(), current, current_number);
    PageTag tag;
    Status st = read_entry_tag(page, 1, scratch, tag);
    if (!st) return fail(policy.entry, std::move(st).error(), current, current_number);
    Result<std::uint32_t> child = parse_branch_child(tag.flags, tag.value, db.total_pages());
    if (!child) return fail(policy.entry, std::move(child).error(), current, current_number);
    next = *child;
  }
  d.outcome = Descent::Outcome::Reached;
  d.page = *current;
  d.page_number = current_number;
  return d;
}

Result<PageView> descend_to_first_leaf(const Database& db, std::uint32_t root) {
  const DescentPolicy policy{OnFailure::ReturnError, OnFailure::ReturnError, OnFailure::ReturnError};
  Descent d = descend_leftmost(db, root, policy);
  if (d.outcome != Descent::Outcome::Reached) return std::move(*d.error);
  return d.page;
}

bool PageChainGuard::contains(std::uint32_t page) const {
  if (page < limit_ + 2u && limit_ < 0xFFFFFFF0u) return !seen_.empty() && seen_[page];
  return std::find(seen_beyond_.begin(), seen_beyond_.end(), page) != seen_beyond_.end();
}

bool PageChainGuard::enter(std::uint32_t page) {
  if (page < limit_ + 2u && limit_ < 0xFFFFFFF0u) {
    if (seen_.empty()) seen_.resize(static_cast<std::size_t>(limit_) + 2, false);
    if (seen_[page]) return false;
    seen_[page] = true;
    return true;
  }
  if (std::find(seen_beyond_.begin(), seen_beyond_.end(), page) != seen_beyond_.end()) return false;
  seen_beyond_.push_back(page);
  return true;
}

LeafChainWalk::LeafChainWalk(const Database& db, ChainPolicy policy, std::uint32_t first_number,
                             const PageView& first, PageChainGuard* shared_guard)
    : db_(&db),
      own_guard_(shared_guard ? nullptr : std::make_unique<PageChainGuard>(db.total_pages())),
      guard_(shared_guard ? shared_guard : own_guard_.get()),
      policy_(policy),
      page_(first),
      number_(first_number) {
  guard_->enter(first_number);
  since_release_ = first.data.size();
}

LeafChainWalk::Step LeafChainWalk::stop(OnFailure what, EseError error) {
  if (what == OnFailure::ReturnError) {
    error_ = std::move(error);
    return Step::Error;
  }
  ended_ = true;
  return Step::End;
}

LeafChainWalk::Step LeafChainWalk::advance() {
  if (ended_) return Step::End;
  const std::uint32_t next = page_.header.next_page;
  if (next == 0) {
    ended_ = true;
    return Step::End;
  }
  // Distinct pages bound the walk already; the step count makes the bound explicit.
  if (guard_->contains(next) || steps_ > static_cast<std::uint64_t>(db_->total_pages())) {
    return stop(policy_.revisit, chain_cycle_error(next));
  }
  Result<PageView> loaded = db_->load_page(next);
  if (!loaded) return stop(policy_.page_load, std::move(loaded).error());
  guard_->enter(next);
  ++steps_;
  page_ = *loaded;
  number_ = next;
  since_release_ += page_.data.size();
  if (since_release_ >= kChainReleaseBytes) {
    db_->release_resident_pages();
    since_release_ = 0;
  }
  return Step::Page;
}

TreeLeafWalk::TreeLeafWalk(const Database& db, std::uint32_t root, std::uint32_t owner, OnFailure link_load,
                           PageChainGuard* shared_guard)
    : db_(&db),
      root_(root),
      owner_(owner),
      link_load_(link_load),
      own_guard_(shared_guard ? nullptr : std::make_unique<PageChainGuard>(db.total_pages())),
      guard_(shared_guard ? shared_guard : own_guard_.get()) {}

void TreeLeafWalk::count_bytes(std::size_t n) {
  since_release_ += n;
  if (since_release_ >= kChainReleaseBytes) {
    db_->release_resident_pages();
    since_release_ = 0;
  }
}

// Loads a page the tree names, unless it was entered before, does not load, or belongs
// to another object. A page that does not load counts as entered, so it is tried once;
// a page of another object does not: with a guard shared by several walks (carving's
// owner map) the object it belongs to must still be able to claim it, whoever named
// it first. Such a page is never descended into, so not marking it makes no loop.
bool TreeLeafWalk::enter(std::uint32_t number, PageView& out) {
  if (guard_->contains(number)) {
    ++revisits_;
    return false;
  }
  Result<PageView> loaded = db_->load_page(number);
  if (!loaded) {
    if (first_unloadable_ == 0) first_unloadable_ = number;
    guard_->enter(number);
    return false;
  }
  if (!page_owned_by(*loaded, owner_)) return false;
  guard_->enter(number);
  out = *loaded;
  count_bytes(out.data.size());
  return true;
}

TreeLeafWalk::Step TreeLeafWalk::yield(std::uint32_t number, const PageView& page) {
  page_ = page;
  number_ = number;
  ++pages_;
  return Step::Page;
}

TreeLeafWalk::Step TreeLeafWalk::tree_step() {
  if (!started_) {
    started_ = true;
    PageView root;
    if (!enter(root_, root)) return Step::End;
    if (root.is_leaf()) {
      pending_link_ = root.header.next_page;
      return yield(root_, root);
    }
    stack_.push_back(Frame{root, 1});
  }
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    if (top.next_tag >= readable_tag_count(top.page)) {
      stack_.pop_back();
      continue;
    }
    const std::uint16_t index = top.next_tag++;
    PageTag tag;
    if (!read_entry_tag(top.page, index, scratch_, tag)) continue;
    Result<std::uint32_t> child = parse_branch_child(tag.flags, tag.value, db_->total_pages());
    if (!child) continue;
    // Deeper than any real tree: the subtree is passed over (its pages stay unentered,
    // so a link may still reach its leaves).
    if (stack_.size() >= kMaxTreeDepth) continue;
    PageView page;
    if (!enter(*child, page)) continue;
    if (!page.is_leaf()) {
      stack_.push_back(Frame{page, 1});
      continue;
    }
    // The link of the previous leaf should name this one; where it does not, the page
    // it names is looked at once the tree is done.
    if (pending_link_ != 0 && pending_link_ != *child) links_.push_back(pending_link_);
    pending_link_ = page.header.next_page;
    return yield(*child, page);
  }
  if (pending_link_ != 0) links_.push_back(pending_link_);
  pending_link_ = 0;
  return Step::End;
}

TreeLeafWalk::Step TreeLeafWalk::link_step() {
  for (;;) {
    if (link_at_ == 0) {
      if (next_link_ >= links_.size()) return Step::End;
      link_at_ = links_[next_link_++];
      continue;
    }
    const std::uint32_t number = link_at_;
    if (guard_->contains(number)) {
      ++revisits_;
      link_at_ = 0;
      continue;
    }
    Result<PageView> loaded = db_->load_page(number);
    if (!loaded) {
      if (link_load_ == OnFailure::ReturnError) {
        error_ = std::move(loaded).error();
        return Step::Error;
      }
      if (first_unloadable_ == 0) first_unloadable_ = number;
      link_at_ = 0;
      continue;
    }
    // Links lead on only through leaves of this tree.
    if (!loaded->is_leaf() || !page_owned_by(*loaded, owner_)) {
      link_at_ = 0;
      continue;
    }
    guard_->enter(number);
    count_bytes(loaded->data.size());
    link_at_ = loaded->header.next_page;
    return yield(number, *loaded);
  }
}

TreeLeafWalk::Step TreeLeafWalk::advance() {
  if (error_) return Step::Error;
  if (!tree_done_) {
    const Step step = tree_step();
    if (step == Step::Page) return step;
    tree_done_ = true;
  }
  return link_step();
}

}  // namespace quarrow
