#include "export/decoded_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "export/csv.h"
#include "export/json_lines.h"
#include "format/calendar.h"
#include "record/text.h"

namespace quarrow {
namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

std::string guid_string(const std::array<std::uint8_t, 16>& rfc) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[rfc[i] >> 4]);
    s.push_back(kHex[rfc[i] & 15]);
  }
  return s;
}

// The value's text without JSON quoting; `quoted` says whether JSON needs quotes.
// Returns false for a value with no text (null, non-finite float).
bool value_text(std::string& out, DecodedType type, const DecodedValue& v, bool& quoted) {
  quoted = false;
  if (!v.valid) return false;
  switch (type) {
    case DecodedType::Null:
      return false;
    case DecodedType::Bool:
      out.append(v.b ? "true" : "false");
      return true;
    case DecodedType::UInt8:
    case DecodedType::Int16:
    case DecodedType::UInt16:
    case DecodedType::Int32:
    case DecodedType::UInt32:
    case DecodedType::Int64:
      out.append(std::to_string(v.i));
      return true;
    case DecodedType::Float32:
      if (!std::isfinite(v.f32)) return false;
      append_json_number(out, static_cast<double>(v.f32));
      return true;
    case DecodedType::Float64:
      if (!std::isfinite(v.f64)) return false;
      append_json_number(out, v.f64);
      return true;
    case DecodedType::Timestamp:
      quoted = true;
      append_iso8601(out, v.i);
      return true;
    case DecodedType::Decimal:
      append_decimal4(out, v.i);
      return true;
    case DecodedType::Guid:
      quoted = true;
      out.append(guid_string(v.guid));
      return true;
    case DecodedType::Binary:
      quoted = true;
      append_hex(out, v.bytes);
      return true;
    case DecodedType::Text:
      quoted = true;
      out.append(v.bytes);
      return true;
  }
  return false;
}

void append_json_value(std::string& out, DecodedType type, const DecodedValue& v, std::string& scratch) {
  scratch.clear();
  bool quoted = false;
  if (!value_text(scratch, type, v, quoted)) {
    out.append("null");
  } else if (quoted) {
    append_json_string(out, scratch);
  } else {
    out.append(scratch);
  }
}

}  // namespace

namespace {

// Two decimal digits of 0..99.
char* put2(char* p, unsigned v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  return p + 2;
}

// The text of a whole second, "YYYY-MM-DDTHH:MM:SS" (years outside 0..9999 signed:
// "-0001", "+10000"); returns its end. `p` has room for 32 characters.
char* put_second(char* p, std::int64_t seconds) {
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    second_of_day += kSecondsPerDay;
    --days;
  }
  const CivilDate date = civil_from_days(days);
  const std::int64_t year = date.year;
  if (year < 0 || year > 9999) {
    *p++ = year < 0 ? '-' : '+';
    const std::int64_t magnitude = year < 0 ? -year : year;
    if (magnitude < 1000) {  // at least four digits
      p = put2(p, static_cast<unsigned>(magnitude / 100));
      p = put2(p, static_cast<unsigned>(magnitude % 100));
    } else {
      p = std::to_chars(p, p + 20, magnitude).ptr;
    }
  } else {
    p = put2(p, static_cast<unsigned>(year / 100));
    p = put2(p, static_cast<unsigned>(year % 100));
  }
  const auto s = static_cast<unsigned>(second_of_day);
  *p++ = '-';
  p = put2(p, static_cast<unsigned>(date.month));
  *p++ = '-';
  p = put2(p, static_cast<unsigned>(date.day));
  *p++ = 'T';
  p = put2(p, s / 3600);
  *p++ = ':';
  p = put2(p, s / 60 % 60);
  *p++ = ':';
  return put2(p, s % 60);
}

// ".ffffff" of 1..999999 microseconds.
void append_fraction(std::string& out, std::int64_t micros) {
  char buf[7] = {'.'};
  auto v = static_cast<unsigned>(micros);
  for (int k = 6; k >= 1; --k) {
    buf[k] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out.append(buf, sizeof buf);
}

// Whole seconds and microseconds (0..999999) of a time, rounding toward the past.
void split_seconds(std::int64_t us, std::int64_t& seconds, std::int64_t& micros) {
  seconds = us / kMicrosecondsPerSecond;
  micros = us % kMicrosecondsPerSecond;
  if (micros < 0) {
    micros += kMicrosecondsPerSecond;
    --seconds;
  }
}

}  // namespace

