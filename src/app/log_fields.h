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
// "undo_operation" for an undo; "record" (null when the change carries no image) is
// last, as it is the largest.
enum class ChangeField : std::uint8_t {
  Position, Kind, Table, Key, Time, Outcome, Session, Trx, Level, Page, Iline, Objid, DbtimeBefore, DbtimeAfter,
  Diff, UndoOperation, Record,
};
inline constexpr std::array<std::string_view, 17> kChangeFieldNames = {
    "position", "kind", "table", "key",   "time",  "outcome",       "session",      "trx",  "level",
    "page",     "iline", "objid", "dbtime_before", "dbtime_after", "diff", "undo_operation", "record"};
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

}  // namespace quarrow::app
