// A fresh folder under the test temporary folder, removed with everything in it when
// the object goes; and reading and writing whole files there. Paths are UTF-8 text.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace quarrow::test {

// A UTF-8 string as a path, whatever the system's narrow code page.
inline std::filesystem::path native_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(native_path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::string& path, const std::string& data) {
  std::ofstream(native_path(path), std::ios::binary) << data;
}

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = (std::filesystem::path(testing::TempDir()) /
             ("quarrow_" + std::to_string(stamp) + "_" + std::to_string(counter++)))
                .generic_string();
    std::filesystem::create_directories(native_path(root_));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(native_path(root_), ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& root() const { return root_; }
  // The path of `name` in the folder.
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  std::string operator/(const std::string& name) const { return path(name); }
  // Writes a file of `bytes` named `name` and returns its path.
  std::string file(const std::string& name, const std::string& bytes) const {
    write_file(path(name), bytes);
    return path(name);
  }

 private:
  std::string root_;
};

}  // namespace quarrow::test
