#!/usr/bin/env bash
# Tries the Debian package in a throwaway Debian root made by mmdebstrap from
# Debian's own packages (the package's dependencies, systemd and man-db): it
# installs the package there, runs telwick-reg and `telwick -install`, checks
# the units with systemd-analyze, reads the manual pages, then removes and
# purges the package and compares the root's files with those before. The
# machine's own /usr, /etc and /var are never touched; the root lives in /tmp
# and is gone afterwards. Run as root.
#   bash scripts/package-check.sh [PACKAGE.deb]     (default: build/telwick_*.deb)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

# --- inside: called by mmdebstrap's hook with the root's folder ----------------
if [ "${1:-}" = --in-root ]; then
  root=$2
  deb=/tmp/$(basename "$3")
  run() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$@"; }
  fail() { echo "package check: $*" >&2; exit 1; }
  # Every file and folder of the root with its type, mode and owner, leaving
  # out the package manager's own records, logs and caches.
  files() {
    run find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
      -o -path /var/lib/dpkg -o -path /var/log -o -path /var/cache \) -prune -o -printf '%y %m %u %p\n' |
      sort
  }
  hive='HKLM\SOFTWARE\Corvane\Telwick'

  files >"$root/tmp/before"
  run dpkg -i "$deb" >/dev/null
  [ "$(run dpkg-query -W -f='${Status}' telwick)" = "install ok installed" ] || fail "not installed"
  echo "installed: $(run dpkg-query -W -f='${Package} ${Version}' telwick)"

  # The folder of root's hive, private; nothing enabled or started.
  [ "$(run stat -c '%a %U' /var/lib/telwick)" = "700 root" ] || fail "/var/lib/telwick is not 0700 root"
  [ "$(run systemctl is-enabled telwick.service || true)" = disabled ] || fail "the system unit is enabled"
  [ "$(run systemctl --global is-enabled telwick.service || true)" = disabled ] || fail "the user unit is enabled"

  # The settings, as root: the hive is made in /var/lib/telwick. The service
  # runs there too: with a monitor but no database set, and no display to ask
  # on, it says what is missing and ends with a failure.
  run telwick-reg add "$hive" /v config0 /d ';;3;0;1;0;;' /f >/dev/null
  out=$(run timeout 60 telwick 2>&1) && fail "telwick without a server ended well"
  grep -q 'no database server is set' <<<"$out" || fail "telwick without a server: $out"
  run telwick-reg add "$hive" /v Server /d /srv/corvane/corvane.db /f >/dev/null
  run telwick-reg query "$hive" | grep -q 'config0    REG_SZ    ;;3;0;1;0;;' || fail "telwick-reg query"
  [ "$(run stat -c '%a %U' /var/lib/telwick/registry.db)" = "600 root" ] || fail "the hive is not 0600 root"
  echo "telwick-reg: wrote and read /var/lib/telwick/registry.db (0600)"

  # And with the demo database made from the schemas of the package: a new
  # event of level 3 becomes entry 110 (on standard error: no logger listens in
  # the root), SIGTERM stops the service with status 0.
  mkdir -p "$root/srv/corvane"
  cat "$root/usr/share/telwick/sqlite.sql" "$root/usr/share/telwick/demo.sql" | sqlite3 "$root/srv/corvane/corvane.db"
  run telwick-reg add "$hive" /v Checkinterval /d 1000 /f >/dev/null
  chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root TELWICK_SYSLOG_SOCKET=/tmp/no-logger telwick \
    2>"$root/tmp/telwick.err" &
  pid=$!
  for _ in $(seq 180); do  # a new event each second until the entry comes (a loaded machine starts slowly)
    grep -q 'Telwick\[110\]: Service Package Check stopped unexpectedly' "$root/tmp/telwick.err" && break
    sqlite3 "$root/srv/corvane/corvane.db" "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr,
      messagenr, parameter) VALUES (2, 2, 3, 2, 'Package Check')"
    sleep 1
  done
  kill -TERM "$pid"
  status=0 && wait "$pid" || status=$?
  grep -q 'Telwick\[110\]: Service Package Check' "$root/tmp/telwick.err" ||
    fail "no entry 110 from the service: $(cat "$root/tmp/telwick.err")"
  [ "$status" -eq 0 ] || fail "the service ended with $status after SIGTERM"
  rm -rf "$root/srv/corvane"
  echo "telwick: reported a new event as entry 110 and stopped on SIGTERM with status 0"

  # -install as root writes the system unit for /usr/bin/telwick (no service
  # manager runs in the root, so it is written, not enabled), and as another
  # user a user unit; both are the package's units but for the manual link.
  run telwick -install 2>&1 | grep -q 'installed successfully' || fail "telwick -install as root"
  diff <(grep -v '^Documentation=' "$root/usr/lib/systemd/system/telwick.service") \
    "$root/etc/systemd/system/telwick.service" || fail "the unit of -install differs from the package's"
  mkdir -p "$root/tmp/user" && run chown nobody:nogroup /tmp/user
  chroot --userspec=nobody:nogroup "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/user telwick -install 2>&1 |
    grep -q 'installed successfully' || fail "telwick -install as a user"
  diff <(grep -v '^Documentation=' "$root/usr/lib/systemd/user/telwick.service") \
    "$root/tmp/user/.config/systemd/user/telwick.service" || fail "the user unit of -install differs"
  for unit in /usr/lib/systemd/system/telwick.service /etc/systemd/system/telwick.service; do
    run systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
  done
  mkdir -m 0700 "$root/tmp/xdg"
  run env XDG_RUNTIME_DIR=/tmp/xdg systemd-analyze --user verify /usr/lib/systemd/user/telwick.service ||
    fail "systemd-analyze --user verify of the user unit"
  echo "units: -install wrote /etc/systemd/system/telwick.service (ExecStart=/usr/bin/telwick); all verify"
  # What an administrator does next, so that purging has links to clear.
  run systemctl enable telwick.service 2>/dev/null

  # An upgrade (the same package again) restarts a running system service:
  # with a service manager present, postinst asks for a try-restart, which
  # leaves a stopped service stopped. No service manager runs in the root, so
  # a recorder stands in for deb-systemd-invoke while the upgrade runs.
  invoke=$root/usr/bin/deb-systemd-invoke
  cp -p "$invoke" "$root/tmp/invoke.real"
  printf '#!/bin/sh\necho "$*" >>/tmp/invoked\n' >"$invoke"
  mkdir -p "$root/run/systemd/system"
  run dpkg -i "$deb" >/dev/null
  rmdir "$root/run/systemd/system"
  cp -p "$root/tmp/invoke.real" "$invoke"
  grep -qx 'try-restart telwick.service' "$root/tmp/invoked" ||
    fail "the upgrade did not try-restart the service: $(cat "$root/tmp/invoked" 2>/dev/null)"
  echo "upgrade: postinst asked for '$(cat "$root/tmp/invoked")'"

  # The manual pages, through man's index and rendered without a warning.
  for page in telwick telwick-reg; do
    text=$(run env MANWIDTH=80 man "$page" 2>/dev/null | sed -e 's/.\x08//g')
    grep -q "^NAME" <<<"$text" || fail "man $page"
    warnings=$(run env MANWIDTH=80 man --warnings -l "/usr/share/man/man8/$page.8.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page warns: $warnings"
    echo "man $page: $(wc -l <<<"$text") lines, no warnings"
  done

  run dpkg -r telwick >/dev/null
  [ ! -e "$root/usr/bin/telwick" ] || fail "/usr/bin/telwick is left after remove"
  [ -f "$root/var/lib/telwick/registry.db" ] || fail "remove took the settings"
  run dpkg -P telwick >/dev/null
  rm -rf "$root/tmp/user"
  files >"$root/tmp/after"
  diff "$root/tmp/before" "$root/tmp/after" || fail "purging left the files above"
  echo "purged: the root's $(wc -l <"$root/tmp/after") files and folders are as before the installation"
  exit 0
fi

# --- outside: the root ---------------------------------------------------------
started=$(date +%s)
deb=${1:-$(ls "$top"/build/telwick_*.deb 2>/dev/null | tail -n 1)}
[ -f "$deb" ] || { echo "no package; build it with scripts/package.sh" >&2; exit 1; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

# The package's dependencies, without versions, the first of each choice.
depends=$(dpkg-deb -f "$deb" Depends | sed -e 's/([^)]*)//g' -e 's/|[^,]*//g' -e 's/[[:space:]]//g')
# The machine's own Debian sources; without them, Debian's default mirror.
mirrors=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/debian.sources; do
  [ -s "$f" ] && mirrors+=("$f")
done

mmdebstrap --quiet --variant=apt --include="$depends,systemd,man-db" \
  --customize-hook="copy-in '$deb' /tmp" \
  --customize-hook="bash '$top/scripts/package-check.sh' --in-root \"\$1\" '$deb'" \
  bookworm /dev/null "${mirrors[@]}" </dev/null
echo "package check passed in $(($(date +%s) - started)) s"
