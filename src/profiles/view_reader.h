// Reading a profile's view: the view's table record by record, each stored value
// taken through its column's conversion, joins resolved against tables read once
// when the reading starts.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "profiles/column_builder.h"
#include "profiles/conversions.h"
#include "profiles/profile.h"
#include "record/decoded.h"
#include "record/reader.h"

namespace quarrow::profiles {

// Whether all the recognition tables of one of `profile`'s lists exist in the catalog.
bool recognizes(const Database& db, const Profile& profile);
// The first profile that recognises the database, or nullptr.
const Profile* recognize(const Database& db, const std::vector<Profile>& profiles);

// A catalog table by name, exact first, then ignoring ASCII case.
const TableInfo* find_table(const Database& db, std::string_view name);

// The views of `profile` whose table the database has, in profile order.
std::vector<const ViewSpec*> available_views(const Database& db, const Profile& profile);

// A view of `profile` by name; nullptr when it has none or its table is absent.
const ViewSpec* find_view(const Database& db, const Profile& profile, std::string_view name);

// The message start of the error for a requested column that a view lacks.
inline constexpr char kColumnNotFound[] = "Column not found: ";

struct ViewColumn {
  std::string name;
  OutType type = OutType::Text;
  std::string source;  // the stored column ("" when the table lacks it)
  std::string note;
  // An integer column that shows a stored 8-, 16- or 32-bit integer as it is keeps
  // that width in Arrow, as arrow_table gives it (UInt8 ... UInt32); Null: the layout
  // of `type`. Python, JSON and CSV see the same integers either way.
  DecodedType width = DecodedType::Null;
  // Text resolved through another table (a join): dictionary-encoded in Arrow, as
  // such a column repeats a few of the joined table's values on every row.
  bool dictionary = false;
  // A timestamp in local time (ColumnSpec::local): no zone in any output.
  bool local = false;
};

// A view column's type as `quarrow views` names it: the conversion's type, with an
// integer's stored width where it keeps one ("int32").
const char* view_type_name(const ViewColumn& c);

class ViewReader {
 public:
  enum class Step : std::uint8_t { Row, End, Error };

  // Starts a reading of `view` (which must belong to `profile`). `columns`, when not
  // null, keeps only those view columns, in that order (a Parse error starting with
  // kColumnNotFound for a name the view lacks). Fails when the table or a joined table cannot be read.
  static Result<std::unique_ptr<ViewReader>> open(const Database& db, const Profile& profile, const ViewSpec& view,
                                                 const std::vector<std::string>* columns = nullptr);
  // The view's columns only (its schema), with the same errors as open(); the joined
  // and tree tables, which only give values, are not read.
  static Result<std::vector<ViewColumn>> describe(const Database& db, const Profile& profile, const ViewSpec& view,
                                                  const std::vector<std::string>* columns = nullptr);

  // Another reading of the same view over `pages`, leaf pages of its table (a stretch of
  // list_leaf_pages), ending with `end_error` when given. It shares the joined tables'
  // rows and the lookups with this reader, which must outlive it, and may run on
  // another thread at the same time.
  std::unique_ptr<ViewReader> open_range(std::vector<std::uint32_t> pages, std::optional<EseError> end_error) const;
  // The view's table.
  const TableInfo& table() const { return reader_->table(); }

  const std::vector<ViewColumn>& columns() const { return columns_; }
  // One row into `row` (one cell per column; storage reused).
  Step next(std::vector<Cell>& row);
  // The same row appended to one column builder per column (`scratch` holds the
  // values that take the general route).
  Step next_into(std::vector<ColumnBuilder>& columns, std::vector<Cell>& scratch);
  const EseError& error() const { return error_; }
  // Values that a conversion could not read and that became null, per column.
  const std::vector<std::uint64_t>& failures() const { return failures_; }
  std::uint64_t total_failures() const;

