// Gathering a report's facts. Each kind of fact takes one pass: the verification and
// the page map read every page once, carving reads every page once, row counting and
// recovery walk each table's own tree once. Memory holds one small entry per page for
// the owner map (as carving's) and the bounded lists, whatever the file's size.
#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "forensic/carve.h"
#include "forensic/page_owners.h"
#include "forensic/recover.h"
#include "format/catalog.h"
#include "platform/platform.h"
#include "profiles/view_reader.h"
#include "record/reader.h"
#include "record/text.h"
#include "record/value.h"
#include "timeline/collect.h"
#include "report/report.h"

namespace quarrow::report {
namespace {

std::string text_of(std::string_view stored) { return lossy_utf8(as_bytes(stored)); }

// What an owner of the map is to its table: the catalog's own trees colour as catalog.
enum class Role : std::uint8_t { None, Data, Index, LongValues, Catalog, Other };

// The owners of the map: one per tree the catalog names (a table's data tree, each
// index, the long-value tree), found by the object id a page's header carries.
class Owners {
 public:
  explicit Owners(const Database& db, std::vector<std::string>& labels) : labels_(labels) {
    labels_.assign(1, "");
    roles_.assign(1, {Role::None, 0});
    const Catalog& catalog = db.catalog();
    for (std::size_t t = 0; t < catalog.size(); ++t) {
      const TableInfo& table = catalog.at(t).second;
      const std::string name = text_of(catalog.at(t).first);
      const bool is_catalog = catalog.at(t).first == kCatalogTableName ||
                              catalog.at(t).first == kShadowCatalogTableName;
      table_owner_.push_back(add(table.object_id, name, is_catalog ? Role::Catalog : Role::Data, t));
      for (std::size_t i = 0; i < table.indexes.size(); ++i) {
        const IndexInfo& index = table.indexes.at(i).second;
        add(index.object_id, name + " / index " + text_of(index.name), is_catalog ? Role::Catalog : Role::Index, t);
      }
      for (std::size_t i = 0; i < table.long_values.size(); ++i) {
        add(table.long_values.at(i).second.object_id, name + " / long values",
            is_catalog ? Role::Catalog : Role::LongValues, t);
      }
    }
    system_root_ = add(kSystemRootObjectId, "database (space of the file)", Role::Other, kNoTable);
  }

  // The owner of pages whose header names `object`; objects the catalog does not name
  // get an owner of their own, up to a bound (a hostile file can name a new one on
  // every page), then share one.
  std::uint32_t of_object(std::uint32_t object) {
    if (object == 0) return 0;
    const auto found = by_object_.find(object);
    if (found != by_object_.end()) return found->second;
    if (unknown_ >= kMaxUnknownObjects) {
      if (other_ == 0) other_ = push("other objects the catalog does not name", Role::Other, kNoTable);
      return other_;
    }
    ++unknown_;
    return add(object, "object " + std::to_string(object) + " (not in the catalog)", Role::Other, kNoTable);
  }

  std::uint32_t table_owner(std::size_t table) const { return table_owner_[table]; }
  Role role(std::uint32_t owner) const { return roles_[owner].first; }
  std::size_t table(std::uint32_t owner) const { return roles_[owner].second; }
  std::uint32_t system_root() const { return system_root_; }

  static constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);

 private:
  static constexpr std::uint32_t kMaxUnknownObjects = 256;

  std::uint32_t add(std::uint32_t object, std::string label, Role role, std::size_t table) {
    const auto found = by_object_.find(object);
    if (found != by_object_.end()) return found->second;  // two catalog rows naming one tree: the first
    const std::uint32_t owner = push(std::move(label), role, table);
    by_object_.emplace(object, owner);
    return owner;
  }
  std::uint32_t push(std::string label, Role role, std::size_t table) {
    labels_.push_back(std::move(label));
    roles_.emplace_back(role, table);
    return static_cast<std::uint32_t>(labels_.size() - 1);
  }

