#include "cli/progress.h"

#include <chrono>
#include <algorithm>
#include <cstdio>

namespace quarrow::cli {
namespace {

// Ten redraws a second at most: fast enough to look alive, cheap on slow terminals.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Labels longer than this are cut so the line fits a usual terminal width.
constexpr std::size_t kMaxLabel = 40;

std::string clock_text(double seconds) {
  if (!(seconds >= 0) || seconds > 359999) return "--:--";
  const auto total = static_cast<unsigned long>(seconds + 0.5);
  char buf[32];
  if (total >= 3600) {
    std::snprintf(buf, sizeof buf, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lu:%02lu", total / 60, total % 60);
  }
  return buf;
}

}  // namespace

Progress::Progress(bool enabled) : enabled_(enabled), started_(std::chrono::steady_clock::now()) {
  if (enabled_) ticker_ = std::thread([this] { run(); });
}

Progress::~Progress() { stop(); }

void Progress::add_total(std::uint64_t pages) { pages_total_.fetch_add(pages, std::memory_order_relaxed); }

void Progress::set_current(std::string label) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  current_ = std::move(label);
}

void Progress::message(const std::string& line) {
  std::lock_guard lock(mutex_);
  clear_locked();
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void Progress::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  // Cleared only once the ticker is gone: it may still have been about to draw.
  std::lock_guard lock(mutex_);
  clear_locked();
}

void Progress::run() {
  // Drawn at once, so that even short work shows what it did, then redrawn. The first
  // drawing happens even when the work ended before this thread got to run: stop()
  // waits for it and clears it, so the terminal sees the same sequence either way.
  std::unique_lock lock(mutex_);
  do {
    draw_locked();
  } while (!wake_.wait_for(lock, kRedrawInterval, [this] { return stopping_; }));
}

void Progress::draw_locked() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const std::uint64_t total = pages_total_.load(std::memory_order_relaxed);
  const std::uint64_t done = std::min(pages_done_.load(std::memory_order_relaxed), total);
  const double mb = static_cast<double>(bytes_done_.load(std::memory_order_relaxed)) / 1e6;
  const double rate = elapsed > 0 ? mb / elapsed : 0;
  const double pages_per_second = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
  const double left = pages_per_second > 0 ? static_cast<double>(total - done) / pages_per_second : -1;

  std::string label = current_;
  // Long labels keep their two ends (file name and table) with "..." in the middle.
  if (label.size() > kMaxLabel) label = label.substr(0, 18) + "..." + label.substr(label.size() - (kMaxLabel - 21));
  char buf[160];
  std::snprintf(buf, sizeof buf, "\r%s  %llu/%llu pages  %.1f MB/s  %s left\x1b[K", label.c_str(),
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), rate,
                clock_text(left).c_str());
  std::fputs(buf, stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::clear_locked() {
  if (!drawn_) return;
  std::fputs("\r\x1b[K", stderr);
  drawn_ = false;
}

}  // namespace quarrow::cli
