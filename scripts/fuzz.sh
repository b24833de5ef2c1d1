#!/usr/bin/env bash
# Fuzzing and the mutation sweep.
#
#   scripts/fuzz.sh short            CI: build, seed, ~35 s per fuzz target, 500-file sweep
#   scripts/fuzz.sh long [SECONDS]   long run of every target (default 1800 s each),
#                                    then a 20,000-file sweep
#
# Targets are built with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build/fuzz; the core is instrumented too. Corpora and crash artifacts live in
# build/fuzz (override with FUZZ_WORK), never in the repository. One fuzzer process runs
# at a time. Exits non-zero on any crash, sanitizer report, timeout or memory blow-up.
# Environment: JOBS (compile jobs, default 2), SWEEP_COUNT, TARGET_SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-short}
JOBS=${JOBS:-2}
WORK=${FUZZ_WORK:-build/fuzz}
case "$mode" in
  short) seconds=${TARGET_SECONDS:-35}; sweep_count=${SWEEP_COUNT:-500} ;;
  long) seconds=${2:-${TARGET_SECONDS:-1800}}; sweep_count=${SWEEP_COUNT:-20000} ;;
  *) echo "usage: $0 short | long [seconds]" >&2; exit 2 ;;
esac

echo "== building fuzz targets (clang) into $WORK"
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$WORK" -G Ninja -DQUARROW_PYTHON=OFF -DQUARROW_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$sanitize" >/dev/null
cmake --build "$WORK" -j "$JOBS"

echo "== seeding corpora"
seeds="$WORK/seeds"
rm -rf "$seeds"
shared=()
[ -d ../shared/data ] && shared=(--shared ../shared/data --max-size 1100000)
python3 fuzz/make_seeds.py "$seeds" "${shared[@]}"
mkdir -p "$WORK/corpus/fuzz_database" "$WORK/corpus/fuzz_decoders" "$WORK/corpus/fuzz_log" "$WORK/corpus/fuzz_profiles" "$WORK/artifacts"
for f in "$seeds"/*; do
  case "$f" in *.log) ;; *) cp "$f" "$WORK/corpus/fuzz_database/" ;; esac
done
# The log target takes a repair-mode byte and then a log file.
python3 - "$seeds" "$WORK/corpus/fuzz_log" <<'PY'
import pathlib, sys
src, dst = map(pathlib.Path, sys.argv[1:])
for path in sorted(src.glob("*.log")):
    for mode in (0, 1, 3, 7, 11):
        (dst / f"{path.stem}-m{mode}").write_bytes(bytes([mode]) + path.read_bytes())
# The real Server 2022 vector's logs, when present: records a replay applies.
for path in sorted(pathlib.Path("../shared/logs/srum-ws2022").glob("*.log")):
    for mode in (0, 3):
        (dst / f"ws2022-{path.stem}-m{mode}").write_bytes(bytes([mode]) + path.read_bytes())
PY
cp profiles/*.json "$WORK/corpus/fuzz_profiles/"
# The decoder target takes a selector byte and then raw bytes: seed it with page-sized
# slices of the seed databases under every selector.
python3 - "$seeds" "$WORK/corpus/fuzz_decoders" <<'PY'
import pathlib, struct, sys
src, dst = map(pathlib.Path, sys.argv[1:])
for path in sorted(p for p in src.iterdir() if p.suffix != ".log"):
    data = path.read_bytes()
    size = struct.unpack_from("<I", data, 236)[0] if len(data) >= 240 else 4096
    if size not in (4096, 8192, 16384, 32768):
        continue
    for page in (4, 5, 6, 7, 9):
        chunk = data[(page + 1) * size:(page + 2) * size]
        if chunk.strip(b"\0"):
            for selector in range(8):
                (dst / f"{path.stem}-p{page}-s{selector}").write_bytes(bytes([selector]) + chunk)
PY

status=0
for target in fuzz_database fuzz_decoders fuzz_log fuzz_profiles; do
  echo "== $target for $seconds s"
  log="$WORK/$target.log"
  if ! "$WORK/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
      -max_len=1100000 -dict="fuzz/$target.dict" -artifact_prefix="$WORK/artifacts/$target-" \
      -print_final_stats=1 "$WORK/corpus/$target" >"$log" 2>&1; then
    echo "!! $target found a fault; see $log and $WORK/artifacts"
    grep -E '^==[0-9]+==|SUMMARY|ERROR' "$log" | head -20 || true
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$log" | tail -2 || true
done

echo "== mutation sweep of $sweep_count files"
python_module=()
if ! python3 -c 'import quarrow' 2>/dev/null; then
  echo "   (building the module into $WORK-python)"
  cmake -S . -B "$WORK-python" -G Ninja -DQUARROW_PYTHON=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$WORK-python" -j "$JOBS" >/dev/null
  python_module=(env "PYTHONPATH=$PWD/$WORK-python/python")
fi
"${python_module[@]}" python3 fuzz/sweep.py --seeds "$seeds" --count "$sweep_count" \
  --faults "$WORK/sweep-faults" || status=1
exit $status