  std::vector<std::string>& labels_;
  std::vector<std::pair<Role, std::size_t>> roles_;
  std::unordered_map<std::uint32_t, std::uint32_t> by_object_;
  std::vector<std::uint32_t> table_owner_;
  std::uint32_t system_root_ = 0;
  std::uint32_t unknown_ = 0;
  std::uint32_t other_ = 0;
};

bool all_zero(Bytes bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void add_owner(MapCell& cell, std::uint32_t owner) {
  for (OwnerPages& slot : cell.owners) {
    if (slot.pages != 0 && slot.owner == owner) {
      ++slot.pages;
      return;
    }
    if (slot.pages == 0) {
      slot = {owner, 1};
      return;
    }
  }
  ++cell.other_owner_pages;
}

// A page that loads: its kind from its header's flags and the object it names, and
// its owner (a table leaf claimed by a table's tree is that table's).
PageKind classify(const PageView& page, std::uint32_t number, Owners& owners, PageOwners& leaf_owners,
                  std::uint32_t& owner) {
  const std::uint32_t flags = page.header.flags;
  owner = owners.of_object(page.header.father_object_id);
  if ((flags & kPageSpaceTree) != 0 || owner == owners.system_root()) return PageKind::SpaceTrees;
  if (owners.role(owner) == Role::Catalog) return PageKind::Catalog;
  if ((flags & kPageIndex) != 0) return PageKind::Index;
  if ((flags & kPageLongValue) != 0) return PageKind::LongValues;
  if ((flags & kPageLeaf) == 0) return PageKind::TableData;  // a branch of a table's tree
  const std::uint32_t claimed = leaf_owners.owner_index(number);
  if (claimed == 0) return PageKind::Unused;
  owner = owners.table_owner(claimed - 1);
  return owners.role(owner) == Role::Catalog ? PageKind::Catalog : PageKind::TableData;
}

std::size_t cell_of(const PageMap& map, std::uint32_t page) {
  return page == 0 ? 0 : static_cast<std::size_t>((page - 1) / map.pages_per_cell);
}

// The page map: one pass over pages 1..total_pages. `damaged` lists the pages
// verification found (in page order). Kinds come from the page header's flags and the
// object it names; a table leaf is its table's data only when the table's own tree
// still reaches it (the owner map carving uses), otherwise it is space the engine
// freed, whatever it still holds.
void build_map(const Database& db, const std::vector<std::uint32_t>& damaged, Owners& owners,
               std::vector<std::uint64_t>& owner_pages, ReportFacts& facts) {
  PageMap& map = facts.map;
  const std::uint32_t total = db.total_pages();
  map.pages_per_cell = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(
                                                      (static_cast<std::uint64_t>(total) + kMaxMapCells - 1) / kMaxMapCells));
  const std::size_t cells = total == 0 ? 0 : cell_of(map, total) + 1;
  map.cells.resize(cells);
  for (std::size_t c = 0; c < cells; ++c) {
    map.cells[c].first_page = static_cast<std::uint32_t>(c * map.pages_per_cell + 1);
    map.cells[c].last_page = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(c + 1) * map.pages_per_cell, total));
  }
  owner_pages.assign(facts.owners.size(), 0);
  PageOwners leaf_owners(db);
  std::size_t next_damaged = 0;
  std::uint64_t since_release = 0;
  const Bytes file = db.bytes();
  for (std::uint32_t p = 1; p <= total; ++p) {
    while (next_damaged < damaged.size() && damaged[next_damaged] < p) ++next_damaged;
    PageKind kind = PageKind::Damaged;
    std::uint32_t owner = 0;
    const std::uint64_t start = page_file_offset(p, db.page_size());
    const bool whole = start + db.page_size() <= file.size();
    const bool bad = next_damaged < damaged.size() && damaged[next_damaged] == p;
    if (!bad && whole && all_zero(file.subspan(start, db.page_size()))) {
      kind = PageKind::Unused;
    } else if (!bad) {
      if (Result<PageView> page = db.load_page(p)) kind = classify(*page, p, owners, leaf_owners, owner);
    }
    MapCell& cell = map.cells[cell_of(map, p)];
    ++cell.kinds[static_cast<std::size_t>(kind)];
    ++map.totals[static_cast<std::size_t>(kind)];
    if (owner != 0) {
      add_owner(cell, owner);
      if (kind != PageKind::Unused) {
        if (owner >= owner_pages.size()) owner_pages.resize(facts.owners.size(), 0);
        ++owner_pages[owner];
      }
    }
    since_release += db.page_size();
    if (since_release >= kPageReleaseInterval) {
      db.release_resident_pages();
      since_release = 0;
    }
  }
  for (MapCell& cell : map.cells) {
    std::stable_sort(cell.owners.begin(), cell.owners.end(),
                     [](const OwnerPages& a, const OwnerPages& b) { return a.pages > b.pages; });
  }
}

