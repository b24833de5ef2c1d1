#include "profiles/view_reader.h"

#include "profiles/column_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "format/known_values.h"
#include "format/record.h"
#include "format/catalog.h"
#include "record/text.h"
#include "record/value.h"

namespace quarrow::profiles {

namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    char x = a[k], y = b[k];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The property part of a Windows Search column name: "4447-System_ItemPathDisplay"
// and "15F-System_DateModified" give "System_ItemPathDisplay"; other names give "".
std::string_view property_part(std::string_view name) {
  std::size_t k = 0;
  while (k < name.size() && name[k] >= '0' && name[k] <= '9') ++k;
  if (k == 0) return {};
  if (k < name.size() && name[k] == 'F') ++k;
  if (k >= name.size() || name[k] != '-') return {};
  return name.substr(k + 1);
}

std::string property_name(std::string_view name) {
  std::string_view p = property_part(name);
  if (p.empty()) return std::string(name);
  std::string out(p);
  std::replace(out.begin(), out.end(), '_', '.');
  return out;
}


}  // namespace

ViewReader::Fast ViewReader::fast_route(Conversion c, std::uint32_t column_type, bool has_range) {
  if (c == Conversion::OleDate && column_type == static_cast<std::uint32_t>(ColumnType::DateTime)) return Fast::Ole;
  if (c != Conversion::Value || has_range) return Fast::None;
  switch (static_cast<ColumnType>(column_type)) {
    case ColumnType::UnsignedByte: return Fast::U8;
    case ColumnType::SignedShort: return Fast::I16;
    case ColumnType::UnsignedShort: return Fast::U16;
    case ColumnType::SignedLong: return Fast::I32;
    case ColumnType::UnsignedLong: return Fast::U32;
    case ColumnType::LongLong: return Fast::Count64;
    case ColumnType::Currency: return Fast::Raw64;
    default: return Fast::None;
  }
}

const char* view_type_name(const ViewColumn& c) {
  switch (c.width) {
    case DecodedType::UInt8: return "uint8";
    case DecodedType::Int16: return "int16";
    case DecodedType::UInt16: return "uint16";
    case DecodedType::Int32: return "int32";
    case DecodedType::UInt32: return "uint32";
    default: return out_type_name(c.type);
  }
}

// The Arrow layout of an integer column read by a fast route: the stored width.
DecodedType ViewReader::stored_width(Fast route) {
  switch (route) {
    case Fast::U8: return DecodedType::UInt8;
    case Fast::I16: return DecodedType::Int16;
    case Fast::U16: return DecodedType::UInt16;
    case Fast::I32: return DecodedType::Int32;
    case Fast::U32: return DecodedType::UInt32;
    default: return DecodedType::Null;
  }
}

ViewReader::Fast ViewReader::raw_fast_route(std::uint32_t column_type) {
  switch (static_cast<ColumnType>(column_type)) {
    case ColumnType::LongLong:
    case ColumnType::DateTime:
    case ColumnType::Currency: return Fast::Raw64;
    default: return fast_route(Conversion::Value, column_type, false);
  }
}

const TableInfo* find_table(const Database& db, std::string_view name) {
  if (const TableInfo* t = db.catalog().find(name)) return t;
  for (const auto& [key, t] : db.catalog()) {
    if (equal_ignoring_case(t.name, name)) return &t;
  }
  return nullptr;
}

bool recognizes(const Database& db, const Profile& profile) {
  for (const auto& tables : profile.recognize) {
    bool all = true;
    for (const std::string& t : tables) all = all && find_table(db, t) != nullptr;
    if (all) return true;
  }
  return false;
}

const Profile* recognize(const Database& db, const std::vector<Profile>& profiles) {
  for (const Profile& p : profiles) {
    if (recognizes(db, p)) return &p;
  }
  return nullptr;
}

std::vector<const ViewSpec*> available_views(const Database& db, const Profile& profile) {
  std::vector<const ViewSpec*> out;
  for (const ViewSpec& v : profile.views) {
    if (find_table(db, v.table) != nullptr) out.push_back(&v);
  }
  return out;
}

