// Whole-file integrity check: both header copies and every page's checksum.
//
// Page p lies at file offset (p + 1) * page_size, so the header (file offset 0) is
// page -1 in that numbering and its shadow copy (file offset page_size) is page 0.
// A page whose bytes are all zero was never written ("uninitialised") and is not a
// problem. A page's problem is a checksum mismatch; or a page number mismatch when the
// bytes verify but name another page of the file (a page written at the wrong place:
// a number outside the file means the bytes are damaged, a checksum mismatch); or
// "truncated" for a last page that the file holds only in part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "database/space.h"
#include "format/bytes.h"
#include "error/ese_error.h"

namespace quarrow {

class Database;

inline constexpr const char* kChecksumMismatch = "checksum mismatch";
inline constexpr const char* kPageNumberMismatch = "page number mismatch";
inline constexpr const char* kTruncated = "truncated";
inline constexpr std::int64_t kHeaderPage = -1;
inline constexpr std::int64_t kShadowHeaderPage = 0;

struct PageProblem {
  std::int64_t page = 0;
  const char* problem = kChecksumMismatch;
  // Old form: the 32-bit values. New form: the 64-bit values of the first block that
  // does not match ((ecc << 32) | (col ^ page number)).
  std::uint64_t stored = 0;
  std::uint64_t computed = 0;
  // For one flipped bit the code can locate: its offset in the page, in bits.
  std::optional<std::uint32_t> bit;
  // Truncated: the bytes of the page the file holds (stored and computed are 0).
  std::optional<std::uint64_t> bytes_present;
};

struct VerifyReport {
  std::vector<PageProblem> problems;  // in page order
  std::uint64_t pages_checked = 0;    // data pages and header copies
  std::uint64_t uninitialised = 0;    // all-zero data pages
  // Set when the database's space tree owns pages past the end of the file: a copy
  // cut short, whose missing pages no checksum can show.
  std::optional<OwnedSpace> truncation;
  // Every data page the file stores carries a checksum of 0 (the engine's temporary
  // databases are written so): the pages cannot be checked, and are not listed.
  bool no_checksums = false;
};

// True for the page sizes whose checksums can be computed: 2, 4, 8, 16 and 32 KiB.
bool checksummable_page_size(std::uint32_t page_size);

// Checks one data page (page_size bytes). Nothing when it verifies or is all zero.
// `last_page`: the file's last page number; a page naming a number above it has no
// page number mismatch, only a checksum mismatch.
std::optional<PageProblem> verify_page(Bytes page, std::uint32_t page_number,
                                       std::uint32_t last_page = 0xFFFFFFFFu);

// Checks both header copies and every whole data page of the file, and reports a
// partial last page. Fails with InvalidHeader when the page size is not one whose
// checksums can be computed.
Result<VerifyReport> verify_file(Bytes file, std::uint32_t page_size);
// The same on a file that is only mapped, not opened as a database: a file whose
// catalog no longer loads can still be checked. Page size from the header (0: 4096).
// A file that is no database fails as opening it does: InvalidHeader when it is too
// short for a header, InvalidSignature without the signature.
Result<VerifyReport> verify_path(const std::string& path);
// The same on an opened database, as it reads its pages (for a replayed database, the
// replayed header and pages); drops pages from the resident set as it goes, so memory
// stays flat on files of any size.
Result<VerifyReport> verify_database(const Database& db);
// Sets report.truncation when the database owns pages past the end of its file.
void note_truncation(const Database& db, VerifyReport& report);

}  // namespace quarrow
