#include <string>

#include "log/record_types.h"
#include "replay/replay.h"

namespace quarrow::replay {

std::vector<std::string> report_lines(const ReplayReport& r) {
  std::vector<std::string> out;
  auto add = [&](const std::string& name, std::uint64_t v) { out.push_back(name + ": " + std::to_string(v)); };
  std::string gens;
  for (std::uint32_t g : r.generations) gens += (gens.empty() ? "" : " ") + std::to_string(g);
  out.push_back("generations: " + (gens.empty() ? std::string("none") : gens));
  out.push_back("start: " + logs::position_text(r.start));
  out.push_back("end: " + logs::position_text(r.end));
  out.push_back(std::string("replay needed: ") + (r.needed ? "yes" : "no"));
  add("records applied", r.records_applied);
  add("records already in the file", r.records_in_file);
  add("records of other databases", r.records_other_database);
  add("page writes at their before-dbtime", r.writes_at_before);
  add("page writes creating pages", r.writes_creating);
  add("page writes in the same operation", r.writes_same_operation);
  add("page writes already applied", r.writes_already_applied);
  add("transactions committed", r.transactions_committed);
  add("transactions rolled back", r.transactions_rolled_back);
  add("transactions undone at the end", r.transactions_undone_at_end);
  add("operations undone at the end", r.operations_undone_at_end);
  add("macros applied", r.macros_applied);
  add("macros dropped", r.macros_dropped);
  add("pages changed", r.pages_changed);
  add("pages created", r.pages_created);
  add("total pages", r.total_pages);
  add("dbtime before", r.dbtime_before);
  add("dbtime after", r.dbtime_after);
  for (const TableChanges& t : r.tables) {
    out.push_back("table " + std::to_string(t.objid) + (t.name.empty() ? "" : " " + t.name) +
                  ": inserted " + std::to_string(t.inserted) + ", replaced " + std::to_string(t.replaced) +
                  ", deleted " + std::to_string(t.deleted));
  }
  return out;
}

}  // namespace quarrow::replay
