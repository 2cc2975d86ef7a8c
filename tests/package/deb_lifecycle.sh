#!/usr/bin/env bash
# The Debian package's life on this machine, as root and without systemd as
# PID 1 (CI): install, install the same version again, remove, purge. Each
# step must exit 0 and leave the files, the user and the unit as the README
# says. Refuses to run where pvremote is already installed (a real site's
# settings are never touched).
#
#   tests/package/deb_lifecycle.sh build/package/pvremote_<version>_amd64.deb
set -uo pipefail
deb=$(realpath "$1")
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; }
step() {
  local what=$1; shift
  echo "== $what"
  local rc=0
  DEBIAN_FRONTEND=noninteractive "$@" > "$log" 2>&1 || rc=$?
  if ((rc)); then cat "$log" >&2; fail "$what exited $rc"; fi
}
owner() { stat -c '%U:%G %a' "$1" 2>/dev/null; }

if [ "$(id -u)" != 0 ]; then echo "deb_lifecycle.sh: needs root" >&2; exit 2; fi
if dpkg-query -W -f='${Status}' pvremote 2>/dev/null | grep -q "installed\|config-files"; then
  echo "deb_lifecycle.sh: pvremote is installed here already; not touching it" >&2
  exit 2
fi
tmp=$(mktemp -d)
log=$tmp/step.log
trap 'rm -rf "$tmp"' EXIT
unit=/lib/systemd/system/PVRemote.service
wants=/etc/systemd/system/multi-user.target.wants/PVRemote.service
files=(/usr/bin/pvremote /usr/bin/pvsql /usr/bin/pvcentral
       /usr/share/pvremote/sql/local_portavento.sql /usr/share/pvremote/sql/local_drop_mailroom.sql
       /usr/share/pvremote/sql/central_home.sql "$unit"
       /usr/share/man/man8/pvremote.8.gz /usr/share/man/man1/pvsql.1.gz
       /usr/share/man/man1/pvcentral.1.gz /usr/share/doc/pvremote/copyright
       /usr/share/bash-completion/completions/pvremote
       /usr/share/bash-completion/completions/pvsql
       /usr/share/bash-completion/completions/pvcentral)

installed_checks() {
  for f in "${files[@]}"; do check "$f installed" test -s "$f"; done
  for p in pvremote pvsql pvcentral; do
    check "$p is stripped" bash -c "! readelf -S /usr/bin/$p | grep -q '\.debug_info'"
  done
  check "the unit is enabled" test -L "$wants"
  check "the unit passes systemd-analyze verify" systemd-analyze verify "$unit"
  check "the unit rates 2.5 or lower" \
    bash -c "cd /lib/systemd/system && systemd-analyze security --offline=true --threshold=25 PVRemote.service"
  check "the user pvremote is a system user" \
    bash -c 'u=$(getent passwd pvremote) && [ "$(echo "$u" | cut -d: -f3)" -lt 1000 ] &&
             [ "$(echo "$u" | cut -d: -f6)" = /var/lib/pvremote ]'
  [ "$(owner /var/lib/pvremote)" = "pvremote:pvremote 700" ] ||
    fail "/var/lib/pvremote is $(owner /var/lib/pvremote)"
  [ "$(owner /etc/pvremote)" = "pvremote:pvremote 700" ] || fail "/etc/pvremote is $(owner /etc/pvremote)"
  [ "$(owner /etc/pvremote/machine.reg)" = "pvremote:pvremote 600" ] ||
    fail "machine.reg is $(owner /etc/pvremote/machine.reg)"
}

# Without systemd running, the upgrade path is read from the scripts: an
# upgrade restarts a running service (try-restart) and never stops it first.
dpkg-deb -e "$deb" "$tmp/control"
check "an upgrade restarts a running service" \
  grep -q "deb-systemd-invoke try-restart 'PVRemote.service'" "$tmp/control/postinst"
check "an upgrade does not stop the service first" \
  bash -c "! grep -qs 'invoke stop' '$tmp/control/preinst'"

