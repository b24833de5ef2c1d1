// Whole-database fuzz target: the input is a database file. It is opened from memory,
// every table is read to the end with every record rendered as a JSON line, every
// carving scope is run with a small hit limit, and the forensic passes run (header
// facts, checksums, index definitions, recovered records). Whatever the bytes, each
// step must end with a result or an error value: no crash, no read outside the
// buffer, no hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "database/carve.h"
#include "database/database.h"
#include "export/json_lines.h"
#include "forensic/header.h"
#include "forensic/indexes.h"
#include "forensic/recover.h"
#include "forensic/verify.h"
#include "record/reader.h"

namespace {

// Records read per table: enough for every seed, small enough that one input with a
// huge (but legal) leaf chain cannot stall the run.
constexpr std::size_t kMaxRecordsPerTable = 20000;
constexpr std::uint64_t kMaxHits = 8;

void read_all_tables(const quarrow::Database& db) {
  std::string line;
  for (const auto& [name, table] : db.catalog()) {
    quarrow::Result<quarrow::TableRecordReader> reader = quarrow::open_table_reader(db, name);
    if (!reader) continue;
    quarrow::Record record;
    for (std::size_t n = 0; n < kMaxRecordsPerTable; ++n) {
      const quarrow::TableRecordReader::Step step = reader->next_record(record);
      if (step != quarrow::TableRecordReader::Step::Record) break;
      quarrow::record_to_json_line(record, line);
    }
  }
}

void carve_all_scopes(const quarrow::Database& db) {
  for (const char* scope_name : {"slack", "all", "tag_data", "lv_all", "lv_slack"}) {
    const std::optional<quarrow::CarveScope> scope = quarrow::parse_carve_scope(scope_name);
    if (!scope) continue;
    (void)quarrow::carve_strings(db, *scope, "", 3, kMaxHits);
  }
}

// The forensic readers: header facts, page checksums, index rows, recovered records.
void forensic_passes(const quarrow::Database& db) {
  (void)quarrow::read_header_facts(db);
  (void)quarrow::verify_database(db);
  for (const auto& [name, table] : db.catalog()) {
    (void)quarrow::read_table_indexes(db, name);
    (void)quarrow::recover_records(db, name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  quarrow::Result<std::unique_ptr<quarrow::Database>> db = quarrow::Database::open_bytes(std::move(bytes));
  if (!db) {
    (void)db.error().to_string();
    return 0;
  }
  read_all_tables(**db);
  carve_all_scopes(**db);
  forensic_passes(**db);
  return 0;
}
