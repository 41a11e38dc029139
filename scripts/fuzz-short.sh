#!/usr/bin/env bash
# A short fuzz run for the test command: each target for a few seconds
# (default 5; the first argument overrides it). See scripts/fuzz.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec bash "$here/fuzz.sh" "${1:-5}"
