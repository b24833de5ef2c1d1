// A folder of transaction logs: every log, reserve and next log file with its header
// facts and what a pass over its segments and records found, the checkpoint file, and
// how the generations chain. Opening reads each file once, one at a time (memory does
// not grow with the files' sizes); LogStream then reads the records of every usable log
// in generation order, again one file at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/mapping.h"
#include "error/ese_error.h"
#include "log/log_file.h"
#include "log/log_header.h"

namespace quarrow::logs {

enum class FileRole : std::uint8_t { Current, Older, Next, Reserve, Other };
const char* file_role_name(FileRole r);
const char* header_kind_name(HeaderKind k);

struct LogFileInfo {
  std::string path;
  std::string name;
  FileRole role = FileRole::Other;
  std::uint64_t size = 0;
  std::string open_error;  // set when the file could not be read
  LogHeader header;
  LogFileStats stats;
  std::vector<LogProblem> problems;  // header, segments, records (at most kMaxProblems)
  bool usable() const { return open_error.empty() && header.kind == HeaderKind::Log; }
};

struct ChainLink {
  std::uint32_t from = 0;  // generation N-1
  std::uint32_t to = 0;    // generation N
  bool time_ok = false;    // N's previous-generation time equals N-1's creation time
  bool signature_ok = false;
  std::optional<bool> segments_ok;  // N's XOR of N-1's segment checksums (newer headers)
};

struct GenerationGap {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

class LogFolder {
 public:
  // `path` is a folder (every *.log and *.jrs in it, and the *.chk) or a single file.
  // Fails when the path itself cannot be listed or read, and when it holds no log:
  // a single file that is no log (a database, a text file), a folder with no log file.
  static Result<LogFolder> open(const std::string& path);
  // A folder made of bytes already in memory (tests, fuzzing): name -> bytes.
  static LogFolder from_memory(std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files);

  const std::string& path() const { return path_; }
  const std::vector<LogFileInfo>& files() const { return files_; }
  // Indexes into files() of the usable logs in generation order (name breaks ties).
  const std::vector<std::size_t>& stream_order() const { return order_; }
  const std::optional<Checkpoint>& checkpoint() const { return checkpoint_; }
  const std::string& checkpoint_name() const { return checkpoint_name_; }
  const std::vector<ChainLink>& chain() const { return chain_; }
  const std::vector<GenerationGap>& gaps() const { return gaps_; }
  const std::vector<LogProblem>& problems() const { return problems_; }  // folder-level
  // Whether any header, segment or checkpoint checksum failed (corrected bits included).
  bool checksum_failed() const;
  // Whether a checksum failed or a file could not be read: what a reading of these
  // logs must report as its failure.
  bool read_failed() const;
  std::uint64_t records() const;
  std::optional<std::uint32_t> lowest_generation() const;
  std::optional<std::uint32_t> highest_generation() const;
  // The usable log of a generation, if present.
  const LogFileInfo* generation(std::uint32_t g) const;

  // The bytes of a file: mapped from disk, or the in-memory copy.
  Result<std::unique_ptr<Mapping>> load(std::size_t file_index) const;

 private:
  static Result<LogFolder> open_listed(const std::string& path);
  std::optional<EseError> refuse_unless_logs() const;
  void scan_file(LogFileInfo& info, Bytes bytes);
  void finish();

  std::string path_;
  bool single_file_ = false;
  std::vector<LogFileInfo> files_;
  std::vector<std::vector<std::uint8_t>> memory_;  // from_memory: per file
  std::vector<std::size_t> order_;
  std::optional<Checkpoint> checkpoint_;
  std::string checkpoint_name_;
  std::vector<ChainLink> chain_;
  std::vector<GenerationGap> gaps_;
  std::vector<LogProblem> problems_;
};

// Every record of every usable log of a folder, in stream order.
class LogStream {
 public:
  explicit LogStream(const LogFolder& folder);
  // False at the end. A file that cannot be read again is skipped, and said so in
  // problems().
  bool next(LogRecord& out);
  // The file the last record came from.
  const LogFileInfo& file() const { return *current_file_; }
  // What the stream could not read or found damaged, one line each, file name first:
  // the files it leaves out (unreadable, no log, a damaged header), the checkpoint's
  // problems, and each file's problems (damaged segments, dropped records) once its
  // reading ends. Complete when next() has returned false.
  const std::vector<std::string>& problems() const { return problems_; }
  // Whether the stream failed beyond what the folder's scan found (LogFolder::read_failed):
  // a file that could not be read again, or a failure a caller added.
  bool failed() const { return failed_; }
  void add_failure(std::string line) {
    problems_.push_back(std::move(line));
    failed_ = true;
  }

 private:
  void file_ended();

  std::vector<std::string> problems_;
  bool failed_ = false;
  const LogFolder* folder_;
  std::size_t next_file_ = 0;
  const LogFileInfo* current_file_ = nullptr;
  std::unique_ptr<Mapping> mapping_;
  std::unique_ptr<LogFileReader> reader_;
};

}  // namespace quarrow::logs
