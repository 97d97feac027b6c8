#!/bin/sh
# The Linux checksum tool on real files: report text, exit statuses, refusal
# of a directory, its Linux command line. Usage: chksum_cli.sh PATH-TO-chksum
set -u
tool="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
version="$("$root/tools/utility-version.sh" --build)"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0

expect() {  # expect NAME STATUS EXPECTED-OUTPUT EXPECTED-ERRORS -- ARGS...
  name="$1"; want_status="$2"; want="$3"; want_err="$4"; shift 5
  got="$("$tool" "$@" 2>"$dir/stderr")"
  status=$?
  err="$(cat "$dir/stderr")"
  if [ "$got" != "$want" ] || [ "$err" != "$want_err" ] || [ "$status" != "$want_status" ]; then
    printf 'FAIL %s: status %s (want %s)\n--- got\n%s\n%s\n--- want\n%s\n%s\n' \
      "$name" "$status" "$want_status" "$got" "$err" "$want" "$want_err"
    failures=$((failures + 1))
  fi
}

head -c 70000 /dev/zero | tr '\0' '\377' >ff.bin
# Over a megabyte: read in several pieces.
head -c 1048579 /dev/zero | tr '\0' '\377' >big.bin
printf 'abc' >Mixed.Case
printf 'abc' >./-x
: >empty.bin
mkdir folder
# A name in Latin-1, not UTF-8: opened and printed as the bytes it is.
latin1="$(printf 'M\374ller.bin')"
printf 'abc' >"$latin1"

expect ff 0 "======= File Info =======
File name            : ff.bin
File size            : 0x11170
Checksum(File Size)  : 0x01105E90
Checksum(ZAN History): 5E90" "" -- ff.bin
expect big 0 "======= File Info =======
File name            : big.bin
File size            : 0x100003
Checksum(File Size)  : 0x0FF002FD
Checksum(ZAN History): 02FD" "" -- big.bin
expect name-as-typed 0 "======= File Info =======
File name            : ./Mixed.Case
File size            : 0x3
Checksum(File Size)  : 0x00000126
Checksum(ZAN History): 0126" "" -- ./Mixed.Case
expect latin1-name 0 "======= File Info =======
File name            : $latin1
File size            : 0x3
Checksum(File Size)  : 0x00000126
Checksum(ZAN History): 0126" "" -- "$latin1"
expect empty 0 "======= File Info =======
File name            : empty.bin
File size            : 0x0
Checksum(File Size)  : 0x00000000
Checksum(ZAN History): 0000" "" -- empty.bin
expect standard-input 0 "======= File Info =======
File name            : -
File size            : 0x11170
Checksum(File Size)  : 0x01105E90
Checksum(ZAN History): 5E90" "" -- - <ff.bin
expect dash-name-after-options-end 0 "======= File Info =======
File name            : -x
File size            : 0x3
Checksum(File Size)  : 0x00000126
Checksum(ZAN History): 0126" "" -- -- -x
expect missing 14 "" "chksum: missing.bin: cannot open: No such file or directory" -- missing.bin
expect terminal-escape-in-name 14 "" "chksum: 'x'\$'\\033''[2J': cannot open: No such file or directory" \
  -- "$(printf 'x\033[2J')"
expect directory 15 "" "chksum: folder: is a directory" -- folder
expect read-failure 7 "" "chksum: /proc/self/mem: cannot read: Input/output error" -- /proc/self/mem
expect no-argument 2 "" "chksum: no FILE given
Try 'chksum --help'." --
expect two-arguments 2 "" "chksum: one FILE only, 2 given
Try 'chksum --help'." -- a b
expect unknown-option 2 "" "chksum: unknown option -s
Try 'chksum --help'." -- -s ff.bin
expect version 0 "CheckSum Version: 1.0
Usage is: CHKSUM <filename.ext> " "" -- '?x'
expect version-option 0 "chksum $version" "" -- --version
if [ "$("$tool" --help | head -n 1)" != "Usage: chksum FILE" ]; then
  echo "FAIL: --help does not start with the usage"; failures=$((failures + 1))
fi

# Output must carry plain "\n" line ends, as other Linux tools do.
if "$tool" ff.bin | grep -q "$(printf '\r')"; then
  echo "FAIL: carriage return in output"; failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "chksum_cli: all passed"
exit "$failures"
