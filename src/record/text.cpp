// Text column decoding: windows-1252, UTF-16LE/BE and UTF-8, all to UTF-8.
//
// Most text in real databases is ASCII, so every decoder first copies ASCII runs
// in bulk, eight input bytes per test, and only falls back to per-character work
// for the rest. Malformed input becomes U+FFFD as the WHATWG decoders prescribe.
#include "record/text.h"

#include <array>
#include <cstring>

#include "format/catalog.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarrow {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
// Four UTF-16LE code units that are all ASCII have a zero high byte and bit 7
// clear in the low byte.
constexpr std::uint64_t kUtf16NonAscii = 0xFF80FF80FF80FF80ULL;
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The end of the run of ASCII bytes that starts at b[i].
std::size_t ascii_run(Bytes b, std::size_t i) {
  const std::size_t n = b.size();
  while (n - i >= 8 && (load_u64le(b, i) & kHighBits) == 0) i += 8;
  while (i < n && b[i] < 0x80) ++i;
  return i;
}

// ---- windows-1252 -------------------------------------------------------------

// Code points of 0x80..0x9F as the WHATWG index has them: the five bytes Microsoft
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value.
constexpr std::uint16_t kCp1252C1[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Utf8Seq {
  std::uint8_t len;
  char bytes[3];
};

constexpr Utf8Seq encode_bmp(std::uint32_t cp) {
  if (cp < 0x800) {
    return Utf8Seq{2, {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F)), 0}};
  }
  return Utf8Seq{3,
                 {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (cp & 0x3F))}};
}

// UTF-8 of every byte 0x80..0xFF.
constexpr std::array<Utf8Seq, 128> make_cp1252_table() {
  std::array<Utf8Seq, 128> t{};
  for (std::uint32_t i = 0; i < 128; ++i) t[i] = encode_bmp(i < 32 ? kCp1252C1[i] : 0x80 + i);
  return t;
}
constexpr std::array<Utf8Seq, 128> kCp1252 = make_cp1252_table();

// Writes the UTF-8 of b[i, n) at p (room for 3 bytes per input byte); returns the end.
// ASCII is copied a block at a time while blocks hold nothing else.
char* cp1252_to(Bytes b, std::size_t i, char* p) {
  const std::size_t n = b.size();
  const std::uint8_t* in = b.data();
#if defined(__SSE2__)
  while (n - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(v) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    i += 16;
    p += 16;
  }
#endif
  while (n - i >= 8 && (load_u64le(b, i) & kHighBits) == 0) {
    std::memcpy(p, in + i, 8);
    i += 8;
    p += 8;
  }
  for (; i < n; ++i) {
    if (in[i] < 0x80) {
      *p++ = static_cast<char>(in[i]);
    } else {
      const Utf8Seq& s = kCp1252[in[i] - 0x80];
      std::memcpy(p, s.bytes, 3);  // the table pads every entry to 3 bytes
      p += s.len;
    }
  }
  return p;
}

void decode_cp1252(Bytes b, std::string& out) {
  const std::size_t n = b.size();
  const std::size_t prefix = ascii_run(b, 0);
  // Exact output size, so the string is allocated once and never over-sized.
  std::size_t size = out.size() + prefix;
  for (std::size_t i = prefix; i < n; ++i) size += b[i] < 0x80 ? 1 : kCp1252[b[i] - 0x80].len;
  const std::size_t base = out.size();
  // The table's padded 3-byte copies may write up to 2 bytes past the end.
  out.resize(size + 2);
  char* p = out.data() + base;
  std::memcpy(p, b.data(), prefix);
  cp1252_to(b, prefix, p + prefix);
  out.resize(size);
}

// ---- UTF-8 ----------------------------------------------------------------------

// What a UTF-8 lead byte asks of the bytes after it: how many continuation bytes,
// and the range the first of them must fall in (narrower after E0, ED, F0 and F4,
// which rules out overlong forms, surrogates and values above U+10FFFF).
struct Lead {
  std::uint8_t need = 0;  // 0: not a lead byte
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
};

constexpr Lead lead_of(std::uint8_t c) {
  if (c >= 0xC2 && c <= 0xDF) return Lead{1, 0x80, 0xBF};
  if (c == 0xE0) return Lead{2, 0xA0, 0xBF};
  if (c == 0xED) return Lead{2, 0x80, 0x9F};
  if (c >= 0xE1 && c <= 0xEF) return Lead{2, 0x80, 0xBF};
  if (c == 0xF0) return Lead{3, 0x90, 0xBF};
  if (c == 0xF4) return Lead{3, 0x80, 0x8F};
  if (c >= 0xF1 && c <= 0xF3) return Lead{3, 0x80, 0xBF};
  return Lead{};
}

