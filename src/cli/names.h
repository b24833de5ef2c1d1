// Names the user typed: the closest known names for one that is not known (tables,
// commands), and lists given as "A,B" or "A, B".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarrow::cli {

// The known names closest to `query`, best first, at most three: every name equal to
// it but for ASCII letter case; failing that, the names within a small edit distance
// (letter case ignored; at most a third of the query's length, and at least 2).
std::vector<std::string> closest_names(std::string_view query, const std::vector<std::string>& known);

// "did you mean 'A'?", "did you mean 'A' or 'B'?", "did you mean 'A', 'B' or 'C'?";
// "" for no names.
std::string did_you_mean(const std::vector<std::string>& names);

// The items of a comma-separated list, each without the spaces and tabs around it:
// "A, B" and "A,B" are the same list. Empty items stay (an empty name is reported,
// not dropped).
std::vector<std::string> split_list(std::string_view list);

}  // namespace quarrow::cli
