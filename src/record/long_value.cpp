#include "record/long_value.h"

#include <algorithm>
#include <mutex>

#include "database/traversal.h"
#include "page/leaf.h"
#include "format/long_value.h"
#include "record/compression.h"
#include "record/text.h"

namespace quarrow {
namespace {

struct LongValueId {
  std::uint64_t id = 0;
  std::size_t width = 4;  // bytes of the id at the start of every key
};

LongValueId read_lid(const Database& db, Bytes reference) {
  if (db.format_revision() >= kRevisionLid64 && reference.size() == kLid64Size) {
    const std::uint64_t v = load_u64le(reference, 0);
    if (v >> kLid64FlagBit) return LongValueId{v, kLid64Size};
  }
  return LongValueId{load_u32le(reference, 0), kLid32Size};
}

struct Chunk {
  std::uint32_t offset;
  Bytes data;
  std::string owned;  // when the entry's bytes had to be copied out of the page
  Bytes bytes() const { return owned.empty() ? data : as_bytes(owned); }
};

// Scan result for one id: the chunks found and the total size from the root entry.
struct Gathered {
  bool entered = false;  // false: the tree could not be entered; the reference stays
  bool over_budget = false;  // the chunks found exceed the budget; the reference stays
  std::uint32_t unloadable = 0;  // a chain page that did not load (0: none)
  std::vector<Chunk> chunks;
  std::optional<std::uint32_t> total_size;
};

std::uint64_t key_id(const std::string& key, std::size_t width) {
  Bytes k = as_bytes(key);
  return width == kLid64Size ? load_u64be(k, 0) : load_u32be(k, 0);
}

// Visits the entries of a long-value leaf page (tags 1 and up) with their full keys:
// the first min(common key size, prefix length) bytes of the page's key prefix (tag 0,
// read as stored: its bytes are key data) followed by the entry's local key. Tags and
// entries that do not decode are passed over. `visit` returns false to stop.
template <class Visit>
bool for_each_entry(const PageView& page, std::string& scratch, std::string& key, Visit&& visit) {
  Bytes prefix;
  if (page.tag_count > 0) {
    Result<PageTag> t0 = read_tag(page, 0);
    if (t0) prefix = t0->value;
  }
  for (std::uint16_t i = 1; i < readable_tag_count(page); ++i) {
    PageTag tag;
    if (!read_entry_tag(page, i, scratch, tag)) continue;
    Result<LeafEntryView> entry = parse_leaf_entry_view(tag.flags, tag.value);
    if (!entry) continue;
    key.clear();
    if (entry->common_key_size) {
      const std::size_t common = std::min<std::size_t>(*entry->common_key_size, prefix.size());
      key.append(reinterpret_cast<const char*>(prefix.data()), common);
    }
    key.append(reinterpret_cast<const char*>(entry->key.data()), entry->key.size());
    const bool copied = tag.value.data() == reinterpret_cast<const std::uint8_t*>(scratch.data());
    if (!visit(*entry, copied)) return false;
  }
  return true;
}

}  // namespace

// The leaf pages of a long-value tree as every lookup walks them: the tree's own leaves
// in key order (see TreeLeafWalk). For each page it keeps the largest 4-byte and 8-byte id among its keys, and the
// running maximum over the pages so far. A lookup for id L may start at the first page
// whose running maximum reaches L: every key before it is smaller than L, and the scan
// over smaller keys has no effect. This keeps each lookup to the pages holding L
// instead of rescanning the tree from its leftmost leaf for every reference.
struct LongValueChain {
  // Page numbers, not views: a view per page of a multi-gigabyte tree would grow with
  // the file; a page is loaded again (a header decode) when a lookup reaches it.
  struct Page {
    std::uint32_t number = 0;
    std::uint64_t running_max[2] = {0, 0};  // [0]: 4-byte ids, [1]: 8-byte ids
    bool any[2] = {false, false};
  };
  std::uint32_t root = 0;
  bool entered = false;  // false: the tree cannot be entered and references stay
  // What the walk met that may hide a value: a page named twice (the tree leads back
  // to itself), and the first page named that did not load.
  bool cycle = false;
  std::uint32_t unloadable = 0;
  std::vector<Page> pages;

