#!/usr/bin/env bash
# The C++ tests of work on several threads (the Arrow stream's workers, the tool's
# ordered parts, streams shared between threads) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/tsan -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/tsan -j "${JOBS:-2}" --target quarrow_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build/tsan/quarrow_tests --gtest_filter='Parallel.*:ArrowStream.*' --gtest_brief=1
