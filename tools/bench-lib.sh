# Shared by the tools/bench-*.sh scripts: test files in the page cache and
# median wall-clock times of commands run in turns.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DATA="$ROOT/build/bench/data"
mkdir -p "$DATA"

# random_file PATH BYTES: pseudo-random bytes, made once. Written in large
# blocks: the page cache then holds the file in large folios, as it does after
# reading it from disk; a file written in small pieces sits in small ones,
# which every reader (cat and sum -s too) copies out several times slower.
random_file() {
  if [ ! -f "$1" ] || [ "$(stat -c %s "$1")" -ne "$2" ]; then
    head -c "$2" /dev/urandom | dd of="$1.tmp" bs=4M iflag=fullblock status=none && mv "$1.tmp" "$1"
  fi
}

# put_ftpr PATH OFFSET: an FTPR directory at OFFSET, its manifest (12.0.64.1551)
# 0x400 behind it.
put_ftpr() {
  printf '$CPD\x05\x00\x00\x00\x01\x01\x01\x01FTPR' |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
  printf '$MN2\x00\x00\x00\x00\x0c\x00\x00\x00\x40\x00\x0f\x06' |
    dd of="$1" bs=1 seek="$(($2 + 0x400))" conv=notrunc status=none
}

# pairs LABEL-A LABEL-B LIMIT RUNS WHAT -- CMD-A... -- CMD-B...: one line with
# both CPU-time medians of interleaved pairs and their ratio against LIMIT.
pairs() {
  /usr/bin/python3 "$ROOT/tools/bench-pairs.py" "$@"
}
