#include "timeline/line_coder.h"

#include <cstring>

namespace quarrow::timeline {

namespace {

// How a coded form starts.
constexpr char kRaw = 0;     // the line as it is follows
constexpr char kShaped = 1;  // a shape's number, then each member's value
// A value that is the reference's own is this one byte (a length of its own is one more
// than the length of its text).
constexpr std::uint64_t kSameValue = 0;
// Shapes kept at most: lines of tables whose members change from row to row (recovered
// records) stop adding shapes there and are kept as they are.
constexpr std::size_t kMaxShapes = 4096;
// What a line ends with.
constexpr std::string_view kLineEnd = "}\n";

char* put_varint(char* p, std::uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

bool get_varint(std::string_view in, std::size_t& at, std::uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64 && at < in.size(); shift += 7) {
    const auto b = static_cast<unsigned char>(in[at++]);
    v |= std::uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

// The end of the JSON string starting at `at` (its opening quote): one past its closing
// quote; npos when it does not close. A quote ends the string unless an odd number of
// backslashes stands before it.
std::size_t string_end(std::string_view s, std::size_t at) {
  const char* const begin = s.data();
  const char* const end = begin + s.size();
  const char* p = begin + at + 1;
  for (;;) {
    const auto* q = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
    if (q == nullptr) return std::string_view::npos;
    const char* b = q;
    while (b > p && b[-1] == '\\') --b;
    if (((q - b) & 1) == 0) return static_cast<std::size_t>(q + 1 - begin);
    p = q + 1;
  }
}

// The end of the value at `at`: a string, or a bare number, null, true or false (which
// hold no ',' or '}'); npos for nested arrays and objects, which the coder leaves alone.
std::size_t value_end(std::string_view s, std::size_t at) {
  if (at >= s.size()) return std::string_view::npos;
  if (s[at] == '"') return string_end(s, at);
  if (s[at] == '[' || s[at] == '{') return std::string_view::npos;
  std::size_t k = at;
  while (k < s.size() && s[k] != ',' && s[k] != '}') ++k;
  return k == at || k == s.size() ? std::string_view::npos : k;
}

}  // namespace

bool LineCoder::take_apart(std::string_view line, std::vector<Member>& members) {
  members.clear();
  if (line.size() < 3 || line.front() != '{' || line.substr(line.size() - 2) != kLineEnd) return false;
  if (line.size() == 3) return true;  // "{}\n"
  std::size_t at = 0;
  for (;;) {
    const std::size_t key_at = at;
    ++at;  // '{' or ','
    if (at >= line.size() || line[at] != '"') return false;
    at = string_end(line, at);
    if (at == std::string_view::npos || at >= line.size() || line[at] != ':') return false;
    ++at;
    const std::size_t end = value_end(line, at);
    if (end == std::string_view::npos) return false;
    members.push_back(Member{static_cast<std::uint32_t>(key_at), static_cast<std::uint32_t>(at - key_at),
                             static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at)});
    if (line[end] == '}') return end == line.size() - 2;
    if (line[end] != ',') return false;
    at = end;
  }
}

bool LineCoder::encode_with(std::string& out, std::uint32_t id, const Shape& shape, std::string_view line) {
  // Room for the worst case, written through a pointer: a value's length takes fewer
  // bytes than the name it replaces (at least `,"":`), but for values of 256 MiB and
  // more, one byte more per member.
  const std::size_t start = out.size();
  out.resize(start + line.size() + 16 + shape.members.size());
  char* p = out.data() + start;
  *p++ = kShaped;
  p = put_varint(p, id);
  const char* const ref = shape.reference.data();
  const char* const text = line.data();
  std::size_t at = 0;
  for (const Member& m : shape.members) {
    if (line.size() - at < m.key_size || std::memcmp(text + at, ref + m.key_at, m.key_size) != 0) {
      out.resize(start);
      return false;
    }
    at += m.key_size;
    const std::size_t end = value_end(line, at);
    if (end == std::string_view::npos) {
      out.resize(start);
      return false;
    }
    const std::size_t size = end - at;
    if (size == m.value_size && std::memcmp(text + at, ref + m.value_at, size) == 0) {
      *p++ = static_cast<char>(kSameValue);
    } else {
      p = put_varint(p, size + 1);
      std::memcpy(p, text + at, size);
      p += size;
    }
    at = end;
  }
  if (shape.members.empty() && !line.empty() && line[0] == '{') at = 1;  // "{}\n"
  if (at == 0 || line.substr(at) != kLineEnd) {
    out.resize(start);
    return false;
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return true;
}

void LineCoder::encode(std::string& out, std::uint64_t group, std::string_view line) {
  // Lines of one group come in long runs: the group of the line before first.
  std::size_t slot = last_slot_;
  if (slot >= last_.size() || last_[slot].first != group) {
    slot = 0;
    while (slot < last_.size() && last_[slot].first != group) ++slot;
  }
  last_slot_ = slot;
  if (slot < last_.size() && encode_with(out, last_[slot].second, shapes_[last_[slot].second], line)) return;
  Shape shape;
  if (shapes_.size() < kMaxShapes && memory_ + line.size() <= max_bytes_ && take_apart(line, shape.members) &&
      memory_ + line.size() + shape.members.size() * sizeof(Member) + sizeof(Shape) <= max_bytes_) {
    shape.reference.assign(line);
    const auto id = static_cast<std::uint32_t>(shapes_.size());
    memory_ += line.size() + shape.members.size() * sizeof(Member) + sizeof(Shape);
    shapes_.push_back(std::move(shape));
    if (slot < last_.size()) last_[slot].second = id;
    else last_.emplace_back(group, id);
    last_slot_ = slot;
    if (encode_with(out, id, shapes_.back(), line)) return;
  }
  out += kRaw;
  out.append(line);
}

bool LineCoder::decode(std::string& out, std::string_view coded) const {
  if (coded.empty()) return false;
  if (coded[0] == kRaw) {
    out.append(coded.substr(1));
    return true;
  }
  std::size_t at = 1;
  std::uint64_t id = 0;
  if (coded[0] != kShaped || !get_varint(coded, at, id) || id >= shapes_.size()) return false;
  const Shape& shape = shapes_[id];
  const char* const ref = shape.reference.data();
  // The line is at most its reference's names and values and the coded values.
  const std::size_t start = out.size();
  out.resize(start + shape.reference.size() + coded.size() + kLineEnd.size() + 1);
  char* p = out.data() + start;
  if (shape.members.empty()) *p++ = '{';
  for (const Member& m : shape.members) {
    std::memcpy(p, ref + m.key_at, m.key_size);
    p += m.key_size;
    std::uint64_t n = 0;
    if (!get_varint(coded, at, n)) {
      out.resize(start);
      return false;
    }
    if (n == kSameValue) {
      std::memcpy(p, ref + m.value_at, m.value_size);
      p += m.value_size;
    } else {
      if (n - 1 > coded.size() - at) {
        out.resize(start);
        return false;
      }
      std::memcpy(p, coded.data() + at, n - 1);
      p += n - 1;
      at += n - 1;
    }
  }
  std::memcpy(p, kLineEnd.data(), kLineEnd.size());
  p += kLineEnd.size();
  out.resize(static_cast<std::size_t>(p - out.data()));
  return at == coded.size();
}

}  // namespace quarrow::timeline
