// What a record says: the fields every page-level record shares (session, database,
// page, dbtimes, transaction, tree), and each type's own fields by name. Types whose
// layout was never seen in a real log are decoded as the engine's source lays them out
// and keep their bytes as well, so nothing is lost if that reading is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/log_time.h"
#include "log/log_file.h"
#include "log/log_types.h"

namespace quarrow::logs {

struct RecordSummary {
  std::optional<std::uint16_t> procid;  // the session, for records of one
  std::optional<std::uint8_t> dbid;     // the database, for records of one
  bool page_record = false;             // the page part below is set
  bool node_record = false;             // the node part below is set
  std::uint32_t page = 0;
  std::uint64_t dbtime_after = 0;
  std::uint64_t dbtime_before = 0;
  std::uint32_t trx = 0;
  std::uint8_t level = 0;
  std::uint16_t iline = 0;
  std::uint8_t flags = 0;
  std::uint32_t rceid = 0;
  std::uint32_t root_page = 0;
  std::optional<std::uint32_t> objid;
};

RecordSummary summarize(const LogRecord& r);

struct LogField {
  enum class Kind : std::uint8_t { Unsigned, Signed, Bytes, Text, Position, Time, Signature };
  const char* name = "";
  Kind kind = Kind::Unsigned;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  Bytes bytes;  // Bytes and Signature: a view into the record
  std::string text;
  LogPosition position;
  LogTime time;
};

// The type's own fields (the shared ones of RecordSummary are not repeated), in the
// record's order. `out` is cleared first; its views point into r.bytes.
void decode_fields(const LogRecord& r, std::vector<LogField>& out);

// For node records: the key and the data (Insert: prefix and suffix joined; see
// node_key). Empty when the type has none.
struct NodeParts {
  Bytes key_prefix;
  Bytes key_suffix;
  Bytes data;
  std::uint16_t operation = 0;  // UndoInfo/Undo
};
NodeParts node_parts(const LogRecord& r);

}  // namespace quarrow::logs
