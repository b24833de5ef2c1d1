// The fields of what both front ends give of transaction logs: a record, a row change
// and a timeline entry. The module's dicts and the tool's JSON Lines take their names
// and order from here; each front end only says how a field's value is written.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/forensic_fields.h"
#include "log/database_link.h"
#include "log/record_fields.h"

namespace quarrow::app {

// A log record. The page fields are there for records that change a page, the node
// fields for those that change a node of a tree; session, dbid and objid are null for
// records of none. "fields" holds the type's own fields.
enum class LogRecordField : std::uint8_t {
  Position, Type, File, Size, Fragmented, Time, Session, Dbid, Objid,
  Page, DbtimeBefore, DbtimeAfter, Trx, Level, Iline, Flags,  // page records
  Rceid, RootPage,                                            // node records
  Fields,
};
inline constexpr std::array<std::string_view, 19> kLogRecordFieldNames = {
    "position", "type",  "file", "size",          "fragmented",   "time", "session", "dbid",  "objid", "page",
    "dbtime_before", "dbtime_after", "trx", "level", "iline", "flags", "rceid", "root_page", "fields"};
inline constexpr auto kLogRecordFields = declared_order<LogRecordField, kLogRecordFieldNames.size()>();

constexpr std::string_view log_record_field_name(LogRecordField field) {
  return kLogRecordFieldNames[static_cast<std::size_t>(field)];
}

// Whether a record has the field.
constexpr bool log_record_has(LogRecordField field, const logs::RecordSummary& s) {
  if (field >= LogRecordField::Page && field <= LogRecordField::Flags) return s.page_record;
  if (field == LogRecordField::Rceid || field == LogRecordField::RootPage) return s.node_record;
  return true;
}

// A row change of a database's table. "diff" is there for a replace by difference,
// "undo_operation" for an undo; "record" (null when the change carries no image) comes
// after the small fields, then "before" and "after": the row as the replayed pages held
// it before and after the change (null where the replay gave none, see row_images.h).
enum class ChangeField : std::uint8_t {
  Position, Kind, Table, Key, Time, Outcome, Session, Trx, Level, Page, Iline, Objid, DbtimeBefore, DbtimeAfter,
  Diff, UndoOperation, Record, Before, After,
};
inline constexpr std::array<std::string_view, 19> kChangeFieldNames = {
    "position", "kind", "table", "key",   "time",  "outcome",       "session",      "trx",  "level",
    "page",     "iline", "objid", "dbtime_before", "dbtime_after", "diff", "undo_operation", "record",
    "before",   "after"};
inline constexpr auto kChangeFields = declared_order<ChangeField, kChangeFieldNames.size()>();

constexpr std::string_view change_field_name(ChangeField field) {
  return kChangeFieldNames[static_cast<std::size_t>(field)];
}

constexpr bool change_has(ChangeField field, const logs::RowChange& c) {
  if (field == ChangeField::Diff) return c.kind == logs::ChangeKind::ReplaceDiff;
  if (field == ChangeField::UndoOperation) return c.kind == logs::ChangeKind::Undo;
  return true;
}

// A level-0 transaction of the timeline, with its operation counts.
enum class TimelineField : std::uint8_t {
  Time, Begin, End, EndTime, Session, Trx, BeginSeen, Outcome, Records, Inserts, Replaces, FlagDeletes, Deletes,
  Other,
};
inline constexpr std::array<std::string_view, 14> kTimelineFieldNames = {
    "time",    "begin",   "end",     "end_time",     "session", "trx",   "begin_seen",
    "outcome", "records", "inserts", "replaces", "flag_deletes", "deletes", "other"};
inline constexpr auto kTimelineFields = declared_order<TimelineField, kTimelineFieldNames.size()>();

constexpr std::string_view timeline_field_name(TimelineField field) {
  return kTimelineFieldNames[static_cast<std::size_t>(field)];
}

// The counts of a timeline entry, by field (0 for the other fields).
constexpr std::uint32_t timeline_count(TimelineField field, const logs::OperationCounts& c) {
  switch (field) {
    case TimelineField::Records: return c.records;
    case TimelineField::Inserts: return c.inserts;
    case TimelineField::Replaces: return c.replaces;
    case TimelineField::FlagDeletes: return c.flag_deletes;
    case TimelineField::Deletes: return c.deletes;
    case TimelineField::Other: return c.other;
    default: return 0;
  }
}

// A file of a log folder. "error" is there for a file that could not be read; the
// header fields for a log header of either format; the reading's fields for a log of
// the segment format.
enum class LogFileField : std::uint8_t {
  Name, Path, Role, Size, Kind, Generation, Problems, Error,
  Version, Created, PreviousCreated, Signature, Sectors, SectorSize, EngineVersion, Checkpoint, CircularLogging,
  SystemPath, LogPath, AttachedDatabases,                                                  // a header
  Segments, Records, Fragmented, FirstRecord, End, FirstTime, LastTime, CorrectedBits,      // a reading
};
inline constexpr std::array<std::string_view, 28> kLogFileFieldNames = {
    "name",        "path",        "role",          "size",        "kind",       "generation",
    "problems",    "error",       "version",       "created",     "previous_created", "signature",
    "sectors",     "sector_size", "engine_version", "checkpoint", "circular_logging", "system_path",
    "log_path",    "attached_databases", "segments", "records",   "fragmented", "first_record",
    "end",         "first_time",  "last_time",     "corrected_bits"};
inline constexpr auto kLogFileFields = declared_order<LogFileField, kLogFileFieldNames.size()>();

constexpr std::string_view log_file_field_name(LogFileField field) {
  return kLogFileFieldNames[static_cast<std::size_t>(field)];
}

constexpr bool log_file_has(LogFileField field, const logs::LogFileInfo& f) {
  if (field == LogFileField::Error) return !f.open_error.empty();
  const logs::HeaderKind kind = f.header.kind;
  if (field >= LogFileField::Version && field <= LogFileField::AttachedDatabases) {
    return kind == logs::HeaderKind::Log || kind == logs::HeaderKind::Legacy;
  }
  if (field >= LogFileField::Segments) return kind == logs::HeaderKind::Log;
  return true;
}

// An attached database as a log header or the checkpoint lists it.
enum class AttachmentField : std::uint8_t { Dbid, Path, Dbtime, Attached, Consistent, Signature };
inline constexpr std::array<std::string_view, 6> kAttachmentFieldNames = {"dbid",     "path",       "dbtime",
                                                                          "attached", "consistent", "signature"};
inline constexpr auto kAttachmentFields = declared_order<AttachmentField, kAttachmentFieldNames.size()>();

// What a database needs of the logs (see logs::DatabaseNeeds).
enum class NeedsField : std::uint8_t {
  Dirty, State, Dbid, Attached, Consistent, Needed, Present, Missing, Unchained, AnotherDatabase, LogSignatureOk,
  LastGenerationTimeOk, AttachFound, AttachSignatureOk, RecordsAfterAttach, AlreadyApplied, ReplayRecords, Verdict,
};
inline constexpr std::array<std::string_view, 18> kNeedsFieldNames = {
    "dirty",       "state",          "dbid",           "attached",         "consistent",
    "needed",      "present",        "missing",        "unchained",        "another_database",
    "log_signature_ok", "last_generation_time_ok", "attach_found", "attach_signature_ok", "records_after_attach",
    "already_applied", "replay_records", "verdict"};
inline constexpr auto kNeedsFields = declared_order<NeedsField, kNeedsFieldNames.size()>();

constexpr std::string_view needs_field_name(NeedsField field) {
  return kNeedsFieldNames[static_cast<std::size_t>(field)];
}

}  // namespace quarrow::app
