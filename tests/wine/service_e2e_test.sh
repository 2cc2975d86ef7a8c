#!/usr/bin/env bash
# pvremote.exe as a real Windows service under Wine, end to end:
#
#   tests/wine/service_e2e_test.sh <windows build folder> <linux build folder>
#
# In a private Wine prefix under the Windows build folder it writes the
# service's settings into the registry, creates the local site with pvsql.exe
# on the embedded engine, starts the Linux pvcentral on a loopback port (its
# central instance in the prefix's data root, where the service looks), and
# then: "pvremote.exe /i" installs and starts the service; the service
# connects and identifies itself; "DBIN" is confirmed with "DBCN", "DATR" with
# "DASN"; pause and continue are reported; "net stop PVRemote" stops it and
# the daily log ends with "Remote Shutdown"; "pvremote.exe /u" removes it;
# the password that "/i" moved into the machine key is in the registry.
# Then started by hand it exits with a message, and a debug run
# (PVREMOTE_DEBUG=1) stops on Ctrl+C with the shutdown routine.
# Every step says what failed; the exit status is 0 only when all passed, 2
# for a bad command line. The prefix is its own (a fresh one each run), since
# the run ends with "wineserver -k".
# PV_WINE_KEEP=1 keeps the prefix and logs for a look.
set -uo pipefail

# CTest runs it from the Windows build (tests/CMakeLists.txt registers every
# tests/wine/*_test.sh) without arguments: the folders then come from
# PV_BUILD_DIR (the Windows build) and PV_LINUX_BUILD (scripts/test.sh sets
# it to its Linux build, which has pvcentral).
win_arg=${1:-${PV_BUILD_DIR:-}}
linux_arg=${2:-${PV_LINUX_BUILD:-}}
if [ -z "$win_arg" ] || [ -z "$linux_arg" ]; then
  echo "usage: $0 <windows build folder> <linux build folder>" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WIN_BUILD=$(cd "$win_arg" && pwd) || exit 2
LINUX_BUILD=$(cd "$linux_arg" && pwd) || exit 2
PVREMOTE=$WIN_BUILD/service/pvremote.exe
PVSQL=$WIN_BUILD/tools/pvsql/pvsql.exe
PVCENTRAL=$LINUX_BUILD/tools/pvcentral/pvcentral

WORK=$WIN_BUILD/wine-service-e2e
# shellcheck source=tests/wine/prefix.bash
source "$ROOT/tests/wine/prefix.bash"
STATE=$WORK/central
KEY='HKLM\SOFTWARE\Quillonworks Inc.\Portavento'
USER_KEY='HKCU\SOFTWARE\Quillonworks Inc.\Portavento'
LOCAL_PASSWORD=local-pw
CENTRAL_PORT=1434

step=""
central_pid=""
STEP() {
  step=$*
  echo "--- $step"
}

show_logs() {
  if [ -f "$STATE/pvcentral.log" ]; then
    echo "--- pvcentral log (last 40 lines)"
    tail -n 40 "$STATE/pvcentral.log"
  fi
  local log
  log=$(daily_log)
  if [ -n "$log" ]; then
    echo "--- pvremote daily log ($log)"
    tail -n 40 "$log"
  fi
}

FAIL() {
  echo "FAIL: $step: $*" >&2
  show_logs >&2
  exit 1
}

cleanup() {
  if [ -n "$central_pid" ]; then
    kill "$central_pid" 2>/dev/null
    wait "$central_pid" 2>/dev/null
  fi
  # Ends the service, services.exe and every other process of the prefix.
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  if [ "${PV_WINE_KEEP:-0}" != 1 ]; then rm -rf "$WORK"; fi
}
trap cleanup EXIT

central() { "$PVCENTRAL" --control "$STATE" "$@"; }

# The folder of a Windows path inside the prefix.
unix_path() { "$WINE" winepath -u "$1" 2>/dev/null | tr -d '\r'; }

# The newest daily log of the service ("Log mmddyy.txt" in the application
# folder), wherever the local application-data folder is in the prefix.
daily_log() {
  [ -d "$WINEPREFIX/drive_c" ] || return 0
  find "$WINEPREFIX/drive_c" -path '*Portavento*' -name 'Log *.txt' -printf '%T@ %p\n' \
    2>/dev/null | sort -n | tail -n 1 | cut -d' ' -f2-
}

STEP "programs are built"
for f in "$PVREMOTE" "$PVSQL" "$PVCENTRAL" "$WINE" "$WINESERVER"; do
  [ -x "$f" ] || [ -f "$f" ] || FAIL "missing $f"
done

