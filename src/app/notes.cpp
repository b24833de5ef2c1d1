#include "app/notes.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "database/space.h"
#include "format/database_header.h"
#include "record/text.h"

namespace quarrow::app {
namespace {

constexpr std::size_t kMaxSuggestions = 3;

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Levenshtein distance over bytes, two rows.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> previous(b.size() + 1);
  std::vector<std::size_t> current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitute = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
    }
    std::swap(previous, current);
  }
  return previous[b.size()];
}

}  // namespace

std::vector<std::string> closest_names(std::string_view query, const std::vector<std::string>& known) {
  const std::string folded = fold(query);
  std::vector<std::string> same_but_case;
  for (const std::string& name : known) {
    if (name != query && fold(name) == folded) same_but_case.push_back(name);
  }
  if (!same_but_case.empty()) {
    if (same_but_case.size() > kMaxSuggestions) same_but_case.resize(kMaxSuggestions);
    return same_but_case;
  }
  const std::size_t limit = std::max<std::size_t>(2, query.size() / 3);
  std::vector<std::pair<std::size_t, std::size_t>> scored;  // distance, index in `known`
  for (std::size_t i = 0; i < known.size(); ++i) {
    // Lengths further apart than the limit cannot be within it.
    const std::size_t gap = known[i].size() > query.size() ? known[i].size() - query.size()
                                                           : query.size() - known[i].size();
    if (gap > limit || known[i] == query) continue;
    const std::size_t d = edit_distance(folded, fold(known[i]));
    if (d <= limit) scored.emplace_back(d, i);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<std::string> out;
  for (std::size_t k = 0; k < scored.size() && k < kMaxSuggestions; ++k) out.push_back(known[scored[k].second]);
  return out;
}

std::string did_you_mean(const std::vector<std::string>& names) {
  if (names.empty()) return "";
  std::string text = "did you mean ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += "'" + names[i] + "'";
  }
  return text + "?";
}

std::string truncation_note(const Database& db) {
  const auto space = owned_space(db);
  if (!space || !space->truncated()) return "";
  return "the file is " + truncation_text(*space);
}

std::string dirty_note(const Database& db) {
  const Bytes header(db.header().data(), db.header().size());
  const std::uint32_t state = read_u32le(header, kHeaderStateOffset);
  if (state != kStateDirtyShutdown && state != kStateDirtyAndPatchedShutdown) return "";
  return "warning: the database was not shut down cleanly; recent changes (or all of its rows) may still be "
         "in its transaction logs: see 'quarrow logs FOLDER --db FILE'";
}

std::string table_suggestion(const Database& db, std::string_view table_text) {
  std::vector<std::string> names;
  for (const auto& entry : db.catalog()) names.push_back(lossy_utf8(as_bytes(entry.first)));
  return did_you_mean(closest_names(table_text, names));
}

}  // namespace quarrow::app
