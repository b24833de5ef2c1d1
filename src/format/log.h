// The transaction-log format: log files, their 4096-byte segments, the records inside,
// the checkpoint file, and the database header fields that tie a database to its logs.
//
// Every number below was read from the engine's published source (logapi.hxx, log.hxx,
// _logstream.hxx, daedef.hxx and the _log sources; the engine's own names are given in
// the comments) and checked on real SRUM log sets of Windows 10, 11 and Server 2022
// where a comment says "seen". Integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/database_header.h"

namespace quarrow::logfmt {

// ---- Building blocks ------------------------------------------------------------------

// LGPOS: u16 ib (byte in segment) @0, u16 isec (segment) @2, i32 lGeneration @4.
inline constexpr std::size_t kPositionSize = 8;
inline constexpr std::size_t kPositionByteOffset = 0;
inline constexpr std::size_t kPositionSectorOffset = 2;
inline constexpr std::size_t kPositionGenerationOffset = 4;
// SIGNATURE: u32 random @0, LOGTIME @4, 16-byte computer name @12.
inline constexpr std::size_t kSignatureSize = 28;
inline constexpr std::size_t kSignatureTimeOffset = 4;
// LOGTIME: 8 bytes (seconds .. years since 1900, then ms and the UTC bit); the one
// definition is the database header's.
using ::quarrow::kLogTimeSize;
// DBTIME sentinels: dbtimeNil (no value) and dbtimeInvalid (a before-time not to be checked).
inline constexpr std::uint64_t kDbtimeNil = 0xFFFFFFFFFFFFFFFFull;
inline constexpr std::uint64_t kDbtimeInvalid = 0xFFFFFFFFFFFFFFFEull;
// procidNil: a record of no session.
inline constexpr std::uint16_t kProcidNil = 0xFFFF;

// ---- Files ------------------------------------------------------------------------------

// The version-8 format's sector and segment: cbLogSector / cbSegmentSize.
inline constexpr std::size_t kSectorSize = 4096;
// File names: <base>.log (current), <base>NNNNN.log (older, hex), <base>tmp.log (next,
// often a recycled older generation), <base>resNNNNN.jrs (reserve), <base>.chk.
inline constexpr const char* kLogExtension = ".log";
inline constexpr const char* kReserveExtension = ".jrs";
inline constexpr const char* kCheckpointExtension = ".chk";

// ---- Log file header (LGFILEHDR, sector 0) --------------------------------------------------

inline constexpr std::size_t kHeaderChecksum = 0;          // ulChecksum (XOR form, seed 0x89ABCDEF)
inline constexpr std::size_t kHeaderGeneration = 4;        // lGeneration
inline constexpr std::size_t kHeaderSectorSize = 8;        // cbSec
inline constexpr std::size_t kHeaderHeaderSectors = 10;    // csecHeader
inline constexpr std::size_t kHeaderFileSectors = 12;      // csecLGFile
inline constexpr std::size_t kHeaderPageSize = 14;         // cbPageSize (0 = 4096)
inline constexpr std::size_t kHeaderCreateTime = 16;       // tmCreate
inline constexpr std::size_t kHeaderPreviousTime = 24;     // tmPrevGen
inline constexpr std::size_t kHeaderMajor = 32;            // ulMajor
inline constexpr std::size_t kHeaderMinor = 36;            // ulMinor
inline constexpr std::size_t kHeaderUpdateMajor = 40;      // ulUpdateMajor
inline constexpr std::size_t kHeaderSignature = 44;        // signLog
inline constexpr std::size_t kHeaderParameters = 72;       // dbms_param
inline constexpr std::size_t kParametersSize = 567;
inline constexpr std::size_t kHeaderFlags = 639;           // fLGFlags
inline constexpr std::size_t kHeaderCheckpoint = 640;      // lgposCheckpoint
inline constexpr std::size_t kHeaderUpdateMinor = 648;     // ulUpdateMinor
inline constexpr std::size_t kHeaderSectorMismatch = 652;  // fSectorSizeMismatch
inline constexpr std::size_t kHeaderPreviousSegmentXor = 653;  // checksumPrevLogAllSegments
inline constexpr std::size_t kHeaderEngineVersion = 661;   // le_ulEngineVersion (diagnostic)
inline constexpr std::size_t kHeaderFileType = 667;        // filetype
inline constexpr std::size_t kHeaderAttachments = 671;     // rgbAttach
inline constexpr std::size_t kAttachmentsSize = 2048;
// Engine parameters inside dbms_param: szSystemPath and szLogFilePath (261 bytes each).
inline constexpr std::size_t kParametersPathSize = 261;
inline constexpr std::size_t kParametersLogPath = 261;

// fLGFlags bits.
inline constexpr std::uint8_t kFlagReserveLogInUse = 0x01;  // fLGReservedLog
inline constexpr std::uint8_t kFlagCircularLogging = 0x02;  // fLGCircularLoggingCurrent
inline constexpr std::uint8_t kFlagCircularWasOn = 0x04;    // fLGCircularLoggingHistory

// ulMajor/ulMinor of the segment format (ulLGVersionMajor_Win7 + 1 = 8, minor frozen at 4000).
inline constexpr std::uint32_t kSegmentFormatMajor = 8;
inline constexpr std::uint32_t kFormatMinor = 4000;
// The older sector format (version 7, minor 3704): checksum records, no segment headers.
inline constexpr std::uint32_t kLegacyFormatMajor = 7;
// From this update-minor on, header @653 holds the XOR of the previous generation's segment checksums.
inline constexpr std::uint32_t kFirstUpdateMinorWithSegmentXor = 13;
// filetype: 3 log (JET_filetypeLog), 4 checkpoint (JET_filetypeCheckpoint); 0 in very old logs.
using ::quarrow::kFileTypeLog;         // the database header's file types
using ::quarrow::kFileTypeCheckpoint;
inline constexpr std::uint32_t kFileTypeUnknown = 0;

// ---- Attached-database entries (ATTACHINFO; log header @671, checkpoint @679) --------------

inline constexpr std::size_t kAttachEntrySize = 64;
inline constexpr std::size_t kAttachDbid = 0;
inline constexpr std::size_t kAttachFlags = 1;
inline constexpr std::size_t kAttachNamesLength = 2;
inline constexpr std::size_t kAttachDbtime = 4;
inline constexpr std::size_t kAttachLastObjid = 12;
inline constexpr std::size_t kAttachMaxPages = 16;
inline constexpr std::size_t kAttachPosition = 20;       // lgposAttach
inline constexpr std::size_t kAttachConsistent = 28;     // lgposConsistent
inline constexpr std::size_t kAttachDbSignature = 36;    // signDb
inline constexpr std::uint8_t kAttachUnicodeNames = 0x20;

// ---- Segments (LGSEGHDR, 40 bytes at the start of every data sector) ------------------------

inline constexpr std::size_t kSegmentHeaderSize = 40;
inline constexpr std::size_t kSegmentChecksum = 0;   // u32 XOR ^ isec, u32 ECC: as a 4 KiB page
inline constexpr std::size_t kSegmentPosition = 8;   // lgposSegment: ib 0, own isec, generation
inline constexpr std::size_t kSegmentTime = 16;      // logtimeSegmentStart
inline constexpr std::size_t kSegmentFlags = 36;     // fFlags
inline constexpr std::uint32_t kSegmentEccFlag = 0x2000;  // the new checksum form (every segment seen)

// ---- Records (LRTYP: the first byte of every record) ------------------------------------------

enum RecordType : std::uint8_t {
  kNop = 0, kInit = 1, kTerm = 2, kMS = 3, kEnd = 4, kBegin = 5, kCommit = 6, kRollback = 7,
  kBegin0 = 8, kCommit0 = 9, kRefresh = 10, kMacroBegin = 11, kMacroCommit = 12, kMacroAbort = 13,
  kCreateDB = 14, kAttachDB = 15, kDetachDB = 16, kRecoveryUndo = 17, kRecoveryQuit = 18,
  kFullBackup = 19, kIncBackup = 20, kJetOp = 21, kTrace = 22, kShutDownMark = 23,
  kCreateMultipleExtentFDP = 24, kCreateSingleExtentFDP = 25, kConvertFDP = 26, kSplit = 27,
  kMerge = 28, kInsert = 29, kFlagInsert = 30, kFlagInsertAndReplaceData = 31, kFlagDelete = 32,
  kReplace = 33, kReplaceD = 34, kDelete = 35, kUndoInfo = 36, kDelta = 37, kSetExternalHeader = 38,
  kUndo = 39, kChecksum = 42, kExtRestore = 45, kBackup = 46, kEmptyTree = 48, kInit2 = 49,
  kTerm2 = 50, kRecoveryUndo2 = 51, kRecoveryQuit2 = 52, kBeginDT = 53, kPrepCommit = 54,
  kPrepRollback = 55, kForceWriteLog = 57, kConvertFDP2 = 58, kExtRestore2 = 59, kBackup2 = 60,
  kForceLogRollover = 61, kSplit2 = 62, kMerge2 = 63, kScrub = 64, kPageMove = 65,
  kPagePatchRequest = 66, kMacroInfo = 67, kExtendDB = 68, kCommitCtx = 69, kScanCheck = 70,
  kNop2 = 71, kReAttach = 72, kMacroInfo2 = 73, kFreeFDP = 74, kIgnored9 = 75,
  kFragmentBegin = 76, kFragment = 77, kShrinkDB = 78, kCreateDBFinish = 79,
  kRecoveryQuitKeepAttachments = 80, kTrimDB = 81, kIgnored10 = 82, kIgnored19 = 91,
  kSetDbVersion = 92, kDelta64 = 93, kShrinkDB2 = 94, kNewPage = 95, kRootPageMove = 96,
  kSignalAttachDb = 97, kScanCheck2 = 98, kShrinkDB3 = 99, kExtentFreed = 100, kExtentFreed2 = 101,
};
// The first code no engine of this format writes: such a record cannot be sized.
inline constexpr std::uint8_t kFirstUnknownType = 102;
// "Ignorable" records (lrtypMacroInfo .. lrtypIgnored9, lrtypIgnored10 .. 19): u8 type,
// u32 n, then n bytes; readers that do not know them skip them.
inline constexpr std::size_t kIgnorableHeaderSize = 5;

// Fixed sizes (sizeof the LR structure) of the records without a variable part.
inline constexpr std::size_t kInitSize = 568;
inline constexpr std::size_t kInit2Size = 576;
inline constexpr std::size_t kTermSize = 18;
inline constexpr std::size_t kTerm2Size = 26;
inline constexpr std::size_t kMSSize = 9;
inline constexpr std::size_t kBeginSize = 4;
inline constexpr std::size_t kBegin0Size = 8;
inline constexpr std::size_t kRefreshSize = 7;
inline constexpr std::size_t kMacroSize = 11;
inline constexpr std::size_t kRecoveryUndo2Size = 9;
inline constexpr std::size_t kCreateMultipleExtentFDPSize = 56;
inline constexpr std::size_t kCreateSingleExtentFDPSize = 48;
inline constexpr std::size_t kConvertFDPSize = 60;
inline constexpr std::size_t kConvertFDP2Size = 68;
inline constexpr std::size_t kChecksumSize = 22;
inline constexpr std::size_t kPrepRollbackSize = 3;
inline constexpr std::size_t kPagePatchRequestSize = 46;
inline constexpr std::size_t kShrinkDBSize = 10;
inline constexpr std::size_t kShrinkDB3Size = 18;
inline constexpr std::size_t kCreateDBFinishSize = 4;
inline constexpr std::size_t kSetDbVersionSize = 14;
inline constexpr std::size_t kNewPageSize = 20;
inline constexpr std::size_t kRootPageMoveSize = 16;
inline constexpr std::size_t kSignalAttachDbSize = 2;
inline constexpr std::size_t kScanCheck2Size = 27;
inline constexpr std::size_t kExtentFreedSize = 11;
inline constexpr std::size_t kExtentFreed2Size = 19;

// Fixed parts of the variable records (the length words they carry follow).
inline constexpr std::size_t kCreateDBFixed = 43;      // + [4 version bytes] + path (u16 @40)
inline constexpr std::size_t kCreateDBPathLength = 40;
inline constexpr std::size_t kCreateDBFlags = 42;
inline constexpr std::uint8_t kCreateDBVersionPresent = 0x04;
inline constexpr std::size_t kCreateDBVersionSize = 4;
inline constexpr std::size_t kAttachDBFixed = 75;      // + path (u16 @72)
inline constexpr std::size_t kDetachDBFixed = 7;       // + path (u16 @4)
inline constexpr std::size_t kShortPayloadFixed = 3;   // backup/restore markers: u16 @1
inline constexpr std::size_t kTraceFixed = 5;          // Trace, ForceLogRollover, Backup: u16 @3
inline constexpr std::size_t kBackup2Fixed = 35;       // u16 @33
inline constexpr std::size_t kPrepCommitFixed = 7;     // u32 @3
inline constexpr std::size_t kSplitFixed = 102;        // old Split: keys (u16 @96, @98, @100)
inline constexpr std::size_t kSplit2Fixed = 110;       // + page image (u32 @106)
inline constexpr std::size_t kMergeFixed = 88;         // old Merge: separator key (u16 @86)
inline constexpr std::size_t kMerge2Fixed = 96;        // + page image (u32 @92)
inline constexpr std::size_t kPageMoveFixed = 96;      // + header part (u32 @88) + trailer part (u32 @92)
inline constexpr std::size_t kFragmentBeginFixed = 7;  // u32 total @1, u16 piece @5
inline constexpr std::size_t kFragmentFixed = 3;       // u16 piece @1
// Where those length words sit.
inline constexpr std::size_t kIgnorableLength = 1;      // u32
inline constexpr std::size_t kShortPayloadLength = 1;   // u16
inline constexpr std::size_t kTraceLength = 3;          // u16; the text follows at 5
inline constexpr std::size_t kBackup2Length = 33;       // u16
inline constexpr std::size_t kPrepCommitLength = 3;     // u32
inline constexpr std::size_t kScrubLength = 52;         // u16
inline constexpr std::size_t kFragmentBeginTotal = 1;   // u32: the whole record
inline constexpr std::size_t kFragmentBeginPiece = 5;   // u16: this piece
inline constexpr std::size_t kFragmentPiece = 1;        // u16
// NOP, End, ShutDownMark and RecoveryUndo are the type byte alone.
inline constexpr std::size_t kTypeOnlySize = 1;

// Common page part (LRPAGE_, 32 bytes) of every page-level record.
inline constexpr std::size_t kPageProcid = 1;
inline constexpr std::size_t kPageDbid = 3;
inline constexpr std::size_t kPagePgno = 4;
inline constexpr std::size_t kPageDbtimeAfter = 8;
inline constexpr std::size_t kPageDbtimeBefore = 16;
inline constexpr std::size_t kPageTrxBegin0 = 24;
inline constexpr std::size_t kPageLevel = 28;
inline constexpr std::size_t kPageIline = 29;
inline constexpr std::size_t kPageFlags = 31;
inline constexpr std::size_t kPagePartSize = 32;
// Node part (LRNODE_, 44 bytes) of every node record.
inline constexpr std::size_t kNodeRceid = 32;
inline constexpr std::size_t kNodeRootPage = 36;   // pgnoFDP
inline constexpr std::size_t kNodeObjid = 40;      // objidFDP
inline constexpr std::size_t kNodePartSize = 44;

// Flags of the page part (fDIRVersion .. ).
inline constexpr std::uint8_t kNodeVersioned = 0x01;
inline constexpr std::uint8_t kNodeDeleted = 0x02;
inline constexpr std::uint8_t kNodeUnique = 0x04;
inline constexpr std::uint8_t kNodeSpace = 0x08;        // an operation on a space tree
inline constexpr std::uint8_t kNodeConcurrentCI = 0x10;
inline constexpr std::uint8_t kNodeSystemTask = 0x20;

// Node operations: sizes of the fixed part, and where the length words sit.
inline constexpr std::size_t kInsertFixed = 50;   // suffix @44, prefix @46, data @48
inline constexpr std::size_t kFlagInsertFixed = 48;  // key @44, data @46
inline constexpr std::size_t kFIARDFixed = 52;    // key @44, data @46, rceid of the replace @48
inline constexpr std::size_t kFlagDeleteSize = 44;
inline constexpr std::size_t kReplaceFixed = 50;  // length @44 (low 15 bits), before @46, after @48
inline constexpr std::uint16_t kReplaceLengthMask = 0x7FFF;
inline constexpr std::uint16_t kReplaceDiffLargeHeaders = 0x8000;
inline constexpr std::size_t kUndoInfoFixed = 56;  // key @44, bm data @46, oper @48, max @50, delta @52, data @54
inline constexpr std::size_t kDeltaFixed = 54;     // key @44, bm data @46, i32 delta @48, offset @52
inline constexpr std::size_t kDelta64Fixed = 58;   // key @44, bm data @46, i64 delta @48, offset @56
inline constexpr std::size_t kSetExternalHeaderFixed = 46;  // u16 @44
inline constexpr std::size_t kUndoFixed = 51;      // key @44, bm data @46, oper @48, level @50
inline constexpr std::size_t kEmptyTreeFixed = 46; // u16 @44, 16-byte entries
inline constexpr std::size_t kScrubFixed = 54;     // u16 @52
inline constexpr std::size_t kNodeLength1 = 44;
inline constexpr std::size_t kNodeLength2 = 46;
inline constexpr std::size_t kNodeLength3 = 48;
inline constexpr std::size_t kUndoInfoDataLength = 54;

// Operation codes in UndoInfo/Undo (@48).
inline constexpr std::uint16_t kOperInsert = 1;
inline constexpr std::uint16_t kOperReplace = 2;
inline constexpr std::uint16_t kOperFlagDelete = 3;
inline constexpr std::uint16_t kOperDelta = 4;
inline constexpr std::uint16_t kOperDelta64 = 9;

// Split2 (LRSPLITNEW_): the fields after the page part.
inline constexpr std::size_t kSplitNewPage = 32;
inline constexpr std::size_t kSplitRightPage = 36;
inline constexpr std::size_t kSplitRightDbtime = 40;
inline constexpr std::size_t kSplitParentPage = 48;
inline constexpr std::size_t kSplitParentDbtime = 52;
inline constexpr std::size_t kSplitRootPage = 60;
inline constexpr std::size_t kSplitObjid = 64;
inline constexpr std::size_t kSplitType = 68;
inline constexpr std::size_t kSplitOperation = 69;
inline constexpr std::size_t kSplitOperationIline = 70;
inline constexpr std::size_t kSplitIline = 72;
inline constexpr std::size_t kSplitNodes = 74;
inline constexpr std::size_t kSplitNewPageFlags = 76;
inline constexpr std::size_t kSplitPageFlags = 80;
inline constexpr std::size_t kSplitPrefixIline = 88;
inline constexpr std::size_t kSplitNewPrefixIline = 92;
inline constexpr std::size_t kSplitOldPrefixLength = 96;
inline constexpr std::size_t kSplitNewPrefixLength = 98;
inline constexpr std::size_t kSplitParentKeyLength = 100;
inline constexpr std::size_t kSplitImageFlags = 102;
inline constexpr std::size_t kSplitImageLength = 106;
// Merge2 (LRMERGENEW_).
inline constexpr std::size_t kMergeRightPage = 32;
inline constexpr std::size_t kMergeRightDbtime = 36;
inline constexpr std::size_t kMergeLeftPage = 44;
inline constexpr std::size_t kMergeLeftDbtime = 48;
inline constexpr std::size_t kMergeParentPage = 56;
inline constexpr std::size_t kMergeParentDbtime = 60;
inline constexpr std::size_t kMergeRootPage = 68;
inline constexpr std::size_t kMergeObjid = 72;
inline constexpr std::size_t kMergeIline = 82;
inline constexpr std::size_t kMergeFlags = 84;
inline constexpr std::size_t kMergeType = 85;
inline constexpr std::size_t kMergeKeyLength = 86;
inline constexpr std::size_t kMergeImageFlags = 88;
inline constexpr std::size_t kMergeImageLength = 92;
// PageMove (LRPAGEMOVE).
inline constexpr std::size_t kPageMoveDestination = 32;
inline constexpr std::size_t kPageMoveObjid = 76;
inline constexpr std::size_t kPageMoveHeaderLength = 88;
inline constexpr std::size_t kPageMoveTrailerLength = 92;
// Create/Convert FDP: the objid follows the page part in all three.
inline constexpr std::size_t kFdpObjid = 32;
// NewPage: procid @1, dbid @3, page @4, objid @8, dbtime @12.
inline constexpr std::size_t kNewPageDbid = 3;
inline constexpr std::size_t kNewPagePgno = 4;
inline constexpr std::size_t kNewPageObjid = 8;
inline constexpr std::size_t kNewPageDbtime = 12;

// Transaction records: procid @1, then levels (Begin: low nibble from, high nibble count).
inline constexpr std::size_t kTrxProcid = 1;
inline constexpr std::size_t kTrxLevels = 3;
// Fields packed two to a byte (the Begin record's levels: from in the low nibble,
// how many in the high one).
inline constexpr std::uint8_t kLowNibble = 0x0F;
inline constexpr unsigned kNibbleBits = 4;
inline constexpr std::size_t kTrxId = 4;           // Begin0 trxBegin0, Commit0 trxCommit0
inline constexpr std::size_t kMacroDbtime = 3;
// Init2/Term2/RecoveryQuit2: positions and times.
inline constexpr std::size_t kInit2Time = 568;
inline constexpr std::size_t kTermPosition = 1;     // lgpos (start of this run / of undo)
inline constexpr std::size_t kTermRedoFrom = 9;     // lgposRedoFrom
inline constexpr std::size_t kTermHard = 17;
inline constexpr std::size_t kTerm2Time = 18;
inline constexpr std::size_t kRecoveryUndo2Time = 1;
// AttachDB (LRATTACHDB): procid @1, dbid @3, max pages @4, lgposConsistent @8, signDb @16,
// signLog @44, u16 path length @72, flags @74, path @75.
inline constexpr std::size_t kAttachDBDbid = 3;
inline constexpr std::size_t kAttachDBMaxPages = 4;
inline constexpr std::size_t kAttachDBConsistent = 8;
inline constexpr std::size_t kAttachDBDbSignature = 16;
inline constexpr std::size_t kAttachDBLogSignature = 44;
inline constexpr std::size_t kAttachDBPathLength = 72;
inline constexpr std::size_t kAttachDBFlags = 74;
inline constexpr std::uint8_t kAttachDBUnicode = 0x08;
// CreateDB (LRCREATEDB): dbid @3, options @4, max pages @8, signDb @12.
inline constexpr std::size_t kCreateDBOptions = 4;
inline constexpr std::size_t kCreateDBSignature = 12;
inline constexpr std::uint8_t kCreateDBUnicode = 0x08;
// DetachDB (LRDETACHDB): dbid @3, u16 path length @4, flags @6, path @7.
inline constexpr std::size_t kDetachDBPathLength = 4;
inline constexpr std::size_t kDetachDBFlags = 6;
inline constexpr std::uint8_t kDetachDBUnicode = 0x10;

// The longest record a fragment chain may claim. The engine's largest records are a
// split or a page move with a page image (a 32 KiB page at most) plus keys; a total
// beyond this is damage, and refusing it keeps a hostile length from costing memory.
inline constexpr std::uint32_t kMaxRecordSize = 1u << 20;

// ---- Checkpoint file (CHECKPOINT: two 4096-byte copies) --------------------------------------

inline constexpr std::size_t kCheckpointCopySize = 4096;
inline constexpr std::size_t kCheckpointFullBackup = 4;      // lgposFullBackup
inline constexpr std::size_t kCheckpointPosition = 12;       // lgposCheckpoint
inline constexpr std::size_t kCheckpointSignature = 20;      // signLog
inline constexpr std::size_t kCheckpointFullBackupTime = 623;
inline constexpr std::size_t kCheckpointVersion = 647;       // bDummy/version flags
inline constexpr std::size_t kCheckpointConsistent = 648;    // lgposDbConsistency
inline constexpr std::size_t kCheckpointFileType = 667;
inline constexpr std::size_t kCheckpointAttachments = 679;
inline constexpr std::uint8_t kCheckpointHasAttachments = 0x01;

// ---- Database header fields that refer to logs (DBFILEHDR) -----------------------------------

inline constexpr std::size_t kDbDbtime = 16;               // dbtimeDirtied
inline constexpr std::size_t kDbSignature = 24;            // signDb
inline constexpr std::size_t kDbState = 52;                // dbstate
inline constexpr std::size_t kDbConsistentPosition = 56;   // lgposConsistent
inline constexpr std::size_t kDbAttachPosition = 80;       // lgposAttach
inline constexpr std::size_t kDbDbid = 104;                // dbid
inline constexpr std::size_t kDbLogSignature = 108;        // signLog
inline constexpr std::size_t kDbGenMin = 296;              // le_lGenMinRequired
inline constexpr std::size_t kDbGenMax = 300;              // le_lGenMaxRequired
inline constexpr std::size_t kDbGenMaxTimeOld = 348;       // logtimeGenMaxCreate
inline constexpr std::size_t kDbGenMaxCommitted = 416;     // le_lGenMaxCommitted
inline constexpr std::size_t kDbGenRecovering = 536;       // le_lGenRecovering
inline constexpr std::size_t kDbGenMinConsistent = 640;    // le_lGenMinConsistent
inline constexpr std::size_t kDbGenMaxTime = 672;          // logtimeGenMaxRequired
inline constexpr std::size_t kDbHeaderLogFieldsEnd = 680;
inline constexpr std::uint32_t kDbStateDirty = 2;          // JET_dbstateDirtyShutdown
inline constexpr std::uint32_t kDbStateClean = 3;          // JET_dbstateCleanShutdown
inline constexpr std::uint32_t kDbStateDirtyAndPatched = 7;

// A database page's dbtime (page header @8), the time of its last change.
inline constexpr std::size_t kDbPageDbtime = 8;

}  // namespace quarrow::logfmt
