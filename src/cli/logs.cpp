// quarrow logs: the transaction logs of a folder as evidence. The summary lists the
// files (header facts, segment statuses, records, problems), the generation chain and
// its gaps, the checkpoint and, with --db, what the database needs of the logs;
// --records, --changes and --timeline write JSON Lines. Nothing is ever written to the
// logs or the database. Also the lines `quarrow info` adds for a dirty database.
#include <cinttypes>
#include <cstdio>
#include <string>

#include <map>
#include <memory>
#include <optional>

#include "app/log_fields.h"
#include "app/row_images.h"
#include "cli/commands.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "log/database_link.h"
#include "log/log_folder.h"
#include "log/record_fields.h"
#include "log/record_types.h"
#include "log/transactions.h"
#include "record/decoded.h"

namespace quarrow::cli {

const std::string_view kLogsHelp =
    "usage: quarrow logs DIR [--db FILE] [--json | --records | --timeline |\n"
    "                         --changes [--decoded] [--table NAME --key HEX]]\n"
    "\n"
    "Reads the transaction logs in DIR (*.log, *.jrs and the *.chk checkpoint; DIR may\n"
    "also be one log file), read-only. Without an output option prints a summary: each\n"
    "file with its generation, format version, creation time, segment statuses, records\n"
    "and problems; the checkpoint; the generations present and the gaps between them;\n"
    "whether each generation follows the one before it. With --db, what the database\n"
    "needs: the generations its header requires and whether they are present (a log\n"
    "counts when it chains: the database's log signature and the creation time the next\n"
    "generation names), whether the signatures and the last generation's creation time\n"
    "match, and how many records after its attach position would change it; logs of\n"
    "another database are said to be so, with no estimate.\n"
    "\n"
    "  -d, --db FILE    the database the logs belong to\n"
    "      --json       the summary as one JSON object, with the keys of the module's\n"
    "                   EseLogs calls (files, checkpoint, chain, needs, ...)\n"
    "  -r, --records    every record as JSON Lines: position, type, file, session,\n"
    "                   dbid, objid, page, dbtimes, transaction level and the type's\n"
    "                   own \"fields\" (bytes as hexadecimal)\n"
    "  -c, --changes    the row changes of the database (--db) as JSON Lines: table,\n"
    "                   key, the record decoded with the table's columns, segment time,\n"
    "                   the transaction's outcome, and \"before\" / \"after\": the row as\n"
    "                   it was before and after the change, from the logs replayed onto\n"
    "                   the database's file in memory (which also names the row of a\n"
    "                   replace or delete); null for what the file already holds\n"
    "      --decoded    with --changes: the record's typed values, as dump --decoded\n"
    "      --table NAME, --key HEX\n"
    "                   with --changes: only the changes of that row (its history), the\n"
    "                   key as --changes writes it\n"
    "  -t, --timeline   one JSON line per level-0 transaction: begin and end, session,\n"
    "                   outcome, operation counts\n"
    "\n"
    "Exit status 1 when a generation the database needs is missing, the logs belong to\n"
    "another database, a checksum fails, or a file cannot be read; the JSON Lines modes\n"
    "say on the standard error what they could not read.\n";

namespace {

using namespace quarrow::logs;

const std::vector<OptionSpec> kLogsOptions = {{"db", 'd', true},
                                              {"records", 'r', false},
                                              {"changes", 'c', false},
                                              {"timeline", 't', false},
                                              {"decoded", '\0', false},
                                              {"table", '\0', true},
                                              {"key", '\0', true},
                                              {"json", '\0', false},
                                              {"quiet", 'q', false}};

std::string hex(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%" PRIX64, v);
  return buf;
}

std::string time_text(const LogTime& t) { return t.set ? log_time_text(t) : std::string("-"); }

void append_key(std::string& out, std::string_view key, bool first = false) {
  if (!first) out += ',';
  out += '"';
  out += key;
  out += "\":";
}

// Times in JSON are ISO 8601, as everywhere the tool writes JSON.
void append_time(std::string& out, const LogTime& t) {
  if (t.set) {
    append_json_string(out, log_time_iso8601(t));
  } else {
    out += "null";
  }
}

void append_position(std::string& out, const LogPosition& p) { append_json_string(out, position_text(p)); }

std::string segments_text(const LogFileStats& s) {
  std::string text;
  for (std::size_t k = 0; k < kSegmentStatusCount; ++k) {
    if (s.segments[k] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(s.segments[k]) + " " + segment_status_name(static_cast<SegmentStatus>(k));
  }
  return text.empty() ? "no segments" : text;
}

std::string generations_text(const std::vector<std::uint32_t>& g) {
  if (g.empty()) return "none";
  std::string text;
  for (std::size_t i = 0; i < g.size(); ++i) {
    std::size_t j = i;
    while (j + 1 < g.size() && g[j + 1] == g[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += hex(g[i]);
    if (j > i) text += ".." + hex(g[j]);
    i = j;
  }
  return text;
}

std::string verdict(const std::optional<bool>& v, const char* yes, const char* no) {
  return v ? (*v ? yes : no) : "not known";
}

// What the summary shows beyond the folder's own lists: the generations in stream
// order, the links that hold, what the database needs (with --db), and whether
// everything the exit status depends on holds.
struct SummaryFacts {
  std::vector<std::uint32_t> generations;
  std::size_t links_ok = 0;
  std::optional<DatabaseNeeds> needs;
  std::string db_path;
  bool ok = true;
};

SummaryFacts gather_summary(const LogFolder& folder, const Database* db, const std::string& db_path) {
  SummaryFacts f;
  for (std::size_t i : folder.stream_order()) f.generations.push_back(folder.files()[i].header.generation);
  for (const ChainLink& l : folder.chain()) {
    f.links_ok += l.time_ok && l.signature_ok && l.segments_ok.value_or(true) ? 1 : 0;
  }
  f.ok = !folder.read_failed();
  if (db != nullptr) {
    f.needs = assess_database(*db, folder);
    f.db_path = db_path;
    f.ok = f.ok && !f.needs->failed();
  }
  return f;
}

std::string render_needs_text(const LogFolder& folder, const DatabaseNeeds& n, const std::string& db_path) {
  std::string out = "  database:       " + db_path + " (" + (n.facts.dirty ? "dirty" : "not dirty") + ", dbid " +
                    std::to_string(n.facts.dbid) + ", attached at " + position_text(n.facts.attached) + ")\n";
  if (n.needed.empty()) {
    out += "    needs:        no generation\n";
  } else {
    out += "    needs:        " + generations_text(n.needed) + ": " +
           (n.missing.empty() ? std::string("present") : "missing " + generations_text(n.missing)) +
           (n.unchained.empty() ? std::string() : " (" + generations_text(n.unchained) + " there, but not chained to the database)") +
           "\n";
  }
  out += "    log signature: " + verdict(n.log_signature_ok, "matches", "DIFFERS") + "\n";
  if (n.another_database) return out + "  " + another_database_text(folder, n.facts) + "\n";
  if (!n.needed.empty()) {
    out += "    last generation's creation time: " + verdict(n.gen_max_time_ok, "matches", "DIFFERS") + "\n";
  }
  out += "    attach record: " +
         (n.attach_found ? std::string("found, ") + verdict(n.attach_signature_ok, "names this database",
                                                           "names ANOTHER database")
                         : std::string("not in the logs")) +
         "\n";
  out += "    replay:       ";
  if (!n.needs_replay()) {
    out += "needs no replay (" + std::to_string(n.replay_records) + " page changes after the attach position, " +
           std::to_string(n.already_applied) + " already in the file)\n";
  } else {
    // The records a replay applies: those whose page is not yet as new (a clean file's
    // records before its consistent position are all in it already).
    out += std::to_string(n.replay_records - n.already_applied) + " records would be replayed (" +
           std::to_string(n.replay_records) + " page changes after the attach position, " +
           std::to_string(n.already_applied) + " already in the file)\n";
  }
  return out;
}

std::string render_summary_text(const LogFolder& folder, const SummaryFacts& facts) {
  std::string out = folder.path() + "\n  files:\n";
  for (const LogFileInfo& f : folder.files()) {
    out += "    " + f.name + "  ";
    if (!f.open_error.empty()) {
      out += "unreadable: " + f.open_error + "\n";
      continue;
    }
    const LogHeader& h = f.header;
    if (h.kind == HeaderKind::Log || h.kind == HeaderKind::Legacy) {
      out += "generation " + hex(h.generation) + " (" + file_role_name(f.role) + "), format " + h.version_text() +
             ", created " + time_text(h.create_time) + "\n";
      out += "      " + std::to_string(f.size / logfmt::kSectorSize) + " sectors: " + segments_text(f.stats) + "; " +
             std::to_string(f.stats.records) + " records (" + std::to_string(f.stats.fragmented) +
             " fragmented), " + position_text(f.stats.first_record) + " .. " + position_text(f.stats.end) + "\n";
    } else {
      out += std::string(file_role_name(f.role)) + ", " + header_kind_name(h.kind) + "\n";
    }
    for (const LogProblem& p : f.problems) {
      out += "      problem: " + (p.where.is_zero() ? std::string() : position_text(p.where) + " ") + p.text + "\n";
    }
    if (f.stats.problems > f.problems.size()) {
      out += "      (" + std::to_string(f.stats.problems - f.problems.size()) + " more problems)\n";
    }
  }
  if (const auto& c = folder.checkpoint()) {
    out += "  checkpoint:     " + folder.checkpoint_name() + ": ";
    out += c->readable ? position_text(c->checkpoint) + (c->copies_agree ? ", both copies verify and agree" : "")
                       : std::string("unreadable");
    out += "\n";
    for (const LogProblem& p : c->problems) out += "      problem: " + p.text + "\n";
  } else {
    out += "  checkpoint:     none\n";
  }
  out += "  generations:    " + generations_text(facts.generations) + "; " + std::to_string(folder.records()) +
         " records\n";
  std::string gaps;
  for (const GenerationGap& g : folder.gaps()) {
    if (!gaps.empty()) gaps += ", ";
    gaps += hex(g.first) + (g.last > g.first ? ".." + hex(g.last) : "");
  }
  out += "  gaps:           " + (gaps.empty() ? std::string("none") : gaps) + "\n";
  out += "  chain:          " + std::to_string(facts.links_ok) + " of " + std::to_string(folder.chain().size()) +
         " links hold\n";
  for (const LogProblem& p : folder.problems()) out += "  problem: " + p.text + "\n";
  if (facts.needs) out += render_needs_text(folder, *facts.needs, facts.db_path);
  return out;
}

// ---- The summary as one JSON object (--json): the module's dicts, key for key --------

void append_bool(std::string& out, bool v) { out += v ? "true" : "false"; }
void append_optional_bool(std::string& out, const std::optional<bool>& v) {
  if (v) append_bool(out, *v);
  else out += "null";
}
void append_signature(std::string& out, const Signature& s) {
  out += '"';
  out += hex_text(Bytes(s.data(), s.size()));
  out += '"';
}
void append_generations(std::string& out, const std::vector<std::uint32_t>& g) {
  out += '[';
  for (std::size_t i = 0; i < g.size(); ++i) out += (i ? "," : "") + std::to_string(g[i]);
  out += ']';
}
void append_problems(std::string& out, const std::vector<LogProblem>& problems) {
  out += '[';
  for (std::size_t i = 0; i < problems.size(); ++i) {
    if (i != 0) out += ',';
    const LogProblem& p = problems[i];
    append_json_string(out, p.where.is_zero() ? p.text : position_text(p.where) + " " + p.text);
  }
  out += ']';
}

void append_attachments(std::string& out, const std::vector<AttachedDatabase>& list) {
  using F = app::AttachmentField;
  out += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    const AttachedDatabase& a = list[i];
    out += i == 0 ? "{" : ",{";
    for (const F field : app::kAttachmentFields) {
      append_key(out, app::kAttachmentFieldNames[static_cast<std::size_t>(field)], field == F::Dbid);
      switch (field) {
        case F::Dbid: out += std::to_string(a.dbid); break;
        case F::Path: append_json_string(out, a.path); break;
        case F::Dbtime: out += std::to_string(a.dbtime); break;
        case F::Attached: append_position(out, a.attached); break;
        case F::Consistent: append_position(out, a.consistent); break;
        case F::Signature: append_signature(out, a.signature); break;
      }
    }
    out += '}';
  }
  out += ']';
}

void append_file_field(std::string& out, app::LogFileField field, const LogFileInfo& f) {
  using F = app::LogFileField;
  const LogHeader& h = f.header;
  const LogFileStats& s = f.stats;
  switch (field) {
    case F::Name: append_json_string(out, f.name); break;
    case F::Path: append_json_string(out, f.path); break;
    case F::Role: append_json_string(out, file_role_name(f.role)); break;
    case F::Size: out += std::to_string(f.size); break;
    case F::Kind: append_json_string(out, f.open_error.empty() ? header_kind_name(h.kind) : "unreadable"); break;
    case F::Generation: out += app::log_file_has(F::Version, f) ? std::to_string(h.generation) : "null"; break;
    case F::Problems: append_problems(out, f.problems); break;
    case F::Error: append_json_string(out, f.open_error); break;
    case F::Version: append_json_string(out, h.version_text()); break;
    case F::Created: append_time(out, h.create_time); break;
    case F::PreviousCreated: append_time(out, h.previous_time); break;
    case F::Signature: append_signature(out, h.signature); break;
    case F::Sectors: out += std::to_string(h.file_sectors); break;
    case F::SectorSize: out += std::to_string(h.sector_size); break;
    case F::EngineVersion: out += std::to_string(h.engine_version); break;
    case F::Checkpoint: append_position(out, h.checkpoint); break;
    case F::CircularLogging: append_bool(out, (h.flags & logfmt::kFlagCircularLogging) != 0); break;
    case F::SystemPath: append_json_string(out, h.system_path); break;
    case F::LogPath: append_json_string(out, h.log_path); break;
    case F::AttachedDatabases: append_attachments(out, h.attachments); break;
    case F::Segments:
      out += '{';
      for (std::size_t k = 0; k < kSegmentStatusCount; ++k) {
        append_key(out, segment_status_name(static_cast<SegmentStatus>(k)), k == 0);
        out += std::to_string(s.segments[k]);
      }
      out += '}';
      break;
    case F::Records: out += std::to_string(s.records); break;
    case F::Fragmented: out += std::to_string(s.fragmented); break;
    case F::FirstRecord: append_position(out, s.first_record); break;
    case F::End: append_position(out, s.end); break;
    case F::FirstTime: append_time(out, s.first_time); break;
    case F::LastTime: append_time(out, s.last_time); break;
    case F::CorrectedBits: out += std::to_string(s.corrected_bits); break;
  }
}

void append_needs(std::string& out, const LogFolder& folder, const DatabaseNeeds& n) {
  using F = app::NeedsField;
  out += '{';
  for (const F field : app::kNeedsFields) {
    append_key(out, app::needs_field_name(field), field == F::Dirty);
    switch (field) {
      case F::Dirty: append_bool(out, n.facts.dirty); break;
      case F::State: out += std::to_string(n.facts.state); break;
      case F::Dbid: out += std::to_string(n.facts.dbid); break;
      case F::Attached: append_position(out, n.facts.attached); break;
      case F::Consistent: append_position(out, n.facts.consistent); break;
      case F::Needed: append_generations(out, n.needed); break;
      case F::Present: append_generations(out, n.present); break;
      case F::Missing: append_generations(out, n.missing); break;
      case F::Unchained: append_generations(out, n.unchained); break;
      case F::AnotherDatabase: append_bool(out, n.another_database); break;
      case F::LogSignatureOk: append_optional_bool(out, n.log_signature_ok); break;
      case F::LastGenerationTimeOk: append_optional_bool(out, n.gen_max_time_ok); break;
      case F::AttachFound: append_bool(out, n.attach_found); break;
      case F::AttachSignatureOk: append_optional_bool(out, n.attach_signature_ok); break;
      case F::RecordsAfterAttach: out += std::to_string(n.replay_records); break;
      case F::AlreadyApplied: out += std::to_string(n.already_applied); break;
      case F::ReplayRecords: out += std::to_string(n.replay_records - n.already_applied); break;
      case F::Verdict: append_json_string(out, needs_verdict(folder, n)); break;
    }
  }
  out += '}';
}

void append_checkpoint(std::string& out, const LogFolder& folder) {
  const auto& c = folder.checkpoint();
  if (!c) {
    out += "null";
    return;
  }
  out += '{';
  append_key(out, "name", true);
  append_json_string(out, folder.checkpoint_name());
  append_key(out, "readable");
  append_bool(out, c->readable);
  append_key(out, "copies_agree");
  append_bool(out, c->copies_agree);
  append_key(out, "checkpoint");
  append_position(out, c->checkpoint);
  append_key(out, "full_backup");
  append_position(out, c->full_backup);
  append_key(out, "consistent");
  append_position(out, c->consistent);
  append_key(out, "signature");
  append_signature(out, c->signature);
  append_key(out, "attached_databases");
  append_attachments(out, c->attachments);
  append_key(out, "problems");
  append_problems(out, c->problems);
  out += '}';
}

void append_chain(std::string& out, const LogFolder& folder) {
  out += '[';
  for (std::size_t i = 0; i < folder.chain().size(); ++i) {
    const ChainLink& l = folder.chain()[i];
    out += i == 0 ? "{" : ",{";
    out += "\"from\":" + std::to_string(l.from) + ",\"to\":" + std::to_string(l.to);
    append_key(out, "time_ok");
    append_bool(out, l.time_ok);
    append_key(out, "signature_ok");
    append_bool(out, l.signature_ok);
    append_key(out, "segments_ok");
    append_optional_bool(out, l.segments_ok);
    out += '}';
  }
  out += ']';
}

// The folder as EseLogs gives it: path, files, checkpoint, generations, gaps, chain,
// problems, record_count, checksum_failed, and with --db what the database needs.
std::string render_summary_json(const LogFolder& folder, const SummaryFacts& facts) {
  std::string out = "{\"path\":";
  append_json_string(out, folder.path());
  append_key(out, "files");
  out += '[';
  for (std::size_t i = 0; i < folder.files().size(); ++i) {
    const LogFileInfo& f = folder.files()[i];
    out += i == 0 ? "{" : ",{";
    bool first = true;
    for (const app::LogFileField field : app::kLogFileFields) {
      if (!app::log_file_has(field, f)) continue;
      append_key(out, app::log_file_field_name(field), first);
      append_file_field(out, field, f);
      first = false;
    }
    out += '}';
  }
  out += ']';
  append_key(out, "checkpoint");
  append_checkpoint(out, folder);
  append_key(out, "generations");
  append_generations(out, facts.generations);
  append_key(out, "gaps");
  out += '[';
  for (std::size_t i = 0; i < folder.gaps().size(); ++i) {
    out += (i ? ",[" : "[") + std::to_string(folder.gaps()[i].first) + "," + std::to_string(folder.gaps()[i].last) + "]";
  }
  out += ']';
  append_key(out, "chain");
  append_chain(out, folder);
  append_key(out, "problems");
  append_problems(out, folder.problems());
  append_key(out, "record_count");
  out += std::to_string(folder.records());
  append_key(out, "checksum_failed");
  append_bool(out, folder.checksum_failed());
  if (facts.needs) {
    append_key(out, "needs");
    append_needs(out, folder, *facts.needs);
  }
  out += "}\n";
  return out;
}

void append_field_value(std::string& out, const LogField& f) {
  switch (f.kind) {
    case LogField::Kind::Unsigned: out += std::to_string(f.u); break;
    case LogField::Kind::Signed: out += std::to_string(f.i); break;
    case LogField::Kind::Bytes: case LogField::Kind::Signature:
      out += '"';
      out += hex_text(f.bytes);
      out += '"';
      break;
    case LogField::Kind::Text: append_json_string(out, f.text); break;
    case LogField::Kind::Position: append_position(out, f.position); break;
    case LogField::Kind::Time: append_time(out, f.time); break;
  }
}

void append_record_field(std::string& out, app::LogRecordField field, const LogRecord& r, const RecordSummary& s,
                         const std::string& file, std::vector<LogField>& fields) {
  using F = app::LogRecordField;
  const auto optional_number = [&](const auto& v) { out += v ? std::to_string(*v) : std::string("null"); };
  switch (field) {
    case F::Position: append_position(out, r.position); break;
    case F::Type: {
      const char* name = record_type_name(r.type);
      append_json_string(out, name != nullptr ? name : "unknown");
      break;
    }
    case F::File: append_json_string(out, file); break;
    case F::Size: out += std::to_string(r.bytes.size()); break;
    case F::Fragmented: out += r.fragmented ? "true" : "false"; break;
    case F::Time: append_time(out, r.segment_time); break;
    case F::Session: optional_number(s.procid); break;
    case F::Dbid: optional_number(s.dbid); break;
    case F::Objid: optional_number(s.objid); break;
    case F::Page: out += std::to_string(s.page); break;
    case F::DbtimeBefore: out += std::to_string(s.dbtime_before); break;
    case F::DbtimeAfter: out += std::to_string(s.dbtime_after); break;
    case F::Trx: out += std::to_string(s.trx); break;
    case F::Level: out += std::to_string(s.level); break;
    case F::Iline: out += std::to_string(s.iline); break;
    case F::Flags: out += std::to_string(s.flags); break;
    case F::Rceid: out += std::to_string(s.rceid); break;
    case F::RootPage: out += std::to_string(s.root_page); break;
    case F::Fields: {
      // The type's own fields apart: some repeat a shared name.
      decode_fields(r, fields);
      out += '{';
      bool first = true;
      for (const LogField& f : fields) {
        append_key(out, f.name, first);
        append_field_value(out, f);
        first = false;
      }
      out += '}';
      break;
    }
  }
}

void append_record_json(std::string& out, const LogRecord& r, const std::string& file, std::vector<LogField>& fields) {
  const RecordSummary s = summarize(r);
  out += '{';
  bool first = true;
  for (const app::LogRecordField field : app::kLogRecordFields) {
    if (!app::log_record_has(field, s)) continue;
    append_key(out, app::log_record_field_name(field), first);
    append_record_field(out, field, r, s, file, fields);
    first = false;
  }
  out += "}\n";
}

// Finishes the JSON Lines output and says on the standard error what the reading
// could not read. A write error, or a reading that failed as the summary would (a
// checksum, an unreadable file), is the command's failure.
int finish_lines(Output& output, const std::vector<std::string>& problems, bool failed) {
  for (const std::string& p : problems) std::fprintf(stderr, "quarrow logs: %s\n", p.c_str());
  if (Status finished = output.finish(); !finished) {
    std::fprintf(stderr, "quarrow logs: %s\n", finished.error().message().c_str());
    return kExitFailed;
  }
  return failed ? kExitFailed : kExitOk;
}

// Records and row changes go out as the stream reads them: a folder's logs hold far
// more of them than is worth holding in memory.
int write_records(const LogFolder& folder, Output& output) {
  LogStream stream(folder);
  LogRecord r;
  std::vector<LogField> fields;
  while (stream.next(r)) {
    append_record_json(output.buffer(), r, stream.file().name, fields);
    if (!output.commit().ok()) break;
  }
  return finish_lines(output, stream.problems(), folder.read_failed() || stream.failed());
}

// The level-0 transactions, in the order they began.
std::vector<TransactionEntry> gather_timeline(LogStream& stream) {
  std::vector<TransactionEntry> entries;
  TransactionTracker tracker([&](const TransactionEntry& e) { entries.push_back(e); });
  LogRecord r;
  while (stream.next(r)) tracker.feed(r, summarize(r));
  tracker.finish();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TransactionEntry& a, const TransactionEntry& b) { return a.begin < b.begin; });
  return entries;
}

void append_timeline_json(std::string& out, const TransactionEntry& e) {
  using F = app::TimelineField;
  out += '{';
  bool first = true;
  for (const F field : app::kTimelineFields) {
    append_key(out, app::timeline_field_name(field), first);
    first = false;
    switch (field) {
      case F::Time: append_time(out, e.begin_time); break;
      case F::Begin: append_position(out, e.begin); break;
      case F::End: append_position(out, e.end); break;
      case F::EndTime: append_time(out, e.end_time); break;
      case F::Session: out += std::to_string(e.procid); break;
      case F::Trx: out += std::to_string(e.trx); break;
      case F::BeginSeen: out += e.begin_seen ? "true" : "false"; break;
      case F::Outcome: append_json_string(out, outcome_name(e.outcome)); break;
      default: out += std::to_string(app::timeline_count(field, e.counts)); break;
    }
  }
  out += "}\n";
}

int write_timeline(const LogFolder& folder, Output& output) {
  LogStream stream(folder);
  for (const TransactionEntry& e : gather_timeline(stream)) {
    append_timeline_json(output.buffer(), e);
    if (!output.commit().ok()) break;
  }
  return finish_lines(output, stream.problems(), folder.read_failed() || stream.failed());
}

// A change's record image as dump writes a record: the raw values, or with --decoded
// the typed ones (one decoder per table, made on first use).
class ChangeRecordWriter {
 public:
  ChangeRecordWriter(const Database& db, RowChangeReader& reader, bool decoded)
      : db_(db), reader_(reader), decoded_(decoded) {}

