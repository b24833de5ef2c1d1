#include "export/decoded_json.h"

#include <cmath>
#include <cstdio>

#include "export/json_lines.h"

namespace quarrow {
namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
constexpr std::int64_t kSecondsPerDay = 86400;

// Proleptic Gregorian date of a day count since 1970-01-01 (the era algorithm:
// 400-year eras of 146,097 days, years starting in March).
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::string iso8601_text(std::int64_t microseconds) {
  const std::int64_t seconds = floor_div(microseconds, kMicrosecondsPerSecond);
  const std::int64_t fraction = microseconds - seconds * kMicrosecondsPerSecond;
  const std::int64_t days = floor_div(seconds, kSecondsPerDay);
  const std::int64_t in_day = seconds - days * kSecondsPerDay;
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civil_from_days(days, year, month, day);
  char buffer[64];
  const char* year_format = (year >= 0 && year <= 9999) ? "%04lld" : "%+07lld";
  int n = std::snprintf(buffer, sizeof buffer, year_format, static_cast<long long>(year));
  n += std::snprintf(buffer + n, sizeof buffer - n, "-%02u-%02uT%02lld:%02lld:%02lld", month, day,
                     static_cast<long long>(in_day / 3600), static_cast<long long>(in_day / 60 % 60),
                     static_cast<long long>(in_day % 60));
  if (fraction != 0) std::snprintf(buffer + n, sizeof buffer - n, ".%06lld", static_cast<long long>(fraction));
  return buffer;
}

void append_decoded_json(std::string& out, const DecodedValue& value, DecodedType type) {
  if (!value.valid || type == DecodedType::Null) {
    out += "null";
    return;
  }
  switch (type) {
    case DecodedType::Null:
      break;
    case DecodedType::Bool:
      out += value.b ? "true" : "false";
      break;
    case DecodedType::Float32:
    case DecodedType::Float64: {
      const double x = type == DecodedType::Float32 ? static_cast<double>(value.f32) : value.f64;
      if (std::isfinite(x)) {
        append_json_number(out, x);
      } else {
        out += "null";
      }
      break;
    }
    case DecodedType::Decimal: {
      // Exact: whole units and four decimal places from the integer count.
      const std::int64_t v = value.i;
      const std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
      if (v < 0) out.push_back('-');
      out += std::to_string(magnitude / kCurrencyScale);
      char places[8];
      std::snprintf(places, sizeof places, ".%04llu", static_cast<unsigned long long>(magnitude % kCurrencyScale));
      out += places;
      break;
    }
    case DecodedType::Timestamp:
      out.push_back('"');
      out += iso8601_text(value.i);
      out.push_back('"');
      break;
    case DecodedType::Guid: {
      // The RFC 4122 bytes in order are the text.
      static constexpr char kHex[] = "0123456789abcdef";
      out.push_back('"');
      for (std::size_t k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
        out.push_back(kHex[value.guid[k] >> 4]);
        out.push_back(kHex[value.guid[k] & 0xF]);
      }
      out.push_back('"');
      break;
    }
    case DecodedType::Binary:
      out.push_back('"');
      append_hex(out, value.bytes);
      out.push_back('"');
      break;
    case DecodedType::Text:
      append_json_string(out, value.bytes);
      break;
    default:  // integers
      out += std::to_string(value.i);
      break;
  }
}

void append_decoded_json(std::string& out, const DecodedCell& cell, const DecodedColumn& column) {
  if (!column.list) {
    static const DecodedValue kNull;
    append_decoded_json(out, cell.valid && cell.size > 0 ? cell.at(0) : kNull, column.type);
    return;
  }
  if (!cell.valid) {
    out += "null";
    return;
  }
  out.push_back('[');
  for (std::size_t k = 0; k < cell.size; ++k) {
    if (k > 0) out.push_back(',');
    append_decoded_json(out, cell.at(k), column.type);
  }
  out.push_back(']');
}

std::string decoded_value_to_json(const DecodedCell& cell, const DecodedColumn& column) {
  std::string out;
  append_decoded_json(out, cell, column);
  return out;
}

}  // namespace quarrow
