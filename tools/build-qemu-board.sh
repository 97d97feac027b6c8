#!/bin/bash
# Builds a QEMU 7.2 (x86_64 system emulator only) that carries our emulated
# board EC (tools/qemu-board/zan_ec.c) so the firmware tests and `make run` have
# something answering on the EC host ports 0x68/0x6C, and our emulated ME
# (tools/qemu-board/zan_mei.c) so the Linux tool meets the kernel's real MEI driver.
#
#   result: .cache/qemu-board/build/qemu-system-x86_64  (finds Debian's ROMs by itself)
#
# QEMU comes from Debian's `qemu` source package, fetched through a private
# deb-src apt configuration so the system's apt sources stay untouched.
# Safe to run again: with the binary built from the current device sources it
# returns at once; a changed device source (or this script) rebuilds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A pyenv shim first on PATH confuses QEMU's configure with the system's meson.
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
CACHE="$ROOT/.cache/qemu-board"
DL="$CACHE/dl"
SRC="$CACHE/src"
BUILD="$CACHE/build"
BIN="$BUILD/qemu-system-x86_64"
DEV="$ROOT/tools/qemu-board"
VERSION="7.2"
PACKAGES=(dpkg-dev xz-utils build-essential pkg-config ninja-build meson python3-venv
          libglib2.0-dev libpixman-1-dev libfdt-dev
          # ROMs the binary loads at run time (it installs none of its own)
          qemu-system-data seabios ipxe-qemu ovmf)

log() { printf 'qemu-board: %s\n' "$*"; }

# Everything that decides what the binary contains goes into the stamp.
stamp_of() {
  cat "$DEV/zan_ec.c" "$DEV/zan_mei.c" "$DEV/Kconfig" "$DEV/trace-events" "${BASH_SOURCE[0]}" | sha256sum | cut -d' ' -f1
}
STAMP_FILE="$CACHE/built.stamp"
want="$(stamp_of)"
if [ -x "$BIN" ] && [ -L "$BUILD/qemu-bundle/usr/share/seabios" ] &&
   [ "$(cat "$STAMP_FILE" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

mkdir -p "$CACHE"
exec 9>"$CACHE/.lock"
flock 9
if [ -x "$BIN" ] && [ -L "$BUILD/qemu-bundle/usr/share/seabios" ] &&
   [ "$(cat "$STAMP_FILE" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

# --- packages ---------------------------------------------------------------
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  apt-get -q update
  DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends "${missing[@]}"
fi

# --- source -----------------------------------------------------------------
if [ ! -f "$SRC/.extracted" ]; then
  mirror=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    mirror="$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)"
  fi
  if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror="$(awk '$1 == "deb" && $0 ~ /bookworm/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list)"
  fi
  mirror="${mirror:-http://deb.debian.org/debian}"
  mkdir -p "$DL/sources" "$DL/lists/partial" "$DL/cache/archives/partial" "$DL/pkg"
  # bookworm-updates carries the point-release fixes of the same 7.2 line.
  cat >"$DL/sources/qemu-src.sources" <<SRCS
Types: deb-src
URIs: $mirror
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRCS
  APT=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$DL/sources"
       -o "Dir::State::Lists=$DL/lists" -o "Dir::Cache=$DL/cache")
  if ! ls "$DL"/pkg/qemu_*.dsc >/dev/null 2>&1; then
    log "downloading the qemu source package from $mirror"
    apt-get -qq "${APT[@]}" update
    ver="$(apt-cache "${APT[@]}" showsrc qemu | awk '/^Version:/ { print $2 }' |
           grep -E "^(1:)?${VERSION}[+.~-]" | sort -V | tail -1)"
    [ -n "$ver" ] || { log "no qemu ${VERSION} source package found"; exit 1; }
    (cd "$DL/pkg" && apt-get -qq "${APT[@]}" source --download-only "qemu=$ver") \
      >"$CACHE/fetch.log" 2>&1 || { cat "$CACHE/fetch.log"; exit 1; }
  fi
  dsc="$(ls "$DL"/pkg/qemu_*.dsc | sort -V | tail -1)"
  log "extracting $(basename "$dsc")"
  rm -rf "$SRC.tmp" "$SRC" "$BUILD"
  dpkg-source -q -x "$dsc" "$SRC.tmp" >"$CACHE/extract.log" 2>&1 || {
    cat "$CACHE/extract.log"; exit 1; }
  mv "$SRC.tmp" "$SRC"
  touch "$SRC/.extracted"
fi

