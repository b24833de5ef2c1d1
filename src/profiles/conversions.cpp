#include "profiles/conversions.h"

#include <bit>
#include <cmath>
#include <cstdio>

#include "format/known_values.h"
#include "record/decoded.h"
#include "record/filetime.h"
#include "record/text.h"
#include "record/value.h"

namespace quarrow::profiles {

namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
constexpr std::int64_t kMicrosecondsPerDay = 86400LL * kMicrosecondsPerSecond;

ColumnType type_of(std::uint32_t code) { return static_cast<ColumnType>(code); }

bool is_integer_type(std::uint32_t code) {
  switch (type_of(code)) {
    case ColumnType::Boolean:
    case ColumnType::UnsignedByte:
    case ColumnType::SignedShort:
    case ColumnType::SignedLong:
    case ColumnType::Currency:
    case ColumnType::UnsignedLong:
    case ColumnType::UnsignedShort:
    case ColumnType::LongLong:
    case ColumnType::DateTime:
      return true;
    default:
      return false;
  }
}

// A 64-bit integer from an integer source or from 8 little-endian bytes.
std::optional<std::uint64_t> u64_of(const Source& in) {
  switch (in.kind) {
    case Source::Kind::Int: return static_cast<std::uint64_t>(in.i);
    case Source::Kind::UInt: return in.u;
    case Source::Kind::Bytes:
      if (in.raw.size() != kBinary64Size) return std::nullopt;
      return load_u64le(in.raw, 0);
    default: return std::nullopt;
  }
}

std::optional<std::int64_t> signed_of(const Source& in) {
  if (in.kind == Source::Kind::Int) return in.i;
  if (in.kind == Source::Kind::UInt) {
    if (in.u > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(in.u);
  }
  if (in.kind == Source::Kind::Bytes && in.raw.size() == kBinary64Size) {
    const std::uint64_t v = load_u64le(in.raw, 0);
    if (v > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(v);
  }
  return std::nullopt;
}

Converted filetime_cell(std::uint64_t v, Cell& out) {
  if (v == 0) return Converted::Null;  // "not set"
  std::int64_t us = 0;
  if (!filetime_to_microseconds(v, us)) return Converted::Failed;
  out.set_int(us);
  return Converted::Value;
}

void hex_into(Bytes data, std::string& out) {
  static const char kDigits[] = "0123456789abcdef";
  out.clear();
  out.reserve(data.size() * 2);
  for (std::uint8_t b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
}

std::string guid_of(Bytes data) {
  std::array<std::uint8_t, 16> g{};
  for (std::size_t k = 0; k < kGuidSize; ++k) g[k] = data[k];
  return guid_text(g);
}

// Duration from a count of `unit` microseconds, range-checked against int64.
Converted duration_cell(const Source& in, std::int64_t unit_num, std::int64_t unit_den, Cell& out) {
  const auto v = signed_of(in);
  if (!v) return Converted::Failed;
  const long double us = static_cast<long double>(*v) * unit_num / unit_den;
  if (!(std::fabs(us) < 9.2e18L)) return Converted::Failed;
  out.set_int(static_cast<std::int64_t>(us));
  return Converted::Value;
}

}  // namespace

const char* out_type_name(OutType t) {
  switch (t) {
    case OutType::Bool: return "bool";
    case OutType::Int64: return "int64";
    case OutType::UInt64: return "uint64";
    case OutType::Float64: return "float64";
    case OutType::Text: return "text";
    case OutType::Binary: return "binary";
    case OutType::Timestamp: return "timestamp";
    case OutType::Duration: return "duration";
  }
  return "?";
}

OutType conversion_type(Conversion c, std::uint32_t column_type) {
  switch (c) {
    case Conversion::Value:
      switch (type_of(column_type)) {
        case ColumnType::Boolean: return OutType::Bool;
        case ColumnType::SingleFloat:
        case ColumnType::DoubleFloat: return OutType::Float64;
        case ColumnType::DateTime: return OutType::Timestamp;
        case ColumnType::Binary:
        case ColumnType::LongBinary: return OutType::Binary;
        case ColumnType::Text:
        case ColumnType::LongText:
        case ColumnType::Guid: return OutType::Text;
        default: return is_integer_type(column_type) ? OutType::Int64 : OutType::Binary;
      }
    case Conversion::OleDate:
    case Conversion::FileTime:
    case Conversion::FileTimeBE:
    case Conversion::DateTime:
    case Conversion::UnixSeconds: return OutType::Timestamp;
    case Conversion::DurationMs:
    case Conversion::DurationS:
    case Conversion::Duration100ns: return OutType::Duration;
    case Conversion::Int:
    case Conversion::Signed16:
    case Conversion::Bits: return OutType::Int64;
    default: return OutType::Text;
  }
}

OutType raw_type(std::uint32_t column_type) {
  switch (type_of(column_type)) {
    case ColumnType::LongLong:
    case ColumnType::DateTime: return OutType::UInt64;
    default: {
      const OutType t = conversion_type(Conversion::Value, column_type);
      return t == OutType::Timestamp ? OutType::UInt64 : t;
    }
  }
}

void raw_value(const Source& in, Cell& out) {
  switch (in.kind) {
    case Source::Kind::Null: out.set_null(); return;
    case Source::Kind::Int: out.set_int(in.i); return;
    case Source::Kind::UInt: out.set_int(static_cast<std::int64_t>(in.u)); return;
    case Source::Kind::Float: out.valid = true; out.f = in.f; return;
    case Source::Kind::Bytes: out.valid = true; out.s.assign(reinterpret_cast<const char*>(in.raw.data()), in.raw.size()); return;
    case Source::Kind::Text: out.valid = true; out.s.assign(in.text); return;
    case Source::Kind::Guid: out.valid = true; out.s = guid_of(in.raw); return;
  }
}

std::string strip_trailing_nuls(std::string_view text) {
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return std::string(text);
}

std::string utf16_text(Bytes data) {
  // Whole code units only; the trailing NULs that writers add are not part of the text.
  std::size_t n = data.size() & ~std::size_t{1};
  while (n >= 2 && data[n - 1] == 0 && data[n - 2] == 0) n -= 2;
  std::string out;
  decode_text_into(data.first(n), kUtf16Codepage, out);
  return out;
}

std::string key_text(const Source& in) {
  switch (in.kind) {
    case Source::Kind::Null: return {};
    case Source::Kind::Int: return std::to_string(in.i);
    case Source::Kind::UInt: return std::to_string(in.u);
    case Source::Kind::Float: return std::to_string(in.f);
    case Source::Kind::Text: return strip_trailing_nuls(in.text);
    case Source::Kind::Guid: return guid_of(in.raw);
    case Source::Kind::Bytes: {
      std::string s;
      hex_into(in.raw, s);
      return s;
    }
  }
  return {};
}

std::string cell_key_text(const Cell& c, OutType t) {
  switch (t) {
    case OutType::Bool:
    case OutType::Int64:
    case OutType::Timestamp:
    case OutType::Duration: return std::to_string(c.i);
    case OutType::UInt64: return std::to_string(static_cast<std::uint64_t>(c.i));
    case OutType::Float64: return std::to_string(c.f);
    case OutType::Text: return c.s;
    case OutType::Binary: {
      std::string s;
      hex_into(as_bytes(c.s), s);
      return s;
    }
  }
  return {};
}

std::optional<std::string> sid_text(Bytes sid) {
  if (sid.size() < kSidHeaderSize) return std::nullopt;
  const std::size_t count = sid[1];
  if (count > kSidMaxSubAuthorities || sid.size() != kSidHeaderSize + kSidSubAuthoritySize * count) return std::nullopt;
  // The zero blob (revision 0, no sub-authorities) some writers leave is no SID.
  if (sid[0] == 0) return std::nullopt;
  std::uint64_t authority = 0;
  for (std::size_t k = 2; k < kSidHeaderSize; ++k) authority = (authority << 8) | sid[k];
  std::string out = "S-";
  out += std::to_string(sid[0]);
  out += '-';
  if (authority >= (1ULL << 32)) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "0x%012llx", static_cast<unsigned long long>(authority));
    out += buf;
  } else {
    out += std::to_string(authority);
  }
  for (std::size_t k = 0; k < count; ++k) {
    out += '-';
    out += std::to_string(load_u32le(sid, kSidHeaderSize + kSidSubAuthoritySize * k));
  }
  return out;
}

std::optional<std::string> sid_well_known_name(std::string_view sid) {
  struct Known {
    const char* sid;
    const char* name;
  };
  static constexpr Known kExact[] = {
      {"S-1-0-0", "Nobody"},
      {"S-1-1-0", "Everyone"},
      {"S-1-2-0", "Local"},
      {"S-1-3-0", "Creator Owner"},
      {"S-1-3-1", "Creator Group"},
      {"S-1-5-1", "NT AUTHORITY\\DIALUP"},
      {"S-1-5-2", "NT AUTHORITY\\NETWORK"},
      {"S-1-5-3", "NT AUTHORITY\\BATCH"},
      {"S-1-5-4", "NT AUTHORITY\\INTERACTIVE"},
      {"S-1-5-6", "NT AUTHORITY\\SERVICE"},
      {"S-1-5-7", "NT AUTHORITY\\ANONYMOUS LOGON"},
      {"S-1-5-9", "NT AUTHORITY\\ENTERPRISE DOMAIN CONTROLLERS"},
      {"S-1-5-10", "NT AUTHORITY\\SELF"},
      {"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
      {"S-1-5-12", "NT AUTHORITY\\RESTRICTED"},
      {"S-1-5-13", "NT AUTHORITY\\TERMINAL SERVER USER"},
      {"S-1-5-14", "NT AUTHORITY\\REMOTE INTERACTIVE LOGON"},
      {"S-1-5-17", "NT AUTHORITY\\IUSR"},
      {"S-1-5-18", "NT AUTHORITY\\SYSTEM"},
      {"S-1-5-19", "NT AUTHORITY\\LOCAL SERVICE"},
      {"S-1-5-20", "NT AUTHORITY\\NETWORK SERVICE"},
      {"S-1-5-32-544", "BUILTIN\\Administrators"},
      {"S-1-5-32-545", "BUILTIN\\Users"},
      {"S-1-5-32-546", "BUILTIN\\Guests"},
      {"S-1-5-32-547", "BUILTIN\\Power Users"},
      {"S-1-5-32-548", "BUILTIN\\Account Operators"},
      {"S-1-5-32-549", "BUILTIN\\Server Operators"},
      {"S-1-5-32-550", "BUILTIN\\Print Operators"},
      {"S-1-5-32-551", "BUILTIN\\Backup Operators"},
      {"S-1-5-32-552", "BUILTIN\\Replicators"},
      {"S-1-5-32-555", "BUILTIN\\Remote Desktop Users"},
      {"S-1-5-32-556", "BUILTIN\\Network Configuration Operators"},
      {"S-1-5-32-558", "BUILTIN\\Performance Monitor Users"},
      {"S-1-5-32-559", "BUILTIN\\Performance Log Users"},
      {"S-1-5-32-562", "BUILTIN\\Distributed COM Users"},
      {"S-1-5-32-568", "BUILTIN\\IIS_IUSRS"},
      {"S-1-5-32-573", "BUILTIN\\Event Log Readers"},
      {"S-1-5-32-578", "BUILTIN\\Hyper-V Administrators"},
      {"S-1-5-32-580", "BUILTIN\\Remote Management Users"},
  };
  for (const Known& k : kExact) {
    if (sid == k.sid) return std::string(k.name);
  }
  auto tail_after = [&](std::string_view prefix) -> std::optional<std::string_view> {
    if (sid.size() <= prefix.size() || sid.substr(0, prefix.size()) != prefix) return std::nullopt;
    return sid.substr(prefix.size());
  };
  // Per-session accounts: the desktop window manager and the user-mode font driver
  // host of session N, and logon sessions.
  if (auto n = tail_after("S-1-5-90-0-")) return std::string("Window Manager\\DWM-").append(*n);
  if (auto n = tail_after("S-1-5-96-0-")) return std::string("Font Driver Host\\UMFD-").append(*n);
  if (tail_after("S-1-5-5-")) return std::string("Logon session");
  if (auto rid = tail_after("S-1-5-21-")) {
    const std::size_t dash = rid->rfind('-');
    const std::string_view last = dash == std::string_view::npos ? *rid : rid->substr(dash + 1);
    if (last == "500") return std::string("Administrator (domain or local)");
    if (last == "501") return std::string("Guest (domain or local)");
    if (last == "502") return std::string("krbtgt");
    if (last == "512") return std::string("Domain Admins");
    if (last == "513") return std::string("Domain Users");
  }
  return std::nullopt;
}

std::optional<std::string> ip_text(Bytes a) {
  char buf[48];
  if (a.size() == kIpv4Size) {
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return std::string(buf);
  }
  if (a.size() != kIpv6Size) return std::nullopt;
  std::uint16_t words[8];
  for (int k = 0; k < 8; ++k) words[k] = static_cast<std::uint16_t>((a[2 * k] << 8) | a[2 * k + 1]);
  // RFC 5952: the longest run of two or more zero groups (the first of equal runs)
  // becomes "::"; hex digits in lower case without leading zeros.
  int best = -1, best_len = 0;
  for (int k = 0; k < 8;) {
    if (words[k] != 0) {
      ++k;
      continue;
    }
    int j = k;
    while (j < 8 && words[j] == 0) ++j;
    if (j - k > best_len && j - k >= 2) {
      best = k;
      best_len = j - k;
    }
    k = j;
  }
  std::string out;
  for (int k = 0; k < 8; ++k) {
    if (k == best) {
      out += "::";
      k += best_len - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::snprintf(buf, sizeof buf, "%x", words[k]);
    out += buf;
  }
  return out;
}

namespace {

// The stored value as its column types it.
Converted convert_value(Conversion c, const ColumnSpec* def, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::Value:
      switch (in.kind) {
        case Source::Kind::UInt:
          if (in.column_type == static_cast<std::uint32_t>(ColumnType::DateTime)) {
            return convert(Conversion::DateTime, def, in, out);
          }
          // Long long is unsigned as stored; past 2^63 it is no count a writer meant.
          if (in.u > static_cast<std::uint64_t>(INT64_MAX)) return Converted::Failed;
          out.set_int(static_cast<std::int64_t>(in.u));
          return Converted::Value;
        case Source::Kind::Int:
          if (in.column_type == static_cast<std::uint32_t>(ColumnType::Boolean)) out.set_int(in.i != 0);
          else out.set_int(in.i);
          return Converted::Value;
        default:
          raw_value(in, out);
          return Converted::Value;
      }
    default:
      return Converted::Failed;
  }
}

// Text: stored text, or UTF-16LE bytes (one string, or a list separated by U+0000).
Converted convert_text(Conversion c, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::Text:
      if (in.kind == Source::Kind::Text) {
        out.s = strip_trailing_nuls(in.text);
      } else if (in.kind == Source::Kind::Bytes) {
        out.s = strip_trailing_nuls(lossy_utf8(in.raw));
      } else {
        out.s = key_text(in);
      }
      out.valid = true;
      return Converted::Value;
    case Conversion::Utf16:
    case Conversion::Utf16List: {
      if (in.kind != Source::Kind::Bytes && in.kind != Source::Kind::Text) return Converted::Failed;
      // A text column can hold UTF-16LE whatever its code page says; its stored bytes
      // are what counts.
      Bytes data = in.raw;
      if (data.empty() && in.kind == Source::Kind::Text) {
        out.s = strip_trailing_nuls(in.text);
        out.valid = true;
        return Converted::Value;
      }
      std::string text = utf16_text(data);
      if (c == Conversion::Utf16List) {
        std::string joined;
        std::size_t start = 0;
        for (std::size_t k = 0; k <= text.size(); ++k) {
          if (k == text.size() || text[k] == '\0') {
            if (k > start) {
              if (!joined.empty()) joined += "; ";
              joined.append(text, start, k - start);
            }
            start = k + 1;
          }
        }
        text = std::move(joined);
      }
      out.s = std::move(text);
      out.valid = true;
      return Converted::Value;
    }
    default:
      return Converted::Failed;
  }
}

// Bytes and integers written out as hex digits or GUID text.
Converted convert_encoded(Conversion c, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::Hex: {
      if (in.kind == Source::Kind::Bytes || in.kind == Source::Kind::Guid) {
        hex_into(in.raw, out.s);
      } else if (in.kind == Source::Kind::Int || in.kind == Source::Kind::UInt) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%016llx",
                      static_cast<unsigned long long>(in.kind == Source::Kind::Int ? static_cast<std::uint64_t>(in.i) : in.u));
        out.s = buf;
      } else {
        return Converted::Failed;
      }
      out.valid = true;
      return Converted::Value;
    }
    case Conversion::Hex64: {
      const auto v = u64_of(in);
      if (!v) return Converted::Failed;
      char buf[24];
      std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(*v));
      out.s = buf;
      out.valid = true;
      return Converted::Value;
    }
    case Conversion::Guid:
      if ((in.kind != Source::Kind::Bytes && in.kind != Source::Kind::Guid) || in.raw.size() != kGuidSize) {
        return Converted::Failed;
      }
      out.s = guid_of(in.raw);
      out.valid = true;
      return Converted::Value;
    default:
      return Converted::Failed;
  }
}

