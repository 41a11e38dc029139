# The environment every test run shares, sourced by scripts/test.sh and
# scripts/asan.sh: a private work folder (removed at exit, $telwick_work), a
# private PostgreSQL there unless the caller brings one (TELWICK_PG_DSN), a
# private runtime folder, and Qt's offscreen platform with no display.
# shellcheck shell=bash
telwick_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
telwick_work=$(mktemp -d "${TMPDIR:-/tmp}/telwick-test-XXXXXX")
chmod 755 "$telwick_work"  # the postgres user reaches its cluster in there
telwick_own_pg=""
telwick_env_cleanup() {
  if [ -n "$telwick_own_pg" ]; then
    bash "$telwick_top/scripts/pg-test-env.sh" stop "$telwick_work/pg" >/dev/null 2>&1 || true
  fi
  rm -rf "$telwick_work"
}
trap telwick_env_cleanup EXIT

if [ -z "${TELWICK_PG_DSN:-}" ]; then
  telwick_own_pg=1
  bash "$telwick_top/scripts/pg-test-env.sh" start "$telwick_work/pg" >/dev/null || exit 1
  # shellcheck disable=SC1091
  source "$telwick_work/pg/env"
fi

export XDG_RUNTIME_DIR="$telwick_work/xdg"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
