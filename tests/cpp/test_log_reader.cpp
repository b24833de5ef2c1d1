// The log reader on log files built here byte by byte: record sizing, segment
// statuses, fragments, the end of the data, one-bit correction, hostile lengths, and
// the transaction outcomes the tracker derives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "page/checksum.h"
#include "format/log.h"
#include "db_builder.h"
#include "log/database_link.h"
#include "log/log_file.h"
#include "log/log_folder.h"
#include "log/log_header.h"
#include "log/record_fields.h"
#include "log/record_types.h"
#include "log/transactions.h"

namespace quarrow::logs {
namespace {

using Buffer = std::vector<std::uint8_t>;
constexpr std::uint32_t kGeneration = 0x51;

void put16(Buffer& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Buffer& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
void put64(Buffer& b, std::size_t at, std::uint64_t v) {
  put32(b, at, static_cast<std::uint32_t>(v));
  put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

Buffer begin0(std::uint16_t procid, std::uint32_t trx) {
  Buffer r(8);
  r[0] = logfmt::kBegin0;
  put16(r, 1, procid);
  r[3] = 0x20;  // from level 0, two levels
  put32(r, 4, trx);
  return r;
}
Buffer small(std::uint8_t type, std::uint16_t procid, std::uint8_t arg) {
  Buffer r(type == logfmt::kCommit0 ? 8 : 4);
  r[0] = type;
  put16(r, 1, procid);
  r[3] = arg;
  return r;
}
Buffer insert(std::uint32_t trx, std::size_t data_size, std::uint8_t fill, std::uint16_t procid = 9) {
  Buffer r(50 + 4 + data_size, fill);
  r[0] = logfmt::kInsert;
  put16(r, 1, procid);
  r[3] = 1;
  put32(r, 4, 77);
  put64(r, 8, 1001);
  put64(r, 16, 1000);
  put32(r, 24, trx);
  r[28] = 2;
  put16(r, 29, 3);
  r[31] = 0x05;
  put32(r, 32, 1);
  put32(r, 36, 77);
  put32(r, 40, 12);
  put16(r, 44, 4);
  put16(r, 46, 0);
  put16(r, 48, static_cast<std::uint16_t>(data_size));
  return r;
}

// A log file of `sectors` sectors: the header, segments filled with `records` (cut
// into fragments where they do not fit), the shadow of the last segment, then zeros.
Buffer build_log(const std::vector<Buffer>& records, std::uint16_t sectors = 16) {
  Buffer file(static_cast<std::size_t>(sectors) * logfmt::kSectorSize, 0);
  put32(file, logfmt::kHeaderGeneration, kGeneration);
  put16(file, logfmt::kHeaderSectorSize, logfmt::kSectorSize);
  put16(file, logfmt::kHeaderHeaderSectors, 1);
  put16(file, logfmt::kHeaderFileSectors, sectors);
  put32(file, logfmt::kHeaderMajor, logfmt::kSegmentFormatMajor);
  put32(file, logfmt::kHeaderMinor, logfmt::kFormatMinor);
  put32(file, logfmt::kHeaderFileType, logfmt::kFileTypeLog);
  put32(file, 0, xor_checksum(Bytes(file.data(), logfmt::kSectorSize)));
  std::vector<Buffer> bodies(1);
  const auto room = [&] { return logfmt::kSectorSize - logfmt::kSegmentHeaderSize - bodies.back().size(); };
  for (const Buffer& r : records) {
    if (r.size() <= room()) {
      bodies.back().insert(bodies.back().end(), r.begin(), r.end());
      continue;
    }
    std::size_t piece = room() - 7, at = 0;
    Buffer head(7);
    head[0] = logfmt::kFragmentBegin;
    put32(head, 1, static_cast<std::uint32_t>(r.size()));
    put16(head, 5, static_cast<std::uint16_t>(piece));
    bodies.back().insert(bodies.back().end(), head.begin(), head.end());
    bodies.back().insert(bodies.back().end(), r.begin(), r.begin() + piece);
    at = piece;
    while (at < r.size()) {
      bodies.emplace_back();
      piece = std::min(r.size() - at, room() - 3);
      Buffer h(3);
      h[0] = logfmt::kFragment;
      put16(h, 1, static_cast<std::uint16_t>(piece));
      bodies.back().insert(bodies.back().end(), h.begin(), h.end());
      bodies.back().insert(bodies.back().end(), r.begin() + at, r.begin() + at + piece);
      at += piece;
    }
  }
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const std::size_t isec = i + 1;
    for (std::size_t copy = isec; copy <= isec + 1 && copy < sectors; ++copy) {
      if (copy == isec + 1 && i + 1 != bodies.size()) break;  // only the last gets a shadow
      std::uint8_t* seg = file.data() + copy * logfmt::kSectorSize;
      Buffer s(logfmt::kSectorSize, 0);
      put16(s, logfmt::kSegmentPosition + 2, static_cast<std::uint16_t>(isec));
      put32(s, logfmt::kSegmentPosition + 4, kGeneration);
      s[logfmt::kSegmentTime] = 1;
      put32(s, logfmt::kSegmentFlags, logfmt::kSegmentEccFlag);
      std::copy(bodies[i].begin(), bodies[i].end(), s.begin() + logfmt::kSegmentHeaderSize);
      put64(s, 0, ecc_checksum(Bytes(s), static_cast<std::uint32_t>(isec), true));
      std::memcpy(seg, s.data(), s.size());
    }
  }
  return file;
}

std::vector<LogRecord> read_all(LogFileReader& reader, std::vector<Buffer>* copies = nullptr) {
  std::vector<LogRecord> out;
  LogRecord r;
  while (reader.next(r)) {
    if (copies != nullptr) copies->emplace_back(r.bytes.begin(), r.bytes.end());
    out.push_back(r);
  }
  return out;
}

TEST(LogRecordSize, FixedVariableAndUnknown) {
  const Buffer ins = insert(5, 100, 0);
  EXPECT_EQ(record_size(Bytes(ins)).size, ins.size());
  EXPECT_EQ(record_size(Bytes(ins).first(45)).status, RecordSize::Status::Truncated);
  const std::uint8_t begin[] = {logfmt::kBegin0};
  EXPECT_EQ(record_size(Bytes(begin, 1)).size, 8u);
  const std::uint8_t ignorable[] = {logfmt::kNop2, 3, 0, 0, 0};
  EXPECT_EQ(record_size(Bytes(ignorable, 5)).size, 8u);
  for (std::uint8_t unknown : {40, 41, 43, 44, 47, 56, 102, 255}) {
    const std::uint8_t b[] = {unknown, 0, 0, 0};
    EXPECT_EQ(record_size(Bytes(b, 4)).status, RecordSize::Status::Unknown) << int(unknown);
    EXPECT_EQ(record_type_name(unknown), nullptr);
  }
}

TEST(LogFileReader, JoinsFragmentsAndStopsAtTheShadow) {
  std::vector<Buffer> records = {begin0(9, 5)};
  for (int i = 0; i < 30; ++i) records.push_back(insert(5, 300, static_cast<std::uint8_t>(i)));
  records.push_back(small(logfmt::kCommit0, 9, 0));
  const Buffer file = build_log(records);
  LogFileReader reader{Bytes(file)};
  std::vector<Buffer> got;
  const auto all = read_all(reader, &got);
  ASSERT_EQ(all.size(), records.size());
  EXPECT_EQ(got, records);
  EXPECT_GT(reader.stats().fragmented, 0u);
  EXPECT_EQ(reader.stats().segments[static_cast<int>(SegmentStatus::Shadow)], 1u);
  EXPECT_TRUE(reader.problems().empty());
  // A fragmented record's position is its FragmentBegin's; positions only grow.
  for (std::size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].position, all[i].position);
  const RecordSummary s = summarize(all[1]);
  EXPECT_TRUE(s.node_record);
  EXPECT_EQ(s.page, 77u);
  EXPECT_EQ(*s.objid, 12u);
  EXPECT_EQ(s.dbtime_after, 1001u);
  EXPECT_EQ(node_parts(all[1]).data.size(), 300u);
}

TEST(LogFileReader, LocatesOneFlippedBitAndReadsTheSameRecords) {
  std::vector<Buffer> records;
  for (int i = 0; i < 40; ++i) records.push_back(insert(5, 200, static_cast<std::uint8_t>(i)));
  const Buffer intact = build_log(records);
  Buffer damaged = intact;
  damaged[logfmt::kSectorSize * 2 + 1000] ^= 0x10;  // bit 4 of byte 1000 of segment 2
  LogFileReader reader{Bytes(damaged)};
  std::vector<Buffer> got;
  read_all(reader, &got);
  EXPECT_EQ(got, records);
  EXPECT_EQ(reader.stats().corrected_bits, 1u);
  ASSERT_FALSE(reader.problems().empty());
  EXPECT_NE(reader.problems()[0].text.find("bit 8004"), std::string::npos) << reader.problems()[0].text;
  // Two bits: the segment is damaged, the data ends before it.
  damaged[logfmt::kSectorSize * 2 + 1500] ^= 0x01;
  LogFileReader two{Bytes(damaged)};
  const auto some = read_all(two);
  EXPECT_LT(some.size(), records.size());
  for (const LogRecord& r : some) EXPECT_EQ(r.position.sector, 1);
  EXPECT_EQ(two.stats().segments[static_cast<int>(SegmentStatus::Damaged)], 1u);
  EXPECT_GE(two.stats().valid_after_end, 1u);
}

TEST(LogFileReader, HostileLengthsEndInProblemsNotCrashes) {
  std::vector<Buffer> records = {begin0(9, 5)};
  Buffer begin(7 + 4, 0);
  begin[0] = logfmt::kFragmentBegin;
  put32(begin, 1, 0xFFFFFFF0u);  // a total no record can have
  put16(begin, 5, 4);
  records.push_back(begin);
  Buffer runaway = insert(5, 10, 0);
  put16(runaway, 48, 0xFFFF);  // data length past the segment end
  records.push_back(runaway);
  const Buffer file = build_log(records);
  LogFileReader reader{Bytes(file)};
  const auto got = read_all(reader);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(reader.problems().size(), 2u);
  EXPECT_NE(reader.problems()[0].text.find("FragmentBegin claims"), std::string::npos);
  EXPECT_NE(reader.problems()[1].text.find("runs past the segment end"), std::string::npos);
  // Every prefix of the file reads without fault.
  for (std::size_t n = 0; n < file.size(); n += 1531) {
    LogFileReader cut{Bytes(file.data(), n)};
    read_all(cut);
  }
}

TEST(TransactionTracker, OutcomesAndInnerRollbacks) {
  std::vector<Buffer> records = {begin0(9, 5), insert(5, 10, 0), small(logfmt::kCommit, 9, 1),
                                 small(logfmt::kCommit0, 9, 0),
                                 begin0(9, 6), insert(6, 10, 0), small(logfmt::kRollback, 9, 2),
                                 begin0(10, 7), insert(7, 10, 0, 10)};
  // Session 9 again: level 2 rolled back, level 1 committed.
  Buffer b = small(logfmt::kBegin, 9, 0x11);  // from level 1, one level
  records.insert(records.end(), {begin0(9, 8), b, insert(8, 10, 0), small(logfmt::kRollback, 9, 1),
                                 small(logfmt::kCommit0, 9, 0)});
  const Buffer file = build_log(records);
  auto folder = LogFolder::from_memory({{"edb.log", file}});
  std::vector<TransactionEntry> entries;
  TransactionTracker tracker([&](const TransactionEntry& e) { entries.push_back(e); });
  LogStream stream(folder);
  LogRecord r;
  std::vector<LogPosition> inserts;
  while (stream.next(r)) {
    if (r.type == logfmt::kInsert) inserts.push_back(r.position);
    tracker.feed(r, summarize(r));
  }
  tracker.finish();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].outcome, Outcome::Committed);
  EXPECT_EQ(entries[0].counts.inserts, 1u);
  EXPECT_EQ(entries[1].outcome, Outcome::RolledBack);
  EXPECT_EQ(entries[2].trx, 8u);
  EXPECT_EQ(entries[2].outcome, Outcome::Committed);
  EXPECT_EQ(entries[3].procid, 10);
  EXPECT_EQ(entries[3].outcome, Outcome::Open);
  OutcomeIndex index;
  for (const auto& e : entries) index.add(e);
  index.set_inner(tracker.inner_rollbacks());
  EXPECT_EQ(index.outcome(9, 5, 2, inserts[0]), Outcome::Committed);
  EXPECT_EQ(index.outcome(9, 8, 2, inserts[3]), Outcome::RolledBack);  // its level was rolled back
  EXPECT_EQ(index.outcome(10, 7, 2, inserts[2]), Outcome::Open);
}

