#include "export/arrow_pipeline.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "error/ese_error.h"

namespace quarrow::arrow {
namespace {

// Stretches per worker at the least: several, so that a stretch of slow records (long
// values, compression) does not hold the others back for long, and so that a worker
// that finishes early finds more work.
constexpr std::size_t kStretchesPerThread = 4;
// A stretch of fewer records is not worth a reader of its own.
constexpr std::uint64_t kMinStretchRows = 1000;

}  // namespace

// Batches go out in table order and only threads + 1 may be in flight, so a worker can
// run ahead of the one the consumer waits for by one batch only: stretches hold one
// batch at most (fewer records for a small table, so that every worker gets several),
// or the workers would take turns instead of running side by side.
std::vector<LeafRange> threaded_stretches(const LeafPages& leaves, unsigned threads, std::int64_t batch_rows,
                                          std::uint64_t min_rows) {
  std::uint64_t lines = 0;
  for (const std::uint16_t n : leaves.lines) lines += n;
  if (threads <= 1 || lines < min_rows) return {LeafRange{0, leaves.pages.size()}};
  const std::uint64_t parts = std::uint64_t{threads} * kStretchesPerThread;
  const std::uint64_t share = std::max((lines + parts - 1) / parts, std::min(kMinStretchRows, min_rows));
  return split_leaf_pages_by_lines(leaves, std::min<std::uint64_t>(share, static_cast<std::uint64_t>(batch_rows)));
}

Pipeline::Pipeline(std::size_t stretches, unsigned threads, SourceMaker make)
    : make_(std::move(make)), slots_(stretches), threads_(std::max(threads, 1u)) {}

Pipeline::~Pipeline() {
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

void Pipeline::start() {
  const unsigned n = static_cast<unsigned>(std::min<std::size_t>(threads_, slots_.size()));
  for (unsigned k = 0; k < n; ++k) workers_.emplace_back([this] { work(); });
}

int Pipeline::next(ArrowArray* out, std::string& error) {
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

void Pipeline::work() {
  for (;;) {
    std::size_t k = 0;
    {
      std::lock_guard lock(mutex_);
      if (cancel_ || claimed_ >= slots_.size()) return;
      k = claimed_++;
    }
    if (!build_stretch(k)) return;
  }
}

std::unique_ptr<BatchSource> Pipeline::make_source(std::size_t k) {
  try {
    return make_(k);
  } catch (const std::bad_alloc&) {
    return std::make_unique<FailedSource>(in_context(ErrorContext::ReadingRecord, "out of memory"));
  }
}

bool Pipeline::build_stretch(std::size_t k) {
  const std::unique_ptr<BatchSource> source = make_source(k);
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return cancel_ || tokens_ < threads_ + (k == current_ ? 1u : 0u); });
      if (cancel_) return false;
      ++tokens_;
    }
    ArrowArray batch{};
    BatchSource::Outcome outcome = BatchSource::Outcome::Error;
    std::string error;
    try {
      outcome = source->next(&batch);
      if (outcome == BatchSource::Outcome::Error) error = source->error();
    } catch (const std::bad_alloc&) {
      error = in_context(ErrorContext::ReadingRecord, "out of memory");
    }
    {
      std::lock_guard lock(mutex_);
      Slot& slot = slots_[k];
      if (outcome == BatchSource::Outcome::Batch) {
        slot.batches.push_back(batch);
      } else {
        --tokens_;
        slot.done = true;
        slot.error = std::move(error);
      }
    }
    changed_.notify_all();
    if (outcome != BatchSource::Outcome::Batch) return true;
  }
}

}  // namespace quarrow::arrow
