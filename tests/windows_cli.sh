#!/usr/bin/env bash
# quarrow.exe under Wine against the Linux build of the same tool: exporting (JSON Lines
# and CSV) and carving every sample database must give byte-identical output and the
# same exit status; then names with spaces and non-ASCII characters, a read-only input,
# and the refusal to export onto the database file itself.
#   tests/windows_cli.sh WINDOWS_EXE [LINUX_EXE]   (run from the repository root)
set -euo pipefail
WIN=$1
LINUX=${2:-build/tests/quarrow}
DATA=../shared/data
WORK=build/windows-cli
export WINEDEBUG=-all
rm -rf "$WORK" && mkdir -p "$WORK"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Runs both tools with the same arguments ("@OUT@" becomes a per-tool directory);
# the standard outputs and the exit statuses must agree, and so must the files written.
compare() {
  local label=$1; shift
  local la=() wa=() a
  for a in "$@"; do la+=("${a//@OUT@/$WORK/linux/$label}"); wa+=("${a//@OUT@/$WORK/windows/$label}"); done
  mkdir -p "$WORK/linux/$label" "$WORK/windows/$label"
  local ls=0 ws=0
  "$LINUX" "${la[@]}" >"$WORK/linux/$label.out" 2>/dev/null || ls=$?
  wine "$WIN" "${wa[@]}" >"$WORK/windows/$label.out" 2>/dev/null || ws=$?
  [ "$ls" = "$ws" ] || fail "$label: exit status $ls on Linux, $ws on Windows"
  cmp -s "$WORK/linux/$label.out" "$WORK/windows/$label.out" || fail "$label: standard output differs"
  diff -r "$WORK/linux/$label" "$WORK/windows/$label" >/dev/null || fail "$label: written files differ"
}

if [ ! -d "$DATA" ]; then
  echo "sample databases not found in $DATA: skipped"
  exit 0
fi
count=0
for db in "$DATA"/*.edb "$DATA"/*.dat "$DATA"/*.mdb; do
  [ -f "$db" ] || continue
  name=$(basename "$db")
  compare "$name.jsonl" export -q -o @OUT@ "$db"
  compare "$name.csv" export -q -f csv -o @OUT@ "$db"
  compare "$name.decoded" export -q --decoded -o @OUT@ "$db"
  for scope in slack all; do
    compare "$name.carve-$scope" carve -q -s "$scope" -k 100000 "$db"
  done
  count=$((count + 1))
done
echo "sample databases compared: $count (export as JSON Lines, CSV and decoded values, carving slack and all)"

# Names the ANSI code page cannot hold, with spaces, for the input and the output.
odd="$WORK/in dir é ü 数据"
mkdir -p "$odd"
cp "$DATA/basic.edb" "$odd/my db ü 📁.edb"
chmod a-w "$odd/my db ü 📁.edb"  # and read-only
before=$(sha256sum <"$odd/my db ü 📁.edb")
wine "$WIN" export -q -o "$WORK/out é 数据" "$odd/my db ü 📁.edb" || fail "export with non-ASCII names"
"$LINUX" export -q -o "$WORK/out-linux" "$DATA/basic.edb"
diff -r "$WORK/out é 数据" "$WORK/out-linux" >/dev/null || fail "export with non-ASCII names differs"
wine "$WIN" carve -q -s all "$odd/my db ü 📁.edb" >"$WORK/odd-carve.jsonl" || fail "carve with non-ASCII names"
"$LINUX" carve -q -s all "$DATA/basic.edb" | cmp -s - "$WORK/odd-carve.jsonl" || fail "carve with non-ASCII names differs"
[ "$before" = "$(sha256sum <"$odd/my db ü 📁.edb")" ] || fail "the read-only input changed"

# The database under the name its export would get: refused, exit status 1, unchanged.
mkdir -p "$WORK/self"
cp "$DATA/basic.edb" "$WORK/self/basic.jsonl"
before=$(sha256sum <"$WORK/self/basic.jsonl")
status=0
wine "$WIN" export -q -t basic -o "$WORK/self" "$WORK/self/basic.jsonl" 2>"$WORK/self.err" || status=$?
[ "$status" = 1 ] || fail "export onto the database itself: exit status $status"
grep -q "the database file itself" "$WORK/self.err" || fail "export onto the database itself: $(cat "$WORK/self.err")"
[ "$before" = "$(sha256sum <"$WORK/self/basic.jsonl")" ] || fail "the database file changed"

if [ "$failures" -ne 0 ]; then
  echo "$failures comparison(s) failed" >&2
  exit 1
fi
echo "quarrow.exe under Wine: all outputs identical to the Linux tool's"
