#include "export/arrow_stream.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "export/arrow_batch.h"
#include "export/arrow_schema.h"
#include "record/leaf_ranges.h"

namespace quarrow {
namespace {

using arrow::BatchBuilder;

// Stretches per worker at the least: more than one, so that a stretch of slow records
// (long values, compression) does not hold the others back for long.
constexpr std::size_t kRangesPerThread = 4;
// A stretch shorter than this many pages (of average fill) is not worth a reader of
// its own.
constexpr std::size_t kMinRangePages = 8;

// The stretches of a threaded reading hold about one batch each (fewer records for a
// small table, so that every worker gets some; a table of fewer than two short
// stretches is read on one thread). Batches go out in table order and
// only threads + 1 may be in flight, so a worker can run ahead of the one the
// consumer waits for by one batch only: with stretches of many batches the workers
// would take turns instead of running side by side.
std::vector<LeafRange> stretches(const LeafPages& leaves, unsigned threads, std::int64_t batch_rows) {
  std::uint64_t lines = 0;
  for (const std::uint16_t n : leaves.lines) lines += n;
  const std::uint64_t share = (lines + threads * kRangesPerThread - 1) / (threads * kRangesPerThread);
  const std::uint64_t per_page = leaves.pages.empty() ? 1 : (lines + leaves.pages.size() - 1) / leaves.pages.size();
  const std::uint64_t cap = std::min<std::uint64_t>(share, static_cast<std::uint64_t>(batch_rows));
  return split_leaf_pages_by_lines(leaves, std::max<std::uint64_t>(cap, kMinRangePages * per_page));
}

// Several workers: each claims the next stretch of leaf pages in order and builds its
// batches; the consumer takes the batches of stretch 0, then of stretch 1, and so on.
// Memory: a worker takes a token before it builds a batch and the consumer gives it
// back when it hands the batch out. There are threads + 1 tokens, the last one kept
// for the stretch the consumer waits for, so that it can always go on.
class Pipeline {
 public:
  Pipeline(std::shared_ptr<const Database> db, const TableInfo& table, ColumnPlan plan, LeafPages leaves,
           std::vector<LeafRange> ranges, unsigned threads, std::int64_t batch_rows)
      : db_(std::move(db)),
        table_(table),
        plan_(std::move(plan)),
        leaves_(std::move(leaves)),
        ranges_(std::move(ranges)),
        slots_(ranges_.size()),
        threads_(threads),
        batch_rows_(batch_rows) {}

  ~Pipeline() {
    {
      std::lock_guard lock(mutex_);
      cancel_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
    for (Slot& slot : slots_) {
      for (ArrowArray& a : slot.batches) a.release(&a);
    }
  }

  void start() {
    for (unsigned k = 0; k < threads_; ++k) workers_.emplace_back([this] { work(); });
  }

  // 0 with a batch, or with out->release null at the end; EIO with `error` set.
  int next(ArrowArray* out, std::string& error) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (current_ >= slots_.size()) {
        out->release = nullptr;
        return 0;
      }
      Slot& slot = slots_[current_];
      if (!slot.batches.empty()) {
        *out = slot.batches.front();
        slot.batches.pop_front();
        --tokens_;
        changed_.notify_all();
        return 0;
      }
      if (slot.done) {
        if (!slot.error.empty()) {
          error = slot.error;
          return EIO;
        }
        ++current_;
        changed_.notify_all();
        continue;
      }
      changed_.wait(lock);
    }
  }

 private:
  struct Slot {
    std::deque<ArrowArray> batches;
    bool done = false;
    std::string error;
  };

  void work() {
    for (;;) {
      std::size_t r = 0;
      {
        std::lock_guard lock(mutex_);
        if (cancel_ || claimed_ >= ranges_.size()) return;
        r = claimed_++;
      }
      if (!build_range(r)) return;
    }
  }