// Points in time (OLE dates, FILETIMEs, DateTime patterns, Unix seconds) and durations.
Converted convert_time(Conversion c, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::OleDate: {
      double days = 0;
      if (in.kind == Source::Kind::Float) days = in.f;
      else if (const auto v = u64_of(in)) days = std::bit_cast<double>(*v);
      else return Converted::Failed;
      std::int64_t us = 0;
      if (!ole_date_to_microseconds(days, us)) return Converted::Failed;
      out.set_int(us);
      return Converted::Value;
    }
    case Conversion::FileTime: {
      const auto v = u64_of(in);
      return v ? filetime_cell(*v, out) : Converted::Failed;
    }
    case Conversion::FileTimeBE: {
      if (in.kind != Source::Kind::Bytes || in.raw.size() != kBinary64Size) return Converted::Failed;
      std::uint64_t v = 0;
      for (std::uint8_t b : in.raw) v = (v << 8) | b;
      return filetime_cell(v, out);
    }
    case Conversion::DateTime: {
      const auto v = u64_of(in);
      if (!v) return Converted::Failed;
      // The one rule of the reader for DateTime patterns (record/decoded.h).
      std::int64_t us = 0;
      if (!datetime_to_microseconds(*v, us)) return Converted::Failed;
      out.set_int(us);
      return Converted::Value;
    }
    case Conversion::UnixSeconds: {
      const auto v = signed_of(in);
      if (!v || *v > INT64_MAX / kMicrosecondsPerSecond || *v < INT64_MIN / kMicrosecondsPerSecond) {
        return Converted::Failed;
      }
      out.set_int(*v * kMicrosecondsPerSecond);
      return Converted::Value;
    }
    case Conversion::DurationMs:
      return duration_cell(in, 1000, 1, out);
    case Conversion::DurationS:
      return duration_cell(in, kMicrosecondsPerSecond, 1, out);
    case Conversion::Duration100ns:
      return duration_cell(in, 1, 10, out);
    default:
      return Converted::Failed;
  }
}

