#!/bin/bash
# Brings EDK II 2022.11 into .cache/edk2 from Debian's source package and builds
# its BaseTools once. Debian's patch set is applied by dpkg-source; it is what
# makes BaseTools build without the brotli sources Debian strips.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
CACHE="$ROOT/.cache"
EDK2="$CACHE/edk2"
DL="$CACHE/edk2-dl"
STAMP="$EDK2/.basetools-built"
VERSION="2022.11"

[ -f "$STAMP" ] && exit 0

log() { printf 'edk2: %s\n' "$*"; }
mkdir -p "$CACHE"
exec 9>"$CACHE/edk2-fetch.lock"
flock 9
[ -f "$STAMP" ] && exit 0

if [ ! -f "$EDK2/edksetup.sh" ]; then
  # A deb-src entry of our own, next to (not inside) the system's apt sources.
  mirror=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    mirror="$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)"
  fi
  if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror="$(awk '$1 == "deb" && $0 ~ /bookworm/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list)"
  fi
  mirror="${mirror:-http://deb.debian.org/debian}"
  mkdir -p "$DL/sources" "$DL/lists/partial" "$DL/src"
  cat >"$DL/sources/edk2-src.sources" <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  APT=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$DL/sources"
       -o "Dir::State::Lists=$DL/lists")
  if ! ls "$DL"/src/edk2_${VERSION}*.dsc >/dev/null 2>&1; then
    log "downloading the edk2 source package from $mirror"
    "${APT[@]}" update
    (cd "$DL/src" && "${APT[@]}" source --download-only "edk2=$(
      apt-cache -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$DL/sources" \
        -o "Dir::State::Lists=$DL/lists" showsrc edk2 |
        awk '/^Version:/ { print $2 }' | grep "^${VERSION}" | sort -V | tail -1)")
  fi
  dsc="$(ls "$DL"/src/edk2_${VERSION}*.dsc | sort -V | tail -1)"
  log "extracting $(basename "$dsc")"
  rm -rf "$EDK2.tmp"
  dpkg-source -q -x "$dsc" "$EDK2.tmp" >/dev/null
  rm -rf "$EDK2"
  mv "$EDK2.tmp" "$EDK2"
fi

log "building BaseTools"
make -s -j"$(nproc)" -C "$EDK2/BaseTools/Source/C" >"$CACHE/basetools-build.log" 2>&1 || {
  tail -40 "$CACHE/basetools-build.log"; exit 1; }
touch "$STAMP"
log "ready in $EDK2"
