// How many pages the database owns, by its own space tree, against how many the file
// holds: a copy cut short (a partial download, `head -c`, a full disk) still opens
// when the catalog lies early in the file, and only a later read meets the missing
// pages. The owned-extent tree of the database's root says how far the database had
// grown (see format/space.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quarrow {

class Database;

struct OwnedSpace {
  // The last page the database owns and uses: the highest page of its owned extents,
  // less shelved runs at the top (pages the engine gave back by shrinking the file
  // but keeps owned).
  std::uint32_t last_owned_page = 0;
  std::uint32_t pages_held = 0;  // whole data pages the file holds (Database::total_pages)
  bool truncated() const { return last_owned_page > pages_held; }
};

// The database's owned space, or nothing when its space tree does not say (a root
// with a single extent, a tree that does not load or holds no extents). Reads only
// pages the file holds; never fails.
std::optional<OwnedSpace> owned_space(const Database& db);

// "truncated: the database owns N pages, the file holds M".
std::string truncation_text(const OwnedSpace& space);

}  // namespace quarrow
