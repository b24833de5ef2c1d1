// Sorting events without holding them all: events are buffered up to a memory bound,
// each full buffer is sorted and written to a temporary file as one run, and the runs
// are merged at the end (the last buffer stays in memory as a run of its own). Memory
// therefore stays near the bound plus one read buffer per run, however many events
// there are; a timeline that fits the bound never touches the disk.
//
// An event is kept as one serialized block (fixed fields, then its texts), so a run on
// disk reads back in the order it was written with no index of its own. Only the keys
// are sorted, and a buffer whose events came in order (a table read in time order) is
// not sorted at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "error/ese_error.h"
#include "platform/platform.h"
#include "timeline/event.h"
#include "timeline/line_coder.h"

namespace quarrow::timeline {

struct SortOptions {
  // Bytes of buffered events (texts and their sort keys) before a run is spilled.
  std::size_t memory_bound = std::size_t{256} << 20;
  // Where spilled runs go; "" is the system's temporary folder.
  std::string temp_dir;
};

class EventSorter {
 public:
  // The coded lines' shapes take at most an eighth of the bound: runs stay long.
  explicit EventSorter(SortOptions options = {})
      : options_(std::move(options)), coder_(options_.memory_bound / kShapeShare) {}
  EventSorter(EventSorter&&) = default;
  EventSorter& operator=(EventSorter&&) = default;

  // Copies the event in (its texts, and its line coded); may write a run (an IoError
  // when the temporary file fails).
  Status add(const EventView& e);
  // Adds the event as one line of its output (its texts are not kept): a caller that
  // writes every event in one format does so once, as the event is found, and the
  // merge hands the line back (EventView::line). Lines are kept coded (LineCoder).
  Status add_line(const EventView& e, std::string_view line);
  std::uint64_t events() const { return events_; }
  // Runs written to temporary files so far.
  std::size_t spilled_runs() const { return files_.size(); }
  // Bytes of events held in memory.
  std::size_t buffered_bytes() const { return buffer_.size() + keys_.size() * sizeof(Key) + coder_.memory(); }
  // Writes the events held in memory as a run of their own (several sorters finished one
  // after another keep memory flat so).
  // Its memory is given back.
  Status spill_buffer();
  // Gives back the room reserved beyond the events held (a finished sorter kept in memory).
  void shrink() {
    buffer_.shrink_to_fit();
    keys_.shrink_to_fit();
  }

 private:
  friend class EventMerger;
  struct Key {
    std::int64_t time;
    std::uint32_t input, table;
    std::uint64_t row;
    std::uint32_t item;
    EventKind kind;
    std::uint64_t offset;  // of the event's block in the buffer
    // The timeline's order (event_before) on keys.
    static bool before(const Key& a, const Key& b);
  };
  struct FileRun {
    std::unique_ptr<platform::TemporaryFile> file;
    std::uint64_t size = 0;
  };
  // Adds the key of `e`, whose block starts at the buffer's end.
  void push_key(const EventView& e);
  Status after_add();
  void sort_keys();
  Status spill();

  static constexpr std::size_t kShapeShare = 8;
  SortOptions options_;
  std::string buffer_;
  std::vector<Key> keys_;
  // The keys came in order: they are sorted, and the buffer holds the blocks in it.
  bool in_order_ = true;
  LineCoder coder_;
  std::vector<FileRun> files_;
  std::uint64_t events_ = 0;
};

// The merged, sorted events of one or more sorters, taken over by the merger.
class EventMerger {
 public:
  explicit EventMerger(std::vector<EventSorter> sorters);
  EventMerger(EventMerger&&) noexcept;
  EventMerger& operator=(EventMerger&&) noexcept;
  ~EventMerger();

  // The next event, its texts valid until the next call; false at the end or on a read
  // error (then error() is set).
  bool next(EventView& out);
  const Status& status() const { return status_; }

 private:
  struct Cursor;
  void push(std::size_t cursor);
  std::vector<EventSorter> sorters_;
  std::vector<std::unique_ptr<Cursor>> cursors_;
  std::vector<std::size_t> heap_;  // cursor indexes, earliest event on top
  std::size_t last_ = SIZE_MAX;     // the cursor whose event was handed out last
  Status status_;
};

}  // namespace quarrow::timeline