STEP "helper for pause/continue (Wine's sc and net have none)"
mkdir -p "$WORK"
STATUS_EXE=$WORK/service_status.exe
x86_64-w64-mingw32-g++-posix -O1 -Wall -Wextra -static -o "$STATUS_EXE" \
  "$ROOT/tests/wine/service_status.cc" 2>"$WORK/helper-build.txt" ||
  FAIL "cannot build the helper: $(cat "$WORK/helper-build.txt")"

STEP "fresh Wine prefix $WINEPREFIX"
"$WINESERVER" -k 2>/dev/null
rm -rf "$WINEPREFIX" "$STATE" "$WORK"/*.txt
mkdir -p "$STATE" "$WINEPREFIX"
make_prefix
wait_for 30 w_matches ':\\' cmd /c echo %LOCALAPPDATA% || FAIL "no local application-data folder: $OUT"
APPDATA_WIN=$OUT
APPDATA_UNIX=$(unix_path "$APPDATA_WIN")
[ -d "$APPDATA_UNIX" ] || FAIL "no local application-data folder ($APPDATA_WIN -> $APPDATA_UNIX)"
DATA_ROOT=$APPDATA_UNIX/sql
echo "local application data: $APPDATA_WIN = $APPDATA_UNIX"

STEP "settings in the registry"
reg_add() { w reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null || FAIL "reg add $1 $2"; }
reg_add "$KEY" sqlDriver embedded
reg_add "$KEY" sqlUID sa
reg_add "$KEY" sqlPort 1433
reg_add "$KEY" centralHost 127.0.0.1
# The installing user's password: "/i" moves it into the machine key.
reg_add "$USER_KEY" sqlPWD "$LOCAL_PASSWORD"

STEP "local site with pvsql.exe (localhost,1433, database Portavento)"
wait_for 30 w_matches '\\' winepath -w "$ROOT/sql/local_portavento.sql" || FAIL "winepath: $OUT"
SCRIPT_WIN=$OUT
pvsql() { w "$PVSQL" -S localhost,1433 "$@" >>"$WORK/pvsql.txt" || FAIL "pvsql.exe $*: $(tail -5 "$WORK/pvsql.txt")"; }
pvsql --create-instance
pvsql --set-login sa "$LOCAL_PASSWORD"
pvsql -U sa -P "$LOCAL_PASSWORD" -b -Q "Create Database Portavento"
pvsql -U sa -P "$LOCAL_PASSWORD" -d Portavento -b -i "$SCRIPT_WIN"
pvsql -U sa -P "$LOCAL_PASSWORD" -d Portavento -b \
  -Q "Insert Into Settings (name, zip) Values (N'Wine Site', N'12345')"
[ -d "$DATA_ROOT/localhost,1433" ] || FAIL "no instance folder under $DATA_ROOT"

STEP "pvcentral (Linux) on a loopback port, central instance in the prefix's data root"
"$PVCENTRAL" --port 0 --state "$STATE" --data-root "$DATA_ROOT" --no-stdin --quiet \
  --home-script "$ROOT/sql/central_home.sql" --central-server localhost \
  --central-port "$CENTRAL_PORT" --central-user sa --central-password central \
  >"$WORK/pvcentral-output.txt" 2>&1 &
central_pid=$!
wait_for 60 test -s "$STATE/control.port" || FAIL "pvcentral did not start: $(cat "$WORK/pvcentral-output.txt")"
wait_for 10 test -s "$STATE/pvcentral.port" || FAIL "pvcentral wrote no port"
PORT=$(cat "$STATE/pvcentral.port")
reg_add "$KEY" centralPort "$PORT"
echo "pvcentral on 127.0.0.1:$PORT"

STEP "pvremote.exe /i installs and starts the service"
"$WINE" "$PVREMOTE" /i >"$WORK/install.txt" 2>&1
rc=$?
[ "$rc" = 0 ] || FAIL "pvremote.exe /i exited $rc: $(cat "$WORK/install.txt")"
# Wine's sc has no "qc": the manager's registration is read from its key.
wait_for 30 w_matches 'Start *REG_DWORD *0x2$' reg query 'HKLM\SYSTEM\CurrentControlSet\Services\PVRemote' ||
  FAIL "not registered for automatic start: $OUT"
config=$OUT
grep -q 'Type *REG_DWORD *0x10$' <<<"$config" || FAIL "not an own-process service: $config"
grep -q 'DisplayName *REG_SZ *Portavento Remote$' <<<"$config" || FAIL "display name: $config"
grep -q 'ImagePath *REG_SZ *"[^"]*pvremote.exe"$' <<<"$config" ||
  FAIL "executable path not quoted: $config"
wait_for 60 state_is RUNNING || FAIL "service not running after /i: $(w sc query PVRemote)"

STEP "the service connects and identifies itself"
central wait NWID 120 >/dev/null || FAIL "no NWID from the service"
central wait "DBCN" 60 >/dev/null || FAIL "the central data of the first DBIN were not confirmed"
LOG=$(daily_log)
[ -n "$LOG" ] || FAIL "no daily log in the prefix"
grep -q "Remote Started" "$LOG" || FAIL "no \"Remote Started\" in $LOG"

STEP "DBIN is confirmed with DBCN"
central dbin >/dev/null || FAIL "pvcentral dbin"
central wait "DBCN" 60 >/dev/null || FAIL "no DBCN after DBIN"

STEP "DATR is answered with DASN"
central datr >/dev/null || FAIL "pvcentral datr"
central wait "DASN" 300 >/dev/null || FAIL "no DASN after DATR"

STEP "stop, pause/continue and shutdown accepted (7); pause and continue reported"
status() { w "$STATUS_EXE" "$1" PVRemote; }
status query | grep -q '^state=4 accepted=7$' || FAIL "running, accepting 7: $(status query)"
status pause >/dev/null || FAIL "pause refused: $(status pause)"
wait_for 30 state_is PAUSED || FAIL "not paused (state: $(service_state))"
status continue >/dev/null || FAIL "continue refused: $(status continue)"
wait_for 30 state_is RUNNING || FAIL "not running after continue (state: $(service_state))"
central datr >/dev/null || FAIL "the service's link is gone after pause/continue"
central wait "DASN" 300 >/dev/null || FAIL "no DASN after pause/continue"

STEP "net stop PVRemote runs the shutdown routine"
w net stop PVRemote >"$WORK/net-stop.txt"
wait_for 60 state_is STOPPED || FAIL "not stopped (state: $(service_state)): $(cat "$WORK/net-stop.txt")"
LOG=$(daily_log)
tail -n 1 "$LOG" | grep -q "Remote Shutdown" || FAIL "the log does not end with \"Remote Shutdown\""

STEP "pvremote.exe /u removes the service"
"$WINE" "$PVREMOTE" /u >"$WORK/uninstall.txt" 2>&1
rc=$?
[ "$rc" = 0 ] || FAIL "pvremote.exe /u exited $rc: $(cat "$WORK/uninstall.txt")"
gone() { ! w sc query PVRemote | grep -q 'STATE'; }
wait_for 30 gone || FAIL "the service is still registered: $(w sc query PVRemote)"

STEP "the password /i moved into the machine key"
encoded=$(printf '%s' "$LOCAL_PASSWORD" | od -An -tu1 -v | tr -s ' \n' ' ' |
  awk '{for (i = 1; i <= NF; i++) printf "%03d", $i}')
wait_for 30 w_matches "sqlPWDq *REG_SZ *$encoded" reg query "$KEY" /v sqlPWDq ||
  FAIL "sqlPWDq is not $encoded: $OUT"
wait_for 30 w_matches "appFolder *REG_SZ" reg query "$KEY" /v appFolder || FAIL "the service wrote no appFolder: $OUT"

STEP "started by hand, outside a debug run: a clear message, exit 1"
"$WINE" "$PVREMOTE" </dev/null >"$WORK/no-manager.txt" 2>&1
rc=$?
[ "$rc" = 1 ] || FAIL "exit $rc: $(cat "$WORK/no-manager.txt")"
grep -q "not started by the service control manager" "$WORK/no-manager.txt" ||
  FAIL "no message: $(cat "$WORK/no-manager.txt")"

STEP "debug run in the foreground: Ctrl+C (SIGINT, a console Ctrl+C event) runs the shutdown routine"
central mark >/dev/null || FAIL "pvcentral mark"
PVREMOTE_DEBUG=1 "$WINE" "$PVREMOTE" </dev/null >"$WORK/debug-run.txt" 2>&1 &
debug_pid=$!
central wait PVID 120 >/dev/null || FAIL "the debug run did not identify itself"
central wait DBCN 60 >/dev/null || FAIL "the debug run did not confirm DBIN"
kill -INT "$debug_pid"
wait_for 30 eval '! kill -0 "$debug_pid" 2>/dev/null' || FAIL "still running after Ctrl+C"
wait "$debug_pid"
rc=$?
[ "$rc" = 0 ] || FAIL "exit $rc after Ctrl+C: $(cat "$WORK/debug-run.txt")"
LOG=$(daily_log)
tail -n 1 "$LOG" | grep -q "Remote Shutdown" || FAIL "the log does not end with \"Remote Shutdown\""

echo "PASS: pvremote.exe ran as a Windows service under Wine from /i to /u, and in a debug run"
