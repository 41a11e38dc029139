#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1), with further
# CMake options after it; everything after --target names what to build (all
# by default).
#
#   bash scripts/build.sh
#   bash scripts/build.sh build-debug -DCMAKE_BUILD_TYPE=Debug
#   bash scripts/build.sh build --target telwick telwick-reg
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
shift || true
options=() targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--target" ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${targets[@]+--target "${targets[@]}"}