  // Index of the first page whose keys can hold `lid`.
  std::size_t first_page_for(std::uint64_t lid, std::size_t width) const {
    const int w = width == kLid64Size ? 1 : 0;
    auto it = std::partition_point(pages.begin(), pages.end(),
                                   [&](const Page& p) { return !(p.any[w] && p.running_max[w] >= lid); });
    return static_cast<std::size_t>(it - pages.begin());
  }
};

namespace {

std::shared_ptr<const LongValueChain> find_chain(const Database& db, const LongValueInfo& tree) {
  auto chain = std::make_shared<LongValueChain>();
  chain->root = tree.root_page;
  // A root that does not load leaves references in place.
  if (!db.load_page(tree.root_page)) return chain;
  chain->entered = true;

  // The tree's own leaves in key order (pages of other trees, pages met twice and pages
  // that do not load are passed over), then leaves that only a link reaches.
  TreeLeafWalk walk(db, tree.root_page, tree.object_id, OnFailure::PassOver);
  std::string scratch;
  std::string key;
  LongValueChain::Page running;
  while (walk.advance() == TreeLeafWalk::Step::Page) {
    const PageView& page = walk.page();
    for_each_entry(page, scratch, key, [&](const LeafEntryView&, bool) {
      for (int w = 0; w < 2; ++w) {
        const std::size_t width = w == 0 ? kLid32Size : kLid64Size;
        if (key.size() < width) continue;
        const std::uint64_t id = key_id(key, width);
        if (!running.any[w] || id > running.running_max[w]) running.running_max[w] = id;
        running.any[w] = true;
      }
      return true;
    });
    running.number = walk.page_number();
    chain->pages.push_back(running);
  }
  chain->cycle = walk.revisits() != 0;
  chain->unloadable = walk.first_unloadable();
  return chain;
}

// The chain of a long-value tree is worked out once while the file is open: every
// reading of the table, and the threads that read its stretches side by side, share
// it (each would otherwise walk the whole tree again before its first lookup).
class SharedChain {
 public:
  std::shared_ptr<const LongValueChain> get(const Database& db, const LongValueInfo& tree) {
    std::lock_guard lock(mutex_);
    if (!chain_) chain_ = find_chain(db, tree);
    return chain_;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const LongValueChain> chain_;
};

// Keyed by the long-value tree's root page.
constexpr CacheKind<SharedChain> kSharedChains;

std::shared_ptr<const LongValueChain> chain_for(const Database& db, const LongValueInfo& tree) {
  return cached(db.cache(), kSharedChains, tree.root_page).get(db, tree);
}

// `limit`: the most chunk bytes the value may gather before it is given up.
Gathered gather(const Database& db, const LongValueChain& chain, const LongValueId& lid, std::uint64_t limit,
                std::uint64_t& scanned) {
  Gathered g;
  if (!chain.entered) return g;
  g.entered = true;
  std::string scratch;
  std::string key;
  std::uint64_t gathered = 0;
  bool done = false;
  for (std::size_t p = chain.first_page_for(lid.id, lid.width); p < chain.pages.size() && !done; ++p) {
    Result<PageView> page = db.load_page(chain.pages[p].number);
    if (!page) {
      g.unloadable = chain.pages[p].number;
      break;
    }
    // Lookups over a large tree would otherwise keep every page they read resident.
    scanned += page->data.size();
    if (scanned >= kChainReleaseBytes) {
      db.release_resident_pages();
      scanned = 0;
    }
    for_each_entry(*page, scratch, key, [&](const LeafEntryView& entry, bool copied) {
      if (key.size() < lid.width) return true;
      const std::uint64_t id = key_id(key, lid.width);
      if (id < lid.id) return true;
      if (id > lid.id) {
        done = true;
        return false;
      }
      if (key.size() >= lid.width + kChunkOffsetSize) {
        gathered += entry.data.size();
        if (gathered > limit) {
          g.over_budget = true;
          done = true;
          return false;
        }
        Chunk chunk{load_u32be(as_bytes(key), lid.width), entry.data, {}};
        if (copied) {
          chunk.owned = to_string(entry.data);
          if (chunk.owned.empty()) chunk.data = Bytes();
        }
        g.chunks.push_back(std::move(chunk));
      } else if (entry.data.size() >= kLongValueRootSize) {
        g.total_size = load_u32le(entry.data, kLongValueRootSizeOffset);
      }
      return true;
    });
  }
  return g;
}

// A chunk shorter than the span its offset implies, starting with a compression
// scheme byte, was stored compressed by the engine. False when the expanded chunks
// would exceed `limit` bytes in all.
bool expand_compressed_chunks(Gathered& g, std::uint64_t limit) {
  std::uint64_t total = 0;
  for (const Chunk& c : g.chunks) total += c.bytes().size();
  for (std::size_t i = 0; i < g.chunks.size(); ++i) {
    Chunk& c = g.chunks[i];
    std::uint64_t span = 0;
    if (i + 1 < g.chunks.size()) {
      if (g.chunks[i + 1].offset <= c.offset) continue;
      span = g.chunks[i + 1].offset - c.offset;
    } else {
      if (!g.total_size || *g.total_size <= c.offset) continue;
      span = *g.total_size - c.offset;
    }
    Bytes stored = c.bytes();
    if (stored.empty() || stored.size() >= span) continue;
    const std::uint8_t scheme = compression_scheme(stored[kCompressSchemeOffset]);
    if (scheme != kCompress7BitAscii && scheme != kCompress7BitUnicode && scheme != kCompressXpress &&
        scheme != kCompressLz4) {
      continue;
    }
    std::optional<std::string> plain = decompress(stored, /*allow_legacy=*/false);
    if (plain && plain->size() == span) {
      total += plain->size() - stored.size();
      if (total > limit) return false;
      c.owned = std::move(*plain);
    }
  }
  return true;
}

void set_resolved(Field& field, std::string bytes) {
  if (is_text_type(field.column_type)) {
    std::string text;
    if (decode_text_into(as_bytes(bytes), field.codepage.value_or(kDefaultCodepage), text)) {
      field.value = Value::of_bytes(Value::Kind::Text, std::move(text));
      return;
    }
  }
  field.value = Value::of_bytes(Value::Kind::Binary, std::move(bytes));
}

// Why a lookup gave no value, kept apart so that each reader can apply its own policy
// and still say what happened.
enum class Lookup : std::uint8_t {
  Found,
  Absent,            // nothing under the id in a tree read whole (or no tree at all)
  ShortReference,    // the reference is shorter than an id
  RootUnreadable,    // the tree's root page does not load: the tree cannot be entered
  PageUnreadable,    // not found, and a page of the tree did not load
  Cycle,             // not found, in a tree whose pages lead back to pages met before
  OverBudget,        // resolving it would exceed the reading's budget
};

struct Outcome {
  Lookup lookup = Lookup::Absent;
  std::uint32_t page = 0;  // RootUnreadable, PageUnreadable: the page
};

// The error a lookup that found nothing reports.
EseError lookup_error(const Outcome& o, const LongValueId& lid, std::size_t reference_size) {
  switch (o.lookup) {
    case Lookup::ShortReference:
      return EseError::long_value_damaged("reference of " + std::to_string(reference_size) + " bytes");
    case Lookup::RootUnreadable:
      return EseError::long_value_damaged("tree root page " + std::to_string(o.page) + " does not load");
    case Lookup::PageUnreadable:
      return EseError::long_value_damaged("tree page " + std::to_string(o.page) + " does not load");
    case Lookup::Cycle:
      return EseError::long_value_cycle(lid.id);
    case Lookup::OverBudget:
      return EseError::long_value_over_budget(lid.id);
    case Lookup::Found:
    case Lookup::Absent:
      break;
  }
  return EseError::long_value_absent(lid.id);
}

// A value the tree holds nothing for, with what the walk met that may have hidden it.
Outcome not_found(const LongValueChain& chain, const Gathered& g) {
  if (g.unloadable != 0) return Outcome{Lookup::PageUnreadable, g.unloadable};
  if (chain.unloadable != 0) return Outcome{Lookup::PageUnreadable, chain.unloadable};
  if (chain.cycle) return Outcome{Lookup::Cycle, 0};
  return Outcome{Lookup::Absent, 0};
}

// Gathers, orders, expands and joins the chunks of one long value, charging the budget.
// When nothing is found the bytes are empty and the outcome says why.
Outcome assemble(const Database& db, const TableInfo& table, const LongValueId& lid, LongValueBudget& budget,
                 std::string& value) {
  value.clear();
  const LongValueInfo& tree = table.long_values.at(0).second;
  if (!budget.chain || budget.chain->root != tree.root_page) budget.chain = chain_for(db, tree);
  Gathered g = gather(db, *budget.chain, lid, budget.remaining, budget.scanned);
  if (!g.entered) return Outcome{Lookup::RootUnreadable, tree.root_page};
  if (g.over_budget) return Outcome{Lookup::OverBudget, 0};
  if (g.chunks.empty() && !g.total_size) return not_found(*budget.chain, g);
  std::stable_sort(g.chunks.begin(), g.chunks.end(),
                   [](const Chunk& a, const Chunk& b) { return a.offset < b.offset; });
  if (!expand_compressed_chunks(g, budget.remaining)) return Outcome{Lookup::OverBudget, 0};
  std::size_t total = 0;
  for (const Chunk& c : g.chunks) total += c.bytes().size();
  if (g.total_size && *g.total_size < total) total = *g.total_size;
  value.reserve(total);
  for (const Chunk& c : g.chunks) {
    if (value.size() >= total) break;
    const Bytes b = c.bytes();
    value.append(reinterpret_cast<const char*>(b.data()), std::min<std::size_t>(b.size(), total - value.size()));
  }
  budget.remaining -= value.size();
  return Outcome{Lookup::Found, 0};
}

// The tolerant readers' policy: a value that cannot be read now (a tree that cannot be
// entered, a budget spent) keeps its reference bytes; one the tree does not give is
// empty.
bool keeps_reference(Lookup lookup) { return lookup == Lookup::RootUnreadable || lookup == Lookup::OverBudget; }

}  // namespace

LongValueBudget long_value_budget(const Database& db) {
  return LongValueBudget{8 * db.size_bytes() + (64ull << 20)};
}

Result<std::string> read_long_value(const Database& db, const TableInfo& table, Bytes reference,
                                    LongValueBudget& budget) {
  if (reference.size() < kLid32Size) return lookup_error(Outcome{Lookup::ShortReference, 0}, {}, reference.size());
  const LongValueId lid = read_lid(db, reference);
  if (table.long_values.empty()) return EseError::long_value_absent(lid.id);
  std::string value;
  const Outcome outcome = assemble(db, table, lid, budget, value);
  if (outcome.lookup != Lookup::Found) return lookup_error(outcome, lid, reference.size());
  return value;
}

void resolve_long_values(const Database& db, const TableInfo& table, Record& record) {
  LongValueBudget budget = long_value_budget(db);
  resolve_long_values(db, table, record, budget);
}

void resolve_long_values(const Database& db, const TableInfo& table, Record& record, LongValueBudget& budget,
                         std::vector<UnresolvedLongValue>* unresolved) {
  // Values already assembled for this record, by id: a record may name one long value
  // from many columns, and each lookup rescans the tree.
  struct Assembled {
    LongValueId lid;
    Outcome outcome;
    std::string bytes;
  };
  std::vector<Assembled> done;
  for (std::size_t k = 0; k < record.fields.size(); ++k) {
    Field& field = record.fields[k];
    if (field.value.kind != Value::Kind::LongValue) continue;
    const Bytes reference = as_bytes(field.value.bytes);
    if (reference.size() < kLid32Size || table.long_values.empty()) {
      set_resolved(field, std::string());
      if (unresolved) {
        const Outcome o{reference.size() < kLid32Size ? Lookup::ShortReference : Lookup::Absent, 0};
        unresolved->push_back({k, lookup_error(o, reference.size() < kLid32Size ? LongValueId{} : read_lid(db, reference),
                                               reference.size())});
      }
      continue;
    }
    const LongValueId lid = read_lid(db, reference);
    const auto same = std::find_if(done.begin(), done.end(), [&](const Assembled& a) {
      return a.lid.id == lid.id && a.lid.width == lid.width;
    });
    const Assembled* found = nullptr;
    if (same != done.end()) {
      const bool spent = same->bytes.size() > budget.remaining;
      if (keeps_reference(same->outcome.lookup) || spent) {
        if (unresolved) {
          const Outcome o = spent ? Outcome{Lookup::OverBudget, 0} : same->outcome;
          unresolved->push_back({k, lookup_error(o, lid, reference.size())});
        }
        continue;
      }
      budget.remaining -= same->bytes.size();
      found = &*same;
    } else {
      done.push_back(Assembled{lid, {}, {}});
      done.back().outcome = assemble(db, table, lid, budget, done.back().bytes);
      found = &done.back();
    }
    if (found->outcome.lookup != Lookup::Found && unresolved) {
      unresolved->push_back({k, lookup_error(found->outcome, lid, reference.size())});
    }
    if (keeps_reference(found->outcome.lookup)) continue;
    set_resolved(field, found->bytes);
  }
}

}  // namespace quarrow
