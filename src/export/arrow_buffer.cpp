#include "export/arrow_buffer.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace quarrow::arrow {

BufferPool::~BufferPool() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->trim(0);
  }
  state_->wake.notify_all();
}

Buffer BufferPool::take(std::size_t need) {
  if (need == 0) return Buffer();
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  ++s.uses;
  for (std::size_t k = s.kept.size(); k-- > 0;) {
    const std::size_t capacity = s.kept[k].capacity();
    if (capacity >= need && capacity <= 2 * need + 4096) {
      Buffer v = std::move(s.kept[k]);
      s.kept[k] = std::move(s.kept.back());
      s.kept.pop_back();
      s.kept_bytes -= capacity;
      return v;
    }
  }
  return Buffer();
}

void BufferPool::give(Buffer& v) {
  const std::size_t capacity = v.capacity();
  if (capacity == 0) return;
  v.clear();
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  ++s.uses;
  if (s.closing || s.kept_bytes + capacity > s.limit) return;  // v frees its memory
  s.kept.push_back(std::move(v));
  s.kept_bytes += capacity;
  if (s.watching) return;
  try {
    std::thread([state = state_] { watch(state); }).detach();
    s.watching = true;
  } catch (const std::system_error&) {
    // No watcher: the buffers stay until the pool goes or its limit is lowered.
  }
}

// Gives the kept buffers back once a spell of kIdleMilliseconds passes without a take
// or a give, then ends.
void BufferPool::watch(const std::shared_ptr<State>& state) {
  State& s = *state;
  std::unique_lock lock(s.mutex);
  for (;;) {
    const std::uint64_t seen = s.uses;
    // A wait until a time of the system clock: a wait for a span (steady clock) binds the
    // module to pthread_cond_clockwait, which glibc has only since 2.30. A clock set back
    // while the watcher waits only keeps the buffers a little longer.
    const auto until = std::chrono::system_clock::now() + std::chrono::milliseconds(kIdleMilliseconds);
    s.wake.wait_until(lock, until, [&] { return s.closing; });
    if (s.closing || s.uses == seen) break;
  }
  s.trim(0);
  s.watching = false;
}

std::size_t BufferPool::limit() const {
  std::lock_guard lock(state_->mutex);
  return state_->limit;
}

void BufferPool::set_limit(std::size_t bytes) {
  std::lock_guard lock(state_->mutex);
  state_->limit = bytes;
  state_->trim(bytes);
}

std::size_t BufferPool::kept_bytes() const {
  std::lock_guard lock(state_->mutex);
  return state_->kept_bytes;
}

void BufferPool::State::trim(std::size_t bytes) {
  while (kept_bytes > bytes && !kept.empty()) {
    kept_bytes -= kept.back().capacity();
    kept.pop_back();
  }
}

}  // namespace quarrow::arrow
