// A reading built into Arrow batches on several threads. The reading is cut into
// stretches (runs of a table's leaf pages), each read by a batch source of its own;
// workers claim stretches in order, and the consumer takes the batches of stretch 0,
// then of stretch 1, and so on, so that the batches come in table order with the
// values of a reading on one thread. Tables (arrow_stream) and profile views
// (view_arrow) share it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/arrow_c.h"
#include "record/leaf_ranges.h"

namespace quarrow::arrow {

// One stretch's batches.
class BatchSource {
 public:
  enum class Outcome : std::uint8_t { Batch, End, Error };
  virtual ~BatchSource() = default;
  // The next batch into `out`. End: the stretch has no more records (`out` untouched);
  // Error: error() says why, after every batch before the failure. May throw
  // std::bad_alloc.
  virtual Outcome next(ArrowArray* out) = 0;
  virtual const std::string& error() const = 0;
};

// A source that fails at once (a stretch whose reader could not start).
class FailedSource final : public BatchSource {
 public:
  explicit FailedSource(std::string error) : error_(std::move(error)) {}
  Outcome next(ArrowArray*) override { return Outcome::Error; }
  const std::string& error() const override { return error_; }

 private:
  std::string error_;
};

// Makes the source of stretch `k`; called on a worker thread. May throw std::bad_alloc.
using SourceMaker = std::function<std::unique_ptr<BatchSource>(std::size_t k)>;

// The stretches a reading on `threads` threads is cut into: enough for every thread to
// take several, each of at most `batch_rows` records (a stretch's last batch may be
// short). One stretch (a reading on one thread) for one thread or a table of fewer
// than `min_rows` records: below a few thousand, starting threads and readers costs
// more than the reading.
inline constexpr std::uint64_t kMinThreadedRows = 4000;
std::vector<LeafRange> threaded_stretches(const LeafPages& leaves, unsigned threads, std::int64_t batch_rows,
                                          std::uint64_t min_rows = kMinThreadedRows);

// Memory: a worker takes a token before it builds a batch and the consumer gives it
// back when it hands the batch out. There are threads + 1 tokens, the last one kept
// for the stretch the consumer waits for, so that it can always go on.
class Pipeline {
 public:
  Pipeline(std::size_t stretches, unsigned threads, SourceMaker make);
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Starts the workers; throws std::system_error when a thread cannot start.
  void start();
  // 0 with a batch, or with out->release null at the end; EIO with `error` set.
  int next(ArrowArray* out, std::string& error);

 private:
  struct Slot {
    std::deque<ArrowArray> batches;
    bool done = false;
    std::string error;
  };

  void work();
  bool build_stretch(std::size_t k);  // false when the stream is being released
  std::unique_ptr<BatchSource> make_source(std::size_t k);

  SourceMaker make_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  std::size_t claimed_ = 0;  // stretches taken by workers
  std::size_t current_ = 0;  // the stretch the consumer takes batches from
  unsigned tokens_ = 0;      // batches being built or waiting
  bool cancel_ = false;
  unsigned threads_;
  std::vector<std::thread> workers_;  // last: joined before the rest goes
};

}  // namespace quarrow::arrow
