#include "log/record_types.h"

#include "format/log.h"

namespace quarrow::logs {

using namespace logfmt;

namespace {

constexpr const char* kNames[kFirstUnknownType] = {
    "NOP", "Init", "Term", "MS", "End", "Begin", "Commit", "Rollback", "Begin0", "Commit0",
    "Refresh", "MacroBegin", "MacroCommit", "MacroAbort", "CreateDB", "AttachDB", "DetachDB",
    "RecoveryUndo", "RecoveryQuit", "FullBackup", "IncBackup", "JetOp", "Trace", "ShutDownMark",
    "CreateMultipleExtentFDP", "CreateSingleExtentFDP", "ConvertFDP", "Split", "Merge", "Insert",
    "FlagInsert", "FlagInsertAndReplaceData", "FlagDelete", "Replace", "ReplaceD", "Delete",
    "UndoInfo", "Delta", "SetExternalHeader", "Undo", nullptr, nullptr, "Checksum", nullptr,
    nullptr, "ExtRestore", "Backup", nullptr, "EmptyTree", "Init2", "Term2", "RecoveryUndo2",
    "RecoveryQuit2", "BeginDT", "PrepCommit", "PrepRollback", nullptr, "ForceWriteLog",
    "ConvertFDP2", "ExtRestore2", "Backup2", "ForceLogRollover", "Split2", "Merge2", "Scrub",
    "PageMove", "PagePatchRequest", "MacroInfo", "ExtendDB", "CommitCtx", "ScanCheck", "NOP2",
    "ReAttach", "MacroInfo2", "FreeFDP", "Ignored9", "FragmentBegin", "Fragment", "ShrinkDB",
    "CreateDBFinish", "RecoveryQuitKeepAttachments", "TrimDB", "Ignored10", "Ignored11",
    "Ignored12", "Ignored13", "Ignored14", "Ignored15", "Ignored16", "Ignored17", "Ignored18",
    "Ignored19", "SetDbVersion", "Delta64", "ShrinkDB2", "NewPage", "RootPageMove",
    "SignalAttachDb", "ScanCheck2", "ShrinkDB3", "ExtentFreed", "ExtentFreed2",
};

RecordSize fixed(Bytes rest, std::size_t n) {
  (void)rest;
  return {RecordSize::Status::Ok, n};
}

// fixed + the u16 length words at the given offsets (all must lie in the bytes).
template <std::size_t N>
RecordSize with_u16(Bytes rest, std::size_t base, const std::size_t (&offsets)[N]) {
  std::uint64_t size = base;
  for (std::size_t off : offsets) {
    if (!in_bounds(rest, off, 2)) return {RecordSize::Status::Truncated, 0};
    size += load_u16le(rest, off);
  }
  return {RecordSize::Status::Ok, size};
}

RecordSize with_u32(Bytes rest, std::uint64_t size, std::size_t offset) {
  if (!in_bounds(rest, offset, 4)) return {RecordSize::Status::Truncated, 0};
  return {RecordSize::Status::Ok, size + load_u32le(rest, offset)};
}

}  // namespace

const char* record_type_name(std::uint8_t type) { return type < kFirstUnknownType ? kNames[type] : nullptr; }

bool is_ignorable_type(std::uint8_t type) {
  return (type >= kMacroInfo && type <= kIgnored9) || (type >= kIgnored10 && type <= kIgnored19);
}

bool is_node_record(std::uint8_t type) {
  switch (type) {
    case kInsert: case kFlagInsert: case kFlagInsertAndReplaceData: case kFlagDelete: case kReplace:
    case kReplaceD: case kDelete: case kUndoInfo: case kDelta: case kDelta64: case kSetExternalHeader:
    case kUndo: case kScrub: case kEmptyTree:
      return true;
    default:
      return false;
  }
}

bool is_page_record(std::uint8_t type) {
  switch (type) {
    case kSplit: case kSplit2: case kMerge: case kMerge2: case kPageMove: case kCreateMultipleExtentFDP:
    case kCreateSingleExtentFDP: case kConvertFDP: case kConvertFDP2:
      return true;
    default:
      return is_node_record(type);
  }
}

RecordSize record_size(Bytes rest) {
  if (rest.empty()) return {RecordSize::Status::Truncated, 0};
  const std::uint8_t type = rest[0];
  if (is_ignorable_type(type)) return with_u32(rest, kIgnorableHeaderSize, kIgnorableLength);
  switch (type) {
    case kNop: case kEnd: case kShutDownMark: case kRecoveryUndo: return fixed(rest, kTypeOnlySize);
    case kInit: return fixed(rest, kInitSize);
    case kInit2: return fixed(rest, kInit2Size);
    case kTerm: case kRecoveryQuit: return fixed(rest, kTermSize);
    case kTerm2: case kRecoveryQuit2: case kRecoveryQuitKeepAttachments: return fixed(rest, kTerm2Size);
    case kMS: return fixed(rest, kMSSize);
    case kBegin: case kCommit: case kRollback: case kJetOp: case kCreateDBFinish: return fixed(rest, kBeginSize);
    case kBegin0: case kCommit0: case kBeginDT: return fixed(rest, kBegin0Size);
    case kRefresh: return fixed(rest, kRefreshSize);
    case kMacroBegin: case kMacroCommit: case kMacroAbort: return fixed(rest, kMacroSize);
    case kRecoveryUndo2: return fixed(rest, kRecoveryUndo2Size);
    case kCreateMultipleExtentFDP: return fixed(rest, kCreateMultipleExtentFDPSize);
    case kCreateSingleExtentFDP: return fixed(rest, kCreateSingleExtentFDPSize);
    case kConvertFDP: return fixed(rest, kConvertFDPSize);
    case kConvertFDP2: return fixed(rest, kConvertFDP2Size);
    case kChecksum: return fixed(rest, kChecksumSize);
    case kPrepRollback: case kForceWriteLog: return fixed(rest, kPrepRollbackSize);
    case kPagePatchRequest: return fixed(rest, kPagePatchRequestSize);
    case kShrinkDB: case kShrinkDB2: case kTrimDB: return fixed(rest, kShrinkDBSize);
    case kShrinkDB3: return fixed(rest, kShrinkDB3Size);
    case kSetDbVersion: return fixed(rest, kSetDbVersionSize);
    case kNewPage: return fixed(rest, kNewPageSize);
    case kRootPageMove: return fixed(rest, kRootPageMoveSize);
    case kSignalAttachDb: return fixed(rest, kSignalAttachDbSize);
    case kScanCheck2: return fixed(rest, kScanCheck2Size);
    case kExtentFreed: return fixed(rest, kExtentFreedSize);
    case kExtentFreed2: return fixed(rest, kExtentFreed2Size);
    case kFlagDelete: case kDelete: return fixed(rest, kFlagDeleteSize);
    case kCreateDB: {
      if (!in_bounds(rest, kCreateDBFlags, 1)) return {RecordSize::Status::Truncated, 0};
      const std::size_t base =
          kCreateDBFixed + ((rest[kCreateDBFlags] & kCreateDBVersionPresent) != 0 ? kCreateDBVersionSize : 0);
      return with_u16(rest, base, {kCreateDBPathLength});
    }
    case kAttachDB: return with_u16(rest, kAttachDBFixed, {kAttachDBPathLength});
    case kDetachDB: return with_u16(rest, kDetachDBFixed, {kDetachDBPathLength});
    case kFullBackup: case kIncBackup: case kExtRestore: case kExtRestore2:
      return with_u16(rest, kShortPayloadFixed, {kShortPayloadLength});
    case kTrace: case kForceLogRollover: case kBackup: return with_u16(rest, kTraceFixed, {kTraceLength});
    case kBackup2: return with_u16(rest, kBackup2Fixed, {kBackup2Length});
    case kPrepCommit: return with_u32(rest, kPrepCommitFixed, kPrepCommitLength);
    case kSplit:
      return with_u16(rest, kSplitFixed, {kSplitOldPrefixLength, kSplitNewPrefixLength, kSplitParentKeyLength});
    case kSplit2: {
      const RecordSize keys =
          with_u16(rest, kSplit2Fixed, {kSplitOldPrefixLength, kSplitNewPrefixLength, kSplitParentKeyLength});
      return keys.status == RecordSize::Status::Ok ? with_u32(rest, keys.size, kSplitImageLength) : keys;
    }
    case kMerge: return with_u16(rest, kMergeFixed, {kMergeKeyLength});
    case kMerge2: {
      const RecordSize key = with_u16(rest, kMerge2Fixed, {kMergeKeyLength});
      return key.status == RecordSize::Status::Ok ? with_u32(rest, key.size, kMergeImageLength) : key;
    }
    case kPageMove: {
      const RecordSize head = with_u32(rest, kPageMoveFixed, kPageMoveHeaderLength);
      return head.status == RecordSize::Status::Ok ? with_u32(rest, head.size, kPageMoveTrailerLength) : head;
    }
    case kInsert: return with_u16(rest, kInsertFixed, {kNodeLength1, kNodeLength2, kNodeLength3});
    case kFlagInsert: return with_u16(rest, kFlagInsertFixed, {kNodeLength1, kNodeLength2});
    case kFlagInsertAndReplaceData: return with_u16(rest, kFIARDFixed, {kNodeLength1, kNodeLength2});
    case kReplace: case kReplaceD: {
      if (!in_bounds(rest, kNodeLength1, 2)) return {RecordSize::Status::Truncated, 0};
      return {RecordSize::Status::Ok, kReplaceFixed + (load_u16le(rest, kNodeLength1) & kReplaceLengthMask)};
    }
    case kUndoInfo: return with_u16(rest, kUndoInfoFixed, {kNodeLength1, kNodeLength2, kUndoInfoDataLength});
    case kDelta: return with_u16(rest, kDeltaFixed, {kNodeLength1, kNodeLength2});
    case kDelta64: return with_u16(rest, kDelta64Fixed, {kNodeLength1, kNodeLength2});
    case kSetExternalHeader: return with_u16(rest, kSetExternalHeaderFixed, {kNodeLength1});
    case kUndo: return with_u16(rest, kUndoFixed, {kNodeLength1, kNodeLength2});
    case kEmptyTree: return with_u16(rest, kEmptyTreeFixed, {kNodeLength1});
    case kScrub: return with_u16(rest, kScrubFixed, {kScrubLength});
    case kFragmentBegin: return with_u16(rest, kFragmentBeginFixed, {kFragmentBeginPiece});
    case kFragment: return with_u16(rest, kFragmentFixed, {kFragmentPiece});
    default:
      return {RecordSize::Status::Unknown, 0};
  }
}

}  // namespace quarrow::logs
