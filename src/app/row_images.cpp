#include "app/row_images.h"

#include "replay/replay.h"

namespace quarrow::app {

ChangeImages::ChangeImages(const Database& db, const logs::LogFolder& folder) {
  // Nothing to replay onto a file that names no log position, nor with another
  // database's logs (the change reader says so): no images, and nothing to report.
  const logs::DatabaseLogFacts facts = logs::read_database_log_facts(db.bytes());
  if ((facts.dirty ? facts.attached : facts.consistent).is_zero() || logs::logs_of_another_database(folder, facts)) {
    return;
  }
  replay::ReplayOptions options;
  options.on_node_change = [this](const replay::NodeChange& c) {
    // The final undo is no record of the logs: its position is the last record's.
    if (c.undo_at_end) return;
    by_position_.try_emplace(c.position, Images{c.key, c.before, c.after});
  };
  Result<replay::ReplayOutcome> outcome = replay::replay_logs(db, folder, options);
  if (!outcome) {
    by_position_.clear();
    problem_ = "rows before and after changes not read: the logs could not be replayed: " + outcome.error().to_string();
  }
}

void ChangeImages::attach(logs::RowChange& c) const {
  const auto found = by_position_.find(c.position);
  if (found == by_position_.end()) return;
  const Images& images = found->second;
  if (!c.has_key) {
    c.has_key = true;
    c.key = images.key;
  }
  c.has_before = !images.before.empty() && c.kind != logs::ChangeKind::Insert;
  if (c.has_before) c.before = as_bytes(images.before);
  const bool leaves_row = c.kind != logs::ChangeKind::Insert && c.kind != logs::ChangeKind::Delete &&
                          c.kind != logs::ChangeKind::FlagDelete;
  c.has_after = leaves_row && !images.after.empty();
  if (c.has_after) c.after = as_bytes(images.after);
}

bool change_of_row(const logs::RowChange& c, std::string_view table, std::string_view key) {
  return c.has_key && c.table != nullptr && c.table->name == table && c.key == key;
}

}  // namespace quarrow::app
