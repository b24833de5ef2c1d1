// The output sink both front ends write through: which file it agrees to cut, when
// the bytes reach the file under each flush policy, and how the row loop ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db_builder.h"
#include "export/sink.h"
#include "temp_folder.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempFolder;
using test::write_file;

// Every row out at once, and rows gathered into blocks of 64 bytes.
constexpr FlushPolicy kEachRow{0};
constexpr FlushPolicy kSmallBlocks{64};

// A refusal of one file, by its identity.
OutputSink::Refusal refuse_file(const std::string& path) {
  const auto protected_file = platform::file_identity(path);
  return [protected_file](const platform::FileIdentity& target) -> Status {
    if (protected_file && target == *protected_file) return EseError::refused("refused");
    return Status::success();
  };
}

// ---- creating: refused files stay whole, accepted ones are cut ----------------------

struct CreateCase {
  const char* label;
  NameCheck check;
  bool through_link;  // the output name is a second (hard) link to the protected file
};

class SinkCreate : public testing::TestWithParam<CreateCase> {};

TEST_P(SinkCreate, RefusedFileKeepsEveryByteAndOthersAreTruncated) {
  TempFolder folder;
  const std::string input = folder.path("input.edb");
  write_file(input, "database bytes");
  std::string target = input;
  if (GetParam().through_link) {
    target = folder.path("out.jsonl");
    std::error_code ec;
    fs::create_hard_link(input, target, ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
  }
  for (const FlushPolicy policy : {kEachRow, kSmallBlocks}) {
    const auto sink = OutputSink::create(target, policy, refuse_file(input), GetParam().check);
    ASSERT_FALSE(sink);
    EXPECT_EQ(sink.error().message(), "refused");
  }
  EXPECT_EQ(read_file(input), "database bytes");

  // Another file with older, longer contents: accepted, cut to the new rows alone.
  const std::string other = folder.path("other.jsonl");
  write_file(other, "an older and much longer export\n");
  {
    auto sink = OutputSink::create(other, kSmallBlocks, refuse_file(input), GetParam().check);
    ASSERT_TRUE(sink) << sink.error().message();
    sink->buffer() += "{}\n";
    ASSERT_TRUE(sink->commit().ok());
    ASSERT_TRUE(sink->finish().ok());
  }
  EXPECT_EQ(read_file(other), "{}\n");
}

INSTANTIATE_TEST_SUITE_P(Checks, SinkCreate,
                         testing::Values(CreateCase{"NameFirst", NameCheck::First, false},
                                         CreateCase{"OpenedOnly", NameCheck::OpenedFileOnly, false},
                                         CreateCase{"NameFirstHardLink", NameCheck::First, true},
                                         CreateCase{"OpenedOnlyHardLink", NameCheck::OpenedFileOnly, true}),
                         [](const auto& info) { return std::string(info.param.label); });

#ifndef _WIN32
// By name first, a refusal does not depend on whether the file could be opened for
// writing: a directory cannot, and is refused by the refusal's message, not by the
// system's; looking at the opened file only, the failure to open comes first.
TEST(SinkCreate, NameCheckRefusesWhatCannotBeOpened) {
  TempFolder folder;
  const std::string dir = folder.path("input_dir");
  fs::create_directories(dir);
  const auto by_name = OutputSink::create(dir, kEachRow, refuse_file(dir), NameCheck::First);
  ASSERT_FALSE(by_name);
  EXPECT_EQ(by_name.error().message(), "refused");
  const auto opened = OutputSink::create(dir, kEachRow, refuse_file(dir), NameCheck::OpenedFileOnly);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().kind(), ErrorKind::Io);
  EXPECT_EQ(opened.error().message().rfind("Failed to create output file: ", 0), 0u) << opened.error().message();
}
#endif

// ---- flushing -------------------------------------------------------------------------

// Rows reach the file once the gathered ones fill a block (at once with no block),
// the rest at flush() or finish(); a row never goes out in part.
TEST(SinkFlush, RowsGoOutWhenTheyFillABlock) {
  TempFolder folder;
 for (const FlushPolicy policy : {kEachRow, kSmallBlocks}) {
    const std::string path = folder.path("rows" + std::to_string(policy.block_bytes) + ".jsonl");
    auto sink = OutputSink::create(path, policy);
    ASSERT_TRUE(sink) << sink.error().message();
    std::string expected;
    std::string committed;  // what the file must hold after each commit
    for (int i = 0; i < 12; ++i) {
      const std::string row = "{\"row\":" + std::to_string(i) + "}\n";  // 10 or 11 bytes
      sink->buffer() += row;
      expected += row;
      ASSERT_TRUE(sink->commit().ok());
      if (expected.size() - committed.size() >= policy.block_bytes) committed = expected;
      EXPECT_EQ(read_file(path), committed) << "block " << policy.block_bytes << ", row " << i;
    }
    ASSERT_TRUE(sink->flush().ok());
    EXPECT_EQ(read_file(path), expected);
    sink->buffer() += "last\n";
    ASSERT_TRUE(sink->finish().ok());
    EXPECT_EQ(read_file(path), expected + "last\n");
  }
}

