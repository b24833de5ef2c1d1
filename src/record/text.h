// Text decoding by codepage, with byte-order-mark sniffing. The decoders follow the
// WHATWG Encoding Standard: malformed input becomes U+FFFD, decoding never fails once
// a decoder is chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/bytes.h"
#include "error/ese_error.h"

namespace quarrow {

// Codepages: 1200 UTF-16LE; 1252 and 20127 windows-1252. A leading EF BB BF, FF FE or
// FE FF selects UTF-8, UTF-16LE or UTF-16BE instead. Other codepages: UnknownCodepage.
Result<std::string> decode_text(Bytes data, std::uint32_t codepage);

// The same, appending to `out`; returns false (and leaves `out` unchanged) for an
// unknown codepage.
bool decode_text_into(Bytes data, std::uint32_t codepage, std::string& out);

// The same, written at `out`, which must have room for decoded_text_bound(data.size())
// bytes; returns the number of bytes written, or kUnknownCodepage. For callers that
// own their output buffer (the Arrow producer writes straight into a column).
inline constexpr std::size_t kUnknownCodepage = static_cast<std::size_t>(-1);
constexpr std::size_t decoded_text_bound(std::size_t n) { return 3 * n; }
std::size_t decode_text_to(Bytes data, std::uint32_t codepage, char* out);

// UTF-8 with every maximal ill-formed subsequence replaced by one U+FFFD.
std::string lossy_utf8(Bytes data);

}  // namespace quarrow
