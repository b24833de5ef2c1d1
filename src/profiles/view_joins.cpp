// The tables a view resolves values through: joined tables (read once while the file
// is open and shared by every reading) and folder trees.
#include <algorithm>
#include <mutex>

#include "profiles/view_reader.h"

namespace quarrow::profiles {

namespace {

// The rows read of a joined table, by (table, key column, columns read), kept while
// the file is open: every provider view of a SRUM file resolves AppId and UserId
// through the same id map, and a reading of each view would otherwise read it again.
// The rows are not changed once read, so readings on any thread share them. (The
// table's name is part of the key: a damaged catalog may give two tables one id.)
template <class Rows>
class SharedJoins {
 public:
  template <class Read>
  std::shared_ptr<const Rows> get(const std::string& table, const std::string& key,
                                  const std::vector<std::string>& columns, Read read) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<const Rows>& rows = by_[{table, key, columns}];
    if (!rows) rows = read();
    return rows;
  }

 private:
  std::mutex mutex_;
  std::map<std::tuple<std::string, std::string, std::vector<std::string>>, std::shared_ptr<const Rows>> by_;
};

}  // namespace

std::shared_ptr<const ViewReader::StoredJoin> ViewReader::joined_rows(const Database& db, const std::string& table,
                                                                      const std::string& key,
                                                                      const std::vector<std::string>& columns) {
  const TableInfo* info = find_table(db, table);
  if (info == nullptr) return read_join_table(db, table, key, columns);
  // Keyed by the joined table's object id.
  static constexpr CacheKind<SharedJoins<StoredJoin>> kSharedJoins;
  return cached(db.cache(), kSharedJoins, info->object_id)
      .get(info->name, key, columns, [&] { return read_join_table(db, table, key, columns); });
}

// Reads the key and `columns` of a joined table by a reader of its own (a view over
// the joined table). What was read before a damaged page still resolves; a table
// that cannot be read at all, or lacks the key, gives no rows; a column it lacks is
// left out of `columns` (the joins naming it resolve nothing).
std::shared_ptr<const ViewReader::StoredJoin> ViewReader::read_join_table(const Database& db,
                                                                          const std::string& table,
                                                                          const std::string& key,
                                                                          const std::vector<std::string>& columns) {
  auto stored = std::make_shared<StoredJoin>();
  if (find_table(db, table) == nullptr) return stored;
  ViewSpec inner;
  inner.name = "join";
  inner.table = table;
  for (const std::string& name : columns) {
    ColumnSpec c;
    c.name = c.from = name;
    inner.columns.push_back(c);
  }
  ColumnSpec k;
  k.name = k.from = key;
  inner.columns.push_back(k);
  auto sub = ViewReader::open(db, Profile{}, inner);
  if (!sub) return stored;
  ViewReader& r = **sub;
  // Columns the table lacks have no slot; the key comes last when present.
  if (r.slots_.empty() || r.slots_.back().def->name != key || r.slots_.back().def != &r.view_.columns.back()) {
    return stored;
  }
  const int key_at = r.slots_.back().source;
  std::vector<int> sources;
  for (std::size_t c = 0; c + 1 < r.slots_.size(); ++c) {
    stored->columns.push_back(r.slots_[c].def->name);
    sources.push_back(r.slots_[c].source);
  }
  // The joined values own their bytes: the reader's buffers hold one record only.
  const auto keep = [&](std::string_view bytes) -> std::string_view {
    if (bytes.empty()) return {};
    return stored->arena.emplace_back(bytes);
  };
  // A huge table stays bounded by the int32 row index of the lookups made from it.
  while (stored->rows < static_cast<std::size_t>(INT32_MAX) && r.read_record() == Step::Row) {
    Source kv;
    r.source_of(key_at, kv);
    if (kv.kind == Source::Kind::Null) continue;
    const auto at = static_cast<std::int32_t>(stored->rows);
    const bool added = kv.kind == Source::Kind::Int ? stored->by_int.emplace(kv.i, at).second
                                                    : stored->by_text.emplace(key_text(kv), at).second;
    if (!added) continue;  // the first row of a key wins
    for (const int source : sources) {
      Source& v = stored->values.emplace_back();
      r.source_of(source, v);
      v.raw = as_bytes(keep(std::string_view(reinterpret_cast<const char*>(v.raw.data()), v.raw.size())));
      v.text = keep(v.text);
    }
    ++stored->rows;
  }
  std::int64_t top = -1;
  bool small = true;
  for (const auto& [id, at] : stored->by_int) {
    small = small && id >= 0 && id < (1 << 24);
    top = std::max(top, id);
  }
  if (small && top >= 0 && static_cast<std::size_t>(top) < 4 * stored->by_int.size() + 1024) {
    stored->dense.assign(static_cast<std::size_t>(top) + 1, -1);
    for (const auto& [id, at] : stored->by_int) stored->dense[static_cast<std::size_t>(id)] = at;
  }
  return stored;
}

int ViewReader::StoredJoin::column(const std::string& name) const {
  const auto at = std::find(columns.begin(), columns.end(), name);
  return at == columns.end() ? -1 : static_cast<int>(at - columns.begin());
}

