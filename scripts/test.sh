#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts a private PostgreSQL and
# runs every test. Exit status 0 only when all passed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

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

ctest --test-dir build --output-on-failure -j2 --timeout 600
