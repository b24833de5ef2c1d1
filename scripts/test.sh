#!/usr/bin/env bash
# Runs every test: C++ unit tests (plain and under AddressSanitizer +
# UndefinedBehaviorSanitizer) through CTest, short fuzzing runs, and the pytest suite
# against the installed module. Installs what it needs on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}

need=()
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v clang++ >/dev/null 2>&1 || need+=(clang)
[ -e /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ] || need+=(libclang-rt-14-dev)
command -v nm >/dev/null 2>&1 || need+=(binutils)
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "${need[@]}" >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq "${need[@]}"; }
fi
PIP=(python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore)
"${PIP[@]}" pytest hypothesis cmake ninja pyarrow polars duckdb pandas
# Test-only: quarrow_fleet runs on Dask.
"${PIP[@]}" "dask[dataframe,distributed]"
# The test-file writers, for the benchmarks, fuzz seeds and the demo as well.
"${PIP[@]}" -e testing

# Runs one CTest tree; prints the summary, or the whole log on failure.
run_ctest() {
  if ! ctest --test-dir "$1" --output-on-failure -j "$JOBS" >"$1/ctest.log" 2>&1; then
    cat "$1/ctest.log"
    return 1
  fi
  grep -E 'tests passed' "$1/ctest.log"
}

echo "== format numbers only in src/format"
scripts/check_format_numbers.sh

echo "== building and installing the module"
"${PIP[@]}" .

echo "== C++ unit tests"
cmake -S . -B build/tests -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tests -j "$JOBS"
run_ctest build/tests

echo "== C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DQUARROW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j "$JOBS"
run_ctest build/asan

echo "== C++ tests of threaded work under ThreadSanitizer"
scripts/tsan.sh

if [ -x scripts/fuzz.sh ]; then
  echo "== short fuzzing runs"
  scripts/fuzz.sh short
fi

echo "== Python tests"
python3 -m pytest tests/python -q -p no:cacheprovider

echo "== Linux wheel audit (glibc 2.28, manylinux)"
scripts/wheel_audit.sh

scripts/windows.sh
