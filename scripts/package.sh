#!/usr/bin/env bash
# Builds the Debian package pvremote_<version>_amd64.deb (and its -dbgsym
# package) with the distribution's tools: the files of the checkout git
# knows (tracked, or new and not ignored) are copied into a fresh folder (no
# build folders come along) and dpkg-buildpackage builds it there from
# debian/ (release build, no tests, stripped, man pages from docs/man/).
# Then lintian checks the package: an error fails the script.
#
#   scripts/package.sh            # into build/package
#
#   PV_PACKAGE_OUT   folder of the packages (build/package)
#   PV_PACKAGE_JOBS  compile jobs (2)
#   PV_LINTIAN=0     without lintian
# ccache is used when installed, with the user's cache (debhelper gives the
# build a HOME of its own, so the cache folder is passed on in CCACHE_DIR).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$(realpath -m "${PV_PACKAGE_OUT:-$ROOT/build/package}")
"$ROOT/scripts/deps.sh" package

version=$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)
# The package's version is the programs' own (--version).
project=$(sed -n 's/^project(pvremote VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
if [ "${version%%-*}" != "$project" ]; then
  echo "package.sh: debian/changelog says $version, CMakeLists.txt $project" >&2
  exit 1
fi
work=$OUT/src
rm -rf "$work"
mkdir -p "$work/pvremote-$version"
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked files, and new ones not ignored, as they are in the working tree.
  (cd "$ROOT" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - -cf - 2>/dev/null) | tar -xf - -C "$work/pvremote-$version"
else
  tar -C "$ROOT" --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/pvremote-$version"
fi

export CCACHE_BASEDIR=$work/pvremote-$version CCACHE_NOHASHDIR=true
if command -v ccache >/dev/null; then
  CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
  export CCACHE_DIR
fi
SECONDS=0
(cd "$work/pvremote-$version" &&
   DEB_BUILD_OPTIONS="nocheck parallel=${PV_PACKAGE_JOBS:-2}" \
   dpkg-buildpackage -b -us -uc > "$work/build.log" 2>&1) || {
  tail -n 60 "$work/build.log" >&2
  echo "package.sh: dpkg-buildpackage failed (whole log: $work/build.log)" >&2
  exit 1
}
echo "== package built in $SECONDS s"
mkdir -p "$OUT"
rm -f "$OUT"/pvremote*_"$version"_*.deb
mv "$work"/pvremote*_"$version"_*.deb "$OUT"/
deb=$OUT/pvremote_${version}_amd64.deb
ls -l "$OUT"/*.deb
echo "installed size: $(dpkg-deb -f "$deb" Installed-Size) KiB"
if [ "${PV_LINTIAN:-1}" != 0 ]; then
  # Errors fail the build; warnings are printed (the kept ones are in the README).
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
fi
echo "$deb"
