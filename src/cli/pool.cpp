#include "cli/pool.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace quarrow::cli {

void run_parallel(unsigned jobs, std::size_t count, const std::function<void(std::size_t)>& task,
                  const std::function<bool()>& keep_going) {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (;;) {
      if (keep_going && !keep_going()) return;
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      task(i);
    }
  };
  const std::size_t threads = std::min<std::size_t>(std::max(jobs, 1u), count);
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(worker);
  worker();
  for (std::thread& t : helpers) t.join();
}

}  // namespace quarrow::cli
