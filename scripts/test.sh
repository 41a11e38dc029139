#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts a private PostgreSQL and
# runs every test: the whole suite, the portable suites cross-built for Windows
# under Wine, a short fuzz run of each parser, and the whole suite again built
# with AddressSanitizer and UndefinedBehaviorSanitizer.
# Then build/RELIABILITY.md is written from the figures of this run (the
# committed docs/RELIABILITY.md changes only with
# scripts/reliability-report.sh --update-docs). Nothing is written outside
# build/, build-windows/, build-asan/ and build-fuzz/ (and temporary folders).
# Exit status 0 only when all of it passed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
started=$(date +%s)

bash scripts/install-deps.sh
bash scripts/build.sh "$top/build" -DTELWICK_TESTS=ON -DTELWICK_BENCH=ON

# A private PostgreSQL (reached through ODBC), runtime folder and display.
# shellcheck source=scripts/test-env.sh
source scripts/test-env.sh

echo "== layers"
bash scripts/check-layers.sh

status=0
echo "== tests"
ctest --test-dir build --output-on-failure -j2 --timeout 600 || status=1
timeout 900 bash scripts/screenshots.sh || status=1  # the desktop as a person sees it

echo "== the Windows program: cross-built, its portable tests under Wine"
bash scripts/test-windows.sh || status=1
bash scripts/package-windows.sh "$top/build-windows" --check || status=1  # the MSI installed and removed
timeout 900 bash scripts/screenshots-windows.sh || status=1  # telwick.exe as a person sees it

echo "== fuzzing, a few seconds a target"
bash scripts/fuzz-short.sh || status=1

echo "== the Debian package, tried in a throwaway Debian root"; { bash scripts/package.sh && bash scripts/package-check.sh; } || status=1

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/asan.sh || status=1

bash scripts/reliability-report.sh >/dev/null || true
echo "== reliability report: build/RELIABILITY.md"
echo "== all of it took $(( $(date +%s) - started )) s"
exit $status