void append_iso8601(std::string& out, std::int64_t us) {
  std::int64_t seconds = 0, micros = 0;
  split_seconds(us, seconds, micros);
  char buf[32];
  out.append(buf, put_second(buf, seconds));
  if (micros != 0) append_fraction(out, micros);
}

void Iso8601Writer::append(std::string& out, std::int64_t us) {
  std::int64_t seconds = 0, micros = 0;
  split_seconds(us, seconds, micros);
  if (!has_second_ || seconds != second_) {
    size_ = static_cast<std::uint8_t>(put_second(text_, seconds) - text_);
    second_ = seconds;
    has_second_ = true;
  }
  out.append(text_, size_);
  if (micros != 0) append_fraction(out, micros);
}

void append_decimal4(std::string& out, std::int64_t units) {
  // The magnitude in unsigned arithmetic, so that the most negative count works too.
  const std::uint64_t magnitude = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%s%llu.%04llu", units < 0 ? "-" : "",
                              static_cast<unsigned long long>(magnitude / kCurrencyScale),
                              static_cast<unsigned long long>(magnitude % kCurrencyScale));
  out.append(buf, static_cast<std::size_t>(n));
}

void append_decoded_json(std::string& out, const DecodedColumn& column, const DecodedCell& cell) {
  std::string scratch;
  if (!cell.valid) {
    out.append("null");
    return;
  }
  if (!column.list) {
    if (cell.size == 0) {
      out.append("null");
    } else {
      append_json_value(out, column.type, cell.at(0), scratch);
    }
    return;
  }
  out.push_back('[');
  for (std::size_t k = 0; k < cell.size; ++k) {
    if (k > 0) out.push_back(',');
    append_json_value(out, column.type, cell.at(k), scratch);
  }
  out.push_back(']');
}

DecodedJsonWriter::DecodedJsonWriter(const std::vector<DecodedColumn>& columns) : columns_(&columns) {
  std::vector<std::string> names;
  for (const DecodedColumn& c : columns) names.push_back(lossy_utf8(as_bytes(c.info->name)));
  std::vector<std::size_t> order(columns.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
  for (std::size_t i = 0; i < order.size(); ++i) {
    // Of a run of equal names, only the last (the later column) is kept.
    if (i + 1 < order.size() && names[order[i]] == names[order[i + 1]]) continue;
    std::string prefix(order_.empty() ? "{" : ",");
    append_json_string(prefix, names[order[i]]);
    prefix.push_back(':');
    order_.push_back(order[i]);
    prefixes_.push_back(std::move(prefix));
  }
}

void DecodedJsonWriter::append(std::string& out, const std::vector<DecodedCell>& cells) const {
  if (order_.empty()) out.push_back('{');
  for (std::size_t m = 0; m < order_.size(); ++m) {
    out.append(prefixes_[m]);
    append_decoded_json(out, (*columns_)[order_[m]], cells[order_[m]]);
  }
  out.append("}\n");
}

void append_decoded_csv(std::string& out, const DecodedColumn& column, const DecodedCell& cell) {
  if (!cell.valid) return;
  std::string text;
  if (column.list) {
    append_decoded_json(text, column, cell);
  } else {
    if (cell.size == 0) return;
    bool quoted = false;
    if (!value_text(text, column.type, cell.at(0), quoted)) return;
    // A zero-length value is quoted: an empty field is null.
    if (text.empty()) {
      out.append("\"\"");
      return;
    }
  }
  append_csv_field(out, text);
}

bool append_decoded_text(std::string& out, const DecodedColumn& column, const DecodedCell& cell) {
  if (!cell.valid) return false;
  if (column.list) {
    append_decoded_json(out, column, cell);
    return true;
  }
  if (cell.size == 0) return false;
  bool quoted = false;
  return value_text(out, column.type, cell.at(0), quoted);
}

}  // namespace quarrow
