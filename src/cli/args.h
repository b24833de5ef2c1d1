// Command-line parsing: options before, after and between positional arguments,
// "--name value", "--name=value", "-x value", "--" ending the options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrow::cli {

struct OptionSpec {
  std::string_view name;  // long name without "--"
  char short_name;        // 0 for none
  bool takes_value;
};

struct Arguments {
  std::vector<std::string> positionals;
  std::map<std::string, std::string, std::less<>> values;  // options with a value (last one wins)
  std::map<std::string, bool, std::less<>> flags;           // options without one

  bool flag(std::string_view name) const { return flags.find(name) != flags.end(); }
  const std::string* value(std::string_view name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// Parses `args` against `specs`. On a usage error returns std::nullopt and sets
// `error` to a one-line description ("unknown option '--x'", ...).
std::optional<Arguments> parse_arguments(const std::vector<std::string_view>& args,
                                         const std::vector<OptionSpec>& specs, std::string& error);

// A decimal count without sign, fitting 64 bits.
std::optional<std::uint64_t> parse_count(std::string_view text);

}  // namespace quarrow::cli
