// Conversion of one column's stored bytes into a Value, by the catalog's type code.
#include "record/value.h"

#include <bit>

#include "format/record.h"
#include "record/text.h"

namespace quarrow {
namespace {

constexpr const char* kTypeNames[kMaxColumnType + 1] = {
    "NULL",     "Boolean",   "Unsigned byte", "Signed short", "Signed long",
    "Currency", "Single precision FP", "Double precision FP", "DateTime",
    "Binary",   "Text",      "Long Binary",   "Long Text",    "Obsolete",
    "Unsigned long", "Long long", "GUID", "Unsigned short", "Max",
};

// Fixed-width numbers read the first `width` bytes and ignore the rest; data
// shorter than that cannot be a value of the type and reads as Null.
Value unsigned_le(Bytes d, std::size_t width, Value::Kind kind) {
  if (d.size() < width) return Value::null();
  std::uint64_t v = 0;
  switch (width) {
    case 1: v = d[0]; break;
    case 2: v = load_u16le(d, 0); break;
    case 4: v = load_u32le(d, 0); break;
    default: v = load_u64le(d, 0); break;
  }
  return Value::unsigned_int(kind, v);
}

}  // namespace

const char* column_type_name(std::uint32_t code) {
  return code <= kMaxColumnType ? kTypeNames[code] : nullptr;
}

Result<Value> convert_value(Bytes data, std::uint32_t column_type, std::optional<std::uint32_t> codepage) {
  if (data.empty()) return Value::null();
  using K = Value::Kind;
  switch (static_cast<ColumnType>(column_type)) {
    case ColumnType::Boolean:
      return Value::boolean(data[0] != 0);
    case ColumnType::UnsignedByte:
      // The engine stores this type at whatever width the writer chose; the
      // length alone says which integer it is.
      switch (data.size()) {
        case 1: return unsigned_le(data, 1, K::U8);
        case 2: return unsigned_le(data, 2, K::U16);
        case 4: return unsigned_le(data, 4, K::U32);
        case 8: return unsigned_le(data, 8, K::U64);
        default: return Value::of_bytes(K::Binary, data);
      }
    case ColumnType::SignedShort:
      if (data.size() < 2) return Value::null();
      return Value::signed_int(K::I16, static_cast<std::int16_t>(load_u16le(data, 0)));
    case ColumnType::SignedLong:
      if (data.size() < 4) return Value::null();
      return Value::signed_int(K::I32, static_cast<std::int32_t>(load_u32le(data, 0)));
    case ColumnType::UnsignedShort:
      return unsigned_le(data, 2, K::U16);
    case ColumnType::UnsignedLong:
      return unsigned_le(data, 4, K::U32);
    case ColumnType::LongLong:
      // Despite the name the engine's 64-bit column is read as unsigned.
      return unsigned_le(data, 8, K::U64);
    case ColumnType::Currency:
      return unsigned_le(data, 8, K::Currency);
    case ColumnType::DateTime:
      // Kept as the raw 64-bit word; turning it into a date is the caller's choice.
      return unsigned_le(data, 8, K::DateTime);
    case ColumnType::SingleFloat:
      if (data.size() < 4) return Value::null();
      return Value::single(std::bit_cast<float>(load_u32le(data, 0)));
    case ColumnType::DoubleFloat:
      if (data.size() < 8) return Value::null();
      return Value::dbl(std::bit_cast<double>(load_u64le(data, 0)));
    case ColumnType::Guid: {
      if (data.size() < kGuidSize) return Value::null();
      Value v;
      v.kind = K::Guid;
      for (std::size_t i = 0; i < kGuidSize; ++i) v.guid[i] = data[i];
      return v;
    }
    case ColumnType::Binary:
      return Value::of_bytes(K::Binary, data);
    case ColumnType::LongBinary:
      return Value::of_bytes(K::LongValue, data);
    case ColumnType::Text:
    case ColumnType::LongText: {
      // Columns created without a codepage hold windows-1252 text.
      const std::uint32_t cp = codepage.value_or(kDefaultCodepage);
      Value v;
      v.kind = K::Text;
      if (!decode_text_into(data, cp, v.bytes)) return EseError::unknown_codepage(cp);
      return v;
    }
    default:  // NULL, Obsolete, Max and anything the catalog should have refused
      return Value::null();
  }
}

std::string guid_text(const std::array<std::uint8_t, 16>& b) {
  // The first three groups are little-endian integers in storage, the last two
  // are byte arrays; the text shows all of them as written.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < kGuidSize; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    const std::uint8_t v = b[kGuidRfcOrder[i]];
    out.push_back(kHex[v >> 4]);
    out.push_back(kHex[v & 0xF]);
  }
  return out;
}

}  // namespace quarrow
