// The profile files shipped with quarrow, embedded at build time (the build writes
// the definitions from profiles/*.json).
#pragma once

#include <cstddef>

namespace quarrow::profiles {

struct BuiltinProfileFile {
  const char* name;
  const char* text;
  std::size_t size;
};

extern const BuiltinProfileFile kBuiltinProfileFiles[];
extern const std::size_t kBuiltinProfileFileCount;

}  // namespace quarrow::profiles
