// Whole-database fuzz target: the input is a database file. It is opened from memory,
// every table is read to the end with every record rendered as a JSON line, its
// decoded values as the text the tool's grid shows, and again as Arrow batches of
// decoded values, every carving scope is run with a small hit
// limit, and the forensic passes run (header facts, checksums, index definitions,
// recovered records compared with the live rows, catalog rows passed over), and every
// view of every shipped profile whose table the file has is read as Arrow batches and
// as text. The same file is then read again through a page overlay, as a log replay
// leaves it: some pages replaced by the bytes of others, one page past the file's end,
// and the tables, carving and forensic passes run on that. Whatever the bytes, each
// step must end with a result or an error value: no crash, no read outside the buffer,
// no hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "forensic/carve.h"
#include "database/database.h"
#include "export/arrow_stream.h"
#include "export/csv.h"
#include "export/decoded_text.h"
#include "export/json_lines.h"
#include "forensic/header.h"
#include "forensic/indexes.h"
#include "forensic/recover.h"
#include "forensic/verify.h"
#include "app/timeline_fields.h"
#include "profiles/view_arrow.h"
#include "profiles/view_reader.h"
#include "profiles/view_text.h"
#include "record/reader.h"
#include "timeline/collect.h"
#include "timeline/event_sort.h"
#include "report/report.h"

