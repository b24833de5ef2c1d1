// Log reader fuzz target. The input is one log file; the first byte chooses what is
// repaired before reading, so that mutations reach past the checksums: bit 0 rewrites
// the header checksum, bit 1 every segment's checksum and position (as a valid segment
// of the header's generation), bit 2 adds a checkpoint made of the input's first 8 KiB;
// bit 3 gives the matching database 16 KiB pages (the large-page layout) instead of 4.
// Every record is summarised and decoded, the transactions are tracked, the folder's
// facts (chain, gaps) are built and the stream's problems rendered, and the log is
// replayed onto a small database made to match it (its log signature, consistent
// before the log's first record, pages 1..16 holding a few nodes each at small
// dbtimes): nothing may crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/timeline_fields.h"
#include "page/checksum.h"
#include "format/log.h"
#include "log/log_folder.h"
#include "log/record_fields.h"
#include "log/transactions.h"
#include "replay/page_edit.h"
#include "replay/replay.h"
#include "replay/write.h"
#include "timeline/collect.h"

namespace {

using namespace quarrow;
using namespace quarrow::logs;

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

void repair(std::vector<std::uint8_t>& file, std::uint8_t mode) {
  constexpr std::size_t kSector = logfmt::kSectorSize;
  if (file.size() < kSector) return;
  const std::uint32_t generation = load_u32le(Bytes(file), logfmt::kHeaderGeneration);
  if ((mode & 2) != 0) {
    for (std::size_t i = 1; (i + 1) * kSector <= file.size(); ++i) {
      std::uint8_t* s = file.data() + i * kSector;
      s[logfmt::kSegmentPosition] = s[logfmt::kSegmentPosition + 1] = 0;
      s[logfmt::kSegmentPosition + 2] = static_cast<std::uint8_t>(i);
      s[logfmt::kSegmentPosition + 3] = static_cast<std::uint8_t>(i >> 8);
      std::memcpy(s + logfmt::kSegmentPosition + 4, &generation, 4);
      const std::uint64_t sum = ecc_checksum(Bytes(s, kSector), static_cast<std::uint32_t>(i), true);
      for (int k = 0; k < 8; ++k) s[k] = static_cast<std::uint8_t>(sum >> (8 * k));
    }
  }
  if ((mode & 1) != 0) put32(file, 0, xor_checksum(Bytes(file.data(), kSector)));
}

// A clean database on the log's stream: header, shadow header, pages 1..16 (page 4 the
// catalog's empty root), consistent at the start of the log's generation, dbid 1.
std::vector<std::uint8_t> matching_database(const std::vector<std::uint8_t>& log, bool large) {
  const std::uint32_t kPage = large ? 16384 : 4096;
  constexpr std::uint32_t kPages = 16;
  std::vector<std::uint8_t> db((kPages + 2) * kPage, 0);
  put32(db, kHeaderSignatureOffset, kDatabaseSignature);
  put32(db, kHeaderFormatVersionOffset, kFormatVersion);
  put32(db, kHeaderFormatRevisionOffset, large ? kRevisionCurrentPageHeader : kRevisionTwoChecksums);
  put32(db, kHeaderPageSizeOffset, kPage);
  put32(db, kHeaderStateOffset, kStateCleanShutdown);
  put32(db, logfmt::kDbDbid, 1);
  if (log.size() >= logfmt::kHeaderSignature + logfmt::kSignatureSize) {
    std::memcpy(db.data() + logfmt::kDbLogSignature, log.data() + logfmt::kHeaderSignature, logfmt::kSignatureSize);
    // Consistent at (generation, 0, 0): every record of the log comes after it.
    std::memcpy(db.data() + logfmt::kDbConsistentPosition + 4, log.data() + logfmt::kHeaderGeneration, 4);
  }
  for (std::uint32_t n = 1; n <= kPages; ++n) {
    std::span<std::uint8_t> page(db.data() + (n + 1) * kPage, kPage);
    replay::PageEditor ed(page);
    const bool catalog = n == kCatalogRootPage;
    ed.initialise(n, catalog ? 2 : n, catalog ? 3 : 2);
    for (std::uint16_t i = 0; !catalog && i < 3; ++i) {
      (void)ed.insert_node(i, replay::NodeImage{0, std::string(1, static_cast<char>('a' + i)), "data", 0});
    }
  }
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::vector<std::uint8_t> file(data + 1, data + size);
  repair(file, mode);
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {{"edb.log", file}};
  if ((mode & 4) != 0) {
    files.emplace_back("edb.chk", std::vector<std::uint8_t>(file.begin(), file.begin() + std::min<std::size_t>(
                                                                                 file.size(), 2 * logfmt::kSectorSize)));
  }
  const LogFolder folder = LogFolder::from_memory(std::move(files));
  (void)folder.checksum_failed();
  (void)folder.read_failed();
  for (const LogFileInfo& f : folder.files()) (void)f.header.looks_like_log();
  std::uint64_t sink = 0;
  TransactionTracker tracker([&](const TransactionEntry& e) { sink += e.counts.records; });
  LogStream stream(folder);
  LogRecord r;
  std::vector<LogField> fields;
  while (stream.next(r)) {
    const RecordSummary s = summarize(r);
    tracker.feed(r, s);
    decode_fields(r, fields);
    for (const LogField& f : fields) sink += f.bytes.size() + f.text.size();
    const NodeParts parts = node_parts(r);
    sink += parts.key_prefix.size() + parts.key_suffix.size() + parts.data.size();
  }
  tracker.finish();
  // The timeline's events of the same logs, rendered as both formats write them.
  std::vector<quarrow::timeline::InputNames> names(1);
  std::string line;
  (void)quarrow::timeline::log_events(folder, {}, 0, names[0], [&](const quarrow::timeline::EventView& e) {
    line.clear();
    quarrow::app::append_timeline_event(line, quarrow::app::TimelineFormat::JsonLines, e, names);
    quarrow::app::append_timeline_event(line, quarrow::app::TimelineFormat::Csv, e, names);
    sink += line.size();
    return quarrow::Status::success();
  });
  // The same events as the report counts them: times only.
  quarrow::timeline::TimelineFilter times;
  times.times_only = true;
  (void)quarrow::timeline::log_events(folder, times, 0, names[0], [&](const quarrow::timeline::EventView& e) {
    sink += static_cast<std::uint64_t>(e.time) + e.row;
    return quarrow::Status::success();
  });
  for (const std::string& p : stream.problems()) sink += p.size();
  if (auto db = Database::open_bytes(matching_database(file, (mode & 8) != 0))) {
    // The timeline's row changes: the reader's passes over the logs against this
    // database (whose empty catalog names no table; the sweep makes the events).
    std::vector<std::string> problems;
    (void)quarrow::timeline::row_change_events(**db, folder, {}, {}, {}, 0, names[0], problems,
                                               [&](const quarrow::timeline::EventView& e) {
                                                 line.clear();
                                                 quarrow::app::append_timeline_event(
                                                     line, quarrow::app::TimelineFormat::JsonLines, e, names);
                                                 sink += line.size();
                                                 return quarrow::Status::success();
                                               });
    for (const std::string& p : problems) sink += p.size();
    replay::ReplayOptions options;
    options.max_overlay_bytes = std::uint64_t{64} << 20;
    auto out = replay::replay_logs(**db, folder, options);
    if (out) {
      sink += out->report.records_applied + out->overlay->written_pages();
      (void)replay::write_replayed(**db, *out, [&](Bytes b) -> Status {
        sink += b.size();
        return {};
      });
    } else {
      sink += out.error().to_string().size();
    }
  }
  static volatile std::uint64_t kept;
  kept = sink;
  return 0;
}
