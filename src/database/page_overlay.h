// Pages as a log replay leaves them, over the file's own bytes: copy-on-write page
// images kept in memory, the file never written.
//
// A page the overlay has not written reads as the file holds it; the first write of a
// page copies the file's bytes (or starts from zeros for a page past the file's end,
// which the logs created), and every later read of that page sees the copy. Memory is
// the pages written plus a constant, whatever the file's size.
//
// Page numbering is the database's: page N starts at file offset (N + 1) * page_size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "format/bytes.h"

namespace quarrow {

class PageOverlay {
 public:
  // `file` is the whole database file (header pages included), kept by the caller for
  // the overlay's lifetime; `base_pages` is how many data pages it holds, pages 1 to
  // base_pages (Database::total_pages()).
  PageOverlay(Bytes file, std::uint32_t page_size, std::uint32_t base_pages);

  // The page as the overlay holds it: its own image when written, else the file's
  // bytes, else an empty view (past the file's end and never created).
  Bytes page(std::uint32_t page_number) const;
  // A writable image of the page, copied from the file at the first write (zeros past
  // the file's end). The view stays valid until the overlay is destroyed.
  std::span<std::uint8_t> write(std::uint32_t page_number);

  // Pages the logs added past the file's end (the database grew): they read as zeros
  // until written. Never shrinks.
  void extend_to(std::uint32_t total_pages) { total_pages_ = total_pages > total_pages_ ? total_pages : total_pages_; }

  bool written(std::uint32_t page_number) const { return pages_.count(page_number) != 0; }
  // The last data page readable through the overlay: the file's, or a later one when
  // the logs created pages past its end.
  std::uint32_t total_pages() const { return total_pages_; }
  std::uint32_t base_pages() const { return base_pages_; }
  std::uint32_t page_size() const { return page_size_; }
  std::size_t written_pages() const { return pages_.size(); }
  // The written page numbers, ascending.
  std::vector<std::uint32_t> written_page_numbers() const;

 private:
  Bytes file_;
  std::uint32_t page_size_;
  std::uint32_t base_pages_;
  std::uint32_t total_pages_;
  // One allocation per page: views handed out stay put while other pages are added.
  std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> pages_;
};

}  // namespace quarrow