// End of the longest run from b[i] made of complete, well-formed sequences.
std::size_t valid_utf8_run(Bytes b, std::size_t i) {
  const std::size_t n = b.size();
  while (i < n) {
    if (b[i] < 0x80) {
      i = ascii_run(b, i);
      continue;
    }
    const Lead l = lead_of(b[i]);
    if (l.need == 0 || n - i <= l.need) return i;
    if (b[i + 1] < l.lo || b[i + 1] > l.hi) return i;
    for (std::size_t k = 2; k <= l.need; ++k) {
      if ((b[i + k] & 0xC0) != 0x80) return i;
    }
    i += l.need + 1u;
  }
  return n;
}

// Length of the maximal subpart at b[i], where no well-formed sequence starts: the
// lead byte and the continuation bytes that could still have completed it, at least 1.
// Each maximal subpart becomes one U+FFFD.
std::size_t maximal_subpart(Bytes b, std::size_t i) {
  const Lead l = lead_of(b[i]);
  std::uint8_t lo = l.lo, hi = l.hi;
  std::size_t k = 1;
  while (k <= l.need && i + k < b.size() && b[i + k] >= lo && b[i + k] <= hi) {
    lo = 0x80;
    hi = 0xBF;
    ++k;
  }
  return k;
}

// Appends b as UTF-8, given that b[0, valid_end) is already known to be well formed.
void append_utf8(Bytes b, std::size_t valid_end, std::string& out) {
  const std::size_t n = b.size();
  out.reserve(out.size() + n);
  std::size_t i = 0;
  std::size_t end = valid_end;
  while (true) {
    out.append(reinterpret_cast<const char*>(b.data()) + i, end - i);
    if (end == n) break;
    out.append(kReplacement, 3);
    i = end + maximal_subpart(b, end);
    end = valid_utf8_run(b, i);
  }
}

// ---- UTF-16 ---------------------------------------------------------------------

inline char* put_utf8(char* p, std::uint32_t cp) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

template <bool kBigEndian>
std::uint32_t unit_at(Bytes b, std::size_t i) {
  return kBigEndian ? static_cast<std::uint32_t>((b[i] << 8) | b[i + 1])
                    : static_cast<std::uint32_t>(b[i] | (b[i + 1] << 8));
}

// Copies the UTF-16LE code units at b[i...] to p as ASCII while they come in blocks
// of ASCII units (a zero high byte and bit 7 clear in the low byte); advances i and p
// past them. The rest, fewer than a block or a block holding other units, is left.
inline void utf16le_ascii_blocks(Bytes b, std::size_t& i, char*& p) {
  const std::size_t n = b.size();
#if defined(__SSE2__)
  const __m128i non_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  while (n - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, non_ascii), _mm_setzero_si128())) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
    i += 16;
    p += 8;
  }
#endif
  while (n - i >= 8) {
    std::uint64_t w = load_u64le(b, i);
    if (w & kUtf16NonAscii) break;
    // Gather the four low bytes into the low 32 bits.
    w = (w | (w >> 8)) & 0x0000FFFF0000FFFFULL;
    w = w | (w >> 16);
    p[0] = static_cast<char>(w);
    p[1] = static_cast<char>(w >> 8);
    p[2] = static_cast<char>(w >> 16);
    p[3] = static_cast<char>(w >> 24);
    i += 8;
    p += 4;
  }
}

// Length in bytes of the run of ASCII code units at the start of b.
template <bool kBigEndian>
std::size_t utf16_ascii_prefix(Bytes b) {
  const std::size_t n = b.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i non_ascii = _mm_set1_epi16(static_cast<short>(kBigEndian ? 0x80FF : 0xFF80));
  while (n - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, non_ascii), _mm_setzero_si128())) != 0xFFFF) break;
    i += 16;
  }
#endif
  constexpr std::uint64_t kMask = kBigEndian ? 0x80FF80FF80FF80FFULL : kUtf16NonAscii;
  while (n - i >= 8 && (load_u64le(b, i) & kMask) == 0) i += 8;
  while (n - i >= 2 && unit_at<kBigEndian>(b, i) < 0x80) i += 2;
  return i;
}

