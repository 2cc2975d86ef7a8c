#!/usr/bin/env bash
# The main job on the embedded engine, in one command: a demo site's full
# upload. Installs and builds what is missing, creates a demo site (the local
# "Portavento" database with residents, access codes, notification addresses,
# parcels, visitor logs with photos, entry panels and additional photos), starts
# the central-server simulator pvcentral and the service pvremote (debug run)
# under a fresh PVREMOTE_ROOT, has the simulator order "DATR", waits for
# "DASN", prints what arrived centrally next to the local side, then shows one
# queued local change and one central change travelling. Both
# programs are stopped at the end, whatever happens; the folder with the
# databases and the service's log is kept for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$PWD
DEMO_START=$(date +%s)
VERDICT=""

scripts/deps.sh
BUILD=${PV_DEMO_BUILD:-build/demo}
echo "== building pvremote, pvcentral and pvsql in $BUILD (a few minutes the first time)"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_BUILD_TESTS=OFF \
  -DPV_BUILD_BENCH=OFF >/dev/null
# One progress line per tenth of the build, not one per file.
cmake --build "$BUILD" --target pvremote pvcentral pvsql |
  awk '/^\[[0-9]+\/[0-9]+\]/ { split(substr($1, 2), n, "/"); p = int(10 * n[1] / n[2]);
         if (p > shown) { shown = p; printf "  built %d of %d\n", n[1], n[2] } next } { print }' || true
PVSQL=$REPO/$BUILD/tools/pvsql/pvsql
PVCENTRAL=$REPO/$BUILD/tools/pvcentral/pvcentral
PVREMOTE=$REPO/$BUILD/service/pvremote
for p in "$PVSQL" "$PVCENTRAL" "$PVREMOTE"; do
  [ -x "$p" ] || { echo "demo: $p was not built" >&2; exit 1; }
done

ROOT=$(mktemp -d "${TMPDIR:-/tmp}/pvremote-demo-XXXXXX")
export PVREMOTE_ROOT=$ROOT
STATE=$ROOT/central
LOCAL_PW='demo-local'
CENTRAL_PW='demo-central'
LOG_FOLDER=$ROOT/var/lib/pvremote/Portavento
TIMEOUT=${PV_DEMO_TIMEOUT:-600}  # seconds to wait for "DASN"
mkdir -p "$STATE" "$ROOT/demo"

