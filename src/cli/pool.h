// Work spread over threads: task i of n is claimed by whichever worker is free next.
// The caller's thread is one of the workers. Tasks share only immutable data (the
// opened databases) and their own outputs, so no task waits for another.
//
// OrderedParts: one job cut into parts that workers run side by side while the
// caller takes their output blocks in part order (one table written by several
// threads, byte for byte as one thread writes it).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarrow::cli {

// Runs task(0) .. task(count - 1) on up to `jobs` threads (at least 1) and returns
// when all are done. Tasks are claimed in index order. `keep_going`, when given, is
// asked before each claim; once it says no, no further task starts.
void run_parallel(unsigned jobs, std::size_t count, const std::function<void(std::size_t)>& task,
                  const std::function<bool()>& keep_going = {});

// `parts` parts run on `jobs` worker threads; part p hands its blocks, in order, to
// emit(), which returns false once the caller has stopped (the part should return).
// The caller takes blocks with next(): all of part 0's, then part 1's, and so on.
// Memory: at most kBlocksPerJob * jobs + 1 blocks are being made or waiting; one of
// them is kept for the part the caller waits on, so that it can always go on.
// Workers run ahead of the part the caller waits on by what the others may hold: with
// a block each, they took turns more than they ran side by side (--jobs 2 wrote 1.4
// times as fast as one job; with three each, 1.7 times).
inline constexpr unsigned kBlocksPerJob = 3;

template <class Block>
class OrderedParts {
 public:
  using Emit = std::function<bool(Block&&)>;
  using Part = std::function<void(std::size_t part, const Emit& emit)>;

  OrderedParts(unsigned jobs, std::size_t parts, Part part)
      : jobs_(jobs < 1 ? 1 : jobs), slots_(parts), part_(std::move(part)) {
    for (unsigned k = 0; k < jobs_; ++k) workers_.emplace_back([this] { work(); });
  }
  ~OrderedParts() { stop(); }
  OrderedParts(const OrderedParts&) = delete;
  OrderedParts& operator=(const OrderedParts&) = delete;

  // The next block in part order; false when every part is done.
  bool next(Block& out) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (current_ >= slots_.size()) return false;
      Slot& slot = slots_[current_];
      if (!slot.blocks.empty()) {
        out = std::move(slot.blocks.front());
        slot.blocks.pop_front();
        --tokens_;
        changed_.notify_all();
        return true;
      }
      if (slot.done) {
        ++current_;
        changed_.notify_all();
        continue;
      }
      changed_.wait(lock);
    }
  }

  // Ends the work early: parts still running stop at their next block.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
  }

 private:
  struct Slot {
    std::deque<Block> blocks;
    bool done = false;
  };

  void work() {
    for (;;) {
      std::size_t p = 0;
      {
        std::lock_guard lock(mutex_);
        if (stopped_ || claimed_ >= slots_.size()) return;
        p = claimed_++;
      }
      // A part holds one token while it makes a block; the block takes the token
      // along, and the next block needs one of its own.
      const auto take_token = [&](std::unique_lock<std::mutex>& lock) {
        changed_.wait(lock, [&] { return stopped_ || tokens_ < kBlocksPerJob * jobs_ + (p == current_ ? 1u : 0u); });
        if (stopped_) return false;
        ++tokens_;
        return true;
      };
      bool holding = false;
      {
        std::unique_lock lock(mutex_);
        holding = take_token(lock);
      }
      const Emit emit = [&](Block&& block) {
        std::unique_lock lock(mutex_);
        if (!holding) return false;
        slots_[p].blocks.push_back(std::move(block));
        changed_.notify_all();
        holding = take_token(lock);
        return holding;
      };
      if (holding) part_(p, emit);
      std::lock_guard lock(mutex_);
      if (holding) --tokens_;
      slots_[p].done = true;
      changed_.notify_all();
    }
  }

  unsigned jobs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  Part part_;
  std::size_t claimed_ = 0;
  std::size_t current_ = 0;
  unsigned tokens_ = 0;
  bool stopped_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quarrow::cli
