# Shared by the tools/bench-*.sh scripts: test files in the page cache and
# median wall-clock times of commands run in turns.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DATA="$ROOT/build/bench/data"
mkdir -p "$DATA"

# random_file PATH BYTES: pseudo-random bytes, made once.
random_file() {
  if [ ! -f "$1" ] || [ "$(stat -c %s "$1")" -ne "$2" ]; then
    head -c "$2" /dev/urandom >"$1.tmp" && mv "$1.tmp" "$1"
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

# median_ms RUNS CMD... -> median wall-clock milliseconds of RUNS runs.
median_ms() {
  local runs="$1" start end
  shift
  local -a times=()
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

# ratio A B LIMIT -> "ratio X.XX (limit L, ok|over)"
ratio() {
  awk -v a="$1" -v b="$2" -v l="$3" 'BEGIN {
    r = (b > 0 ? a / b : 0); printf "ratio %.2f (limit %.2f, %s)", r, l, (r <= l ? "ok" : "OVER") }'
}