  void append(std::string& out, const RowChange& c) {
    if (!decoded_) {
      record_to_json_line(reader_.decode(c), row_);
      out += row_;
      return;
    }
    auto& slot = decoders_[c.table];
    if (!slot) slot = std::make_unique<Decoding>(db_, *c.table, reader_.plan(*c.table));
    slot->decoder.decode(c.record, cells_);
    row_.clear();
    slot->writer.append(row_, cells_);
    if (!row_.empty() && row_.back() == '\n') row_.pop_back();
    out += row_;
  }

 private:
  struct Decoding {
    Decoding(const Database& db, const TableInfo& table, const ColumnPlan& plan)
        : decoder(db, table, plan), writer(decoder.columns()) {}
    RecordDecoder decoder;
    DecodedJsonWriter writer;
  };
  const Database& db_;
  RowChangeReader& reader_;
  bool decoded_;
  std::map<const TableInfo*, std::unique_ptr<Decoding>> decoders_;
  std::vector<DecodedCell> cells_;
  std::string row_;
};

// A node image written as the change's record is.
void append_image(std::string& out, const RowChange& c, Bytes image, ChangeRecordWriter& record) {
  RowChange as_record = c;
  as_record.record = image;
  record.append(out, as_record);
}

void append_change_json(std::string& out, const RowChange& c, ChangeRecordWriter& record) {
  using F = app::ChangeField;
  out += '{';
  bool first = true;
  for (const F field : app::kChangeFields) {
    if (!app::change_has(field, c)) continue;
    append_key(out, app::change_field_name(field), first);
    first = false;
    switch (field) {
      case F::Position: append_position(out, c.position); break;
      case F::Kind: append_json_string(out, change_kind_name(c.kind)); break;
      case F::Table: append_json_string(out, name_text(c.table->name)); break;
      case F::Key: out += c.has_key ? '"' + hex_text(as_bytes(c.key)) + '"' : std::string("null"); break;
      case F::Time: append_time(out, c.time); break;
      case F::Outcome: append_json_string(out, outcome_name(c.outcome)); break;
      case F::Session: out += std::to_string(c.procid); break;
      case F::Trx: out += std::to_string(c.trx); break;
      case F::Level: out += std::to_string(c.level); break;
      case F::Page: out += std::to_string(c.page); break;
      case F::Iline: out += std::to_string(c.iline); break;
      case F::Objid: out += std::to_string(c.objid); break;
      case F::DbtimeBefore: out += std::to_string(c.dbtime_before); break;
      case F::DbtimeAfter: out += std::to_string(c.dbtime_after); break;
      case F::Diff: out += '"' + hex_text(c.diff) + '"'; break;
      case F::UndoOperation: out += std::to_string(c.undo_operation); break;
      case F::Record:
        if (c.has_record) record.append(out, c);
        else out += "null";
        break;
      case F::Before:
        if (c.has_before) append_image(out, c, c.before, record);
        else out += "null";
        break;
      case F::After:
        if (c.has_after) append_image(out, c, c.after, record);
        else out += "null";
        break;
    }
  }
  out += "}\n";
}

// The row of --table and --key (the key decoded from hexadecimal).
struct RowFilter {
  std::string table;
  std::string key;
};

int write_changes(const LogFolder& folder, const Database& db, bool decoded, const std::optional<RowFilter>& row,
                  Output& output) {
  RowChangeReader reader(folder, db);
  const app::ChangeImages images(db, folder);
  ChangeRecordWriter record(db, reader, decoded);
  RowChange c;
  while (reader.next(c)) {
    images.attach(c);
    if (row && !app::change_of_row(c, row->table, row->key)) continue;
    append_change_json(output.buffer(), c, record);
    if (!output.commit().ok()) break;
  }
  std::vector<std::string> problems = reader.problems();
  if (!images.problem().empty()) problems.push_back(images.problem());
  return finish_lines(output, problems, folder.read_failed() || reader.failed());
}

std::optional<std::string> from_hex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char ch = text[k];
      const int digit = ch >= '0' && ch <= '9'   ? ch - '0'
                        : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                        : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                 : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    out += static_cast<char>(value);
  }
  return out;
}

