// Progress on the standard error, and the error messages that share that stream.
//
// Progress is drawn only when the standard error is a terminal (and --quiet is not
// given): one line, redrawn in place at most ten times a second by a ticker thread,
// showing the current file and table, pages done of the total, the read rate and the
// time left. Workers only bump atomic counters; they never wait for the terminal.
//
// "Pages" are the data pages of the input files. A table read counts the leaf pages it
// walks; the total is every page of the files, so the fraction is a lower bound (index,
// space-tree and long-value pages are never counted) and the line jumps to the end
// when the work is done.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace quarrow::cli {

class Progress {
 public:
  // `enabled`: whether to draw at all (a terminal, and not --quiet).
  explicit Progress(bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Adds pages to the total.
  void add_total(std::uint64_t pages);
  // Counts pages done (thread-safe, lock-free).
  void add_done(std::uint64_t pages, std::uint64_t bytes) {
    pages_done_.fetch_add(pages, std::memory_order_relaxed);
    bytes_done_.fetch_add(bytes, std::memory_order_relaxed);
  }
  // What the line names as current work ("file  table").
  void set_current(std::string label);

  // Writes one line to the standard error, clearing the progress line first so the
  // two never mix. Thread-safe.
  void message(const std::string& line);

  // Stops the ticker and clears the line. Called by the destructor too.
  void stop();

 private:
  void run();
  void draw_locked();
  void clear_locked();

  const bool enabled_;
  std::atomic<std::uint64_t> pages_total_{0};
  std::atomic<std::uint64_t> pages_done_{0};
  std::atomic<std::uint64_t> bytes_done_{0};
  std::mutex mutex_;  // the standard error, current_, drawn_, stopping_
  std::condition_variable wake_;
  std::string current_;
  bool drawn_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point started_;
  std::thread ticker_;
};

}  // namespace quarrow::cli
