// EseError: the one error type of the storage, catalog, record and carving code,
// and Result<T>, the value-or-error return type used across the core's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quarrow {

// Declared in this order; the position is internal and never shown.
enum class ErrorKind : std::uint8_t {
  InvalidHeader,
  InvalidSignature,
  InvalidPageNumber,
  InvalidTagNumber,
  TableNotFound,
  UnsupportedCatalogType,
  UnsupportedColumnType,
  CallbackCatalogType,
  InvalidCatalogEntry,
  PageDataTooShort,
  TagOffsetOutOfBounds,
  UnknownCodepage,
  Io,
  Parse,
  // A request turned down before anything was read or written (an output path that
  // reaches an input, a table name that cannot be a file name, two inputs of one name).
  Refused,
  DatabaseNotFound,  // the path names no file
  // A long value the record refers to and the reader could not give; the causes stay
  // apart, as a forensic reading must tell a value never stored from one lost.
  LongValueAbsent,      // the tree holds nothing under its id (or the table has no tree)
  LongValueDamaged,     // the reference or the tree cannot be read
  LongValueOverBudget,  // resolving it would exceed the reading's budget
  LongValueCycle,       // not found in a tree whose pages lead back to pages met before
};

// What the reader was doing when an error stopped it. Each context has the one prefix
// users see before the error's own text ("Error reading record: Invalid page number: 7");
// the module and the tool both compose their messages here, so they word them alike.
enum class ErrorContext : std::uint8_t {
  None,                     // the error's text alone
  OpeningDatabase,          // "Failed to open database: "
  ReadingRecord,            // "Error reading record: "
  CreatingOutputFile,       // "Failed to create output file: "
  CreatingOutputDirectory,  // "Failed to create output directory: "
  WritingOutput,            // "Write error: "
};

class EseError {
 public:
  static EseError invalid_header() { return EseError(ErrorKind::InvalidHeader); }
  static EseError invalid_signature(std::uint32_t signature) {
    return EseError(ErrorKind::InvalidSignature, signature);
  }
  static EseError invalid_page_number(std::uint32_t page) {
    return EseError(ErrorKind::InvalidPageNumber, page);
  }
  static EseError invalid_tag_number(std::uint16_t tag) {
    return EseError(ErrorKind::InvalidTagNumber, tag);
  }
  static EseError table_not_found(std::string name_bytes) {
    return EseError(ErrorKind::TableNotFound, std::move(name_bytes));
  }
  static EseError unsupported_catalog_type(std::uint16_t type) {
    return EseError(ErrorKind::UnsupportedCatalogType, type);
  }
  static EseError unsupported_column_type(std::uint32_t type) {
    return EseError(ErrorKind::UnsupportedColumnType, type);
  }
  static EseError callback_catalog_type() { return EseError(ErrorKind::CallbackCatalogType); }
  static EseError invalid_catalog_entry() { return EseError(ErrorKind::InvalidCatalogEntry); }
  static EseError page_data_too_short(std::uint64_t expected, std::uint64_t got) {
    return EseError(ErrorKind::PageDataTooShort, expected, got);
  }
  static EseError tag_offset_out_of_bounds(std::uint64_t offset, std::uint64_t size,
                                           std::uint64_t page_size) {
    return EseError(ErrorKind::TagOffsetOutOfBounds, offset, size, page_size);
  }
  static EseError unknown_codepage(std::uint32_t codepage) {
    return EseError(ErrorKind::UnknownCodepage, codepage);
  }
  // An operating-system failure: the system's error code (errno, or GetLastError on
  // Windows) and the system's description of it (platform::system_error makes these).
  static EseError io(int os_code, std::string description) {
    EseError e(ErrorKind::Io, std::move(description));
    e.values_[0] = static_cast<std::uint64_t>(os_code);
    e.os_code_ = os_code;
    return e;
  }
  // An I/O failure the system makes up itself: rendered as the message alone.
  static EseError io_fixed(std::string message) {
    EseError e(ErrorKind::Io, std::move(message));
    e.os_code_ = -1;
    return e;
  }
  static EseError parse(std::string message) {
    return EseError(ErrorKind::Parse, std::move(message));
  }
  // Rendered as the message alone.
  static EseError refused(std::string message) { return EseError(ErrorKind::Refused, std::move(message)); }
  // `shown_path`: the path as the user gave it.
  static EseError database_not_found(std::string shown_path) {
    return EseError(ErrorKind::DatabaseNotFound, std::move(shown_path));
  }
  static EseError long_value_absent(std::uint64_t id) { return EseError(ErrorKind::LongValueAbsent, id); }
  // `reason` says what could not be read ("reference of 3 bytes", "tree root page 9").
  static EseError long_value_damaged(std::string reason) {
    return EseError(ErrorKind::LongValueDamaged, std::move(reason));
  }
  static EseError long_value_over_budget(std::uint64_t id) { return EseError(ErrorKind::LongValueOverBudget, id); }
  static EseError long_value_cycle(std::uint64_t id) { return EseError(ErrorKind::LongValueCycle, id); }

  // The same error, said of what the reader was doing.
  EseError in(ErrorContext context) && {
    context_ = context;
    return std::move(*this);
  }
  EseError in(ErrorContext context) const& { return EseError(*this).in(context); }
  ErrorContext context() const { return context_; }

  ErrorKind kind() const { return kind_; }
  // Byte-string payload (a table name), text payload (messages) or, for Io, the
  // system's description.
  const std::string& text() const { return text_; }
  std::uint64_t value(int i) const { return values_[i]; }
  // For Io: the system's error code, or -1 for a fixed message. 0 for other kinds.
  int os_code() const { return os_code_; }

  // The rendered one-line English message, without the context.
  std::string to_string() const;
  // The whole line users see: the context's prefix, then the error. Opening and
  // reading give the error's rendered message ("IO error: ..." included), as they
  // always have; the output contexts already say what failed, and give a system
  // error as the system describes it and a refusal as its message alone.
  std::string message() const;
  // For Io: "{description} (os error {code})", or the fixed message alone.
  std::string os_error_text() const;

 private:
  explicit EseError(ErrorKind kind, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0)
      : kind_(kind), values_{a, b, c} {}
  EseError(ErrorKind kind, std::string text) : kind_(kind), values_{0, 0, 0}, text_(std::move(text)) {}

  ErrorKind kind_;
  std::uint64_t values_[3];
  std::string text_;
  int os_code_ = 0;
  ErrorContext context_ = ErrorContext::None;
};

// The text a user sees for an error, the same from the module and the tool: a missing
// table as "Table not found: " and the stored name bytes (each front end turns them
// into text its own way), an I/O failure as the system describes it, anything else as
// to_string().
std::string user_message(const EseError& error);

// The prefix of a context, ending in ": ".
const char* context_prefix(ErrorContext context);
// "{prefix}{detail}".
std::string in_context(ErrorContext context, std::string_view detail);
// "{prefix}{error.to_string()}".
std::string in_context(ErrorContext context, const EseError& error);

// A value or an EseError. Small and dependency-free so that the core builds with
// any C++20 compiler (the fuzzers use clang, whose <expected> support varies).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(EseError error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const EseError& error() const& { return std::get<1>(v_); }
  EseError&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, EseError> v_;
};

// Success or an EseError.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(EseError error) : error_(std::move(error)), failed_(true) {}
  static Status success() { return Status(); }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const EseError& error() const& { return error_; }
  EseError&& error() && { return std::move(error_); }

 private:
  EseError error_ = EseError::invalid_header();
  bool failed_ = false;
};

}  // namespace quarrow
