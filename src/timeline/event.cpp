#include "timeline/event.h"

#include <cctype>

#include "export/decoded_text.h"
#include "format/calendar.h"

namespace quarrow::timeline {

namespace {

constexpr const char* kKindNames[] = {"row", "header", "recovered", "transaction", "row_change"};
static_assert(sizeof kKindNames / sizeof kKindNames[0] == static_cast<std::size_t>(EventKind::kCount));

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

// Reads exactly `digits` decimal digits at `at`.
bool read_number(std::string_view text, std::size_t& at, int digits, int& out) {
  if (at + static_cast<std::size_t>(digits) > text.size()) return false;
  out = 0;
  for (int k = 0; k < digits; ++k) {
    const char c = text[at++];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

const char* event_kind_name(EventKind kind) {
  const auto k = static_cast<std::size_t>(kind);
  return k < static_cast<std::size_t>(EventKind::kCount) ? kKindNames[k] : "unknown";
}

std::optional<EventKind> event_kind_from_name(std::string_view name) {
  for (std::size_t k = 0; k < static_cast<std::size_t>(EventKind::kCount); ++k) {
    if (name == kKindNames[k]) return static_cast<EventKind>(k);
  }
  return std::nullopt;
}

std::optional<std::int64_t> parse_time_bound(std::string_view text, bool end_of) {
  std::size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!read_number(text, at, 4, year) || at >= text.size() || text[at++] != '-') return std::nullopt;
  if (!read_number(text, at, 2, month) || at >= text.size() || text[at++] != '-') return std::nullopt;
  if (!read_number(text, at, 2, day)) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  // How much the bound leaves out, for an inclusive upper bound.
  std::int64_t span = 86400 * kMicrosecondsPerSecond;
  std::int64_t fraction = 0;
  if (at < text.size() && (text[at] == 'T' || text[at] == 't' || text[at] == ' ')) {
    ++at;
    if (!read_number(text, at, 2, hour) || at >= text.size() || text[at++] != ':') return std::nullopt;
    if (!read_number(text, at, 2, minute)) return std::nullopt;
    span = 60 * kMicrosecondsPerSecond;
    if (at < text.size() && text[at] == ':') {
      ++at;
      if (!read_number(text, at, 2, second)) return std::nullopt;
      span = kMicrosecondsPerSecond;
      if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        ++at;
        std::int64_t unit = kMicrosecondsPerSecond;
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
          unit /= 10;  // digits beyond microseconds are read and dropped
          fraction += (text[at] - '0') * unit;
          ++at;
        }
        if (at == start) return std::nullopt;
        span = 1;
      }
    }
    if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
  }
  std::int64_t offset_seconds = 0;
  if (at < text.size()) {
    const char z = text[at];
    if ((z == 'Z' || z == 'z') && at + 1 == text.size()) {
      ++at;
    } else if (z == '+' || z == '-') {
      ++at;
      int oh = 0, om = 0;
      if (!read_number(text, at, 2, oh)) return std::nullopt;
      if (at < text.size() && text[at] == ':') ++at;
      if (!read_number(text, at, 2, om) || oh > 23 || om > 59) return std::nullopt;
      offset_seconds = (oh * 3600 + om * 60) * (z == '-' ? -1 : 1);
    } else {
      return std::nullopt;
    }
  }
  if (at != text.size()) return std::nullopt;
  const std::int64_t days = days_from_civil(year, month, day);
  // A day the month lacks ("2021-02-30") does not come back to itself.
  const CivilDate back = civil_from_days(days);
  if (back.year != year || back.month != static_cast<unsigned>(month) || back.day != static_cast<unsigned>(day))
    return std::nullopt;
  const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - offset_seconds;
  std::int64_t us = seconds * kMicrosecondsPerSecond + fraction;
  if (end_of) us += span - 1;
  return us;
}

void append_event_time(std::string& out, std::int64_t microseconds) {
  append_iso8601(out, microseconds);
  out += "+00:00";
}

}  // namespace quarrow::timeline
