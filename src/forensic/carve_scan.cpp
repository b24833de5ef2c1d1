// The UTF-16LE string scanner: finds runs of printable-ASCII code units
// (U+0020..U+007E) at even page offsets inside one region of a page.
//
// A run is a maximal sequence of printable units bounded by a non-printable unit or
// by the region's edges; starting a run anywhere inside another run only yields a
// shorter run, so the hits are exactly the maximal runs of at least `min_run` units.
// The scanner classifies 64 units at a time into a bit mask (SSE2 where available,
// a scalar loop elsewhere) and walks the mask bits, so slack full of zeros or of
// binary data costs a few instructions per 128 bytes and no text is built for runs
// that are too short.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "forensic/carve.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARROW_CARVE_SSE2 1
#endif

namespace quarrow {
namespace {

constexpr std::size_t kBlockUnits = 64;

inline bool printable_unit(std::uint8_t low, std::uint8_t high) {
  return high == 0 && low >= 0x20 && low <= 0x7E;
}

// Bit k set when the unit at p + 2k is printable, for k < count (count <= 64).
std::uint64_t unit_mask_scalar(const std::uint8_t* p, std::size_t count) {
  std::uint64_t mask = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (printable_unit(p[2 * k], p[2 * k + 1])) mask |= std::uint64_t{1} << k;
  }
  return mask;
}

#if defined(QUARROW_CARVE_SSE2)
// 16 units (32 bytes) into 16 mask bits. Adding 0x7FE0 maps the printable range
// 0x20..0x7E onto 0x8000..0x805E, the lowest signed 16-bit values, so one signed
// compare against 0x805F tests the unsigned range.
inline std::uint32_t unit_mask16(const std::uint8_t* p) {
  const __m128i bias = _mm_set1_epi16(0x7FE0);
  const __m128i limit = _mm_set1_epi16(static_cast<short>(0x805F));
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i ta = _mm_cmplt_epi16(_mm_add_epi16(a, bias), limit);
  const __m128i tb = _mm_cmplt_epi16(_mm_add_epi16(b, bias), limit);
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(ta, tb)));
}

inline std::uint64_t unit_mask64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(unit_mask16(p)) | (static_cast<std::uint64_t>(unit_mask16(p + 32)) << 16) |
         (static_cast<std::uint64_t>(unit_mask16(p + 64)) << 32) |
         (static_cast<std::uint64_t>(unit_mask16(p + 96)) << 48);
}
#else
inline std::uint64_t unit_mask64(const std::uint8_t* p) {
  // Slack is mostly zeros: test 16 bytes at a time before classifying units.
  std::uint64_t mask = 0;
  for (std::size_t chunk = 0; chunk < 8; ++chunk) {
    const std::uint8_t* q = p + 16 * chunk;
    std::uint64_t w0, w1;
    std::memcpy(&w0, q, 8);
    std::memcpy(&w1, q + 8, 8);
    if ((w0 | w1) == 0) continue;
    mask |= unit_mask_scalar(q, 8) << (8 * chunk);
  }
  return mask;
}
#endif

inline unsigned lowest_bit(std::uint64_t x) { return static_cast<unsigned>(std::countr_zero(x)); }

// Bits at positions >= from (from <= 64).
inline std::uint64_t bits_from(std::uint64_t x, unsigned from) {
  return from >= 64 ? 0 : x & (~std::uint64_t{0} << from);
}

class RunSink {
 public:
  RunSink(const CarveRegion& region, const std::uint8_t* base, std::uint64_t first_offset,
          std::string_view needle, std::uint64_t min_run, std::uint64_t max_hits,
          std::vector<CarveHit>& results)
      : region_(region), base_(base), first_offset_(first_offset), needle_(needle), min_run_(min_run),
        max_hits_(max_hits), results_(results) {}

