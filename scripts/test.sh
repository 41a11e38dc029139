#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts a private PostgreSQL and
# runs every test: the whole suite, a short fuzz run of each parser, and the
# whole suite again built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Then docs/RELIABILITY.md is written anew from the figures of this run.
# Exit status 0 only when all of it passed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
started=$(date +%s)

bash scripts/install-deps.sh
bash scripts/build.sh "$top/build"

work=$(mktemp -d /tmp/telwick-ci-XXXXXX)
chmod 755 "$work"
cleanup() {
  bash scripts/pg-test-env.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The private PostgreSQL that the engine tests reach through ODBC.
bash scripts/pg-test-env.sh start "$work/pg"
# shellcheck disable=SC1091
source "$work/pg/env"

export XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY

status=0
echo "== tests"
ctest --test-dir build --output-on-failure -j2 --timeout 600 || status=1

echo "== fuzzing, a few seconds a target"
bash scripts/fuzz-short.sh || status=1

echo "== the Debian package, tried in a throwaway Debian root"; { bash scripts/package.sh && bash scripts/package-check.sh; } || status=1

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/asan.sh || status=1

bash scripts/reliability-report.sh >/dev/null || true
echo "== all of it took $(( $(date +%s) - started )) s"
exit $status
