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
#include "temp_folder.h"

namespace quarrow::platform {
namespace {

namespace fs = std::filesystem;

// A UTF-8 string as a path, whatever the system's narrow code page.
fs::path native(const std::string& utf8) { return quarrow::test::native_path(utf8); }

class Platform : public testing::Test {
 protected:
  void SetUp() override {
    // A space, Latin, Greek and CJK letters and an emoji (a UTF-16 surrogate pair).
    dir_ = folder_.path("d\xc3\xa9j\xc3\xa0 vu \xce\xb1\xce\xb2 \xe6\x95\xb0\xe6\x8d\xae \xf0\x9f\x93\x81");
    ASSERT_TRUE(create_directories(dir_).ok());
  }
  void write(const std::string& path, const std::string& data) { quarrow::test::write_file(path, data); }
  std::string read(const std::string& path) { return quarrow::test::read_file(path); }
  quarrow::test::TempFolder folder_;
  std::string dir_;
};

TEST_F(Platform, MapsFilesUnderAnyNameReadOnly) {
  // Three times the classic limit, in steps that each stay below a name's 255.
  std::string long_dir = dir_;
  while (long_dir.size() < 800) long_dir += "/" + std::string(100, 'n');
  ASSERT_TRUE(create_directories(long_dir).ok());
  for (const std::string& path : {dir_ + "/\xe2\x82\xac file.edb", long_dir + "/x.edb"}) {
    SCOPED_TRACE(path);
    OutputFile out;
    ASSERT_TRUE(out.open(path).ok());
    ASSERT_TRUE(out.write_all("ab\ncd\n", 6).ok());
    ASSERT_TRUE(out.close().ok());
    ReadOnlyMapping mapping;
    ASSERT_TRUE(map_file_read_only(path, mapping).ok());
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(mapping.data()), mapping.size()), "ab\ncd\n");
    mapping.release_resident_pages();  // the bytes come back unchanged
    EXPECT_EQ(mapping.data()[4], 'd');
    EXPECT_TRUE(path_exists(path));
    EXPECT_TRUE(file_identity(path).has_value());
  }

  write(dir_ + "/empty", "");
  ReadOnlyMapping empty;
  ASSERT_TRUE(map_file_read_only(dir_ + "/empty", empty).ok());
  EXPECT_EQ(empty.size(), 0u);

  ReadOnlyMapping failed;
  EXPECT_EQ(errno_equivalent(map_file_read_only(dir_, failed).error().os_code()), EISDIR);
  EXPECT_EQ(errno_equivalent(map_file_read_only(dir_ + "/missing", failed).error().os_code()), ENOENT);
  EXPECT_EQ(failed.size(), 0u);
  EXPECT_FALSE(path_exists(dir_ + "/missing"));
  EXPECT_TRUE(path_exists(dir_));
}

TEST_F(Platform, OutputFileIsLookedAtBeforeItIsTruncated) {
  const std::string path = dir_ + "/out.jsonl";
  write(path, "old contents");
  write(dir_ + "/other", "x");
  OutputFile out;
  ASSERT_TRUE(out.open(path).ok());
  EXPECT_EQ(read(path), "old contents");  // opening alone changes nothing
  const Result<FileIdentity> identity = out.identity();
  ASSERT_TRUE(identity.ok());
  const FileIdentity opened = *identity;
  EXPECT_EQ(file_identity(path), opened);
  EXPECT_EQ(file_identity(dir_ + "/./out.jsonl"), opened);
  EXPECT_NE(file_identity(dir_ + "/other"), opened);
  std::error_code ec;
  fs::create_hard_link(native(path), native(dir_ + "/hard link"), ec);
  if (!ec) {
    EXPECT_EQ(file_identity(dir_ + "/hard link"), opened);
  }

  ASSERT_TRUE(out.truncate().ok());
  ASSERT_TRUE(out.write_all("{\"a\":1}\n", 8).ok());
  ASSERT_TRUE(out.close().ok());
  EXPECT_EQ(read(path), "{\"a\":1}\n");  // line feeds stay line feeds on every system
}

TEST_F(Platform, ErrorsCarryTheSystemsCodeAndText) {
  OutputFile out;
  const Status opened = out.open(dir_ + "/no/such/dir/file");
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().kind(), ErrorKind::Io);
  const ErrorCode missing = opened.error().os_code();
  EXPECT_EQ(errno_equivalent(missing), ENOENT);
  const std::string text = opened.error().os_error_text();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text, error_description(missing) + " (os error " + std::to_string(missing) + ")");
  EXPECT_FALSE(error_description(missing).empty());

  write(dir_ + "/file", "x");
  EXPECT_FALSE(create_directories(dir_ + "/file").ok());
  EXPECT_TRUE(create_directories(dir_ + "/a/b\xc3\xbc/c/").ok());
  EXPECT_TRUE(fs::is_directory(native(dir_ + "/a/b\xc3\xbc/c")));
  EXPECT_TRUE(create_directories(dir_ + "/a/b\xc3\xbc/c").ok());
  EXPECT_TRUE(create_directories("").ok());
}

TEST_F(Platform, TemporaryFileReadsBackWhatWasWrittenAndLeavesNothing) {
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create(dir_).ok());
    const std::string first(300000, 'a'), second = "tail";
    ASSERT_TRUE(file.write_all(first.data(), first.size()).ok());
    ASSERT_TRUE(file.write_all(second.data(), second.size()).ok());
    std::string got(8, '\0');
    std::size_t n = 0;
    ASSERT_TRUE(file.read_at(first.size() - 2, got.data(), got.size(), n).ok());
    EXPECT_EQ(got.substr(0, n), "aatail");
    // Reads go by offset: a later write appends, and reading past the end gives nothing.
    ASSERT_TRUE(file.write_all("!", 1).ok());
    ASSERT_TRUE(file.read_at(first.size() + 4, got.data(), got.size(), n).ok());
    EXPECT_EQ(got.substr(0, n), "!");
    ASSERT_TRUE(file.read_at(first.size() + 5, got.data(), got.size(), n).ok());
    EXPECT_EQ(n, 0u);
    // Nothing in the folder has a name while the file is open (POSIX), and nothing is
    // left once it is closed (both).
  }
  EXPECT_TRUE(fs::is_empty(native(dir_)));
  TemporaryFile missing;
  EXPECT_FALSE(missing.create(dir_ + "/no such folder").ok());
}

}  // namespace
}  // namespace quarrow::platform
