// Small ESE database images built in memory: a header page, tree pages with their
// tag arrays in either tag layout, tree entries and catalog records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "page/tag.h"

namespace quarrow::test {

using ByteVec = std::vector<std::uint8_t>;

inline void put16(ByteVec& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(ByteVec& b, std::size_t at, std::uint32_t v) {
  put16(b, at, static_cast<std::uint16_t>(v));
  put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void add16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
inline void add32(std::string& s, std::uint32_t v) {
  add16(s, static_cast<std::uint16_t>(v));
  add16(s, static_cast<std::uint16_t>(v >> 16));
}

inline constexpr std::uint32_t kLeaf = 0x02;

struct TagDef {
  std::uint8_t flags = 0;
  std::string value;
};
struct PageDef {
  std::uint32_t flags = kLeaf;  // page flags (offset 36)
  std::vector<TagDef> tags;
};

// Values lie one after another from the end of the header; tag i is the 4 bytes at
// len - 4(i + 1). In the large-page layout the tag flags go into the top three bits
// of the value's second byte.
inline ByteVec build_page(const PageLayout& layout, const PageDef& def) {
  ByteVec page(layout.page_size, 0);
  put16(page, 34, static_cast<std::uint16_t>(def.tags.size()));
  put32(page, 36, def.flags);
  const std::size_t header = layout.shape() == HeaderShape::Current && layout.page_size > 8192 ? 80 : 40;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < def.tags.size(); ++i) {
    std::string value = def.tags[i].value;
    const std::uint8_t flags = def.tags[i].flags;
    const std::size_t at = page.size() - 4 * (i + 1);
    put16(page, at, static_cast<std::uint16_t>(value.size()));
    if (layout.large_tags()) {
      if (value.size() >= 2) value[1] = static_cast<char>((value[1] & 0x1F) | (flags << 5));
      put16(page, at + 2, static_cast<std::uint16_t>(offset));
    } else {
      put16(page, at + 2, static_cast<std::uint16_t>(offset | (flags << 13)));
    }
    std::copy(value.begin(), value.end(), page.begin() + static_cast<std::ptrdiff_t>(header + offset));
    offset += value.size();
  }
  return page;
}

// The header page and pages 0..last_page, so that total_pages == last_page.
class DbImage {
 public:
  DbImage(std::uint32_t page_size, std::uint32_t last_page, std::uint32_t version = 0x620, std::uint32_t revision = 12)
      : layout_{version, revision, page_size}, bytes_((std::size_t{last_page} + 2) * page_size, 0) {
    put32(bytes_, 4, kDatabaseSignature);
    put32(bytes_, 8, version);
    put32(bytes_, 232, revision);
    put32(bytes_, 236, page_size);
  }
  DbImage& set_page(std::uint32_t number, const PageDef& def) {
    const ByteVec page = build_page(layout_, def);
    std::copy(page.begin(), page.end(), bytes_.begin() + (std::ptrdiff_t{number} + 1) * layout_.page_size);
    return *this;
  }
  ByteVec& bytes() { return bytes_; }
  Result<std::unique_ptr<Database>> open() const { return Database::open_bytes(bytes_); }

 private:
  PageLayout layout_;
  ByteVec bytes_;
};

// Tree entry values without a common key.
inline std::string leaf_value(std::string_view key, std::string_view data) {
  std::string v;
  add16(v, static_cast<std::uint16_t>(key.size()));
  return v.append(key).append(data);
}
inline std::string branch_value(std::string_view key, std::uint32_t child) {
  std::string v;
  add16(v, static_cast<std::uint16_t>(key.size()));
  v.append(key);
  add32(v, child);
  return v;
}

inline PageDef leaf_of(const std::vector<std::string>& data, std::uint32_t flags = kLeaf) {
  PageDef p{flags, {}};
  for (const std::string& d : data) p.tags.push_back({0, leaf_value("", d)});
  return p;
}
// A branch page: an empty external-header tag 0, then one entry per child.
inline PageDef branch_of(const std::vector<std::uint32_t>& children) {
  PageDef p{0, {{0, ""}}};
  for (std::uint32_t c : children) p.tags.push_back({0, branch_value("k", c)});
  return p;
}

// An MSysObjects record: 30 fixed bytes, then the name as the one variable column (V = 30).
inline std::string catalog_record(std::uint16_t type, std::uint32_t owner, std::uint32_t id, std::uint32_t v14,
                                  const std::string& name, std::uint32_t space = 0, std::uint32_t flags = 0,
                                  std::uint32_t cp_or_locale = 0) {
  std::string d("\x09\x80", 2);  // last fixed id (unread), last variable id 128
  add16(d, 30);
  add32(d, owner);
  add16(d, type);
  for (std::uint32_t v : {id, v14, space, flags, cp_or_locale}) add32(d, v);
  add16(d, static_cast<std::uint16_t>(name.size()));
  return d + name;
}
inline std::string table_record(std::uint32_t id, const std::string& name, std::uint32_t root) {
  return catalog_record(1, id, id, root, name);
}
inline std::string column_record(std::uint32_t owner, std::uint32_t id, const std::string& name, std::uint32_t type) {
  return catalog_record(2, owner, id, type, name, 4, 0, 1252);
}

// The smallest openable database: page 4 (the catalog root) is an empty leaf.
inline DbImage minimal_image(std::uint32_t page_size = 4096, std::uint32_t version = 0x620,
                             std::uint32_t revision = 12, std::uint32_t last_page = 4) {
  DbImage img(page_size, last_page, version, revision);
  img.set_page(kCatalogRootPage, leaf_of({}));
  return img;
}

// A file of the real-database corpus kept in ../shared/data/ next to the repository
// root, or "" when that folder is absent (tests then skip).
inline std::string real_data_path(const std::string& file) {
  // QUARROW_DATA names the folder when the checkout is not beside ../shared (a worktree).
  const char* folder = std::getenv("QUARROW_DATA");
  const std::string source = __FILE__;
  const std::size_t tests = source.rfind("tests/cpp/");
  const std::string path = folder != nullptr && *folder != '\0'
                               ? std::string(folder) + "/" + file
                               : (tests == std::string::npos ? "" : source.substr(0, tests)) + "../shared/data/" + file;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "";
  std::fclose(f);
  return path;
}

}  // namespace quarrow::test
