#include "database/space.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/traversal.h"
#include "format/space.h"
#include "page/leaf.h"

namespace quarrow {

namespace {

struct Extent {
  std::uint32_t last = 0;
  std::uint32_t pages = 0;
  std::uint8_t pool = 0;  // 0 for the legacy key form
};

// The full key of an entry: its local key after the shared prefix, which tag 0 of the
// page holds. Empty when the prefix is not there.
std::vector<std::uint8_t> entry_key(const PageView& page, const LeafEntryView& entry) {
  std::vector<std::uint8_t> key;
  if (entry.common_key_size && *entry.common_key_size != 0) {
    auto prefix = read_tag(page, 0);
    if (!prefix || prefix->value.size() < *entry.common_key_size) return {};
    key.assign(prefix->value.begin(), prefix->value.begin() + *entry.common_key_size);
  }
  key.insert(key.end(), entry.key.begin(), entry.key.end());
  return key;
}

// The extents of one extent tree (owned or available), in key order. Entries that do
// not decode, flagged deleted ones and pages of other objects are passed over.
std::vector<Extent> read_extents(const Database& db, std::uint32_t root) {
  std::vector<Extent> out;
  TreeLeafWalk walk(db, root, kDatabaseRootObjectId, OnFailure::PassOver);
  std::string scratch;
  while (walk.advance() == TreeLeafWalk::Step::Page) {
    const PageView& page = walk.page();
    const std::uint16_t count = readable_tag_count(page);
    for (std::uint16_t i = 1; i < count; ++i) {
      PageTag tag;
      if (!read_entry_tag(page, i, scratch, tag)) continue;
      if ((tag.flags & kNodeDeleted) != 0) continue;
      auto entry = parse_leaf_entry_view(tag.flags, tag.value);
      if (!entry || entry->data.size() < kExtentDataSize) continue;
      const std::vector<std::uint8_t> key = entry_key(page, *entry);
      Extent e;
      if (key.size() == kExtentKeySize && (key[0] & kExtentKeyPooled) == 0) {
        e.last = load_u32be(Bytes(key), 0);
      } else if (key.size() == kPooledExtentKeySize && (key[0] & kExtentKeyPooled) != 0) {
        e.pool = key[0] & kExtentKeyPoolMask;
        e.last = load_u32be(Bytes(key), 1);
      } else {
        continue;
      }
      e.pages = load_u32le(entry->data, 0);
      if (e.last == 0) continue;
      out.push_back(e);
    }
  }
  return out;
}

}  // namespace

std::optional<OwnedSpace> owned_space(const Database& db) {
  auto root = db.load_page(kDatabaseRootPage);
  if (!root) return std::nullopt;
  auto header = read_tag(*root, 0);
  if (!header || header->value.size() < kSpaceHeaderSize) return std::nullopt;
  if ((load_u32le(header->value, kSpaceHeaderFlagsOffset) & kSpaceMultipleExtent) == 0) return std::nullopt;
  const std::uint32_t owned_root = load_u32le(header->value, kSpaceHeaderOwnedTreeOffset);
  if (owned_root == 0 || owned_root == kDatabaseRootPage) return std::nullopt;

  std::uint32_t last = 0;
  for (const Extent& e : read_extents(db, owned_root)) last = std::max(last, e.last);
  if (last == 0) return std::nullopt;
  // Shelved runs at the top are owned but lie past the end the engine left: the file
  // may end before them. Taken off from the top down.
  std::vector<Extent> shelved;
  if (owned_root <= UINT32_MAX - kAvailableTreeAfterOwned) {
    for (const Extent& e : read_extents(db, owned_root + kAvailableTreeAfterOwned)) {
      if (e.pool == kShelvedPool && e.pages != 0) shelved.push_back(e);
    }
  }
  std::sort(shelved.begin(), shelved.end(), [](const Extent& a, const Extent& b) { return a.last > b.last; });
  for (const Extent& e : shelved) {
    const std::uint32_t first = e.pages > e.last ? 0 : e.last - e.pages + 1;
    if (last >= first && last <= e.last) last = first == 0 ? 0 : first - 1;
  }
  return OwnedSpace{last, db.total_pages()};
}

std::string truncation_text(const OwnedSpace& space) {
  return "truncated: the database owns " + std::to_string(space.last_owned_page) + " pages, the file holds " +
         std::to_string(space.pages_held);
}

}  // namespace quarrow
