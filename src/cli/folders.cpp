#include "cli/folders.h"

#include <filesystem>
#include <map>
#include <set>

namespace quarrow::cli {
namespace {

namespace fs = std::filesystem;

// Through char8_t: a narrow std::string is read in the ANSI code page on Windows.
fs::path as_path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string as_text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The path's parts from the file name back towards the root (root excluded).
std::vector<std::string> parts_from_end(const std::string& path) {
  std::error_code error;
  fs::path full = fs::absolute(as_path(path), error);
  if (error) full = as_path(path);
  full = full.lexically_normal();
  std::vector<std::string> parts;
  for (const fs::path& part : full.relative_path()) {
    const std::string text = as_text(part);
    if (!text.empty()) parts.push_back(text);
  }
  return {parts.rbegin(), parts.rend()};
}

std::string join_last(const std::vector<std::string>& reversed, std::size_t count) {
  std::string out;
  for (std::size_t k = count; k-- > 0;) {
    if (!out.empty()) out += "_";
    out += reversed[k];
  }
  return out;
}

}  // namespace

Result<std::vector<std::string>> input_folders(const std::vector<std::string>& paths) {
  std::vector<std::string> folders(paths.size());
  std::map<std::string, std::vector<std::size_t>> by_name;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string name = as_text(as_path(paths[i]).filename());
    if (name.empty() || name == "." || name == "..") {
      return EseError::refused("'" + paths[i] + "' does not name a file");
    }
    by_name[name].push_back(i);
  }
  for (const auto& [name, group] : by_name) {
    if (group.size() == 1) {
      folders[group[0]] = name;
      continue;
    }
    std::vector<std::vector<std::string>> parts;
    std::size_t longest = 0;
    for (const std::size_t i : group) {
      parts.push_back(parts_from_end(paths[i]));
      longest = std::max(longest, parts.back().size());
    }
    // The fewest trailing parts that make every folder name of the group different.
    bool found = false;
    for (std::size_t count = 2; count <= longest && !found; ++count) {
      std::set<std::string> seen;
      bool distinct = true;
      for (const auto& p : parts) distinct = distinct && seen.insert(join_last(p, std::min(count, p.size()))).second;
      if (!distinct) continue;
      for (std::size_t g = 0; g < group.size(); ++g) {
        folders[group[g]] = join_last(parts[g], std::min(count, parts[g].size()));
      }
      found = true;
    }
    if (!found) {
      // Equal full paths: the same file named twice.
      std::set<std::vector<std::string>> seen;
      for (std::size_t g = 0; g < group.size(); ++g) {
        if (!seen.insert(parts[g]).second) {
          return EseError::refused("'" + paths[group[g]] + "' is given twice");
        }
      }
      return EseError::refused("cannot tell the input files named '" + name + "' apart");
    }
  }
  // A joined name may equal another input's own name ("pc1_SRUDB.dat" given as well).
  std::set<std::string> all;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (!all.insert(folders[i]).second) {
      return EseError::refused("two input files would export into the folder '" + folders[i] + "'; export them separately");
    }
  }
  return folders;
}

}  // namespace quarrow::cli
