#!/bin/bash
# Times navo-image on a 256 MiB image whose FTPR directory lies at its end
# (the whole image is searched) against `cat FILE > /dev/null`, in one run; then
# the peak memory of both Linux tools on a 1 GiB image.
#   tools/bench-navo-image.sh PATH-TO-navo-image PATH-TO-chksum [RUNS]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"
TOOL="$1"
CHKSUM="$2"
RUNS="${3:-11}"
FILE="$DATA/ftpr-end-256m.bin"
BIG="$DATA/ftpr-end-1g.bin"

if [ ! -f "$FILE" ]; then
  random_file "$DATA/random-256m.bin" 268435456
  cp "$DATA/random-256m.bin" "$FILE.tmp"
  put_ftpr "$FILE.tmp" $((268435456 - 0x10000))
  mv "$FILE.tmp" "$FILE"
fi
cat "$FILE" >/dev/null  # into the page cache

found=$("$TOOL" --json "$FILE" | sed -n 's/.*"version": "\([0-9.]*\)".*/\1/p')
if [ "$found" != "12.0.64.1551" ]; then
  echo "bench-navo-image: version not found (got '$found')" >&2
  exit 1
fi
pairs navo-image cat 1.5 "$RUNS" "256 MiB, FTPR at the end, cached" -- "$TOOL" "$FILE" -- cat "$FILE"

# Peak memory on 1 GiB: a sparse file (no disk space), FTPR at its end.
if [ ! -f "$BIG" ]; then
  truncate -s 1G "$BIG.tmp"
  put_ftpr "$BIG.tmp" $((1073741824 - 0x10000))
  mv "$BIG.tmp" "$BIG"
fi
for tool in "$TOOL" "$CHKSUM"; do
  kib=$(/usr/bin/time -f %M "$tool" "$BIG" 2>&1 >/dev/null | tail -1)
  awk -v n="$(basename "$tool")" -v k="$kib" 'BEGIN {
    printf "%s peak memory on 1 GiB: %.1f MiB (limit 16, %s)\n", n, k / 1024, (k <= 16384 ? "ok" : "OVER") }'
done
