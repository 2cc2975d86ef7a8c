#!/usr/bin/env bash
# Installs the Debian packages a part of the work needs, only when one of
# them is missing:
#
#   scripts/deps.sh            # the Linux build, the tests and the demo
#   scripts/deps.sh windows    # the Windows cross build (scripts/build-windows.sh)
#   scripts/deps.sh wine       # the Windows tests: GoogleTest's source and Wine
#   scripts/deps.sh package    # the Debian package (scripts/package.sh)
#
# Several names may be given (scripts/deps.sh linux windows wine).
set -euo pipefail
(($#)) || set -- linux
PKGS=()
for part in "$@"; do
  case $part in
    linux)
      PKGS+=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libasio-dev
             libsqlite3-dev sqlite3 unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc
             libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev systemd clang-format python3) ;;
    # MinGW-w64 with the POSIX thread model; gcc, make, tcl and xz-utils make
    # SQLite's amalgamation from Debian's source package.
    # wixl (msitools) makes the installer; dpkg-dev reads its version.
    windows)
      PKGS+=(g++-mingw-w64-x86-64-posix cmake ninja-build gcc make tcl xz-utils libasio-dev
             pkg-config wixl dpkg-dev) ;;
    # The ODBC drivers are the host's: Wine's odbc32 passes calls on to unixODBC.
    wine)
      PKGS+=(googletest wine64 unixodbc odbcinst libsqliteodbc) ;;
    # debhelper, the man pages' source format, the package checker.
    package)
      PKGS+=(debhelper dpkg-dev fakeroot scdoc lintian cmake ninja-build g++ pkgconf
             libasio-dev libsqlite3-dev unixodbc-dev ccache) ;;
    *)
      echo "deps.sh: unknown part '$part' (linux, windows, wine, package)" >&2
      exit 2 ;;
  esac
done
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