TEST(LogRecordFields, NamedFieldsAndVariableParts) {
  // AttachDB: signatures, the consistent position and a UTF-16LE path.
  const std::u16string name = u"C:\\db.edb";
  Buffer attach(75 + (name.size() + 1) * 2, 0);
  attach[0] = logfmt::kAttachDB;
  put16(attach, 1, 0xFFFF);
  attach[3] = 2;
  put16(attach, 8, 0x28);
  put16(attach, 10, 7);
  put32(attach, 12, 0x51);
  attach[16] = 0xAB;
  put16(attach, 72, static_cast<std::uint16_t>((name.size() + 1) * 2));
  attach[74] = logfmt::kAttachDBUnicode;
  for (std::size_t i = 0; i < name.size(); ++i) put16(attach, 75 + 2 * i, name[i]);
  LogRecord r;
  r.type = attach[0];
  r.bytes = Bytes(attach);
  const RecordSummary s = summarize(r);
  EXPECT_FALSE(s.procid.has_value());  // procidNil: no session
  EXPECT_EQ(*s.dbid, 2);
  std::vector<LogField> fields;
  decode_fields(r, fields);
  std::map<std::string, const LogField*> by_name;
  for (const LogField& f : fields) by_name[f.name] = &f;
  ASSERT_TRUE(by_name.count("path"));
  EXPECT_EQ(by_name["path"]->text, "C:\\db.edb");
  EXPECT_EQ(position_text(by_name["consistent"]->position), "000051,0007,0028");
  EXPECT_EQ(by_name["db_signature"]->bytes[0], 0xAB);
  EXPECT_FALSE(by_name.count("procid"));  // the summary carries it

  // Split2: fixed fields, then parent key, old and new prefixes and the page image.
  Buffer split(110 + 3 + 2 + 1 + 5, 0);
  split[0] = logfmt::kSplit2;
  put32(split, 4, 300);
  put32(split, 32, 301);
  put32(split, 64, 12);
  split[68] = 1;
  put16(split, 96, 2);
  put16(split, 98, 1);
  put16(split, 100, 3);
  put32(split, 106, 5);
  for (std::size_t i = 110; i < split.size(); ++i) split[i] = static_cast<std::uint8_t>(i);
  r.type = split[0];
  r.bytes = Bytes(split);
  EXPECT_EQ(record_size(r.bytes).size, split.size());
  const RecordSummary ss = summarize(r);
  EXPECT_TRUE(ss.page_record);
  EXPECT_FALSE(ss.node_record);
  EXPECT_EQ(*ss.objid, 12u);
  decode_fields(r, fields);
  by_name.clear();
  for (const LogField& f : fields) by_name[f.name] = &f;
  EXPECT_EQ(by_name["new_page"]->u, 301u);
  EXPECT_EQ(by_name["split_type"]->u, 1u);
  EXPECT_EQ(by_name["parent_key"]->bytes.size(), 3u);
  EXPECT_EQ(by_name["parent_key"]->bytes[0], 110);
  EXPECT_EQ(by_name["old_prefix"]->bytes[0], 113);
  EXPECT_EQ(by_name["new_prefix"]->bytes[0], 115);
  EXPECT_EQ(by_name["page_image"]->bytes.size(), 5u);
  // A record cut short keeps what it has: no field reads past its end.
  r.bytes = Bytes(split).first(104);
  decode_fields(r, fields);
  for (const LogField& f : fields) {
    if (!f.bytes.empty()) {
      EXPECT_LE(f.bytes.data() + f.bytes.size(), split.data() + 104);
    }
  }
}

