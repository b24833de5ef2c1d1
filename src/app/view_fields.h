// The description of a view column, as both front ends give it: `quarrow views --json`
// and EseDatabase.view_columns() take the names and their order from here.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/forensic_fields.h"

namespace quarrow::app {

// The column's name, its type as `quarrow views` names it ("timestamp", "int32", ...),
// the stored column it comes from, and the profile's note on it (null without one).
enum class ViewColumnField : std::uint8_t { Name, Type, Source, Note };
inline constexpr std::array<std::string_view, 4> kViewColumnFieldNames = {"name", "type", "source", "note"};
inline constexpr auto kViewColumnFields = declared_order<ViewColumnField, kViewColumnFieldNames.size()>();

constexpr std::string_view view_column_field_name(ViewColumnField field) {
  return kViewColumnFieldNames[static_cast<std::size_t>(field)];
}

}  // namespace quarrow::app