// Security identifiers and network addresses as text.
Converted convert_identity(Conversion c, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::Sid:
    case Conversion::SidName: {
      std::optional<std::string> text;
      if (in.kind == Source::Kind::Bytes) text = sid_text(in.raw);
      else if (in.kind == Source::Kind::Text) text = strip_trailing_nuls(in.text);
      if (!text) return Converted::Failed;
      if (c == Conversion::SidName) {
        text = sid_well_known_name(*text);
        if (!text) return Converted::Null;  // an account without a well-known name
      }
      out.s = std::move(*text);
      out.valid = true;
      return Converted::Value;
    }
    case Conversion::Ip: {
      std::optional<std::string> text;
      if (in.kind == Source::Kind::Bytes) text = ip_text(in.raw);
      else if (in.kind == Source::Kind::Text) text = strip_trailing_nuls(in.text);
      if (!text) return Converted::Failed;
      out.s = std::move(*text);
      out.valid = true;
      return Converted::Value;
    }
    default:
      return Converted::Failed;
  }
}

// Integers read another way: signed, 16-bit signed, a bit field.
Converted convert_integer(Conversion c, const ColumnSpec* def, const Source& in, Cell& out) {
  switch (c) {
    case Conversion::Int: {
      const auto v = signed_of(in);
      if (!v) return Converted::Failed;
      out.set_int(*v);
      return Converted::Value;
    }
    case Conversion::Signed16: {
      const auto v = u64_of(in);
      if (!v || *v > 0xFFFF) return Converted::Failed;
      out.set_int(static_cast<std::int16_t>(static_cast<std::uint16_t>(*v)));
      return Converted::Value;
    }
    case Conversion::Bits: {
      const auto v = u64_of(in);
      if (!v || def == nullptr) return Converted::Failed;
      out.set_int(static_cast<std::int64_t>((*v >> def->shift) & def->mask));
      return Converted::Value;
    }
    default:
      return Converted::Failed;
  }
}
}  // namespace