// A join column's table: the joined table's rows, shared while the file is open (see
// joined_rows) and converted as this column says when first used.
Status ViewReader::load_join(const Database& db, const ColumnSpec& def, Slot& slot, const JoinNeeds& needs) {
  const JoinSpec& j = def.join;
  const std::shared_ptr<const StoredJoin> stored = joined_rows(db, j.table, j.key, needs.at({j.table, j.key}));
  auto table = std::make_shared<JoinTable>();
  table->stored = stored;
  table->value = stored->column(j.value);
  table->type = j.type_column.empty() ? -1 : stored->column(j.type_column);
  table->usable = table->value >= 0 && (j.type_column.empty() || table->type >= 0);
  table->def = &def;
  table->lookup = slot.lookup;
  table->conv_type = slot.conv_type;
  if (table->usable) {
    table->entries.resize(stored->rows);
    table->made.assign(stored->rows, 0);
  }
  slot.join = std::move(table);
  return Status::success();
}

const ViewReader::JoinEntry* ViewReader::JoinTable::make(std::int32_t at) {
  const auto k = static_cast<std::size_t>(at);
  JoinEntry& e = entries[k];
  made[k] = 1;
  const Source* r = &stored->values[k * stored->columns.size()];
  const JoinSpec& j = def->join;
  Conversion c = j.convert;
  if (type >= 0 && r[type].kind == Source::Kind::Int) {
    e.type = r[type].i;
    e.has_type = true;
    const auto by = j.by_type.find(e.type);
    if (by != j.by_type.end()) c = by->second;
  }
  const Converted result = convert(c, def, r[value], e.value);
  e.failed = result == Converted::Failed;
  if (result != Converted::Value) e.value.valid = false;
  // A lookup after the join is applied here, once per joined row.
  if (lookup != nullptr && e.value.valid) {
    std::string text = cell_key_text(e.value, conv_type);
    const auto hit = lookup->find(text);
    e.value.s = hit != lookup->end() ? hit->second : std::move(text);
  }
  return &e;
}

Status ViewReader::load_tree(const Database& db, const TreeSpec& def, Slot& slot) {
  auto tree = std::make_shared<TreeTable>();
  tree->drop_bracketed = def.drop_bracketed;
  auto read_pairs = [&](const std::string& table, const std::string& key, const std::string& a, const std::string& b,
                        std::unordered_map<std::string, std::pair<std::string, std::string>>& out) -> Status {
    if (find_table(db, table) == nullptr) return Status::success();
    ViewSpec inner;
    inner.name = "tree";
    inner.table = table;
    for (const std::string* col : {&key, &a, &b}) {
      if (col->empty()) continue;  // a tree without leaf names
      ColumnSpec c;
      c.name = c.from = *col;
      c.convert = Conversion::Text;
      inner.columns.push_back(c);
    }
    Profile bare;
    auto sub = ViewReader::open(db, bare, inner);
    // As for joins: an unreadable tree table gives no paths rather than no view.
    if (!sub || (*sub)->columns().size() < inner.columns.size()) return Status::success();
    ViewReader& r = **sub;
    std::vector<Cell> row;
    for (;;) {
      if (r.next(row) != Step::Row) break;
      if (!row[0].valid) continue;
      const bool leaf = row.size() > 2 && row[2].valid;
      out.emplace(row[0].s, std::make_pair(row[1].valid ? row[1].s : std::string(), leaf ? row[2].s : std::string()));
    }
    return Status::success();
  };
  Status s = read_pairs(def.table, def.key, def.scope, def.leaf, tree->items);
  if (!s) return s;
  s = read_pairs(def.tree_table, def.tree_id, def.tree_parent, def.tree_name, tree->nodes);
  if (!s) return s;
  slot.tree = std::move(tree);
  return Status::success();
}

// The path of tree node `id`: its ancestors' names from the root down, then its own.
// A node whose parent is unknown (or itself) is a root. Loops and trees deeper than
// any real folder hierarchy give no path.
const std::string* ViewReader::tree_path(TreeTable& tree, const std::string& id, int depth) {
  if (auto memo = tree.paths.find(id); memo != tree.paths.end()) return &memo->second;
  const auto node = tree.nodes.find(id);
  if (node == tree.nodes.end()) return nullptr;
  if (depth > 512) return nullptr;
  std::string path;
  const std::string& parent = node->second.first;
  if (parent != id && tree.nodes.count(parent) != 0) {
    const std::string* up = tree_path(tree, parent, depth + 1);
    if (up == nullptr) return nullptr;
    path = *up;
  }
  const std::string& name = node->second.second;
  // "[<GUID>]/" nodes sit between a drive and its folders and are no part of the path.
  const bool bracketed = name.size() >= 3 && name.front() == '[' && name.compare(name.size() - 2, 2, "]/") == 0;
  if (!(tree.drop_bracketed && bracketed)) path += name;
  return &tree.paths.emplace(id, std::move(path)).first->second;
}

}  // namespace quarrow::profiles