std::optional<std::uint64_t> count_rows(const Database& db, std::string_view name, std::string& error) {
  auto reader = open_table_reader(db, name);
  if (!reader) {
    error = reader.error().to_string();
    return std::nullopt;
  }
  Bytes data;
  std::uint64_t n = 0;
  for (;;) {
    switch (reader->next_data(data)) {
      case TableRecordReader::Step::Record: ++n; break;
      case TableRecordReader::Step::End: return n;
      case TableRecordReader::Step::Error: error = reader->error().to_string(); return std::nullopt;
    }
  }
}

void gather_tables(const Database& db, const Owners& owners, const std::vector<std::uint64_t>& owner_pages,
                   ReportFacts& facts) {
  const Catalog& catalog = db.catalog();
  facts.table_count = catalog.size();
  std::vector<TableFacts> all(std::min(catalog.size(), kMaxListedTables));
  for (std::size_t t = 0; t < all.size(); ++t) {
    const TableInfo& info = catalog.at(t).second;
    TableFacts& table = all[t];
    table.name = text_of(catalog.at(t).first);
    table.column_count = info.columns.size();
    for (std::size_t c = 0; c < info.columns.size() && c < kMaxListedColumns; ++c) {
      const ColumnInfo& column = info.columns.at(c).second;
      table.columns.push_back({text_of(column.name), column_type_name(column.column_type)});
    }
    table.index_count = info.indexes.size();
    table.rows = count_rows(db, catalog.at(t).first, table.rows_error);
  }
  for (std::uint32_t owner = 1; owner < owner_pages.size(); ++owner) {
    const std::size_t t = owners.table(owner);
    if (t >= all.size()) continue;
    switch (owners.role(owner)) {
      case Role::Index: all[t].index_pages += owner_pages[owner]; break;
      case Role::LongValues: all[t].long_value_pages += owner_pages[owner]; break;
      default: all[t].data_pages += owner_pages[owner]; break;
    }
  }
  facts.tables = std::move(all);
}

void gather_views(const Database& db, const profiles::Profile* profile, ReportFacts& facts) {
  if (profile == nullptr) profile = profiles::recognize(db, profiles::builtin_profiles());
  if (profile == nullptr) return;
  facts.profile = profile->name;
  for (const profiles::ViewSpec* view : profiles::available_views(db, *profile)) {
    ViewFacts v{view->name, view->table, view->description, std::nullopt, std::nullopt};
    auto described = profiles::ViewReader::describe(db, *profile, *view);
    if (described) v.columns = described->size();
    for (const TableFacts& t : facts.tables) {
      if (t.name == view->table) v.table_rows = t.rows;
    }
    facts.views.push_back(std::move(v));
  }
}

void gather_recovered(const Database& db, ReportFacts& facts) {
  const Catalog& catalog = db.catalog();
  for (std::size_t t = 0; t < catalog.size(); ++t) {
    auto records = recover_records(db, catalog.at(t).first);
    if (!records) continue;
    for (const RecoveredRecord& r : *records) {
      if (r.page >= 1 && r.page <= db.total_pages()) ++facts.map.cells[cell_of(facts.map, r.page)].recovered;
      if (t < facts.tables.size()) ++facts.tables[t].recovered;
      ++facts.recovered_count;
      if (facts.recovered.size() < kMaxListedRecovered) {
        facts.recovered.push_back(
            {text_of(catalog.at(t).first), r.page, r.offset, r.source, r.live == nullptr ? "" : r.live});
      }
    }
  }
}

