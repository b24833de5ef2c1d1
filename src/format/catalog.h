// The catalog: the rows of MSysObjects, the table the engine keeps its schema in.
//
// Every row is a record (format/record.h) of one fixed layout: the fixed columns below,
// then the variable columns from Name (id 128). Column ids and names are the engine's
// (the catalog's own column definitions, rgcdescMSO).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// The catalog's data tree (pgnoFDPMSO).
inline constexpr std::uint32_t kCatalogRootPage = 4;

// The database's own tree (objidSystemRoot): its root page and the space trees of the
// whole file, named by no catalog row.
inline constexpr std::uint32_t kSystemRootObjectId = 1;
// The catalog and the engine's shadow copy of it, as their own catalog rows name them
// (szMSO, szMSOShadow).
inline constexpr char kCatalogTableName[] = "MSysObjects";
inline constexpr char kShadowCatalogTableName[] = "MSysObjectsShadow";

// Row types (sysobj*: the Type column).
enum class CatalogType : std::uint16_t { Table = 1, Column = 2, Index = 3, LongValue = 4, Callback = 5 };
inline constexpr std::uint16_t kCatalogTypeTable = 1;
inline constexpr std::uint16_t kCatalogTypeColumn = 2;
inline constexpr std::uint16_t kCatalogTypeIndex = 3;
inline constexpr std::uint16_t kCatalogTypeLongValue = 4;
inline constexpr std::uint16_t kCatalogTypeCallback = 5;
// 6 and 7: the streaming-file space trees of old engine versions (sysobjSLVAvail,
// sysobjSLVOwnerMap). The reader has no use for them.
inline constexpr std::uint16_t kCatalogTypeStreamingAvail = 6;
inline constexpr std::uint16_t kCatalogTypeStreamingOwnerMap = 7;
inline constexpr std::uint16_t kLastCatalogType = 5;

// Fixed columns, by offset into the row (after the 4-byte record header).
inline constexpr std::size_t kCatalogOwnerOffset = 4;         // ObjidTable (column 1), u32
inline constexpr std::size_t kCatalogTypeOffset = 8;          // Type (2), u16
inline constexpr std::size_t kCatalogIdOffset = 10;           // Id (3), u32
inline constexpr std::size_t kCatalogTypeOrRootOffset = 14;   // ColtypOrPgnoFDP (4), u32
inline constexpr std::size_t kCatalogSpaceUsageOffset = 18;   // SpaceUsage (5), u32
inline constexpr std::size_t kCatalogFlagsOffset = 22;        // Flags (6), u32
inline constexpr std::size_t kCatalogCodepageOffset = 26;     // PagesOrLocale (7), u32
// Row lengths: up to and including Id; through SpaceUsage; through Flags; through
// PagesOrLocale (columns and indexes carry it).
inline constexpr std::size_t kCatalogMinimumRow = 14;
inline constexpr std::size_t kCatalogRowThroughSpaceUsage = 22;
inline constexpr std::size_t kCatalogRowThroughFlags = 26;
inline constexpr std::size_t kCatalogRowThroughCodepage = 30;

// Variable columns.
inline constexpr std::uint32_t kCatalogNameColumn = 128;          // Name
inline constexpr std::uint32_t kCatalogDefaultValueColumn = 131;  // DefaultValue
inline constexpr std::uint32_t kCatalogKeyListColumn = 132;       // KeyFldIDs

// Column row flags (the engine's FIELDFLAG bits).
inline constexpr std::uint32_t kColumnNotNull = 0x1;           // fFIELDNotNull
inline constexpr std::uint32_t kColumnMultiValued = 0x8;       // JET_bitColumnMultiValued
inline constexpr std::uint32_t kColumnHasDefault = 0x10;       // fFIELDDefault
inline constexpr std::uint32_t kColumnDefaultCallback = 0x80;  // JET_bitColumnUserDefinedDefault

// Index row flags (JET_bitIndex*, fIDX*).
inline constexpr std::uint32_t kIndexUnique = 0x01;                  // JET_bitIndexUnique
inline constexpr std::uint32_t kIndexPrimary = 0x20;                 // JET_bitIndexPrimary
inline constexpr std::uint32_t kIndexFourByteSegments = 0x00010000;  // fIDXExtendedColumns
// KeyFldIDs entries with 4-byte segments: {u8 flags, u8 reserved, u16 column id}.
inline constexpr std::uint8_t kSegmentDescending = 0x40;             // fIDXSEGDescending
inline constexpr std::size_t kSegmentColumnOffset = 2;

// Column type codes (JET_coltyp*): the catalog's ColtypOrPgnoFDP of a column row.
enum class ColumnType : std::uint32_t {
  Null = 0,
  Boolean = 1,        // JET_coltypBit
  UnsignedByte = 2,   // JET_coltypUnsignedByte
  SignedShort = 3,    // JET_coltypShort
  SignedLong = 4,     // JET_coltypLong
  Currency = 5,       // JET_coltypCurrency
  SingleFloat = 6,    // JET_coltypIEEESingle
  DoubleFloat = 7,    // JET_coltypIEEEDouble
  DateTime = 8,       // JET_coltypDateTime
  Binary = 9,         // JET_coltypBinary
  Text = 10,          // JET_coltypText
  LongBinary = 11,    // JET_coltypLongBinary
  LongText = 12,      // JET_coltypLongText
  Obsolete = 13,      // JET_coltypSLV
  UnsignedLong = 14,  // JET_coltypUnsignedLong
  LongLong = 15,      // JET_coltypLongLong
  Guid = 16,          // JET_coltypGUID
  UnsignedShort = 17, // JET_coltypUnsignedShort
  Max = 18,           // JET_coltypMax
};
inline constexpr std::uint32_t kMaxColumnType = 18;

// Text codepages (JET_CP* / Windows code page numbers).
inline constexpr std::uint32_t kCodepageUtf16Le = 1200;
// Columns created without a codepage hold windows-1252 text.
inline constexpr std::uint32_t kCodepageWindows1252 = 1252;
inline constexpr std::uint32_t kDefaultCodepage = kCodepageWindows1252;
// US-ASCII columns: the engine stores their bytes as windows-1252.
inline constexpr std::uint32_t kCodepageUsAscii = 20127;

}  // namespace quarrow
