// Table records: the data part of a leaf entry of a table's data tree.
//
// Layout: byte 0 last fixed column id F, byte 1 last variable column id L, bytes 2-3
// offset V of the variable-offset array; fixed columns back to back from byte 4; at V
// the end offsets of variable columns 128..L (bit 15 = null); then variable data;
// then the tagged part: a directory of (column id, offset) words and the items.
// (The engine's REC: fidFixedLastInRec, fidVarLastInRec, ibEndOfFixedData.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/bytes.h"
#include "format/calendar.h"

namespace quarrow {

inline constexpr std::size_t kRecordLastFixedOffset = 0;
inline constexpr std::size_t kRecordLastVariableOffset = 1;
inline constexpr std::size_t kRecordVariableOffsetsOffset = 2;
inline constexpr std::size_t kRecordHeaderSize = 4;

// Column ids 1-127 are fixed (fidFixedLeast..Most), 128-255 variable (fidVarLeast..),
// 256 and up tagged (fidTaggedLeast..fidTaggedMost).
inline constexpr std::uint32_t kNoVariableColumns = 127;  // L when no variable column is present
inline constexpr std::uint32_t kFirstVariableId = 128;
inline constexpr std::uint32_t kFirstTaggedId = 256;
inline constexpr std::uint32_t kColumnIdLimit = 0x10000;  // tagged ids are u16

// The number of variable-offset words a record has: one per id from 128 to L, none
// when L says there is no variable column (127) or is below it.
inline constexpr std::uint64_t variable_column_count(std::uint32_t last_variable) {
  return last_variable >= kNoVariableColumns ? last_variable - kNoVariableColumns : 0;
}

// The catalog reads its rows with a variant: a last variable id below 128 is taken as
// the count itself. Catalog rows always carry Name (id 128), so such a row is damaged;
// reading it this way is what the catalog has always done, and the tables, columns and
// indexes it yields from a damaged catalog are part of what every output shows, so the
// variant stays (a row whose L is 127 reads 127 words here and none in a table record).
inline constexpr std::uint64_t catalog_variable_column_count(std::uint32_t last_variable) {
  return last_variable >= kFirstVariableId ? last_variable - kNoVariableColumns : last_variable;
}

// The engine keeps a null bit per fixed column 1..F in the bytes right before V (bit
// (id - 1) % 8 of byte (id - 1) / 8); some writers leave the bitmap out.
inline constexpr std::uint64_t fixed_null_bitmap_size(std::uint32_t last_fixed) { return (last_fixed + 7) / 8; }

// Variable part: one u16 end offset per column; bit 15 marks the column null.
inline constexpr std::size_t kVariableOffsetSize = 2;
inline constexpr std::uint16_t kVariableNull = 0x8000;
inline constexpr std::uint16_t kVariableEndMask = 0x7FFF;

// Bytes 0-3 of a record. A record shorter than that reads as all zeros: no fixed and no
// variable column, the variable offsets at 0.
struct RecordHeader {
  std::uint32_t last_fixed = 0;        // F
  std::uint32_t last_variable = 0;     // L
  std::uint64_t variable_offsets = 0;  // V
};

inline RecordHeader read_record_header(Bytes record) {
  RecordHeader h;
  if (record.size() < kRecordHeaderSize) return h;
  h.last_fixed = record[kRecordLastFixedOffset];
  h.last_variable = record[kRecordLastVariableOffset];
  h.variable_offsets = load_u16le(record, kRecordVariableOffsetsOffset);
  return h;
}

// The variable-offset array of a record: `count` end-offset words at V, the values
// back to back after them, value k from the end of value k - 1 (0 for the first) to its
// own end. The table records, the catalog's rows and recovery all read the array
// through this view; each keeps its own tolerance of damage, so nothing is checked on
// construction and every access that touches the bytes says what it needs.
class VariableOffsets {
 public:
  VariableOffsets(Bytes record, std::uint64_t offsets, std::uint64_t count)
      : record_(record), offsets_(offsets), count_(count), data_(offsets + kVariableOffsetSize * count) {}
  // A table record: one word per id 128..L.
  static VariableOffsets of_record(Bytes record, const RecordHeader& h) {
    return VariableOffsets(record, h.variable_offsets, variable_column_count(h.last_variable));
  }
  // A catalog row, with the catalog's count (catalog_variable_column_count).
  static VariableOffsets of_catalog_row(Bytes row) {
    const RecordHeader h = read_record_header(row);
    return VariableOffsets(row, h.variable_offsets, catalog_variable_column_count(h.last_variable));
  }

