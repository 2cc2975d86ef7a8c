#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with clang under
# AddressSanitizer + UndefinedBehaviorSanitizer (which also builds the
# libFuzzer targets) and runs everything through CTest, then a three-minute
# chaos soak (scripts/soak.sh) on the programs it built. Then the Windows
# part: the MinGW-w64 cross build with its tests (scripts/build-windows.sh),
# run under Wine by CTest in the Windows build folder. Last, where dpkg exists
# and the run is root's: the Debian package is built (scripts/package.sh) and
# installed, installed again, removed and purged (tests/package).
#
#   scripts/test.sh [ctest options]       # e.g. -R Registry; given to both CTest runs
#
#   PV_TEST_BUILD      Linux build folder (build/test)
#   PV_WINDOWS_BUILD   Windows build folder (<Linux build folder>-win)
#   PV_SKIP_WINDOWS=1  only the Linux part, for a quick run
#   PV_SKIP_SOAK=1     without the chaos soak (scripts/soak.sh)
#   PV_SOAK_MINUTES    minutes of the soak's load (3)
#   PV_SKIP_PACKAGE=1  without the Debian package's build and install test
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=${PV_TEST_BUILD:-build/test}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPV_SANITIZE=ON -DPV_WERROR=ON -DPV_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
linux=0
(cd "$BUILD" && ctest --output-on-failure -j2 --timeout 900 "$@") || linux=$?
# The chaos soak on the programs just built (sanitizers on): three minutes of
# changes and faults, then the check that nothing was lost. Left out when
# CTest options pick some tests, and with PV_SKIP_SOAK=1.
if (($# == 0)) && [ "${PV_SKIP_SOAK:-0}" != 1 ]; then
  echo "== Chaos soak (${PV_SOAK_MINUTES:-3} minutes)"
  scripts/soak.sh --minutes "${PV_SOAK_MINUTES:-3}" --build "$BUILD" || linux=$?
fi

# The Debian package: built, then installed, installed again, removed and
# purged on this machine. Left out with ctest options, without dpkg or root.
package=0
package_step() {
  if (($# == 0)) && [ "${PV_SKIP_PACKAGE:-0}" != 1 ] && command -v dpkg >/dev/null &&
     [ "$(id -u)" = 0 ]; then
    echo "== Debian package"
    SECONDS=0
    local deb out
    # The script's output is shown and kept; its last line names the package.
    # (Not "tee /dev/stderr": that reopens a redirected log and truncates it.)
    out=$(mktemp)
    if scripts/package.sh | tee "$out" && deb=$(tail -n 1 "$out") && [ -f "$deb" ]; then
      tests/package/deb_lifecycle.sh "$deb" || package=1
    else
      package=1
    fi
    rm -f "$out"
    echo "== Debian package built and tested: $SECONDS s"
  fi
}
if [ "${PV_SKIP_WINDOWS:-0}" = 1 ]; then
  package_step "$@"
  exit $((linux != 0 || package != 0))
fi

# --- Windows, under Wine ------------------------------------------------------
WIN_BUILD=$(realpath -m "${PV_WINDOWS_BUILD:-$BUILD-win}")
export WINEPREFIX=$WIN_BUILD/wine-prefix  # the one cmake/wine-run.sh makes and uses
# No Wine program outlives the run, whatever way it ends.
trap '[ -x /usr/lib/wine/wineserver ] && /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
echo "== Windows build with tests: $WIN_BUILD"
SECONDS=0
PV_WINDOWS_TESTS=ON PV_WINDOWS_BUILD=$WIN_BUILD scripts/build-windows.sh
# The prefix is made before CTest lists the tests (about 10 s the first time).
cmake/wine-run.sh "$WINEPREFIX"
echo "== Windows build and Wine prefix: $SECONDS s"
SECONDS=0
windows=0
# tests/wine's scripts pair Windows programs with Linux ones (pvcentral).
export PV_LINUX_BUILD=$(realpath "$BUILD")
(cd "$WIN_BUILD" && ctest --output-on-failure -j2 --timeout 600 "$@") || windows=$?
echo "== Windows tests under Wine: $SECONDS s"
package_step "$@"
echo "test.sh: Linux suite $([ "$linux" = 0 ] && echo passed || echo FAILED)," \
     "Windows suite under Wine $([ "$windows" = 0 ] && echo passed || echo FAILED)," \
     "Debian package $([ "$package" = 0 ] && echo passed || echo FAILED)"
((linux == 0 && windows == 0 && package == 0))