struct LogsRequest {
  enum class Mode { Summary, Records, Changes, Timeline };
  std::string dir;
  std::optional<std::string> db_path;  // --db
  Mode mode = Mode::Summary;
  bool decoded = false;  // --changes --decoded
  std::optional<RowFilter> row;  // --changes --table --key
  bool json = false;     // the summary as JSON
};

std::optional<LogsRequest> parse_logs(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("logs", raw, kLogsOptions);
  if (!args) return std::nullopt;
  const auto refuse = [](std::string_view message) -> std::optional<LogsRequest> {
    usage_error("logs", message);
    return std::nullopt;
  };
  if (args->positionals.size() != 1) return refuse("give one log folder");
  const int outputs = (args->flag("records") ? 1 : 0) + (args->flag("changes") ? 1 : 0) + (args->flag("timeline") ? 1 : 0);
  if (outputs > 1) return refuse("--records, --changes and --timeline exclude each other");
  LogsRequest request;
  if (const std::string* db_path = args->value("db")) request.db_path = *db_path;
  if (args->flag("changes") && !request.db_path) return refuse("--changes needs --db FILE");
  if (args->flag("decoded") && !args->flag("changes")) return refuse("--decoded goes with --changes");
  request.decoded = args->flag("decoded");
  const std::string* table = args->value("table");
  const std::string* key = args->value("key");
  if ((table != nullptr || key != nullptr) && !args->flag("changes")) return refuse("--table and --key go with --changes");
  if ((table == nullptr) != (key == nullptr)) return refuse("--table and --key go together");
  if (key != nullptr) {
    std::optional<std::string> bytes = from_hex(*key);
    if (!bytes) return refuse("--key takes the key in hexadecimal, as --changes writes it");
    request.row = RowFilter{*table, std::move(*bytes)};
  }
  if (args->flag("json") && outputs != 0) return refuse("--json goes with the summary, not with JSON Lines");
  request.json = args->flag("json");
  request.dir = args->positionals[0];
  using Mode = LogsRequest::Mode;
  request.mode = args->flag("records")    ? Mode::Records
                 : args->flag("changes")  ? Mode::Changes
                 : args->flag("timeline") ? Mode::Timeline
                                          : Mode::Summary;
  return request;
}

}  // namespace

