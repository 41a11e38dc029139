#!/usr/bin/env bash
# The main job, end to end: installs what running needs (not the test tools),
# builds telwick and telwick-reg into build-demo/, makes a
# demo Corvane database (SQLite) and a demo settings hive in a private folder,
# runs the service in debug mode against them, and plays the collector: every
# couple of seconds a new event goes into the database, and the service
# reports it in this terminal.
#
#   bash scripts/demo.sh            # runs for DEMO_SECONDS (default 40), then stops
#   DEMO_SECONDS=300 bash scripts/demo.sh
#
# Ctrl+C stops it at any time. Nothing outside the private folder is touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${DEMO_SECONDS:-40}
build=${TELWICK_BUILD_DIR:-$top/build-demo}
started=$SECONDS

bash scripts/install-deps.sh --run
echo "== building telwick into $build"
bash scripts/build.sh "$build" -DTELWICK_TESTS=OFF -DTELWICK_BENCH=OFF --target telwick telwick-reg >/dev/null
echo "   ready after $((SECONDS - started)) s"

demo=$(mktemp -d /tmp/telwick-demo-XXXXXX)
service_pid="" tail_pid=""
cleanup() {
  trap - INT TERM EXIT
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then
    kill -TERM "$service_pid" 2>/dev/null || true
  fi
  if [ -n "$service_pid" ]; then
    status=0
    wait "$service_pid" || status=$?
    echo "== telwick ended with status $status"
  fi
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT
trap 'echo; echo "== stopping"; exit 0' INT TERM

# Everything of the demo lives in the private folder: the hive, the database,
# the runtime folder, and no system logger there, so that the service's
# event-log entries show on its standard error as "Telwick[110]: ...".
export TELWICK_REGISTRY="$demo/registry.db"
export TELWICK_SYSLOG_SOCKET="$demo/no-logger-here.sock"
export XDG_RUNTIME_DIR="$demo/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

db="$demo/corvane.db"
sqlite3 "$db" < schema/sqlite.sql
sqlite3 "$db" < schema/demo.sql
echo "== demo database: $db ($(sqlite3 "$db" 'SELECT COUNT(*) FROM t_eventLog') events already stored)"

# The second monitor's script: it shows the event text it was given.
script="$demo/on-event.sh"
cat > "$script" <<EOF
#!/bin/sh
printf '[script] %s  got: %s\n' "\$(date +%T)" "\$1" >> "$demo/script.log"
EOF
chmod 700 "$script"
: > "$demo/script.log"
tail -n0 -F "$demo/script.log" 2>/dev/null &
tail_pid=$!

reg="$build/telwick-reg"
key='HKLM\SOFTWARE\Corvane\Telwick'
"$reg" add "$key" /v Server /t REG_SZ /d "$db" /f >/dev/null
"$reg" add "$key" /v Checkinterval /t REG_SZ /d 2000 /f >/dev/null
# Records: computer;type;level;message box;event log;script;script path;
"$reg" add "$key" /v config0 /t REG_SZ /d ';;;0;1;0;;' /f >/dev/null          # every event: event-log entry
"$reg" add "$key" /v config1 /t REG_SZ /d "1;;;0;0;1;$script;" /f >/dev/null  # FILESERVER: run the script
echo "== settings ($TELWICK_REGISTRY):"
"$reg" query "$key" | sed -n 's/^    /   /p'

echo "== starting: $build/telwick -debug (checks every 2 s)"
"$build/telwick" -debug &
service_pid=$!
sleep 1
feeding=$SECONDS

# The collector: a new event every two seconds, from a few computers.
events=(
  "1, 1, 2, 1, 'D:;91'"
  "2, 2, 3, 2, 'Exchange Transport'"
  "1, 4, 1, 3, 'FILESERVER;2'"
  "3, 3, 4, 4, 'jdoe;WS-ACCOUNTING'"
  "3, 1, 5, 1, 'C:;97'"
  "1, 1, 5, 5, 'FILESERVER'"
)
i=0
while [ $((SECONDS - feeding)) -lt "$seconds" ] && kill -0 "$service_pid" 2>/dev/null; do
  values=${events[$((i % ${#events[@]}))]}
  nr=$(sqlite3 "$db" "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES ($values); SELECT last_insert_rowid();")
  echo "[collector] $(date +%T)  stored event $nr (computer, type, level, message, parameters: $values)"
  i=$((i + 1))
  sleep 2
done
sleep 2.5  # the last event's check
echo "== demo time is up ($((SECONDS - started)) s in all)"
