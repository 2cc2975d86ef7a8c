#!/usr/bin/env bash
# The chaos soak: a site and pvcentral on the embedded engine under a steady
# stream of local changes of every kind (with photos) and central changes,
# with faults injected at random moments (kill -9 of the service, link drops,
# the central and the local instance offline, a peer that stops reading, a
# full disk under the central instance and under the application folder).
# Then, with the faults stopped, it waits until both queues are empty and
# stable and checks that nothing was lost: queues empty, every synchronised
# table equal row by row on both sides, every photo byte by byte, no
# duplicate row, FailedChanges.txt holding only permanent failures. Exit 0
# when all holds; otherwise it prints what differs and exits 1.
#
#   scripts/soak.sh [--minutes N] [--seed S] [--build DIR] [--keep]
#
#   --minutes N   minutes of load and faults (default 3); the settling and the
#                 check take up to about two more
#   --seed S      the seed of the changes and of the fault schedule (default:
#                 random; printed, so a run can be repeated)
#   --build DIR   a build folder with pvremote, pvcentral and pvsql built
#                 (e.g. build/test); default: builds build/soak (RelWithDebInfo)
#   --keep        keep the run's folder (databases, logs) even when it passed
#
# Every process it starts is stopped at the end and its mounts are undone,
# whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$PWD

MINUTES=3
SEED=""
BUILD=""
KEEP=""
while (($#)); do
  case $1 in
    --minutes) MINUTES=$2; shift 2 ;;
    --seed) SEED=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h | --help) sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done
[[ $MINUTES =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "soak: --minutes takes a number" >&2; exit 2; }
[ -n "$SEED" ] || SEED=$((RANDOM * 32768 + RANDOM))
[[ $SEED =~ ^[0-9]+$ ]] || { echo "soak: --seed takes a whole number" >&2; exit 2; }

if [ -z "$BUILD" ]; then
  scripts/deps.sh
  BUILD=build/soak
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_BUILD_TESTS=OFF \
    -DPV_BUILD_BENCH=OFF >/dev/null
  cmake --build "$BUILD" --target pvremote pvcentral pvsql | grep -v '^\[' || true
fi
BUILD=$(cd "$BUILD" && pwd)
for p in service/pvremote tools/pvcentral/pvcentral tools/pvsql/pvsql; do
  [ -x "$BUILD/$p" ] || { echo "soak: $BUILD/$p is missing" >&2; exit 2; }
done
command -v python3 >/dev/null || { echo "soak: python3 is missing (scripts/deps.sh)" >&2; exit 2; }

ROOT=$(mktemp -d "${TMPDIR:-/tmp}/pvremote-soak-XXXXXX")
DRIVER=""
cleanup() {
  local status=$?
  # The driver first, then whatever it started (it records every pid).
  if [ -n "$DRIVER" ]; then kill -TERM "$DRIVER" 2>/dev/null || true; fi
  for f in "$ROOT"/pids/*; do
    [ -f "$f" ] || continue
    read -r pid program <"$f"
    # Only a process that still runs that program (a pid may be reused).
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$program" ] || continue
    kill -INT "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -f "$ROOT/mounts" ]; then
    # What the run left on a mount (logs, databases) is copied under the
    # mount point once it is undone.
    while read -r m; do
      saved=$(mktemp -d "$ROOT/.saved-XXXXXX")
      cp -a "$m/." "$saved/" 2>/dev/null || true
      umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
      cp -a "$saved/." "$m/" 2>/dev/null || true
      rm -rf "$saved"
    done <"$ROOT/mounts"
  fi
  if [ "$status" = 0 ] && [ -z "$KEEP" ]; then
    rm -rf "$ROOT"
  else
    echo "soak: the run's folder is kept: $ROOT"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "soak: seed $SEED, $MINUTES minutes, programs from $BUILD"
MOUNT_ARG=()
[ "$(id -u)" = 0 ] || MOUNT_ARG=(--no-mount)
python3 "$REPO/scripts/soak/soak.py" --root "$ROOT" --bin "$BUILD" --repo "$REPO" \
  --minutes "$MINUTES" --seed "$SEED" "${MOUNT_ARG[@]}" &
DRIVER=$!
wait "$DRIVER"
