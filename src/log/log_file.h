// One log file read record by record.
//
// Sector 0 is the header; sectors 1 .. N-2 hold 4096-byte data segments, each with a
// 40-byte header whose checksum is the ECC form of a 4 KiB database page numbered by
// the sector index; the last sector only ever holds the shadow copy of the one before.
// The reader walks the sectors in order; the data ends at the first sector that is not
// a valid segment of this generation, and what that sector is tells why (never
// written, the shadow copy of a partly filled segment, stale data of an earlier
// generation that used the same file, damage). A segment whose checksum is off by one
// bit is located by the ECC, read from a corrected copy in memory and reported; the
// file itself is never written. Records follow each other from byte 40 of a segment;
// a record that does not fit is cut into a FragmentBegin and Fragment pieces at the
// start of the following segments, which the reader joins.
//
// Memory: one segment copy and one joined record at most (kMaxRecordSize), whatever
// the file's size; work: one pass over its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "record/log_time.h"
#include "log/log_header.h"
#include "log/log_types.h"

namespace quarrow::logs {

enum class SegmentStatus : std::uint8_t {
  Valid,      // checksum and position hold
  Corrected,  // one flipped bit, located and corrected in memory
  Shadow,     // the copy of the segment before it: the end of a partial flush
  Stale,      // a valid segment of an earlier generation (a recycled file)
  Zero,       // never written
  Damaged,    // anything else
};
inline constexpr std::size_t kSegmentStatusCount = 6;
const char* segment_status_name(SegmentStatus s);

// A record as it lies in the log: its bytes (joined when it was fragmented), valid
// until the reader's next step.
struct LogRecord {
  LogPosition position;
  std::uint8_t type = 0;
  Bytes bytes;
  LogTime segment_time;  // start time of the segment the record begins in
  bool fragmented = false;
};

// What one pass over a file found.
struct LogFileStats {
  std::array<std::uint32_t, kSegmentStatusCount> segments{};  // sectors 1 .. N-1 by status
  std::uint64_t records = 0;
  std::uint64_t fragmented = 0;
  std::array<std::uint32_t, 256> by_type{};
  std::uint64_t segments_xor = 0;  // XOR of the stored checksums of the data segments
  std::uint32_t data_segments = 0;
  LogPosition first_record;
  LogPosition last_record;
  LogPosition end;               // just after the last record
  LogTime first_time;            // start time of the first and last data segments
  LogTime last_time;
  std::uint32_t corrected_bits = 0;
  std::uint32_t torn_restored = 0;    // damaged segments read from their shadow copy
  std::uint32_t valid_after_end = 0;  // valid segments after the end of data: corruption
  std::uint64_t problems = 0;         // all problems, listed or not
};

class LogFileReader {
 public:
  // At most this many problems are kept per file (all are counted).
  static constexpr std::size_t kMaxProblems = 64;

  // `file` is the whole file; it must stay valid while the reader is used.
  explicit LogFileReader(Bytes file);

  const LogHeader& header() const { return header_; }
  // The next record; false at the end of the data (then stats() is complete).
  bool next(LogRecord& out);
  // Runs to the end, counting.
  void run_to_end();

  const LogFileStats& stats() const { return stats_; }
  const std::vector<LogProblem>& problems() const { return problems_; }
  // Sector statuses are only known up to where the walk has got.
  SegmentStatus classify(std::uint32_t sector, std::uint64_t* stored_checksum = nullptr,
                         std::uint32_t* bit = nullptr) const;

 private:
  bool enter_next_segment();
  void finish_after_end();
  void problem(LogPosition where, std::string text);
  bool emit(LogRecord& out, std::uint16_t at, Bytes bytes, bool fragmented);
  void drop_fragment(const char* why);
  Bytes sector(std::uint32_t i) const;

  Bytes file_;
  LogHeader header_;
  LogFileStats stats_;
  std::vector<LogProblem> problems_;
  std::uint32_t sectors_ = 0;      // sectors in the file (header and last included)
  std::uint32_t next_sector_ = 1;  // next sector to enter
  bool data_ended_ = false;
  bool finished_ = false;
  // The segment being read.
  Bytes segment_;
  std::uint16_t segment_sector_ = 0;
  std::size_t offset_ = 0;
  LogTime segment_time_;
  std::array<std::uint8_t, logfmt::kSectorSize> corrected_{};
  // A fragmented record being joined.
  bool joining_ = false;
  std::uint32_t fragment_total_ = 0;
  LogPosition fragment_position_;
  LogTime fragment_time_;
  std::vector<std::uint8_t> joined_;
};

}  // namespace quarrow::logs
