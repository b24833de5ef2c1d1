// The tool's profile commands and options (views.cpp): `quarrow views`, `dump --view`,
// `export --views`, `--profile FILE`, and the profile line of `info`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/common.h"

namespace quarrow::cli {

extern const std::string_view kViewsHelp;

int run_views(const std::vector<std::string_view>& args, const Context& context);

// dump --view NAME FILE (args as parsed by dump).
int run_dump_view(const Arguments& args, const StreamOptions& options, const Context& context);

// export --views FILE... -o DIR (args as parsed by export).
int run_export_views(const Arguments& args, const StreamOptions& options, unsigned jobs, const Context& context);

// The name of the built-in profile that recognises the database, if any.
std::optional<std::string> recognised_profile(const Database& db);

}  // namespace quarrow::cli
