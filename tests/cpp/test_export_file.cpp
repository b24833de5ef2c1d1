#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "database/database.h"
#include "export/export_file.h"
#include "temp_folder.h"

namespace quarrow {
namespace {

using test::read_file;
using test::TempFolder;
using test::write_file;

namespace fs = std::filesystem;

// The system's codes for the failures checked below.
#ifdef _WIN32
constexpr int kNotFound = 3;        // ERROR_PATH_NOT_FOUND
constexpr int kExists = 183;        // ERROR_ALREADY_EXISTS
constexpr int kNotADirectory = 183;  // the file in the way already exists
#else
constexpr int kNotFound = 2;        // ENOENT
constexpr int kExists = 17;         // EEXIST
constexpr int kNotADirectory = 20;  // ENOTDIR
#endif

// ---- file names and directories ----------------------------------------------------

struct NameCase {
  const char* label;
  std::string table;
  std::optional<std::string> file;
};

class ExportFileName : public testing::TestWithParam<NameCase> {};

TEST_P(ExportFileName, KeepsPlainNamesAndRefusesPathSyntax) {
  const auto name = export_file_name(GetParam().table);
  if (!GetParam().file) {
    ASSERT_FALSE(name);
    EXPECT_EQ(name.error().kind(), ErrorKind::Refused);
    EXPECT_EQ(name.error().message(),
              "Failed to create output file: unsafe table name for a file name: " + GetParam().table);
    return;
  }
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, *GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExportFileName,
    testing::Values(NameCase{"Plain", "MSysObjects", "MSysObjects.jsonl"},
                    NameCase{"Empty", "", ".jsonl"},
                    NameCase{"Dot", ".", "..jsonl"},
                    NameCase{"DotDot", "..", "...jsonl"},
                    NameCase{"BracesAndSpaces", "{D10CA2FE} a b", "{D10CA2FE} a b.jsonl"},
                    NameCase{"ReplacementChar", "T\xef\xbf\xbd", "T\xef\xbf\xbd.jsonl"},
                    NameCase{"Slash", "a/b", std::nullopt},
                    NameCase{"ParentTraversal", "../x", std::nullopt},
                    NameCase{"Absolute", "/etc/x", std::nullopt},
                    NameCase{"Nul", std::string("a\0b", 3), std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OutputFilePath, AddsOneSeparatorOnlyWhenNeeded) {
  EXPECT_EQ(output_file_path("", "t.jsonl"), "t.jsonl");
  EXPECT_EQ(output_file_path("out", "t.jsonl"), "out/t.jsonl");
  EXPECT_EQ(output_file_path("out/", "t.jsonl"), "out/t.jsonl");
}

TEST(CreateOutputDirectory, CreatesParentsAndAcceptsExisting) {
  TempFolder tmp;
  const std::string deep = tmp / "a/b//c/";
  EXPECT_TRUE(create_output_directory(deep).ok());
  EXPECT_TRUE(fs::is_directory(tmp / "a/b/c"));
  EXPECT_TRUE(create_output_directory(deep).ok());
  EXPECT_TRUE(create_output_directory(tmp / "a/b/../d").ok());
  EXPECT_TRUE(fs::is_directory(tmp / "a/d"));
  EXPECT_TRUE(create_output_directory("").ok());
}

TEST(CreateOutputDirectory, ReportsOsErrorForFilesInTheWay) {
  TempFolder tmp;
  write_file(tmp / "f", "x");
  const Status in_the_way = create_output_directory(tmp / "f");
  ASSERT_FALSE(in_the_way);
  EXPECT_EQ(in_the_way.error().os_code(), kExists);
  EXPECT_EQ(in_the_way.error().message(),
            "Failed to create output directory: " + platform::system_error(kExists).os_error_text());
  const Status under_a_file = create_output_directory(tmp / "f/sub/dir");
  ASSERT_FALSE(under_a_file);
  EXPECT_EQ(under_a_file.error().message(),
            "Failed to create output directory: " + platform::system_error(kNotADirectory).os_error_text());
}

// ---- exporting a real table -----------------------------------------------------------

class ExportTable : public testing::Test {
 protected:
  void SetUp() override {
    // The databases sit next to the checkout, or in the folder QUARROW_DATA names (as
    // for the Python tests); run from the repository root or from anywhere (the path
    // of this source file leads there too).
    std::string source = "../shared/data/basic.edb";
    if (const char* data = std::getenv("QUARROW_DATA"); data != nullptr && *data != '\0') {
      source = (fs::path(data) / "basic.edb").string();
    }
    if (!fs::exists(source)) source = (fs::path(__FILE__).parent_path() / "../../../shared/data/basic.edb").string();
    if (!fs::exists(source)) GTEST_SKIP() << "test databases not available";
    // Work on a private copy: the same-file checks below aim the export at it.
    db_path_ = tmp_ / "basic.edb";
    fs::copy_file(source, db_path_);
    original_ = read_file(db_path_);
    auto db = Database::open(db_path_);
    ASSERT_TRUE(db.ok()) << db.error().to_string();
    db_ = std::move(db).value();
    identity_ = file_identity(db_path_);
    ASSERT_TRUE(identity_.has_value());
  }

  Status run(std::string_view table, const std::string& out) {
    return export_table_file(*db_, table, out, identity_);
  }

  TempFolder tmp_;
  std::string db_path_;
  std::string original_;
  std::unique_ptr<Database> db_;
  std::optional<FileIdentity> identity_;
};

TEST_F(ExportTable, WritesOneObjectPerLineAndTruncates) {
  const std::string out = tmp_ / "basic.jsonl";
  write_file(out, std::string(100000, 'x'));
  ASSERT_TRUE(run("basic", out).ok());
  const std::string text = read_file(out);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    EXPECT_NE(line.find("\"Id\":" + std::to_string(count) + ","), std::string::npos) << line;
  }
  EXPECT_EQ(count, 2);
}

TEST_F(ExportTable, UnknownTableCreatesAndChangesNothing) {
  const std::string existing = tmp_ / "keep.jsonl";
  write_file(existing, "old");
  const Status f = run("Basic", existing);
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().context(), ErrorContext::None);
  EXPECT_EQ(f.error().kind(), ErrorKind::TableNotFound);
  EXPECT_EQ(read_file(existing), "old");
  EXPECT_FALSE(run("nope", tmp_ / "new.jsonl").ok());
  EXPECT_FALSE(fs::exists(tmp_ / "new.jsonl"));
}

TEST_F(ExportTable, MissingDirectoryIsCreateFileFailure) {
  const Status f = run("basic", tmp_ / "missing/x.jsonl");
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().context(), ErrorContext::CreatingOutputFile);
  EXPECT_EQ(f.error().message(), "Failed to create output file: " + platform::system_error(kNotFound).os_error_text());
}

TEST_F(ExportTable, RefusesTheDatabaseFileUnderAnyName) {
  std::vector<std::string> targets = {db_path_, tmp_ / "./basic.edb"};
  // Links where the system lets this process make them (Windows asks for a privilege).
  std::error_code ec;
  fs::create_symlink(db_path_, tmp_ / "link.jsonl", ec);
  if (!ec) targets.push_back(tmp_ / "link.jsonl");
  fs::create_hard_link(db_path_, tmp_ / "hard.jsonl", ec);
  if (!ec) targets.push_back(tmp_ / "hard.jsonl");
  for (const std::string& target : targets) {
    const Status f = run("basic", target);
    ASSERT_FALSE(f) << target;
    EXPECT_EQ(f.error().kind(), ErrorKind::Refused);
    EXPECT_EQ(f.error().message(), "Failed to create output file: the output path is the database file itself: " + target);
  }
  EXPECT_EQ(read_file(db_path_), original_);
}

// A database read with its logs: their files are refused as outputs as the database
// file is, by name and by link, and left as they were; a path of no log is written.
TEST_F(ExportTable, RefusesTheFilesOfTheLogFolder) {
  const std::string log = tmp_ / "edb.log";
  write_file(log, "log bytes");
  const auto log_id = file_identity(log);
  ASSERT_TRUE(log_id.has_value());
  const std::vector<FileIdentity> logs = {*log_id};
  std::vector<std::string> targets = {log};
  std::error_code ec;
  fs::create_hard_link(log, tmp_ / "hard-log.jsonl", ec);
  if (!ec) targets.push_back(tmp_ / "hard-log.jsonl");
  for (const std::string& target : targets) {
    const Status f = export_table_file(*db_, "basic", target, identity_, nullptr, &logs);
    ASSERT_FALSE(f) << target;
    EXPECT_EQ(f.error().kind(), ErrorKind::Refused);
    EXPECT_EQ(f.error().context(), ErrorContext::CreatingOutputFile);
    EXPECT_EQ(f.error().message(), "Failed to create output file: the output path is a file of the log folder: " + target);
  }
  EXPECT_EQ(read_file(log), "log bytes");
  EXPECT_TRUE(export_table_file(*db_, "basic", tmp_ / "out.jsonl", identity_, nullptr, &logs).ok());
}

}  // namespace
}  // namespace quarrow