CENTRAL_PID=""
REMOTE_PID=""
cleanup() {
  local status=$?
  if [ -n "$REMOTE_PID" ] && kill -0 "$REMOTE_PID" 2>/dev/null; then
    kill -INT "$REMOTE_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$REMOTE_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$REMOTE_PID" 2>/dev/null || true
  fi
  if [ -n "$CENTRAL_PID" ] && kill -0 "$CENTRAL_PID" 2>/dev/null; then
    kill -TERM "$CENTRAL_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$CENTRAL_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$CENTRAL_PID" 2>/dev/null || true
  fi
  wait 2>/dev/null || true
  local took=$(($(date +%s) - DEMO_START))
  if [ "$status" = 0 ] && [ -n "$VERDICT" ]; then
    echo "demo: PASSED in ${took} s ($VERDICT)"
  else
    echo "demo: FAILED after ${took} s (see above${ROOT:+; everything of the run is under $ROOT})"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

lsql() { "$PVSQL" -S localhost,1433 -U sa -P "$LOCAL_PW" -b "$@"; }
csql() { "$PVSQL" -S localhost,1434 -U sa -P "$CENTRAL_PW" -b "$@"; }
# One value per line, nothing else.
lval() { lsql -d Portavento -h -1 -W -Q "SET NOCOUNT ON; $1"; }
cval() { csql -d "$2" -h -1 -W -Q "SET NOCOUNT ON; $1"; }
# A real JPEG picture (a coloured face on a background, one per seed) as
# "0x..." text for an Insert.
jpeg() { python3 "$REPO/scripts/make_jpeg.py" --hex "$1" "$2"; }
# A value that pvsql prints as "0x..." written back as the file it was.
unhex() { python3 -c 'import sys; t = sys.stdin.read().strip(); sys.stdout.buffer.write(bytes.fromhex(t[2:] if t.startswith("0x") else t))'; }

echo "== demo site under $ROOT"
"$PVSQL" -S localhost,1433 --create-instance
"$PVSQL" -S localhost,1433 --set-login sa "$LOCAL_PW"
lsql -Q "Create Database Portavento" >/dev/null
lsql -d Portavento -i "$REPO/sql/local_portavento.sql" >/dev/null

# The demo site's rows. Photos are real JPEG pictures, each a different one,
# so the comparison below proves they travelled byte for byte.
SITE=$ROOT/demo/site.sql
{
  echo "Insert Into Settings (name, zip) Values (N'Résidence du Parc', N'H2X 1Y4')"
  echo "GO"
  residents=(
    "N'R', N'O''Brien', N'Seán', N'101', N'', N'P', N'E', N'N', N'5551001', N'A1', N'Main door', 1"
    "N'R', N'王', N'小明', N'102', N'', N'P', N'P', N'P', N'5551002', N'A2', N'', 1"
    "N'S', N'Dupont', N'Élodie', N'201', N'Dupont & Fils', N'P', N'P', N'P', N'5551003', N'B1', N'Office', 0"
    "N'R', N'Müller', N'Jürgen', N'202', N'', N'P', N'P', N'P', N'5551004', N'B2', N'', 2"
    "N'R', N'Smith', N'Anna', N'301', N'', N'P', N'P', N'P', N'5551005', N'C1', N'', 0"
    "N'X', N'Concierge', N'Desk', N'0', N'', N'P', N'P', N'P', N'5551000', N'L', N'', Null"
  )
  for r in "${residents[@]}"; do
    echo "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, button2Type," \
      "button3Type, phone1, button1Loc, button1Comm, mailRoomID, phone2, button2Loc, button2Comm," \
      "phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, dmCode)" \
      "Values ($r, N'', N'', N'', N'', N'', N'', 0, 0, 0, 0, N'Since 2020', N'')"
    echo "GO"
  done
  for id in 1 2 3; do
    echo "Update Names Set photo = $(jpeg "$id" $((96 + id * 32))), photoDescr = N'Resident $id' Where id = $id"
    echo "GO"
  done
  for id in 1 2 3 4 5; do
    echo "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, codeStartDate," \
      "codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, codeFri, codeSat," \
      "codeSun, numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4," \
      "accessType5) Values ($id, N'${id}234', N'Fob $id', 0, 0, 0, '2026-01-01T00:00:00'," \
      "'2026-12-31T00:00:00', '1900-01-01T00:00:00', '1900-01-01T23:59:00', 1, 1, 1, 1, 1, 1, 1," \
      "N'${id}234', 1, 0, 0, 0, 0, 0)"
    echo "GO"
    echo "Insert Into Notification (resId, email) Values ($id, N'resident$id@example.com')"
    echo "GO"
  done
  echo "Insert Into NotificationF (resId, email) Values (1, N'o''brien.family@example.com')"
  echo "GO"
  echo "Insert Into Emails (resId, email, iPhoneDeviceId) Values (1, N'o''brien@example.com', Null), (2, N'wang@example.cn', N'device-2')"
  echo "GO"
  echo "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (1, N'Parcel', N'parcel.png'), (2, N'Letter', N'letter.png')"
  echo "GO"
  echo "Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Mail room'), (2, N'Lobby shelf')"
  echo "GO"
  echo "Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values (1, 1, '2026-03-02T10:15:00', '2026-03-03T18:00:00'), (2, 2, '2026-03-04T09:30:00', Null), (4, 1, '2026-03-05T14:45:00', Null)"
  echo "GO"
  echo "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values (1, N'Front door', N'Welcome', N'Press the button', N'', N'4.2'), (2, N'Garage', N'Drive slowly', N'', N'', N'4.2')"
  echo "GO"
  for n in $(seq 1 12); do
    photo=Null
    photo2=Null
    if [ $((n % 3)) -eq 0 ]; then photo=$(jpeg $((100 + n)) 128); fi
    if [ $((n % 6)) -eq 0 ]; then photo2=$(jpeg $((200 + n)) 96); fi
    when=$(printf '2026-04-%02dT08:%02d:00' "$n" $((n * 4)))
    echo "Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName, photo, photo2)" \
      "Values ($((n % 2 + 1)), $((n % 5 + 1)), '$when', N'STR Panel Call', N'Visitor $n'," \
      "N'PANEL-1', $photo, $photo2)"
    echo "GO"
  done
  echo "Insert Into AdditionalPhotos (label, resId, photo) Values (N'Car', 1, $(jpeg 301 160))"
  echo "GO"
  echo "Insert Into AdditionalPhotos (label, resId, photo) Values (N'Dog', 2, $(jpeg 302 192))"
  echo "GO"
  echo "Insert Into AdditionalPhotos (label, resId, photo) Values (N'No photo yet', 3, Null)"
  echo "GO"
} >"$SITE"
lsql -d Portavento -i "$SITE" >/dev/null

# The service's settings: embedded engine, the local login, the simulator.
echo "== starting pvcentral and pvremote"
"$PVCENTRAL" --port 0 --state "$STATE" --central-password "$CENTRAL_PW" --no-stdin --quiet \
  >"$STATE/output.txt" 2>&1 &
CENTRAL_PID=$!
for _ in $(seq 1 300); do [ -s "$STATE/pvcentral.port" ] && break; sleep 0.1; done
[ -s "$STATE/pvcentral.port" ] || { echo "demo: pvcentral did not start" >&2; cat "$STATE/output.txt" >&2; exit 1; }
CENTRAL_PORT=$(tr -d '\r\n' <"$STATE/pvcentral.port")

mkdir -p "$ROOT/etc/pvremote"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\r\n"sqlDriver"="embedded"\r\n"sqlUID"="sa"\r\n"sqlPWD"="%s"\r\n"sqlPort"="1433"\r\n"centralHost"="127.0.0.1"\r\n"centralPort"="%s"\r\n' \
  "$LOCAL_PW" "$CENTRAL_PORT" >"$ROOT/etc/pvremote/machine.reg"
PVREMOTE_DEBUG=1 INVOCATION_ID='' NOTIFY_SOCKET='' "$PVREMOTE" >"$ROOT/demo/pvremote-output.txt" 2>&1 &
REMOTE_PID=$!

control() { "$PVCENTRAL" --control "$STATE" "$@"; }
# The service connects, identifies itself, is confirmed ("VDID") and proves
# the central login ("DBCN").
ok=""
for _ in $(seq 1 600); do
  if grep -q 'DBCN' "$STATE/pvcentral.log" 2>/dev/null; then ok=1; break; fi
  kill -0 "$REMOTE_PID" 2>/dev/null || break
  sleep 0.1
done
[ -n "$ok" ] || { echo "demo: the service did not come up" >&2; tail -20 "$STATE/pvcentral.log" >&2 || true; cat "$ROOT/demo/pvremote-output.txt" >&2; exit 1; }

echo "== pvcentral orders the full upload (DATR)"
control mark >/dev/null
control datr >/dev/null
start=$(date +%s%N)
# Waits in steps of 5 s, saying how long it has been.
until control --timeout 10 wait DASN 5 >/dev/null 2>&1; do
  waited=$((($(date +%s%N) - start) / 1000000000))
  if [ "$waited" -ge "$TIMEOUT" ] || ! kill -0 "$REMOTE_PID" 2>/dev/null; then
    echo "demo: no DASN arrived; the service's log and journal:" >&2
    cat "$LOG_FOLDER"/Log*.txt >&2 2>/dev/null || true
    cat "$ROOT/demo/pvremote-output.txt" >&2 || true
    exit 1
  fi
  echo "  the full upload runs: ${waited} s so far (up to ${TIMEOUT} s)"
done
ms=$((($(date +%s%N) - start) / 1000000))
echo "DASN received after $((ms / 1000)).$(printf %03d $((ms % 1000))) s"

INST_ID=$(cval "Select Max(id) From Installations" PVHome)
INST_DB=$(printf 'Installation%05d' "$INST_ID")

echo
echo "== what arrived centrally ($INST_DB on localhost,1434) next to the local side"
printf '%-18s %8s %8s\n' table local central
check() {  # table, local filter
  local l c
  l=$(lval "Select Count(*) From $1 $2")
  c=$(cval "Select Count(*) From $1" "$INST_DB")
  printf '%-18s %8s %8s\n' "$1" "$l" "$c"
}
check Names "Where resType = 'R' Or resType = 'S'"
check TenantAccess ""
check Notification ""
check NotificationF ""
check Packages ""
check Packages_Types ""
check Packages_Settings ""
check Logs ""
check Entries ""
check AdditionalPhotos "Where photo Is Not Null"
printf '%-18s %8s %8s\n' "Emails (home)" "$(lval 'Select Count(*) From Emails')" \
  "$(cval "Select Count(*) From Emails Where instId = $INST_ID" PVHome)"

echo
echo "== photos, byte for byte"
same=0
total=0
compare_photos() {  # table, column
  local l c
  l=$(lval "Select id, $2 From $1 Where $2 Is Not Null Order By id")
  c=$(cval "Select id, $2 From $1 Where $2 Is Not Null Order By id" "$INST_DB")
  local n
  n=$(printf '%s\n' "$l" | grep -c . || true)
  total=$((total + n))
  if [ "$l" = "$c" ]; then
    same=$((same + n))
    printf '%-26s %3s identical\n' "$1.$2" "$n"
  else
    printf '%-26s DIFFERENT\n' "$1.$2"
  fi
}
compare_photos Names photo
compare_photos Logs photo
compare_photos Logs photo2
compare_photos AdditionalPhotos photo
echo "$same of $total photos identical"
# One picture as each side holds it, for a look with any image viewer.
lval "Select photo From Names Where id = 1" | unhex >"$ROOT/demo/resident1-local.jpg"
cval "Select photo From Names Where id = 1" "$INST_DB" | unhex >"$ROOT/demo/resident1-central.jpg"
echo "resident 1's photo at both ends: $ROOT/demo/resident1-local.jpg, $ROOT/demo/resident1-central.jpg"
changes_ok=1
echo
echo "names as stored centrally:"
cval "Select id, lastName, firstName, suite From Names Order By id" "$INST_DB" | sed 's/^/  /'


# One change in each direction after the full upload.
echo
echo "== a local change travels to the central side (UpdateQueue, NamesU)"
lsql -d Portavento -Q "Update Names Set firstName = N'Seán Óg', phone1 = N'5559999' Where id = 1; Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', 1, 0)" >/dev/null
arrived=""
for _ in $(seq 1 300); do
  got=$(cval "Select firstName From Names Where id = 1" "$INST_DB")
  if [ "$got" = "Seán Óg" ]; then arrived=1; break; fi
  sleep 0.1
done
if [ -n "$arrived" ]; then
  echo "central Names 1 now reads: $(cval "Select lastName + N', ' + firstName + N' (' + phone1 + N')' From Names Where id = 1" "$INST_DB")"
  echo "local UpdateQueue rows left: $(lval 'Select Count(*) From UpdateQueue')"
else
  echo "demo: the queued change did not arrive centrally" >&2
  changes_ok=""
fi

echo
echo "== a central change is applied locally (UPDA, TenantAccess)"
cval "Update TenantAccess Set code = N'7777', descr = N'New fob' Where resId = 2" "$INST_DB" >/dev/null
cval "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values ($INST_ID, 2, N'TenantAccess', Null)" PVHome >/dev/null
control upda >/dev/null
applied=""
for _ in $(seq 1 300); do
  if [ "$(lval 'Select code From TenantAccess Where resId = 2')" = "7777" ]; then applied=1; break; fi
  sleep 0.1
done
if [ -n "$applied" ]; then
  echo "local access code of resident 2: $(lval "Select code + N' (' + descr + N')' From TenantAccess Where resId = 2")"
  echo "central UpdateQueue rows left: $(cval "Select Count(*) From UpdateQueue Where instId = $INST_ID" PVHome)"
else
  echo "demo: the central change was not applied locally" >&2
  changes_ok=""
fi

echo
echo "== pvremote --status"
"$PVREMOTE" --status || true
echo
echo "The service's log: $(ls "$LOG_FOLDER"/Log*.txt 2>/dev/null | head -1)"
echo "The service's journal (its standard error): $ROOT/demo/pvremote-output.txt"
echo "The simulator's log: $STATE/pvcentral.log"
echo "Everything of this run is under $ROOT (remove it when done)."
if [ "$same" -eq "$total" ] && [ -n "$changes_ok" ]; then
  VERDICT="$same of $total photos identical, a local and a central change travelled"
else
  exit 1
fi
