#!/usr/bin/env bash
# Installs the Debian packages that Telwick needs, when they are missing. Run as
# root (or with sudo available).
#
#   bash scripts/install-deps.sh          # building, running and testing (the test command)
#   bash scripts/install-deps.sh --run    # building and running only (the demo)
set -euo pipefail

# Building and running: the compiler, Qt, ODBC with the database drivers,
# SQLite (its shell makes the demo's database), OpenSSL and systemd.
packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  unixodbc unixodbc-dev odbc-postgresql libsqliteodbc tdsodbc
  libsqlite3-dev sqlite3 libssl-dev libsystemd-dev
)
# Testing on top: googletest and benchmarks, a private PostgreSQL, a desktop
# to take pictures on, the package checks, the system logger, the sanitizers
# and fuzzing (clang).
tests=(
  libgtest-dev libgmock-dev libbenchmark-dev
  postgresql-15 postgresql-client-15
  xvfb xauth openbox trayer xdotool x11-apps x11-utils x11-xserver-utils netpbm
  lintian mmdebstrap
  systemd rsyslog
  clang libclang-rt-14-dev
  # The Windows program: cross compiler, resources and message tables, Wine to
  # run its tests, the MSI and a tray host for its desktop.
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 msitools wixl tint2
)
case "${1:-}" in
  --run) ;;
  "") packages+=("${tests[@]}") ;;
  *) echo "usage: install-deps.sh [--run]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
