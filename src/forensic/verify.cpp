#include "forensic/verify.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "database/database.h"
#include "database/mapping.h"
#include "database/space.h"
#include "forensic/header.h"
#include "page/checksum.h"
#include "format/database_header.h"

namespace quarrow {
namespace {

// Dropping resident pages every so many bytes keeps the resident set bounded.
constexpr std::uint64_t kReleaseEvery = kPageReleaseInterval;

bool all_zero(Bytes page) {
  // Only called for pages that fail to verify and start with eight zero bytes.
  const std::uint8_t* p = page.data();
  std::uint64_t any = 0;
  for (std::size_t i = 0; i + 32 <= page.size(); i += 32) {
    std::uint64_t a, b, c, d;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + i + 8, 8);
    std::memcpy(&c, p + i + 16, 8);
    std::memcpy(&d, p + i + 24, 8);
    any |= a | b | c | d;
  }
  return any == 0;
}

// A page number that some page of the file carries.
bool names_a_page(std::uint32_t number, std::uint32_t last_page) { return number >= 1 && number <= last_page; }

std::optional<PageProblem> verify_old_form(Bytes page, std::uint32_t page_number, std::uint32_t last_page) {
  const std::uint32_t stored = load_u32le(page, 0);
  const std::uint32_t computed = xor_checksum(page);
  const std::uint32_t named = load_u32le(page, kPageNumberOffset);
  if (stored == computed) {
    if (named == page_number) return std::nullopt;
    if (names_a_page(named, last_page)) {
      return PageProblem{page_number, kPageNumberMismatch, stored, computed, std::nullopt, std::nullopt};
    }
  }
  return PageProblem{page_number, kChecksumMismatch, stored, computed, std::nullopt, std::nullopt};
}

std::uint64_t stored_block_value(Bytes page, std::size_t block) {
  return load_u64le(page, block_checksum_offset(block));
}

std::optional<PageProblem> verify_new_form(Bytes page, std::uint32_t page_number, std::uint32_t last_page) {
  const std::size_t blocks = page.size() > kLargestSingleBlockPage ? kChecksumBlocks : 1;
  const std::size_t block_size = page.size() / blocks;
  for (std::size_t k = 0; k < blocks; ++k) {
    const Bytes block = page.subspan(k * block_size, block_size);
    const std::uint64_t stored = stored_block_value(page, k);
    const std::uint64_t computed = ecc_checksum(block, page_number, k == 0);
    if (stored == computed) continue;
    PageProblem problem{page_number, kChecksumMismatch, stored, computed, std::nullopt, std::nullopt};
    // The code part matches and only the page number mixed into the XOR part differs:
    // intact bytes of some other page, if the number mixed in is one of the file's.
    // Otherwise a damaged XOR part explains it better.
    if ((stored >> 32) == (computed >> 32)) {
      const auto named = static_cast<std::uint32_t>(stored ^ computed) ^ page_number;
      if (names_a_page(named, last_page)) {
        problem.problem = kPageNumberMismatch;
        return problem;
      }
    }
    if (std::optional<std::uint32_t> bit = locate_flipped_bit(stored, computed, block_size)) {
      problem.bit = static_cast<std::uint32_t>(k * block_size * 8) + *bit;
    }
    return problem;
  }
  return std::nullopt;
}

std::optional<PageProblem> verify_header_copy(Bytes page, std::int64_t page_number) {
  const std::uint32_t stored = load_u32le(page, 0);
  const std::uint32_t computed = xor_checksum(page);
  if (stored == computed) return std::nullopt;
  return PageProblem{page_number, kChecksumMismatch, stored, computed, std::nullopt, std::nullopt};
}

// The pages of a database as one reader sees them: `whole_pages` slots (the two header
// copies, then page 1 on), `partial` bytes of a last page cut short, and each slot's bytes.
struct PageSlots {
  std::uint64_t whole_pages = 0;
  std::uint64_t partial = 0;
  std::function<Bytes(std::uint64_t slot)> at;
};

Result<VerifyReport> verify_slots(const PageSlots& slots, std::uint32_t page_size,
                                  const std::function<void()>& release) {
  if (!checksummable_page_size(page_size)) return EseError::invalid_header();
  VerifyReport report;
  const std::uint64_t whole_pages = slots.whole_pages;
  const std::uint64_t last = whole_pages < 2 ? 0 : whole_pages - 2;
  const auto last_page = static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFFu));
  std::uint64_t stored_pages = 0;    // data pages with any byte set
  std::uint64_t zero_checksums = 0;  // of those, the ones failing with a stored checksum of 0
  for (std::uint64_t slot = 0; slot < whole_pages; ++slot) {
    const Bytes page = slots.at(slot);
    const std::int64_t number = static_cast<std::int64_t>(slot) - 1;
    std::optional<PageProblem> problem;
    ++report.pages_checked;
    if (slot < 2) {
      problem = verify_header_copy(page, number);
    } else if (number > 0xFFFFFFFFll) {
      break;  // beyond what a 32-bit page number can name
    } else {
      problem = verify_page(page, static_cast<std::uint32_t>(number), last_page);
      if (!problem && load_u64le(page, 0) == 0 && all_zero(page)) {
        ++report.uninitialised;
      } else {
        ++stored_pages;
        if (problem && problem->problem == kChecksumMismatch && problem->stored == 0) ++zero_checksums;
      }
    }
    if (problem) report.problems.push_back(*problem);
    if (release && (slot + 1) * page_size % kReleaseEvery < page_size) release();
  }
  // The engine writes its temporary databases without page checksums: every page it
  // stored carries 0. That is one fact about the file, not damage to each page.
  if (stored_pages != 0 && zero_checksums == stored_pages) {
    report.no_checksums = true;
    std::erase_if(report.problems, [](const PageProblem& p) { return p.page > kShadowHeaderPage; });
  }
  // A copy cut short: its last page is there only in part and cannot be checked.
  if (slots.partial != 0) {
    PageProblem problem;
    problem.page = static_cast<std::int64_t>(whole_pages) - 1;
    problem.problem = kTruncated;
    problem.bytes_present = slots.partial;
    report.problems.push_back(problem);
  }
  return report;
}

