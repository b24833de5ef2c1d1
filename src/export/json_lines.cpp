#include "export/json_lines.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <system_error>

#include "record/text.h"

namespace quarrow {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// For each byte: 0 when it is copied as is, otherwise the letter of its short
// escape, or 'u' for the \u00xx form.
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}
constexpr std::array<char, 256> kEscape = make_escape_table();

template <class Int>
void append_integer(std::string& out, Int v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// The first byte at or after `p` that JSON escapes (a control character, '"' or '\\'),
// or `end`. Eight bytes are tested at a time: the text of a row is mostly plain.
const char* skip_plain(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    // A byte's high bit is set in `found` for a byte below 0x20 or equal to '"' or
    // '\\'; bytes of 0x80 and above (UTF-8) never count.
    const std::uint64_t quote = v ^ (kOnes * '"');
    const std::uint64_t backslash = v ^ (kOnes * '\\');
    const std::uint64_t found = ((v - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes)) & ~v & kHighs;
    if (found != 0) break;
    p += 8;
  }
  while (p != end && kEscape[static_cast<unsigned char>(*p)] == 0) ++p;
  return p;
}

}  // namespace

void append_json_number(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out.push_back('0');
    return;
  }
  if (x == 0) {
    out.append(std::signbit(x) ? "-0.0" : "0.0");
    return;
  }
  // The scientific form of the shortest round-trip conversion always carries exactly
  // the shortest digits. (The unformatted overload may pick fixed notation, which
  // prints large integers with all their exact digits, e.g. 123456789012345683968.)
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const char* p = buf;
  const char* const end = r.ptr;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
  // p: "d[.ddd]e±XX"
  char digits[24];
  int n = 0;
  while (p != end && *p != 'e') {
    if (*p != '.') digits[n++] = *p;
    ++p;
  }
  int exponent = 0;
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  ++p;  // sign
  std::from_chars(p, end, exponent);
  if (negative_exponent) exponent = -exponent;

  if (exponent >= -5 && exponent <= 15) {
    if (n - 1 <= exponent) {
      out.append(digits, n);
      out.append(static_cast<std::size_t>(exponent + 1 - n), '0');
      out.append(".0");
    } else if (exponent >= 0) {
      out.append(digits, exponent + 1);
      out.push_back('.');
      out.append(digits + exponent + 1, n - exponent - 1);
    } else {
      out.append("0.");
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out.append(digits, n);
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits + 1, n - 1);
  }
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  append_integer(out, exponent < 0 ? -exponent : exponent);
}

std::string json_number_text(double x) {
  std::string out;
  append_json_number(out, x);
  return out;
}

void append_json_string(std::string& out, std::string_view utf8) {
  out.push_back('"');
  const char* p = utf8.data();
  const char* const end = p + utf8.size();
  while (p != end) {
    // Copy the run of bytes that need no escape in one go.
    const char* run = p;
    p = skip_plain(p, end);
    out.append(run, p);
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p++);
    const char e = kEscape[c];
    if (e == 'u') {
      const char esc[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
      out.append(esc, 6);
    } else {
      const char esc[2] = {'\\', e};
      out.append(esc, 2);
    }
  }
  out.push_back('"');
}

void append_hex(std::string& out, std::string_view data) {
  const std::size_t start = out.size();
  out.resize(start + 2 * data.size());
  char* q = out.data() + start;
  for (const char ch : data) {
    const unsigned char c = static_cast<unsigned char>(ch);
    *q++ = kHexDigits[c >> 4];
    *q++ = kHexDigits[c & 0xF];
  }
}

std::string hex_text(Bytes data) {
  std::string out;
  append_hex(out, to_string_view(data));
  return out;
}

void append_value_json(std::string& out, const Value& value) {
  switch (value.kind) {
    case Value::Kind::Null:
      out.append("null");
      return;
    case Value::Kind::Bool:
      out.append(value.b ? "true" : "false");
      return;
    case Value::Kind::U8:
    case Value::Kind::U16:
    case Value::Kind::U32:
    case Value::Kind::U64:
    case Value::Kind::DateTime:
    case Value::Kind::Currency:
      append_integer(out, value.u);
      return;
    case Value::Kind::I16:
    case Value::Kind::I32:
      append_integer(out, value.i);
      return;
    case Value::Kind::F32:
      append_json_number(out, static_cast<double>(value.f32));
      return;
    case Value::Kind::F64:
      append_json_number(out, value.f64);
      return;
    case Value::Kind::Guid:
      out.push_back('"');
      out.append(guid_text(value.guid));
      out.push_back('"');
      return;
    case Value::Kind::Binary:
    case Value::Kind::MultiValue:
    case Value::Kind::LongValue:
      out.push_back('"');
      append_hex(out, value.bytes);
      out.push_back('"');
      return;
    case Value::Kind::Text:
      append_json_string(out, value.bytes);
      return;
  }
  out.append("null");
}

bool JsonLineWriter::same_names(const Record& record) const {
  if (!planned_ || record.fields.size() != name_sizes_.size()) return false;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const std::string_view name = record.fields[i].name;
    if (name.size() != name_sizes_[i] || name.compare(0, name.size(), names_, offset, name.size()) != 0) {
      return false;
    }
    offset += name.size();
  }
  return true;
}

void JsonLineWriter::plan(const Record& record) {
  const std::size_t count = record.fields.size();
  names_.clear();
  name_sizes_.clear();
  prefixes_.clear();
  members_.clear();

  std::vector<std::string> texts;
  texts.reserve(count);
  for (const Field& f : record.fields) {
    names_.append(f.name);
    name_sizes_.push_back(static_cast<std::uint32_t>(f.name.size()));
    texts.push_back(lossy_utf8(as_bytes(f.name)));
  }

  // std::string compares through char_traits<char>, which orders bytes as unsigned
  // values, i.e. UTF-8 byte order, with a prefix before its extensions.
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });

  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t field = order[k];
    // Of a run of equal names only the last (the latest field, as the sort is
    // stable) becomes a member.
    if (k + 1 < count && texts[order[k + 1]] == texts[field]) continue;
    Member m;
    m.field = field;
    m.prefix_begin = static_cast<std::uint32_t>(prefixes_.size());
    prefixes_.push_back(members_.empty() ? '{' : ',');
    append_json_string(prefixes_, texts[field]);
    prefixes_.push_back(':');
    m.prefix_end = static_cast<std::uint32_t>(prefixes_.size());
    members_.push_back(m);
  }
  planned_ = true;
}

void JsonLineWriter::render(const Record& record, std::string& out) {
  if (!same_names(record)) plan(record);
  out.clear();
  if (members_.empty()) {
    out.append("{}");
    return;
  }
  for (const Member& m : members_) {
    out.append(prefixes_, m.prefix_begin, m.prefix_end - m.prefix_begin);
    append_value_json(out, record.fields[m.field].value);
  }
  out.push_back('}');
}

void record_to_json_line(const Record& record, std::string& out) {
  JsonLineWriter writer;
  writer.render(record, out);
}

}  // namespace quarrow
