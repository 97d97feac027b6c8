#!/bin/bash
# Builds the diskless Linux guest that plays a factory test station: Debian's
# own kernel with its mei.ko and mei-me.ko, busybox-static and a statically
# linked navo-board in an initramfs whose /init (tests/station/init.sh) runs
# the cases it is given and powers off.
#
#   result: .cache/station/vmlinuz, .cache/station/initramfs.gz
#
# The kernel comes from the linux-image-6.1.0-*-amd64 package that
# linux-image-amd64 depends on and busybox from busybox-static, both fetched
# with `apt-get download` into .cache/station/dl and kept there: a later run
# reuses them even when the archive has moved on, so the guest stays the same
# until that directory is emptied. Nothing is installed on the host.
# Safe to run again: navo-board is brought up to date by its own build
# (build/station), and the initramfs is packed again only when one of its
# inputs changed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
CACHE="$ROOT/.cache/station"
DL="$CACHE/dl"
PKG="$CACHE/pkg"
BUILD="$ROOT/build/station"
INIT="$ROOT/tests/station/init.sh"
KERNEL_SERIES="6.1.0"

log() { printf 'station: %s\n' "$*"; }

mkdir -p "$DL" "$PKG"
exec 9>"$CACHE/.lock"
flock 9

# --- packages -------------------------------------------------------------------
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
updated=0
apt_known() { apt-cache show "$1" >/dev/null 2>&1; }
need_lists() { # package: refresh the package lists once when apt does not know it
  if ! apt_known "$1" && [ "$updated" -eq 0 ]; then
    log "apt-get update (no $1 in the package lists)"
    $SUDO apt-get -q update >/dev/null
    updated=1
  fi
}
download() { # package
  need_lists "$1"
  log "downloading $1"
  (cd "$DL" && apt-get -q download "$1") >"$CACHE/download.log" 2>&1 || {
    cat "$CACHE/download.log"; exit 1; }
}

# shellcheck disable=SC2086 # $1 is a pattern
newest() { { ls "$DL"/$1 2>/dev/null || true; } | sort -V | tail -1; }

kernel_deb="$(newest "linux-image-${KERNEL_SERIES}-*-amd64_*_amd64.deb")"
if [ -z "$kernel_deb" ]; then
  need_lists linux-image-amd64
  kernel_pkg="$(apt-cache depends linux-image-amd64 2>/dev/null |
                awk -v s="linux-image-${KERNEL_SERIES}-" '$1 == "Depends:" && index($2, s) == 1 { print $2; exit }')"
  [ -n "$kernel_pkg" ] || { log "linux-image-amd64 names no linux-image-${KERNEL_SERIES}-* package"; exit 1; }
  download "$kernel_pkg"
  kernel_deb="$(newest "${kernel_pkg}_*_amd64.deb")"
fi
busybox_deb="$(newest "busybox-static_*_amd64.deb")"
if [ -z "$busybox_deb" ]; then
  download busybox-static
  busybox_deb="$(newest "busybox-static_*_amd64.deb")"
fi
if [ -z "$kernel_deb" ] || [ -z "$busybox_deb" ]; then log "a download left no package in $DL"; exit 1; fi

# --- what the guest takes from them ---------------------------------------------
# Only the kernel and the two modules leave the kernel package (its whole tree
# would be some 400 MB); each package is unpacked once per file name.
unpack() { # deb, tar member patterns...
  local deb="$1"; shift
  local dir
  dir="$PKG/$(basename "$deb" .deb)"
  if [ ! -f "$dir/.unpacked" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$dir" --wildcards "$@"
    touch "$dir/.unpacked"
  fi
  printf '%s\n' "$dir"
}
kdir="$(unpack "$kernel_deb" './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/misc/mei/mei.ko*' \
                             './lib/modules/*/kernel/drivers/misc/mei/mei-me.ko*')"
bdir="$(unpack "$busybox_deb" './bin/busybox')"
vmlinuz="$(find "$kdir/boot" -name 'vmlinuz-*' | head -1)"
modules="$(ls -d "$kdir"/lib/modules/*/kernel/drivers/misc/mei)"
for m in mei mei-me; do
  # busybox's insmod takes plain modules; later kernel packages compress them.
  if [ ! -f "$modules/$m.ko" ] && [ -f "$modules/$m.ko.xz" ]; then xz -dk "$modules/$m.ko.xz"; fi
  [ -f "$modules/$m.ko" ] || { log "no $m.ko in $(basename "$kernel_deb")"; exit 1; }
done

# --- navo-board, linked statically ------------------------------------------------
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DCMAKE_EXE_LINKER_FLAGS=-static >"$CACHE/cmake.log" 2>&1 || { cat "$CACHE/cmake.log"; exit 1; }
fi
ninja -C "$BUILD" navo-board >"$CACHE/ninja.log" 2>&1 || { cat "$CACHE/ninja.log"; exit 1; }

# --- the initramfs ------------------------------------------------------------------
INPUTS=("$INIT" "$bdir/bin/busybox" "$modules/mei.ko" "$modules/mei-me.ko" "$BUILD/navo-board"
        "${BASH_SOURCE[0]}")
want="$(cat "${INPUTS[@]}" | sha256sum | cut -d' ' -f1)"
if [ -f "$CACHE/initramfs.gz" ] && [ "$(cat "$CACHE/initramfs.stamp" 2>/dev/null)" = "$want" ] &&
   cmp -s "$vmlinuz" "$CACHE/vmlinuz"; then
  exit 0
fi
root="$CACHE/root"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules,station}
install -m 0755 "$bdir/bin/busybox" "$root/bin/busybox"
install -m 0755 "$BUILD/navo-board" "$root/bin/navo-board"
install -m 0644 "$modules/mei.ko" "$modules/mei-me.ko" "$root/lib/modules/"
install -m 0755 "$INIT" "$root/init"
# Sorted names, owner root and one time stamp: the same inputs pack the same bytes.
find "$root" -exec touch -h -d @0 {} +
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort |
   cpio -o -H newc -R 0:0 --reproducible --quiet | gzip -n -9) >"$CACHE/initramfs.gz.tmp"
mv "$CACHE/initramfs.gz.tmp" "$CACHE/initramfs.gz"
cp "$vmlinuz" "$CACHE/vmlinuz"
printf '%s\n' "$want" >"$CACHE/initramfs.stamp"
rm -rf "$root"
log "ready: $CACHE/vmlinuz ($(basename "$vmlinuz")), $CACHE/initramfs.gz ($(du -k "$CACHE/initramfs.gz" | cut -f1) KiB)"
