#include "app/replay_fields.h"

#include "log/record_types.h"

namespace quarrow::app {

std::vector<std::pair<const char*, std::uint64_t>> replay_counts(const replay::ReplayReport& r) {
  return {
      {"records_applied", r.records_applied},
      {"records_in_file", r.records_in_file},
      {"records_other_database", r.records_other_database},
      {"writes_at_before", r.writes_at_before},
      {"writes_creating", r.writes_creating},
      {"writes_same_operation", r.writes_same_operation},
      {"writes_already_applied", r.writes_already_applied},
      {"transactions_committed", r.transactions_committed},
      {"transactions_rolled_back", r.transactions_rolled_back},
      {"transactions_undone_at_end", r.transactions_undone_at_end},
      {"operations_undone_at_end", r.operations_undone_at_end},
      {"macros_applied", r.macros_applied},
      {"macros_dropped", r.macros_dropped},
      {"pages_changed", r.pages_changed},
      {"pages_created", r.pages_created},
      {"total_pages", r.total_pages},
      {"dbtime_before", r.dbtime_before},
      {"dbtime_after", r.dbtime_after},
  };
}

std::vector<std::pair<std::string, std::uint64_t>> replay_record_types(const replay::ReplayReport& r) {
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (std::size_t type = 0; type < r.records_by_type.size(); ++type) {
    if (r.records_by_type[type] == 0) continue;
    const char* name = logs::record_type_name(static_cast<std::uint8_t>(type));
    out.emplace_back(name != nullptr ? std::string(name) : "type " + std::to_string(type), r.records_by_type[type]);
  }
  return out;
}

}  // namespace quarrow::app
