#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "error/ese_error.h"

namespace quarrow {
namespace {

struct RenderCase {
  EseError error;
  ErrorKind kind;
  std::string text;
};

// Every kind renders to a fixed English line; users see these texts verbatim.
TEST(EseErrorText, EveryKindRendersItsMessage) {
  const std::vector<RenderCase> cases = {
      {EseError::invalid_header(), ErrorKind::InvalidHeader, "Invalid database header"},
      {EseError::invalid_signature(0x89ABCDEF), ErrorKind::InvalidSignature,
       "Invalid signature, expected 0x89ABCDEF, got 0x89abcdef"},
      {EseError::invalid_signature(0), ErrorKind::InvalidSignature,
       "Invalid signature, expected 0x89ABCDEF, got 0x0"},
      {EseError::invalid_page_number(4294967295u), ErrorKind::InvalidPageNumber,
       "Invalid page number: 4294967295"},
      {EseError::invalid_tag_number(65535), ErrorKind::InvalidTagNumber, "Invalid tag number: 65535"},
      {EseError::table_not_found(""), ErrorKind::TableNotFound, "Table not found: []"},
      {EseError::table_not_found("abc"), ErrorKind::TableNotFound, "Table not found: [97, 98, 99]"},
      {EseError::table_not_found(std::string("\xff\0", 2)), ErrorKind::TableNotFound,
       "Table not found: [255, 0]"},
      {EseError::unsupported_catalog_type(6), ErrorKind::UnsupportedCatalogType, "Unsupported catalog type: 6"},
      {EseError::unsupported_column_type(19), ErrorKind::UnsupportedColumnType, "Unsupported column type: 19"},
      {EseError::callback_catalog_type(), ErrorKind::CallbackCatalogType, "Callback catalog type is not supported"},
      {EseError::invalid_catalog_entry(), ErrorKind::InvalidCatalogEntry, "Invalid catalog entry"},
      {EseError::page_data_too_short(40, 12), ErrorKind::PageDataTooShort,
       "Page data too short, expected at least 40 bytes, got 12"},
      {EseError::tag_offset_out_of_bounds(3888, 16, 4096), ErrorKind::TagOffsetOutOfBounds,
       "Tag offset out of bounds: offset=3888, size=16, page_size=4096"},
      {EseError::unknown_codepage(936), ErrorKind::UnknownCodepage, "Unknown codepage: 936"},
      {EseError::io_fixed("memory map length overflows isize"), ErrorKind::Io,
       "IO error: memory map length overflows isize"},
      {EseError::parse("Leaf entry too short"), ErrorKind::Parse, "Parse error: Leaf entry too short"},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(c.error.to_string(), c.text);
  }
}

// The platform supplies the description; the prefix and the numeric suffix are fixed.
TEST(EseErrorText, OsErrorCarriesPlatformTextAndCode) {
  const std::string text = EseError::io(ENOENT, "No such file").to_string();
  const std::string suffix = " (os error " + std::to_string(ENOENT) + ")";
  ASSERT_GT(text.size(), std::string("IO error: ").size() + suffix.size());
  EXPECT_EQ(text.rfind("IO error: ", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
  EXPECT_EQ(text, "IO error: No such file" + suffix);
}

// Both front ends take their message text from here: the context prefixes and the
// user text of an error are fixed, and a table name stays its stored bytes.
TEST(EseErrorText, ContextAndUserMessages) {
  EXPECT_EQ(in_context(ErrorContext::ReadingRecord, EseError::invalid_page_number(7)),
            "Error reading record: Invalid page number: 7");
  EXPECT_EQ(in_context(ErrorContext::OpeningDatabase, EseError::invalid_header()),
            "Failed to open database: Invalid database header");
  EXPECT_EQ(in_context(ErrorContext::CreatingOutputFile, "x"), "Failed to create output file: x");
  EXPECT_EQ(in_context(ErrorContext::CreatingOutputDirectory, ""), "Failed to create output directory: ");
  EXPECT_EQ(user_message(EseError::table_not_found("t\xff")), "Table not found: t\xff");
  EXPECT_EQ(user_message(EseError::io_fixed("gone")), "gone");
  EXPECT_EQ(user_message(EseError::io(ENOENT, "gone")), "gone" + std::string(" (os error ") + std::to_string(ENOENT) + ")");
  EXPECT_EQ(user_message(EseError::invalid_catalog_entry()), "Invalid catalog entry");
}

}  // namespace
}  // namespace quarrow
