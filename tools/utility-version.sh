#!/bin/sh
# Prints the utility's version, e.g. 1.1.0. The one place it is kept is
# navo/main.cpp (the banner's kVersion* constants); the stick and the Debian
# package take it from there.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
field() { sed -n "s/^constexpr int kVersion$1 = \([0-9]*\);\$/\1/p" "$root/navo/main.cpp"; }
major=$(field Major)
minor=$(field Minor)
patch=$(field Patch)
if [ -z "$major" ] || [ -z "$minor" ] || [ -z "$patch" ]; then
  echo "utility-version: no version in navo/main.cpp" >&2
  exit 1
fi
echo "$major.$minor.$patch"
