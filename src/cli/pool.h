// Work spread over threads: task i of n is claimed by whichever worker is free next.
// The caller's thread is one of the workers. Tasks share only immutable data (the
// opened databases) and their own outputs, so no task waits for another.
#pragma once

#include <cstddef>
#include <functional>

namespace quarrow::cli {

// Runs task(0) .. task(count - 1) on up to `jobs` threads (at least 1) and returns
// when all are done. Tasks are claimed in index order. `keep_going`, when given, is
// asked before each claim; once it says no, no further task starts.
void run_parallel(unsigned jobs, std::size_t count, const std::function<void(std::size_t)>& task,
                  const std::function<bool()>& keep_going = {});

}  // namespace quarrow::cli
