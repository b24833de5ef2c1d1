// Whole-file verification on real files, and on copies with damage put in on purpose.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db_builder.h"
#include "forensic/verify.h"

namespace quarrow {
namespace {

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Verify, RealFilesVerifyExceptSrumForeignTail) {
  for (const char* name : {"basic.edb", "binary.edb", "default.edb", "index.edb", "large.edb", "multi.edb",
                           "search-catalog.edb", "srum-small.dat", "text.edb", "ual-current.mdb"}) {
    const std::string path = test::real_data_path(name);
    if (path.empty()) GTEST_SKIP() << "../shared/data is not available";
    Result<std::unique_ptr<Database>> db = Database::open(path);
    ASSERT_TRUE(db.ok()) << name;
    Result<VerifyReport> report = verify_database(**db);
    ASSERT_TRUE(report.ok()) << name;
    std::vector<std::int64_t> pages;
    for (const PageProblem& p : report->problems) pages.push_back(p.page);
    std::vector<std::int64_t> expected;
    if (std::string(name) == "srum-small.dat") {
      const std::int64_t total = (*db)->total_pages();
      for (std::int64_t p = total - 16; p < total; ++p) expected.push_back(p + 1);
    }
    EXPECT_EQ(pages, expected) << name;
    EXPECT_EQ(report->pages_checked, (*db)->bytes().size() / (*db)->page_size()) << name;
  }
}

// Damage in a 4 KiB page (one block) and in a 32 KiB page (four blocks; the third
// block's value lives in the extended header), a header copy, and a page copied over
// another.
TEST(Verify, DamageIsReportedWithTheFlippedBit) {
  for (const char* name : {"basic.edb", "large.edb"}) {
    const std::string path = test::real_data_path(name);
    if (path.empty()) GTEST_SKIP() << "../shared/data is not available";
    std::vector<std::uint8_t> file = read_file(path);
    const std::uint32_t ps = load_u32le(Bytes(file), 236);
    const std::size_t page5 = 6 * ps, page7 = 8 * ps;
    const std::uint32_t bit = ps * 8 * 5 / 8 + 3;  // inside the third block of a large page
    file[page5 + bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    file[ps + 100] ^= 0x40;                                                   // shadow header
    std::copy_n(file.begin() + 2 * ps, ps, file.begin() + static_cast<long>(page7));  // page 1 over page 7
    Result<VerifyReport> report = verify_file(Bytes(file), ps);
    ASSERT_TRUE(report.ok());
    ASSERT_EQ(report->problems.size(), 3u) << name;
    EXPECT_EQ(report->problems[0].page, kShadowHeaderPage);
    EXPECT_EQ(report->problems[1].page, 5);
    EXPECT_STREQ(report->problems[1].problem, kChecksumMismatch);
    EXPECT_EQ(report->problems[1].bit, std::optional<std::uint32_t>(bit)) << name;
    EXPECT_EQ(report->problems[2].page, 7);
    EXPECT_STREQ(report->problems[2].problem, kPageNumberMismatch);
  }
}

TEST(Verify, ZeroPagesAreUninitialisedAndOddPageSizesFail) {
  std::vector<std::uint8_t> file(6 * 4096, 0);
  Result<VerifyReport> report = verify_file(Bytes(file), 4096);
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(report->uninitialised, 4u);
  EXPECT_EQ(report->problems.size(), 2u);  // zero header copies do not verify
  EXPECT_FALSE(verify_file(Bytes(file), 4100).ok());
  EXPECT_FALSE(verify_file(Bytes(file), 65536).ok());
}

}  // namespace
}  // namespace quarrow
