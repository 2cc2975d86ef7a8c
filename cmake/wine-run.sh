#!/usr/bin/env bash
# Runs a Windows program under Wine 8 in a private prefix; CTest's emulator
# for the Windows test build (cmake/windows-tests.cmake):
#
#   cmake/wine-run.sh <prefix folder> program.exe [args...]
#   cmake/wine-run.sh <prefix folder>          # only make the prefix
#
# The prefix is made on first use (wineboot, about 10 s); a lock keeps two
# tests started together from making it twice. Wine's own messages are off
# and it writes no desktop menu entries. What is left running in the prefix
# is stopped with:
#
#   WINEPREFIX=<prefix folder> /usr/lib/wine/wineserver -k
set -euo pipefail
prefix=$(realpath -m "$1")
shift
wine=${PV_WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
# No menu entries, and no offer to install Mono or Gecko while the prefix is made.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

wineserver=$(dirname "$wine")/wineserver
# Wine hands text to the host's ODBC drivers in the Unix locale's character
# set; under a C locale anything outside ASCII would be garbled on the way.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.pv-ready" ]; then
  rm -rf "$prefix"
  if ! "$wine" wineboot -i </dev/null >"$prefix.log" 2>&1 9>&-; then
    echo "wine-run.sh: making the Wine prefix $prefix failed (see $prefix.log)" >&2
    exit 1
  fi
  "$wineserver" -w  # until the new prefix's registry is on disk
  touch "$prefix/.pv-ready"
fi
# Wine's background programs (services.exe, winedevice.exe, ...) start with
# the first program a new wineserver sees and keep that program's standard
# error open while they run; CTest would wait for it to close. So a new
# server is started here, kept for 60 s after its last program (a cold start
# of Wine takes about 3 s, a start beside a running server under 1 s), and
# its background programs are started by a program whose output goes nowhere.
# (9>&-: the lock is not handed on to programs that outlive this script.)
if "$wineserver" -p60 </dev/null >/dev/null 2>&1 9>&-; then
  "$wine" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
fi
exec 9>&-

((!$#)) && exit 0
# Every program run here is a GoogleTest program, which writes to standard
# output before its first test. One that fails without writing a byte was not
# started by Wine (now and then, on a busy machine, a program ends at once
# without a word): it is run again, at most twice, and each time said so.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
  status=0
  "$wine" "$@" | tee "$out" || status=$?
  if ((status == 0)) || [ -s "$out" ] || ((attempt == 3)); then
    exit "$status"
  fi
  echo "wine-run.sh: $1 ended with status $status before writing anything; run again" >&2
done
