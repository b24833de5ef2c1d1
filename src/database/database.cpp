#include "database/database.h"

#include <algorithm>
#include <limits>

#include "database/traversal.h"

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

Result<PageView> Database::load_page(std::uint32_t page_number) const {
  const std::uint64_t size = layout_.page_size;
  const std::uint64_t start = page_file_offset(page_number, size);
  const std::uint64_t end = start + size;
  if (end > bytes_.size()) return EseError::invalid_page_number(page_number);
  return parse_page_header(bytes_.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size)), layout_);
}

}  // namespace quarrow