void gather_carved(const Database& db, ReportFacts& facts) {
  std::unordered_map<std::string, std::size_t> table_by_name;
  for (std::size_t t = 0; t < facts.tables.size(); ++t) table_by_name.emplace(facts.tables[t].name, t);
  const std::vector<CarveHit> hits = carve_strings(db, CarveScope::Slack, "", kCarveMinChars, kMaxCarveHits);
  facts.carve_capped = hits.size() >= kMaxCarveHits;
  facts.carved_count = hits.size();
  for (const CarveHit& hit : hits) {
    if (hit.page >= 1 && hit.page <= db.total_pages()) ++facts.map.cells[cell_of(facts.map, hit.page)].carved;
    if (hit.table) {
      const auto found = table_by_name.find(*hit.table);
      if (found != table_by_name.end()) ++facts.tables[found->second].carved;
    }
    if (facts.carved.size() < kMaxListedHits) {
      facts.carved.push_back({hit.page, hit.offset, hit.table.value_or(""), hit.text});
    }
  }
}

std::string replay_verdict(const logs::DatabaseNeeds& n) {
  if (!n.missing.empty()) return "generations missing";
  if (n.needs_replay()) return std::to_string(n.replay_records - n.already_applied) + " records would be replayed";
  return "needs no replay";
}

// The strip spans the lowest to the highest generation that a log or the needs name,
// in at most kMaxStripCells cells; counts come from the logs present and the needs'
// lists, so a hostile span of billions of generations costs nothing.
std::vector<GenerationCell> generation_strip(const logs::LogFolder& folder, const logs::DatabaseNeeds& needs) {
  std::optional<std::uint32_t> low = folder.lowest_generation();
  std::optional<std::uint32_t> high = folder.highest_generation();
  for (const std::uint32_t g : needs.needed) {
    low = std::min(low.value_or(g), g);
    high = std::max(high.value_or(g), g);
  }
  std::vector<GenerationCell> strip;
  if (!low || !high || *high < *low) return strip;
  const std::uint64_t span = static_cast<std::uint64_t>(*high) - *low + 1;
  const std::uint64_t per_cell = (span + kMaxStripCells - 1) / kMaxStripCells;
  strip.resize(static_cast<std::size_t>((span + per_cell - 1) / per_cell));
  for (std::size_t c = 0; c < strip.size(); ++c) {
    strip[c].first = static_cast<std::uint32_t>(*low + c * per_cell);
    strip[c].last = static_cast<std::uint32_t>(std::min<std::uint64_t>(*low + (c + 1) * per_cell - 1, *high));
  }
  const auto cell = [&](std::uint32_t g) -> GenerationCell& { return strip[(g - *low) / per_cell]; };
  std::uint32_t previous = 0;
  bool any = false;
  for (const std::size_t i : folder.stream_order()) {
    const std::uint32_t g = folder.files()[i].header.generation;
    if (any && g == previous) continue;  // two files of one generation: counted once
    any = true;
    previous = g;
    if (g >= *low && g <= *high) ++cell(g).present;
  }
  for (const std::uint32_t g : needs.needed) ++cell(g).needed;
  for (const std::uint32_t g : needs.missing) ++cell(g).missing;
  return strip;
}

LogChainFacts gather_logs(const Database& db, const std::string& path,
                          const Result<logs::LogFolder>& opened) {
  LogChainFacts facts;
  facts.path = path;
  if (!opened) {
    facts.error = opened.error().to_string();
    return facts;
  }
  const logs::LogFolder& folder = *opened;
  facts.file_count = folder.files().size();
  for (const logs::LogFileInfo& f : folder.files()) {
    if (facts.files.size() >= kMaxListedLogFiles) break;
    LogFileFacts row{f.name, logs::file_role_name(f.role), std::nullopt, f.size, f.problems.size(), f.open_error};
    if (f.usable()) row.generation = f.header.generation;
    else if (row.error.empty()) row.error = std::string("not a log (") + logs::header_kind_name(f.header.kind) + ")";
    facts.files.push_back(std::move(row));
  }
  facts.lowest = folder.lowest_generation();
  facts.highest = folder.highest_generation();
  facts.gaps = folder.gaps();
  for (const logs::ChainLink& link : folder.chain()) {
    if (!link.time_ok || !link.signature_ok || link.segments_ok == false) ++facts.broken_links;
  }
  facts.checksum_failed = folder.checksum_failed();
  facts.records = folder.records();
  facts.needs = logs::assess_database(db, folder);
  facts.verdict = replay_verdict(*facts.needs);
  facts.strip = generation_strip(folder, *facts.needs);
  return facts;
}

