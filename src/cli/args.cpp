#include "cli/args.h"

#include <charconv>

namespace quarrow::cli {
namespace {

const OptionSpec* find_long(const std::vector<OptionSpec>& specs, std::string_view name) {
  for (const OptionSpec& s : specs) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

const OptionSpec* find_short(const std::vector<OptionSpec>& specs, char c) {
  for (const OptionSpec& s : specs) {
    if (s.short_name != 0 && s.short_name == c) return &s;
  }
  return nullptr;
}

}  // namespace

std::optional<Arguments> parse_arguments(const std::vector<std::string_view>& args,
                                         const std::vector<OptionSpec>& specs, std::string& error) {
  Arguments out;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      // A lone "-" is a positional argument too.
      out.positionals.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const OptionSpec* spec = nullptr;
    std::optional<std::string_view> inline_value;
    std::string shown(arg);
    if (arg[1] == '-') {
      std::string_view name = arg.substr(2);
      if (const auto eq = name.find('='); eq != std::string_view::npos) {
        inline_value = name.substr(eq + 1);
        name = name.substr(0, eq);
        shown = "--" + std::string(name);
      }
      spec = find_long(specs, name);
    } else if (arg.size() == 2) {
      spec = find_short(specs, arg[1]);
    }
    if (spec == nullptr) {
      error = "unknown option '" + shown + "'";
      return std::nullopt;
    }
    if (!spec->takes_value) {
      if (inline_value) {
        error = "option '--" + std::string(spec->name) + "' takes no value";
        return std::nullopt;
      }
      out.flags[std::string(spec->name)] = true;
      continue;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        error = "option '--" + std::string(spec->name) + "' needs a value";
        return std::nullopt;
      }
      inline_value = args[++i];
    }
    out.values[std::string(spec->name)] = std::string(*inline_value);
  }
  return out;
}

std::optional<std::uint64_t> parse_count(std::string_view text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  std::uint64_t value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace quarrow::cli
