// The fields of each log record type, as tables: name, offset, how to read it, and the
// part a reader needs to know it plays (session, database, page, tree). The shared
// 32-byte page part and 12-byte node part of page-level records are in log.h and are
// not repeated here. Variable parts follow the fixed part in the order listed, each
// sized by a length word of the fixed part.
//
// Layouts from the engine's source (logapi.hxx: the LR* structures). Seen in real logs:
// Init2, Term2, RecoveryUndo2, RecoveryQuit2, Begin, Begin0, Commit, Commit0, Rollback,
// the macro records, AttachDB, CreateDB, CreateDBFinish, Trace, ShutDownMark,
// CreateMultipleExtentFDP, CreateSingleExtentFDP, ConvertFDP2, Split2, Insert, FlagDelete,
// FlagInsertAndReplaceData, Replace, Delete, UndoInfo, Undo, SetExternalHeader, NewPage,
// SetDbVersion, MacroInfo, ExtendDB, NOP2. The others are read from the source only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/log.h"

namespace quarrow::logfmt {

enum class FieldRead : std::uint8_t {
  U8, U16, U32, U64, I16, I32, I64,
  NibbleLow, NibbleHigh,  // the low / high 4 bits of a byte
  Position, Time, Signature,
  AnsiFixed,   // NUL-padded ANSI text of `arg` bytes
  Fixed,       // `arg` bytes
  Var16,       // variable part, length = u16 at `arg`
  Var15,       // variable part, length = low 15 bits of the u16 at `arg`
  Var32,       // variable part, length = u32 at `arg`
  Text16,      // variable ANSI text, length = u16 at `arg`
  Path,        // variable path, length = u16 at `arg`; UTF-16LE when byte `flag_at` has `flag`
  VarFlag,     // variable part of `arg` bytes, present when byte `flag_at` has `flag`
  Rest,        // every byte from `offset` to the record's end
};

// What a field stands for, so that readers can find the session, the database and the
// page of any record without knowing its type.
enum class FieldRole : std::uint8_t { None, Procid, Dbid, Page, Objid, RootPage, Dbtime };

struct FieldSpec {
  const char* name;
  std::uint16_t offset;  // fixed fields; ignored for the variable parts
  FieldRead read;
  FieldRole role = FieldRole::None;
  std::uint16_t arg = 0;
  std::uint16_t flag_at = 0;
  std::uint8_t flag = 0;
};

struct RecordLayout {
  std::size_t fixed;  // where the first variable part starts (0: none)
  std::span<const FieldSpec> fields;
};

namespace layouts {
using R = FieldRead;
using F = FieldRole;
inline constexpr FieldSpec kInitFields[] = {{"system_path", 1, R::AnsiFixed, F::None, 261},
                                      {"log_path", 262, R::AnsiFixed, F::None, 261}};
inline constexpr FieldSpec kInit2Fields[] = {{"system_path", 1, R::AnsiFixed, F::None, 261},
                                       {"log_path", 262, R::AnsiFixed, F::None, 261},
                                       {"time", 568, R::Time}};
inline constexpr FieldSpec kTermFields[] = {{"start", 1, R::Position}, {"redo_from", 9, R::Position}, {"hard", 17, R::U8}};
inline constexpr FieldSpec kTerm2Fields[] = {
    {"start", 1, R::Position}, {"redo_from", 9, R::Position}, {"hard", 17, R::U8}, {"time", 18, R::Time}};
inline constexpr FieldSpec kMSFields[] = {{"data", 1, R::Rest}};
inline constexpr FieldSpec kBeginFields[] = {
    {"procid", 1, R::U16, F::Procid}, {"level_from", 3, R::NibbleLow}, {"levels", 3, R::NibbleHigh}};
inline constexpr FieldSpec kCommitFields[] = {{"procid", 1, R::U16, F::Procid}, {"level_to", 3, R::U8}};
inline constexpr FieldSpec kRollbackFields[] = {{"procid", 1, R::U16, F::Procid}, {"levels", 3, R::U8}};
inline constexpr FieldSpec kBegin0Fields[] = {{"procid", 1, R::U16, F::Procid},
                                        {"level_from", 3, R::NibbleLow},
                                        {"levels", 3, R::NibbleHigh},
                                        {"trx", 4, R::U32}};
inline constexpr FieldSpec kCommit0Fields[] = {
    {"procid", 1, R::U16, F::Procid}, {"level_to", 3, R::U8}, {"commit_id", 4, R::U32}};
inline constexpr FieldSpec kRefreshFields[] = {{"procid", 1, R::U16, F::Procid}, {"trx", 3, R::U32}};
inline constexpr FieldSpec kMacroFields[] = {{"procid", 1, R::U16, F::Procid}, {"dbtime", 3, R::U64, F::Dbtime}};
inline constexpr FieldSpec kCreateDBFields[] = {{"procid", 1, R::U16, F::Procid},
                                          {"dbid", 3, R::U8, F::Dbid},
                                          {"options", 4, R::U32},
                                          {"max_pages", 8, R::U32},
                                          {"db_signature", 12, R::Signature},
                                          {"version", 0, R::VarFlag, F::None, 4, 42, 0x04},
                                          {"path", 0, R::Path, F::None, 40, 42, 0x08}};
inline constexpr FieldSpec kAttachDBFields[] = {{"procid", 1, R::U16, F::Procid},
                                          {"dbid", 3, R::U8, F::Dbid},
                                          {"max_pages", 4, R::U32},
                                          {"consistent", 8, R::Position},
                                          {"db_signature", 16, R::Signature},
                                          {"log_signature", 44, R::Signature},
                                          {"path", 0, R::Path, F::None, 72, 74, 0x08}};
inline constexpr FieldSpec kDetachDBFields[] = {{"procid", 1, R::U16, F::Procid},
                                          {"dbid", 3, R::U8, F::Dbid},
                                          {"path", 0, R::Path, F::None, 4, 6, 0x10}};
inline constexpr FieldSpec kRecoveryUndo2Fields[] = {{"time", 1, R::Time}};
inline constexpr FieldSpec kShortPayloadFields[] = {{"data", 0, R::Var16, F::None, 1}};
inline constexpr FieldSpec kJetOpFields[] = {{"procid", 1, R::U16, F::Procid}, {"operation", 3, R::U8}};
inline constexpr FieldSpec kTraceFields[] = {{"procid", 1, R::U16, F::Procid}, {"text", 0, R::Text16, F::None, 3}};
inline constexpr FieldSpec kBackupFields[] = {{"flags", 1, R::U16}, {"data", 0, R::Var16, F::None, 3}};
inline constexpr FieldSpec kBackup2Fields[] = {{"header", 1, R::Fixed, F::None, 32}, {"data", 0, R::Var16, F::None, 33}};
inline constexpr FieldSpec kCreateMultipleExtentFDPFields[] = {{"objid", 32, R::U32, F::Objid},
                                                         {"owned_root", 36, R::U32},
                                                         {"available_root", 40, R::U32},
                                                         {"parent_root", 44, R::U32},
                                                         {"primary_pages", 48, R::U32},
                                                         {"page_flags", 52, R::U32}};
inline constexpr FieldSpec kCreateSingleExtentFDPFields[] = {{"objid", 32, R::U32, F::Objid},
                                                       {"parent_root", 36, R::U32},
                                                       {"primary_pages", 40, R::U32},
                                                       {"page_flags", 44, R::U32}};
inline constexpr FieldSpec kConvertFDPFields[] = {
    {"objid", 32, R::U32, F::Objid},    {"owned_root", 36, R::U32},          {"available_root", 40, R::U32},
    {"parent_root", 44, R::U32},        {"secondary_first_page", 48, R::U32}, {"primary_pages", 52, R::U32},
    {"secondary_pages", 56, R::U32}};
inline constexpr FieldSpec kConvertFDP2Fields[] = {
    {"objid", 32, R::U32, F::Objid},    {"owned_root", 36, R::U32},          {"available_root", 40, R::U32},
    {"parent_root", 44, R::U32},        {"secondary_first_page", 48, R::U32}, {"primary_pages", 52, R::U32},
    {"secondary_pages", 56, R::U32},    {"available_bitmap", 60, R::U32},   {"page_flags", 64, R::U32}};
#define QUARROW_SPLIT_FIELDS                                                                              \
  {"new_page", 32, R::U32}, {"right_page", 36, R::U32}, {"right_dbtime_before", 40, R::U64},             \
      {"parent_page", 48, R::U32}, {"parent_dbtime_before", 52, R::U64},                                  \
      {"root_page", 60, R::U32, F::RootPage}, {"objid", 64, R::U32, F::Objid}, {"split_type", 68, R::U8}, \
      {"operation", 69, R::U8}, {"operation_iline", 70, R::U16}, {"split_iline", 72, R::U16},             \
      {"nodes", 74, R::U16}, {"new_page_flags", 76, R::U32}, {"page_flags", 80, R::U32},                  \
      {"free_source", 84, R::I16}, {"free_destination", 86, R::I16}, {"prefix_iline", 88, R::I32},        \
      {"new_prefix_iline", 92, R::I32}
inline constexpr FieldSpec kSplitFields[] = {QUARROW_SPLIT_FIELDS,
                                       {"parent_key", 0, R::Var16, F::None, 100},
                                       {"old_prefix", 0, R::Var16, F::None, 96},
                                       {"new_prefix", 0, R::Var16, F::None, 98}};
inline constexpr FieldSpec kSplit2Fields[] = {QUARROW_SPLIT_FIELDS,
                                        {"image_flags", 102, R::U32},
                                        {"parent_key", 0, R::Var16, F::None, 100},
                                        {"old_prefix", 0, R::Var16, F::None, 96},
                                        {"new_prefix", 0, R::Var16, F::None, 98},
                                        {"page_image", 0, R::Var32, F::None, 106}};
#undef QUARROW_SPLIT_FIELDS
#define QUARROW_MERGE_FIELDS                                                                                 \
  {"right_page", 32, R::U32}, {"right_dbtime_before", 36, R::U64}, {"left_page", 44, R::U32},               \
      {"left_dbtime_before", 48, R::U64}, {"parent_page", 56, R::U32}, {"parent_dbtime_before", 60, R::U64}, \
      {"root_page", 68, R::U32, F::RootPage}, {"objid", 72, R::U32, F::Objid}, {"size_total", 76, R::U16},   \
      {"size_max", 78, R::U16}, {"free_destination", 80, R::U16}, {"merge_iline", 82, R::U16},              \
      {"merge_flags", 84, R::U8}, {"merge_type", 85, R::U8}
inline constexpr FieldSpec kMergeFields[] = {QUARROW_MERGE_FIELDS, {"separator_key", 0, R::Var16, F::None, 86}};
inline constexpr FieldSpec kMerge2Fields[] = {QUARROW_MERGE_FIELDS,
                                        {"image_flags", 88, R::U32},
                                        {"separator_key", 0, R::Var16, F::None, 86},
                                        {"page_image", 0, R::Var32, F::None, 92}};
#undef QUARROW_MERGE_FIELDS
inline constexpr FieldSpec kInsertFields[] = {{"key_prefix", 0, R::Var16, F::None, 46},
                                        {"key_suffix", 0, R::Var16, F::None, 44},
                                        {"data", 0, R::Var16, F::None, 48}};
inline constexpr FieldSpec kFlagInsertFields[] = {{"key", 0, R::Var16, F::None, 44}, {"data", 0, R::Var16, F::None, 46}};
inline constexpr FieldSpec kFIARDFields[] = {{"replace_rceid", 48, R::U32},
                                       {"key", 0, R::Var16, F::None, 44},
                                       {"data", 0, R::Var16, F::None, 46}};
inline constexpr FieldSpec kReplaceFields[] = {{"before_length", 46, R::U16},
                                         {"after_length", 48, R::U16},
                                         {"data", 0, R::Var15, F::None, 44}};
inline constexpr FieldSpec kReplaceDFields[] = {{"length_word", 44, R::U16},
                                          {"before_length", 46, R::U16},
                                          {"after_length", 48, R::U16},
                                          {"diff", 0, R::Var15, F::None, 44}};
inline constexpr FieldSpec kUndoInfoFields[] = {{"operation", 48, R::U16},
                                          {"max_size", 50, R::I16},
                                          {"size_delta", 52, R::I16},
                                          {"key", 0, R::Var16, F::None, 44},
                                          {"bookmark_data", 0, R::Var16, F::None, 46},
                                          {"data", 0, R::Var16, F::None, 54}};
inline constexpr FieldSpec kDeltaFields[] = {{"delta", 48, R::I32},
                                       {"offset", 52, R::U16},
                                       {"key", 0, R::Var16, F::None, 44},
                                       {"bookmark_data", 0, R::Var16, F::None, 46}};
inline constexpr FieldSpec kDelta64Fields[] = {{"delta", 48, R::I64},
                                         {"offset", 56, R::U16},
                                         {"key", 0, R::Var16, F::None, 44},
                                         {"bookmark_data", 0, R::Var16, F::None, 46}};
inline constexpr FieldSpec kExternalHeaderFields[] = {{"data", 0, R::Var16, F::None, 44}};
inline constexpr FieldSpec kUndoFields[] = {{"operation", 48, R::U16},
                                      {"undo_level", 50, R::U8},
                                      {"key", 0, R::Var16, F::None, 44},
                                      {"bookmark_data", 0, R::Var16, F::None, 46}};
inline constexpr FieldSpec kChecksumFields[] = {{"backward", 1, R::U32},       {"forward", 5, R::U32},
                                          {"next", 9, R::U32},           {"checksum", 13, R::U32},
                                          {"short_checksum", 17, R::U32}, {"short_used", 21, R::U8}};
inline constexpr FieldSpec kPrepCommitFields[] = {{"procid", 1, R::U16, F::Procid}, {"data", 0, R::Var32, F::None, 3}};
inline constexpr FieldSpec kProcidOnlyFields[] = {{"procid", 1, R::U16, F::Procid}};
inline constexpr FieldSpec kScrubFields[] = {
    {"scrub_flags", 44, R::U32}, {"count", 48, R::U32}, {"data", 0, R::Var16, F::None, 52}};
inline constexpr FieldSpec kPageMoveFields[] = {
    {"destination", 32, R::U32},        {"left_page", 36, R::U32},          {"right_page", 40, R::U32},
    {"parent_page", 44, R::U32},        {"left_dbtime_before", 48, R::U64}, {"right_dbtime_before", 56, R::U64},
    {"parent_dbtime_before", 64, R::U64}, {"root_page", 72, R::U32, F::RootPage}, {"objid", 76, R::U32, F::Objid},
    {"parent_iline", 80, R::U32},       {"move_flags", 84, R::U32},         {"header_part", 0, R::Var32, F::None, 88},
    {"trailer_part", 0, R::Var32, F::None, 92}};
inline constexpr FieldSpec kPagePatchRequestFields[] = {
    {"dbid", 1, R::U8, F::Dbid}, {"page", 2, R::U32, F::Page}, {"dbtime", 6, R::U64, F::Dbtime}, {"rest", 14, R::Rest}};
inline constexpr FieldSpec kIgnorableFields[] = {{"data", 5, R::Rest}};
inline constexpr FieldSpec kNop2Fields[] = {{"length", 1, R::U32}};
inline constexpr FieldSpec kMacroInfoFields[] = {{"pages", 5, R::Rest}};
inline constexpr FieldSpec kExtendDBFields[] = {{"dbid", 5, R::U8, F::Dbid}, {"last_page", 6, R::U32}, {"rest", 10, R::Rest}};
inline constexpr FieldSpec kCommitCtxFields[] = {{"procid", 5, R::U16, F::Procid}, {"context", 7, R::Rest}};
inline constexpr FieldSpec kScanCheckFields[] = {{"dbid", 5, R::U8, F::Dbid}, {"page", 6, R::U32, F::Page}, {"rest", 10, R::Rest}};
inline constexpr FieldSpec kReAttachFields[] = {{"dbid", 5, R::U8, F::Dbid},
                                          {"attached", 6, R::Position},
                                          {"consistent", 14, R::Position},
                                          {"db_signature", 22, R::Signature},
                                          {"rest", 50, R::Rest}};
inline constexpr FieldSpec kMacroInfo2Fields[] = {
    {"dbid", 5, R::U8, F::Dbid}, {"count", 6, R::U32}, {"pages", 10, R::Rest}};
inline constexpr FieldSpec kFreeFDPFields[] = {{"dbid", 5, R::U8, F::Dbid},
                                         {"root_page", 6, R::U32, F::RootPage},
                                         {"commit_id", 10, R::U32},
                                         {"kind", 14, R::U8},
                                         {"rest", 15, R::Rest}};
inline constexpr FieldSpec kShrinkDBFields[] = {
    {"dbid", 1, R::U8, F::Dbid}, {"last_page", 2, R::U32}, {"pages_removed", 6, R::U32}};
inline constexpr FieldSpec kShrinkDB3Fields[] = {{"dbid", 1, R::U8, F::Dbid},
                                           {"last_page", 2, R::U32},
                                           {"pages_removed", 6, R::U32},
                                           {"dbtime", 10, R::U64, F::Dbtime}};
inline constexpr FieldSpec kCreateDBFinishFields[] = {{"procid", 1, R::U16, F::Procid}, {"dbid", 3, R::U8, F::Dbid}};
inline constexpr FieldSpec kTrimDBFields[] = {{"dbid", 1, R::U8, F::Dbid}, {"first_page", 2, R::U32}, {"page_count", 6, R::U32}};
inline constexpr FieldSpec kSetDbVersionFields[] = {{"dbid", 1, R::U8, F::Dbid},
                                              {"version", 2, R::U32},
                                              {"update_major", 6, R::U32},
                                              {"update_minor", 10, R::U32}};
inline constexpr FieldSpec kNewPageFields[] = {{"procid", 1, R::U16, F::Procid},
                                         {"dbid", 3, R::U8, F::Dbid},
                                         {"page", 4, R::U32, F::Page},
                                         {"objid", 8, R::U32, F::Objid},
                                         {"dbtime", 12, R::U64, F::Dbtime}};
inline constexpr FieldSpec kRootPageMoveFields[] = {{"dbtime", 1, R::U64, F::Dbtime},
                                              {"dbid", 9, R::U8, F::Dbid},
                                              {"objid", 10, R::U32, F::Objid},
                                              {"procid", 14, R::U16, F::Procid}};
inline constexpr FieldSpec kDbidOnlyFields[] = {{"dbid", 1, R::U8, F::Dbid}};
inline constexpr FieldSpec kScanCheck2Fields[] = {{"dbid", 1, R::U8, F::Dbid},
                                            {"page", 2, R::U32, F::Page},
                                            {"scan_flags", 6, R::U8},
                                            {"page_dbtime", 7, R::U64},
                                            {"current_dbtime", 15, R::U64, F::Dbtime},
                                            {"checksum", 23, R::U32}};
inline constexpr FieldSpec kExtentFreedFields[] = {
    {"dbid", 1, R::U8, F::Dbid}, {"first_page", 2, R::U32}, {"page_count", 6, R::U32}, {"extent_flags", 10, R::U8}};
inline constexpr FieldSpec kExtentFreed2Fields[] = {{"dbid", 1, R::U8, F::Dbid},
                                              {"first_page", 2, R::U32},
                                              {"page_count", 6, R::U32},
                                              {"extent_flags", 10, R::U8},
                                              {"dbtime", 11, R::U64, F::Dbtime}};
}  // namespace layouts

// The layout of a record type; no fields for types with none (NOP, ShutDownMark, the
// node records whose shared parts say everything) and for unknown types.
inline RecordLayout record_layout(std::uint8_t type) {
  using namespace layouts;
  const auto L = [](std::size_t fixed, std::span<const FieldSpec> f) { return RecordLayout{fixed, f}; };
  switch (type) {
    case kInit: return L(0, kInitFields);
    case kInit2: return L(0, kInit2Fields);
    case kTerm: case kRecoveryQuit: return L(0, kTermFields);
    case kTerm2: case kRecoveryQuit2: case kRecoveryQuitKeepAttachments: return L(0, kTerm2Fields);
    case kMS: return L(0, kMSFields);
    case kBegin: return L(0, kBeginFields);
    case kCommit: return L(0, kCommitFields);
    case kRollback: return L(0, kRollbackFields);
    case kBegin0: case kBeginDT: return L(0, kBegin0Fields);
    case kCommit0: return L(0, kCommit0Fields);
    case kRefresh: return L(0, kRefreshFields);
    case kMacroBegin: case kMacroCommit: case kMacroAbort: return L(0, kMacroFields);
    case kCreateDB: return L(kCreateDBFixed, kCreateDBFields);
    case kAttachDB: return L(kAttachDBFixed, kAttachDBFields);
    case kDetachDB: return L(kDetachDBFixed, kDetachDBFields);
    case kRecoveryUndo2: return L(0, kRecoveryUndo2Fields);
    case kFullBackup: case kIncBackup: case kExtRestore: case kExtRestore2: return L(kShortPayloadFixed, kShortPayloadFields);
    case kJetOp: return L(0, kJetOpFields);
    case kTrace: case kForceLogRollover: return L(kTraceFixed, kTraceFields);
    case kBackup: return L(kTraceFixed, kBackupFields);
    case kBackup2: return L(kBackup2Fixed, kBackup2Fields);
    case kCreateMultipleExtentFDP: return L(0, kCreateMultipleExtentFDPFields);
    case kCreateSingleExtentFDP: return L(0, kCreateSingleExtentFDPFields);
    case kConvertFDP: return L(0, kConvertFDPFields);
    case kConvertFDP2: return L(0, kConvertFDP2Fields);
    case kSplit: return L(kSplitFixed, kSplitFields);
    case kSplit2: return L(kSplit2Fixed, kSplit2Fields);
    case kMerge: return L(kMergeFixed, kMergeFields);
    case kMerge2: return L(kMerge2Fixed, kMerge2Fields);
    case kInsert: return L(kInsertFixed, kInsertFields);
    case kFlagInsert: return L(kFlagInsertFixed, kFlagInsertFields);
    case kFlagInsertAndReplaceData: return L(kFIARDFixed, kFIARDFields);
    case kReplace: return L(kReplaceFixed, kReplaceFields);
    case kReplaceD: return L(kReplaceFixed, kReplaceDFields);
    case kUndoInfo: return L(kUndoInfoFixed, kUndoInfoFields);
    case kDelta: return L(kDeltaFixed, kDeltaFields);
    case kDelta64: return L(kDelta64Fixed, kDelta64Fields);
    case kSetExternalHeader: case kEmptyTree: return L(kSetExternalHeaderFixed, kExternalHeaderFields);
    case kUndo: return L(kUndoFixed, kUndoFields);
    case kChecksum: return L(0, kChecksumFields);
    case kPrepCommit: return L(kPrepCommitFixed, kPrepCommitFields);
    case kPrepRollback: case kForceWriteLog: return L(0, kProcidOnlyFields);
    case kScrub: return L(kScrubFixed, kScrubFields);
    case kPageMove: return L(kPageMoveFixed, kPageMoveFields);
    case kPagePatchRequest: return L(0, kPagePatchRequestFields);
    case kNop2: return L(0, kNop2Fields);
    case kMacroInfo: return L(0, kMacroInfoFields);
    case kExtendDB: return L(0, kExtendDBFields);
    case kCommitCtx: return L(0, kCommitCtxFields);
    case kScanCheck: return L(0, kScanCheckFields);
    case kReAttach: return L(0, kReAttachFields);
    case kMacroInfo2: return L(0, kMacroInfo2Fields);
    case kFreeFDP: return L(0, kFreeFDPFields);
    case kShrinkDB: case kShrinkDB2: return L(0, kShrinkDBFields);
    case kShrinkDB3: return L(0, kShrinkDB3Fields);
    case kCreateDBFinish: return L(0, kCreateDBFinishFields);
    case kTrimDB: return L(0, kTrimDBFields);
    case kSetDbVersion: return L(0, kSetDbVersionFields);
    case kNewPage: return L(0, kNewPageFields);
    case kRootPageMove: return L(0, kRootPageMoveFields);
    case kSignalAttachDb: return L(0, kDbidOnlyFields);
    case kScanCheck2: return L(0, kScanCheck2Fields);
    case kExtentFreed: return L(0, kExtentFreedFields);
    case kExtentFreed2: return L(0, kExtentFreed2Fields);
    default:
      if ((type >= kMacroInfo && type <= kIgnored9) || (type >= kIgnored10 && type <= kIgnored19)) {
        return L(0, kIgnorableFields);
      }
      return L(0, {});
  }
}

}  // namespace quarrow::logfmt
