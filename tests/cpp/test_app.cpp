// Opening a database for a user: each way of failing gives the message both front
// ends show and the kind they act on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/open.h"

namespace quarrow::app {
namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path root = fs::path(testing::TempDir()) / ("quarrow_app_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  Folder() { fs::create_directories(root); }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  std::string file(const std::string& name, const std::string& bytes) const {
    const fs::path p = root / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.generic_string();
  }
};

TEST(OpenForUser, EachFailureHasItsKindAndMessage) {
  Folder folder;
  const std::string missing = (folder.root / "absent.edb").generic_string();
  const std::string text = folder.file("notes.txt", std::string(8192, 'x'));
  struct Case {
    std::string path;
    OpenFailure::Kind kind;
    std::string message_start;
  };
  const Case cases[] = {
      {missing, OpenFailure::Kind::NotFound, "Database file not found: " + missing},
      {std::string("a\0b", 3), OpenFailure::Kind::NotFound, "Database file not found: "},
      {folder.root.generic_string(), OpenFailure::Kind::System, "Failed to open database: "},
      {text, OpenFailure::Kind::Format, "Failed to open database: "},
  };
  for (const Case& c : cases) {
    const Opened opened = open_for_user(c.path);
    ASSERT_FALSE(opened) << c.path;
    EXPECT_EQ(opened.failure.kind, c.kind) << c.path;
    EXPECT_EQ(opened.failure.message.rfind(c.message_start, 0), 0u) << opened.failure.message;
    EXPECT_EQ(opened.failure.os_code != 0, c.kind == OpenFailure::Kind::System) << c.path;
  }
}

}  // namespace
}  // namespace quarrow::app
