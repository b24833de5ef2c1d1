#include "timeline/event_sort.h"

#include <algorithm>
#include <cstring>

namespace quarrow::timeline {

namespace {

// A serialized event: time (8), input (4), table (4), row (8), item (4), kind (1), then
// the lengths of the description, message, attributes and line (4 each) and their bytes.
constexpr std::size_t kBlockHead = 8 + 4 + 4 + 8 + 4 + 1 + 4 * 4;
// Where the line's length sits in the head.
constexpr std::size_t kLineLengthAt = kBlockHead - 4;
// Bytes read from a spilled run at a time.
constexpr std::size_t kRunReadSize = std::size_t{1} << 18;

template <class T>
char* put(char* p, T v) {
  std::memcpy(p, &v, sizeof(T));
  return p + sizeof(T);
}

template <class T>
T get(const char*& p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  p += sizeof(T);
  return v;
}

std::uint32_t text_size(std::string_view s) {
  // Texts are a row's values: far below 4 GiB; a longer one is cut rather than wrapped.
  return s.size() > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(s.size());
}

void put_block(std::string& out, const EventView& e) {
  const std::uint32_t d = text_size(e.description), m = text_size(e.message), a = text_size(e.attributes),
                      l = text_size(e.line);
  const std::size_t at = out.size();
  out.resize(at + kBlockHead);
  char* p = out.data() + at;
  p = put(p, e.time);
  p = put(p, e.input);
  p = put(p, e.table);
  p = put(p, e.row);
  p = put(p, e.item);
  p = put(p, static_cast<std::uint8_t>(e.kind));
  p = put(p, d);
  p = put(p, m);
  p = put(p, a);
  put(p, l);
  out.append(e.description.data(), d);
  out.append(e.message.data(), m);
  out.append(e.attributes.data(), a);
  out.append(e.line.data(), l);
}

// The block's size from its head, and its event (texts pointing after the head).
std::size_t read_block(const char* p, EventView& e) {
  e.time = get<std::int64_t>(p);
  e.input = get<std::uint32_t>(p);
  e.table = get<std::uint32_t>(p);
  e.row = get<std::uint64_t>(p);
  e.item = get<std::uint32_t>(p);
  e.kind = static_cast<EventKind>(get<std::uint8_t>(p));
  const std::uint32_t d = get<std::uint32_t>(p), m = get<std::uint32_t>(p), a = get<std::uint32_t>(p),
                      l = get<std::uint32_t>(p);
  e.description = std::string_view(p, d);
  e.message = std::string_view(p + d, m);
  e.attributes = std::string_view(p + d + m, a);
  e.line = std::string_view(p + d + m + a, l);
  return kBlockHead + d + m + a + l;
}

std::size_t block_size_from_head(const char* p) {
  std::uint32_t n[4];
  std::memcpy(n, p + kBlockHead - sizeof n, sizeof n);
  return kBlockHead + std::size_t{n[0]} + n[1] + n[2] + n[3];
}

}  // namespace

bool EventSorter::Key::before(const Key& a, const Key& b) { return event_before(a, b); }

void EventSorter::push_key(const EventView& e) {
  // The whole bound at once: growing by doubling copies the buffer over and over and
  // holds two copies at the moment of each copy. Pages not yet written take no memory.
  if (buffer_.capacity() < options_.memory_bound && buffer_.empty()) buffer_.reserve(options_.memory_bound);
  const Key key{e.time, e.input, e.table, e.row, e.item, e.kind, buffer_.size()};
  if (in_order_ && !keys_.empty() && Key::before(key, keys_.back())) in_order_ = false;
  keys_.push_back(key);
}

Status EventSorter::add_line(const EventView& e, std::string_view line) {
  EventView bare = e;
  bare.description = bare.message = bare.attributes = {};
  bare.line = line;
  return add(bare);
}

Status EventSorter::add(const EventView& e) {
  push_key(e);
  const std::size_t at = buffer_.size();
  EventView texts = e;
  texts.line = {};
  put_block(buffer_, texts);
  if (!e.line.empty()) {
    // The line goes in coded, after the texts; lines of one input, table and kind
    // share their shape.
    const std::size_t line_at = buffer_.size();
    coder_.encode(buffer_,
                  (std::uint64_t{e.input} << 32) ^ (std::uint64_t{e.table} << 8) ^ static_cast<std::uint8_t>(e.kind),
                  e.line);
    std::size_t length = buffer_.size() - line_at;
    if (length > UINT32_MAX) {  // as text_size: cut (the merge then reports it damaged)
      buffer_.resize(line_at + UINT32_MAX);
      length = UINT32_MAX;
    }
    put(buffer_.data() + at + kLineLengthAt, static_cast<std::uint32_t>(length));
  }
  return after_add();
}

Status EventSorter::after_add() {
  ++events_;
  if (buffered_bytes() >= options_.memory_bound) return spill();
  return Status::success();
}

void EventSorter::sort_keys() {
  // Events of one table often arrive in order (rows written as time went on): then
  // there is nothing to sort. Otherwise a stable sort on the full order.
  if (in_order_) return;
  std::stable_sort(keys_.begin(), keys_.end(), Key::before);
}

Status EventSorter::spill_buffer() {
  if (keys_.empty()) return Status::success();
  Status s = spill();
  std::string().swap(buffer_);
  std::vector<Key>().swap(keys_);
  return s;
}

Status EventSorter::spill() {
  sort_keys();
  FileRun run;
  run.file = std::make_unique<platform::TemporaryFile>();
  if (Status st = run.file->create(options_.temp_dir); !st) return st;
  // Blocks go out through a small buffer of their own even when the buffer holds them
  // in order already: writing straight from the large buffer costs the kernel several
  // times more per byte (measured: 0.9 s against 0.3 s for 512 MiB).
  std::string out;
  out.reserve(kRunReadSize);
  for (const Key& k : keys_) {
    const char* p = buffer_.data() + k.offset;
    out.append(p, block_size_from_head(p));
    if (out.size() >= kRunReadSize) {
      if (Status st = run.file->write_all(out.data(), out.size()); !st) return st;
      run.size += out.size();
      out.clear();
    }
  }
  if (Status st = run.file->write_all(out.data(), out.size()); !st) return st;
  run.size += out.size();
  files_.push_back(std::move(run));
  // The buffer keeps its room for the next run (within the bound); a finished sorter
  // spilled by its caller gives it back.
  buffer_.clear();
  keys_.clear();
  in_order_ = true;
  return Status::success();
}

// Reads one run: the sorted keys of a sorter's last buffer, or a spilled file.
struct EventMerger::Cursor {
  const EventSorter* owner = nullptr;  // whose coder reads the lines
  std::string line;                    // the current event's line, decoded
  // In memory.
  const EventSorter* sorter = nullptr;
  std::size_t key = 0;
  // On disk.
  const EventSorter::FileRun* run = nullptr;
  std::uint64_t file_at = 0;  // next byte of the file to read
  std::string window;         // bytes read and not yet handed out
  std::size_t window_at = 0;
  EventView current;

