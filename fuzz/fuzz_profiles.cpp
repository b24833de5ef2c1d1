// Profile-file fuzz target: the input is the text of a profile file. Analysts write
// and share these files, so a malformed one must end in an error naming its line,
// never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "profiles/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = quarrow::profiles::parse_profile(text, "fuzz.json");
  if (!parsed) (void)parsed.error().to_string();
  return 0;
}
