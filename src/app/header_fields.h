// The database header's facts as both front ends give them: EseDatabase.header_info()
// and `quarrow info --json`. The two grew up apart and callers of each rely on its
// names and shapes (the module gives os_version "10.0" beside os_build, the tool one
// text "10.0 build 17763"; the module both checksums, the tool whether both verify), so
// each fact keeps its name in each front end. Both take the names from here; a fact
// that one front end does not give has no name there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarrow::app {

enum class HeaderField : std::uint8_t {
  FormatVersion,
  FormatRevision,
  PageSize,
  State,
  StateCode,
  DatabaseTime,
  Created,
  LastConsistent,
  LastAttached,
  LastDetached,
  LogGenerationsRequired,
  OsVersion,
  OsBuild,
  OsServicePack,
  FileType,
  RepairCount,
  LastRepair,
  HeaderCopiesAgree,
  HeaderChecksumOk,
  ShadowHeaderChecksumOk,
  HeaderChecksumsOk,  // both copies' checksums verify
  Truncated,
};

struct HeaderFieldNames {
  std::string_view module;  // the key of header_info(), or empty
  std::string_view tool;    // the member of `info --json`, or empty
};

inline constexpr std::array<HeaderFieldNames, 22> kHeaderFieldNames = {{
    {"format_version", "format_version"},
    {"format_revision", "format_revision"},
    {"page_size", "page_size"},
    {"state", "state"},
    {"state_code", ""},
    {"database_time", ""},
    {"creation_time", "created"},
    {"last_consistent_time", "last_consistent"},
    {"last_attach_time", "last_attached"},
    {"last_detach_time", "last_detached"},
    {"log_generations_required", "log_generations_required"},
    {"os_version", "os_version"},
    {"os_build", ""},
    {"os_service_pack", ""},
    {"file_type", ""},
    {"repair_count", ""},
    {"last_repair_time", ""},
    {"header_copies_agree", "header_copies_agree"},
    {"header_checksum_ok", ""},
    {"shadow_header_checksum_ok", ""},
    {"", "header_checksums_ok"},
    {"truncated", "truncated"},
}};

constexpr std::string_view header_module_name(HeaderField field) {
  return kHeaderFieldNames[static_cast<std::size_t>(field)].module;
}
constexpr std::string_view header_tool_name(HeaderField field) {
  return kHeaderFieldNames[static_cast<std::size_t>(field)].tool;
}

}  // namespace quarrow::app