  // The run of units [start, end) (unit indexes from the region's first even offset).
  // Returns false once the hit limit is reached.
  bool run(std::size_t start, std::size_t end) {
    const std::size_t length = end - start;
    if (length < min_run_) return true;
    CarveHit hit;
    // Without a needle every run is a hit: its text is built in place.
    std::string& text = needle_.empty() ? hit.text : text_;
    extract_text(base_ + 2 * start, length, text);
    if (!needle_.empty()) {
      if (!contains(text_, needle_)) return true;
      hit.text = text_;
    }
    hit.page = region_.page;
    hit.offset = first_offset_ + 2 * static_cast<std::uint64_t>(start);
    hit.slack_start = region_.start;
    hit.slack_end = region_.end;
    hit.region_kind = region_.region_kind;
    hit.page_flags = region_.page_flags;
    hit.page_type = region_.page_type;
    if (region_.table != nullptr) hit.table = *region_.table;
    results_.push_back(std::move(hit));
    return results_.size() < max_hits_;
  }

 private:
  // The low bytes of `length` printable units (their high bytes are all zero).
  static void extract_text(const std::uint8_t* p, std::size_t length, std::string& out) {
    out.resize(length);
    char* dst = out.data();
    std::size_t k = 0;
#if defined(QUARROW_CARVE_SSE2)
    for (; k + 16 <= length; k += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k + 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k), _mm_packus_epi16(a, b));
    }
#endif
    for (; k < length; ++k) dst[k] = static_cast<char>(p[2 * k]);
  }

  static bool contains(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return false;
#if defined(__linux__) || defined(__APPLE__)
    // glibc's memmem is linear in the text (two-way algorithm): a long repetitive
    // needle against long runs cannot make the scan quadratic.
    return ::memmem(text.data(), text.size(), needle.data(), needle.size()) != nullptr;
#else
    return text.find(needle) != std::string_view::npos;
#endif
  }

  const CarveRegion& region_;
  const std::uint8_t* base_;
  std::uint64_t first_offset_;
  std::string_view needle_;
  std::uint64_t min_run_;
  std::uint64_t max_hits_;
  std::vector<CarveHit>& results_;
  std::string text_;
};

bool printable_text(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u <= 0x7E;
  });
}

}  // namespace

void scan_region(const CarveRegion& region, Bytes page, std::string_view needle, std::uint64_t min_run,
                 std::uint64_t max_hits, std::vector<CarveHit>& results) {
  if (min_run < 2) min_run = 2;
  if (max_hits < 1) max_hits = 1;
  if (results.size() >= max_hits) return;
  // Code units lie at even page offsets only; a region never reads past the page.
  const std::uint64_t end = std::min<std::uint64_t>(region.end, page.size());
  const std::uint64_t first = region.start + (region.start & 1);
  if (first >= end) return;
  const std::size_t units = static_cast<std::size_t>((end - first) / 2);
  if (units < min_run) return;
  // Hits hold printable text only, so a needle with any other byte never matches.
  if (!printable_text(needle)) return;

  const std::uint8_t* base = page.data() + first;
  RunSink sink(region, base, first, needle, min_run, max_hits, results);
  bool open = false;        // a run is in progress
  std::size_t run_start = 0;
  for (std::size_t block = 0; block < units; block += kBlockUnits) {
    const std::size_t count = std::min(kBlockUnits, units - block);
    const std::uint64_t mask =
        count == kBlockUnits ? unit_mask64(base + 2 * block) : unit_mask_scalar(base + 2 * block, count);
    const std::uint64_t valid = count == kBlockUnits ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    const std::uint64_t breaks = ~mask & valid;  // units that end a run
    if (!open && mask == 0) continue;
    if (open && breaks == 0) continue;  // the run goes on through the whole block
    unsigned pos = 0;
    for (;;) {
      if (open) {
        const std::uint64_t b = bits_from(breaks, pos);
        if (b == 0) break;
        const unsigned t = lowest_bit(b);
        open = false;
        if (!sink.run(run_start, block + t)) return;
        pos = t + 1;
      } else {
        const std::uint64_t s = bits_from(mask, pos);
        if (s == 0) break;
        const unsigned t = lowest_bit(s);
        open = true;
        run_start = block + t;
        pos = t;
      }
    }
  }
  if (open) sink.run(run_start, units);  // a run reaching the region's end needs no terminator
}

}  // namespace quarrow
