#include "database/database.h"

#include <algorithm>
#include <limits>

#include "database/traversal.h"
#include "format/space.h"

namespace quarrow {

Result<std::unique_ptr<Database>> Database::open(const std::string& path) {
  Result<std::unique_ptr<Mapping>> mapping = map_file_read_only(path);
  if (!mapping) return std::move(mapping).error();
  return from_mapping(std::move(*mapping));
}

Result<std::unique_ptr<Database>> Database::open_bytes(std::vector<std::uint8_t> bytes) {
  return from_mapping(wrap_buffer(std::move(bytes)));
}

Result<std::unique_ptr<Database>> Database::from_mapping(std::unique_ptr<Mapping> mapping) {
  std::unique_ptr<Database> db(new Database());
  db->mapping_ = std::move(mapping);
  db->bytes_ = db->mapping_->bytes();
  const Bytes file = db->bytes_;
  if (file.size() < kMinimumFileSize) return EseError::invalid_header();
  const std::uint32_t signature = load_u32le(file, kHeaderSignatureOffset);
  if (signature != kDatabaseSignature) return EseError::invalid_signature(signature);
  std::copy_n(file.begin(), kHeaderCopySize, db->header_.begin());
  db->layout_.version = load_u32le(file, kHeaderFormatVersionOffset);
  db->layout_.revision = load_u32le(file, kHeaderFormatRevisionOffset);
  db->layout_.page_size = load_u32le(file, kHeaderPageSizeOffset);
  // A page size of 0 cannot describe any file: reject the header rather than divide by it.
  if (db->layout_.page_size == 0) return EseError::invalid_header();
  const std::uint64_t pages = file.size() / db->layout_.page_size;
  db->total_pages_ = pages < kHeaderPagesBeforeData
                          ? 0
                          : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                pages - kHeaderPagesBeforeData, std::numeric_limits<std::uint32_t>::max()));
  Status st = db->load_catalog();
  if (!st) return std::move(st).error();
  return db;
}

Status Database::load_catalog() {
  // The engine's temporary databases have no catalog: their page 4 is a page of some
  // other object. Read as a catalog it would yield tables that are not there.
  if (auto root = load_page(kCatalogRootPage);
      root && root->header.father_object_id != kCatalogObjectId && root->header.father_object_id != kNoObjectId) {
    catalog_root_owner_ = root->header.father_object_id;
    return Status::success();
  }
  CatalogBuilder builder;
  // A row the reader has no use for, or cannot read, is listed and passed over on every
  // page size: one such row must not keep the rest of the database from opening. Pages
  // of the catalog tree that do not load still fail the open.
  const CatalogRowHandler handler = [&builder](Bytes data, const CatalogRowPlace& place) {
    add_catalog_row(data, place.page, place.tag, builder);
    return Status::success();
  };
  Status st = walk_catalog_tree(*this, kCatalogRootPage, handler);
  if (!st) return st;
  attach_pending_entries(builder);
  catalog_ = std::move(builder.tables);
  catalog_problems_ = std::move(builder.problems);
  return Status::success();
}

Result<std::unique_ptr<Database>> Database::over_pages(const Database& base,
                                                       std::shared_ptr<const PageOverlay> overlay,
                                                       const std::array<std::uint8_t, kHeaderCopySize>& header) {
  // An overlay of another page size or another file would read every page wrongly.
  if (overlay == nullptr || overlay->page_size() != base.page_size() || overlay->base_pages() != base.total_pages()) {
    return EseError::invalid_header();
  }
  std::unique_ptr<Database> db(new Database());
  db->mapping_ = base.mapping_;
  db->bytes_ = base.bytes_;
  db->header_ = header;
  db->layout_ = base.layout_;
  db->total_pages_ = overlay->total_pages();
  // Both header copies carry the replayed header; the rest of each header page is the
  // file's (the engine keeps nothing there).
  const std::size_t header_bytes = std::min<std::size_t>(
      db->bytes_.size(), static_cast<std::size_t>(kHeaderPagesBeforeData) * base.page_size());
  db->replayed_header_pages_.assign(db->bytes_.begin(), db->bytes_.begin() + static_cast<std::ptrdiff_t>(header_bytes));
  for (std::size_t copy = 0; copy + kHeaderCopySize <= header_bytes; copy += base.page_size()) {
    std::copy(header.begin(), header.end(), db->replayed_header_pages_.begin() + static_cast<std::ptrdiff_t>(copy));
  }
  if (overlay->total_pages() > overlay->base_pages()) db->zero_page_.assign(base.page_size(), 0);
  db->overlay_ = std::move(overlay);
  Status st = db->load_catalog();
  if (!st) return std::move(st).error();
  return db;
}

Result<PageView> Database::load_overlay_page(std::uint32_t page_number) const {
  const Bytes page = page_bytes(page_number);
  if (page.empty()) return EseError::invalid_page_number(page_number);
  return parse_page_header(page, layout_);
}

Bytes Database::page_bytes(std::uint32_t page_number) const {
  if (overlay_ != nullptr) {
    const Bytes page = overlay_->page(page_number);
    if (!page.empty() || page_number == 0 || page_number > total_pages_) return page;
    return Bytes(zero_page_.data(), zero_page_.size());
  }
  const std::uint64_t size = layout_.page_size;
  const std::uint64_t start = page_file_offset(page_number, size);
  if (start + size > bytes_.size()) return {};
  return bytes_.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size));
}

Bytes Database::header_pages() const {
  if (overlay_ != nullptr) return Bytes(replayed_header_pages_.data(), replayed_header_pages_.size());
  const std::uint64_t size = std::min<std::uint64_t>(bytes_.size(), std::uint64_t{kHeaderPagesBeforeData} * page_size());
  return bytes_.first(static_cast<std::size_t>(size));
}

std::uint64_t Database::size_bytes() const {
  if (overlay_ == nullptr) return bytes_.size();
  return (std::uint64_t{total_pages_} + kHeaderPagesBeforeData) * page_size();
}

}  // namespace quarrow
