#!/bin/bash
# `make usb`: the technician's kit, a bootable stick image and a zip of the same files.
#   tools/make-usb.sh            writes build/usb/NAVO-<version>.img and .zip
#   tools/make-usb.sh --version  prints <version> and nothing else
# <version> is the utility's version and the short commit id, with "-dirty" when tracked
# files differ from that commit (tools/utility-version.sh --kit).
#
# Environment:
#   SIGN_KEY, SIGN_CERT  both or neither: sign NAVO.efi, NAVOREC.efi and CHKSUM.efi with sbsign
#   USB_OUT              output directory (default build/usb)
#   SOURCE_DATE_EPOCH    time stamp of every file (default: the commit's date)
#
# Needs build/efi/NAVO.efi, NAVOREC.efi and CHKSUM.efi (make efi), build/efi/shell/Shell.efi and
# its License.txt (make shell) and build/host/chksum (make host).
#
# The same commit gives the same zip, SHA256SUMS and image, byte for byte: every file and
# directory carries one fixed time stamp, entries are sorted, permissions are fixed, zip
# stores no extra fields, and the file system's serial number and times are constants.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
# FAT and zip keep local times: the same for everybody.
export TZ=UTC LC_ALL=C
# Paths given relative to where the caller stands.
[ -z "${SIGN_KEY:-}" ] || SIGN_KEY=$(realpath -m -- "$SIGN_KEY")
[ -z "${SIGN_CERT:-}" ] || SIGN_CERT=$(realpath -m -- "$SIGN_CERT")
[ -z "${USB_OUT:-}" ] || USB_OUT=$(realpath -m -- "$USB_OUT")
cd "$ROOT"

die() { echo "make-usb: $*" >&2; exit 1; }

kit_version() {
  "$ROOT/tools/utility-version.sh" --kit || die "no version in navo/main.cpp"
}

if [ "${1:-}" = "--version" ]; then
  kit_version
  exit 0
fi
[ $# -eq 0 ] || die "usage: tools/make-usb.sh [--version]"

VERSION=$(kit_version)
NAME="NAVO-$VERSION"
OUT="${USB_OUT:-$ROOT/build/usb}"
EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 315532800)}"
# A FAT entry cannot hold a time before 1980.
[ "$EPOCH" -ge 315532800 ] || EPOCH=315532800

EFI="$ROOT/build/efi"
CHKSUM_LINUX="$ROOT/build/host/chksum"
for f in "$EFI/NAVO.efi" "$EFI/NAVOREC.efi" "$EFI/CHKSUM.efi" "$EFI/shell/Shell.efi" \
         "$EFI/shell/License.txt" "$CHKSUM_LINUX"; do
  [ -f "$f" ] || die "missing ${f#"$ROOT"/} (make efi shell host)"
done
if [ -n "${SIGN_KEY:-}" ] || [ -n "${SIGN_CERT:-}" ]; then
  [ -n "${SIGN_KEY:-}" ] && [ -n "${SIGN_CERT:-}" ] || die "SIGN_KEY and SIGN_CERT go together"
  [ -f "$SIGN_KEY" ] || die "SIGN_KEY: no file $SIGN_KEY"
  [ -f "$SIGN_CERT" ] || die "SIGN_CERT: no file $SIGN_CERT"
  command -v sbsign >/dev/null || die "sbsign missing (make setup)"
fi

mkdir -p "$OUT"
STAGE="$OUT/stage"
rm -rf "$STAGE"
mkdir -p "$STAGE/EFI/BOOT" "$STAGE/LICENSES" "$STAGE/EXAMPLES"

# Text for the shell's `type`: CR LF line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

# ---- the stick's files ----------------------------------------------------------------------
cp "$EFI/shell/Shell.efi" "$STAGE/EFI/BOOT/BOOTX64.EFI"
cp "$EFI/shell/License.txt" "$STAGE/LICENSES/EDK2.TXT"
for tool in NAVO.efi NAVOREC.efi CHKSUM.efi; do
  if [ -n "${SIGN_KEY:-}" ]; then
    # sbsign chats on stderr even when it works: show it only when it fails.
    if ! out=$(sbsign --key "$SIGN_KEY" --cert "$SIGN_CERT" --output "$STAGE/$tool" "$EFI/$tool" 2>&1); then
      echo "$out" >&2
      die "sbsign failed for $tool"
    fi
  else
    cp "$EFI/$tool" "$STAGE/$tool"
  fi