  // Advances to the next event; false at the end. `status` is set on a read error.
  bool advance(Status& status) {
    if (sorter != nullptr) {
      if (key >= sorter->keys_.size()) return false;
      read_block(sorter->buffer_.data() + sorter->keys_[key++].offset, current);
      return decode_line(status);
    }
    if (!fill(kBlockHead, status)) return false;
    const std::size_t size = block_size_from_head(window.data() + window_at);
    if (!fill(size, status)) {
      if (status.ok()) status = EseError::io_fixed("temporary run file ends inside an event");
      return false;
    }
    read_block(window.data() + window_at, current);
    window_at += size;
    return decode_line(status);
  }

  // A coded line of the current event made its line again.
  bool decode_line(Status& status) {
    if (current.line.empty()) return true;
    line.clear();
    if (!owner->coder_.decode(line, current.line)) {
      status = EseError::io_fixed("temporary run file holds a damaged event line");
      return false;
    }
    current.line = line;
    return true;
  }

  // Makes `need` bytes available at window_at; false at the end of the run.
  bool fill(std::size_t need, Status& status) {
    if (window.size() - window_at >= need) return true;
    // Earlier events of the window have been handed out and replaced: drop them.
    window.erase(0, window_at);
    window_at = 0;
    while (window.size() < need && file_at < run->size) {
      const std::size_t want = std::max(kRunReadSize, need - window.size());
      const std::size_t old = window.size();
      window.resize(old + want);
      std::size_t got = 0;
      if (Status st = run->file->read_at(file_at, window.data() + old, want, got); !st) {
        status = std::move(st);
        window.resize(old);
        return false;
      }
      window.resize(old + got);
      file_at += got;
      if (got == 0) break;
    }
    return window.size() >= need;
  }
};

EventMerger::EventMerger(std::vector<EventSorter> sorters) : sorters_(std::move(sorters)) {
  for (EventSorter& s : sorters_) {
    s.sort_keys();
    for (const auto& run : s.files_) {
      auto c = std::make_unique<Cursor>();
      c->owner = &s;
      c->run = &run;
      cursors_.push_back(std::move(c));
    }
    if (!s.keys_.empty()) {
      auto c = std::make_unique<Cursor>();
      c->owner = &s;
      c->sorter = &s;
      cursors_.push_back(std::move(c));
    }
  }
  for (std::size_t k = 0; k < cursors_.size(); ++k) {
    if (cursors_[k]->advance(status_)) push(k);
    if (!status_.ok()) return;
  }
}

EventMerger::EventMerger(EventMerger&&) noexcept = default;
EventMerger& EventMerger::operator=(EventMerger&&) noexcept = default;
EventMerger::~EventMerger() = default;

void EventMerger::push(std::size_t cursor) {
  heap_.push_back(cursor);
  std::push_heap(heap_.begin(), heap_.end(), [this](std::size_t a, std::size_t b) {
    // The heap keeps its greatest on top: "greater" means later, so the earliest is on top.
    return event_before(cursors_[b]->current, cursors_[a]->current) ||
           (!event_before(cursors_[a]->current, cursors_[b]->current) && b < a);
  });
}

bool EventMerger::next(EventView& out) {
  if (!status_.ok()) return false;
  // The cursor handed out last moves on only now, so that its texts stayed valid.
  if (last_ != SIZE_MAX) {
    const std::size_t c = last_;
    last_ = SIZE_MAX;
    if (cursors_[c]->advance(status_)) push(c);
    if (!status_.ok()) return false;
  }
  if (heap_.empty()) return false;
  std::pop_heap(heap_.begin(), heap_.end(), [this](std::size_t a, std::size_t b) {
    return event_before(cursors_[b]->current, cursors_[a]->current) ||
           (!event_before(cursors_[a]->current, cursors_[b]->current) && b < a);
  });
  last_ = heap_.back();
  heap_.pop_back();
  out = cursors_[last_]->current;
  return true;
}

}  // namespace quarrow::timeline
