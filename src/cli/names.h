// Names the user typed: the closest known names for one that is not known (tables,
// commands), and lists given as "A,B" or "A, B".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/notes.h"

namespace quarrow::cli {

// The suggestions for a name that is not known (app/notes.h): the tool and the
// module make them alike.
using app::closest_names;
using app::did_you_mean;

// The items of a comma-separated list, each without the spaces and tabs around it:
// "A, B" and "A,B" are the same list. Empty items stay (an empty name is reported,
// not dropped).
std::vector<std::string> split_list(std::string_view list);

}  // namespace quarrow::cli