 private:
  struct JoinEntry {
    Cell value;
    std::int64_t type = 0;
    bool has_type = false;
    bool failed = false;
    mutable DictionarySlot dictionary;  // where the column's batch dictionary has the value
  };
  // A joined table's rows as stored, read once while the file is open however many
  // join columns and views use it (SRUM's AppId and UserId each resolve twice through
  // the id map, in every provider view; see joined_rows): for each
  // key, its first row's values of the stored columns those joins name (values and
  // types), whose bytes live in `arena` (deque elements never move).
  struct StoredJoin {
    std::vector<std::string> columns;  // the columns read, in the order of a row's values
    std::vector<Source> values;        // row r, column c: values[r * columns.size() + c]
    std::size_t rows = 0;
    std::deque<std::string> arena;
    // Integer keys (ids) apart: no text made per lookup; small dense ids (the usual
    // case) index a plain array, the others a hash map.
    std::vector<std::int32_t> dense;
    std::unordered_map<std::int64_t, std::int32_t> by_int;
    std::unordered_map<std::string, std::int32_t> by_text;
    std::int32_t find(std::int64_t key) const {
      if (key >= 0 && static_cast<std::uint64_t>(key) < dense.size()) return dense[static_cast<std::size_t>(key)];
      const auto hit = by_int.find(key);
      return hit == by_int.end() ? -1 : hit->second;
    }
    std::int32_t find(const std::string& key) const {
      const auto hit = by_text.find(key);
      return hit == by_text.end() ? -1 : hit->second;
    }
    // The position of a column among those read, or -1.
    int column(const std::string& name) const;
  };
  // (table, key column) -> the columns its joins need in one view.
  using JoinKey = std::pair<std::string, std::string>;
  using JoinNeeds = std::map<JoinKey, std::vector<std::string>>;
  // One join column's view of a stored joined table: a row's value goes through the
  // column's conversion (and lookup) when a record first refers to it, as a view
  // usually meets a few of the joined table's rows many times.
  struct JoinTable {
    std::shared_ptr<const StoredJoin> stored;
    int value = -1, type = -1;  // positions in the stored rows
    bool usable = false;        // the joined table has the key, value and type columns
    const ColumnSpec* def = nullptr;
    const std::map<std::string, std::string>* lookup = nullptr;
    OutType conv_type = OutType::Text;
    std::vector<JoinEntry> entries;  // per stored row, valid once made[row]
    std::vector<char> made;
    const JoinEntry* make(std::int32_t at);  // converts row `at`
    template <class Key>
    const JoinEntry* find(const Key& key) {
      if (!usable) return nullptr;
      const std::int32_t at = stored->find(key);
      if (at < 0) return nullptr;
      return made[static_cast<std::size_t>(at)] ? &entries[static_cast<std::size_t>(at)] : make(at);
    }
  };
  struct TreeTable {
    std::unordered_map<std::string, std::pair<std::string, std::string>> items;  // key -> (scope, leaf)
    std::unordered_map<std::string, std::pair<std::string, std::string>> nodes;  // id -> (parent, name)
    std::unordered_map<std::string, std::string> paths;                          // id -> path, memo
    bool drop_bracketed = false;
  };
  enum class SlotKind : std::uint8_t { Column, Raw, UnpivotDate, UnpivotCount };
  // Direct reads of plain stored values (see fill_fast).
  enum class Fast : std::uint8_t { None, U8, I16, U16, I32, U32, Raw64, Count64, Ole };
  static Fast fast_route(Conversion c, std::uint32_t column_type, bool has_range);
  static Fast raw_fast_route(std::uint32_t column_type);
  static DecodedType stored_width(Fast route);
  struct Slot {
    SlotKind kind = SlotKind::Column;
    Fast fast = Fast::None;
    bool multi = false;  // a multi-valued column: never plain
    bool join_key_i32 = false;  // a join keyed by a Signed long column
    const ColumnSpec* def = nullptr;  // null for other_columns
    int source = -1;                   // index into the plan; -1: the table lacks it
    Conversion convert = Conversion::Value;
    OutType type = OutType::Text;       // what the view shows
    OutType conv_type = OutType::Text;  // what the conversion gives (before a lookup)
    const std::map<std::string, std::string>* lookup = nullptr;
    // Lookup results of integer values, made once per distinct value.
    std::shared_ptr<std::unordered_map<std::int64_t, std::string>> lookup_cache;
    std::shared_ptr<JoinTable> join;
    std::shared_ptr<TreeTable> tree;
  };

