// Column and table names as profiles give them: one profile serves files of several
// versions, whose names differ in case, and Windows Search numbers its property
// columns differently per version.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace quarrow::profiles {

inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    char x = a[k], y = b[k];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The property part of a Windows Search column name: "4447-System_ItemPathDisplay"
// and "15F-System_DateModified" give "System_ItemPathDisplay"; other names give "".
inline std::string_view property_part(std::string_view name) {
  std::size_t k = 0;
  while (k < name.size() && name[k] >= '0' && name[k] <= '9') ++k;
  if (k == 0) return {};
  if (k < name.size() && name[k] == 'F') ++k;
  if (k >= name.size() || name[k] != '-') return {};
  return name.substr(k + 1);
}

inline std::string property_name(std::string_view name) {
  std::string_view p = property_part(name);
  if (p.empty()) return std::string(name);
  std::string out(p);
  std::replace(out.begin(), out.end(), '_', '.');
  return out;
}


}  // namespace quarrow::profiles
