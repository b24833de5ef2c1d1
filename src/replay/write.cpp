#include "replay/write.h"

#include <algorithm>
#include <vector>

#include "page/checksum.h"
#include "format/page.h"
#include "format/redo.h"

namespace quarrow::replay {

void seal_page(std::span<std::uint8_t> page, std::uint32_t page_number) {
  std::uint32_t flags = load_u32le(page, kPageFlagsOffset);
  flags |= redo::kPageNewChecksum;
  // The flush type is the buffer manager's and cannot be replayed: a page keeps the
  // one it had, a new page gets the first.
  if ((flags & redo::kPageFlushTypeMask) == 0) flags |= redo::kPageFlushTypeFirst;
  for (int i = 0; i < 4; ++i) page[kPageFlagsOffset + i] = static_cast<std::uint8_t>(flags >> (8 * i));
  auto store = [&](std::size_t at, std::uint64_t sum) {
    for (int i = 0; i < 8; ++i) page[at + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  };
  if (!is_large_page(page.size())) {
    store(kPageChecksumOffset, ecc_checksum(Bytes(page.data(), page.size()), page_number, true));
    return;
  }
  // Large pages: the page number in the extended header (new pages have none yet), the
  // checksums of blocks 1..3 beside it, then block 0's over all of that.
  for (int i = 0; i < 4; ++i) page[kExtendedHeaderPageNumberOffset + i] = static_cast<std::uint8_t>(page_number >> (8 * i));
  const std::size_t block = page.size() / kChecksumBlocks;
  for (std::size_t k = 1; k < kChecksumBlocks; ++k) {
    store(kBlockChecksumOffset + sizeof(std::uint64_t) * (k - 1),
          ecc_checksum(Bytes(page.data() + k * block, block), page_number, false));
  }
  store(kPageChecksumOffset, ecc_checksum(Bytes(page.data(), block), page_number, true));
}

Status write_replayed(const Database& db, const ReplayOutcome& outcome, const std::function<Status(Bytes)>& write) {
  const std::uint32_t size = db.page_size();
  const Bytes file = db.bytes();
  std::vector<std::uint8_t> page(size);
  // Both header copies: the recovered header over the rest of the file's header page.
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  std::copy_n(file.begin(), std::min<std::size_t>(size, file.size()), page.begin());
  std::copy(outcome.header.begin(), outcome.header.end(), page.begin());
  for (int copy = 0; copy < 2; ++copy) {
    if (Status st = write(Bytes(page.data(), page.size())); !st) return st;
  }
  const PageOverlay& overlay = *outcome.overlay;
  const std::uint32_t last = std::max(overlay.total_pages(), db.total_pages());
  for (std::uint32_t n = 1; n <= last; ++n) {
    const Bytes current = overlay.page(n);
    if (current.size() == size) {
      std::copy(current.begin(), current.end(), page.begin());
      if (overlay.written(n)) seal_page(page, n);
    } else {
      std::fill(page.begin(), page.end(), std::uint8_t{0});
    }
    if (Status st = write(Bytes(page.data(), page.size())); !st) return st;
  }
  return {};
}

}  // namespace quarrow::replay
