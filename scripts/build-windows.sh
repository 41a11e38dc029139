#!/usr/bin/env bash
# Cross-builds the Windows x64 program and its portable tests into
# build-windows/ (or the folder given as $1) with Debian's mingw-w64, further
# CMake options after it; everything after --target names what to build (all
# by default). The tests run under Wine: scripts/test-windows.sh.
#
#   bash scripts/build-windows.sh
#   bash scripts/build-windows.sh build-windows --target test_numeric
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build-windows}
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
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
fi
cmake -S "$top" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${targets[@]+--target "${targets[@]}"}
