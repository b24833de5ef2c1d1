#include "database/page_overlay.h"

#include <algorithm>
#include <cstring>

#include "format/database_header.h"

namespace quarrow {

PageOverlay::PageOverlay(Bytes file, std::uint32_t page_size, std::uint32_t base_pages)
    : file_(file), page_size_(page_size), base_pages_(base_pages), total_pages_(base_pages) {}

Bytes PageOverlay::page(std::uint32_t page_number) const {
  if (auto it = pages_.find(page_number); it != pages_.end()) return Bytes(it->second.get(), page_size_);
  // The file's data pages are 1..base_pages (page 0 is the header's shadow copy).
  if (page_number > base_pages_) return {};
  const std::uint64_t start = page_file_offset(page_number, page_size_);
  if (start + page_size_ > file_.size()) return {};
  return file_.subspan(static_cast<std::size_t>(start), page_size_);
}

std::span<std::uint8_t> PageOverlay::write(std::uint32_t page_number) {
  auto it = pages_.find(page_number);
  if (it == pages_.end()) {
    auto image = std::make_unique<std::uint8_t[]>(page_size_);
    const Bytes current = page(page_number);
    if (current.empty()) {
      std::memset(image.get(), 0, page_size_);
    } else {
      std::memcpy(image.get(), current.data(), page_size_);
    }
    it = pages_.emplace(page_number, std::move(image)).first;
    // A page past the file's end extends the database up to it.
    if (page_number > total_pages_) total_pages_ = page_number;
  }
  return {it->second.get(), page_size_};
}

std::vector<std::uint32_t> PageOverlay::written_page_numbers() const {
  std::vector<std::uint32_t> out;
  out.reserve(pages_.size());
  for (const auto& entry : pages_) out.push_back(entry.first);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace quarrow
