#include "log/log_folder.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <system_error>

namespace quarrow::logs {

using namespace logfmt;

namespace {

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool ends_with(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// What a file name says it is: <base>.log, <base>NNNNN.log, <base>tmp.log, *.jrs. The
// base names in `bases` (the stems of the other .log files and of the checkpoint) tell
// an older generation from a current log whose base itself ends in hex letters (edb.log
// beside edb00005.log).
FileRole role_of(const std::string& name, const std::vector<std::string>& bases) {
  const std::string n = lower(name);
  if (ends_with(n, kReserveExtension)) return FileRole::Reserve;
  if (!ends_with(n, kLogExtension)) return FileRole::Other;
  const std::string stem = n.substr(0, n.size() - std::string_view(kLogExtension).size());
  if (ends_with(stem, "tmp")) return FileRole::Next;
  const auto hex_tail = [](std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return is_hex(c); });
  };
  for (const std::string& base : bases) {
    if (stem.size() >= base.size() + 5 && stem.compare(0, base.size(), base) == 0 &&
        hex_tail(std::string_view(stem).substr(base.size()))) {
      return FileRole::Older;
    }
  }
  // No base known: older generations carry five or more hex digits after the base.
  const bool known = std::find(bases.begin(), bases.end(), stem) != bases.end();
  return !known && stem.size() > 5 && hex_tail(std::string_view(stem).substr(stem.size() - 5)) ? FileRole::Older
                                                                                                  : FileRole::Current;
}

// The stems of the checkpoint and of the logs that are no older generation by name.
std::vector<std::string> base_names(const std::vector<std::string>& names) {
  std::vector<std::string> bases;
  for (const std::string& name : names) {
    const std::string n = lower(name);
    for (const char* ext : {kCheckpointExtension, kLogExtension}) {
      if (ends_with(n, ext)) bases.push_back(n.substr(0, n.size() - std::string_view(ext).size()));
    }
  }
  // A stem that is another stem plus hex digits is an older generation, not a base.
  std::vector<std::string> out;
  for (const std::string& b : bases) {
    bool derived = false;
    for (const std::string& other : bases) {
      derived = derived || (b.size() >= other.size() + 5 && b.compare(0, other.size(), other) == 0);
    }
    if (!derived && !ends_with(b, "tmp")) out.push_back(b);
  }
  return out;
}

class ViewMapping final : public Mapping {
 public:
  explicit ViewMapping(Bytes b) : bytes_(b) {}
  Bytes bytes() const override { return bytes_; }

 private:
  Bytes bytes_;
};

std::filesystem::path to_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string from_path(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string hex_generation(std::uint32_t g) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(g));
  return buf;
}

}  // namespace

const char* file_role_name(FileRole r) {
  switch (r) {
    case FileRole::Current: return "current";
    case FileRole::Older: return "older";
    case FileRole::Next: return "next";
    case FileRole::Reserve: return "reserve";
    case FileRole::Other: return "other";
  }
  return "other";
}

const char* header_kind_name(HeaderKind k) {
  switch (k) {
    case HeaderKind::Log: return "log";
    case HeaderKind::Legacy: return "legacy";
    case HeaderKind::Unused: return "unused";
    case HeaderKind::BadChecksum: return "bad header checksum";
    case HeaderKind::TooShort: return "too short";
    case HeaderKind::NotLog: return "not a log";
  }
  return "too short";
}

Result<LogFolder> LogFolder::open(const std::string& path) {
  // The file-system library reports some failures (a name the system cannot convert,
  // an entry that vanishes while listed) by exception: they become errors here.
  try {
    auto folder = open_listed(path);
    if (!folder) return folder;
    if (auto refused = folder.value().refuse_unless_logs()) return std::move(*refused);
    return folder;
  } catch (const std::exception& e) {
    return EseError::io_fixed("Cannot read the log folder " + path + ": " + e.what());
  }
}