# --- our device into the tree -------------------------------------------------
# Each registration is a marked block that is replaced on every run, so edits to
# the files under tools/qemu-board/ reach the tree without a fresh extract.
replace_block() { # file, text
  local file="$1" text="$2"
  sed -i '/^# zan-ec begin$/,/^# zan-ec end$/d' "$file"
  printf '# zan-ec begin\n%s\n# zan-ec end\n' "$text" >>"$file"
}
cp "$DEV/zan_ec.c" "$SRC/hw/misc/zan_ec.c"
cp "$DEV/zan_mei.c" "$SRC/hw/misc/zan_mei.c"
replace_block "$SRC/hw/misc/Kconfig" "$(cat "$DEV/Kconfig")"
replace_block "$SRC/hw/misc/meson.build" \
  "softmmu_ss.add(when: 'CONFIG_ZAN_EC', if_true: files('zan_ec.c'))
softmmu_ss.add(when: 'CONFIG_ZAN_MEI', if_true: files('zan_mei.c'))"
replace_block "$SRC/hw/misc/trace-events" "$(cat "$DEV/trace-events")"

# --- configure ----------------------------------------------------------------
# configure takes the name of a devices file in the source tree's configs.
DEVICES_MAK="$SRC/configs/devices/x86_64-softmmu/zan-ec.mak"
cat >"$CACHE/x86_64-zan.mak.new" <<'MAK'
# q35 with its own chipset devices (ICH9 LPC with the ISA bus, AHCI, pflash,
# ISA serial), the VGA and parallel port that q35 adds unless told not to
# (so the usual command lines work unchanged), an xHCI controller with USB
# mass storage (the service stick boots from USB, as on a real board), plus
# our EC and our ME (a plain PCI function with MSI, which q35 already carries).
CONFIG_Q35=y
CONFIG_VGA_PCI=y
CONFIG_PARALLEL=y
CONFIG_USB_XHCI_PCI=y
CONFIG_USB_STORAGE_CLASSIC=y
CONFIG_ZAN_EC=y
CONFIG_ZAN_MEI=y
MAK
CONFIGURE_ARGS=(--target-list=x86_64-softmmu --without-default-features --without-default-devices
  --with-devices-x86_64=zan-ec --audio-drv-list= --disable-debug-info
  --enable-fdt=system --disable-install-blobs --disable-werror --disable-docs
  --disable-guest-agent --disable-tools
  # Debian's ROM directories, as Debian's own build has them; -L /usr/share/qemu also works
  --firmwarepath=/usr/share/qemu:/usr/share/seabios:/usr/lib/ipxe/qemu)
# The Kconfig text is read by configure only, so a change to it reconfigures.
args_now="$(printf '%s\n' "${CONFIGURE_ARGS[@]}"; cat "$CACHE/x86_64-zan.mak.new" "$DEV/Kconfig")"
if [ ! -f "$BUILD/build.ninja" ] || [ "$(cat "$CACHE/configure.args" 2>/dev/null)" != "$args_now" ]; then
  mv "$CACHE/x86_64-zan.mak.new" "$DEVICES_MAK"
  # configure runs again in place; ninja then rebuilds only what changed.
  mkdir -p "$BUILD"
  log "configuring"
  (cd "$BUILD" && "$SRC/configure" "${CONFIGURE_ARGS[@]}") >"$CACHE/configure.log" 2>&1 || {
    tail -40 "$CACHE/configure.log"; exit 1; }
  printf '%s' "$args_now" >"$CACHE/configure.args"
else
  rm -f "$CACHE/x86_64-zan.mak.new"
fi

# --- build --------------------------------------------------------------------
log "building qemu-system-x86_64 (about 1.5 minutes on 2 cores when clean)"
ninja -C "$BUILD" -j"$(nproc)" qemu-system-x86_64 >"$CACHE/build.log" 2>&1 || {
  grep -E -A5 'error|FAILED' "$CACHE/build.log" | head -60; exit 1; }
# Run from the build tree, QEMU looks for its ROMs only inside build/qemu-bundle
# (the firmware path prefixed by it); point those places at Debian's ROMs.
for d in /usr/share/qemu /usr/share/seabios /usr/lib/ipxe/qemu; do
  mkdir -p "$BUILD/qemu-bundle$(dirname "$d")"
  rm -rf "$BUILD/qemu-bundle$d"
  ln -s "$d" "$BUILD/qemu-bundle$d"
done
printf '%s\n' "$want" >"$STAMP_FILE"
log "ready: $BIN"
