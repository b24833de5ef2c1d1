// Moving through B+ trees: the whole-tree walk used for the catalog, the descent to
// a tree's leftmost leaf, and the guard for walks along leaf-page chains.
//
// Damaged files can hold trees whose branch entries name the page itself, an
// ancestor, or a page already walked, and chains that lead back to earlier pages.
// Every walk here is bounded: a tree is never deeper than kMaxTreeDepth, no page is
// entered twice, and a chain visits each page at most once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "page/tag.h"

namespace quarrow {

// Real ESE trees are a handful of levels deep; anything deeper is damage.
inline constexpr std::size_t kMaxTreeDepth = 64;

// The error a walk reports when it meets a page twice or goes too deep.
EseError tree_cycle_error(std::uint32_t page);
EseError tree_depth_error(std::uint32_t page);
EseError chain_cycle_error(std::uint32_t page);

using CatalogHandler = std::function<Status(Bytes data)>;

// Visits every tree page under `root` (leaf pass, then branch pass over tags from 0)
// and hands each usable leaf entry's data to `handler`. Load failures are fatal;
// handler failures are fatal when the page size is 8192 or less and ignored above.
Status walk_catalog_tree(const Database& db, std::uint32_t root, const CatalogHandler& handler);

// What a descent does when something goes wrong on the way down.
enum class OnFailure : std::uint8_t {
  ReturnError,  // the descent fails with the error
  StopHere,     // the descent ends on the current page
  PassOver,     // the descent ends with no page (the caller passes the tree over)
};

struct DescentPolicy {
  OnFailure page_load;  // the root or a child page does not load
  OnFailure entry;      // tag 1 does not read, or its branch entry does not decode
  OnFailure cycle;      // a page met twice, or the depth limit reached
};

struct Descent {
  enum class Outcome : std::uint8_t { Reached, PassedOver, Failed } outcome = Outcome::Failed;
  PageView page;               // valid when Reached (a leaf, or where the descent stopped)
  std::uint32_t page_number = 0;
  std::optional<EseError> error;  // set when Failed
  std::vector<std::uint32_t> path;  // pages entered, root first
};

// The one descent: from `root`, follow tag 1 of each branch page down to the leftmost
// leaf, stopping at a leaf page or a page with fewer than 2 tags. Branch tags are read
// with the flag bits masked in the large-page layout.
Descent descend_leftmost(const Database& db, std::uint32_t root, const DescentPolicy& policy);

// Table reading's descent: every failure is an error.
Result<PageView> descend_to_first_leaf(const Database& db, std::uint32_t root);

// Remembers the pages a chain walk has entered; a page seen before ends the walk.
class PageChainGuard {
 public:
  explicit PageChainGuard(std::uint32_t total_pages) : limit_(total_pages) {}
  // False when `page` was already entered.
  bool enter(std::uint32_t page);
  bool contains(std::uint32_t page) const;

 private:
  std::uint32_t limit_;
  std::vector<bool> seen_;
  std::vector<std::uint32_t> seen_beyond_;  // pages above total_pages (never loadable, but kept exact)
};

}  // namespace quarrow
