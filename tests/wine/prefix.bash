# Shared by the Windows suites under Wine (tests/wine/*_test.sh), sourced
# once the suite has set WORK, its own folder: the Wine programs, a private
# prefix under WORK, and the helpers every suite uses. Not a test itself
# (CTest runs tests/wine/*.sh).

WINE=${PV_WINE:-/usr/lib/wine/wine64}
WINESERVER=${PV_WINESERVER:-/usr/lib/wine/wineserver}
export WINEPREFIX=$WORK/prefix
# No menu entries, and no offer to install Mono or Gecko while the prefix is made.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY WAYLAND_DISPLAY PVREMOTE_ROOT PVREMOTE_DEBUG

w() { "$WINE" "$@" 2>>"$WORK/wine-stderr.txt" | tr -d '\r'; }

# Runs a Wine program and keeps its output in OUT; true when the output
# matches the pattern. Used with wait_for for output a check reads: on a busy
# machine Wine now and then starts nothing and hands back no output at all.
# (The output is taken whole before grep: with pipefail, grep -q leaving
# early would fail the pipe.)
w_matches() {  # pattern, command...
  local pattern=$1
  shift
  OUT=$(w "$@")
  grep -q -- "$pattern" <<<"$OUT"
}

wait_for() {  # seconds, command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.5
  done
}

service_state() { w sc query PVRemote | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
state_is() { [ "$(service_state)" = "$1" ]; }

# Makes the prefix in the empty folder $WINEPREFIX (FAIL as the suite defines
# it). Making the prefix starts services.exe, and with a persistent server a
# second one when the first command runs; two service managers answer the
# same pipe, each with its own list of services. So: make the prefix, let its
# processes end, then keep a fresh server up (the service manager lives only
# as long as the wineserver) with a single services.exe.
# A fresh prefix now and then fails to load its first DLL while the machine
# is busy ("could not load kernel32.dll"): made again once before giving up.
make_prefix() {
  if ! "$WINE" wineboot -i >"$WORK/wineboot.txt" 2>&1; then
    "$WINESERVER" -k 2>/dev/null
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >"$WORK/wineboot.txt" 2>&1 ||
      FAIL "wineboot -i failed: $(tail -5 "$WORK/wineboot.txt")"
  fi
  "$WINESERVER" -w
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || FAIL "wineserver -p failed"
  # The first program starts the system processes (services.exe ...), which
  # keep its standard handles: a file here, so that no pipe of a later step
  # stays open.
  "$WINE" wineboot </dev/null >"$WORK/wine-system.txt" 2>&1
}
