#include "forensic/page_owners.h"

#include "record/text.h"

namespace quarrow {

void PageOwners::build() {
  built_ = true;
  const Catalog& catalog = db_.catalog();
  const std::uint32_t total = db_.total_pages();
  owner_.assign(static_cast<std::size_t>(total) + 1, 0);
  names_.resize(catalog.size());
  for (std::size_t t = 0; t < catalog.size(); ++t) {
    walk_tree(catalog.at(t).second, static_cast<std::uint32_t>(t + 1));
  }
  for (std::size_t t = 0; t < catalog.size(); ++t) names_[t] = lossy_utf8(as_bytes(catalog.at(t).first));
}

// Claims the unclaimed leaf pages of one table's tree for `owner`. The guard is shared
// by every table's walk: a page is entered once in the whole run (two tables naming
// one root, or a tree sharing pages with another, cannot claim a page twice), which
// bounds the work by the page count. Damaged pages and links are passed over.
void PageOwners::walk_tree(const TableInfo& table, std::uint32_t owner) {
  TreeLeafWalk walk(db_, table.root_page, table.object_id, OnFailure::PassOver, &claimed_);
  while (walk.advance() == TreeLeafWalk::Step::Page) {
    if (walk.page_number() < owner_.size()) owner_[walk.page_number()] = owner;
  }
}

}  // namespace quarrow
