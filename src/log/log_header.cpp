#include "log/log_header.h"

#include <algorithm>

#include "page/checksum.h"

namespace quarrow::logs {

using namespace logfmt;

std::vector<AttachedDatabase> read_attachments(Bytes b, std::size_t offset, std::size_t size) {
  std::vector<AttachedDatabase> out;
  if (!in_bounds(b, offset, size)) return out;
  const Bytes area = b.subspan(offset, size);
  std::size_t at = 0;
  while (in_bounds(area, at, kAttachEntrySize) && area[at + kAttachDbid] != 0) {
    AttachedDatabase a;
    a.dbid = area[at + kAttachDbid];
    a.flags = area[at + kAttachFlags];
    const std::size_t names = load_u16le(area, at + kAttachNamesLength);
    a.dbtime = load_u64le(area, at + kAttachDbtime);
    a.last_objid = load_u32le(area, at + kAttachLastObjid);
    a.max_pages = load_u32le(area, at + kAttachMaxPages);
    a.attached = read_position(area, at + kAttachPosition);
    a.consistent = read_position(area, at + kAttachConsistent);
    a.signature = read_signature(area, at + kAttachDbSignature);
    const std::size_t name_at = at + kAttachEntrySize;
    const std::size_t n = std::min<std::size_t>(names, area.size() - std::min(name_at, area.size()));
    const Bytes name = area.subspan(std::min(name_at, area.size()), n);
    a.path = (a.flags & kAttachUnicodeNames) != 0 ? utf16_name(name) : ansi_name(name);
    out.push_back(std::move(a));
    at = name_at + names;
  }
  return out;
}

std::string LogHeader::version_text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(update_major) + "." +
         std::to_string(update_minor);
}

bool LogHeader::looks_like_log() const {
  switch (kind) {
    case HeaderKind::Log: case HeaderKind::Legacy: case HeaderKind::Unused: return true;
    case HeaderKind::BadChecksum: return major == kSegmentFormatMajor || major == kLegacyFormatMajor;
    case HeaderKind::TooShort: case HeaderKind::NotLog: return false;
  }
  return false;
}

LogHeader read_log_header(Bytes file) {
  LogHeader h;
  if (file.size() < kSectorSize) return h;
  const Bytes b = file.first(kSectorSize);
  if (std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; })) {
    h.kind = HeaderKind::Unused;
    return h;
  }
  h.stored_checksum = load_u32le(b, kHeaderChecksum);
  h.computed_checksum = xor_checksum(b);
  h.generation = load_u32le(b, kHeaderGeneration);
  h.sector_size = load_u16le(b, kHeaderSectorSize);
  h.header_sectors = load_u16le(b, kHeaderHeaderSectors);
  h.file_sectors = load_u16le(b, kHeaderFileSectors);
  h.page_size = load_u16le(b, kHeaderPageSize);
  h.create_time_raw = load_u64le(b, kHeaderCreateTime);
  h.previous_time_raw = load_u64le(b, kHeaderPreviousTime);
  h.create_time = parse_log_time(b.subspan(kHeaderCreateTime, kLogTimeSize));
  h.previous_time = parse_log_time(b.subspan(kHeaderPreviousTime, kLogTimeSize));
  h.major = load_u32le(b, kHeaderMajor);
  h.minor = load_u32le(b, kHeaderMinor);
  h.update_major = load_u32le(b, kHeaderUpdateMajor);
  h.update_minor = load_u32le(b, kHeaderUpdateMinor);
  h.signature = read_signature(b, kHeaderSignature);
  h.flags = b[kHeaderFlags];
  h.checkpoint = read_position(b, kHeaderCheckpoint);
  h.previous_segments_xor = load_u64le(b, kHeaderPreviousSegmentXor);
  h.engine_version = load_u32le(b, kHeaderEngineVersion);
  h.file_type = load_u32le(b, kHeaderFileType);
  h.system_path = ansi_name(b.subspan(kHeaderParameters, kParametersPathSize));
  h.log_path = ansi_name(b.subspan(kHeaderParameters + kParametersLogPath, kParametersPathSize));
  if (h.stored_checksum != h.computed_checksum) {
    h.kind = HeaderKind::BadChecksum;
    return h;
  }
  h.attachments = read_attachments(b, kHeaderAttachments, kAttachmentsSize);
  // The database header uses the same checksum over its first page: the format
  // version tells the two apart.
  h.kind = h.major == kSegmentFormatMajor  ? HeaderKind::Log
           : h.major == kLegacyFormatMajor ? HeaderKind::Legacy
                                           : HeaderKind::NotLog;
  return h;
}

Checkpoint read_checkpoint(Bytes file) {
  Checkpoint c;
  int first_good = -1;
  for (int i = 0; i < 2; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * kCheckpointCopySize;
    if (!in_bounds(file, at, kCheckpointCopySize)) {
      c.problems.push_back({{}, "checkpoint copy " + std::to_string(i + 1) + " missing (file too short)"});
      continue;
    }
    const Bytes copy = file.subspan(at, kCheckpointCopySize);
    c.copies[i].stored_checksum = load_u32le(copy, 0);
    c.copies[i].computed_checksum = xor_checksum(copy);
    c.copies[i].checksum_ok = c.copies[i].stored_checksum == c.copies[i].computed_checksum;
    if (!c.copies[i].checksum_ok) {
      c.problems.push_back({{}, "checkpoint copy " + std::to_string(i + 1) + " checksum wrong"});
    } else if (first_good < 0) {
      first_good = i;
    }
  }
  if (file.size() >= 2 * kCheckpointCopySize) {
    c.copies_agree = std::equal(file.begin(), file.begin() + kCheckpointCopySize, file.begin() + kCheckpointCopySize);
  }
  if (first_good < 0) return c;
  const Bytes b = file.subspan(static_cast<std::size_t>(first_good) * kCheckpointCopySize, kCheckpointCopySize);
  c.readable = true;
  c.full_backup = read_position(b, kCheckpointFullBackup);
  c.checkpoint = read_position(b, kCheckpointPosition);
  c.signature = read_signature(b, kCheckpointSignature);
  c.version_flags = b[kCheckpointVersion];
  c.consistent = read_position(b, kCheckpointConsistent);
  c.file_type = load_u32le(b, kCheckpointFileType);
  if ((c.version_flags & kCheckpointHasAttachments) != 0) {
    c.attachments = read_attachments(b, kCheckpointAttachments, kAttachmentsSize);
  }
  if (c.file_type != kFileTypeCheckpoint && c.file_type != kFileTypeUnknown) {
    c.problems.push_back({{}, "file type " + std::to_string(c.file_type) + " is not a checkpoint"});
  }
  if (c.copies[0].checksum_ok && c.copies[1].checksum_ok && !c.copies_agree) {
    c.problems.push_back({{}, "the two checkpoint copies differ"});
  }
  return c;
}

}  // namespace quarrow::logs
