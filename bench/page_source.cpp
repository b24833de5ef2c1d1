// Reading through a page overlay against reading the file itself: every record of
// every table decoded, the plain database and the same file under overlays holding
// none, a tenth and all of its pages as written copies (what a replay leaves). Runs
// alternate between the sources so that a noisy machine slows each alike; the best
// of the runs is reported, with its ratio to the plain reading.
//
// Usage: quarrow_bench_page_source DB [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "database/database.h"
#include "record/reader.h"

namespace {

using quarrow::Database;

std::uint64_t read_everything(const Database& db) {
  std::uint64_t records = 0;
  quarrow::Record record;
  for (const auto& entry : db.catalog()) {
    auto reader = quarrow::open_table_reader(db, entry.first);
    if (!reader) continue;
    while (reader->next_record(record) == quarrow::TableRecordReader::Step::Record) ++records;
  }
  return records;
}

std::unique_ptr<Database> with_overlay(const Database& base, std::uint32_t every) {
  auto overlay = std::make_shared<quarrow::PageOverlay>(base.bytes(), base.page_size(), base.total_pages());
  if (every != 0) {
    for (std::uint32_t page = 1; page <= base.total_pages(); page += every) overlay->write(page);
  }
  auto db = Database::over_pages(base, overlay, base.header());
  if (!db) {
    std::fprintf(stderr, "overlay: %s\n", db.error().to_string().c_str());
    std::exit(1);
  }
  return std::move(db).value();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quarrow_bench_page_source DB [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  auto base = Database::open(argv[1]);
  if (!base) {
    std::fprintf(stderr, "%s: %s\n", argv[1], base.error().to_string().c_str());
    return 1;
  }
  struct Source {
    const char* name;
    std::unique_ptr<Database> owned;
    const Database* db;
    double best = 1e300;
    std::uint64_t records = 0;
  };
  std::vector<Source> sources;
  sources.push_back({"file", nullptr, base->get()});
  for (const auto& [name, every] : {std::pair{"overlay, no page written", 0u}, std::pair{"overlay, 1 page in 10 written", 10u},
                                    std::pair{"overlay, every page written", 1u}}) {
    auto db = with_overlay(**base, every);
    const Database* raw = db.get();
    sources.push_back({name, std::move(db), raw});
  }
  for (Source& s : sources) s.records = read_everything(*s.db);  // warm: pages resident, copies made
  for (int run = 0; run < runs; ++run) {
    for (Source& s : sources) {
      const auto start = std::chrono::steady_clock::now();
      const std::uint64_t n = read_everything(*s.db);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (n != s.records) {
        std::fprintf(stderr, "%s: %llu records, then %llu\n", s.name, static_cast<unsigned long long>(s.records),
                     static_cast<unsigned long long>(n));
        return 1;
      }
      if (seconds < s.best) s.best = seconds;
    }
  }
  for (const Source& s : sources) {
    std::printf("%-30s %10llu records  %8.3f s  %6.3fx\n", s.name, static_cast<unsigned long long>(s.records),
                s.best, s.best / sources[0].best);
  }
  return sources[0].records == sources[1].records && sources[0].records == sources[3].records ? 0 : 1;
}