// A summary of input that holds no log would read as "nothing happened": a database
// file or a text file given by mistake, or the wrong folder, is said to be so instead.
std::optional<EseError> LogFolder::refuse_unless_logs() const {
  const bool checkpoint = checkpoint_ && checkpoint_->readable;
  const auto is_log = [](const LogFileInfo& f) { return !f.open_error.empty() || f.header.looks_like_log(); };
  if (single_file_) {
    if (checkpoint || (!files_.empty() && is_log(files_.front()))) return std::nullopt;
    const HeaderKind kind = files_.empty() ? HeaderKind::TooShort : files_.front().header.kind;
    const std::string why = files_.empty()                ? "an unreadable checkpoint"
                            : kind == HeaderKind::TooShort ? "shorter than a log file header"
                                                           : "its first sector is no log file header";
    return EseError::io_fixed("Not a transaction log: " + path_ + " (" + why + ")");
  }
  if (checkpoint || std::any_of(files_.begin(), files_.end(), is_log)) return std::nullopt;
  if (files_.empty()) {
    return EseError::io_fixed("No transaction logs in " + path_ + " (no *.log, *.jrs or *.chk file)");
  }
  return EseError::io_fixed("No transaction logs in " + path_ + ": none of its " + std::to_string(files_.size()) +
                            " *.log and *.jrs files is a log");
}

Result<LogFolder> LogFolder::open_listed(const std::string& path) {
  LogFolder folder;
  folder.path_ = path;
  std::error_code ec;
  const std::filesystem::path root = to_path(path);
  const auto status = std::filesystem::status(root, ec);
  if (ec) return EseError::io_fixed("Log folder not found: " + path);
  std::vector<std::pair<std::string, std::string>> entries;  // name, path
  if (std::filesystem::is_directory(status)) {
    std::filesystem::directory_iterator it(root, ec);
    if (ec) return EseError::io_fixed("Cannot list the log folder " + path + ": " + ec.message());
    for (const auto& entry : it) {
      std::error_code entry_ec;
      if (!entry.is_regular_file(entry_ec)) continue;
      const std::string name = from_path(entry.path().filename());
      const std::string n = lower(name);
      if (ends_with(n, kLogExtension) || ends_with(n, kReserveExtension) || ends_with(n, kCheckpointExtension)) {
        entries.emplace_back(name, from_path(entry.path()));
      }
    }
  } else {
    entries.emplace_back(from_path(root.filename()), path);
    folder.single_file_ = true;
  }
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.first);
  const std::vector<std::string> bases = base_names(names);
  for (const auto& [name, file_path] : entries) {
    auto mapped = map_file_read_only(file_path);
    if (ends_with(lower(name), kCheckpointExtension)) {
      if (folder.checkpoint_) {
        folder.problems_.push_back({{}, "more than one checkpoint file; " + name + " ignored"});
        continue;
      }
      folder.checkpoint_name_ = name;
      if (!mapped) {
        folder.problems_.push_back({{}, name + ": " + mapped.error().to_string()});
        continue;
      }
      folder.checkpoint_ = read_checkpoint(mapped.value()->bytes());
      continue;
    }
    LogFileInfo info;
    info.path = file_path;
    info.name = name;
    info.role = role_of(name, bases);
    if (!mapped) {
      info.open_error = mapped.error().to_string();
    } else {
      folder.scan_file(info, mapped.value()->bytes());
    }
    folder.files_.push_back(std::move(info));
  }
  folder.finish();
  return folder;
}

LogFolder LogFolder::from_memory(std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files) {
  LogFolder folder;
  std::sort(files.begin(), files.end());
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.first);
  const std::vector<std::string> bases = base_names(names);
  for (auto& [name, bytes] : files) {
    const Bytes b(bytes.data(), bytes.size());
    if (ends_with(lower(name), kCheckpointExtension)) {
      if (!folder.checkpoint_) {
        folder.checkpoint_name_ = name;
        folder.checkpoint_ = read_checkpoint(b);
      }
      continue;
    }
    LogFileInfo info;
    info.path = name;
    info.name = name;
    info.role = role_of(name, bases);
    folder.scan_file(info, b);
    folder.files_.push_back(std::move(info));
    folder.memory_.push_back(std::move(bytes));
  }
  folder.finish();
  return folder;
}

