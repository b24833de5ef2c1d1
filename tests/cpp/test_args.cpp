// The tool's option parser: option forms, the end of options, and the usage errors.
#include <gtest/gtest.h>

#include <vector>

#include "cli/args.h"

namespace quarrow::cli {
namespace {

const std::vector<OptionSpec> kSpecs = {{"json", 0, false}, {"limit", 'n', true}, {"quiet", 'q', false}};

struct ParseCase {
  std::vector<std::string_view> args;
  std::vector<std::string> positionals;
  std::string limit;  // "" when absent
  bool quiet;
  std::string error;  // "" when the parse succeeds
};

TEST(CliArguments, FormsAndErrors) {
  const std::vector<ParseCase> cases = {
      {{"a", "--limit", "5", "b"}, {"a", "b"}, "5", false, ""},
      {{"--limit=7", "-q", "a"}, {"a"}, "7", true, ""},
      {{"-n", "3", "-n", "4"}, {}, "4", false, ""},                 // the last value wins
      {{"--limit=", "x"}, {"x"}, "", false, ""},                     // an empty value
      {{"-", "--", "--quiet", "-n"}, {"-", "--quiet", "-n"}, "", false, ""},  // "--" ends the options
      {{"--nope"}, {}, "", false, "unknown option '--nope'"},
      {{"--nope=1"}, {}, "", false, "unknown option '--nope'"},
      {{"-x"}, {}, "", false, "unknown option '-x'"},
      {{"-qn"}, {}, "", false, "unknown option '-qn'"},  // no bundling of short options
      {{"--quiet=1"}, {}, "", false, "option '--quiet' takes no value"},
      {{"a", "--limit"}, {}, "", false, "option '--limit' needs a value"},
  };
  for (const ParseCase& c : cases) {
    std::string error;
    const std::optional<Arguments> got = parse_arguments(c.args, kSpecs, error);
    SCOPED_TRACE(c.error.empty() ? c.args.front() : c.error);
    if (!c.error.empty()) {
      EXPECT_FALSE(got.has_value());
      EXPECT_EQ(error, c.error);
      continue;
    }
    ASSERT_TRUE(got.has_value()) << error;
    EXPECT_EQ(got->positionals, c.positionals);
    const std::string* limit = got->value("limit");
    EXPECT_EQ(limit == nullptr ? "" : *limit, c.limit);
    EXPECT_EQ(got->flag("quiet"), c.quiet);
  }
}

TEST(CliArguments, Counts) {
  const std::vector<std::pair<std::string_view, std::optional<std::uint64_t>>> cases = {
      {"0", 0}, {"42", 42}, {"18446744073709551615", 18446744073709551615ull},
      {"18446744073709551616", std::nullopt}, {"", std::nullopt}, {"-1", std::nullopt},
      {"+1", std::nullopt}, {"1a", std::nullopt}, {" 1", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_count(text), expected) << text;
}

}  // namespace
}  // namespace quarrow::cli
