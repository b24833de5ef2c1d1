// The database header: the file's first page, with a shadow copy in the second.
//
// Named after the engine's header structure (DBFILEHDR, the le_* fields). Offsets are
// bytes from the start of the header page; integers are little-endian. The header is
// always checksummed in the old XOR form over the whole page (see format/checksum.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

inline constexpr std::size_t kHeaderChecksumOffset = 0;       // le_ulChecksum
inline constexpr std::size_t kHeaderSignatureOffset = 4;      // le_ulMagic
inline constexpr std::size_t kHeaderFormatVersionOffset = 8;  // le_ulVersion
inline constexpr std::size_t kHeaderDatabaseTimeOffset = 16;  // le_dbtimeDirtied
inline constexpr std::size_t kHeaderCreationTimeOffset = 28;  // signDb.logtimeCreate (signDb starts at 24)
inline constexpr std::size_t kHeaderStateOffset = 52;         // le_dbstate
inline constexpr std::size_t kHeaderLastConsistentTimeOffset = 64;  // logtimeConsistent
inline constexpr std::size_t kHeaderLastAttachTimeOffset = 72;      // logtimeAttach
inline constexpr std::size_t kHeaderLastDetachTimeOffset = 88;      // logtimeDetach
// le_dwMajorVersion, le_dwMinorVersion, le_dwBuildNumber, le_lSPNumber: the writer's OS.
inline constexpr std::size_t kHeaderOsVersionOffset = 216;
inline constexpr std::size_t kHeaderOsMinorOffset = kHeaderOsVersionOffset + 4;
inline constexpr std::size_t kHeaderOsBuildOffset = kHeaderOsVersionOffset + 8;
inline constexpr std::size_t kHeaderOsServicePackOffset = kHeaderOsVersionOffset + 12;
inline constexpr std::size_t kHeaderFormatRevisionOffset = 232;     // le_ulDaeUpdateMajor
inline constexpr std::size_t kHeaderPageSizeOffset = 236;           // le_cbPageSize
inline constexpr std::size_t kHeaderRepairCountOffset = 240;        // le_ulRepairCount
inline constexpr std::size_t kHeaderLastRepairTimeOffset = 244;     // logtimeRepair
inline constexpr std::size_t kHeaderLogGenerationLowOffset = 296;   // le_lGenMinRequired
inline constexpr std::size_t kHeaderLogGenerationHighOffset = 300;  // le_lGenMaxRequired
inline constexpr std::size_t kHeaderFileTypeOffset = 667;           // le_filetype

// ulDAEMagic: the value at kHeaderSignatureOffset (and the XOR checksum's seed).
inline constexpr std::uint32_t kDatabaseSignature = 0x89ABCDEF;
// The bytes of the header an opened database keeps (the fields up to the file type's
// neighbourhood; everything the tool reports lies inside).
inline constexpr std::size_t kHeaderCopySize = 660;
// No database is shorter than one page of the smallest size the engine ever wrote.
inline constexpr std::size_t kMinimumFileSize = 4096;
// A stored page size of 0 means the engine's original 4 KiB page (g_cbPageDefault).
inline constexpr std::uint32_t kDefaultHeaderPageSize = 4096;

// The header page and its shadow copy come first: page number N starts at file
// offset (N + 1) * page_size, so page 0 is the shadow and data pages start at 1.
inline constexpr std::uint64_t kHeaderPagesBeforeData = 2;
inline constexpr std::uint64_t page_file_offset(std::uint64_t page_number, std::uint64_t page_size) {
  return (page_number + 1) * page_size;
}

// le_dbstate values (JET_dbstate*).
inline constexpr std::uint32_t kStateJustCreated = 1;
inline constexpr std::uint32_t kStateDirtyShutdown = 2;
inline constexpr std::uint32_t kStateCleanShutdown = 3;
inline constexpr std::uint32_t kStateBeingConverted = 4;
inline constexpr std::uint32_t kStateForceDetach = 5;
inline constexpr std::uint32_t kStateIncrementalReseed = 6;
inline constexpr std::uint32_t kStateDirtyAndPatchedShutdown = 7;
inline constexpr std::uint32_t kStateRevertInProgress = 8;

// le_filetype values (JET_filetype*); 0 in files from engines that did not write it.
inline constexpr std::uint32_t kFileTypeDatabase = 1;
inline constexpr std::uint32_t kFileTypeStreamingFile = 2;
inline constexpr std::uint32_t kFileTypeLog = 3;
inline constexpr std::uint32_t kFileTypeCheckpoint = 4;
inline constexpr std::uint32_t kFileTypeTempDatabase = 5;

// LOGTIME, the engine's 8-byte time: seconds, minutes, hours, day, month (1-12),
// year - 1900; byte 6 bit 0 says the time is UTC (fTimeIsUTC), and the milliseconds
// are split over the upper bits of bytes 6 and 7.
inline constexpr std::size_t kLogTimeSize = 8;
inline constexpr std::size_t kLogTimeSecondsOffset = 0;
inline constexpr std::size_t kLogTimeMinutesOffset = 1;
inline constexpr std::size_t kLogTimeHoursOffset = 2;
inline constexpr std::size_t kLogTimeDayOffset = 3;
inline constexpr std::size_t kLogTimeMonthOffset = 4;
inline constexpr std::size_t kLogTimeYearOffset = 5;
inline constexpr std::size_t kLogTimeFlagsOffset = 6;  // the UTC bit, then milliseconds bits 0-6
inline constexpr std::uint8_t kLogTimeUtcBit = 0x01;
inline constexpr std::uint16_t kLogTimeYearBase = 1900;
// The milliseconds sit above bit 0 of bytes 6 and 7: bits 0-6 in byte 6, bits 7-9 in
// byte 7 (LOGTIME's bMillisecondsLow and bMillisecondsHigh).
inline constexpr std::size_t kLogTimeMillisecondsHighOffset = 7;
inline constexpr unsigned kLogTimeMillisecondsShift = 1;
inline constexpr unsigned kLogTimeMillisecondsLowBits = 7;
inline constexpr std::uint8_t kLogTimeMillisecondsHighMask = 0x07;

// Format versions (le_ulVersion) and revisions (le_ulDaeUpdateMajor) where the page
// layout changed. 0x620 is the version of every engine since Windows XP; the revision
// then tells the page layouts apart.
inline constexpr std::uint32_t kFormatVersion = 0x620;             // ulDAEVersionMax
inline constexpr std::uint32_t kRevisionTwoChecksums = 11;         // ECC page checksums begin
inline constexpr std::uint32_t kRevisionCurrentPageHeader = 17;    // large (16/32 KiB) pages possible
// From this revision a long-value reference may be an 8-byte id (LID64).
inline constexpr std::uint32_t kRevisionLid64 = 0x46;

}  // namespace quarrow
