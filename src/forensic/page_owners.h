// Which table holds each leaf page: the owner map that carving names its hits' tables
// from and the report's page map draws from.
//
// A leaf page belongs to the first table in catalog order whose own tree (see
// TreeLeafWalk: the tree's leaves, then leaves only links reach, never a page another
// object's header names) reaches it. The answer depends only on the page and the
// catalog, so the trees are walked once, and only when a page first needs an owner.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/traversal.h"

namespace quarrow {

class PageOwners {
 public:
  explicit PageOwners(const Database& db) : db_(db), claimed_(db.total_pages()) {}

  // 1 + the catalog position of the table whose tree reaches `page`; 0 for none.
  std::uint32_t owner_index(std::uint32_t page) {
    if (!built_) build();
    return page < owner_.size() ? owner_[page] : 0;
  }
  // The owning table's name as text, or an absent name.
  const std::optional<std::string>* owner_of(std::uint32_t page) {
    const std::uint32_t owner = owner_index(page);
    return owner == 0 ? &none_ : &names_[owner - 1];
  }

 private:
  void build();
  void walk_tree(const TableInfo& table, std::uint32_t owner);

  const Database& db_;
  bool built_ = false;
  std::vector<std::uint32_t> owner_;  // page -> 1 + catalog index, 0 for none
  PageChainGuard claimed_;             // pages of every chain walked so far
  std::vector<std::optional<std::string>> names_;
  std::optional<std::string> none_;
};

}  // namespace quarrow
