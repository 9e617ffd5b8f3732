#!/usr/bin/env bash
# Builds the Debian source package kvsetup and its binary packages kvsetup
# and kvsetup-tools from a copy of this tree in build/deb/ (what a fresh
# clone holds, with uncommitted changes), then checks them with lintian: an
# error or a warning that debian/ does not override with its reason fails.
# With --autopkgtest it then runs the source package's autopkgtest on this
# machine (it installs kvsetup-tools here: for CI and throw-away machines).
# Usage: scripts/package.sh [--autopkgtest]
set -euo pipefail
cd "$(dirname "$0")/.."
autopkgtest=0
case "${1:-}" in
  --autopkgtest) autopkgtest=1 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--autopkgtest]" >&2; exit 2 ;;
esac
root=$(pwd)

# One version: project(VERSION) in CMakeLists.txt is what the programs print;
# the changelog and the AppStream release must say the same.
version=$(sed -n 's/^project(kvsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb_version=$(dpkg-parsechangelog -S Version)
if [ "${deb_version%-*}" != "$version" ]; then
  echo "package: debian/changelog says $deb_version, CMakeLists.txt $version" >&2
  exit 1
fi
metainfo=(app/desktop/hu.varnel.kvsetup.metainfo.xml cli/hu.varnel.kvctl.metainfo.xml)
for m in "${metainfo[@]}"; do
  if ! grep -q "<release version=\"$version\"" "$m"; then
    echo "package: $m has no <release version=\"$version\">" >&2
    exit 1
  fi
done

# What dpkg-buildpackage and lintian need, and the build dependencies that
# debian/control names and this machine lacks.
extra=()
[ "$autopkgtest" -eq 1 ] && extra=(autopkgtest)
"$root/scripts/setup.sh" dpkg-dev lintian appstream desktop-file-utils "${extra[@]}"
# What software centres and menus read, as they read it.
appstreamcli validate --no-net --pedantic "${metainfo[@]}"
desktop-file-validate app/desktop/hu.varnel.kvsetup.desktop
unmet=$(dpkg-checkbuilddeps 2>&1 >/dev/null | sed -n 's/.*Unmet build dependencies: //p' |
        sed 's/([^)]*)//g; s/debhelper-compat/debhelper/g' || true)
if [ -n "$unmet" ]; then
  # shellcheck disable=SC2086  # a list of names
  "$root/scripts/setup.sh" $unmet
fi

out=build/deb
src=$out/kvsetup-$version
rm -rf "$out"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude=./build --exclude='./build-*' -cf - . | tar -xf - -C "$src"
fi

# The upstream tarball is the tree without debian/, packed the same way every
# time (names sorted, one owner, the changelog's date), so that the same
# commit gives the same .orig.tar.xz and dpkg-source can check the tree
# against it.
epoch=$(dpkg-parsechangelog -S Timestamp)
(cd "$out" && tar --exclude="kvsetup-$version/debian" --sort=name \
   --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --format=gnu \
   -cf - "kvsetup-$version" | xz -6 -T1 > "kvsetup_$version.orig.tar.xz")

jobs=$(nproc 2>/dev/null || echo 2)
(cd "$src" && dpkg-buildpackage -us -uc -j"$jobs")

echo "package: lintian"
lintian --display-info --fail-on error,warning "$out"/kvsetup_*.changes
ls -l "$out"/*.deb "$out"/*.dsc "$out"/*.tar.*

if [ "$autopkgtest" -eq 1 ]; then
  echo "package: autopkgtest"
  autopkgtest "$out"/kvsetup-tools_*.deb "$out"/kvsetup_*.dsc -- null
fi
