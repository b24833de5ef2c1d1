// Planning a reading of a view: its columns against the stored ones, the routes their
// values take, and the joined and tree tables they resolve through.
#include "profiles/view_reader.h"

#include <algorithm>
#include <unordered_set>

#include "format/catalog.h"
#include "profiles/view_names.h"

namespace quarrow::profiles {

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

// A stored column by the name a profile gives: exact, then ignoring case, then by
// property name (Windows Search numbers its columns differently per version).
int ViewReader::resolve(std::string_view name) const {
  const ColumnPlan& plan = reader_->plan();
  const std::size_t n = plan.columns.size();
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
}

std::uint32_t ViewReader::type_at(int k) const {
  return k < 0 ? 0u : reader_->plan().columns[static_cast<std::size_t>(k)].info->column_type;
}

const ColumnInfo& ViewReader::stored_info(int k) const {
  return *reader_->plan().columns[static_cast<std::size_t>(k)].info;
}

Status ViewReader::prepare(const Database& db, const Profile& profile, const ViewSpec& view,
                           const std::vector<std::string>* wanted, bool values) {
  view_ = view;
  use_lookups(profile);
  if (Status s = open_table(db); !s) return s;
  Plan plan;
  plan.used.assign(reader_->plan().columns.size(), 0);
  plan_columns(db, plan);
  if (view_.unpivot.active) plan_days(plan);
  if (view_.other_columns) plan_other_columns(plan);
  if (view_.unpivot.active) plan_unpivot_columns(plan);
  if (wanted != nullptr) {
    if (Status s = keep_wanted(*wanted, plan); !s) return s;
  }
  if (values) {
    if (Status s = load_values(db, plan.slots); !s) return s;
  }
  slots_ = std::move(plan.slots);
  columns_ = std::move(plan.columns);
  failures_.assign(slots_.size(), 0);
  return Status::success();
}

std::unique_ptr<ViewReader> ViewReader::open_range(std::vector<std::uint32_t> pages,
                                                   std::optional<EseError> end_error) const {
  std::unique_ptr<ViewReader> r(new ViewReader());
  r->db_ = db_;
  r->view_ = view_;
  r->lookups_ = lookups_;
  r->reader_ = std::make_unique<TableRecordReader>(
      open_range_reader(*db_, reader_->table(), reader_->plan(), std::move(pages), std::move(end_error)));
  r->start_decoding();
  r->columns_ = columns_;
  r->days_ = days_;
  r->year_source_ = year_source_;
  r->adopt_slots(*this);
  return r;
}

// `from`'s slots, pointing into this reader's copies of the view and its lookups, with
// caches of their own: the joined rows and the tree tables' rows are shared, what a
// reading converts from them (and where its batches' dictionaries hold the values) is
// the reading's.
void ViewReader::adopt_slots(const ViewReader& from) {
  slots_ = from.slots_;
  for (Slot& slot : slots_) {
    if (slot.def != nullptr) slot.def = &view_.columns[static_cast<std::size_t>(slot.def - from.view_.columns.data())];
    if (slot.lookup != nullptr) slot.lookup = &lookups_.at(slot.def->lookup);
    if (slot.lookup_cache) slot.lookup_cache = std::make_shared<std::unordered_map<std::int64_t, std::string>>();
    if (slot.join) {
      auto join = std::make_shared<JoinTable>(*slot.join);
      join->def = slot.def;
      join->lookup = slot.lookup;
      join->entries.assign(join->entries.size(), JoinEntry{});
      join->made.assign(join->made.size(), 0);
      slot.join = std::move(join);
    }
    if (slot.tree) slot.tree = std::make_shared<TreeTable>(*slot.tree);
  }
  failures_.assign(slots_.size(), 0);
}

// The lookup tables the view's columns name (not the profile's whole set: a reading
// of a small table should not copy them all).
void ViewReader::use_lookups(const Profile& profile) {
  lookups_.clear();
  auto use = [&](const std::string& name) {
    const auto [at, added] = lookups_.try_emplace(name);
    if (!added) return;
    if (const auto found = profile.lookups.find(name); found != profile.lookups.end()) at->second = found->second;
  };
  for (const ColumnSpec& def : view_.columns) {
    if (!def.lookup.empty()) use(def.lookup);
    if (def.convert == Conversion::Join && !def.join.fallback.empty()) use(def.join.fallback);
  }
}

Status ViewReader::open_table(const Database& db) {
  const TableInfo* table = find_table(db, view_.table);
  if (table == nullptr) return EseError::table_not_found(view_.table);
  auto opened = open_table_reader(db, table->name);
  if (!opened) return std::move(opened).error();
  db_ = &db;
  reader_ = std::make_unique<TableRecordReader>(std::move(opened).value());
  start_decoding();
  return Status::success();
}

// The decoder and the per-record state of the reader in reader_.
void ViewReader::start_decoding() {
  decoder_ = std::make_unique<RecordDecoder>(*db_, reader_->table(), reader_->plan());
  const std::size_t n = reader_->plan().columns.size();
  sources_.assign(n, Source{});
  source_ready_.assign(n, 0);
  decoded_.resize(n);
  text_.resize(n);
}

// The type the values of a column defined by `def` over stored column `source` get
// through its conversion (a join: through the joined table's value column).
OutType ViewReader::converted_type(const Database& db, const ColumnSpec& def, int source) const {
  if (def.convert != Conversion::Join) return conversion_type(def.convert, type_at(source));
  std::uint32_t value_type = 0;
  if (const TableInfo* joined = find_table(db, def.join.table)) {
    if (const ColumnInfo* c = joined->columns.find(def.join.value)) value_type = c->column_type;
  }
  // Keys the table lacks come from the fallback lookup, as text.
  if (!def.join.fallback.empty() || def.join.has_null_text) return OutType::Text;
  return def.join.by_type.empty() ? conversion_type(def.join.convert, value_type) : OutType::Text;
}

// The view's own columns, in profile order, each with its raw twin when asked for.
void ViewReader::plan_columns(const Database& db, Plan& plan) {
  for (const ColumnSpec& def : view_.columns) {
    Slot slot;
    slot.def = &def;
    slot.source = resolve(def.from);
    // One profile serves several versions of a database: a column this file's table
    // lacks is left out of the view.
    if (slot.source < 0) continue;
    plan.used[static_cast<std::size_t>(slot.source)] = 1;
    slot.convert = def.convert;
    slot.conv_type = converted_type(db, def, slot.source);
    slot.type = def.lookup.empty() ? slot.conv_type : OutType::Text;
    if (!def.lookup.empty()) {
      slot.lookup = &lookups_.at(def.lookup);
      slot.lookup_cache = std::make_shared<std::unordered_map<std::int64_t, std::string>>();
    }
    if (def.lookup.empty()) slot.fast = fast_route(def.convert, type_at(slot.source), def.has_range);
    const ColumnInfo& stored = stored_info(slot.source);
    slot.multi = (stored.flags & kColumnMultiValued) != 0;
    ViewColumn c{def.name, slot.type, stored.name, def.note, stored_width(slot.fast)};
    c.dictionary = def.convert == Conversion::Join && slot.type == OutType::Text;
    c.local = def.local && slot.type == OutType::Timestamp;
    plan.slots.push_back(slot);
    plan.columns.push_back(c);
    if (def.raw) {
      Slot raw = slot;
      raw.kind = SlotKind::Raw;
      raw.fast = raw_fast_route(type_at(slot.source));
      raw.type = raw_type(type_at(slot.source));
      plan.slots.push_back(raw);
      plan.columns.push_back(ViewColumn{def.name + "_raw", raw.type, c.source, "the stored value of " + def.name,
                                        stored_width(raw.fast)});
    }
  }
}

// An unpivoted view's day columns (prefix + day number), in day order.
void ViewReader::plan_days(Plan& plan) {
  const UnpivotSpec& u = view_.unpivot;
  const ColumnPlan& columns = reader_->plan();
  year_source_ = resolve(u.year_from);
  for (std::size_t k = 0; k < columns.columns.size(); ++k) {
    const std::string& name = columns.columns[k].info->name;
    if (name.size() <= u.prefix.size() || name.compare(0, u.prefix.size(), u.prefix) != 0) continue;
    const std::string digits = name.substr(u.prefix.size());
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const int day = std::stoi(digits);
    if (day < u.first || day > u.last) continue;
    days_.emplace_back(static_cast<int>(k), day);
    plan.used[k] = 1;
  }
  std::sort(days_.begin(), days_.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
}

// The stored columns no view column uses, as they are (a name the view already has
// keeps the stored one).
// The names taken are kept in a set: a table can have tens of thousands of columns, and
// comparing each with every one before it took minutes.
void ViewReader::plan_other_columns(Plan& plan) {
  const ColumnPlan& columns = reader_->plan();
  std::unordered_set<std::string> taken;
  for (const ViewColumn& c : plan.columns) taken.insert(c.name);
  for (std::size_t k = 0; k < columns.columns.size(); ++k) {
    if (plan.used[k]) continue;
    const ColumnInfo& info = *columns.columns[k].info;
    Slot slot;
    slot.source = static_cast<int>(k);
    slot.type = slot.conv_type = conversion_type(Conversion::Value, info.column_type);
    slot.fast = fast_route(Conversion::Value, info.column_type, false);
    slot.multi = (info.flags & kColumnMultiValued) != 0;
    std::string name = view_.other_rename == "property" ? property_name(info.name) : info.name;
    if (taken.count(name) != 0) name = info.name;  // a property name another column has
    taken.insert(name);
    plan.slots.push_back(slot);
    plan.columns.push_back(ViewColumn{name, slot.type, info.name, "", stored_width(slot.fast)});
  }
}

void ViewReader::plan_unpivot_columns(Plan& plan) {
  const UnpivotSpec& u = view_.unpivot;
  Slot date;
  date.kind = SlotKind::UnpivotDate;
  date.type = OutType::Timestamp;
  plan.slots.push_back(date);
  plan.columns.push_back(ViewColumn{u.date_column, OutType::Timestamp, u.prefix + "N",
                                    "1 January of the year of " + u.year_from + " + N - 1"});
  Slot count;
  count.kind = SlotKind::UnpivotCount;
  count.type = OutType::Int64;
  plan.slots.push_back(count);
  plan.columns.push_back(ViewColumn{u.count_column, OutType::Int64, u.prefix + "N", ""});
}

// Only the columns asked for, in that order.
Status ViewReader::keep_wanted(const std::vector<std::string>& wanted, Plan& plan) {
  std::vector<Slot> kept;
  std::vector<ViewColumn> kept_columns;
  std::unordered_map<std::string_view, std::size_t> first;  // a name's first column
  for (std::size_t k = plan.columns.size(); k-- > 0;) first[plan.columns[k].name] = k;
  for (const std::string& name : wanted) {
    const auto found = first.find(name);
    if (found == first.end()) return EseError::parse(std::string(kColumnNotFound) + name);
    const std::size_t k = found->second;
    kept.push_back(plan.slots[k]);
    kept_columns.push_back(plan.columns[k]);
  }
  plan.slots = std::move(kept);
  plan.columns = std::move(kept_columns);
  return Status::success();
}

// The joined and tree tables the kept columns resolve through.
Status ViewReader::load_values(const Database& db, std::vector<Slot>& slots) {
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
    if (slot.kind != SlotKind::Column || slot.def == nullptr) continue;
    if (slot.def->convert == Conversion::Join) {
      Status s = load_join(db, *slot.def, slot, needs);
      if (!s) return s;
      const ColumnInfo& key = stored_info(slot.source);
      slot.join_key_i32 = key.column_type == static_cast<std::uint32_t>(ColumnType::SignedLong) && !slot.multi;
    } else if (slot.def->convert == Conversion::TreePath) {
      Status s = load_tree(db, slot.def->tree, slot);
      if (!s) return s;
    }
  }
  return Status::success();
}
}  // namespace quarrow::profiles