// A log of `generation` with its creation time, its predecessor's, and a log
// signature made of `signature` bytes when given, the writer's own otherwise (the
// segments name the generation too).
Buffer log_of(std::uint32_t generation, std::uint64_t created, std::uint64_t previous, std::optional<std::uint8_t> signature = std::nullopt) {
  Buffer file = build_log({begin0(9, generation)});
  put32(file, logfmt::kHeaderGeneration, generation);
  put64(file, logfmt::kHeaderCreateTime, created);
  put64(file, logfmt::kHeaderPreviousTime, previous);
  if (signature) std::fill_n(file.begin() + logfmt::kHeaderSignature, logfmt::kSignatureSize, *signature);
  for (std::size_t s = 1; s < 3; ++s) {
    put32(file, s * logfmt::kSectorSize + logfmt::kSegmentPosition + 4, generation);
    put64(file, s * logfmt::kSectorSize,
          ecc_checksum(Bytes(file.data() + s * logfmt::kSectorSize, logfmt::kSectorSize),
                       static_cast<std::uint32_t>(s), true));
  }
  put32(file, 0, xor_checksum(Bytes(file.data(), logfmt::kSectorSize)));
  return file;
}

TEST(LogFolder, ChainGapsAndCheckpointFromMemory) {
  Buffer checkpoint(2 * logfmt::kSectorSize, 0);
  put32(checkpoint, logfmt::kCheckpointPosition + 4, 7);
  put32(checkpoint, logfmt::kCheckpointFileType, logfmt::kFileTypeCheckpoint);
  put32(checkpoint, 0, xor_checksum(Bytes(checkpoint.data(), logfmt::kSectorSize)));
  auto folder = LogFolder::from_memory({{"edb00005.log", log_of(5, 0x11, 0x10)},
                                        {"edb00006.log", log_of(6, 0x12, 0x11)},
                                        {"edb.log", log_of(8, 0x14, 0x13)},
                                        {"edb.chk", checkpoint}});
  ASSERT_EQ(folder.stream_order().size(), 3u);
  EXPECT_EQ(*folder.lowest_generation(), 5u);
  EXPECT_EQ(*folder.highest_generation(), 8u);
  ASSERT_EQ(folder.chain().size(), 1u);
  EXPECT_TRUE(folder.chain()[0].time_ok);
  ASSERT_EQ(folder.gaps().size(), 1u);
  EXPECT_EQ(folder.gaps()[0].first, 7u);
  ASSERT_TRUE(folder.checkpoint().has_value());
  // The second copy is all zero: its checksum fails, the first still gives the facts.
  EXPECT_TRUE(folder.checkpoint()->readable);
  EXPECT_EQ(folder.checkpoint()->checkpoint.generation, 7u);
  EXPECT_FALSE(folder.checkpoint()->copies[1].checksum_ok);
  EXPECT_TRUE(folder.checksum_failed());
  EXPECT_EQ(folder.files()[1].role, FileRole::Older);
  EXPECT_EQ(folder.files()[0].role, FileRole::Current);
}