void LogFolder::scan_file(LogFileInfo& info, Bytes bytes) {
  info.size = bytes.size();
  LogFileReader reader(bytes);
  reader.run_to_end();
  info.header = reader.header();
  info.stats = reader.stats();
  info.problems = reader.problems();
  const LogHeader& h = info.header;
  switch (h.kind) {
    case HeaderKind::BadChecksum:
      info.problems.insert(info.problems.begin(),
                           {{}, "header checksum wrong (stored " + hex_generation(h.stored_checksum) + ", computed " +
                                    hex_generation(h.computed_checksum) + "): not a usable log"});
      ++info.stats.problems;
      break;
    case HeaderKind::TooShort:
      if (info.size != 0) {
        info.problems.insert(info.problems.begin(), {{}, "shorter than one " + std::to_string(kSectorSize) + "-byte header sector"});
        ++info.stats.problems;
      }
      break;
    case HeaderKind::Legacy:
      info.problems.insert(info.problems.begin(),
                           {{}, "format " + h.version_text() + ": the older sector format, records not read"});
      ++info.stats.problems;
      break;
    case HeaderKind::Log:
      if (h.minor != kFormatMinor) {
        info.problems.insert(info.problems.begin(), {{}, "format minor version " + std::to_string(h.minor) +
                                                             " (4000 expected)"});
        ++info.stats.problems;
      }
      if (h.file_type != kFileTypeLog && h.file_type != kFileTypeUnknown) {
        info.problems.insert(info.problems.begin(), {{}, "file type " + std::to_string(h.file_type) + " is not a log"});
        ++info.stats.problems;
      }
      break;
    case HeaderKind::NotLog:
      info.problems.insert(info.problems.begin(),
                           {{}, "not a transaction log: its header has a valid checksum but format " + h.version_text()});
      ++info.stats.problems;
      break;
    case HeaderKind::Unused:
      break;
  }
}

void LogFolder::finish() {
  // Stream order: usable logs by generation, then name.
  order_.clear();
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].usable()) order_.push_back(i);
  }
  std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    return files_[a].header.generation < files_[b].header.generation;
  });
  chain_.clear();
  gaps_.clear();
  for (std::size_t k = 1; k < order_.size(); ++k) {
    const LogFileInfo& prev = files_[order_[k - 1]];
    const LogFileInfo& cur = files_[order_[k]];
    const std::uint32_t a = prev.header.generation, b = cur.header.generation;
    if (a == b) {
      problems_.push_back({{}, "generation " + hex_generation(b) + " is in both " + prev.name + " and " + cur.name});
      continue;
    }
    if (b != a + 1) {
      gaps_.push_back({a + 1, b - 1});
      continue;
    }
    ChainLink link;
    link.from = a;
    link.to = b;
    link.time_ok = cur.header.previous_time_raw == prev.header.create_time_raw;
    link.signature_ok = cur.header.signature == prev.header.signature;
    if (cur.header.update_minor >= kFirstUpdateMinorWithSegmentXor) {
      link.segments_ok = cur.header.previous_segments_xor == prev.stats.segments_xor;
    }
    if (!link.time_ok || !link.signature_ok || (link.segments_ok && !*link.segments_ok)) {
      std::string what;
      if (!link.time_ok) what += " previous-generation time differs;";
      if (!link.signature_ok) what += " log signature differs;";
      if (link.segments_ok && !*link.segments_ok) what += " segment checksums of the previous generation differ;";
      what.pop_back();
      problems_.push_back({{}, cur.name + " does not follow " + prev.name + ":" + what});
    }
    chain_.push_back(link);
  }
  if (checkpoint_ && checkpoint_->readable && !order_.empty()) {
    const LogFileInfo& last = files_[order_.back()];
    if (checkpoint_->signature != last.header.signature) {
      problems_.push_back({{}, "the checkpoint's log signature differs from " + last.name + "'s"});
    }
    if (checkpoint_->checkpoint.generation > last.header.generation) {
      problems_.push_back({{}, "the checkpoint names generation " + hex_generation(checkpoint_->checkpoint.generation) +
                                   ", beyond the highest log present"});
    }
  }
}

