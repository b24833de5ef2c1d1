#include <memory>
#include <string>
#include <vector>

#include "profiles/builtin_data.h"
#include "profiles/profile.h"

namespace quarrow::profiles {

const std::vector<Profile>& builtin_profiles() {
  // Parsed on first use; the tests check that every shipped file parses, so a file
  // that does not is left out rather than failing every database.
  static const std::vector<Profile> profiles = [] {
    std::vector<Profile> out;
    for (std::size_t k = 0; k < kBuiltinProfileFileCount; ++k) {
      const BuiltinProfileFile& f = kBuiltinProfileFiles[k];
      auto parsed = parse_profile(std::string_view(f.text, f.size), std::string("<built-in>/") + f.name);
      if (parsed) out.push_back(std::move(parsed).value());
    }
    return out;
  }();
  return profiles;
}

const std::vector<std::shared_ptr<const Profile>>& shared_builtin_profiles() {
  static const std::vector<std::shared_ptr<const Profile>> shared = [] {
    std::vector<std::shared_ptr<const Profile>> out;
    for (const Profile& p : builtin_profiles()) out.push_back(std::make_shared<const Profile>(p));
    return out;
  }();
  return shared;
}

std::vector<Profile> merge_profiles(const std::vector<Profile>& extra) {
  std::vector<Profile> out = extra;
  for (const Profile& p : builtin_profiles()) {
    bool replaced = false;
    for (const Profile& e : extra) replaced = replaced || e.name == p.name;
    if (!replaced) out.push_back(p);
  }
  return out;
}

}  // namespace quarrow::profiles
