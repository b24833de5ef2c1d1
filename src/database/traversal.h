// Moving through B+ trees: the whole-tree walk used for the catalog, the descent to
// a tree's leftmost leaf, and the guard for walks along leaf-page chains.
//
// Damaged files can hold trees whose branch entries name the page itself, an
// ancestor, or a page already walked, and chains that lead back to earlier pages.
// Every walk here is bounded: a tree is never deeper than kMaxTreeDepth, no page is
// walked twice, and a chain visits each page at most once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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
// A page reached again through another branch is not walked again (its entries were
// handed over already); a page that names itself or an ancestor fails the walk.
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
// with the flag bits masked in the large-page layout; a tag whose range lies outside
// the page is TagOffsetOutOfBounds in every layout.
Descent descend_leftmost(const Database& db, std::uint32_t root, const DescentPolicy& policy);

// Table reading's descent: every failure is an error.
Result<PageView> descend_to_first_leaf(const Database& db, std::uint32_t root);

// Remembers the pages a walk has entered.
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

// The one walk along a leaf-page chain (next-page links from a tree's leftmost leaf),
// used by table reading, the long-value search and carving's owner map. It enters
// each page at most once (a page met again is a cycle, or for a shared guard a page
// another walk has taken), takes at most total_pages + 1 steps, and every
// kChainReleaseBytes of pages entered it hands the pages read so far back to the
// operating system, so that a walk over a table of any size keeps a flat resident set.
// What a stop means is the caller's policy, as with the descent.
inline constexpr std::uint64_t kChainReleaseBytes = kPageReleaseInterval;

struct ChainPolicy {
  OnFailure revisit;    // the next page was entered before (ReturnError or PassOver = end)
  OnFailure page_load;  // the next page does not load (ReturnError or PassOver = end)
};

class LeafChainWalk {
 public:
  enum class Step : std::uint8_t { Page, End, Error };

  // The walk starts on `first`, entered here. `shared_guard` (which must outlive the
  // walk) lets several walks claim pages from one set; without it the walk has its own.
  LeafChainWalk(const Database& db, ChainPolicy policy, std::uint32_t first_number, const PageView& first,
                PageChainGuard* shared_guard = nullptr);

  // Moves along the next-page link. Page: page() is the next page. End: link 0 or a
  // stop the policy treats as the end; the walk stays ended. Error: error() says why;
  // the walk stays on its page, so a further call meets the same error.
  Step advance();

  const PageView& page() const { return page_; }
  std::uint32_t page_number() const { return number_; }
  const EseError& error() const { return *error_; }

 private:
  Step stop(OnFailure what, EseError error);

  const Database* db_;
  std::unique_ptr<PageChainGuard> own_guard_;  // on the heap: the walk may be moved
  PageChainGuard* guard_;
  ChainPolicy policy_;
  PageView page_;
  std::uint32_t number_ = 0;
  std::uint64_t steps_ = 0;
  std::uint64_t since_release_ = 0;
  bool ended_ = false;
  std::optional<EseError> error_;
};

}  // namespace quarrow
