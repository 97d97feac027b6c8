#!/bin/sh
# Prints the utility's version in the form a build carries it:
#   tools/utility-version.sh          1.1.0, the number alone
#   tools/utility-version.sh --build  the Linux tools' --version and their Debian package:
#                                     1.1.0 for a release build, else 1.1.0+g<commit>,
#                                     and 1.1.0+g<commit>.dirty when tracked files differ
#                                     from that commit
#   tools/utility-version.sh --kit    the stick's file names: 1.1.0-<commit>, 1.1.0-<commit>-dirty,
#                                     or 1.1.0-nogit
# The one place the number is kept is navo/main.cpp (the banner's kVersion* constants), the
# one place the commit is read is here.
#
# A release build is one from a commit tagged v<number> (v1.1.0) with no tracked file
# changed, or from a tree that is no git work tree of its own (a source tarball, also one
# unpacked inside another repository). A work tree that git cannot read (git missing, a
# tree owned by another user) gives 1.1.0+unknown: such a build is never taken for a release.
# Debian allows letters, digits and . + ~ in a native package's version, no - : hence + and .
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
number="$major.$minor.$patch"

# Sets commit (the short id; "none" without a work tree of its own, "unknown" when git
# cannot read it), dirty (yes or no) and tagged (yes when HEAD carries v<number>).
commit=none dirty=no tagged=no
if [ -e "$root/.git" ]; then
  if commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null); then
    # Status 1 is a difference, anything else a failure: neither is a clean tree.
    git -C "$root" diff --quiet HEAD -- 2>/dev/null || dirty=yes
    tag=$(git -C "$root" rev-parse -q --verify "refs/tags/v$number^{commit}" 2>/dev/null) || tag=""
    [ "$tag" != "$(git -C "$root" rev-parse HEAD)" ] || tagged=yes
  else
    commit=unknown
  fi
fi

case "${1:-}" in
  "") echo "$number" ;;
  --build)
    case "$commit/$dirty/$tagged" in
      none/*|*/no/yes) echo "$number" ;;
      unknown/*) echo "$number+unknown" ;;
      */yes/*) echo "$number+g$commit.dirty" ;;
      *) echo "$number+g$commit" ;;
    esac ;;
  --kit)
    case "$commit/$dirty" in
      none/*|unknown/*) echo "$number-nogit" ;;
      */yes) echo "$number-$commit-dirty" ;;
      *) echo "$number-$commit" ;;
    esac ;;
  *) echo "usage: tools/utility-version.sh [--build | --kit]" >&2; exit 2 ;;
esac
