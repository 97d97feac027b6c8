#!/bin/bash
# `make deb`: packs what `make install PREFIX=/usr` put into STAGE as a Debian
# binary package, OUTDIR/navo-tools_<version>_<arch>.deb, with dpkg's own tools; <version>
# is the one the programs give for --version.
#   tools/make-deb.sh STAGE OUTDIR
# STAGE holds usr/bin/chksum, usr/bin/navo-image, usr/bin/navo-board,
# usr/bin/navo-history and their manual pages; it
# becomes the package's tree and is changed in place (stripped, compressed,
# control files added).
#
# Environment:
#   DEB_MAINTAINER     the Maintainer field and the changelog's signature
#   SOURCE_DATE_EPOCH  time stamp of every file (default: the commit's date)
#
# The same commit gives the same package, byte for byte: fixed time stamps,
# owner root:root, gzip without names or times, files in a fixed order.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
export TZ=UTC LC_ALL=C

die() { echo "make-deb: $*" >&2; exit 1; }
[ $# -eq 2 ] || die "usage: tools/make-deb.sh STAGE OUTDIR"
STAGE=$(realpath -- "$1")
OUT=$(realpath -m -- "$2")
PACKAGE=navo-tools
DOC="$STAGE/usr/share/doc/$PACKAGE"

for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture strip gzip; do
  command -v "$tool" >/dev/null || die "$tool is missing (Debian packages dpkg-dev, binutils, gzip)"
done
TOOLS=(chksum navo-image navo-board navo-history)
for tool in "${TOOLS[@]}"; do
  for f in "usr/bin/$tool" "usr/share/man/man1/$tool.1"; do
    [ -f "$STAGE/$f" ] || die "$STAGE/$f is missing (make install DESTDIR=... PREFIX=/usr)"
  done
done

# 1.1.0 for a release build, 1.1.0+g<commit> between releases (tools/utility-version.sh).
VERSION=$("$ROOT/tools/utility-version.sh" --build)
# The package carries the version its programs give; a stage built from another commit
# or another state of the tree would misname them.
for tool in "${TOOLS[@]}"; do
  said=$("$STAGE/usr/bin/$tool" --version) || die "$STAGE/usr/bin/$tool --version failed"
  [ "$said" = "$tool $VERSION" ] || die "$STAGE/usr/bin/$tool says \"$said\", the tree is $VERSION (build again)"
done
ARCH=$(dpkg-architecture -qDEB_HOST_ARCH)
COMMIT=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 315532800)}"
export SOURCE_DATE_EPOCH="$EPOCH"
MAINTAINER="${DEB_MAINTAINER:-NAVO tools maintainers <navo-tools@maintainers.example.com>}"

# Debian ships programs without symbols and manual pages compressed.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "${TOOLS[@]/#/$STAGE/usr/bin/}"
gzip -9nf "$STAGE"/usr/share/man/man1/*.1

install -d -m 0755 "$DOC" "$STAGE/DEBIAN"
install -m 0644 "$ROOT/tools/deb/copyright" "$DOC/copyright"
# A native package's changelog: one entry for the version it was built as.
{
  printf '%s (%s) unstable; urgency=medium\n\n' "$PACKAGE" "$VERSION"
  printf '  * Built from commit %s.\n\n' "$COMMIT"
  printf ' -- %s  %s\n' "$MAINTAINER" "$(date -u -R -d "@$EPOCH")"
} | gzip -9n >"$DOC/changelog.gz"
chmod 0644 "$DOC/changelog.gz"

# The library dependencies as the binaries' own ELF headers state them; the
# tool reads its package list from a debian/control, so it gets a minimal one.
SHLIBS_DIR=$(mktemp -d)
trap 'rm -rf "$SHLIBS_DIR"' EXIT
mkdir "$SHLIBS_DIR/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$PACKAGE" "$PACKAGE" >"$SHLIBS_DIR/debian/control"
DEPENDS=$(cd "$SHLIBS_DIR" && dpkg-shlibdeps -O "${TOOLS[@]/#/$STAGE/usr/bin/}" |
          sed -n 's/^shlibs:Depends=//p')
[ -n "$DEPENDS" ] || die "dpkg-shlibdeps found no dependencies"

INSTALLED_SIZE=$(du -k -s --apparent-size --exclude=DEBIAN "$STAGE" | cut -f1)
sed -e "s#@VERSION@#$VERSION#" -e "s#@ARCH@#$ARCH#" -e "s#@DEPENDS@#$DEPENDS#" \
    -e "s#@INSTALLED_SIZE@#$INSTALLED_SIZE#" -e "s#@MAINTAINER@#$MAINTAINER#" \
    "$ROOT/tools/deb/control.in" >"$STAGE/DEBIAN/control"
(cd "$STAGE" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$STAGE/DEBIAN/md5sums"
chmod 0644 "$STAGE/DEBIAN/control" "$STAGE/DEBIAN/md5sums"

find "$STAGE" -type d -exec chmod 0755 {} +
find "$STAGE" -exec touch -h -d "@$EPOCH" {} +
mkdir -p "$OUT"
DEB="$OUT/${PACKAGE}_${VERSION}_${ARCH}.deb"
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$DEB" >/dev/null
echo "built ${DEB#"$PWD"/}"
