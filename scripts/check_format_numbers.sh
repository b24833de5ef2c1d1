#!/usr/bin/env bash
# Fails when an on-disk format number is written outside src/format/.
#
# Every fact of the file format (offsets, masks, flag bits, version gates, sizes,
# codepages) has one named home in src/format/; the parsing layers use the names.
# This looks in those layers, comments stripped, for
#   - hexadecimal literals, except all-F ones (0xF, 0xFF, 0xFFFF, ...: type maxima and
#     nibble masks, not format facts), and
#   - decimal numbers that are known format facts (page sizes and the large-page
#     threshold, header offsets, codepages, the LOGTIME year base, the OLE date epoch,
#     the 16 MiB release interval).
# In the folders that parse or write file bytes it also looks for positions written as
# numbers, which are format facts just the same:
#   - indexing with a literal other than 0 (`b[3]`, `value[1]`), and
#   - a literal added to or taken from an offset inside an index or the offset argument
#     of a load, store or bounds check (`data[pos + 1]`, `load_u16le(b, at + 2)`).
# Not counted: array declarations (`char buf[64]`), elements of arrays of structures
# (`copies[1].checksum_ok`: the `.` or `->` says it is no byte), and a loop index's
# neighbour (`i + 1`, `k - 1` with a one-letter index), which is no offset of the file.
# Files whose constants belong to another format (Unicode and UTF-8, the XPRESS/LZ4
# bit streams, the checksum's bit arithmetic, JSON escapes, SIMD character ranges)
# are listed in ALLOW_FILES; single lines in ALLOW_LINES ("path:text").
set -euo pipefail
cd "$(dirname "$0")/.."

DIRS=(src/page src/database src/record src/forensic src/export src/log src/replay src/profiles src/report)
PARSING_DIRS=(src/page src/database src/record src/forensic src/log src/replay)
ALLOW_FILES=(
  src/record/text.cpp          # UTF-8 / UTF-16 / windows-1252 code points
  src/record/compression.cpp   # XPRESS and LZ4 stream internals
  src/page/checksum.cpp        # ECC bit arithmetic
  src/forensic/carve_scan.cpp  # printable UTF-16 ranges for the SIMD scan
  src/export/json_lines.cpp    # JSON escapes
)
ALLOW_LINES=(
  "src/database/traversal.cpp:limit_ < 0xFFFFFFF0u"         # keeps limit_ + 2 from wrapping
  "src/export/arrow_batch.cpp:kReserveBytes = 16u << 20"    # first buffer reservation
  "src/export/arrow_buffer.cpp:capacity <= 2 * need + 4096" # buffer reuse slack
  "src/profiles/view_values.cpp:lookup_cache->size() < 4096" # cache bound
  "src/forensic/page_owners.h:&names_[owner - 1]"           # owners are numbered from 1
)

PATTERN='0x[0-9A-Fa-f]+|\b(8192|16384|32768|2048|4096|1252|1200|20127|1900|25569|232|236|667|660)\b|\b16u?l?l? *<< *20\b'
# Positions: a literal index; a literal offset at the end of an index; a literal offset
# in the arguments of a load, store or bounds check.
POSITION_PATTERN='\b[A-Za-z_][A-Za-z_0-9]*(\(\))?\[[1-9][0-9]*\]|\[[^][]*[-+] *[1-9][0-9]*\)*\]'
POSITION_PATTERN+='|\b(load|read|store|set|put)_[a-z_0-9]*\([^;]*[-+] *[1-9][0-9]*\b|\bin_bounds\([^;]*[-+] *[1-9][0-9]*\b'
DECLARATION='\b(char|bool|int|unsigned|float|double|auto|std::[a-z_0-9]+|[a-z_0-9]+_t|[A-Z][A-Za-z0-9_]*)\s*\*?\s+[A-Za-z_][A-Za-z_0-9]*\[[^]]*\]'

allowed() {  # file, text
  local a
  for a in "${ALLOW_FILES[@]}"; do [ "$1" = "$a" ] && return 0; done
  for a in "${ALLOW_LINES[@]}"; do
    [ "${a%%:*}" = "$1" ] && [[ "$2" == *"${a#*:}"* ]] && return 0
  done
  return 1
}

is_parsing() {  # file
  local d
  for d in "${PARSING_DIRS[@]}"; do [[ "$1" == "$d"/* ]] && return 0; done
  return 1
}

status=0
while IFS= read -r file; do
  # Comments out (// to the end of the line; lines of /* */ blocks that start with *),
  # all-F literals out, then look for what is left.
  while IFS= read -r hit; do
    text=${hit#*:}
    allowed "$file" "$text" && continue
    echo "$file:${hit%%:*}: format number outside src/format: $text"
    status=1
  done < <(sed -E -e 's://.*$::' -e 's:^\s*\*.*$::' -e 's/\b0x[Ff]+[uUlL]*\b/MAX/g' "$file" |
           grep -nE "$PATTERN" || true)
  is_parsing "$file" || continue
  # Comments and string literals out, then declarations, elements of structure arrays
  # and a loop index's neighbours.
  while IFS= read -r hit; do
    text=${hit#*:}
    allowed "$file" "$(sed -n "${hit%%:*}p" "$file")" && continue
    echo "$file:${hit%%:*}: format position outside src/format: $text"
    status=1
  done < <(sed -E -e 's://.*$::' -e 's:^\s*\*.*$::' -e 's/"([^"\\]|\\.)*"/""/g' \
               -e "s/$DECLARATION/DECLARATION/g" -e 's/\[[^][]*\](\.|->)/ELEMENT/g' \
               -e 's/\b[ijkn] *[-+] *1\b/NEIGHBOUR/g' "$file" |
           grep -nE "$POSITION_PATTERN" || true)
done < <(find "${DIRS[@]}" \( -name '*.cpp' -o -name '*.h' \) | sort)

[ $status = 0 ] && echo "format numbers: none outside src/format"
exit $status
