// An opened database: the read-only bytes, the 660-byte header copy, the page size,
// the number of data pages and the catalog. Immutable after opening.
//
// File layout: a sequence of pages of page_size bytes; the first holds the header;
// page number N starts at file offset (N + 1) * page_size, so page 0 is the file's
// second page and is never used by the engine.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "database/catalog.h"
#include "database/file_cache.h"
#include "database/mapping.h"
#include "error/ese_error.h"
#include "format/catalog.h"
#include "format/database_header.h"
#include "page/tag.h"

namespace quarrow {

class Database {
 public:
  // Opens a file read-only and memory-maps it.
  static Result<std::unique_ptr<Database>> open(const std::string& path);
  // Opens a database held in memory (same checks and catalog load).
  static Result<std::unique_ptr<Database>> open_bytes(std::vector<std::uint8_t> bytes);

  Result<PageView> load_page(std::uint32_t page_number) const;

  std::uint32_t page_size() const { return layout_.page_size; }
  std::uint32_t total_pages() const { return total_pages_; }
  std::uint32_t format_version() const { return layout_.version; }
  std::uint32_t format_revision() const { return layout_.revision; }
  const PageLayout& layout() const { return layout_; }
  const std::array<std::uint8_t, kHeaderCopySize>& header() const { return header_; }
  const Catalog& catalog() const { return catalog_; }
  // Catalog rows passed over at open, in catalog order.
  const std::vector<CatalogProblem>& catalog_problems() const { return catalog_problems_; }
  Bytes bytes() const { return bytes_; }
  // See Mapping::release_resident_pages. A file of up to kKeepResidentBytes stays
  // resident: dropping its pages only makes the next reading of the same process
  // fault every one of them in again (an export after a read_table took a quarter
  // longer than with the pages kept); the resident set is bounded either way.
  static constexpr std::uint64_t kKeepResidentBytes = 256u << 20;
  void release_resident_pages() const {
    if (bytes_.size() > kKeepResidentBytes) mapping_->release_resident_pages();
  }

  // What upper layers work out from the file's bytes and keep while it is open; see
  // FileCache. Shared by every reader of the file, from any thread.
  FileCache& cache() const { return cache_; }

 private:
  static Result<std::unique_ptr<Database>> from_mapping(std::unique_ptr<Mapping> mapping);
  Status load_catalog();

  std::unique_ptr<Mapping> mapping_;
  Bytes bytes_;
  std::array<std::uint8_t, kHeaderCopySize> header_{};
  PageLayout layout_;
  std::uint32_t total_pages_ = 0;
  Catalog catalog_;
  std::vector<CatalogProblem> catalog_problems_;
  mutable FileCache cache_;
};

}  // namespace quarrow