int run_logs(const std::vector<std::string_view>& raw, const Context&) {
  const auto request = parse_logs(raw);
  if (!request) return kExitUsage;
  std::unique_ptr<Database> db;
  if (request->db_path) {
    db = open_or_report(*request->db_path, std::nullopt, false);
    if (!db) return kExitFailed;
  }
  auto folder = LogFolder::open(request->dir);
  if (!folder) {
    std::fprintf(stderr, "%s\n", file_error_line(request->dir, folder.error().to_string()).c_str());
    return kExitFailed;
  }
  using Mode = LogsRequest::Mode;
  if (request->mode == Mode::Summary) {
    const SummaryFacts facts = gather_summary(folder.value(), db.get(), request->db_path.value_or(""));
    const std::string out =
        request->json ? render_summary_json(folder.value(), facts) : render_summary_text(folder.value(), facts);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return facts.ok ? kExitOk : kExitFailed;
  }
  Output output = Output::standard_output();
  if (request->mode == Mode::Records) return write_records(folder.value(), output);
  if (request->mode == Mode::Timeline) return write_timeline(folder.value(), output);
  return write_changes(folder.value(), *db, request->decoded, request->row, output);
}

std::string info_log_needs(const Database& db, const std::string* logs_dir, bool json, bool& missing) {
  const DatabaseLogFacts f = read_database_log_facts(db.header_pages());
  missing = false;
  if (!f.dirty || f.gen_max == 0) return "";
  std::vector<std::uint32_t> needed, absent;
  for (std::uint32_t g = f.gen_min; g <= f.gen_max && g - f.gen_min < 4096; ++g) needed.push_back(g);
  std::optional<LogFolder> folder;
  std::string folder_error;
  if (logs_dir != nullptr) {
    auto opened = LogFolder::open(*logs_dir);
    if (opened) {
      folder = std::move(opened).value();
      // Present means chained to the database: a log of another database's sequence
      // with the right number is still missing.
      const DatabaseNeeds n = needed_generations(db, *folder);
      absent = n.missing;
    } else {
      folder_error = opened.error().to_string();
      absent = needed;
    }
    missing = !absent.empty();
  }
  std::string out;
  if (json) {
    append_key(out, "log_generations_needed");
    out += '[';
    for (std::size_t i = 0; i < needed.size(); ++i) out += (i ? "," : "") + std::to_string(needed[i]);
    out += ']';
    if (logs_dir != nullptr) {
      append_key(out, "log_generations_missing");
      out += '[';
      for (std::size_t i = 0; i < absent.size(); ++i) out += (i ? "," : "") + std::to_string(absent[i]);
      out += ']';
    }
    return out;
  }
  out = "  logs needed:    generations " + generations_text(needed);
  if (logs_dir != nullptr) {
    out += !folder_error.empty() ? " (" + folder_error + ")"
           : absent.empty()      ? " (present in " + *logs_dir + ")"
                                 : " (missing in " + *logs_dir + ": " + generations_text(absent) + ")";
  }
  return out + "\n";
}

}  // namespace quarrow::cli
