#!/usr/bin/env bash
# A private PostgreSQL 15 for the tests, reached through psqlODBC.
#
#   pg-test-env.sh start DIR    new cluster in DIR on 127.0.0.1 (free port): database
#                               "Corvane" (the program's catalogue) with the tables
#                               and demo data, a login role, DIR/odbc.ini with a DSN
#                               and DIR/env. The cluster is a copy of
#                               $TELWICK_PG_TEMPLATE when set, else made by initdb
#                               and kept pristine as DIR/template for later copies.
#   pg-test-env.sh stop DIR     stops the server (the folder stays for the caller)
#   pg-test-env.sh pause DIR    stops the server, keeping its data
#   pg-test-env.sh resume DIR   starts it again on the same port
#   pg-test-env.sh freeze DIR   stops every process of the server (SIGSTOP): the
#                               connections stay up, nothing answers
#   pg-test-env.sh thaw DIR     lets them run again (SIGCONT)
#
# As root the server runs as user postgres, so DIR must be reachable by it.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
pgbin=${TELWICK_PG_BIN:-/usr/lib/postgresql/15/bin}

usage() {
  echo "usage: $0 start|stop|pause|resume|freeze|thaw DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
cmd=$1
dir=$2

# Runs a server program as the owner of the cluster.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# The waits of pg_ctl are long: on a loaded machine a start after a crash
# (recovery) or a stop (the checkpoint, with other programs writing) takes its
# time, and a wait that ends early fails the test for nothing.
server_start() {
  local port=$1
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -l "$dir/run/server.log" -w -t 120 \
    -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir/run" \
    start >/dev/null
}

start() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ -e "$dir/data" ]; then
    echo "$0: $dir/data exists already" >&2
    exit 1
  fi
  mkdir -p "$dir/data" "$dir/run"
  chmod 700 "$dir/data"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres:postgres "$dir/data" "$dir/run"
    if ! runuser -u postgres -- test -x "$dir"; then
      echo "$0: $dir is not reachable by user postgres (check the modes of its parent folders)" >&2
      exit 1
    fi
  fi

  # A pristine cluster is copied when one is at hand: initdb is the slow part.
  local template=${TELWICK_PG_TEMPLATE:-}
  if [ -n "$template" ] && [ -f "$template/PG_VERSION" ]; then
    rmdir "$dir/data"
    cp -a "$template" "$dir/data"
  else
    as_owner "$pgbin/initdb" -D "$dir/data" -U postgres --auth-local=trust \
      --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
      cat "$dir/initdb.log" >&2
      exit 1
    }
    template="$dir/template"
    cp -a "$dir/data" "$template"
  fi

  # A free port: try random ones until the server comes up on one.
  local port="" tries=0
  while [ $tries -lt 5 ]; do
    tries=$((tries + 1))
    local candidate=$((20000 + RANDOM % 40000))
    port_in_use "$candidate" && continue
    if server_start "$candidate"; then
      port=$candidate
      break
    fi
  done
  if [ -z "$port" ]; then
    echo "$0: the server did not start; see $dir/run/server.log" >&2
    exit 1
  fi
  echo "$port" >"$dir/port"

  local user=tw_monitor
  local password
  password=$(head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n')
  local psql=("$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir/run" -p "$port" -U postgres)
  as_owner "${psql[@]}" -d postgres >/dev/null <<SQL
SET password_encryption = 'scram-sha-256';
CREATE ROLE $user LOGIN PASSWORD '$password';
CREATE DATABASE "Corvane" OWNER $user ENCODING 'UTF8';
SQL
  # The tables belong to the login role, in its database's public schema.
  as_owner "${psql[@]}" -d Corvane -c "ALTER SCHEMA public OWNER TO $user" >/dev/null
  cat "$top/schema/postgresql.sql" "$top/schema/demo.sql" |
    as_owner "${psql[@]}" -d Corvane -c "SET ROLE $user" -f - >/dev/null

  # Large windows stream through a cursor instead of arriving all at once.
  cat >"$dir/odbc.ini" <<INI
[corvane_test]
Description = Telwick test database
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $port
Database = Corvane
SSLMode = disable
UseDeclareFetch = 1
Fetch = 1000
CommLog = 0
Debug = 0
INI
  # Debian's odbcinst.ini switches psqlODBC's communication log on for the
  # driver as a whole, which leaves a psqlodbc_*.log file in /tmp for every
  # process that connects; the tests use a copy of the driver list with it off.
  if [ -f /etc/odbcinst.ini ]; then
    sed -e 's/^\(CommLog\|Debug\)[[:space:]]*=.*/\1=0/' /etc/odbcinst.ini >"$dir/odbcinst.ini"
  else
    : >"$dir/odbcinst.ini"
  fi
  umask 077
  cat >"$dir/env" <<ENV
export ODBCINI='$dir/odbc.ini'
export ODBCSYSINI='$dir'
export TELWICK_PG_DSN='corvane_test'
export TELWICK_PG_HOST='127.0.0.1'
export TELWICK_PG_PORT='$port'
export TELWICK_PG_USER='$user'
export TELWICK_PG_PASSWORD='$password'
export TELWICK_PG_DATABASE='Corvane'
export TELWICK_PG_DIR='$dir'
export TELWICK_PG_TEMPLATE='$template'
ENV
  echo "PostgreSQL for the tests on 127.0.0.1:$port in $dir"
}

stop() {
  [ -d "$dir/data" ] || return 0
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w -t 120 stop >/dev/null 2>&1 || true
}

pause() {
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w -t 120 stop >/dev/null
}

resume() {
  server_start "$(cat "$dir/port")"
}

# The server's processes: the postmaster and its children.
server_pids() {
  local main
  main=$(head -1 "$dir/data/postmaster.pid")
  echo "$main"
  pgrep -P "$main" || true
}

freeze() {
  # The postmaster first: stopped, it starts no new child meanwhile.
  local main
  main=$(head -1 "$dir/data/postmaster.pid")
  kill -STOP "$main"
  kill -STOP $(pgrep -P "$main") 2>/dev/null || true
}

thaw() {
  kill -CONT $(server_pids)
}

case "$cmd" in
  start) start ;;
  stop) stop ;;
  pause) pause ;;
  resume) resume ;;
  freeze) freeze ;;
  thaw) thaw ;;
  *) usage ;;
esac
