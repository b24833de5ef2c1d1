// Facts from the database header: format, state, times, log generations, the
// writer's OS, and whether the header and its shadow copy agree and verify.
//
// The header page sits at file offset 0 and its shadow copy at file offset
// page_size; both carry the old XOR checksum over the whole page.
#pragma once

#include <cstdint>
#include <string>

#include "format/bytes.h"
#include "format/database_header.h"
#include "error/ese_error.h"
#include "record/log_time.h"

namespace quarrow {

class Database;

struct HeaderFacts {
  std::uint32_t format_version = 0;
  std::uint32_t format_revision = 0;
  std::uint32_t page_size = 0;  // the stored value, 0 read as 4096
  std::uint32_t state = 0;
  std::string state_name;  // "clean shutdown", ...; "unknown" for other codes
  std::uint64_t database_time = 0;
  LogTime creation_time;
  LogTime last_consistent_time;
  LogTime last_attach_time;
  LogTime last_detach_time;
  std::uint32_t log_generation_low = 0;   // lowest log generation required
  std::uint32_t log_generation_high = 0;  // highest log generation required
  std::uint32_t os_major = 0;
  std::uint32_t os_minor = 0;
  std::uint32_t os_build = 0;
  std::uint32_t os_service_pack = 0;
  std::uint32_t file_type = 0;
  std::string file_type_name;  // "database", ...; "unknown" for 0 and other codes
  std::uint32_t repair_count = 0;
  LogTime last_repair_time;
  // The two copies: stored checksums, whether each verifies, and whether the shadow
  // copy is byte-for-byte the same page. A file too short for the shadow copy has
  // shadow_checksum_ok and copies_agree false.
  std::uint32_t stored_checksum = 0;
  std::uint32_t computed_checksum = 0;
  std::uint32_t shadow_stored_checksum = 0;
  std::uint32_t shadow_computed_checksum = 0;
  bool checksum_ok = false;
  bool shadow_checksum_ok = false;
  bool copies_agree = false;
};

// The header page size the file declares (0 read as 4096).
std::uint32_t header_page_size(Bytes file);

// Reads the facts from the whole file's bytes. Fails with InvalidHeader when the file
// cannot hold one header page of the declared size (or that size is not a multiple of 4).
Result<HeaderFacts> read_header_facts(Bytes file);
Result<HeaderFacts> read_header_facts(const Database& db);

// "just created", "dirty shutdown", "clean shutdown", "being converted", "force detach",
// "incremental reseed", "dirty and patched shutdown", "revert in progress"; else "unknown".
const char* database_state_name(std::uint32_t state);
// "database", "streaming file", "log", "checkpoint", "temporary database"; else "unknown".
const char* file_type_name(std::uint32_t file_type);

}  // namespace quarrow
