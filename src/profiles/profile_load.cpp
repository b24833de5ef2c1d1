// Reading profile files. The JSON syntax is the nlohmann/json library's (comments
// allowed); this file turns its events into a small tree that remembers the line of
// every value, then checks the tree against the profile schema, so that every error
// names the file, the line and what is wrong.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "format/calendar.h"
#include "platform/platform.h"
#include "profiles/profile.h"

namespace quarrow::profiles {

namespace {

struct Node {
  enum class Type : std::uint8_t { Null, Bool, Int, Float, String, Array, Object };
  Type type = Type::Null;
  bool b = false;
  std::int64_t i = 0;
  bool int_ok = true;  // false for integers beyond int64
  double f = 0;
  std::string s;
  std::vector<Node> items;                          // Array
  // Object, in file order. (A vector of an incomplete type is allowed, a std::pair of
  // one is not: hence the struct declared here and defined below.)
  struct Member;
  std::vector<Member> members;
  int line = 0;

  const Node* find(std::string_view key) const;
};

struct Node::Member {
  std::string first;
  Node second;
};

const Node* Node::find(std::string_view key) const {
  for (const auto& m : members) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

// An input iterator over the text that publishes how far the library has read, so
// that each event can be given the line it came from.
struct CountingIterator {
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  const char* p = nullptr;
  const char** seen = nullptr;

  reference operator*() const { return *p; }
  CountingIterator& operator++() {
    ++p;
    *seen = p;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const CountingIterator& o) const { return p == o.p; }
  bool operator!=(const CountingIterator& o) const { return p != o.p; }
};

struct Failure {
  int line;
  std::string what;
};

class TreeBuilder {
 public:
  using json = nlohmann::json;
  TreeBuilder(const char* begin, const char** seen) : begin_(begin), counted_(begin), seen_(seen) {}

  bool null() { return put(Node{}); }
  bool boolean(bool v) {
    Node n;
    n.type = Node::Type::Bool;
    n.b = v;
    return put(std::move(n));
  }
  bool number_integer(json::number_integer_t v) {
    Node n;
    n.type = Node::Type::Int;
    n.i = v;
    return put(std::move(n));
  }
  bool number_unsigned(json::number_unsigned_t v) {
    Node n;
    n.type = Node::Type::Int;
    n.int_ok = v <= static_cast<std::uint64_t>(INT64_MAX);
    n.i = static_cast<std::int64_t>(v);
    return put(std::move(n));
  }
  bool number_float(json::number_float_t v, const json::string_t&) {
    Node n;
    n.type = Node::Type::Float;
    n.f = v;
    return put(std::move(n));
  }
  bool string(json::string_t& v) {
    Node n;
    n.type = Node::Type::String;
    n.s = std::move(v);
    return put(std::move(n));
  }
  bool binary(json::binary_t&) { return put(Node{}); }
  bool start_object(std::size_t) {
    Node n;
    n.type = Node::Type::Object;
    n.line = line();
    stack_.push_back(std::move(n));
    return true;
  }
  bool key(json::string_t& k) {
    keys_.push_back(std::move(k));
    return true;
  }
  bool end_object() { return finish(); }
  bool start_array(std::size_t) {
    Node n;
    n.type = Node::Type::Array;
    n.line = line();
    stack_.push_back(std::move(n));
    return true;
  }
  bool end_array() { return finish(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    // The library's message: "[json.exception.parse_error.101] parse error at line 3,
    // column 5: syntax error ..."; keep the part after the bracket.
    std::string what = ex.what();
    const std::size_t close = what.find("] ");
    if (close != std::string::npos) what = what.substr(close + 2);
    error_ = Failure{line(), what};
    return false;
  }

  Node root;
  std::optional<Failure> error_;

 private:
  // The line of the last character read before the one the lexer looked ahead at.
  int line() {
    const char* upto = *seen_ > begin_ ? *seen_ - 1 : begin_;
    while (counted_ < upto) {
      if (*counted_ == '\n') ++line_;
      ++counted_;
    }
    return line_;
  }
  bool put(Node n) {
    n.line = line();
    if (stack_.empty()) {
      root = std::move(n);
      return true;
    }
    Node& top = stack_.back();
    if (top.type == Node::Type::Object) {
      std::string k = std::move(keys_.back());
      keys_.pop_back();
      for (const auto& m : top.members) {
        if (m.first == k) {
          error_ = Failure{n.line, "duplicate key \"" + k + "\""};
          return false;
        }
      }
      top.members.push_back(Node::Member{std::move(k), std::move(n)});
    } else {
      top.items.push_back(std::move(n));
    }
    return true;
  }
  bool finish() {
    Node n = std::move(stack_.back());
    stack_.pop_back();
    const int start = n.line;
    if (!put(std::move(n))) return false;
    // put() gave the closing line; a container is reported at its opening line.
    Node& placed = stack_.empty() ? root
                   : stack_.back().type == Node::Type::Object ? stack_.back().members.back().second
                                                               : stack_.back().items.back();
    placed.line = start;
    return true;
  }

  const char* begin_;
  const char* counted_;
  const char** seen_;
  int line_ = 1;
  std::vector<Node> stack_;
  std::vector<std::string> keys_;
};

[[noreturn]] void fail(const Node& at, std::string what) { throw Failure{at.line, std::move(what)}; }

const char* type_word(Node::Type t) {
  switch (t) {
    case Node::Type::Null: return "null";
    case Node::Type::Bool: return "a boolean";
    case Node::Type::Int: return "an integer";
    case Node::Type::Float: return "a number";
    case Node::Type::String: return "a string";
    case Node::Type::Array: return "a list";
    case Node::Type::Object: return "an object";
  }
  return "?";
}

void expect(const Node& n, Node::Type t, std::string_view what) {
  if (n.type != t) fail(n, std::string(what) + " must be " + type_word(t) + ", not " + type_word(n.type));
}

// Every key of `n` must be one of `allowed`: a misspelt key is an error, not ignored.
void only_keys(const Node& n, std::initializer_list<std::string_view> allowed, std::string_view where) {
  for (const auto& [k, v] : n.members) {
    bool ok = false;
    for (std::string_view a : allowed) ok = ok || a == k;
    if (!ok) fail(v, "unknown key \"" + k + "\" in " + std::string(where));
  }
}

std::string get_string(const Node& obj, std::string_view key, bool required, std::string_view where) {
  const Node* v = obj.find(key);
  if (v == nullptr) {
    if (required) fail(obj, std::string(where) + " needs \"" + std::string(key) + "\"");
    return {};
  }
  expect(*v, Node::Type::String, "\"" + std::string(key) + "\"");
  if (required && v->s.empty()) fail(*v, "\"" + std::string(key) + "\" must not be empty");
  return v->s;
}

std::int64_t get_int(const Node& obj, std::string_view key, std::int64_t fallback, std::int64_t lo, std::int64_t hi) {
  const Node* v = obj.find(key);
  if (v == nullptr) return fallback;
  expect(*v, Node::Type::Int, "\"" + std::string(key) + "\"");
  if (!v->int_ok || v->i < lo || v->i > hi) {
    fail(*v, "\"" + std::string(key) + "\" must be between " + std::to_string(lo) + " and " + std::to_string(hi));
  }
  return v->i;
}

bool get_bool(const Node& obj, std::string_view key) {
  const Node* v = obj.find(key);
  if (v == nullptr) return false;
  expect(*v, Node::Type::Bool, "\"" + std::string(key) + "\"");
  return v->b;
}

struct ConversionName {
  const char* name;
  Conversion conversion;
};
constexpr ConversionName kConversions[] = {
    {"value", Conversion::Value},
    {"text", Conversion::Text},
    {"utf16", Conversion::Utf16},
    {"utf16_list", Conversion::Utf16List},
    {"hex", Conversion::Hex},
    {"hex64", Conversion::Hex64},
    {"guid", Conversion::Guid},
    {"ole_date", Conversion::OleDate},
    {"filetime", Conversion::FileTime},
    {"filetime_be", Conversion::FileTimeBE},
    {"datetime", Conversion::DateTime},
    {"unix_seconds", Conversion::UnixSeconds},
    {"duration_ms", Conversion::DurationMs},
    {"duration_s", Conversion::DurationS},
    {"duration_100ns", Conversion::Duration100ns},
    {"sid", Conversion::Sid},
    {"sid_name", Conversion::SidName},
    {"ip", Conversion::Ip},
    {"int", Conversion::Int},
    {"signed16", Conversion::Signed16},
    {"bits", Conversion::Bits},
    {"join", Conversion::Join},
    {"tree_path", Conversion::TreePath},
};

Conversion conversion_named(const Node& v) {
  expect(v, Node::Type::String, "a conversion");
  for (const ConversionName& c : kConversions) {
    if (v.s == c.name) return c.conversion;
  }
  std::string known;
  for (const ConversionName& c : kConversions) known += std::string(known.empty() ? "" : ", ") + c.name;
  fail(v, "unknown conversion \"" + v.s + "\" (known: " + known + ")");
}

// "YYYY-MM-DD" (or with "THH:MM:SS") as microseconds since 1970, UTC.
std::int64_t date_value(const Node& v) {
  expect(v, Node::Type::String, "a date");
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  const std::string& t = v.s;
  auto digits = [&](std::size_t at, std::size_t n, int& out) {
    if (at + n > t.size()) return false;
    out = 0;
    for (std::size_t k = at; k < at + n; ++k) {
      if (t[k] < '0' || t[k] > '9') return false;
      out = out * 10 + (t[k] - '0');
    }
    return true;
  };
  bool ok = digits(0, 4, y) && t.size() >= 10 && t[4] == '-' && digits(5, 2, mo) && t[7] == '-' && digits(8, 2, d);
  if (ok && t.size() > 10) {
    ok = t.size() == 19 && (t[10] == 'T' || t[10] == ' ') && digits(11, 2, h) && t[13] == ':' &&
         digits(14, 2, mi) && t[16] == ':' && digits(17, 2, s);
  }
  if (!ok || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) {
    fail(v, "\"" + t + "\" is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)");
  }
  const std::int64_t days = days_from_civil(y, mo, d);
  return ((days * kSecondsPerDay) + h * 3600 + mi * 60 + s) * 1000000LL;
}

JoinSpec join_spec(const Node& n) {
  expect(n, Node::Type::Object, "\"join\"");
  only_keys(n, {"table", "key", "value", "convert", "type_column", "convert_by_type", "expect_types", "null_text",
                "fallback"},
            "a join");
  JoinSpec j;
  j.table = get_string(n, "table", true, "a join");
  j.key = get_string(n, "key", true, "a join");
  j.value = get_string(n, "value", true, "a join");
  if (const Node* c = n.find("convert")) {
    j.convert = conversion_named(*c);
    if (j.convert == Conversion::Join || j.convert == Conversion::TreePath) fail(*c, "a join cannot convert by another join");
  }
  j.type_column = get_string(n, "type_column", false, "a join");
  if (const Node* m = n.find("convert_by_type")) {
    expect(*m, Node::Type::Object, "\"convert_by_type\"");
    if (j.type_column.empty()) fail(*m, "\"convert_by_type\" needs \"type_column\"");
    for (const auto& [k, v] : m->members) {
      char* end = nullptr;
      const long long type = std::strtoll(k.c_str(), &end, 10);
      if (k.empty() || *end != '\0') fail(v, "\"convert_by_type\" keys must be integers, not \"" + k + "\"");
      const Conversion c = conversion_named(v);
      if (c == Conversion::Join || c == Conversion::TreePath) fail(v, "a join cannot convert by another join");
      j.by_type[type] = c;
    }
  }
  if (const Node* e = n.find("expect_types")) {
    expect(*e, Node::Type::Array, "\"expect_types\"");
    if (j.type_column.empty()) fail(*e, "\"expect_types\" needs \"type_column\"");
    for (const Node& t : e->items) {
      expect(t, Node::Type::Int, "an entry of \"expect_types\"");
      j.expect_types.push_back(t.i);
    }
  }
  if (n.find("null_text") != nullptr) {
    j.null_text = get_string(n, "null_text", false, "a join");
    j.has_null_text = true;
  }
  j.fallback = get_string(n, "fallback", false, "a join");
  return j;
}

TreeSpec tree_spec(const Node& n) {
  expect(n, Node::Type::Object, "\"tree\"");
  only_keys(n, {"table", "key", "scope", "leaf", "tree_table", "tree_id", "tree_parent", "tree_name", "drop_bracketed"},
            "a tree");
  TreeSpec t;
  t.table = get_string(n, "table", true, "a tree");
  t.key = get_string(n, "key", true, "a tree");
  t.scope = get_string(n, "scope", true, "a tree");
  t.leaf = get_string(n, "leaf", false, "a tree");
  t.tree_table = get_string(n, "tree_table", true, "a tree");
  t.tree_id = get_string(n, "tree_id", true, "a tree");
  t.tree_parent = get_string(n, "tree_parent", true, "a tree");
  t.tree_name = get_string(n, "tree_name", true, "a tree");
  t.drop_bracketed = get_bool(n, "drop_bracketed");
  return t;
}

class ProfileBuilder {
 public:
  Profile build(const Node& root) {
    expect(root, Node::Type::Object, "a profile");
    only_keys(root, {"profile", "description", "recognize", "lookups", "column_sets", "views"}, "the profile");
    profile_.name = get_string(root, "profile", true, "a profile");
    profile_.description = get_string(root, "description", false, "a profile");
    recognize(root);
    if (const Node* l = root.find("lookups")) lookups(*l);
    if (const Node* s = root.find("column_sets")) {
      expect(*s, Node::Type::Object, "\"column_sets\"");
      sets_ = s;
      for (const auto& [k, v] : s->members) expect(v, Node::Type::Array, "column set \"" + k + "\"");
    }
    const Node* views = root.find("views");
    if (views == nullptr) fail(root, "a profile needs \"views\"");
    expect(*views, Node::Type::Array, "\"views\"");
    for (const Node& v : views->items) view(v);
    return std::move(profile_);
  }

 private:
  void recognize(const Node& root) {
    const Node* r = root.find("recognize");
    if (r == nullptr) fail(root, "a profile needs \"recognize\" (lists of table names)");
    expect(*r, Node::Type::Array, "\"recognize\"");
    if (r->items.empty()) fail(*r, "\"recognize\" must not be empty");
    for (const Node& alt : r->items) {
      expect(alt, Node::Type::Array, "each entry of \"recognize\" (a list of table names)");
      if (alt.items.empty()) fail(alt, "a list of table names must not be empty");
      std::vector<std::string> tables;
      for (const Node& t : alt.items) {
        expect(t, Node::Type::String, "a table name");
        tables.push_back(t.s);
      }
      profile_.recognize.push_back(std::move(tables));
    }
  }

  void lookups(const Node& l) {
    expect(l, Node::Type::Object, "\"lookups\"");
    for (const auto& [name, table] : l.members) {
      expect(table, Node::Type::Object, "lookup \"" + name + "\"");
      auto& out = profile_.lookups[name];
      for (const auto& [k, v] : table.members) {
        expect(v, Node::Type::String, "an entry of lookup \"" + name + "\"");
        out[k] = v.s;
      }
    }
  }

  void check_lookup(const Node& at, const std::string& name) {
    if (!name.empty() && profile_.lookups.find(name) == profile_.lookups.end()) {
      fail(at, "no lookup named \"" + name + "\"");
    }
  }

  void columns(const Node& list, ViewSpec& v, int depth) {
    for (const Node& c : list.items) {
      if (c.type == Node::Type::String) {
        ColumnSpec def;
        def.name = def.from = c.s;
        def.line = c.line;
        add_column(c, v, std::move(def));
        continue;
      }
      expect(c, Node::Type::Object, "a column (a name or an object)");
      if (const Node* use = c.find("use")) {
        only_keys(c, {"use"}, "a column set reference");
        expect(*use, Node::Type::String, "\"use\"");
        const Node* set = sets_ != nullptr ? sets_->find(use->s) : nullptr;
        if (set == nullptr) fail(*use, "no column set named \"" + use->s + "\"");
        if (depth > 8) fail(*use, "column sets nest too deep");
        columns(*set, v, depth + 1);
        continue;
      }
      add_column(c, v, column(c));
    }
  }

  void add_column(const Node& at, ViewSpec& v, ColumnSpec def) {
    for (const ColumnSpec& o : v.columns) {
      if (o.name == def.name || (o.raw && o.name + "_raw" == def.name) || (def.raw && def.name + "_raw" == o.name)) {
        fail(at, "view \"" + v.name + "\" has two columns named \"" + def.name + "\"");
      }
    }
    v.columns.push_back(std::move(def));
  }

  ColumnSpec column(const Node& c) {
    only_keys(c, {"name", "from", "convert", "shift", "bits", "lookup", "range", "raw", "join", "tree", "note",
                  "local"},
              "a column");
    ColumnSpec s;
    s.line = c.line;
    s.from = get_string(c, "from", false, "a column");
    s.name = get_string(c, "name", false, "a column");
    if (s.name.empty()) s.name = s.from;
    if (s.name.empty()) fail(c, "a column needs \"name\" or \"from\"");
    if (const Node* conv = c.find("convert")) s.convert = conversion_named(*conv);
    s.note = get_string(c, "note", false, "a column");
    if (s.convert == Conversion::Bits) {
      s.shift = static_cast<int>(get_int(c, "shift", 0, 0, 63));
      const std::int64_t bits = get_int(c, "bits", 64 - s.shift, 1, 64);
      s.mask = bits >= 64 ? ~0ULL : ((1ULL << bits) - 1);
    } else if (c.find("shift") != nullptr || c.find("bits") != nullptr) {
      fail(c, "\"shift\" and \"bits\" belong to the \"bits\" conversion");
    }
    s.lookup = get_string(c, "lookup", false, "a column");
    if (const Node* l = c.find("lookup")) check_lookup(*l, s.lookup);
    if (const Node* r = c.find("range")) {
      expect(*r, Node::Type::Array, "\"range\"");
      if (r->items.size() != 2) fail(*r, "\"range\" must be [first date, last date]");
      s.has_range = true;
      s.range_min = date_value(r->items[0]);
      s.range_max = date_value(r->items[1]);
      if (s.range_min > s.range_max) fail(*r, "\"range\" ends before it starts");
    }
    s.raw = get_bool(c, "raw");
    s.local = get_bool(c, "local");
    const Node* j = c.find("join");
    if ((s.convert == Conversion::Join) != (j != nullptr)) fail(c, "\"join\" goes with \"convert\": \"join\"");
    if (j != nullptr) {
      s.join = join_spec(*j);
      check_lookup(*j, s.join.fallback);
    }
    const Node* t = c.find("tree");
    if ((s.convert == Conversion::TreePath) != (t != nullptr)) {
      fail(c, "\"tree\" goes with \"convert\": \"tree_path\"");
    }
    if (t != nullptr) s.tree = tree_spec(*t);
    if (s.from.empty()) s.from = s.name;  // a column shown under its own name
    return s;
  }

  // "events": {"Column": "what happened then"} and "message": "{Column} ...".
  static void timeline_keys(const Node& n, ViewSpec& v) {
    if (const Node* e = n.find("events")) {
      expect(*e, Node::Type::Object, "\"events\"");
      v.has_events = true;
      for (const auto& [column, what] : e->members) {
        expect(what, Node::Type::String, "an event's description");
        if (what.s.empty()) fail(what, "the event of \"" + column + "\" has no description");
        v.events.emplace_back(column, what.s);
      }
    }
    v.message = get_string(n, "message", false, "a view");
    // Braces pair up: "{" opens a column name that "}" closes, and names are not empty.
    bool open = false;
    std::size_t name_start = 0;
    for (std::size_t k = 0; k < v.message.size(); ++k) {
      const char c = v.message[k];
      if (c == '{') {
        if (open) fail(*n.find("message"), "\"message\": \"{\" inside a column name");
        open = true;
        name_start = k + 1;
      } else if (c == '}') {
        if (!open || k == name_start) fail(*n.find("message"), "\"message\": \"}\" without a column name before it");
        open = false;
      }
    }
    if (open) fail(*n.find("message"), "\"message\": \"{\" without \"}\"");
  }

  void view(const Node& n) {
    expect(n, Node::Type::Object, "a view");
    only_keys(n, {"name", "table", "description", "columns", "unpivot", "other_columns", "events", "message"},
              "a view");
    ViewSpec v;
    v.line = n.line;
    v.name = get_string(n, "name", true, "a view");
    v.table = get_string(n, "table", true, "a view");
    v.description = get_string(n, "description", false, "a view");
    for (const ViewSpec& o : profile_.views) {
      if (o.name == v.name) fail(n, "two views named \"" + v.name + "\"");
    }
    if (const Node* c = n.find("columns")) {
      expect(*c, Node::Type::Array, "\"columns\"");
      columns(*c, v, 0);
    }
    if (const Node* o = n.find("other_columns")) {
      expect(*o, Node::Type::String, "\"other_columns\"");
      if (o->s != "keep" && o->s != "property") fail(*o, "\"other_columns\" is \"keep\" or \"property\"");
      v.other_columns = true;
      v.other_rename = o->s == "property" ? "property" : "";
    }
    if (const Node* u = n.find("unpivot")) {
      expect(*u, Node::Type::Object, "\"unpivot\"");
      only_keys(*u, {"prefix", "first", "last", "year_from", "year_convert", "range", "date_column", "count_column"},
                "\"unpivot\"");
      v.unpivot.active = true;
      v.unpivot.prefix = get_string(*u, "prefix", true, "\"unpivot\"");
      v.unpivot.first = static_cast<int>(get_int(*u, "first", 1, 0, 100000));
      v.unpivot.last = static_cast<int>(get_int(*u, "last", 366, v.unpivot.first, 100000));
      v.unpivot.year_from = get_string(*u, "year_from", true, "\"unpivot\"");
      if (const Node* yc = u->find("year_convert")) v.unpivot.year_convert = conversion_named(*yc);
      if (const Node* r = u->find("range")) {
        expect(*r, Node::Type::Array, "\"range\"");
        if (r->items.size() != 2) fail(*r, "\"range\" must be [first date, last date]");
        v.unpivot.has_range = true;
        v.unpivot.range_min = date_value(r->items[0]);
        v.unpivot.range_max = date_value(r->items[1]);
      }
      const std::string dc = get_string(*u, "date_column", false, "\"unpivot\"");
      const std::string cc = get_string(*u, "count_column", false, "\"unpivot\"");
      if (!dc.empty()) v.unpivot.date_column = dc;
      if (!cc.empty()) v.unpivot.count_column = cc;
    }
    timeline_keys(n, v);
    if (v.columns.empty() && !v.other_columns && !v.unpivot.active) fail(n, "view \"" + v.name + "\" has no columns");
    profile_.views.push_back(std::move(v));
  }

  Profile profile_;
  const Node* sets_ = nullptr;
};

}  // namespace

Result<Profile> parse_profile(std::string_view text, const std::string& file_name) {
  const char* seen = text.data();
  CountingIterator first{text.data(), &seen};
  CountingIterator last{text.data() + text.size(), &seen};
  TreeBuilder tree(text.data(), &seen);
  auto where = [&](int line, const std::string& what) {
    return EseError::parse("profile " + file_name + ", line " + std::to_string(line) + ": " + what);
  };
  try {
    const bool parsed = nlohmann::json::sax_parse(first, last, &tree, nlohmann::json::input_format_t::json,
                                                  /*strict=*/true, /*ignore_comments=*/true);
    if (!parsed || tree.error_) {
      const Failure f = tree.error_.value_or(Failure{1, "not a JSON document"});
      return where(f.line, f.what);
    }
    Profile p = ProfileBuilder().build(tree.root);
    p.source = file_name;
    return p;
  } catch (const Failure& f) {
    return where(f.line, f.what);
  } catch (const nlohmann::json::exception& e) {
    return where(1, e.what());
  }
}

Result<Profile> load_profile_file(const std::string& path) {
  // Mapped, as database files are: no stream library, the same calls on every system.
  platform::ReadOnlyMapping mapping;
  if (Status st = platform::map_file_read_only(path, mapping); !st) {
    // The system's description alone (an oversized file: the fixed message).
    return EseError::io_fixed("Cannot read profile " + path + ": " + st.error().text());
  }
  const char* text = reinterpret_cast<const char*>(mapping.data());
  return parse_profile(std::string_view(text == nullptr ? "" : text, mapping.size()), path);
}

}  // namespace quarrow::profiles
