// The fields of a verify problem and of a recovered record, as both front ends give
// them: the module's dicts and the tool's JSON objects take their names and order
// from here, so that the two cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarrow::app {

// Every field of an enumeration whose enumerators count up from 0, in that order.
template <class Field, std::size_t N>
constexpr std::array<Field, N> declared_order() {
  std::array<Field, N> fields{};
  for (std::size_t i = 0; i < N; ++i) fields[i] = static_cast<Field>(i);
  return fields;
}

// A damaged page found by verify. bit and bytes_present are there only when known
// (a flipped bit located; a last page the file holds in part), so a problem has
// either, neither, but never a null for them.
enum class ProblemField : std::uint8_t { Page, Problem, Stored, Computed, Bit, BytesPresent };
inline constexpr std::array<std::string_view, 6> kProblemFieldNames = {"page",     "problem", "stored",
                                                                       "computed", "bit",     "bytes_present"};
inline constexpr auto kProblemFields = declared_order<ProblemField, kProblemFieldNames.size()>();

// A record recovered from a table's pages, in the module's dict order.
enum class RecoveredField : std::uint8_t { Page, Offset, Source, Record, Live, MissingLongValues };
inline constexpr std::array<std::string_view, 6> kRecoveredFieldNames = {"page",   "offset", "source",
                                                                         "record", "live",   "missing_long_values"};
inline constexpr auto kRecoveredFields = declared_order<RecoveredField, kRecoveredFieldNames.size()>();

constexpr std::string_view problem_field_name(ProblemField field) {
  return kProblemFieldNames[static_cast<std::size_t>(field)];
}
constexpr std::string_view recovered_field_name(RecoveredField field) {
  return kRecoveredFieldNames[static_cast<std::size_t>(field)];
}

// `fields` ordered by their names' bytes: the member order of every JSON Lines object
// the tool writes (rows included), which the recover command keeps for its lines.
template <class Field, std::size_t N>
constexpr std::array<Field, N> by_name(const std::array<Field, N>& fields, const std::array<std::string_view, N>& names) {
  std::array<Field, N> sorted = fields;
  for (std::size_t i = 1; i < N; ++i) {  // insertion sort: a handful of fields
    for (std::size_t j = i; j > 0 && names[static_cast<std::size_t>(sorted[j])] <
                                         names[static_cast<std::size_t>(sorted[j - 1])];
         --j) {
      const Field t = sorted[j];
      sorted[j] = sorted[j - 1];
      sorted[j - 1] = t;
    }
  }
  return sorted;
}

inline constexpr std::array<RecoveredField, 6> kRecoveredFieldsByName = by_name(kRecoveredFields, kRecoveredFieldNames);

}  // namespace quarrow::app
