#include "log/log_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "page/checksum.h"
#include "log/record_types.h"

namespace quarrow::logs {

using namespace logfmt;

namespace {

bool all_zero(Bytes b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

std::string hex32(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

const char* segment_status_name(SegmentStatus s) {
  switch (s) {
    case SegmentStatus::Valid: return "valid";
    case SegmentStatus::Corrected: return "corrected";
    case SegmentStatus::Shadow: return "shadow";
    case SegmentStatus::Stale: return "stale";
    case SegmentStatus::Zero: return "zero";
    case SegmentStatus::Damaged: return "damaged";
  }
  return "damaged";
}

LogFileReader::LogFileReader(Bytes file) : file_(file), header_(read_log_header(file)) {
  if (header_.kind != HeaderKind::Log) {
    data_ended_ = finished_ = true;
    return;
  }
  if (header_.sector_size != kSectorSize) {
    problem({}, "sector size " + std::to_string(header_.sector_size) + " where the segment format needs " + std::to_string(kSectorSize));
    data_ended_ = finished_ = true;
    return;
  }
  const std::uint64_t present = file.size() / kSectorSize;
  sectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(present, 0xFFFF));
  if (header_.file_sectors != 0 && present < header_.file_sectors) {
    problem({}, "the file holds " + std::to_string(present) + " sectors, its header says " +
                    std::to_string(header_.file_sectors) + " (truncated)");
  } else if (header_.file_sectors != 0 && header_.file_sectors < present) {
    sectors_ = header_.file_sectors;
  }
  if (file.size() % kSectorSize != 0) {
    problem({}, "the file size is not a multiple of " + std::to_string(kSectorSize) + " bytes (" + std::to_string(file.size() % kSectorSize) +
                    " bytes left over)");
  }
}

Bytes LogFileReader::sector(std::uint32_t i) const {
  return file_.subspan(static_cast<std::size_t>(i) * kSectorSize, kSectorSize);
}

void LogFileReader::problem(LogPosition where, std::string text) {
  ++stats_.problems;
  if (problems_.size() < kMaxProblems) problems_.push_back({where, std::move(text)});
}

SegmentStatus LogFileReader::classify(std::uint32_t i, std::uint64_t* stored_out, std::uint32_t* bit_out) const {
  const Bytes b = sector(i);
  if (all_zero(b)) return SegmentStatus::Zero;
  const std::uint64_t stored = load_u64le(b, kSegmentChecksum);
  if (stored_out != nullptr) *stored_out = stored;
  const LogPosition at = read_position(b, kSegmentPosition);
  const LogPosition own{header_.generation, static_cast<std::uint16_t>(i), 0};
  const std::uint64_t computed = ecc_checksum(b, i, true);
  if (stored == computed && at == own) return SegmentStatus::Valid;
  if (stored != computed) {
    if (const auto bit = locate_flipped_bit(stored, computed, kSectorSize)) {
      // The position must hold once the bit is put back.
      std::uint8_t pos[kPositionSize];
      for (std::size_t k = 0; k < kPositionSize; ++k) pos[k] = b[kSegmentPosition + k];
      const std::uint32_t byte = *bit / 8;
      if (byte >= kSegmentPosition && byte < kSegmentPosition + kPositionSize) {
        pos[byte - kSegmentPosition] ^= static_cast<std::uint8_t>(1u << (*bit % 8));
      }
      if (read_position(Bytes(pos, kPositionSize), 0) == own) {
        if (bit_out != nullptr) *bit_out = *bit;
        return SegmentStatus::Corrected;
      }
    }
  }
  if (i >= 2 && at == LogPosition{header_.generation, static_cast<std::uint16_t>(i - 1), 0} &&
      ecc_checksum(b, i - 1, true) == stored) {
    return SegmentStatus::Shadow;
  }
  if (at.byte == 0 && at.sector >= 1 && at < own && ecc_checksum(b, at.sector, true) == stored) {
    return SegmentStatus::Stale;
  }
  return SegmentStatus::Damaged;
}

bool LogFileReader::enter_next_segment() {
  segment_ = {};
  if (data_ended_) {
    if (!finished_) finish_after_end();
    return false;
  }
  // The last sector of the file never holds live data (the shadow of the one before).
  const std::uint32_t data_end = sectors_ == header_.file_sectors ? sectors_ - 1 : sectors_;
  if (next_sector_ >= data_end || next_sector_ >= sectors_) {
    data_ended_ = true;
    finish_after_end();
    return false;
  }
  const std::uint32_t i = next_sector_++;
  std::uint64_t stored = 0;
  std::uint32_t bit = 0;
  const SegmentStatus status = classify(i, &stored, &bit);
  ++stats_.segments[static_cast<std::size_t>(status)];
  const LogPosition here{header_.generation, static_cast<std::uint16_t>(i), 0};
  Bytes use;
  if (status == SegmentStatus::Valid) {
    use = sector(i);
  } else if (status == SegmentStatus::Corrected) {
    const Bytes b = sector(i);
    std::copy(b.begin(), b.end(), corrected_.begin());
    corrected_[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    use = Bytes(corrected_.data(), corrected_.size());
    ++stats_.corrected_bits;
    problem(here, "segment " + std::to_string(i) + ": one flipped bit at bit " + std::to_string(bit) +
                      " (byte " + std::to_string(bit / 8) + "), corrected in memory");
  } else {
    data_ended_ = true;
    if (status == SegmentStatus::Damaged) {
      // A torn segment can be read from its shadow copy in the next sector.
      if (i + 1 < sectors_ && classify(i + 1) == SegmentStatus::Shadow) {
        ++next_sector_;
        ++stats_.segments[static_cast<std::size_t>(SegmentStatus::Shadow)];
        use = sector(i + 1);
        ++stats_.torn_restored;
        problem(here, "segment " + std::to_string(i) + " damaged; read from its shadow copy in sector " +
                          std::to_string(i + 1));
      } else {
        problem(here, "segment " + std::to_string(i) + " damaged (checksum " + hex32(stored) +
                          " wrong): the data ends before it");
      }
    }
    if (use.empty()) {
      finish_after_end();
      return false;
    }
  }
  stats_.segments_xor ^= stored;
  ++stats_.data_segments;
  segment_ = use;
  segment_sector_ = static_cast<std::uint16_t>(i);
  offset_ = kSegmentHeaderSize;
  segment_time_ = parse_log_time(use.subspan(kSegmentTime, kLogTimeSize));
  if (stats_.data_segments == 1) stats_.first_time = segment_time_;
  if (segment_time_.set) stats_.last_time = segment_time_;
  if (load_u32le(use, kSegmentFlags) != kSegmentEccFlag) {
    problem(here, "segment " + std::to_string(i) + ": flags " + hex32(load_u32le(use, kSegmentFlags)) +
                      " (" + hex32(kSegmentEccFlag) + " expected)");
  }
  return true;
}

void LogFileReader::finish_after_end() {
  finished_ = true;
  data_ended_ = true;
  if (joining_) drop_fragment("the data ends before its last piece");
  for (std::uint32_t i = next_sector_; i < sectors_; ++i) {
    const SegmentStatus status = classify(i);
    ++stats_.segments[static_cast<std::size_t>(status)];
    if (status == SegmentStatus::Valid || status == SegmentStatus::Corrected) {
      ++stats_.valid_after_end;
      problem({header_.generation, static_cast<std::uint16_t>(i), 0},
              "segment " + std::to_string(i) + " is valid but lies after the end of the data (corruption)");
    }
  }
  next_sector_ = sectors_;
}

void LogFileReader::drop_fragment(const char* why) {
  problem(fragment_position_, "fragmented record of " + std::to_string(fragment_total_) + " bytes dropped after " +
                                  std::to_string(joined_.size()) + " bytes: " + why);
  joining_ = false;
  joined_.clear();
}

bool LogFileReader::emit(LogRecord& out, std::uint16_t at, Bytes bytes, bool fragmented) {
  out.position = fragmented ? fragment_position_ : LogPosition{header_.generation, segment_sector_, at};
  out.type = bytes[0];
  out.bytes = bytes;
  out.segment_time = fragmented ? fragment_time_ : segment_time_;
  out.fragmented = fragmented;
  ++stats_.records;
  if (fragmented) ++stats_.fragmented;
  ++stats_.by_type[out.type];
  if (stats_.records == 1) stats_.first_record = out.position;
  stats_.last_record = out.position;
  return true;
}

bool LogFileReader::next(LogRecord& out) {
  for (;;) {
    if (segment_.empty() || offset_ >= kSectorSize) {
      if (!enter_next_segment()) return false;
    }
    const auto at = static_cast<std::uint16_t>(offset_);
    const LogPosition here{header_.generation, segment_sector_, at};
    const Bytes rest = segment_.subspan(offset_);
    const std::uint8_t type = rest[0];
    if (type == kNop) {
      // Filler: the rest of the segment is padding.
      if (joining_ && at == kSegmentHeaderSize) drop_fragment("the next segment does not continue it");
      stats_.end = here;
      offset_ = kSectorSize;
      continue;
    }
    const RecordSize size = record_size(rest);
    if (size.status != RecordSize::Status::Ok || size.size > rest.size()) {
      const char* name = record_type_name(type);
      std::string what = size.status == RecordSize::Status::Unknown
                             ? "unknown record type " + std::to_string(type)
                             : std::string(name != nullptr ? name : "record") + " of " +
                                   (size.status == RecordSize::Status::Ok ? std::to_string(size.size) : "unreadable") +
                                   " bytes runs past the segment end";
      problem(here, what + "; the rest of the segment is skipped");
      if (joining_) drop_fragment("damaged data follows");
      offset_ = kSectorSize;
      continue;
    }
    const Bytes bytes = rest.first(static_cast<std::size_t>(size.size));
    offset_ += bytes.size();
    stats_.end = {header_.generation, segment_sector_, static_cast<std::uint16_t>(offset_)};
    if (type == kFragment) {
      if (!joining_) {
        problem(here, "a Fragment with no FragmentBegin before it; skipped");
        continue;
      }
      if (at != kSegmentHeaderSize) {
        drop_fragment("its continuation is not the first record of a segment");
        continue;
      }
      const Bytes piece = bytes.subspan(kFragmentFixed);
      if (joined_.size() + piece.size() > fragment_total_) {
        drop_fragment("the pieces add up to more than the total");
        continue;
      }
      joined_.insert(joined_.end(), piece.begin(), piece.end());
      if (joined_.size() < fragment_total_) continue;
      joining_ = false;
      const Bytes whole(joined_.data(), joined_.size());
      const RecordSize own = record_size(whole);
      if (own.status != RecordSize::Status::Ok || own.size != whole.size()) {
        problem(fragment_position_, "joined record of " + std::to_string(whole.size()) +
                                        " bytes disagrees with its own length; carried as it is");
      }
      return emit(out, 0, whole, true);
    }
    if (joining_) drop_fragment("the next segment does not continue it");
    if (type == kFragmentBegin) {
      const std::uint32_t total = load_u32le(bytes, kFragmentBeginTotal);
      const Bytes piece = bytes.subspan(kFragmentBeginFixed);
      if (piece.empty() || total <= piece.size() || total > kMaxRecordSize) {
        problem(here, "FragmentBegin claims " + std::to_string(total) + " bytes with a first piece of " +
                          std::to_string(piece.size()) + "; skipped");
        continue;
      }
      joining_ = true;
      fragment_total_ = total;
      fragment_position_ = here;
      fragment_time_ = segment_time_;
      joined_.assign(piece.begin(), piece.end());
      continue;
    }
    return emit(out, at, bytes, false);
  }
}

void LogFileReader::run_to_end() {
  LogRecord r;
  while (next(r)) {
  }
}

}  // namespace quarrow::logs
