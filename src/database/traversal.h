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
// Where a catalog row lies: its page and tag.
struct CatalogRowPlace {
  std::uint32_t page = 0;
  std::uint16_t tag = 0;
};
using CatalogRowHandler = std::function<Status(Bytes data, const CatalogRowPlace& place)>;

// Visits every tree page under `root` (leaf pass, then branch pass over tags from 0)
// and hands each usable leaf entry's data to `handler`. Entries flagged deleted are
// not rows any more (a dropped table's definition waits there for cleanup) and are
// passed over. Load failures are fatal; handler failures are fatal when the page size
// is 8192 or less and ignored above.
// A page reached again through another branch is not walked again (its entries were
// handed over already); a page that names itself or an ancestor fails the walk.
Status walk_catalog_tree(const Database& db, std::uint32_t root, const CatalogHandler& handler);
Status walk_catalog_tree(const Database& db, std::uint32_t root, const CatalogRowHandler& handler);

// True when a page may be read as part of the tree of object `owner`: its header
// names that object, or no object at all. `owner` 0 (unknown) accepts every page.
bool page_owned_by(const PageView& page, std::uint32_t owner);

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

// The leaf pages of one tree, in key order: a depth-first walk from the root over the
// branch entries (tags 1 and up of each branch page), then the leaves that only the
// next-page links reach. The tree decides: a page whose header names another owner
// (see page_owned_by) is never entered, whether a branch entry or a link names it,
// and a leaf that the links skip is still reached through its branch. Where links
// and branches agree (every sound tree) the pages come in the order of the chain.
//
// A link that does not lead to the page the tree yields next is remembered; once the
// tree is done each such link is followed while it leads to unvisited leaves of the
// owner. Nothing is entered twice (a shared guard may be given, as for chain walks),
// the walk is never deeper than kMaxTreeDepth, and its memory is that of the guard
// plus one frame per level: cycles, shared pages and any fan-out end cleanly.
// Branch entries that do not decode and child pages that do not load are passed
// over; a page that a link names and that does not load ends that link, or is an
// error with OnFailure::ReturnError (the reader keeps the specified error of a broken
// chain). Pages read are handed back to the system every kChainReleaseBytes.
class TreeLeafWalk {
 public:
  enum class Step : std::uint8_t { Page, End, Error };

  TreeLeafWalk(const Database& db, std::uint32_t root, std::uint32_t owner, OnFailure link_load,
               PageChainGuard* shared_guard = nullptr);

  // Moves to the next leaf page (the first call yields the first one). Error: error()
  // says why; further calls return the same error.
  Step advance();

  const PageView& page() const { return page_; }
  std::uint32_t page_number() const { return number_; }
  const EseError& error() const { return *error_; }
  // Pages yielded so far.
  std::uint64_t pages() const { return pages_; }
  // Times a branch entry or a link named a page the walk had entered before (with a
  // guard of its own, a cycle: a sound tree names each page once).
  std::uint64_t revisits() const { return revisits_; }
  // The first page a branch entry or a link named that did not load (0: none).
  std::uint32_t first_unloadable() const { return first_unloadable_; }

 private:
  struct Frame {
    PageView page;
    std::uint16_t next_tag = 1;
  };
  bool enter(std::uint32_t number, PageView& out);
  Step yield(std::uint32_t number, const PageView& page);
  Step tree_step();
  Step link_step();
  void count_bytes(std::size_t n);

  const Database* db_;
  std::uint32_t root_;
  std::uint32_t owner_;
  OnFailure link_load_;
  std::unique_ptr<PageChainGuard> own_guard_;
  PageChainGuard* guard_;
  std::vector<Frame> stack_;
  bool started_ = false;
  bool tree_done_ = false;
  std::uint32_t pending_link_ = 0;        // next-page link of the last leaf yielded
  std::vector<std::uint32_t> links_;      // links the tree did not follow, in order
  std::size_t next_link_ = 0;
  std::uint32_t link_at_ = 0;             // the page the current link leads to
  PageView page_;
  std::uint32_t number_ = 0;
  std::uint64_t pages_ = 0;
  std::uint64_t revisits_ = 0;
  std::uint32_t first_unloadable_ = 0;
  std::uint64_t since_release_ = 0;
  std::optional<EseError> error_;
  std::string scratch_;
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
