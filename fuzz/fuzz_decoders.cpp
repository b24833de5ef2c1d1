// Decoder fuzz target: the first input byte chooses a decoder and a layout, the rest
// is handed to it raw. Covers the page header and tags (classic and large-page
// layouts), leaf and branch entries, catalog records, table records against a column
// set generated from the input, text decoding by codepage, and decompression.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forensic/carve.h"
#include "database/catalog.h"
#include "database/database.h"
#include "page/leaf.h"
#include "page/tag.h"
#include "export/json_lines.h"
#include "record/compression.h"
#include "record/decoded.h"
#include "record/long_value.h"
#include "record/parser.h"
#include "record/text.h"
#include "record/value.h"

namespace {

using quarrow::Bytes;

// The smallest database that opens: a header and an empty catalog leaf at page 4.
// Record decoding takes its layout (classic or large-page) from a Database.
std::unique_ptr<quarrow::Database> empty_database(std::uint32_t page_size) {
  std::vector<std::uint8_t> file(static_cast<std::size_t>(page_size) * 6, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) file[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  put32(4, quarrow::kDatabaseSignature);
  put32(8, 0x620);
  put32(232, 20);
  put32(236, page_size);
  put32(static_cast<std::size_t>(page_size) * 5 + 36, quarrow::kPageLeaf);
  auto db = quarrow::Database::open_bytes(std::move(file));
  if (!db) __builtin_trap();
  return std::move(*db);
}

const quarrow::Database& database(bool large) {
  static const std::unique_ptr<quarrow::Database> classic = empty_database(4096);
  static const std::unique_ptr<quarrow::Database> wide = empty_database(16384);
  return large ? *wide : *classic;
}

// Layouts for page decoding: classic shapes, the current shape on small and large
// pages, and a version above 0x620 (current header, classic tags).
quarrow::PageLayout layout_for(std::uint8_t selector, std::size_t page_size) {
  static const std::uint32_t versions[] = {0x620, 0x620, 0x620, 0x623};
  static const std::uint32_t revisions[] = {9, 12, 20, 20};
  quarrow::PageLayout layout;
  layout.version = versions[selector & 3];
  layout.revision = revisions[selector & 3];
  layout.page_size = static_cast<std::uint32_t>(page_size);
  return layout;
}

void fuzz_page(std::uint8_t selector, Bytes page) {
  const quarrow::PageLayout layout = layout_for(selector, page.size());
  quarrow::Result<quarrow::PageView> view = quarrow::parse_page_header(page, layout);
  if (!view) return;
  std::string scratch;
  for (std::uint32_t i = 0; i <= view->tag_count; ++i) {
    const auto index = static_cast<std::uint16_t>(i);
    quarrow::Result<quarrow::PageTag> tag = quarrow::read_tag(*view, index);
    quarrow::Result<quarrow::OwnedPageTag> owned = quarrow::read_tag_owned(*view, index);
    quarrow::PageTag entry;
    if (!quarrow::read_entry_tag(*view, index, scratch, entry)) continue;
    (void)quarrow::parse_leaf_entry(entry.flags, entry.value);
    (void)quarrow::parse_branch_entry(entry.flags, entry.value, static_cast<std::uint32_t>(page.size()));
  }
  (void)quarrow::slack_regions(*view);
}

void fuzz_entries(Bytes data) {
  if (data.empty()) return;
  const std::uint8_t flags = data[0] & 7;
  (void)quarrow::parse_leaf_entry(flags, data.subspan(1));
  (void)quarrow::parse_branch_entry(flags, data.subspan(1), 0xFFFFFFFFu);
}

void fuzz_catalog(Bytes data) {
  // Several records in one input, split by a length byte, then filed under tables.
  quarrow::CatalogBuilder builder;
  while (!data.empty()) {
    const std::size_t n = std::min<std::size_t>(data[0], data.size() - 1);
    // Alternately the checked form and the one that lists a failing row and goes on.
    if (builder.pending.size() % 2 == 0) {
      (void)quarrow::add_catalog_record(data.subspan(1, n), builder);
    } else {
      quarrow::add_catalog_row(data.subspan(1, n), 4, static_cast<std::uint16_t>(n), builder);
    }
    data = data.subspan(1 + n);
  }
  quarrow::attach_pending_entries(builder);
}

// Columns from the input: 5 bytes each (id byte pair, type, space usage, codepage
// choice) until a zero byte, then the record. Ids cover fixed, variable and tagged.
void fuzz_record(bool large, Bytes data) {
  static const std::uint32_t codepages[] = {1252, 1200, 20127, 65001, 0, 437};
  quarrow::TableInfo table;
  table.name = "T";
  std::size_t at = 0;
  while (at + 5 <= data.size() && data[at] != 0 && table.columns.size() < 64) {
    quarrow::ColumnInfo c;
    c.id = static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1] & 0x01) << 8);
    c.column_type = data[at + 2] % 19;
    c.space_usage = data[at + 3];
    if (data[at + 4] < 6) c.codepage = codepages[data[at + 4]];
    c.name = "c" + std::to_string(table.columns.size());
    table.columns.insert_or_replace(c.name, c);
    at += 5;
  }
  if (at < data.size()) ++at;
  const quarrow::Database& db = database(large);
  const quarrow::ColumnPlan plan = quarrow::make_column_plan(db, table);
  quarrow::Record record = quarrow::decode_record(plan, data.subspan(at));
  // No long-value tree: references resolve to empty values without touching pages.
  quarrow::resolve_long_values(db, table, record);
  std::string line;
  quarrow::record_to_json_line(record, line);
}