Converted convert(Conversion c, const ColumnSpec* def, const Source& in, Cell& out) {
  out.valid = false;
  if (in.kind == Source::Kind::Null) return Converted::Null;
  switch (c) {
    case Conversion::Value:
      return convert_value(c, def, in, out);
    case Conversion::Text:
    case Conversion::Utf16:
    case Conversion::Utf16List:
      return convert_text(c, in, out);
    case Conversion::Hex:
    case Conversion::Hex64:
    case Conversion::Guid:
      return convert_encoded(c, in, out);
    case Conversion::OleDate:
    case Conversion::FileTime:
    case Conversion::FileTimeBE:
    case Conversion::DateTime:
    case Conversion::UnixSeconds:
    case Conversion::DurationMs:
    case Conversion::DurationS:
    case Conversion::Duration100ns:
      return convert_time(c, in, out);
    case Conversion::Sid:
    case Conversion::SidName:
    case Conversion::Ip:
      return convert_identity(c, in, out);
    case Conversion::Int:
    case Conversion::Signed16:
    case Conversion::Bits:
      return convert_integer(c, def, in, out);
    case Conversion::Join:
    case Conversion::TreePath:
      return Converted::Failed;  // the view reader resolves these
  }
  return Converted::Failed;
}

}  // namespace quarrow::profiles
