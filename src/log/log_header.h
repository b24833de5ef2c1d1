// The log file header (sector 0 of every log file) and the checkpoint file: the facts
// they state and whether their checksums hold. Both use the old XOR checksum form over
// the whole 4096-byte structure, as the database header does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/log_time.h"
#include "log/log_types.h"

namespace quarrow::logs {

// One attached database as a log header or the checkpoint lists it.
struct AttachedDatabase {
  std::uint8_t dbid = 0;
  std::uint8_t flags = 0;
  std::uint64_t dbtime = 0;
  std::uint32_t last_objid = 0;
  std::uint32_t max_pages = 0;
  LogPosition attached;
  LogPosition consistent;
  Signature signature{};
  std::string path;
};

// Reads the list at `offset` (at most `size` bytes) up to the first entry with dbid 0.
std::vector<AttachedDatabase> read_attachments(Bytes b, std::size_t offset, std::size_t size);

enum class HeaderKind : std::uint8_t {
  Log,          // a log of the segment format with a valid header checksum
  Legacy,       // a valid header of the older sector format (version 7): facts only
  Unused,       // the first 4096 bytes are zero: a reserve or next log never written
  BadChecksum,  // not usable: the engine refuses a log whose header checksum is wrong
  TooShort,     // shorter than one header sector
  NotLog,       // a valid XOR checksum over a header of another kind (a database's own)
};

struct LogHeader {
  HeaderKind kind = HeaderKind::TooShort;
  std::uint32_t stored_checksum = 0;
  std::uint32_t computed_checksum = 0;
  std::uint32_t generation = 0;
  std::uint16_t sector_size = 0;
  std::uint16_t header_sectors = 0;
  std::uint16_t file_sectors = 0;
  std::uint32_t page_size = 0;   // 0 stored means 4096
  std::uint64_t create_time_raw = 0;
  std::uint64_t previous_time_raw = 0;
  LogTime create_time;
  LogTime previous_time;
  std::uint32_t major = 0, minor = 0, update_major = 0, update_minor = 0;
  Signature signature{};
  std::uint8_t flags = 0;
  LogPosition checkpoint;
  std::uint64_t previous_segments_xor = 0;
  std::uint32_t engine_version = 0;
  std::uint32_t file_type = 0;
  std::string system_path;
  std::string log_path;
  std::vector<AttachedDatabase> attachments;

  std::string version_text() const;  // "8.4000.5.16"
  // Whether the header is a log's, usable or not: a known format version, or all zero.
  // A damaged log keeps its version; a database or a text file has none of these.
  bool looks_like_log() const;
};

// Reads the header of a log file (any prefix of the file; 4096 bytes are needed).
LogHeader read_log_header(Bytes file);

struct CheckpointCopy {
  bool checksum_ok = false;
  std::uint32_t stored_checksum = 0;
  std::uint32_t computed_checksum = 0;
};

struct Checkpoint {
  bool readable = false;  // at least one copy present with a valid checksum
  CheckpointCopy copies[2];
  bool copies_agree = false;
  LogPosition checkpoint;     // where redo starts
  LogPosition full_backup;
  LogPosition consistent;     // 0 in older writers: take the checkpoint
  Signature signature{};
  std::uint32_t file_type = 0;
  std::uint8_t version_flags = 0;
  std::vector<AttachedDatabase> attachments;  // only when version_flags has bit 0x01
  std::vector<LogProblem> problems;
};

Checkpoint read_checkpoint(Bytes file);

}  // namespace quarrow::logs