namespace {

// Records read per table: enough for every seed, small enough that one input with a
// huge (but legal) leaf chain cannot stall the run.
constexpr std::size_t kMaxRecordsPerTable = 20000;
constexpr std::uint64_t kMaxHits = 8;

void read_all_tables(const quarrow::Database& db) {
  std::string line;
  std::string row;
  for (const auto& [name, table] : db.catalog()) {
    quarrow::Result<quarrow::TableRecordReader> reader = quarrow::open_table_reader(db, name);
    if (!reader) continue;
    quarrow::Record record;
    for (std::size_t n = 0; n < kMaxRecordsPerTable; ++n) {
      const quarrow::TableRecordReader::Step step = reader->next_record(record);
      if (step != quarrow::TableRecordReader::Step::Record) break;
      quarrow::record_to_json_line(record, line);
      row.clear();
      quarrow::append_csv_row(row, record);
    }
    row.clear();
    quarrow::append_csv_header(row, reader->plan());
  }
}

// Every table's decoded values as display text (the grid of `quarrow dump --format
// table`), up to the same record cap.
void render_decoded_text(const quarrow::Database& db) {
  std::string text;
  for (const auto& [name, table] : db.catalog()) {
    quarrow::Result<quarrow::TableRecordReader> reader = quarrow::open_table_reader(db, name);
    if (!reader) continue;
    quarrow::RecordDecoder decoder(db, reader->table(), reader->plan());
    std::vector<quarrow::DecodedCell> cells;
    quarrow::Bytes data;
    for (std::size_t n = 0; n < kMaxRecordsPerTable; ++n) {
      if (reader->next_data(data) != quarrow::TableRecordReader::Step::Record) break;
      decoder.decode(data, cells);
      for (std::size_t k = 0; k < cells.size(); ++k) {
        text.clear();
        (void)quarrow::append_decoded_text(text, decoder.columns()[k], cells[k]);
      }
    }
  }
}

void pull_arrow_table(const std::shared_ptr<const quarrow::Database>& db, const std::string& name,
                      const quarrow::TableInfo& table, bool threaded) {
  quarrow::ArrowStreamOptions options;
  options.batch_rows = 64;
  quarrow::ColumnSelection first;
  if (threaded) {
    options.threads = 2;
    options.part_index = 1;  // the second half of the leaf pages: a listed stretch
    options.part_count = 2;
    if (!table.columns.empty()) {
      first.names.push_back(table.columns.begin()->second.name);
      options.columns = &first;
    }
  }
  ArrowArrayStream stream{};
  if (!quarrow::export_arrow_stream(db, name, options, &stream)) return;
    ArrowSchema schema{};
    if (stream.get_schema(&stream, &schema) == 0) schema.release(&schema);
    for (std::size_t n = 0; n < kMaxRecordsPerTable; n += 64) {
      ArrowArray batch{};
      if (stream.get_next(&stream, &batch) != 0) {
        (void)stream.get_last_error(&stream);
        break;
      }
      if (batch.release == nullptr) break;
      batch.release(&batch);
    }
    stream.release(&stream);
}

// Every table through the Arrow producer, in small batches, up to the same record cap:
// on one thread, and as the second of two parts on two threads (leaf pages listed and
// read in stretches) with the first column only (a plan that leaves columns out).
void pull_arrow_batches(const std::shared_ptr<const quarrow::Database>& db) {
  for (const auto& [name, table] : db->catalog()) {
    for (const bool threaded : {false, true}) {
      pull_arrow_table(db, name, table, threaded);
    }
  }
}

void carve_all_scopes(const quarrow::Database& db) {
  for (const char* scope_name : {"slack", "all", "tag_data", "lv_all", "lv_slack"}) {
    const std::optional<quarrow::CarveScope> scope = quarrow::parse_carve_scope(scope_name);
    if (!scope) continue;
    (void)quarrow::carve_strings(db, *scope, "", 3, kMaxHits);
    // The command-line tool carves page ranges on several threads.
    const std::uint32_t half = db.total_pages() / 2;
    (void)quarrow::carve_strings_in_pages(db, *scope, "", 3, kMaxHits, half, db.total_pages() + 2);
  }
}

// The forensic readers: header facts, page checksums, index rows, recovered records
// (with their comparison against the live rows), and the catalog rows passed over.
void forensic_passes(const quarrow::Database& db) {
  (void)quarrow::read_header_facts(db);
  (void)quarrow::verify_database(db);
  (void)quarrow::verify_file(db.bytes(), db.page_size());
  std::size_t text = 0;
  for (const quarrow::CatalogProblem& p : db.catalog_problems()) text += p.error.size() + p.tag;
  for (const auto& [name, table] : db.catalog()) {
    (void)quarrow::read_table_indexes(db, name);
    quarrow::Result<std::vector<quarrow::RecoveredRecord>> found = quarrow::recover_records(db, name);
    if (!found) continue;
    for (const quarrow::RecoveredRecord& r : *found) {
      text += r.live != nullptr ? 1 : 0;
      for (std::string_view column : r.missing_long_values) text += column.size();
    }
  }
  (void)text;
}

// The evidence report: every fact gathered and the page rendered. Whatever the file
// holds, the page must stay one document: no table or column name may open an element.
void render_report(const quarrow::Database& db) {
  const quarrow::report::ReportFacts facts = quarrow::report::gather_report(db, {"fuzzed.edb", "", nullptr});
  const std::string html = quarrow::report::render_report_html(facts);
  std::size_t scripts = 0;
  for (std::size_t at = html.find("<script"); at != std::string::npos; at = html.find("<script", at + 1)) ++scripts;
  if (scripts != 1 || html.find("<img") != std::string::npos) std::abort();
  (void)quarrow::report::render_index_html({{"fuzzed.edb", "fuzzed.edb.html", "", facts.total_pages, facts.table_count,
                                             facts.verify_problem_count, facts.header ? facts.header->state_name : ""}});
}

// A dictionary-encoded column's valid indices must name values of its dictionary.
void check_dictionaries(const ArrowArray& batch) {
  for (std::int64_t c = 0; c < batch.n_children; ++c) {
    const ArrowArray& column = *batch.children[c];
    if (column.dictionary == nullptr) continue;
    const auto* validity = static_cast<const std::uint8_t*>(column.buffers[0]);
    const auto* indices = static_cast<const std::int32_t*>(column.buffers[1]);
    for (std::int64_t k = 0; k < column.length; ++k) {
      if (validity != nullptr && !(validity[k / 8] & (1u << (k % 8)))) continue;
      if (indices[k] < 0 || indices[k] >= column.dictionary->length) std::abort();
    }
  }
}

// Every view of every shipped profile (not only the one that recognises the file: a
// damaged file may have some of another kind's tables), through the reader and the
// Arrow producer, joins and trees included.
void read_all_views(const std::shared_ptr<const quarrow::Database>& db) {
  std::string text;
  for (const quarrow::profiles::Profile& profile : quarrow::profiles::builtin_profiles()) {
    for (const quarrow::profiles::ViewSpec* view : quarrow::profiles::available_views(*db, profile)) {
      auto reader = quarrow::profiles::ViewReader::open(*db, profile, *view);
      if (!reader) continue;
      std::vector<quarrow::profiles::Cell> row;
      for (std::size_t n = 0; n < kMaxRecordsPerTable; ++n) {
        if ((*reader)->next(row) != quarrow::profiles::ViewReader::Step::Row) break;
        text.clear();
        quarrow::profiles::append_view_json(text, (*reader)->columns(), row);
        quarrow::profiles::append_view_csv_row(text, (*reader)->columns(), row);
      }
      quarrow::profiles::ViewRequest request;
      request.db = db;
      request.profile = std::make_shared<const quarrow::profiles::Profile>(profile);
      request.view = view->name;
      request.batch_rows = 64;
      ArrowArrayStream stream{};
      if (!quarrow::profiles::export_view_stream(request, &stream)) continue;
      for (std::size_t n = 0; n < kMaxRecordsPerTable; n += 64) {
        ArrowArray batch{};
        if (stream.get_next(&stream, &batch) != 0 || batch.release == nullptr) break;
        check_dictionaries(batch);
        batch.release(&batch);
      }
      stream.release(&stream);
    }
  }
}

}  // namespace