  // The view's slots and columns while they are being planned, and the stored columns
  // they use.
  struct Plan {
    std::vector<Slot> slots;
    std::vector<ViewColumn> columns;
    std::vector<char> used;
  };

  ViewReader() = default;
  // `values`: also read the joined and tree tables (false when only the columns are wanted).
  Status prepare(const Database& db, const Profile& profile, const ViewSpec& view,
                 const std::vector<std::string>* columns, bool values = true);
  void use_lookups(const Profile& profile);
  Status open_table(const Database& db);
  void start_decoding();
  int resolve(std::string_view name) const;
  std::uint32_t type_at(int k) const;
  const ColumnInfo& stored_info(int k) const;
  OutType converted_type(const Database& db, const ColumnSpec& def, int source) const;
  void plan_columns(const Database& db, Plan& plan);
  void plan_days(Plan& plan);
  void plan_other_columns(Plan& plan);
  void plan_unpivot_columns(Plan& plan);
  Status keep_wanted(const std::vector<std::string>& wanted, Plan& plan);
  Status load_values(const Database& db, std::vector<Slot>& slots);
  void adopt_slots(const ViewReader& from);
  // The stored rows of a joined table, read once while the file is open (see
  // SharedJoins); read_join_table reads them.
  static std::shared_ptr<const StoredJoin> joined_rows(const Database& db, const std::string& table,
                                                       const std::string& key, const std::vector<std::string>& columns);
  static std::shared_ptr<const StoredJoin> read_join_table(const Database& db, const std::string& table,
                                                           const std::string& key,
                                                           const std::vector<std::string>& columns);
  Status load_join(const Database& db, const ColumnSpec& def, Slot& slot, const JoinNeeds& needs);
  Status load_tree(const Database& db, const TreeSpec& def, Slot& slot);
  Step read_record();
  // The stored value of plan column k in the current record, decoded on first use.
  const Source& source(int k);
  bool plain(std::size_t k) const;
  void source_of(int k, Source& out) { out = source(k); }
  void fill(std::size_t s, Cell& out);
  bool fill_fast(Slot& slot, std::size_t index, Cell& out);
  Converted fill_join(Slot& slot, const Source& src, Cell& out);
  Converted fill_tree(Slot& slot, const Source& src, Cell& out);
  void apply_lookup(Slot& slot, Cell& out);
  bool put_fast(const Slot& slot, std::size_t s, ColumnBuilder& out);
  bool put_join(const Slot& slot, std::size_t s, ColumnBuilder& out, Cell& c);
  const std::string* tree_path(TreeTable& tree, const std::string& id, int depth);

  const Database* db_ = nullptr;
  ViewSpec view_;
  std::map<std::string, std::map<std::string, std::string>> lookups_;
  std::unique_ptr<TableRecordReader> reader_;
  std::unique_ptr<RecordDecoder> decoder_;
  std::vector<ViewColumn> columns_;
  std::vector<Slot> slots_;
  std::vector<std::uint64_t> failures_;
  EseError error_ = EseError::invalid_header();
  // Per record: the sources of the plan columns in use, decoded on demand.
  std::vector<Source> sources_;
  std::vector<char> source_ready_;
  std::vector<DecodedCell> decoded_;
  std::vector<std::string> text_;
  std::vector<std::string> default_;
  // Unpivot state: the day columns (plan index, day number), the year of the
  // record being spread out, and the next day to emit.
  std::vector<std::pair<int, int>> days_;
  int year_source_ = -1;
  std::size_t next_day_ = 0;
  bool in_record_ = false;
  std::int64_t year_start_days_ = 0;
  bool year_known_ = false;
  std::vector<Cell> carried_;
};

}  // namespace quarrow::profiles