  std::uint64_t count() const { return count_; }
  // Where the values begin: right after the count words.
  std::uint64_t data_start() const { return data_; }
  // Word k lies inside the record (whether or not k is below the count).
  bool word_fits(std::uint64_t k) const {
    return in_bounds(record_, offsets_ + kVariableOffsetSize * k, kVariableOffsetSize);
  }
  // Word k as stored (null bit included); the caller has checked word_fits(k).
  std::uint16_t word(std::uint64_t k) const {
    return load_u16le(record_, static_cast<std::size_t>(offsets_ + kVariableOffsetSize * k));
  }
  // The end of value k, relative to data_start(); the caller has checked word_fits(k).
  std::uint64_t end(std::uint64_t k) const { return word(k) & kVariableEndMask; }
  // Value k's bytes; nothing when k is past the count, its word lies outside the
  // record, it is null, its start is past its end or it runs past the record.
  // (The form with an out-parameter is the one the record reader calls for every
  // variable column of every record.)
  bool value(std::uint64_t k, Bytes& out) const {
    if (k >= count_ || !word_fits(k)) return false;
    const std::uint16_t end_word = word(k);
    if (end_word & kVariableNull) return false;
    const std::uint64_t stop = end_word;
    const std::uint64_t start = k == 0 ? 0 : end(k - 1);
    if (start > stop || data_ + stop > record_.size()) return false;
    out = record_.subspan(static_cast<std::size_t>(data_ + start), static_cast<std::size_t>(stop - start));
    return true;
  }
  std::optional<Bytes> value(std::uint64_t k) const {
    Bytes out;
    if (!value(k, out)) return std::nullopt;
    return out;
  }

 private:
  Bytes record_;
  std::uint64_t offsets_;
  std::uint64_t count_;
  std::uint64_t data_;  // where the values begin
};
// Tagged directory: (u16 column id, u16 offset word) per present column. The first
// entry's offset is the directory's own size.
inline constexpr std::size_t kTaggedEntrySize = 4;
inline constexpr std::size_t kTaggedEntryIdOffset = 0;
inline constexpr std::size_t kTaggedEntryWordOffset = 2;
// Tagged directory word: bit 14 says the item starts with a flags byte; the offset has
// 14 bits, or 15 on large pages (records there can hold tagged parts beyond 16 KiB).
inline constexpr std::uint16_t kTaggedHasFlags = 0x4000;
inline constexpr std::uint16_t kTaggedOffsetMask = 0x3FFF;
inline constexpr std::uint16_t kTaggedOffsetMaskLarge = 0x7FFF;

// Flags byte at the front of a tagged item's data (TAGFLD_HEADER; always present on
// large pages; on classic pages when the directory entry says so).
inline constexpr std::uint8_t kItemLongValueColumn = 0x01;  // fLongValue: the column is a long-value type
inline constexpr std::uint8_t kItemCompressed = 0x02;       // fCompressed: first (or only) instance
inline constexpr std::uint8_t kItemSeparated = 0x04;        // fSeparated: data is a long-value id
inline constexpr std::uint8_t kItemMultiValued = 0x08;      // fMultiValues: u16 offsets to each instance follow
inline constexpr std::uint8_t kItemTwoValues = 0x10;        // fTwoValues: u8 length of the first, then both
inline constexpr std::uint8_t kItemNull = 0x20;             // fNull: explicit null, large-page layout only
// Multi-valued instance offsets: bit 15 marks a separated instance (a long-value id).
inline constexpr std::uint16_t kInstanceSeparated = 0x8000;
inline constexpr std::uint16_t kInstanceOffsetMask = 0x7FFF;

// Value encodings the column types fix.
inline constexpr std::size_t kGuidSize = 16;
// A GUID is stored as Data1 (u32 LE), Data2, Data3 (u16 LE), Data4 (8 bytes): the byte
// order that turns it into RFC 4122 (text) order.
inline constexpr std::uint8_t kGuidRfcOrder[kGuidSize] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
// DateTime is an OLE Automation date: days since 1899-12-30, 25569 of them before 1970.
inline constexpr double kOleDaysBefore1970 = 25569.0;
static_assert(kOleDaysBefore1970 == static_cast<double>(-days_from_civil(1899, 12, 30)));
// Currency counts 1/10,000 units.
inline constexpr std::int64_t kCurrencyScale = 10000;

}  // namespace quarrow
