// Log reader fuzz target. The input is one log file; the first byte chooses what is
// repaired before reading, so that mutations reach past the checksums: bit 0 rewrites
// the header checksum, bit 1 every segment's checksum and position (as a valid segment
// of the header's generation), bit 2 adds a checkpoint made of the input's first 8 KiB.
// Every record is summarised and decoded, the transactions are tracked and the folder's
// facts (chain, gaps) are built: nothing may crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "page/checksum.h"
#include "format/log.h"
#include "log/log_folder.h"
#include "log/record_fields.h"
#include "log/transactions.h"

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
  static volatile std::uint64_t kept;
  kept = sink;
  return 0;
}