Result<VerifyReport> verify_pages(Bytes file, std::uint32_t page_size, const std::function<void()>& release) {
  if (!checksummable_page_size(page_size)) return EseError::invalid_header();
  PageSlots slots{file.size() / page_size, file.size() % page_size, [file, page_size](std::uint64_t slot) {
                    return file.subspan(static_cast<std::size_t>(slot * page_size), page_size);
                  }};
  return verify_slots(slots, page_size, release);
}

// A replayed database: the header copies as the replay left them, and every page as the
// overlay reads it (pages the logs added past the file's end included), each checked as
// it stands there.
Result<VerifyReport> verify_replayed(const Database& db) {
  const std::uint32_t page_size = db.page_size();
  const Bytes header = db.header_pages();
  PageSlots slots{kHeaderPagesBeforeData + db.total_pages(), 0, [&db, header, page_size](std::uint64_t slot) {
                    if (slot < kHeaderPagesBeforeData) {
                      return header.subspan(static_cast<std::size_t>(slot * page_size), page_size);
                    }
                    return db.page_bytes(static_cast<std::uint32_t>(slot - 1));
                  }};
  return verify_slots(slots, page_size, [&db] { db.release_resident_pages(); });
}

}  // namespace

bool checksummable_page_size(std::uint32_t page_size) {
  return page_size >= kSmallestPageSize && page_size <= kLargestPageSize && (page_size & (page_size - 1)) == 0;
}

std::optional<PageProblem> verify_page(Bytes page, std::uint32_t page_number, std::uint32_t last_page) {
  const bool new_form = page.size() > kLargestSingleBlockPage ||
                        (load_u32le(page, kPageFlagsOffset) & kPageNewChecksumFormat) != 0;
  std::optional<PageProblem> problem =
      new_form ? verify_new_form(page, page_number, last_page) : verify_old_form(page, page_number, last_page);
  if (problem && load_u64le(page, 0) == 0 && all_zero(page)) return std::nullopt;
  return problem;
}

void note_truncation(const Database& db, VerifyReport& report) {
  const auto space = owned_space(db);
  if (space && space->truncated()) report.truncation = space;
}

Result<VerifyReport> verify_file(Bytes file, std::uint32_t page_size) {
  return verify_pages(file, page_size, nullptr);
}

Result<VerifyReport> verify_path(const std::string& path) {
  Result<std::unique_ptr<Mapping>> mapping = map_file_read_only(path);
  if (!mapping) return std::move(mapping).error();
  const Mapping& m = **mapping;
  // What opening checks first: without them any file would "verify" (a text file has
  // no whole page, an empty file no page at all).
  if (m.bytes().size() < kMinimumFileSize) return EseError::invalid_header();
  const std::uint32_t signature = load_u32le(m.bytes(), kHeaderSignatureOffset);
  if (signature != kDatabaseSignature) return EseError::invalid_signature(signature);
  Result<VerifyReport> report =
      verify_pages(m.bytes(), header_page_size(m.bytes()), [&m] { m.release_resident_pages(); });
  m.release_resident_pages();
  // The space tree is read from the opened database; a file whose catalog no longer
  // loads is still checked, without it.
  if (report) {
    if (auto db = Database::open(path)) note_truncation(**db, *report);
  }
  return report;
}

Result<VerifyReport> verify_database(const Database& db) {
  Result<VerifyReport> report = db.replayed() ? verify_replayed(db)
                                              : verify_pages(db.bytes(), db.page_size(),
                                                             [&db] { db.release_resident_pages(); });
  db.release_resident_pages();
  if (report) note_truncation(db, *report);
  return report;
}

}  // namespace quarrow