step "install" apt-get install -y --no-install-recommends "$deb"
installed_checks
check "the template sets logKeepDays=90" grep -q '^"logKeepDays"="90"' /etc/pvremote/machine.reg
# The installed programs work and find the installed scripts: the service's
# user makes an embedded instance, pvcentral its home database.
check "pvsql makes an instance as pvremote" runuser -u pvremote -- \
  pvsql -S localhost,1433 --create-instance
check "pvsql queries it" runuser -u pvremote -- \
  pvsql -S localhost,1433 -Q "Select 1"
check "the instance is in the service's data root" test -d "/var/lib/pvremote/sql/localhost,1433"
PVREMOTE_ROOT=$tmp/site pvcentral --port 0 --no-stdin --quiet > "$tmp/pvcentral.out" 2>&1 &
central=$!
state=$tmp/site/var/lib/pvremote/pvcentral
for _ in $(seq 100); do [ -s "$state/control.port" ] && break; sleep 0.2; done
check "pvcentral starts with the installed home script" test -s "$state/control.port"
pvcentral --control "$state" quit >/dev/null 2>&1 || kill "$central" 2>/dev/null
wait "$central" 2>/dev/null

# The service as its user (a debug run, as systemd is not there to start it):
# it rewrites its settings file (appFolder), keeping the template's comments,
# and writes its daily log in the state folder.
# (setpriv executes the program in its own place, so the signal reaches it.)
setpriv --reuid=pvremote --regid=pvremote --init-groups env PVREMOTE_DEBUG=1 \
  STATE_DIRECTORY=/var/lib/pvremote /usr/bin/pvremote > "$tmp/pvremote.out" 2>&1 &
service=$!
for _ in $(seq 50); do grep -q '"appFolder"' /etc/pvremote/machine.reg && break; sleep 0.2; done
kill -INT "$service" 2>/dev/null
for _ in $(seq 50); do kill -0 "$service" 2>/dev/null || break; sleep 0.2; done
kill -KILL "$service" 2>/dev/null
rc=0
wait "$service" || rc=$?
((rc == 0)) || fail "the service's debug run exited $rc ($(cat "$tmp/pvremote.out"))"
check "the service wrote appFolder into its settings" \
  grep -q '^"appFolder"="/var/lib/pvremote/Portavento/"' /etc/pvremote/machine.reg
check "the template's comments survive the rewrite" grep -q '^;"centralHost"' /etc/pvremote/machine.reg
check "the service wrote its daily log" \
  bash -c 'grep -l "Remote Started" /var/lib/pvremote/Portavento/Log*.txt'
[ "$(owner /etc/pvremote/machine.reg)" = "pvremote:pvremote 600" ] ||
  fail "machine.reg is $(owner /etc/pvremote/machine.reg) after the service's rewrite"

echo '; kept across installs' >> /etc/pvremote/machine.reg
step "install the same version again" apt-get install -y --reinstall --no-install-recommends "$deb"
installed_checks
check "the settings file is kept" grep -q '^; kept across installs' /etc/pvremote/machine.reg

step "remove" apt-get remove -y pvremote
for f in /usr/bin/pvremote /usr/bin/pvsql /usr/bin/pvcentral "$unit"; do
  check "$f removed" test ! -e "$f"
done
check "the unit is disabled" test ! -L "$wants"
check "the settings are kept" grep -q '^; kept across installs' /etc/pvremote/machine.reg
check "the data are kept" test -d "/var/lib/pvremote/sql/localhost,1433"
check "the user is kept" getent passwd pvremote

step "purge" apt-get purge -y pvremote
check "the settings are purged" test ! -e /etc/pvremote
check "the data are purged" test ! -e /var/lib/pvremote
check "the user is purged" bash -c '! getent passwd pvremote'
check "the group is purged" bash -c '! getent group pvremote'
check "nothing of the package is left" bash -c '! dpkg-query -W pvremote 2>/dev/null | grep -q .'

if ((failures)); then
  echo "deb_lifecycle.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "deb_lifecycle.sh: install, reinstall, remove and purge passed"
