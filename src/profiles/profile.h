// Profiles: what the tables of a known kind of database mean, read from a data file.
//
// A profile names a kind of database ("srum", "ual", ...), says which catalog tables
// identify it, and defines views: named, friendly readings of one table each, whose
// columns take a stored column through a conversion (a FILETIME column becomes a
// timestamp, a SID blob its text, an id the text it stands for in another table).
// The file format is documented in profiles/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "error/ese_error.h"

namespace quarrow::profiles {

// The conversions a view column can name. Each is written once here and shared by
// every profile; a value a conversion cannot read becomes null and is counted.
enum class Conversion : std::uint8_t {
  Value,         // the stored value, typed by its column (GUIDs as text)
  Text,          // text with trailing U+0000 removed
  Utf16,         // UTF-16LE bytes to text, trailing U+0000 removed
  Utf16List,     // UTF-16LE strings separated by U+0000, joined by "; "
  Hex,           // integers as 0x + 16 hex digits, bytes as hex
  Hex64,         // an integer or 8 little-endian bytes as 16 hex digits
  Guid,          // 16 bytes in the Microsoft order as GUID text
  OleDate,       // 8-byte OLE Automation date
  FileTime,      // FILETIME: 64-bit integer, DateTime pattern or 8 little-endian bytes; 0 = null
  FileTimeBE,    // FILETIME stored as 8 big-endian bytes; 0 = null
  DateTime,      // the pattern tells OLE date from FILETIME (record/filetime.h)
  UnixSeconds,   // seconds since 1970
  DurationMs,    // a count of milliseconds
  DurationS,     // a count of seconds
  Duration100ns, // a count of 100-ns units (integer or 8 little-endian bytes)
  Sid,           // binary SID to its S-R-A-S1-... text
  SidName,       // well-known name of a SID (binary or text); null for others
  Ip,            // 4 or 16 bytes to IPv4/IPv6 text; text addresses lose trailing NULs
  Int,           // integer (8 little-endian bytes for binary columns)
  Signed16,      // a 16-bit value read as signed
  Bits,          // (value >> shift) & mask
  Join,          // the matching row of another table (JoinSpec)
  TreePath,      // a path assembled from a parent/child table (TreeSpec)
};

// The value types of a view's columns.
enum class OutType : std::uint8_t { Bool, Int64, UInt64, Float64, Text, Binary, Timestamp, Duration };

const char* out_type_name(OutType t);

// Look a value up in another table: the row whose `key` column equals the source
// value gives `value`, converted by `by_type[row's type_column]` (or `convert`).
struct JoinSpec {
  std::string table;
  std::string key;
  std::string value;
  Conversion convert = Conversion::Value;
  std::string type_column;                   // optional
  std::map<std::int64_t, Conversion> by_type;  // type -> conversion
  std::vector<std::int64_t> expect_types;    // a row of another type is no match (counted)
  std::string null_text;                     // text for a matching row whose value is null
  bool has_null_text = false;
  std::string fallback;                      // lookup table for keys the table lacks
};

// A path from a tree table: the `table` row whose `key` equals the source value names a
// node (`scope`) and a leaf name (`leaf`, optional); the path is the names of `tree_table` from
// the root down to that node (`tree_id`, `tree_parent`, `tree_name`) followed by the
// leaf. Nodes named "[...]/" are left out when drop_bracketed is set.
struct TreeSpec {
  std::string table, key, scope, leaf;
  std::string tree_table, tree_id, tree_parent, tree_name;
  bool drop_bracketed = false;
};

struct ColumnSpec {
  std::string name;
  std::string from;  // stored column
  Conversion convert = Conversion::Value;
  int shift = 0;
  std::uint64_t mask = ~0ULL;
  std::string lookup;  // a lookup table applied to the converted value
  bool has_range = false;
  std::int64_t range_min = 0, range_max = 0;  // microseconds since 1970, inclusive
  bool raw = false;                           // add <name>_raw with the stored value
  JoinSpec join;
  TreeSpec tree;
  std::string note;
  // A time the application stored in the user's local time (its offset unknown): shown
  // without a zone rather than as UTC.
  bool local = false;
  int line = 0;
};

// Day-of-year columns (prefix + 1 ... prefix + last) turned into one row per non-null
// day: `date_column` = 1 January of the year of `year_from` + N - 1, `count_column` =
// the value; the view's own columns are repeated on each row.
struct UnpivotSpec {
  bool active = false;
  std::string prefix;
  int first = 1, last = 366;
  std::string year_from;
  Conversion year_convert = Conversion::FileTime;
  bool has_range = false;  // a year_from date outside [range_min, range_max] gives no year
  std::int64_t range_min = 0, range_max = 0;
  std::string date_column = "Date", count_column = "Count";
};

struct ViewSpec {
  std::string name;
  std::string table;
  std::string description;
  std::vector<ColumnSpec> columns;
  UnpivotSpec unpivot;
  // Every stored column not named by `columns`, renamed by the rule ("property":
  // "4447-System_ItemPathDisplay" -> "System.ItemPathDisplay"; "" keeps names).
  bool other_columns = false;
  std::string other_rename;
  // The timeline: the event each time column dates (column -> what happened then, in
  // file order). Without `has_events`, every timestamp column dates an event named after
  // the view and column; an empty list gives the view no events.
  std::vector<std::pair<std::string, std::string>> events;
  bool has_events = false;
  // A timeline event's message: the text with each "{Column}" replaced by the row's value.
  std::string message;
  int line = 0;
};

struct Profile {
  std::string name;
  std::string description;
  std::string source;  // the file it came from ("<built-in>/srum.json")
  std::vector<std::vector<std::string>> recognize;  // any alternative whose tables all exist
  std::map<std::string, std::map<std::string, std::string>> lookups;
  std::vector<ViewSpec> views;
};

// Parses one profile file's text. Errors name the file, the line and what is wrong.
Result<Profile> parse_profile(std::string_view text, const std::string& file_name);

// Reads and parses a profile file.
Result<Profile> load_profile_file(const std::string& path);

// The profiles shipped with quarrow, parsed once.
const std::vector<Profile>& builtin_profiles();
// The same profiles, each shared: a database that one of them recognises holds it
// without a copy of its own.
const std::vector<std::shared_ptr<const Profile>>& shared_builtin_profiles();

// The built-in profiles with `extra` added; an extra profile of a built-in's name
// replaces it. Extra profiles are tried first.
std::vector<Profile> merge_profiles(const std::vector<Profile>& extra);

}  // namespace quarrow::profiles
