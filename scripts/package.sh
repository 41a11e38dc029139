#!/usr/bin/env bash
# Builds the Debian package build/telwick_VERSION-REVISION_ARCH.deb from the
# build tree (configured first when it is not; $1 names another one) and checks
# it with lintian, whose errors fail the build. Prints the package's path last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}

[ -f "$dir/CMakeCache.txt" ] || cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target telwick telwick-reg package_docs >/dev/null
rm -f "$dir"/telwick_*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
deb=$(ls "$dir"/telwick_*.deb)

if command -v lintian >/dev/null; then
  # The package is not uploaded to Debian, so its changelog closes no bug.
  rc=0
  out=$(lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb" 2>&1) || rc=$?
  printf '%s\n' "$out" | grep -v -e '^running with root privileges' -e '^$' >&2 || true
  [ "$rc" -eq 0 ] || { echo "lintian found errors in $deb" >&2; exit 1; }
fi
echo "$deb"