// Counts the timeline's events per day as the collectors find them (series 0: the
// database's, 1: the logs' transactions and the rows they change).
void gather_events(const Database& db, const profiles::Profile* profile, const logs::LogFolder* folder,
                   EventFacts& facts) {
  const auto counter = [&facts](std::size_t series, std::uint64_t& total) {
    return [&facts, series, &total](const timeline::EventView& e) {
      const std::int64_t day = timeline::event_day(e.time);
      auto found = facts.days.find(day);
      if (found == facts.days.end()) {
        if (facts.days.size() >= kMaxEventDays) {  // counted, not drawn
          ++facts.left_out;
          ++total;
          return Status::success();
        }
        found = facts.days.emplace(day, std::array<std::uint64_t, 2>{}).first;
      }
      ++found->second[series];
      ++total;
      return Status::success();
    };
  };
  timeline::TimelineFilter all;
  all.times_only = true;  // counted, never shown: no message or attributes made
  timeline::InputNames names;
  std::vector<profiles::Profile> chosen;
  if (profile != nullptr) chosen.push_back(*profile);
  const std::vector<profiles::Profile>& profile_list = profile != nullptr ? chosen : profiles::builtin_profiles();
  const Status database =
      timeline::database_events(db, profile_list, all, 0, names, counter(0, facts.database_events));
  if (!database.ok()) facts.database_error = database.error().to_string();
  if (folder != nullptr) {
    timeline::InputNames log_names;
    const Status logged = timeline::log_events(*folder, all, 1, log_names, counter(1, facts.log_events));
    if (!logged.ok()) facts.logs_error = logged.error().to_string();
    // The rows the logs change: the logs' series too (the timeline files them under the
    // database, whose rows they are). Counted without the rows' images.
    std::vector<std::string> problems;
    const Status changed = timeline::row_change_events(db, *folder, {}, profile_list, all, 0, names, problems,
                                                       counter(1, facts.row_change_events));
    if (!changed.ok()) problems.insert(problems.begin(), changed.error().to_string());
    if (!problems.empty()) facts.row_changes_note = problems.front();
  }
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ReportFacts gather_report(const Database& db, const ReportOptions& options) {
  ReportFacts facts;
  facts.path = options.path;
  facts.file_name = base_name(options.path);
  facts.file_size = db.bytes().size();
  facts.page_size = db.page_size();
  facts.total_pages = db.total_pages();
  facts.format_version = db.format_version();
  facts.format_revision = db.format_revision();
  if (auto header = read_header_facts(db)) {
    facts.header = std::move(header).value();
  } else {
    facts.header_error = header.error().to_string();
  }
  std::vector<std::uint32_t> damaged;
  if (auto verified = verify_database(db)) {
    facts.verify = std::move(verified).value();
    facts.verify_problem_count = facts.verify->problems.size();
    for (const PageProblem& p : facts.verify->problems) {
      if (p.page >= 1 && p.page <= facts.total_pages) damaged.push_back(static_cast<std::uint32_t>(p.page));
    }
    if (facts.verify->problems.size() > kMaxListedProblems) facts.verify->problems.resize(kMaxListedProblems);
    facts.verify->problems.shrink_to_fit();
  } else {
    facts.verify_error = verified.error().to_string();
  }
  facts.catalog_problem_count = db.catalog_problems().size();
  for (std::size_t i = 0; i < db.catalog_problems().size() && i < kMaxListedProblems; ++i) {
    facts.catalog_problems.push_back(db.catalog_problems()[i]);
  }

  Owners owners(db, facts.owners);
  std::vector<std::uint64_t> owner_pages;
  build_map(db, damaged, owners, owner_pages, facts);
  damaged = {};
  gather_tables(db, owners, owner_pages, facts);
  gather_views(db, options.profile, facts);
  gather_recovered(db, facts);
  gather_carved(db, facts);
  std::optional<Result<logs::LogFolder>> folder;
  if (!options.logs_path.empty()) {
    folder.emplace(logs::LogFolder::open(options.logs_path));
    facts.logs = gather_logs(db, options.logs_path, *folder);
  }
  gather_events(db, options.profile, folder && *folder ? &folder->value() : nullptr, facts.events);
  return facts;
}

}  // namespace quarrow::report