#ifndef _WIN32
// A full device: with no block the row's commit fails, with a block finish() does;
// both say why, and a failed sink does not finish as if it had succeeded.
TEST(SinkFlush, WriteErrorsAreReportedUnderEitherPolicy) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
 for (const FlushPolicy policy : {kEachRow, kSmallBlocks}) {
    auto sink = OutputSink::create("/dev/full", policy);
    ASSERT_TRUE(sink) << sink.error().message();
    sink->buffer() += "{}\n";
    EXPECT_EQ(sink->commit().ok(), policy.block_bytes != 0);
    const Status finished = sink->finish();
    ASSERT_FALSE(finished);
    EXPECT_EQ(finished.error().context(), ErrorContext::WritingOutput);
    EXPECT_EQ(finished.error().message().rfind("Write error: ", 0), 0u) << finished.error().message();
    EXPECT_FALSE(sink->finish().ok());
  }
}
#endif

// ---- the row loop ---------------------------------------------------------------------

struct PumpCase {
  const char* label;
  int rows_available;
  std::optional<std::uint64_t> limit;
  bool error_after_rows;  // the reader fails where the rows run out
  PumpResult::End end;
  std::uint64_t rows_written;
};

class PumpRows : public testing::TestWithParam<PumpCase> {};

TEST_P(PumpRows, StopsAtTheEndTheLimitOrTheError) {
  const PumpCase& c = GetParam();
  auto db = test::minimal_image().open();
  ASSERT_TRUE(db.ok());
  TempFolder folder;
  auto sink = OutputSink::create(folder.path("rows.jsonl"), kSmallBlocks);
  ASSERT_TRUE(sink) << sink.error().message();
  sink->buffer() = "header\n";
  int produced = 0;
  std::uint64_t after = 0;
  const PumpResult result = pump_rows(
      **db, *sink, c.limit,
      [&](std::string& out) {
        if (produced == c.rows_available) return c.error_after_rows ? RowStep::Error : RowStep::End;
        out += std::to_string(produced++) + "\n";
        return RowStep::Row;
      },
      [&] { ++after; });
  EXPECT_EQ(result.end, c.end);
  EXPECT_EQ(result.rows, c.rows_written);
  EXPECT_EQ(after, c.rows_written);
  ASSERT_TRUE(sink->finish().ok());
  const std::string written = read_file(folder.path("rows.jsonl"));
  EXPECT_EQ(result.bytes, written.size());
  std::string expected = "header\n";
  for (std::uint64_t i = 0; i < c.rows_written; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, PumpRows,
    testing::Values(PumpCase{"Empty", 0, std::nullopt, false, PumpResult::End::Done, 0},
                    PumpCase{"AllRows", 5, std::nullopt, false, PumpResult::End::Done, 5},
                    PumpCase{"LimitCuts", 5, 3, false, PumpResult::End::Limit, 3},
                    PumpCase{"LimitZero", 5, 0, false, PumpResult::End::Limit, 0},
                    // Exactly as many rows as the limit: the caller learns it stopped at
                    // the limit and looks whether there were more.
                    PumpCase{"LimitEqualsRows", 3, 3, false, PumpResult::End::Limit, 3},
                    PumpCase{"ReadErrorKeepsEarlierRows", 4, std::nullopt, true, PumpResult::End::ReadError, 4},
                    PumpCase{"ReadErrorBeforeLimit", 2, 10, true, PumpResult::End::ReadError, 2}),
    [](const auto& info) { return std::string(info.param.label); });

#ifndef _WIN32
TEST(PumpRowsWriteError, StopsAtTheFirstFailedRow) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto db = test::minimal_image().open();
  ASSERT_TRUE(db.ok());
  auto sink = OutputSink::create("/dev/full", kEachRow);
  ASSERT_TRUE(sink) << sink.error().message();
  int rendered = 0;
  const PumpResult result = pump_rows(
      **db, *sink, std::nullopt,
      [&](std::string& out) {
        ++rendered;
        out += "row\n";
        return RowStep::Row;
      },
      [] {});
  EXPECT_EQ(result.end, PumpResult::End::WriteError);
  EXPECT_EQ(rendered, 1);
  EXPECT_FALSE(sink->finish().ok());
}
#endif

}  // namespace
}  // namespace quarrow
