#include "error/ese_error.h"

#include <string>

namespace quarrow {
namespace {

std::string hex(std::uint64_t v) {
  static const char digits[] = "0123456789abcdef";
  char buf[17];
  int n = 0;
  do {
    buf[n++] = digits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  std::string out = "0x";
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

// "[97, 98, 99]": a name shown byte by byte, since it need not be text.
std::string byte_list(const std::string& bytes) {
  std::string out = "[";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(static_cast<unsigned char>(bytes[i]));
  }
  out += "]";
  return out;
}

}  // namespace

std::string EseError::os_error_text() const {
  if (os_code_ < 0) return text_;
  // Appended piece by piece: g++ 12 warns (-Wrestrict, a false positive) on the chain
  // of operator+ that starts from a returned temporary.
  std::string text = text_;
  text += " (os error ";
  text += std::to_string(os_code_);
  text += ')';
  return text;
}

std::string user_message(const EseError& error) {
  switch (error.kind()) {
    case ErrorKind::TableNotFound:
      return "Table not found: " + error.text();
    case ErrorKind::Io:
      return error.os_error_text();
    default:
      return error.to_string();
  }
}

const char* context_prefix(ErrorContext context) {
  switch (context) {
    case ErrorContext::OpeningDatabase:
      return "Failed to open database: ";
    case ErrorContext::ReadingRecord:
      return "Error reading record: ";
    case ErrorContext::CreatingOutputFile:
      return "Failed to create output file: ";
    case ErrorContext::CreatingOutputDirectory:
      return "Failed to create output directory: ";
    case ErrorContext::WritingOutput:
      return "Write error: ";
    case ErrorContext::None:
      return "";
  }
  return "";
}

std::string in_context(ErrorContext context, std::string_view detail) {
  std::string text = context_prefix(context);
  text += detail;
  return text;
}

std::string in_context(ErrorContext context, const EseError& error) { return in_context(context, error.to_string()); }

std::string EseError::message() const {
  switch (context_) {
    case ErrorContext::None:
      return user_message(*this);
    case ErrorContext::OpeningDatabase:
    case ErrorContext::ReadingRecord:
      return in_context(context_, to_string());
    case ErrorContext::CreatingOutputFile:
    case ErrorContext::CreatingOutputDirectory:
    case ErrorContext::WritingOutput:
      return in_context(context_, user_message(*this));
  }
  return to_string();
}

std::string EseError::to_string() const {
  const auto d = [](std::uint64_t v) { return std::to_string(v); };
  switch (kind_) {
    case ErrorKind::InvalidHeader:
      return "Invalid database header";
    case ErrorKind::InvalidSignature:
      return "Invalid signature, expected 0x89ABCDEF, got " + hex(values_[0]);
    case ErrorKind::InvalidPageNumber:
      return "Invalid page number: " + d(values_[0]);
    case ErrorKind::InvalidTagNumber:
      return "Invalid tag number: " + d(values_[0]);
    case ErrorKind::TableNotFound:
      return "Table not found: " + byte_list(text_);
    case ErrorKind::UnsupportedCatalogType:
      return "Unsupported catalog type: " + d(values_[0]);
    case ErrorKind::UnsupportedColumnType:
      return "Unsupported column type: " + d(values_[0]);
    case ErrorKind::CallbackCatalogType:
      return "Callback catalog type is not supported";
    case ErrorKind::InvalidCatalogEntry:
      return "Invalid catalog entry";
    case ErrorKind::PageDataTooShort:
      return "Page data too short, expected at least " + d(values_[0]) + " bytes, got " + d(values_[1]);
    case ErrorKind::TagOffsetOutOfBounds:
      return "Tag offset out of bounds: offset=" + d(values_[0]) + ", size=" + d(values_[1]) +
             ", page_size=" + d(values_[2]);
    case ErrorKind::UnknownCodepage:
      return "Unknown codepage: " + d(values_[0]);
    case ErrorKind::Io:
      return "IO error: " + os_error_text();
    case ErrorKind::Parse:
      return "Parse error: " + text_;
    case ErrorKind::Refused:
      return text_;
    case ErrorKind::DatabaseNotFound:
      return "Database file not found: " + text_;
    case ErrorKind::LongValueAbsent:
      return "Long value not found: " + d(values_[0]);
    case ErrorKind::LongValueDamaged:
      return "Damaged long value: " + text_;
    case ErrorKind::LongValueOverBudget:
      return "Long value beyond the reading's budget: " + d(values_[0]);
    case ErrorKind::LongValueCycle:
      return "Long value not found in a tree that leads back to itself: " + d(values_[0]);
  }
  return "Invalid database header";
}

}  // namespace quarrow