// Writes the UTF-8 of b at p, which has room for 3 bytes per code unit and 3 for an
// odd final byte; returns the end.
template <bool kBigEndian>
char* utf16_to(Bytes b, char* p) {
  const std::size_t n = b.size();
  std::size_t i = 0;
  constexpr std::size_t lo = kBigEndian ? 1 : 0;
  constexpr std::uint64_t kMask = kBigEndian ? 0x80FF80FF80FF80FFULL : kUtf16NonAscii;
  std::uint32_t lead = 0;  // a pending high surrogate, 0 when none
  while (n - i >= 2) {
    if (lead == 0) {
      // Bulk ASCII, then singly.
      if constexpr (!kBigEndian) {
        utf16le_ascii_blocks(b, i, p);
      } else {
        while (n - i >= 8 && (load_u64le(b, i) & kMask) == 0) {
          p[0] = static_cast<char>(b[i + lo]);
          p[1] = static_cast<char>(b[i + 2 + lo]);
          p[2] = static_cast<char>(b[i + 4 + lo]);
          p[3] = static_cast<char>(b[i + 6 + lo]);
          p += 4;
          i += 8;
        }
      }
      if (n - i < 2) break;
    }
    const std::uint32_t cu = unit_at<kBigEndian>(b, i);
    i += 2;
    if (lead != 0) {
      if (cu >= 0xDC00 && cu <= 0xDFFF) {
        p = put_utf8(p, 0x10000 + ((lead - 0xD800) << 10) + (cu - 0xDC00));
        lead = 0;
        continue;
      }
      std::memcpy(p, kReplacement, 3);
      p += 3;
      lead = 0;
    }
    if (cu >= 0xD800 && cu <= 0xDBFF) {
      lead = cu;
    } else if (cu >= 0xDC00 && cu <= 0xDFFF) {
      std::memcpy(p, kReplacement, 3);
      p += 3;
    } else {
      p = put_utf8(p, cu);
    }
  }
  // A dangling high surrogate and an odd final byte together give one U+FFFD.
  if (lead != 0 || i < n) {
    std::memcpy(p, kReplacement, 3);
    p += 3;
  }
  return p;
}

template <bool kBigEndian>
void decode_utf16(Bytes b, std::string& out) {
  // Each code unit gives at most 3 bytes (a pair gives 4 for two units), and an
  // odd final byte one U+FFFD. ASCII-only input is sized exactly.
  const std::size_t n = b.size();
  const std::size_t i = utf16_ascii_prefix<kBigEndian>(b);
  const std::size_t base = out.size();
  out.resize(base + i / 2 + (n - i + 1) / 2 * 3);
  char* const start = out.data() + base;
  char* const end = utf16_to<kBigEndian>(b, start);
  out.resize(base + static_cast<std::size_t>(end - start));
}

enum class Decoder { Cp1252, Utf8, Utf16Le, Utf16Be };

// The decoder for a column's codepage, or for the byte-order mark at the start of
// `data` (which it then drops). False for an unknown codepage.
bool choose_decoder(Bytes& data, std::uint32_t codepage, Decoder& d) {
  switch (codepage) {
    case kCodepageUtf16Le: d = Decoder::Utf16Le; break;
    case kCodepageWindows1252:
    case kCodepageUsAscii: d = Decoder::Cp1252; break;  // US-ASCII columns still hold 1252 bytes
    default: return false;
  }
  // A byte-order mark says more about the bytes than the column's codepage does.
  const std::size_t n = data.size();
  if (n >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    d = Decoder::Utf8;
    data = data.subspan(3);
  } else if (n >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    d = Decoder::Utf16Le;
    data = data.subspan(2);
  } else if (n >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
    d = Decoder::Utf16Be;
    data = data.subspan(2);
  }
  return true;
}

}  // namespace

bool decode_text_into(Bytes data, std::uint32_t codepage, std::string& out) {
  Decoder d;
  if (!choose_decoder(data, codepage, d)) return false;
  switch (d) {
    case Decoder::Cp1252: decode_cp1252(data, out); break;
    case Decoder::Utf8: append_utf8(data, valid_utf8_run(data, 0), out); break;
    case Decoder::Utf16Le: decode_utf16<false>(data, out); break;
    case Decoder::Utf16Be: decode_utf16<true>(data, out); break;
  }
  return true;
}

std::size_t decode_text_to(Bytes data, std::uint32_t codepage, char* out) {
  Decoder d;
  if (!choose_decoder(data, codepage, d)) return kUnknownCodepage;
  char* end = out;
  switch (d) {
    case Decoder::Cp1252: end = cp1252_to(data, 0, out); break;
    case Decoder::Utf8: {
      // Well-formed runs as they are, each maximal ill-formed subpart (at least one
      // byte) as 3 bytes of U+FFFD.
      std::size_t i = 0;
      std::size_t valid = valid_utf8_run(data, 0);
      while (true) {
        std::memcpy(end, data.data() + i, valid - i);
        end += valid - i;
        if (valid == data.size()) break;
        std::memcpy(end, kReplacement, 3);
        end += 3;
        i = valid + maximal_subpart(data, valid);
        valid = valid_utf8_run(data, i);
      }
      break;
    }
    case Decoder::Utf16Le: end = utf16_to<false>(data, out); break;
    case Decoder::Utf16Be: end = utf16_to<true>(data, out); break;
  }
  return static_cast<std::size_t>(end - out);
}

Result<std::string> decode_text(Bytes data, std::uint32_t codepage) {
  std::string out;
  if (!decode_text_into(data, codepage, out)) return EseError::unknown_codepage(codepage);
  return out;
}

std::string lossy_utf8(Bytes data) {
  const std::size_t valid = valid_utf8_run(data, 0);
  if (valid == data.size()) return to_string(data);
  std::string out;
  append_utf8(data, valid, out);
  return out;
}

}  // namespace quarrow