const ViewSpec* find_view(const Database& db, const Profile& profile, std::string_view name) {
  for (const ViewSpec& v : profile.views) {
    if (v.name == name) return find_table(db, v.table) != nullptr ? &v : nullptr;
  }
  return nullptr;
}

Result<std::unique_ptr<ViewReader>> ViewReader::open(const Database& db, const Profile& profile,
                                                     const ViewSpec& view, const std::vector<std::string>* columns) {
  std::unique_ptr<ViewReader> r(new ViewReader());
  Status s = r->prepare(db, profile, view, columns);
  if (!s) return std::move(s).error();
  return r;
}

Result<std::vector<ViewColumn>> ViewReader::describe(const Database& db, const Profile& profile,
                                                     const ViewSpec& view, const std::vector<std::string>* columns) {
  ViewReader r;
  Status s = r.prepare(db, profile, view, columns, false);
  if (!s) return std::move(s).error();
  return std::move(r.columns_);
}

std::uint64_t ViewReader::total_failures() const {
  std::uint64_t n = 0;
  for (std::uint64_t f : failures_) n += f;
  return n;
}

Status ViewReader::prepare(const Database& db, const Profile& profile, const ViewSpec& view,
                           const std::vector<std::string>* wanted, bool values) {
  view_ = view;
  // The lookup tables the view's columns name (not the profile's whole set: a reading
  // of a small table should not copy them all).
  lookups_.clear();
  auto use_lookup = [&](const std::string& name) {
    const auto [at, added] = lookups_.try_emplace(name);
    if (added) {
      if (const auto found = profile.lookups.find(name); found != profile.lookups.end()) at->second = found->second;
    }
    return &at->second;
  };
  for (const ColumnSpec& def : view_.columns) {
    if (!def.lookup.empty()) use_lookup(def.lookup);
    if (def.convert == Conversion::Join && !def.join.fallback.empty()) use_lookup(def.join.fallback);
  }
  const TableInfo* table = find_table(db, view_.table);
  if (table == nullptr) return EseError::table_not_found(view_.table);
  auto opened = open_table_reader(db, table->name);
  if (!opened) return std::move(opened).error();
  reader_ = std::make_unique<TableRecordReader>(std::move(opened).value());
  decoder_ = std::make_unique<RecordDecoder>(db, reader_->table(), reader_->plan());
  const ColumnPlan& plan = reader_->plan();
  const std::size_t n = plan.columns.size();
  sources_.resize(n);
  source_ready_.assign(n, 0);
  decoded_.resize(n);
  text_.resize(n);

  // A stored column by the name a profile gives: exact, then ignoring case, then by
  // property name (Windows Search numbers its columns differently per version).
  auto resolve = [&](std::string_view name) -> int {
    for (std::size_t k = 0; k < n; ++k) {
      if (plan.columns[k].info->name == name) return static_cast<int>(k);
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (equal_ignoring_case(plan.columns[k].info->name, name)) return static_cast<int>(k);
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (property_part(plan.columns[k].info->name) == name) return static_cast<int>(k);
    }
    return -1;
  };
  auto type_at = [&](int k) { return k < 0 ? 0u : plan.columns[static_cast<std::size_t>(k)].info->column_type; };

  std::vector<Slot> slots;
  std::vector<ViewColumn> cols;
  std::vector<char> used(n, 0);
  for (const ColumnSpec& def : view_.columns) {
    Slot slot;
    slot.def = &def;
    slot.source = resolve(def.from);
    // One profile serves several versions of a database: a column this file's table
    // lacks is left out of the view.
    if (slot.source < 0) continue;
    used[static_cast<std::size_t>(slot.source)] = 1;
    slot.convert = def.convert;
    slot.conv_type = conversion_type(def.convert, type_at(slot.source));
    if (def.convert == Conversion::Join) {
      std::uint32_t value_type = 0;
      if (const TableInfo* joined = find_table(db, def.join.table)) {
        if (const ColumnInfo* c = joined->columns.find(def.join.value)) value_type = c->column_type;
      }
      slot.conv_type = def.join.by_type.empty() ? conversion_type(def.join.convert, value_type) : OutType::Text;
      // Keys the table lacks come from the fallback lookup, as text.
      if (!def.join.fallback.empty() || def.join.has_null_text) slot.conv_type = OutType::Text;
    }
    slot.type = def.lookup.empty() ? slot.conv_type : OutType::Text;
    if (!def.lookup.empty()) {
      slot.lookup = use_lookup(def.lookup);
      slot.lookup_cache = std::make_shared<std::unordered_map<std::int64_t, std::string>>();
    }
    if (def.lookup.empty()) slot.fast = fast_route(def.convert, type_at(slot.source), def.has_range);
    slot.multi = (plan.columns[static_cast<std::size_t>(slot.source)].info->flags & kColumnMultiValued) != 0;
    ViewColumn c{def.name, slot.type, plan.columns[static_cast<std::size_t>(slot.source)].info->name, def.note,
                 stored_width(slot.fast)};
    c.dictionary = def.convert == Conversion::Join && slot.type == OutType::Text;
    slots.push_back(slot);
    cols.push_back(c);
    if (def.raw) {
      Slot raw = slot;
      raw.kind = SlotKind::Raw;
      raw.fast = raw_fast_route(type_at(slot.source));
      raw.type = raw_type(type_at(slot.source));
      slots.push_back(raw);
      cols.push_back(ViewColumn{def.name + "_raw", raw.type, c.source, "the stored value of " + def.name,
                                stored_width(raw.fast)});
    }
  }
  if (view_.unpivot.active) {
    const UnpivotSpec& u = view_.unpivot;
    year_source_ = resolve(u.year_from);
    for (std::size_t k = 0; k < n; ++k) {
      const std::string& name = plan.columns[k].info->name;
      if (name.size() <= u.prefix.size() || name.compare(0, u.prefix.size(), u.prefix) != 0) continue;
      const std::string digits = name.substr(u.prefix.size());
      if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
      const int day = std::stoi(digits);
      if (day < u.first || day > u.last) continue;
      days_.emplace_back(static_cast<int>(k), day);
      used[k] = 1;
    }
    std::sort(days_.begin(), days_.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  }
  if (view_.other_columns) {
    for (std::size_t k = 0; k < n; ++k) {
      if (used[k]) continue;
      Slot slot;
      slot.source = static_cast<int>(k);
      slot.type = slot.conv_type = conversion_type(Conversion::Value, type_at(slot.source));
      slot.fast = fast_route(Conversion::Value, type_at(slot.source), false);
      slot.multi = (plan.columns[k].info->flags & kColumnMultiValued) != 0;
      std::string name = view_.other_rename == "property" ? property_name(plan.columns[k].info->name)
                                                          : plan.columns[k].info->name;
      for (const ViewColumn& c : cols) {
        if (c.name == name) name = plan.columns[k].info->name;
      }
      slots.push_back(slot);
      cols.push_back(ViewColumn{name, slot.type, plan.columns[k].info->name, "", stored_width(slot.fast)});
    }
  }
  if (view_.unpivot.active) {
    Slot date;
    date.kind = SlotKind::UnpivotDate;
    date.type = OutType::Timestamp;
    slots.push_back(date);
    cols.push_back(ViewColumn{view_.unpivot.date_column, OutType::Timestamp, view_.unpivot.prefix + "N",
                              "1 January of the year of " + view_.unpivot.year_from + " + N - 1"});
    Slot count;
    count.kind = SlotKind::UnpivotCount;
    count.type = OutType::Int64;
    slots.push_back(count);
    cols.push_back(ViewColumn{view_.unpivot.count_column, OutType::Int64, view_.unpivot.prefix + "N", ""});
  }

  if (wanted != nullptr) {
    std::vector<Slot> kept;
    std::vector<ViewColumn> kept_cols;
    for (const std::string& name : *wanted) {
      std::size_t k = 0;
      while (k < cols.size() && cols[k].name != name) ++k;
      if (k == cols.size()) return EseError::parse(std::string(kColumnNotFound) + name);
      kept.push_back(slots[k]);
      kept_cols.push_back(cols[k]);
    }
    slots = std::move(kept);
    cols = std::move(kept_cols);
  }
  // The stored columns each joined table is read for, by all the joins that use it.
  JoinNeeds needs;
  for (const Slot& slot : slots) {
    if (slot.kind != SlotKind::Column || slot.def == nullptr || slot.def->convert != Conversion::Join) continue;
    const JoinSpec& j = slot.def->join;
    std::vector<std::string>& columns = needs[{j.table, j.key}];
    for (const std::string* c : {&j.value, &j.type_column}) {
      if (!c->empty() && std::find(columns.begin(), columns.end(), *c) == columns.end()) columns.push_back(*c);
    }
  }
  for (Slot& slot : slots) {
    if (!values || slot.kind != SlotKind::Column || slot.def == nullptr) continue;
    if (slot.def->convert == Conversion::Join) {
      Status s = load_join(db, *slot.def, slot, needs);
      if (!s) return s;
      const ColumnInfo& key = *plan.columns[static_cast<std::size_t>(slot.source)].info;
      slot.join_key_i32 = key.column_type == static_cast<std::uint32_t>(ColumnType::SignedLong) && !slot.multi;
    } else if (slot.def->convert == Conversion::TreePath) {
      Status s = load_tree(db, slot.def->tree, slot);
      if (!s) return s;
    }
  }
  slots_ = std::move(slots);
  columns_ = std::move(cols);
  failures_.assign(slots_.size(), 0);
  return Status::success();
}

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

ViewReader::Step ViewReader::read_record() {
  Bytes data;
  const TableRecordReader::Step step = reader_->next_data(data);
  if (step == TableRecordReader::Step::Error) {
    error_ = reader_->error();
    return Step::Error;
  }
  if (step == TableRecordReader::Step::End) return Step::End;
  decoder_->locate(data);
  std::fill(source_ready_.begin(), source_ready_.end(), 0);
  return Step::Row;
}

namespace {

void source_from_plain(Bytes d, std::uint32_t type, std::uint32_t codepage, std::string& text, Source& out) {
  out = Source{};
  out.column_type = type;
  out.raw = d;
  const std::size_t n = d.size();
  auto need = [&](std::size_t w) { return n >= w; };
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::Boolean:
    case ColumnType::UnsignedByte:
      if (!need(1)) return;
      out.kind = Source::Kind::Int;
      out.i = d[0];
      return;
    case ColumnType::SignedShort:
      if (!need(2)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int16_t>(load_u16le(d, 0));
      return;
    case ColumnType::UnsignedShort:
      if (!need(2)) return;
      out.kind = Source::Kind::Int;
      out.i = load_u16le(d, 0);
      return;
    case ColumnType::SignedLong:
      if (!need(4)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int32_t>(load_u32le(d, 0));
      return;
    case ColumnType::UnsignedLong:
      if (!need(4)) return;
      out.kind = Source::Kind::Int;
      out.i = load_u32le(d, 0);
      return;
    case ColumnType::Currency:
      if (!need(8)) return;
      out.kind = Source::Kind::Int;
      out.i = static_cast<std::int64_t>(load_u64le(d, 0));
      return;
    case ColumnType::LongLong:
    case ColumnType::DateTime:
      if (!need(8)) return;
      out.kind = Source::Kind::UInt;
      out.u = load_u64le(d, 0);
      return;
    case ColumnType::SingleFloat:
      if (!need(4)) return;
      out.kind = Source::Kind::Float;
      out.f = std::bit_cast<float>(load_u32le(d, 0));
      return;
    case ColumnType::DoubleFloat:
      if (!need(8)) return;
      out.kind = Source::Kind::Float;
      out.f = std::bit_cast<double>(load_u64le(d, 0));
      return;
    case ColumnType::Guid:
      if (!need(kGuidSize)) return;
      out.kind = Source::Kind::Guid;
      out.raw = d.first(kGuidSize);
      return;
    case ColumnType::Text:
    case ColumnType::LongText:
      text.clear();
      if (!decode_text_into(d, codepage, text)) text = lossy_utf8(d);
      out.kind = Source::Kind::Text;
      out.text = text;
      return;
    default:
      out.kind = Source::Kind::Bytes;
      return;
  }
}

}  // namespace

// A present, single value stored as it is (0x01 only says the column is a long-value
// column whose value is kept inline).
bool ViewReader::plain(std::size_t k) const {
  const StoredCell& c = decoder_->stored(k);
  return c.state == StoredCell::State::Present && !decoder_->columns()[k].list &&
         (c.flags & ~kItemLongValueColumn) == 0;
}

const Source& ViewReader::source(int k) {
  const std::size_t i = static_cast<std::size_t>(k);
  if (source_ready_[i]) return sources_[i];
  const ColumnInfo& info = *reader_->plan().columns[i].info;
  const std::uint32_t codepage = info.codepage.value_or(kDefaultCodepage);
  Source& s = sources_[i];
  s = Source{};
  s.column_type = info.column_type;
  const StoredCell& stored = decoder_->stored(i);
  if (stored.state == StoredCell::State::Absent) {
    // The engine applies a stored default to an absent column (a callback default
    // cannot be reproduced).
    if ((info.flags & kColumnHasDefault) && !(info.flags & kColumnDefaultCallback) && !info.default_value.empty()) {
      source_from_plain(as_bytes(info.default_value), info.column_type, codepage, text_[i], s);
    }
  } else if (plain(i)) {
    source_from_plain(stored.data, info.column_type, codepage, text_[i], s);
  } else if (stored.state == StoredCell::State::Present) {
    // Long values, compressed and multi-valued items: the decoder reads them; a
    // multi-valued column gives its first value.
    DecodedCell& cell = decoded_[i];
    decoder_->decode_column(i, cell);
    if (cell.size > 0 && cell.items[0].valid) {
      const DecodedValue& v = cell.items[0];
      switch (decoded_type(info.column_type)) {
        case DecodedType::Binary:
          s.kind = Source::Kind::Bytes;
          s.raw = as_bytes(v.bytes);
          break;
        case DecodedType::Text:
          s.kind = Source::Kind::Text;
          s.text = v.bytes;
          break;
        case DecodedType::Guid: {
          // Back from RFC 4122 order to the stored one (the same byte swap).
          const std::uint8_t* g = v.guid.data();
          text_[i] = std::string{static_cast<char>(g[3]), static_cast<char>(g[2]), static_cast<char>(g[1]),
                                 static_cast<char>(g[0]), static_cast<char>(g[5]), static_cast<char>(g[4]),
                                 static_cast<char>(g[7]), static_cast<char>(g[6])};
          text_[i].append(reinterpret_cast<const char*>(g) + 8, 8);
          s.kind = Source::Kind::Guid;
          s.raw = as_bytes(text_[i]);
          break;
        }
        case DecodedType::Float32: s.kind = Source::Kind::Float; s.f = v.f32; break;
        case DecodedType::Float64: s.kind = Source::Kind::Float; s.f = v.f64; break;
        case DecodedType::Timestamp:
          break;  // the stored pattern is gone once read as an OLE date
        case DecodedType::Int64:
          s.kind = Source::Kind::UInt;
          s.u = static_cast<std::uint64_t>(v.i);
          break;
        case DecodedType::Null: break;
        default:
          s.kind = Source::Kind::Int;
          s.i = v.i;
          break;
      }
    }
  }
  source_ready_[i] = 1;
  return s;
}

// Stored integers and dates without a lookup: read straight from the record's bytes,
// as most columns of a view are. Returns false to take the general route (values
// that are not plain, defaults, short data).
bool ViewReader::fill_fast(Slot& slot, std::size_t index, Cell& out) {
  const std::size_t k = static_cast<std::size_t>(slot.source);
  const StoredCell& stored = decoder_->stored(k);
  if (stored.state == StoredCell::State::Null) return true;  // null
  if (!plain(k)) return false;
  const Bytes d = stored.data;
  switch (slot.fast) {
    case Fast::None: return false;
    case Fast::U8:
      if (d.size() != 1) return false;
      out.set_int(d[0]);
      return true;
    case Fast::I16:
      if (d.size() < 2) return false;
      out.set_int(static_cast<std::int16_t>(load_u16le(d, 0)));
      return true;
    case Fast::U16:
      if (d.size() < 2) return false;
      out.set_int(load_u16le(d, 0));
      return true;
    case Fast::I32:
      if (d.size() < 4) return false;
      out.set_int(static_cast<std::int32_t>(load_u32le(d, 0)));
      return true;
    case Fast::U32:
      if (d.size() < 4) return false;
      out.set_int(load_u32le(d, 0));
      return true;
    case Fast::Raw64:
      if (d.size() < 8) return false;
      out.set_int(static_cast<std::int64_t>(load_u64le(d, 0)));
      return true;
    case Fast::Count64: {
      if (d.size() < 8) return false;
      const std::uint64_t v = load_u64le(d, 0);
      if (v > static_cast<std::uint64_t>(INT64_MAX)) {
        ++failures_[index];
        return true;
      }
      out.set_int(static_cast<std::int64_t>(v));
      return true;
    }
    case Fast::Ole: {
      if (d.size() < 8) return false;
      std::int64_t us = 0;
      if (!ole_date_to_microseconds(std::bit_cast<double>(load_u64le(d, 0)), us) ||
          (slot.def->has_range && (us < slot.def->range_min || us > slot.def->range_max))) {
        ++failures_[index];
        return true;
      }
      out.set_int(us);
      return true;
    }
  }
  return false;
}

void ViewReader::fill(std::size_t index, Cell& out) {
  Slot& slot = slots_[index];
  out.valid = false;
  out.ref = nullptr;
  if (slot.fast != Fast::None && fill_fast(slot, index, out)) return;
  static const Source kNone;
  const Source& src = slot.source >= 0 ? source(slot.source) : kNone;
  if (slot.kind == SlotKind::Raw) {
    raw_value(src, out);
    return;
  }
  Converted result = Converted::Null;
  if (slot.join) {
    if (src.kind != Source::Kind::Null) {
      const JoinSpec& j = slot.def->join;
      const JoinEntry* entry = nullptr;
      entry = src.kind == Source::Kind::Int ? slot.join->find(src.i) : slot.join->find(key_text(src));
      if (entry == nullptr) {
        const auto fb = j.fallback.empty() ? nullptr : &lookups_[j.fallback];
        const std::string key = fb != nullptr ? key_text(src) : std::string();
        const auto found = fb != nullptr ? fb->find(key) : decltype(fb->end()){};
        if (fb != nullptr && found != fb->end()) {
          out.valid = true;
          out.s = found->second;
          result = Converted::Value;
        } else {
          result = Converted::Failed;
        }
      } else {
        const JoinEntry& e = *entry;
        const bool wrong_type = !j.expect_types.empty() && (!e.has_type || std::find(j.expect_types.begin(),
                                                                                      j.expect_types.end(),
                                                                                      e.type) == j.expect_types.end());
        if (wrong_type || e.failed) {
          result = Converted::Failed;
        } else if (e.value.valid) {
          out.valid = true;
          out.i = e.value.i;
          out.f = e.value.f;
          out.ref = &e.value.s;  // the joined row's text, not copied per row
          result = Converted::Value;
        } else if (j.has_null_text) {
          out.valid = true;
          out.s = j.null_text;
          result = Converted::Value;
        }
      }
    }
  } else if (slot.tree) {
    if (src.kind != Source::Kind::Null) {
      result = Converted::Failed;
      const auto item = slot.tree->items.find(key_text(src));
      if (item != slot.tree->items.end()) {
        const std::string* dir = tree_path(*slot.tree, item->second.first, 0);
        if (dir != nullptr) {
          out.valid = true;
          out.s = *dir + item->second.second;
          result = Converted::Value;
        }
      }
    }
  } else {
    result = convert(slot.convert, slot.def, src, out);
  }
  if (result == Converted::Value && slot.def != nullptr && slot.def->has_range &&
      (slot.conv_type == OutType::Timestamp) && (out.i < slot.def->range_min || out.i > slot.def->range_max)) {
    result = Converted::Failed;
  }
  if (result != Converted::Value) {
    out.valid = false;
    if (result == Converted::Failed) ++failures_[index];
    return;
  }
  if (slot.lookup != nullptr && !slot.join) {  // a join applied its lookup when loaded
    const bool integral = slot.conv_type == OutType::Int64;
    if (integral && slot.lookup_cache) {
      const auto cached = slot.lookup_cache->find(out.i);
      if (cached != slot.lookup_cache->end()) {
        out.s = cached->second;
        return;
      }
    }
    std::string key = cell_key_text(out, slot.conv_type);
    const auto hit = slot.lookup->find(key);
    out.s = hit != slot.lookup->end() ? hit->second : std::move(key);
    // Bounded: a column of ever new values gains nothing from the cache.
    if (integral && slot.lookup_cache && slot.lookup_cache->size() < 4096) slot.lookup_cache->emplace(out.i, out.s);
  }
}

namespace {

// load_u64le / load_u32le / load_u16le inlined for the hot loop (GCC leaves the shared
// helpers out of line there); a plain copy on little-endian hosts.
template <class T>
QUARROW_INLINE T load_le(Bytes d) {
  if constexpr (std::endian::native == std::endian::little) {
    T v;
    std::memcpy(&v, d.data(), sizeof v);
    return v;
  } else if constexpr (sizeof(T) == 8) {
    return load_u64le(d, 0);
  } else if constexpr (sizeof(T) == 4) {
    return load_u32le(d, 0);
  } else {
    return load_u16le(d, 0);
  }
}

}  // namespace

ViewReader::Step ViewReader::next_into(std::vector<ColumnBuilder>& columns, std::vector<Cell>& scratch) {
  if (view_.unpivot.active) {
    const Step step = next(scratch);
    if (step == Step::Row) {
      for (std::size_t s = 0; s < slots_.size(); ++s) columns[s].append(scratch[s]);
    }
    return step;
  }
  if (const Step step = read_record(); step != Step::Row) return step;
  scratch.resize(slots_.size());
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    const Slot& slot = slots_[s];
    ColumnBuilder& out = columns[s];
    // The common case inline: a plain fixed-size integer written straight into the
    // column (what fill_fast does through a Cell).
    if (slot.fast != Fast::None) {
      const StoredCell& stored = decoder_->stored(static_cast<std::size_t>(slot.source));
      if (stored.state == StoredCell::State::Null) {
        out.put_null();
        continue;
      }
      if (stored.state == StoredCell::State::Present && !slot.multi && stored.flags == 0) {
        const Bytes d = stored.data;
        bool done = true;
        switch (slot.fast) {
          case Fast::U8: done = d.size() == 1; if (done) out.put_int(d[0]); break;
          case Fast::I16: done = d.size() >= 2; if (done) out.put_int(static_cast<std::int16_t>(load_le<std::uint16_t>(d))); break;
          case Fast::U16: done = d.size() >= 2; if (done) out.put_int(load_le<std::uint16_t>(d)); break;
          case Fast::I32: done = d.size() >= 4; if (done) out.put_int(static_cast<std::int32_t>(load_le<std::uint32_t>(d))); break;
          case Fast::U32: done = d.size() >= 4; if (done) out.put_int(load_le<std::uint32_t>(d)); break;
          case Fast::Raw64: done = d.size() >= 8; if (done) out.put_int(static_cast<std::int64_t>(load_le<std::uint64_t>(d))); break;
          case Fast::Count64: {
            done = d.size() >= 8;
            if (!done) break;
            const std::uint64_t v = load_le<std::uint64_t>(d);
            if (v > static_cast<std::uint64_t>(INT64_MAX)) {
              ++failures_[s];
              out.put_null();
            } else {
              out.put_int(static_cast<std::int64_t>(v));
            }
            break;
          }
          case Fast::Ole: {
            done = d.size() >= 8;
            if (!done) break;
            std::int64_t us = 0;
            if (!ole_date_to_microseconds(std::bit_cast<double>(load_le<std::uint64_t>(d)), us) ||
                (slot.def->has_range && (us < slot.def->range_min || us > slot.def->range_max))) {
              ++failures_[s];
              out.put_null();
            } else {
              out.put_int(us);
            }
            break;
          }
          default: done = false; break;
        }
        if (done) continue;
      }
    } else if (slot.join && slot.join_key_i32) {
      // A join on a plain 32-bit id (SRUM AppId, UserId): the joined row's text goes
      // straight into the column.
      const StoredCell& stored = decoder_->stored(static_cast<std::size_t>(slot.source));
      if (stored.state == StoredCell::State::Null) {
        out.put_null();
        continue;
      }
      if (stored.state == StoredCell::State::Present && stored.flags == 0 && stored.data.size() >= 4) {
        const JoinSpec& j = slot.def->join;
        const JoinEntry* e = slot.join->find(std::int64_t{static_cast<std::int32_t>(load_le<std::uint32_t>(stored.data))});
        if (e != nullptr && j.fallback.empty()) {
          const bool wrong_type = !j.expect_types.empty() &&
                                  (!e->has_type || std::find(j.expect_types.begin(), j.expect_types.end(), e->type) ==
                                                       j.expect_types.end());
          if (e->value.valid && out.dictionary() && !wrong_type && !e->failed) {
            out.put_text(e->dictionary, e->value.bytes());
            continue;
          }
          Cell& c = scratch[s];
          c.valid = false;
          c.ref = nullptr;
          if (wrong_type || e->failed) {
            ++failures_[s];
          } else if (e->value.valid) {
            c.valid = true;
            c.i = e->value.i;
            c.f = e->value.f;
            c.ref = &e->value.s;
          } else if (j.has_null_text) {
            c.valid = true;
            c.ref = &j.null_text;
          }
          out.append(c);
          continue;
        }
      }
    }
    fill(s, scratch[s]);
    out.append(scratch[s]);
  }
  return Step::Row;
}

ViewReader::Step ViewReader::next(std::vector<Cell>& row) {
  row.resize(slots_.size());
  if (!view_.unpivot.active) {
    if (const Step step = read_record(); step != Step::Row) return step;
    for (std::size_t s = 0; s < slots_.size(); ++s) fill(s, row[s]);
    return Step::Row;
  }
  for (;;) {
    if (in_record_) {
      while (next_day_ < days_.size()) {
        const auto [k, day] = days_[next_day_++];
        Source count;
        source_of(k, count);
        if (count.kind != Source::Kind::Int && count.kind != Source::Kind::UInt) continue;
        for (std::size_t s = 0; s < slots_.size(); ++s) {
          Cell& c = row[s];
          switch (slots_[s].kind) {
            case SlotKind::UnpivotDate:
              c.valid = year_known_;
              c.i = (year_start_days_ + day - 1) * 86400LL * 1000000LL;
              break;
            case SlotKind::UnpivotCount:
              c.set_int(count.kind == Source::Kind::Int ? count.i : static_cast<std::int64_t>(count.u));
              break;
            default:
              c = carried_[s];
              break;
          }
        }
        return Step::Row;
      }
      in_record_ = false;
    }
    if (const Step step = read_record(); step != Step::Row) return step;
    carried_.resize(slots_.size());
    for (std::size_t s = 0; s < slots_.size(); ++s) {
      if (slots_[s].kind == SlotKind::Column || slots_[s].kind == SlotKind::Raw) fill(s, carried_[s]);
    }
    // The year of the record's data: its first access (UTC) is in it.
    year_known_ = false;
    if (year_source_ >= 0) {
      Source y;
      source_of(year_source_, y);
      Cell when;
      const UnpivotSpec& u = view_.unpivot;
      if (convert(u.year_convert, nullptr, y, when) == Converted::Value &&
          !(u.has_range && (when.i < u.range_min || when.i > u.range_max))) {
        std::int64_t days = when.i / (86400LL * 1000000LL);
        if (when.i < 0 && when.i % (86400LL * 1000000LL) != 0) --days;
        int year = 0, month = 0, mday = 0;
        civil_from_days(days, year, month, mday);
        year_start_days_ = days_from_civil(year, 1, 1);
        year_known_ = true;
      }
    }
    in_record_ = true;
    next_day_ = 0;
  }
}

}  // namespace quarrow::profiles
