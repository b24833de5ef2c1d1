// The redo engine behind replay_logs: the state a replay keeps while it walks the log
// (page overlay, sessions with their transaction levels and version entries, macros
// held until their commit) and the redo of each record type. Internal to src/replay.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "database/catalog.h"
#include "log/record_fields.h"
#include "replay/page_edit.h"
#include "replay/replay.h"

namespace quarrow::replay {

// A record kept past the reader's next step (macros, split operations), or one applied
// at once, which only borrows the reader's bytes for the call.
struct HeldRecord {
  logs::LogPosition position;
  std::uint8_t type = 0;
  std::vector<std::uint8_t> bytes;
  Bytes borrowed;
  Bytes view() const { return bytes.empty() ? borrowed : Bytes(bytes.data(), bytes.size()); }
};

// The part every page-level record starts with (kPagePartSize bytes): the page, its
// dbtimes after and before the change, which the page rule compares, and the line it
// names. Records of a type of their own derive from it.
struct PagePart {
  std::uint32_t page = 0;
  std::uint64_t after = 0;
  std::uint64_t before = 0;
  std::uint16_t iline = 0;
};
// Reads the page part; `b` holds at least kPagePartSize bytes.
PagePart page_part(Bytes b);
// The page a record names, or 0 when it is too short to name one (for errors).
std::uint32_t named_page(Bytes b);

// What an uncommitted operation needs for its undo: the tree, the node's bookmark and,
// for a replace, the data before it (a version entry of the engine's version store).
struct VersionEntry {
  std::uint8_t level = 0;
  std::uint32_t rceid = 0;
  std::uint32_t objid = 0;
  std::uint32_t root = 0;
  std::uint16_t operation = 0;  // the UndoInfo/Undo operation codes
  bool unique = true;
  bool known = false;  // the bookmark (and before-image) is known
  std::string key;
  std::string bookmark_data;  // non-unique trees: the data completes the bookmark
  std::string before;         // replace: the data before
  std::int64_t delta = 0;
  std::uint16_t delta_offset = 0;
  bool delta64 = false;
};

struct Session {
  std::uint32_t level = 0;
  std::vector<VersionEntry> versions;
  bool in_macro = false;
  std::uint64_t macro_dbtime = 0;
  std::vector<HeldRecord> macro;
};

class Engine {
 public:
  Engine(const Database& db, const ReplayOptions& options, ReplayReport& report, std::shared_ptr<PageOverlay> overlay);

  // One record of this database after the start position, in log order.
  Status feed(const logs::LogRecord& r, const logs::RecordSummary& s);
  // The database grew (ExtendDB): pages up to `last_page` may be named.
  void extend(std::uint32_t last_page);
  // The end of the logs: open macros are dropped, open transactions undone.
  Status finish();

  std::uint64_t highest_dbtime() const { return highest_dbtime_; }
  std::uint32_t extended_pages() const { return extended_pages_; }
  // Names of tables learnt from catalog rows the logs inserted.
  const CatalogBuilder& learnt_catalog() const { return learnt_; }
  const std::map<std::uint32_t, TableChanges>& changes() const { return changes_; }
  const std::set<std::uint32_t>& created_pages() const { return created_; }

 private:
  // The page rule. `before` may be dbtimeInvalid/Nil (a page the record creates).
  enum class Rule : std::uint8_t { Apply, Skip };
  Result<Rule> check(std::uint32_t page, std::uint64_t after, std::uint64_t before, bool creates = false);
  Result<PageEditor> edit(std::uint32_t page);
  std::uint64_t page_dbtime(std::uint32_t page) const;
  Status limit_page(std::uint32_t page) const;
  void touch(std::uint32_t page, std::uint64_t dbtime);
  EseError error_at(std::uint32_t page, const std::string& what) const;
  Status fail_at(std::uint32_t page, const EseError& e) const;

  Status apply(const HeldRecord& r);
  Status apply_node(const HeldRecord& r);
  Status apply_new_page(const HeldRecord& r);
  Status apply_single_extent_root(const HeldRecord& r);
  Status apply_multiple_extent_root(const HeldRecord& r);
  Status apply_convert(const HeldRecord& r);
  Status apply_empty_tree(const HeldRecord& r);
  Status apply_undo(const HeldRecord& r, PageEditor& page);
  Status apply_macro(Session& s);
  Status apply_split(const std::vector<HeldRecord>& records, std::size_t at, std::vector<bool>& consumed);
  Status apply_merge(const std::vector<HeldRecord>& records, std::size_t at, std::vector<bool>& consumed);
  Status apply_page_move(const HeldRecord& r);
  Status insert_extent(PageEditor& page, std::uint32_t last, std::uint32_t count);
  Status new_space_root(std::uint32_t page, std::uint64_t dbtime, std::uint32_t objid, std::uint32_t flags);

  void remember(Session& s, VersionEntry v);
  void count_change(std::uint32_t objid, std::uint8_t type, std::uint8_t flags);
  void notify(const HeldRecord& r, std::uint32_t objid, std::uint32_t page, const std::string& key,
              const std::string& before, const std::string& after, bool undo_at_end = false);
  Status undo_entry(const VersionEntry& v);
  Result<std::pair<std::uint32_t, std::uint16_t>> find_node(std::uint32_t root, const std::string& key,
                                                            const std::string& data, bool unique);

  const Database& db_;
  const ReplayOptions& options_;
  ReplayReport& report_;
  std::shared_ptr<PageOverlay> overlay_;
  std::uint32_t page_size_ = 0;
  std::uint32_t page_limit_ = 0;  // the last page a record may name: the file's, or as ExtendDB grows it
  std::uint32_t extended_pages_ = 0;
  std::uint64_t highest_dbtime_ = 0;
  logs::LogPosition position_;
  std::map<std::uint16_t, Session> sessions_;
  std::size_t held_bytes_ = 0;
  // Pages a NewPage prepared and no tree has used yet.
  std::set<std::uint32_t> pre_initialised_;
  std::set<std::uint32_t> created_;
  // The dbtime the replay last gave each page it wrote.
  std::unordered_map<std::uint32_t, std::uint64_t> written_at_;
  // Inside a macro's commit: the page rule's decision per page, taken once.
  bool in_macro_ = false;
  std::map<std::uint32_t, Rule> macro_rule_;
  bool record_applied_ = false;
  std::map<std::uint32_t, TableChanges> changes_;
  CatalogBuilder learnt_;
};

// A page image a split or merge logged (plain or compressed), as one page; `what`
// names the operation in errors.
Result<std::vector<std::uint8_t>> logged_page_image(Bytes image, std::uint32_t flags, std::uint32_t page_size,
                                                    const std::string& what);

}  // namespace quarrow::replay