  // False when the stream is being released.
  bool build_range(std::size_t r) {
    const LeafRange& range = ranges_[r];
    std::vector<std::uint32_t> pages(leaves_.pages.begin() + static_cast<std::ptrdiff_t>(range.begin),
                                     leaves_.pages.begin() + static_cast<std::ptrdiff_t>(range.end));
    // The failure that ended the listing belongs after the last stretch.
    std::optional<EseError> end_error = r + 1 == ranges_.size() ? leaves_.error : std::nullopt;
    std::optional<BatchBuilder> builder;
    std::string error;
    try {
      BatchBuilder::Sizes sizes;
      {
        std::lock_guard lock(mutex_);
        sizes = sizes_;
      }
      builder.emplace(*db_, open_range_reader(*db_, table_, plan_, std::move(pages), std::move(end_error)),
                      batch_rows_, pool_, &sizes);
    } catch (const std::bad_alloc&) {
      error = in_context(ErrorContext::ReadingRecord, "out of memory");
    }
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancel_ || tokens_ < threads_ + (r == current_ ? 1u : 0u); });
        if (cancel_) return false;
        ++tokens_;
      }
      ArrowArray batch{};
      BatchBuilder::Outcome outcome = BatchBuilder::Outcome::Error;
      if (builder) {
        try {
          outcome = builder->next(&batch);
          if (outcome == BatchBuilder::Outcome::Error) error = builder->error();
        } catch (const std::bad_alloc&) {
          error = in_context(ErrorContext::ReadingRecord, "out of memory");
        }
      }
      {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[r];
        if (outcome == BatchBuilder::Outcome::Batch) {
          slot.batches.push_back(batch);
          // The next stretch starts with the room this batch needed, when it is
          // more than what is known so far (a stretch's last batch may be short).
          const BatchBuilder::Sizes built = builder->sizes();
          if (sizes_.size() < built.size()) sizes_.resize(built.size());
          for (std::size_t k = 0; k < built.size(); ++k) sizes_[k] = std::max(sizes_[k], built[k]);
        } else {
          --tokens_;
          slot.done = true;
          slot.error = error;
        }
      }
      changed_.notify_all();
      if (outcome != BatchBuilder::Outcome::Batch) return true;
    }
  }

  std::shared_ptr<const Database> db_;
  const TableInfo& table_;
  const ColumnPlan plan_;
  const LeafPages leaves_;
  const std::vector<LeafRange> ranges_;
  std::shared_ptr<arrow::BufferPool> pool_ = std::make_shared<arrow::BufferPool>();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  BatchBuilder::Sizes sizes_;  // the room batches of this table needed so far
  std::size_t claimed_ = 0;  // stretches taken by workers
  std::size_t current_ = 0;  // the stretch the consumer takes batches from
  unsigned tokens_ = 0;      // batches being built or waiting
  bool cancel_ = false;
  unsigned threads_;
  std::int64_t batch_rows_;
  std::vector<std::thread> workers_;  // last: joined before the rest goes
};

struct StreamState {
  std::shared_ptr<const Database> db;  // keeps the mapping and the catalog alive
  const TableInfo* table = nullptr;
  std::vector<DecodedColumn> columns;
  ArrowStreamOptions options;
  ColumnPlan plan;
  std::optional<TableRecordReader> reader;  // until the first batch decides the way
  std::optional<BatchBuilder> single;       // one thread
  std::unique_ptr<Pipeline> pipeline;       // several
  std::string last_error;
};

