#include "log/log_types.h"

#include <cstdio>

#include "format/catalog.h"
#include "record/log_time.h"
#include "record/text.h"

namespace quarrow::logs {

std::string position_text(const LogPosition& p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06X,%04X,%04X", static_cast<unsigned>(p.generation),
                static_cast<unsigned>(p.sector), static_cast<unsigned>(p.byte));
  return buf;
}

std::string signature_text(const Signature& s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(load_u32le(Bytes(s), 0)));
  const LogTime t = parse_log_time(Bytes(s).subspan(logfmt::kSignatureTimeOffset, logfmt::kLogTimeSize));
  std::string text = buf;
  if (t.set) text += " " + log_time_text(t);
  return text;
}

namespace {
Bytes until_nul(Bytes b, std::size_t unit) {
  std::size_t n = 0;
  while (n + unit <= b.size()) {
    bool zero = true;
    for (std::size_t k = 0; k < unit; ++k) zero = zero && b[n + k] == 0;
    if (zero) break;
    n += unit;
  }
  return b.first(n);
}
}  // namespace

std::string utf16_name(Bytes b) {
  auto text = decode_text(until_nul(b, 2), kCodepageUtf16Le);
  return text ? std::move(text).value() : lossy_utf8(b);
}

std::string ansi_name(Bytes b) {
  auto text = decode_text(until_nul(b, 1), kCodepageWindows1252);
  return text ? std::move(text).value() : lossy_utf8(b);
}

}  // namespace quarrow::logs
