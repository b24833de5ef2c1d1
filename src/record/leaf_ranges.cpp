#include "record/leaf_ranges.h"

#include <algorithm>
#include <string>

#include "database/traversal.h"
#include "page/leaf.h"
#include "page/tag.h"

namespace quarrow {
namespace {

class LeafLister {
 public:
  explicit LeafLister(const Database& db) : db_(db), walked_(db.total_pages()) {}

  // False once the listing has ended with an error.
  bool walk(std::uint32_t number, std::size_t depth) {
    if (depth >= kMaxTreeDepth) return fail(tree_depth_error(number));
    if (std::find(path_.begin(), path_.end(), number) != path_.end()) return fail(tree_cycle_error(number));
    if (!walked_.enter(number)) return true;
    Result<PageView> loaded = db_.load_page(number);
    if (!loaded) return fail(std::move(loaded).error());
    const PageView page = *loaded;
    // A leaf, or a page the descent would stop on: the readers read it as a leaf
    // (and find no records on a page that is not one).
    if (page.is_leaf() || page.tag_count < 2) {
      out_.pages.push_back(number);
      return true;
    }
    path_.push_back(number);
    PageTag tag;
    for (std::uint16_t i = 1; i < readable_tag_count(page); ++i) {
      if (!read_entry_tag(page, i, scratch_, tag)) continue;
      Result<std::uint32_t> child = parse_branch_child(tag.flags, tag.value, db_.total_pages());
      if (!child) continue;
      if (!walk(*child, depth + 1)) return false;
    }
    path_.pop_back();
    return true;
  }

  LeafPages take() { return std::move(out_); }

 private:
  bool fail(EseError error) {
    out_.error = std::move(error);
    return false;
  }

  const Database& db_;
  PageChainGuard walked_;
  std::vector<std::uint32_t> path_;
  std::string scratch_;
  LeafPages out_;
};

}  // namespace

LeafPages list_leaf_pages(const Database& db, std::uint32_t root) {
  LeafLister lister(db);
  lister.walk(root, 0);
  return lister.take();
}

std::vector<LeafRange> split_leaf_pages(std::size_t count, std::size_t parts, std::size_t min_pages) {
  min_pages = std::max<std::size_t>(min_pages, 1);
  parts = std::clamp<std::size_t>(std::min(parts, count / min_pages), 1, std::max<std::size_t>(count, 1));
  std::vector<LeafRange> ranges;
  ranges.reserve(parts);
  for (std::size_t k = 0; k < parts; ++k) ranges.push_back(LeafRange{count * k / parts, count * (k + 1) / parts});
  return ranges;
}

}  // namespace quarrow
