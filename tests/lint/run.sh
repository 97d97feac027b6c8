#!/bin/bash
# Static checks over the tree: clang-tidy (configuration: .clang-tidy at the
# root) and cppcheck (suppressions: tests/lint/cppcheck-suppressions.txt).
#   tests/lint/run.sh [BUILD_DIR]     (default build/host; configured if needed)
# Fails when either tool reports anything. The sources are those the host build
# compiles (its compile_commands.json) plus the UEFI platform layer and the two
# application entries, which cppcheck reads without a compile database.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$ROOT"
BUILD="${1:-build/host}"
JOBS="$(nproc)"

# Configure every time: the compile database must list today's sources, not
# files that have since been removed or added.
cmake -S . -B "$BUILD" -G Ninja >/dev/null || exit 1

# Test code and the simulated board are held to the bug checks, but not to
# the ones about speed and C library results: copies of small test values,
# growing vectors, diagnostics to stderr right before an abort, fixed random
# seeds (wanted: every run sees the same cases), padding in case tables, and
# the narrowing of small loop counts and offsets in test data.
TEST_RELAXED="-performance-*,-cert-err33-c,-cert-msc32-c,-cert-msc51-cpp,\
-clang-analyzer-optin.performance.Padding,-bugprone-narrowing-conversions,\
-bugprone-implicit-widening-of-multiplication-result,-readability-non-const-parameter"

mapfile -t all < <(python3 - "$BUILD/compile_commands.json" <<'PY'
import json, sys
for f in sorted({e["file"] for e in json.load(open(sys.argv[1]))}):
    print(f)
PY
)
product=()
tests=()
for f in "${all[@]}"; do
  case "${f#"$ROOT"/}" in
    tests/*) tests+=("$f") ;;
    *) product+=("$f") ;;
  esac
done

report="$BUILD/lint-report.txt"
: >"$report"
echo "== clang-tidy: ${#product[@]} product and ${#tests[@]} test sources"
run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" "${product[@]}" >>"$report" 2>/dev/null
run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" -checks="$TEST_RELAXED" "${tests[@]}" >>"$report" 2>/dev/null
# The benchmarks are not in the host build; the loop variable of Google
# Benchmark's `for (auto _ : state)` is never read, by design.
for f in tests/bench/*.cpp; do
  clang-tidy --quiet -checks="$TEST_RELAXED,-clang-analyzer-deadcode.DeadStores" "$f" -- \
    -x c++ -std=c++20 -I. >>"$report" 2>/dev/null
done

# The UEFI side, against the EDK II headers once `make setup` has fetched them:
# the C platform layer and application entries (UCS-2 wide strings, as EDK II
# builds them), and the C++ runtime glue. Two checks are off here, on purpose:
# the platform layer reads the legacy BIOS area at its fixed physical address
# (performance-no-int-to-ptr), and the runtime glue defines libstdc++'s own
# variadic __throw_out_of_range_fmt (cert-dcl50-cpp).
EDK2="$ROOT/.cache/edk2"
if [ -d "$EDK2/MdePkg/Include" ]; then
  echo "== clang-tidy: UEFI layer"
  for f in platform/uefi/*.c navo/app/*.c navo/recorder/app/*.c chksum/app/*.c; do
    clang-tidy --quiet -checks=-performance-no-int-to-ptr "$f" -- -x c -std=gnu11 -fshort-wchar \
      -ffreestanding -I. -I"$EDK2/MdePkg/Include" -I"$EDK2/MdePkg/Include/X64" \
      -I"$EDK2/ShellPkg/Include" -I"$EDK2/MdeModulePkg/Include" >>"$report" 2>/dev/null
  done
  clang-tidy --quiet -checks=-cert-dcl50-cpp platform/uefi/cxx_runtime.cpp -- -x c++ -std=c++20 \
    -fno-exceptions -fno-rtti -ffreestanding -I. >>"$report" 2>/dev/null
else
  echo "== clang-tidy: UEFI layer skipped (no EDK II in .cache/edk2; make setup fetches it)"
fi
tidy=$(sed 's/\x1b\[[0-9;]*m//g' "$report" | grep -E ': (warning|error):' | sort -u)

echo "== cppcheck"
cppcheck_out="$BUILD/cppcheck-report.txt"
cppcheck --project="$BUILD/compile_commands.json" --library=googletest \
  --enable=warning,performance,portability,style --std=c++20 --inline-suppr -q -j "$JOBS" \
  --suppressions-list=tests/lint/cppcheck-suppressions.txt \
  --template='{file}:{line}: {severity}: {message} [{id}]' 2>"$cppcheck_out" ||
  echo "cppcheck: failed to run over $BUILD/compile_commands.json" >>"$cppcheck_out"
# The UEFI side: C against EDK II headers that cppcheck need not read.
cppcheck --enable=warning,performance,portability,style --std=c11 --inline-suppr -q \
  --suppressions-list=tests/lint/cppcheck-suppressions.txt -I . \
  --template='{file}:{line}: {severity}: {message} [{id}]' \
  platform/uefi/*.c platform/uefi/*.cpp navo/app/*.c navo/recorder/app/*.c chksum/app/*.c 2>>"$cppcheck_out" ||
  echo "cppcheck: failed to run over the UEFI layer" >>"$cppcheck_out"
checks=$(sed "s|^$ROOT/||" "$cppcheck_out" | sort -u)

status=0
if [ -n "$tidy" ]; then
  echo "$tidy" | sed "s|^$ROOT/||"
  echo "clang-tidy: $(echo "$tidy" | wc -l) warnings" >&2
  status=1
fi
if [ -n "$checks" ]; then
  echo "$checks"
  echo "cppcheck: $(echo "$checks" | wc -l) findings" >&2
  status=1
fi
[ $status -eq 0 ] && echo "== lint clean"
exit $status