// Pages 1..16 hold the bytes of the last pages in reverse order, a page past the file's
// end a copy of page 1, and the database grows by a few pages never written: pages
// whose contents and numbers disagree, as a replay of hostile logs could leave them.
void read_through_overlay(const quarrow::Database& db) {
  const std::uint32_t total = db.total_pages();
  if (total == 0) return;
  auto overlay = std::make_shared<quarrow::PageOverlay>(db.bytes(), db.page_size(), total);
  constexpr std::uint32_t kPagesReplaced = 16;
  for (std::uint32_t page = 1; page <= total && page <= kPagesReplaced; ++page) {
    const quarrow::Bytes from = db.page_bytes(total - page + 1);
    const std::span<std::uint8_t> to = overlay->write(page);
    std::copy(from.begin(), from.end(), to.begin());
  }
  const quarrow::Bytes first = db.page_bytes(1);
  const std::span<std::uint8_t> created = overlay->write(total + 1);
  std::copy(first.begin(), first.end(), created.begin());
  overlay->extend_to(total + 4);
  auto replayed = quarrow::Database::over_pages(db, overlay, db.header());
  if (!replayed) {
    (void)replayed.error().to_string();
    return;
  }
  read_all_tables(**replayed);
  carve_all_scopes(**replayed);
  forensic_passes(**replayed);
}

// The timeline: every view's (or table's) dated values, the header's times and the
// recovered rows' dates, sorted and merged, then rendered as both formats write them.
void timeline_events(const quarrow::Database& db) {
  namespace tl = quarrow::timeline;
  std::vector<tl::InputNames> names(1);
  std::vector<tl::EventSorter> sorters(1);
  (void)tl::database_events(db, quarrow::profiles::builtin_profiles(), {}, 0, names[0],
                            [&](const tl::EventView& e) { return sorters[0].add(e); });
  tl::EventMerger merger(std::move(sorters));
  tl::EventView e;
  std::string line;
  while (merger.next(e)) {
    line.clear();
    quarrow::app::append_timeline_event(line, quarrow::app::TimelineFormat::JsonLines, e, names);
    quarrow::app::append_timeline_event(line, quarrow::app::TimelineFormat::Csv, e, names);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  quarrow::Result<std::unique_ptr<quarrow::Database>> db = quarrow::Database::open_bytes(std::move(bytes));
  if (!db) {
    (void)db.error().to_string();
    return 0;
  }
  std::shared_ptr<const quarrow::Database> shared(std::move(*db));
  read_all_tables(*shared);
  render_decoded_text(*shared);
  pull_arrow_batches(shared);
  read_all_views(shared);
  carve_all_scopes(*shared);
  forensic_passes(*shared);
  read_through_overlay(*shared);
  timeline_events(*shared);
  render_report(*shared);
  return 0;
}
