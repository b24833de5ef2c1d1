// The system services on the system the tests run on (Linux natively, Windows under
// Wine in scripts/test.sh): UTF-8 names with spaces and non-ASCII characters, paths
// past the classic Windows limit of 260 characters, and the error codes callers rely on.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "error/ese_error.h"
#include "platform/platform.h"

namespace quarrow::platform {
namespace {

namespace fs = std::filesystem;

// A UTF-8 string as a path, whatever the system's narrow code page.
fs::path native(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

class Platform : public testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = (fs::path(testing::TempDir()) / ("quarrow_platform_" + std::to_string(stamp))).generic_string();
    // A space, Latin, Greek and CJK letters and an emoji (a UTF-16 surrogate pair).
    dir_ = root_ + "/d\xc3\xa9j\xc3\xa0 vu \xce\xb1\xce\xb2 \xe6\x95\xb0\xe6\x8d\xae \xf0\x9f\x93\x81";
    ASSERT_EQ(create_directories(dir_), 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(native(root_), ec);
  }
  void write(const std::string& path, const std::string& data) {
    std::ofstream(native(path), std::ios::binary) << data;
  }
  std::string read(const std::string& path) {
    std::ifstream in(native(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string root_;
  std::string dir_;
};

TEST_F(Platform, MapsFilesUnderAnyNameReadOnly) {
  // Three times the classic limit, in steps that each stay below a name's 255.
  std::string long_dir = dir_;
  while (long_dir.size() < 800) long_dir += "/" + std::string(100, 'n');
  ASSERT_EQ(create_directories(long_dir), 0);
  for (const std::string& path : {dir_ + "/\xe2\x82\xac file.edb", long_dir + "/x.edb"}) {
    SCOPED_TRACE(path);
    OutputFile out;
    ASSERT_EQ(out.open(path), 0);
    ASSERT_EQ(out.write_all("ab\ncd\n", 6), 0);
    ASSERT_EQ(out.close(), 0);
    ReadOnlyMapping mapping;
    ASSERT_EQ(map_file_read_only(path, mapping), 0);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(mapping.data()), mapping.size()), "ab\ncd\n");
    mapping.release_resident_pages();  // the bytes come back unchanged
    EXPECT_EQ(mapping.data()[4], 'd');
    EXPECT_TRUE(path_exists(path));
    EXPECT_TRUE(file_identity(path).has_value());
  }

  write(dir_ + "/empty", "");
  ReadOnlyMapping empty;
  ASSERT_EQ(map_file_read_only(dir_ + "/empty", empty), 0);
  EXPECT_EQ(empty.size(), 0u);

  ReadOnlyMapping failed;
  EXPECT_EQ(errno_equivalent(map_file_read_only(dir_, failed)), EISDIR);
  EXPECT_EQ(errno_equivalent(map_file_read_only(dir_ + "/missing", failed)), ENOENT);
  EXPECT_EQ(failed.size(), 0u);
  EXPECT_FALSE(path_exists(dir_ + "/missing"));
  EXPECT_TRUE(path_exists(dir_));
}

TEST_F(Platform, OutputFileIsLookedAtBeforeItIsTruncated) {
  const std::string path = dir_ + "/out.jsonl";
  write(path, "old contents");
  write(dir_ + "/other", "x");
  OutputFile out;
  ASSERT_EQ(out.open(path), 0);
  EXPECT_EQ(read(path), "old contents");  // opening alone changes nothing
  FileIdentity opened;
  ASSERT_EQ(out.identity(opened), 0);
  EXPECT_EQ(file_identity(path), opened);
  EXPECT_EQ(file_identity(dir_ + "/./out.jsonl"), opened);
  EXPECT_NE(file_identity(dir_ + "/other"), opened);
  std::error_code ec;
  fs::create_hard_link(native(path), native(dir_ + "/hard link"), ec);
  if (!ec) {
    EXPECT_EQ(file_identity(dir_ + "/hard link"), opened);
  }

  ASSERT_EQ(out.truncate(), 0);
  ASSERT_EQ(out.write_all("{\"a\":1}\n", 8), 0);
  ASSERT_EQ(out.close(), 0);
  EXPECT_EQ(read(path), "{\"a\":1}\n");  // line feeds stay line feeds on every system
}

TEST_F(Platform, ErrorsCarryTheSystemsCodeAndText) {
  OutputFile out;
  const ErrorCode missing = out.open(dir_ + "/no/such/dir/file");
  EXPECT_EQ(errno_equivalent(missing), ENOENT);
  const std::string text = os_error_text(missing);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text, error_description(missing) + " (os error " + std::to_string(missing) + ")");
  EXPECT_FALSE(error_description(missing).empty());

  write(dir_ + "/file", "x");
  EXPECT_NE(create_directories(dir_ + "/file"), 0);
  EXPECT_EQ(create_directories(dir_ + "/a/b\xc3\xbc/c/"), 0);
  EXPECT_TRUE(fs::is_directory(native(dir_ + "/a/b\xc3\xbc/c")));
  EXPECT_EQ(create_directories(dir_ + "/a/b\xc3\xbc/c"), 0);
  EXPECT_EQ(create_directories(""), 0);
}

TEST_F(Platform, TemporaryFileReadsBackWhatWasWrittenAndLeavesNothing) {
  {
    TemporaryFile file;
    ASSERT_EQ(file.create(dir_), 0);
    const std::string first(300000, 'a'), second = "tail";
    ASSERT_EQ(file.write_all(first.data(), first.size()), 0);
    ASSERT_EQ(file.write_all(second.data(), second.size()), 0);
    std::string got(8, '\0');
    std::size_t n = 0;
    ASSERT_EQ(file.read_at(first.size() - 2, got.data(), got.size(), n), 0);
    EXPECT_EQ(got.substr(0, n), "aatail");
    // Reads go by offset: a later write appends, and reading past the end gives nothing.
    ASSERT_EQ(file.write_all("!", 1), 0);
    ASSERT_EQ(file.read_at(first.size() + 4, got.data(), got.size(), n), 0);
    EXPECT_EQ(got.substr(0, n), "!");
    ASSERT_EQ(file.read_at(first.size() + 5, got.data(), got.size(), n), 0);
    EXPECT_EQ(n, 0u);
    // Nothing in the folder has a name while the file is open (POSIX), and nothing is
    // left once it is closed (both).
  }
  EXPECT_TRUE(fs::is_empty(native(dir_)));
  TemporaryFile missing;
  EXPECT_NE(missing.create(dir_ + "/no such folder"), 0);
}

}  // namespace
}  // namespace quarrow::platform