// A header with a valid XOR checksum is a log's only when its format version is one:
// the database header carries the same checksum over its first page.
TEST(LogHeader, OnlyKnownFormatVersionsAreLogs) {
  const auto kind_with_major = [](std::uint32_t major) {
    Buffer file = build_log({});
    put32(file, logfmt::kHeaderMajor, major);
    put32(file, 0, xor_checksum(Bytes(file.data(), logfmt::kSectorSize)));
    return read_log_header(Bytes(file)).kind;
  };
  EXPECT_EQ(kind_with_major(logfmt::kSegmentFormatMajor), HeaderKind::Log);
  EXPECT_EQ(kind_with_major(logfmt::kLegacyFormatMajor), HeaderKind::Legacy);
  EXPECT_EQ(kind_with_major(0x0A2B3C03), HeaderKind::NotLog);
  LogHeader damaged;
  damaged.kind = HeaderKind::BadChecksum;
  damaged.major = logfmt::kSegmentFormatMajor;
  EXPECT_TRUE(damaged.looks_like_log());
  damaged.major = 0x0A2B3C03;
  EXPECT_FALSE(damaged.looks_like_log());
}

// The stream names what it leaves out and what it found damaged, file first, once the
// file's reading ends: the records after a damaged segment are lost, and said so.
TEST(LogStream, ProblemsNameTheFileAndTheSegment) {
  std::vector<Buffer> records;
  for (std::uint8_t k = 0; k < 20; ++k) records.push_back(insert(100, 300, k));
  Buffer damaged = build_log(records);
  damaged[1 * logfmt::kSectorSize + 100] ^= 0x03;  // two bits: no correction
  Buffer text(100, 'x');
  auto folder = LogFolder::from_memory({{"edb.log", damaged}, {"notes.log", text}});
  EXPECT_TRUE(folder.read_failed());
  LogStream stream(folder);
  LogRecord r;
  std::size_t n = 0;
  while (stream.next(r)) ++n;
  EXPECT_LT(n, records.size());
  ASSERT_GE(stream.problems().size(), 2u);
  EXPECT_EQ(stream.problems()[0].rfind("notes.log: not read: ", 0), 0u) << stream.problems()[0];
  EXPECT_EQ(stream.problems()[1].rfind("edb.log: 000051,0001,0000 segment 1 damaged", 0), 0u) << stream.problems()[1];
  EXPECT_FALSE(stream.failed());
}


