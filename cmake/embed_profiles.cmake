# Writes a C++ source holding the bytes of every profile file, so that the tool and
# the module carry the built-in profiles in their own binary.
# Usage: cmake -DPROFILE_DIR=... -DOUTPUT=... -P embed_profiles.cmake
file(GLOB profile_files "${PROFILE_DIR}/*.json")
list(SORT profile_files)
set(arrays "")
set(entries "")
set(index 0)
foreach(path ${profile_files})
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const char kProfile${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", kProfile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
set(content "// Generated from the files in profiles/ by cmake/embed_profiles.cmake. Do not edit.
#include \"profiles/builtin_data.h\"

namespace quarrow::profiles {

namespace {
${arrays}}  // namespace

const BuiltinProfileFile kBuiltinProfileFiles[] = {
${entries}};
const std::size_t kBuiltinProfileFileCount = ${index};

}  // namespace quarrow::profiles
")
# Rewritten only when different, so that an unchanged profile set rebuilds nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
