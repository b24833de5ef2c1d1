#!/usr/bin/env bash
# Runs every test: C++ unit tests (plain and under AddressSanitizer +
# UndefinedBehaviorSanitizer) through CTest, short fuzzing runs, and the pytest suite
# against the installed module. Installs what it needs on a fresh machine.
#
# Each stage prints a line when it starts and one with its time when it ends. Build
# trees no later stage needs are removed as soon as their stage is done (set
# KEEP_BUILD=1 to keep them), so that build/ stays under 500 MB: the plain C++ build
# (the Windows stage uses its tool), the Wine prefix and any fuzzing finds are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}

STAGE=""
STAGE_STARTED=$SECONDS
# stage NAME: ends the current stage (its time) and starts the next; no NAME ends the last.
stage() {
  if [ -n "$STAGE" ]; then
    printf '   %s: %d s (total %d:%02d)\n' "$STAGE" $((SECONDS - STAGE_STARTED)) $((SECONDS / 60)) $((SECONDS % 60))
  fi
  STAGE=${1:-}
  STAGE_STARTED=$SECONDS
  if [ -n "$STAGE" ]; then echo "== $STAGE"; fi
}
# drop PATH...: removes build trees no later stage needs.
drop() {
  if [ "${KEEP_BUILD:-0}" != 1 ]; then rm -rf "$@"; fi
}

need=()
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v clang++ >/dev/null 2>&1 || need+=(clang)
[ -e /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ] || need+=(libclang-rt-14-dev)
command -v nm >/dev/null 2>&1 || need+=(binutils)
# The report's pages are rendered by a real browser in the tests.
command -v chromium >/dev/null 2>&1 || need+=(chromium)
stage "installing what the tests need"
if [ ${#need[@]} -gt 0 ]; then
  echo "   installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "${need[@]}" >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq "${need[@]}"; }
fi
PIP=(python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore)
"${PIP[@]}" pytest hypothesis cmake ninja pyarrow polars duckdb pandas mypy html5lib
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

stage "format numbers only in src/format"
scripts/check_format_numbers.sh

stage "no thread_local objects in src"
# MinGW-w64's runtime may free a worker thread's thread-local storage before the
# destructors of its thread_local objects run, which then free garbage (quarrow.exe
# crashed that way at the end of an export, about once in a thousand runs): scratch
# storage belongs to the reader that uses it.
if grep -rnE '^[[:space:]]*(static[[:space:]]+)?thread_local[[:space:]]' src; then
  echo "FAIL: thread_local objects in src (see above)" >&2
  exit 1
fi
echo "thread_local objects: none"

stage "building and installing the module"
"${PIP[@]}" .

stage "C++ unit tests"
cmake -S . -B build/tests -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tests -j "$JOBS"
run_ctest build/tests

stage "C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DQUARROW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j "$JOBS"
run_ctest build/asan
drop build/asan

stage "C++ tests of threaded work under ThreadSanitizer"
scripts/tsan.sh
drop build/tsan

if [ -x scripts/fuzz.sh ]; then
  stage "short fuzzing runs"
  scripts/fuzz.sh short
  # Crash artifacts and sweep faults stay; the instrumented build and the corpora go
  # (each run seeds its corpora afresh, and they grow to hundreds of MB).
  if [ -d build/fuzz ] && [ "${KEEP_BUILD:-0}" != 1 ]; then
    find build/fuzz -mindepth 1 -maxdepth 1 ! -name artifacts ! -name 'sweep-faults' -exec rm -rf {} +
  fi
  drop build/fuzz-python
fi

stage "Python tests (the type stub under mypy --strict among them)"
QUARROW_REQUIRE_MYPY=1 python3 -m pytest tests/python -q -p no:cacheprovider

stage "Linux wheel audit (glibc 2.28, manylinux)"
scripts/wheel_audit.sh
drop build/wheel-audit

stage "Windows build under Wine"
scripts/windows.sh
# The Wine prefix is made again in a few seconds; build/tests stays for quick reruns.
drop build/windows build/windows-cli build/wine-prefix

stage
echo "== all tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s; build/ holds $(du -sh build 2>/dev/null | cut -f1)"