done
crlf kit/README.TXT "$STAGE/README.TXT"
# The quick card, beside the guide, when kit/ has one.
[ ! -f kit/QUICK.TXT ] || crlf kit/QUICK.TXT "$STAGE/QUICK.TXT"
for script in kit/EXAMPLES/*.nsh; do
  crlf "$script" "$STAGE/EXAMPLES/$(basename "$script")"
done

# Every shipped file in the order a listing shows them: sorted by path.
shipped() { (cd "$STAGE" && find . -type f ! -name CHKSUMS.TXT ! -name SHA256SUMS | sed 's|^\./||' | sort); }

# CHKSUMS.TXT: the Linux build's report for each file, run in the file's own folder, so the
# "File name" line reads as it does when CHKSUM.efi runs there on the stick.
{
  printf '%s\n' "CHKSUM.efi's report for each file of the NAVO $VERSION kit." \
    "Check a file on the stick: change to its folder, then type" \
    "CHKSUM.efi <name> (the shell finds CHKSUM.efi in the stick's root)," \
    "e.g.  fs0:  then  cd EFI\\BOOT  then  CHKSUM.efi BOOTX64.EFI"
  while read -r path; do
    dir=$(dirname "$path")
    printf '\n%s\n' "\\${path//\//\\}"
    (cd "$STAGE/$dir" && "$CHKSUM_LINUX" "$(basename "$path")") || die "chksum failed for $path"
  done < <(shipped)
} >"$OUT/chksums.tmp"
crlf "$OUT/chksums.tmp" "$STAGE/CHKSUMS.TXT"
rm -f "$OUT/chksums.tmp"

# SHA256SUMS for `sha256sum -c` in the stick's root on Linux: every other file.
(cd "$STAGE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | xargs -d '\n' sha256sum) \
  >"$STAGE/SHA256SUMS"

find "$STAGE" -type d -exec chmod 0755 {} +
find "$STAGE" -type f -exec chmod 0644 {} +
find "$STAGE" -exec touch -h -d "@$EPOCH" {} +

# Kits of earlier commits are 64 MiB each: keep only this one.
rm -f "$OUT"/NAVO-*.img "$OUT"/NAVO-*.zip "$OUT"/NAVO-*.SHA256SUMS

# ---- the zip ----------------------------------------------------------------------------------
ZIP="$OUT/$NAME.zip"
(cd "$STAGE" && find . -type f | sed 's|^\./||' | sort | zip -q -X -D -9 "$ZIP.tmp" -@)
mv "$ZIP.tmp" "$ZIP"

# ---- the stick image --------------------------------------------------------------------------
# MBR with one FAT32 partition (type 0x0C, marked active) from 1 MiB on: what firmware boots
# as removable media, and what every system mounts when the technician adds files. 64 MiB
# leaves room for a BIOS image, MeInfo.efi and the maker's scripts.
IMG="$OUT/$NAME.img"
SIZE_MIB=64
START_SECTOR=2048
rm -f "$IMG.tmp"
truncate -s "${SIZE_MIB}M" "$IMG.tmp"
printf 'label: dos\nlabel-id: 0x4e41564f\nstart=%d, type=c, bootable\n' "$START_SECTOR" |
  sfdisk -q "$IMG.tmp" >/dev/null
mkfs.fat -F 32 --invariant -i 4E41564F -n NAVO --offset "$START_SECTOR" -h "$START_SECTOR" \
  "$IMG.tmp" $(((SIZE_MIB * 1024 * 1024 - START_SECTOR * 512) / 1024)) >/dev/null
export MTOOLS_SKIP_CHECK=1
mcopy -s -m -i "$IMG.tmp@@$((START_SECTOR * 512))" "$STAGE"/* ::/
mv "$IMG.tmp" "$IMG"

(cd "$OUT" && sha256sum "$NAME.img" "$NAME.zip" >"$NAME.SHA256SUMS")
echo "usb: $IMG"
echo "usb: $ZIP${SIGN_KEY:+ (NAVO.efi, NAVOREC.efi and CHKSUM.efi signed)}"
