// Building the tool's JSON objects member by member.
#pragma once

#include <string>
#include <string_view>

#include "export/json_lines.h"

namespace quarrow::cli {

// Starts a member of the JSON object being built in `out`: a comma unless it is the
// first, then the quoted key and a colon.
inline void append_field(std::string& out, std::string_view key) {
  if (out.back() != '{') out.push_back(',');
  append_json_string(out, key);
  out.push_back(':');
}

}  // namespace quarrow::cli