bool LogFolder::read_failed() const {
  return checksum_failed() ||
         std::any_of(files_.begin(), files_.end(), [](const LogFileInfo& f) { return !f.open_error.empty(); });
}

bool LogFolder::checksum_failed() const {
  for (const LogFileInfo& f : files_) {
    if (f.header.kind == HeaderKind::BadChecksum && f.role != FileRole::Reserve) return true;
    // A torn last segment restored from its shadow is how a crash leaves a log, not damage.
    const std::uint32_t damaged = f.stats.segments[static_cast<std::size_t>(SegmentStatus::Damaged)];
    if (f.stats.corrected_bits != 0 || damaged > f.stats.torn_restored ||
        f.stats.valid_after_end != 0) {
      return true;
    }
  }
  if (checkpoint_ && (!checkpoint_->copies[0].checksum_ok || !checkpoint_->copies[1].checksum_ok)) return true;
  return false;
}

std::uint64_t LogFolder::records() const {
  std::uint64_t n = 0;
  for (const LogFileInfo& f : files_) n += f.stats.records;
  return n;
}

std::optional<std::uint32_t> LogFolder::lowest_generation() const {
  if (order_.empty()) return std::nullopt;
  return files_[order_.front()].header.generation;
}

std::optional<std::uint32_t> LogFolder::highest_generation() const {
  if (order_.empty()) return std::nullopt;
  return files_[order_.back()].header.generation;
}

const LogFileInfo* LogFolder::generation(std::uint32_t g) const {
  for (std::size_t i : order_) {
    if (files_[i].header.generation == g) return &files_[i];
  }
  return nullptr;
}

Result<std::unique_ptr<Mapping>> LogFolder::load(std::size_t file_index) const {
  if (!memory_.empty()) {
    const auto& m = memory_[file_index];
    return std::unique_ptr<Mapping>(std::make_unique<ViewMapping>(Bytes(m.data(), m.size())));
  }
  return map_file_read_only(files_[file_index].path);
}

namespace {
std::string problem_line(const std::string& file, const LogProblem& p) {
  return file + ": " + (p.where.is_zero() ? std::string() : position_text(p.where) + " ") + p.text;
}
}  // namespace

LogStream::LogStream(const LogFolder& folder) : folder_(&folder) {
  for (const LogFileInfo& f : folder.files()) {
    if (f.usable() || f.header.kind == HeaderKind::Unused || (f.header.kind == HeaderKind::TooShort && f.size == 0)) {
      continue;
    }
    const std::string why = !f.open_error.empty() ? f.open_error
                            : !f.problems.empty() ? f.problems.front().text
                                                  : std::string(header_kind_name(f.header.kind));
    problems_.push_back(f.name + ": not read: " + why);
  }
  if (const auto& c = folder.checkpoint()) {
    for (const LogProblem& p : c->problems) problems_.push_back(problem_line(folder.checkpoint_name(), p));
  }
}

void LogStream::file_ended() {
  for (const LogProblem& p : reader_->problems()) problems_.push_back(problem_line(current_file_->name, p));
  const std::uint64_t more = reader_->stats().problems - reader_->problems().size();
  if (more != 0) problems_.push_back(current_file_->name + ": " + std::to_string(more) + " more problems");
}

bool LogStream::next(LogRecord& out) {
  for (;;) {
    if (reader_ && reader_->next(out)) return true;
    if (reader_) file_ended();
    reader_.reset();
    mapping_.reset();
    const auto& order = folder_->stream_order();
    if (next_file_ >= order.size()) return false;
    const std::size_t index = order[next_file_++];
    auto loaded = folder_->load(index);
    if (!loaded) {
      add_failure(folder_->files()[index].name + ": could not be read again: " + loaded.error().to_string());
      continue;
    }
    mapping_ = std::move(loaded).value();
    current_file_ = &folder_->files()[index];
    reader_ = std::make_unique<LogFileReader>(mapping_->bytes());
  }
}

}  // namespace quarrow::logs
