#include "forensic/header.h"

#include <cstdio>
#include <cstring>

#include "database/database.h"
#include "page/checksum.h"

namespace quarrow {

const char* database_state_name(std::uint32_t state) {
  switch (state) {
    case kStateJustCreated: return "just created";
    case kStateDirtyShutdown: return "dirty shutdown";
    case kStateCleanShutdown: return "clean shutdown";
    case kStateBeingConverted: return "being converted";
    case kStateForceDetach: return "force detach";
    case kStateIncrementalReseed: return "incremental reseed";
    case kStateDirtyAndPatchedShutdown: return "dirty and patched shutdown";
    case kStateRevertInProgress: return "revert in progress";
    default: return "unknown";
  }
}

const char* file_type_name(std::uint32_t file_type) {
  switch (file_type) {
    case kFileTypeDatabase: return "database";
    case kFileTypeStreamingFile: return "streaming file";
    case kFileTypeLog: return "log";
    case kFileTypeCheckpoint: return "checkpoint";
    case kFileTypeTempDatabase: return "temporary database";
    default: return "unknown";
  }
}

std::uint32_t header_page_size(Bytes file) {
  const std::uint32_t stored = read_u32le(file, kHeaderPageSizeOffset);
  return stored == 0 ? kDefaultHeaderPageSize : stored;
}

Result<HeaderFacts> read_header_facts(Bytes file) {
  const std::uint64_t page_size = header_page_size(file);
  if (page_size % 4 != 0 || page_size < kHeaderFileTypeOffset + 1 || page_size > file.size()) {
    return EseError::invalid_header();
  }
  const Bytes h = file.first(static_cast<std::size_t>(page_size));
  HeaderFacts f;
  f.format_version = load_u32le(h, kHeaderFormatVersionOffset);
  f.format_revision = load_u32le(h, kHeaderFormatRevisionOffset);
  f.page_size = static_cast<std::uint32_t>(page_size);
  f.state = load_u32le(h, kHeaderStateOffset);
  f.state_name = database_state_name(f.state);
  f.database_time = load_u64le(h, kHeaderDatabaseTimeOffset);
  f.creation_time = parse_log_time(h.subspan(kHeaderCreationTimeOffset, kLogTimeSize));
  f.last_consistent_time = parse_log_time(h.subspan(kHeaderLastConsistentTimeOffset, kLogTimeSize));
  f.last_attach_time = parse_log_time(h.subspan(kHeaderLastAttachTimeOffset, kLogTimeSize));
  f.last_detach_time = parse_log_time(h.subspan(kHeaderLastDetachTimeOffset, kLogTimeSize));
  f.log_generation_low = load_u32le(h, kHeaderLogGenerationLowOffset);
  f.log_generation_high = load_u32le(h, kHeaderLogGenerationHighOffset);
  f.os_major = load_u32le(h, kHeaderOsVersionOffset);
  f.os_minor = load_u32le(h, kHeaderOsMinorOffset);
  f.os_build = load_u32le(h, kHeaderOsBuildOffset);
  f.os_service_pack = load_u32le(h, kHeaderOsServicePackOffset);
  f.file_type = h[kHeaderFileTypeOffset];
  f.file_type_name = file_type_name(f.file_type);
  f.repair_count = load_u32le(h, kHeaderRepairCountOffset);
  f.last_repair_time = parse_log_time(h.subspan(kHeaderLastRepairTimeOffset, kLogTimeSize));
  f.stored_checksum = load_u32le(h, kHeaderChecksumOffset);
  f.computed_checksum = xor_checksum(h);
  f.checksum_ok = f.stored_checksum == f.computed_checksum;
  if (file.size() / page_size >= 2) {
    const Bytes s = file.subspan(static_cast<std::size_t>(page_size), static_cast<std::size_t>(page_size));
    f.shadow_stored_checksum = load_u32le(s, kHeaderChecksumOffset);
    f.shadow_computed_checksum = xor_checksum(s);
    f.shadow_checksum_ok = f.shadow_stored_checksum == f.shadow_computed_checksum;
    f.copies_agree = std::memcmp(h.data(), s.data(), h.size()) == 0;
  }
  return f;
}

Result<HeaderFacts> read_header_facts(const Database& db) { return read_header_facts(db.header_pages()); }

}  // namespace quarrow