void fuzz_text(Bytes data) {
  static const std::uint32_t codepages[] = {1200, 1252, 20127, 65001, 1201, 0};
  if (data.empty()) return;
  const std::uint32_t codepage = codepages[data[0] % 6];
  const quarrow::Result<std::string> text = quarrow::decode_text(data.subspan(1), codepage);
  // The Arrow producer's route: into a buffer of exactly the promised bound (a heap
  // block, so that the sanitizer sees any write past it), giving the same text.
  std::vector<char> buffer(quarrow::decoded_text_bound(data.size() - 1) + 1);
  const std::size_t n = quarrow::decode_text_to(data.subspan(1), codepage, buffer.data() + 1);
  if (text.ok() != (n != quarrow::kUnknownCodepage)) __builtin_trap();
  if (text.ok() && std::string_view(buffer.data() + 1, n) != *text) __builtin_trap();
  (void)quarrow::lossy_utf8(data.subspan(1));
  for (std::uint32_t type = 0; type <= quarrow::kMaxColumnType + 1; ++type) {
    // The typed view of the same bytes: text never keeps a trailing NUL, and DateTime
    // bits give a date (OLE or FILETIME) or none.
    quarrow::DecodedValue typed;
    quarrow::decode_scalar(data.subspan(1), quarrow::decoded_type(type), codepage, typed);
    if (typed.valid && quarrow::decoded_type(type) == quarrow::DecodedType::Text && !typed.bytes.empty() &&
        typed.bytes.back() == '\0') {
      __builtin_trap();
    }
    quarrow::Result<quarrow::Value> v = quarrow::convert_value(data.subspan(1), type, codepage);
    if (!v) continue;
    std::string out;
    quarrow::append_value_json(out, *v);
  }
}

void fuzz_compression(Bytes data) {
  (void)quarrow::decompress(data, true);
  (void)quarrow::decompress(data, false);
  (void)quarrow::unpack_7bit_legacy(data);
  if (data.size() >= 2) {
    (void)quarrow::unpack_7bit(data, false);
    (void)quarrow::unpack_7bit(data, true);
  }
  (void)quarrow::xpress_decompress(data);
  (void)quarrow::lz4_decompress(data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = raw[0];
  const Bytes data(raw + 1, size - 1);
  switch (selector % 8) {
    case 0:
    case 1:
      fuzz_page(selector >> 3, data);
      break;
    case 2:
      fuzz_entries(data);
      break;
    case 3:
      fuzz_catalog(data);
      break;
    case 4:
      fuzz_record(false, data);
      break;
    case 5:
      fuzz_record(true, data);
      break;
    case 6:
      fuzz_text(data);
      break;
    default:
      fuzz_compression(data);
      break;
  }
  return 0;
}