// A dirty database that needs generations 0x50 and 0x51 of the logs signed `signature`,
// the last one created at `gen_max_time`.
std::unique_ptr<Database> dirty_database(std::uint8_t signature, std::uint64_t gen_max_time) {
  test::DbImage image = test::minimal_image();
  Buffer& b = image.bytes();
  put32(b, logfmt::kDbState, logfmt::kDbStateDirty);
  std::fill_n(b.begin() + logfmt::kDbLogSignature, logfmt::kSignatureSize, signature);
  put32(b, logfmt::kDbGenMin, 0x50);
  put32(b, logfmt::kDbGenMax, 0x51);
  put64(b, logfmt::kDbGenMaxTime, gen_max_time);
  auto db = image.open();
  return db ? std::move(db).value() : nullptr;
}

// A generation is present when its log chains to the database: the database's log
// signature, and the creation time the next generation (for the last: the header)
// names. Logs that carry none of its signature are another database's.
TEST(DatabaseNeeds, PresentMeansChained) {
  struct Case {
    const char* what;
    std::uint8_t db_signature;
    std::uint64_t gen_max_time;
    std::uint64_t previous_of_last;
    std::vector<std::uint32_t> present, unchained;
    bool another;
  };
  const Case cases[] = {
      {"chained", 0xA1, 0x11, 0x10, {0x50, 0x51}, {}, false},
      {"the last names another predecessor", 0xA1, 0x11, 0x99, {0x51}, {0x50}, false},
      {"the header names another last log", 0xA1, 0x77, 0x10, {0x50}, {0x51}, false},
      {"another database's logs", 0xB2, 0x11, 0x10, {}, {0x50, 0x51}, true},
      {"a header that names no logs", 0x00, 0x11, 0x10, {0x50, 0x51}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto folder = LogFolder::from_memory({{"edb00050.log", log_of(0x50, 0x10, 0x0F, 0xA1)},
                                                {"edb.log", log_of(0x51, 0x11, c.previous_of_last, 0xA1)}});
    const auto db = dirty_database(c.db_signature, c.gen_max_time);
    ASSERT_NE(db, nullptr);
    const DatabaseNeeds n = assess_database(*db, folder);
    EXPECT_EQ(n.needed, (std::vector<std::uint32_t>{0x50, 0x51}));
    EXPECT_EQ(n.present, c.present);
    EXPECT_EQ(n.unchained, c.unchained);
    EXPECT_EQ(n.another_database, c.another);
    EXPECT_EQ(n.failed(), !c.unchained.empty());
    EXPECT_EQ(needed_generations(*db, folder).missing, n.missing);
    if (c.another) {
      EXPECT_EQ(n.replay_records, 0u);
      EXPECT_EQ(needs_verdict(folder, n).rfind("these logs belong to another database: log signature ", 0), 0u);
      RowChangeReader changes(folder, *db);
      RowChange change;
      EXPECT_FALSE(changes.next(change));
      EXPECT_TRUE(changes.failed());
    }
  }
}

}  // namespace
}  // namespace quarrow::logs
