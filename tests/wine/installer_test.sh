#!/usr/bin/env bash
# The Windows installer under Wine: a silent install of
# pvremote-<version>-x64.msi (scripts/build-windows.sh makes it in the build
# folder) puts the stripped programs and the T-SQL scripts under
# C:\Program Files\PVRemote, registers the service "PVRemote" as
# "pvremote.exe /i" does and starts it; a silent uninstall stops and deletes
# the service and removes the files, and the settings in the registry stay.
#
#   tests/wine/installer_test.sh <windows build folder>
#
# CTest runs it from the Windows build without arguments (PV_BUILD_DIR). Its
# own fresh prefix; PV_WINE_KEEP=1 keeps it and the installer's logs.
set -uo pipefail

win_arg=${1:-${PV_BUILD_DIR:-}}
if [ -z "$win_arg" ]; then
  echo "usage: $0 <windows build folder>" >&2
  exit 2
fi
WIN_BUILD=$(cd "$win_arg" && pwd) || exit 2
WORK=$WIN_BUILD/wine-installer
# shellcheck source=tests/wine/prefix.bash
source "$(dirname "$0")/prefix.bash"
KEY='HKLM\SOFTWARE\Quillonworks Inc.\Portavento'

step=""
STEP() { step=$*; echo "--- $step"; }
FAIL() { echo "FAIL: $step: $*" >&2; exit 1; }
cleanup() {
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  if [ "${PV_WINE_KEEP:-0}" != 1 ]; then rm -rf "$WORK"; fi
}
trap cleanup EXIT

STEP "the installer is built"
MSI=$(ls "$WIN_BUILD"/pvremote-*-x64.msi 2>/dev/null | head -n 1)
[ -f "$MSI" ] || FAIL "no pvremote-*-x64.msi in $WIN_BUILD"

STEP "fresh Wine prefix $WINEPREFIX"
"$WINESERVER" -k 2>/dev/null
rm -rf "$WORK"
mkdir -p "$WINEPREFIX"
make_prefix
# Settings that keep the service busy but harmless: the embedded engine and
# a central port nobody listens on.
for pair in sqlDriver=embedded centralHost=127.0.0.1 centralPort=9; do
  w reg add "$KEY" /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null || FAIL "reg add $pair"
done
wait_for 30 w_matches / winepath -u 'C:\Program Files\PVRemote' || FAIL "winepath: $OUT"
PF=$(sed 's:/*$::' <<<"$OUT")
wait_for 30 w_matches '\\' winepath -w "$MSI" || FAIL "winepath: $OUT"
MSI_WIN=$OUT

STEP "silent install"
"$WINE" msiexec /i "$MSI_WIN" /qn /l*v "$(w winepath -w "$WORK/install.log")" \
  </dev/null >"$WORK/msiexec.txt" 2>&1
rc=$?
[ "$rc" = 0 ] || FAIL "msiexec /i exited $rc: $(tail -20 "$WORK/install.log" 2>/dev/null | tr -d '\r\0')"
for f in pvremote.exe pvsql.exe pvcentral.exe sql/local_portavento.sql sql/local_drop_mailroom.sql \
         sql/central_home.sql; do
  [ -s "$PF/$f" ] || FAIL "$PF/$f not installed"
done
for f in pvremote.exe pvsql.exe pvcentral.exe; do
  sections=$(x86_64-w64-mingw32-objdump -h "$PF/$f")
  ! grep -q '\.debug_info' <<<"$sections" || FAIL "$f is not stripped"
done
wait_for 30 w_matches pvsql "$PF/pvsql.exe" --help || FAIL "the installed pvsql.exe does not run: $OUT"

STEP "the service is registered as /i registers it, and running"
wait_for 30 w_matches 'Start *REG_DWORD *0x2$' reg query 'HKLM\SYSTEM\CurrentControlSet\Services\PVRemote' ||
  FAIL "not registered for automatic start: $OUT"
config=$OUT
grep -q 'Type *REG_DWORD *0x10$' <<<"$config" || FAIL "not an own-process service: $config"
grep -q 'DisplayName *REG_SZ *Portavento Remote$' <<<"$config" || FAIL "display name: $config"
grep -qi 'ImagePath *REG_SZ *.*Program Files.PVRemote.pvremote.exe' <<<"$config" ||
  FAIL "image path: $config"
wait_for 60 state_is RUNNING || FAIL "not running after the install: $(w sc query PVRemote)"
wait_for 30 w_matches "appFolder *REG_SZ" reg query "$KEY" /v appFolder ||
  FAIL "the service wrote no appFolder (it did not start its work)"

STEP "silent uninstall"
"$WINE" msiexec /x "$MSI_WIN" /qn /l*v "$(w winepath -w "$WORK/uninstall.log")" \
  </dev/null >"$WORK/msiexec-x.txt" 2>&1
rc=$?
[ "$rc" = 0 ] || FAIL "msiexec /x exited $rc: $(tail -20 "$WORK/uninstall.log" 2>/dev/null | tr -d '\r\0')"
gone() { ! grep -q 'STATE' <<<"$(w sc query PVRemote)"; }
wait_for 30 gone || FAIL "the service is still registered: $(w sc query PVRemote)"
for f in pvremote.exe pvsql.exe pvcentral.exe sql/central_home.sql; do
  wait_for 10 test ! -e "$PF/$f" || FAIL "$PF/$f is left"
done
wait_for 30 w_matches 'sqlDriver *REG_SZ *embedded' reg query "$KEY" /v sqlDriver ||
  FAIL "the settings are gone: $OUT"

echo "PASS: the installer installed, registered and started the service, and uninstalled it cleanly"
