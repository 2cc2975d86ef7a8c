#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only
# when one of them is missing.
set -euo pipefail
PKGS=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libasio-dev
      libsqlite3-dev sqlite3 unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc
      libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev systemd clang-format)
missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
