#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-compiles the core, the C++ unit tests and
# the command-line tool with Debian's MinGW-w64 toolchain (static runtime: each .exe
# is one file) and runs them under Wine. Installs the toolchain and Wine if missing.
# tests/windows_cli.sh then compares the tool's output with the Linux tool's on every
# sample database.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
BUILD=build/windows

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null 2>&1 || need+=(wine wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; }
fi

# A Wine prefix of our own, made once (about 5 s); quiet Wine.
export WINEPREFIX="$PWD/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p build

echo "== cross-building for Windows (MinGW-w64)"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS"
# One file each: nothing but Windows' own DLLs may be imported.
for exe in "$BUILD"/*.exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep 'DLL Name' | grep -viE 'kernel32|msvcrt|advapi32|user32|ntdll|api-ms-win|bcrypt|ws2_32|shell32'; then
    echo "FAIL: $exe needs a DLL that Windows does not ship" >&2
    exit 1
  fi
done

echo "== C++ unit tests under Wine"
wine "$BUILD/quarrow_tests.exe" --gtest_brief=1 >"$BUILD/tests.log" 2>&1 || { cat "$BUILD/tests.log"; exit 1; }
grep -E '^\[  PASSED  \]' "$BUILD/tests.log"

echo "== quarrow.exe under Wine against the Linux tool"
[ -f build/tests/build.ninja ] ||
  cmake -S . -B build/tests -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tests -j "$JOBS" --target quarrow_cli >/dev/null
tests/windows_cli.sh "$BUILD/quarrow.exe" build/tests/quarrow
