#include "replay/replay.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "page/checksum.h"
#include "format/log.h"
#include "format/redo.h"
#include "log/database_link.h"
#include "log/record_fields.h"
#include "log/record_types.h"
#include "replay/engine.h"

namespace quarrow::replay {

using namespace logfmt;

namespace {

// Page numbers a database can reach: ExtendDB past this is damage, not growth (a
// 4 KiB-page database this size is 256 GiB).
constexpr std::uint32_t kMaxPages = 1u << 26;

void store_u32(std::array<std::uint8_t, kHeaderCopySize>& h, std::size_t at, std::uint32_t v) { store_u32le(h, at, v); }
void store_u64(std::array<std::uint8_t, kHeaderCopySize>& h, std::size_t at, std::uint64_t v) { store_u64le(h, at, v); }
void store_position(std::array<std::uint8_t, kHeaderCopySize>& h, std::size_t at, const logs::LogPosition& p) {
  store_u16le(h, at + logfmt::kPositionByteOffset, p.byte);
  store_u16le(h, at + logfmt::kPositionSectorOffset, p.sector);
  store_u32le(h, at + logfmt::kPositionGenerationOffset, p.generation);
}

// The header as recovery leaves it: clean, at the last dbtime, consistent at the end
// of the logs, no generations required; its checksum over the whole header page.
std::array<std::uint8_t, kHeaderCopySize> recovered_header(const Database& db, std::uint64_t dbtime,
                                                           const logs::LogPosition& end) {
  std::array<std::uint8_t, kHeaderCopySize> h = db.header();
  store_u32(h, kHeaderStateOffset, kStateCleanShutdown);
  store_u64(h, kHeaderDatabaseTimeOffset, dbtime);
  store_position(h, kDbConsistentPosition, end);
  store_u32(h, kDbGenMin, 0);
  store_u32(h, kDbGenMax, 0);
  store_u32(h, kDbGenRecovering, 0);
  const Bytes file = db.bytes();
  const std::size_t header_page = std::min<std::size_t>(file.size(), db.page_size());
  std::vector<std::uint8_t> page(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(header_page));
  std::copy(h.begin(), h.end(), page.begin());
  page.resize(page.size() & ~std::size_t{3});
  store_u32(h, kHeaderChecksumOffset, xor_checksum(Bytes(page.data(), page.size())));
  return h;
}

}  // namespace

Result<ReplayOutcome> replay_logs(const Database& db, const logs::LogFolder& folder, const ReplayOptions& options) {
  if (is_large_page(db.page_size()) && !db.layout().large_tags()) {
    // Large pages of the older page layout (40-byte header, flags in the tags): the
    // engine that wrote them is older than the log records replay understands.
    return EseError::parse("log replay of databases with pages above 8 KiB in the older page layout is not supported");
  }
  if (db.bytes().size() < kDbHeaderLogFieldsEnd) return EseError::invalid_header();
  const logs::DatabaseLogFacts facts = logs::read_database_log_facts(db.bytes());
  ReplayOutcome out;
  ReplayReport& report = out.report;
  report.dbtime_before = facts.dbtime;
  // The file's data pages are numbered 1 .. total_pages (page 0 is the header's copy).
  out.overlay = std::make_shared<PageOverlay>(db.bytes(), db.page_size(), db.total_pages());
  report.total_pages = db.total_pages();

  // Where the database stands in the logs: attached (redo from its attach position) or
  // clean (rolled forward from its last consistent position).
  const logs::LogPosition start = (facts.dirty ? facts.attached : facts.consistent).normalised();
  report.start = start;
  if (start.is_zero()) return EseError::parse("the database names no log position to replay from");

  // The generations to read: from the start's generation up, without a gap; a dirty
  // database also needs every generation its header requires.
  std::uint32_t first = start.generation;
  if (facts.dirty && facts.gen_min > first) {
    // Generations before the checkpoint's may be gone: their changes are in the file.
    while (first < facts.gen_min && folder.generation(first) == nullptr) ++first;
  }
  const std::optional<std::uint32_t> highest = folder.highest_generation();
  if (facts.dirty && facts.gen_max != 0) {
    for (std::uint32_t g = std::max(facts.gen_min, first); g <= facts.gen_max && g - first < kMaxPages; ++g) {
      if (folder.generation(g) == nullptr) {
        return EseError::parse("log generation " + std::to_string(g) + " that the database requires is missing (its header requires " +
                               std::to_string(facts.gen_min) + " to " + std::to_string(facts.gen_max) + ")");
      }
    }
    const logs::LogFileInfo* last = folder.generation(facts.gen_max);
    if (last != nullptr && facts.gen_max_time_raw != 0 && last->header.create_time_raw != facts.gen_max_time_raw) {
      return EseError::parse("log generation " + std::to_string(facts.gen_max) + " (" + last->name +
                             ") is not the one the database was written with: its creation time differs");
    }
  }
  if (highest && *highest >= first) {
    for (std::uint32_t g = first; g <= *highest && g - first < kMaxPages; ++g) {
      const logs::LogFileInfo* f = folder.generation(g);
      if (f == nullptr) {
        return EseError::parse("log generation " + std::to_string(g) + " is missing: the logs from " +
                               logs::position_text(start) + " up to generation " + std::to_string(*highest) +
                               " cannot be replayed without it");
      }
      if (f->header.signature != facts.log_signature) {
        return EseError::parse("log " + f->name + " (generation " + std::to_string(g) +
                               ") is of another log stream: its signature differs from the database's");
      }
    }
  }

  Engine engine(db, options, report, out.overlay);
  logs::DbidTracker dbids(facts.dbid, facts.signature);
  logs::LogStream stream(folder);
  logs::LogRecord r;
  const logs::LogFileInfo* file_seen = nullptr;
  bool skip_file = false;
  std::uint32_t last_generation = 0;
  while (stream.next(r)) {
    if (&stream.file() != file_seen) {
      file_seen = &stream.file();
      const std::uint32_t g = file_seen->header.generation;
      // Older generations hold what the file already has; a second log of a generation
      // already read (a recycled copy) adds nothing.
      skip_file = g < first || (last_generation != 0 && g <= last_generation);
      if (!skip_file) {
        last_generation = g;
        report.generations.push_back(g);
      }
      dbids.enter_file(file_seen->header);
    }
    dbids.feed(r);
    if (skip_file || !(start < r.position)) continue;
    ++report.records_by_type[r.type];
    report.end = r.position;
    const logs::RecordSummary s = logs::summarize(r);
    if (r.type == kExtendDB) {
      if (in_bounds(r.bytes, redo::kExtendLastPage, 4) && dbids.ours(s)) {
        const std::uint32_t last = load_u32le(r.bytes, redo::kExtendLastPage);
        if (last >= kMaxPages) {
          return EseError::parse("log position " + logs::position_text(r.position) + ": the database would grow to page " +
                                 std::to_string(last) + ", past any real database");
        }
        engine.extend(last);
      }
      continue;
    }
    if (s.page_record || r.type == kNewPage) {
      if (!dbids.ours(s)) {
        ++report.records_other_database;
        continue;
      }
    }
    if (Status st = engine.feed(r, s); !st) return st.error();
  }
  if (Status st = engine.finish(); !st) return st.error();

  const std::set<std::uint32_t>& created = engine.created_pages();
  for (std::uint32_t p : out.overlay->written_page_numbers()) {
    if (created.count(p) != 0) {
      ++report.pages_created;
    } else {
      ++report.pages_changed;
    }
  }
  report.needed = !out.overlay->written_page_numbers().empty();
  report.total_pages = std::max(report.total_pages, out.overlay->total_pages());
  report.dbtime_after = std::max(facts.dbtime, engine.highest_dbtime());

  // Per tree: names from the catalog and from catalog rows the logs inserted.
  std::map<std::uint32_t, std::string> names;
  for (const auto& entry : db.catalog()) names[entry.second.object_id] = entry.second.name;
  for (const auto& entry : engine.learnt_catalog().tables) {
    if (names.count(entry.second.object_id) == 0) names[entry.second.object_id] = entry.second.name;
  }
  for (const auto& [objid, t] : engine.changes()) {
    TableChanges c = t;
    if (auto it = names.find(objid); it != names.end()) c.name = it->second;
    report.tables.push_back(std::move(c));
  }
  out.header = report.needed || !report.generations.empty()
                   ? recovered_header(db, report.dbtime_after, report.end.is_zero() ? start : report.end)
                   : db.header();
  return out;
}

}  // namespace quarrow::replay
