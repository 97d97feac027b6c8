#!/bin/bash
# Runs the libFuzzer targets one after the other, each for a fixed time, at the
# lowest priority (the machine is shared).
#   tests/fuzz/run.sh BUILD_DIR SECONDS [NAME...]     (NAME: image_locator, heci, ...)
# Each target starts from its seeds (tests/fuzz/corpus/NAME) and the corpus it
# grew in earlier runs (BUILD_DIR/corpus/NAME); a dictionary tests/fuzz/NAME.dict
# and extra flags in tests/fuzz/options/NAME are used when present. A finding
# stops the run with its input under BUILD_DIR/artifacts/NAME/; once fixed, copy
# it to tests/fuzz/regressions/NAME/ so that CTest replays it for good.
# A summary (executions, coverage) goes to BUILD_DIR/fuzz-summary.txt.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$1"
SECONDS_EACH="$2"
shift 2

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for src in "$ROOT"/tests/fuzz/fuzz_*.cpp; do
    n=$(basename "$src" .cpp)
    names+=("${n#fuzz_}")
  done
fi

# Undefined behaviour is a finding like a crash.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"

summary="$BUILD/fuzz-summary.txt"
: >"$summary"
status=0
for name in "${names[@]}"; do
  bin="$BUILD/fuzz_$name"
  if [ ! -x "$bin" ]; then
    echo "fuzz: $bin is not built" >&2
    status=1
    continue
  fi
  work="$BUILD/corpus/$name"
  artifacts="$BUILD/artifacts/$name"
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="$SECONDS_EACH" -timeout=10 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  [ -f "$ROOT/tests/fuzz/$name.dict" ] && args+=(-dict="$ROOT/tests/fuzz/$name.dict")
  if [ -f "$ROOT/tests/fuzz/options/$name" ]; then
    read -r -a extra <"$ROOT/tests/fuzz/options/$name"
    args+=("${extra[@]}")
  fi
  seeds=()
  [ -d "$ROOT/tests/fuzz/corpus/$name" ] && seeds+=("$ROOT/tests/fuzz/corpus/$name")
  log="$BUILD/fuzz-$name.log"
  echo "== fuzzing $name for $SECONDS_EACH s"
  nice -n 19 "$bin" "${args[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  line=$(printf '%-16s %4ss  executions %10s  %s  corpus %s files' \
         "$name" "$SECONDS_EACH" "${execs:-?}" "${cov:-cov: ?}" "$corpus")
  echo "$line" | tee -a "$summary"
  if [ $rc -ne 0 ]; then
    echo "fuzz: $name found a problem (exit $rc); input and log:" >&2
    ls "$artifacts" >&2
    grep -E 'ERROR|fuzz check failed|runtime error|SUMMARY' "$log" | head -5 >&2
    echo "  $log" >&2
    status=1
  fi
done
exit $status
