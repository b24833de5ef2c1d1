#include "record/long_value.h"

#include <algorithm>

#include "database/traversal.h"
#include "page/leaf.h"
#include "record/compression.h"
#include "record/text.h"

namespace quarrow {
namespace {

// From format revision 0x46 a reference may be an 8-byte id (LID64) whose top bit is
// set; tree keys are then 8 bytes for the root entry and 12 for chunks.
constexpr std::uint32_t kLid64Revision = 0x46;

struct LongValueId {
  std::uint64_t id = 0;
  std::size_t width = 4;  // bytes of the id at the start of every key
};

LongValueId read_lid(const Database& db, Bytes reference) {
  if (db.format_revision() >= kLid64Revision && reference.size() == 8) {
    const std::uint64_t v = load_u64le(reference, 0);
    if (v >> 63) return LongValueId{v, 8};
  }
  return LongValueId{load_u32le(reference, 0), 4};
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
  std::vector<Chunk> chunks;
  std::optional<std::uint32_t> total_size;
};

std::uint64_t key_id(const std::string& key, std::size_t width) {
  Bytes k = as_bytes(key);
  return width == 8 ? load_u64be(k, 0) : load_u32be(k, 0);
}

Gathered gather(const Database& db, std::uint32_t root, const LongValueId& lid) {
  Gathered g;
  // A page that does not load on the way down leaves the reference in place; a tag that
  // cannot be read stops the descent where it is; a page met twice stops the search.
  const DescentPolicy policy{OnFailure::PassOver, OnFailure::StopHere, OnFailure::StopHere};
  Descent d = descend_leftmost(db, root, policy);
  if (d.outcome != Descent::Outcome::Reached) return g;
  g.entered = true;

  PageChainGuard visited(db.total_pages());
  for (std::size_t i = 0; i + 1 < d.path.size(); ++i) visited.enter(d.path[i]);
  std::uint32_t page_number = d.page_number;
  PageView page = d.page;
  std::string scratch;
  std::string key;
  for (;;) {
    if (!page.is_leaf() || !visited.enter(page_number)) return g;
    // Tag 0 holds the page's key prefix, read as stored.
    Bytes prefix;
    if (page.tag_count > 0) {
      Result<PageTag> t0 = read_tag(page, 0);
      if (t0) prefix = t0->value;
    }
    for (std::uint16_t i = 1; i < page.tag_count; ++i) {
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
      if (key.size() < lid.width) continue;
      const std::uint64_t id = key_id(key, lid.width);
      if (id < lid.id) continue;
      if (id > lid.id) return g;
      if (key.size() >= lid.width + 4) {
        Chunk chunk{load_u32be(as_bytes(key), lid.width), entry->data, {}};
        if (tag.value.data() == reinterpret_cast<const std::uint8_t*>(scratch.data())) {
          chunk.owned = to_string(entry->data);
          if (chunk.owned.empty()) chunk.data = Bytes();
        }
        g.chunks.push_back(std::move(chunk));
      } else if (entry->data.size() > 7) {
        g.total_size = load_u32le(entry->data, 4);
      }
    }
    const std::uint32_t next = page.header.next_page;
    if (next == 0) return g;
    Result<PageView> loaded = db.load_page(next);
    if (!loaded) return g;
    page = *loaded;
    page_number = next;
  }
}

// A chunk shorter than the span its offset implies, starting with a compression
// scheme byte, was stored compressed by the engine.
void expand_compressed_chunks(Gathered& g) {
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
    const std::uint8_t scheme = stored[0] & 0xF8;
    if (scheme != kCompress7BitAscii && scheme != kCompress7BitUnicode && scheme != kCompressXpress &&
        scheme != kCompressLz4) {
      continue;
    }
    std::optional<std::string> plain = decompress(stored, /*allow_legacy=*/false);
    if (plain && plain->size() == span) c.owned = std::move(*plain);
  }
}

void set_resolved(Field& field, std::string bytes) {
  if (is_text_type(field.column_type)) {
    std::string text;
    if (decode_text_into(as_bytes(bytes), field.codepage.value_or(1252), text)) {
      field.value = Value::of_bytes(Value::Kind::Text, std::move(text));
      return;
    }
  }
  field.value = Value::of_bytes(Value::Kind::Binary, std::move(bytes));
}

}  // namespace

void resolve_long_values(const Database& db, const TableInfo& table, Record& record) {
  for (Field& field : record.fields) {
    if (field.value.kind != Value::Kind::LongValue) continue;
    const Bytes reference = as_bytes(field.value.bytes);
    if (reference.size() < 4 || table.long_values.empty()) {
      set_resolved(field, std::string());
      continue;
    }
    const LongValueId lid = read_lid(db, reference);
    Gathered g = gather(db, table.long_values.at(0).second.root_page, lid);
    if (!g.entered) continue;
    std::stable_sort(g.chunks.begin(), g.chunks.end(),
                     [](const Chunk& a, const Chunk& b) { return a.offset < b.offset; });
    expand_compressed_chunks(g);
    std::string value;
    std::size_t total = 0;
    for (const Chunk& c : g.chunks) total += c.bytes().size();
    if (g.total_size && *g.total_size < total) total = *g.total_size;
    value.reserve(total);
    for (const Chunk& c : g.chunks) {
      if (value.size() >= total) break;
      const Bytes b = c.bytes();
      value.append(reinterpret_cast<const char*>(b.data()), std::min<std::size_t>(b.size(), total - value.size()));
    }
    set_resolved(field, std::move(value));
  }
}

}  // namespace quarrow