StreamState* state_of(ArrowArrayStream* stream) { return static_cast<StreamState*>(stream->private_data); }

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  StreamState* s = state_of(stream);
  try {
    arrow::fill_table_schema(s->columns, out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

// The first batch settles how the table is read: on several threads when asked for
// and the table has enough leaf pages to share out, otherwise along its leaf chain.
void choose_way(StreamState& s) {
  const unsigned threads = s.options.threads;
  const bool whole = s.options.part_count <= 1;
  if (threads > 1 || !whole) {
    LeafPages leaves = list_leaf_pages(*s.db, *s.table);
    if (!whole) {
      const std::size_t n = leaves.pages.size();
      const std::size_t k = s.options.part_index;
      const std::size_t parts = s.options.part_count;
      const auto first = static_cast<std::ptrdiff_t>(n * k / parts);
      const auto last = static_cast<std::ptrdiff_t>(n * (k + 1) / parts);
      leaves.pages = std::vector<std::uint32_t>(leaves.pages.begin() + first, leaves.pages.begin() + last);
      leaves.lines = std::vector<std::uint16_t>(leaves.lines.begin() + first, leaves.lines.begin() + last);
      if (k + 1 < parts) leaves.error.reset();
    }
    std::vector<LeafRange> ranges = stretches(leaves, threads, s.options.batch_rows);
    if (threads > 1 && ranges.size() > 1) {
      s.pipeline = std::make_unique<Pipeline>(s.db, *s.table, s.plan, std::move(leaves), std::move(ranges),
                                              threads, s.options.batch_rows);
      s.pipeline->start();
      s.reader.reset();
      return;
    }
    if (!whole) {
      s.reader.emplace(open_range_reader(*s.db, *s.table, s.plan, std::move(leaves.pages), std::move(leaves.error)));
    }
  }
  s.single.emplace(*s.db, std::move(*s.reader), s.options.batch_rows, std::make_shared<arrow::BufferPool>());
  s.reader.reset();
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  StreamState* s = state_of(stream);
  try {
    if (!s->last_error.empty()) return EIO;
    if (!s->single && !s->pipeline) choose_way(*s);
    if (s->pipeline) return s->pipeline->next(out, s->last_error);
    switch (s->single->next(out)) {
      case BatchBuilder::Outcome::Batch: return 0;
      case BatchBuilder::Outcome::End: out->release = nullptr; return 0;
      case BatchBuilder::Outcome::Error: s->last_error = s->single->error(); return EIO;
    }
    return EIO;
  } catch (const std::bad_alloc&) {
    s->last_error = in_context(ErrorContext::ReadingRecord, "out of memory");
    return ENOMEM;
  } catch (const std::system_error&) {
    s->last_error = in_context(ErrorContext::ReadingRecord, "cannot start a worker thread");
    return EIO;
  }
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
  StreamState* s = state_of(stream);
  return s->last_error.empty() ? nullptr : s->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
  delete state_of(stream);
  stream->release = nullptr;
}

}  // namespace

Status export_arrow_schema(const Database& db, std::string_view table_name, ArrowSchema* out,
                           const ColumnSelection* columns) {
  const TableInfo* table = db.catalog().find(table_name);
  if (table == nullptr) return EseError::table_not_found(std::string(table_name));
  const ColumnPlan plan = make_column_plan(db, *table, columns);
  arrow::fill_table_schema(decoded_columns(plan), out);
  return Status::success();
}

Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                           const ArrowStreamOptions& options, ArrowArrayStream* out) {
  auto reader = open_table_reader(*db, table_name, options.columns);
  if (!reader) return std::move(reader).error();
  auto state = std::make_unique<StreamState>();
  state->db = std::move(db);
  state->table = &reader->table();
  state->plan = reader->plan();
  state->columns = decoded_columns(state->plan);
  state->options = options;
  state->options.columns = nullptr;  // the plan holds the selection
  state->options.batch_rows = std::max<std::int64_t>(options.batch_rows, 1);
  state->options.threads = std::clamp(options.threads, 1u, kMaxArrowThreads);
  state->options.part_count = std::max<std::size_t>(options.part_count, 1);
  state->options.part_index = std::min(options.part_index, state->options.part_count - 1);
  state->reader.emplace(std::move(reader).value());
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_get_last_error;
  out->release = stream_release;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow
