// An opened database: the read-only bytes, the 660-byte header copy, the page size,
// the number of data pages and the catalog. Immutable after opening.
//
// File layout: a sequence of pages of page_size bytes; the first holds the header;
// page number N starts at file offset (N + 1) * page_size, so page 0 is the file's
// second page and is never used by the engine.
//
// Pages come from one of two sources: the file's own bytes, or a PageOverlay over
// them (the pages as a replay of the transaction logs left them, with the header the
// replay left). Every reader goes through load_page and header_pages, so it reads
// whichever source the database was opened with; the file is never written.
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
#include "database/page_overlay.h"
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

  // The database as `overlay` holds its pages over `base`'s file, with `header` (the
  // 660 bytes the replay left) as its header. The file's mapping is shared with `base`,
  // which may be closed first; the catalog is loaded again from the overlay's pages, so
  // tables the logs created are in it. The overlay must be made over `base`'s bytes
  // with its page size, and is not written any more.
  static Result<std::unique_ptr<Database>> over_pages(const Database& base,
                                                      std::shared_ptr<const PageOverlay> overlay,
                                                      const std::array<std::uint8_t, kHeaderCopySize>& header);

  Result<PageView> load_page(std::uint32_t page_number) const {
    if (overlay_ != nullptr) [[unlikely]] return load_overlay_page(page_number);
    return load_file_page(page_number);
  }
  // The page's bytes as this database reads them (empty past the last page; zeros for a
  // page the logs added to a replayed database without writing it). Unlike
  // load_page it does not parse the page header: for checksums and raw scans.
  Bytes page_bytes(std::uint32_t page_number) const;

  // Whether pages come through an overlay (the database was opened with its logs).
  bool replayed() const { return overlay_ != nullptr; }
  const PageOverlay* overlay() const { return overlay_.get(); }
  // The file's two header pages as this database reads them: the file's own, or for a
  // replayed database the file's with the replayed header in both copies. Header facts
  // and the header's log fields are read from here.
  Bytes header_pages() const;
  // The database's size in bytes as read: the file's, or for a replayed database the
  // header pages and every page the overlay reads (the logs may add pages).
  std::uint64_t size_bytes() const;

  std::uint32_t page_size() const { return layout_.page_size; }
  std::uint32_t total_pages() const { return total_pages_; }
  std::uint32_t format_version() const { return layout_.version; }
  std::uint32_t format_revision() const { return layout_.revision; }
  const PageLayout& layout() const { return layout_; }
  const std::array<std::uint8_t, kHeaderCopySize>& header() const { return header_; }
  const Catalog& catalog() const { return catalog_; }
  // Not 0 when the database has no catalog: the object that the catalog's root page
  // belongs to instead (an engine temporary database). The catalog is empty then.
  std::uint32_t catalog_root_owner() const { return catalog_root_owner_; }
  // Catalog rows passed over at open, in catalog order.
  const std::vector<CatalogProblem>& catalog_problems() const { return catalog_problems_; }
  // The file's own bytes, as stored (never the overlay's pages): for what reads the
  // evidence file itself, such as its checksums.
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
  Result<PageView> load_file_page(std::uint32_t page_number) const {
    const std::uint64_t size = layout_.page_size;
    const std::uint64_t start = page_file_offset(page_number, size);
    if (start + size > bytes_.size()) return EseError::invalid_page_number(page_number);
    return parse_page_header(bytes_.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size)),
                             layout_);
  }
  Result<PageView> load_overlay_page(std::uint32_t page_number) const;

  std::shared_ptr<Mapping> mapping_;
  Bytes bytes_;
  // Set for a replayed database: its pages, and its header pages (2 * page_size).
  std::shared_ptr<const PageOverlay> overlay_;
  std::vector<std::uint8_t> replayed_header_pages_;
  // What a page the logs added past the file's end but never wrote reads as: zeros, as
  // the engine's extension of the file leaves it (empty when the logs added none).
  std::vector<std::uint8_t> zero_page_;
  std::array<std::uint8_t, kHeaderCopySize> header_{};
  PageLayout layout_;
  std::uint32_t total_pages_ = 0;
  Catalog catalog_;
  std::uint32_t catalog_root_owner_ = 0;
  std::vector<CatalogProblem> catalog_problems_;
  mutable FileCache cache_;
};

}  // namespace quarrow
