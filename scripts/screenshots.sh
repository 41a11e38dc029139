#!/usr/bin/env bash
# Pictures of the desktop as a person sees them: the real telwick runs on a
# private X server (Xvfb) with a window manager (openbox) and a notification
# area (trayer), against a demo database and hive whose names are longer than
# the dialogs' fields. It takes, with the window frames:
#   tray-menu.png           the icon with its menu open, in the screen's corner
#   configurations.png      the configuration list
#   configuration.png       the editor on a record
#   database-connection.png the database dialog
#   message-box-short.png   the box of an event with a short text
#   message-box.png         the whole screen, the box of an event with a 10 KB text
#   message-box-details.png the same box with its details (the whole text) opened
#
#   bash scripts/screenshots.sh                 # into build/screenshots/desktop
#   bash scripts/screenshots.sh --update-docs   # into docs/screenshots (to commit them)
#
# Everything lives in a private temporary folder (HOME, the XDG folders, the
# hive, the database); the X server picks a free display of its own. Every wait
# has a deadline, a generous one: on a loaded machine (a build beside it, a
# sanitizer run) the X server, the panel and each window take their time.
# Exit status 0 when all pictures were taken.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TELWICK_BUILD_DIR:-$top/build}
out=$build/screenshots/desktop
[ "${1:-}" = "--update-docs" ] && out=$top/docs/screenshots

for tool in Xvfb xsetroot openbox trayer xdotool xwd xwdtopnm pnmtopng pamcut pamcomp pamfile ppmhist xwininfo xprop sqlite3; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
for program in telwick telwick-reg; do
  [ -x "$build/$program" ] || { echo "screenshots: $build/$program is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/telwick-shots-XXXXXX)
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "screenshots: $*" >&2
  if [ -s "$work/telwick.log" ]; then
    echo "--- telwick's output:" >&2
    tail -c 2000 "$work/telwick.log" >&2
    echo >&2
  fi
  exit 1
}

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export TELWICK_REGISTRY=$work/registry.db TELWICK_SYSLOG_SOCKET=$work/no-logger-here.sock
unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8

# --- the desktop: 800 x 600, a free display number chosen by the server ----------
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp -auth /dev/null 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1200); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(cat "$work/display")"
export DISPLAY

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
  --SetPartialStrut true --transparent false --tint 0xdcdcdc >"$work/trayer.log" 2>&1 &
pids+=($!)
timeout 120 xdotool search --sync --class trayer >/dev/null || fail "trayer did not show"
xsetroot -solid '#3b6e8f'

# --- the demo database and settings ---------------------------------------------
db=$work/corvane-monitoring-eventlog-archive.db
sqlite3 "$db" <"$top/schema/sqlite.sql"
sqlite3 "$db" <"$top/schema/demo.sql"
long_text=$(
  printf 'Backup of FILESERVER failed: 240 files were not copied.'
  for i in $(seq -w 1 240); do printf ' D:\\Shares\\Accounting\\2026\\invoice-%s.pdf,' "$i"; done
)
sqlite3 "$db" <<EOF
INSERT INTO t_computer (computernr, computername, domainname, statusnr) VALUES
    (6, 'BUILDSERVER-WESTWING-02', 'CORVANE-RESEARCH', 1);
INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES
    (6, 17, 1, '%1');
EOF
reg=$build/telwick-reg
key='HKLM\SOFTWARE\Corvane\Telwick'
"$reg" add "$key" /v Server /t REG_SZ /d "$db" /f >/dev/null
"$reg" add "$key" /v Checkinterval /t REG_SZ /d 1000 /f >/dev/null
# Records: computer;type;level;message box;event log;script;script path;
"$reg" add "$key" /v config0 /t REG_SZ /d "3;4;3;1;1;1;/opt/corvane/telwick/scripts/notify-accounting-backup-failure.sh;" /f >/dev/null
"$reg" add "$key" /v config1 /t REG_SZ /d "6;2;5;1;1;0;;" /f >/dev/null
"$reg" add "$key" /v config2 /t REG_SZ /d ";;2;0;1;0;;" /f >/dev/null

"$build/telwick" -debug >"$work/telwick.log" 2>&1 &
pids+=($!)
telwick_pid=$!

# --- helpers ----------------------------------------------------------------------
# The id of a visible window with exactly this title, not the tray icon's
# small one (it may carry the program's name too); empty when there is none.
find_window() {
  local id width
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    width=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *Width: *//p')
    if [ "${width:-0}" -gt 64 ]; then
      echo "$id"
      return 0
    fi
  done
}

# The id of the window with this title, waited for.
window() {
  local id
  for _ in $(seq 480); do
    id=$(find_window "$1")
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.25
  done
  fail "no window \"$1\" within 120 s"
}

# Waits until no window has this title any more.
gone() {
  for _ in $(seq 1200); do
    [ -z "$(find_window "$1")" ] && return 0
    sleep 0.1
  done
  fail "the window \"$1\" did not close within 120 s"
}

# Keys for a window, made the active one first.
press() {
  local id=$1
  shift
  timeout 30 xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
  xdotool key --clearmodifiers "$@"
}

# Where a window lies on the screen, with its frame when $2 is "frame":
# "left top width height".
place() {
  local info x y w h l=0 r=0 t=0 b=0 extents
  info=$(xwininfo -id "$1")
  x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/^ *Width: *//p' <<<"$info")
  h=$(sed -n 's/^ *Height: *//p' <<<"$info")
  if [ "${2:-}" = frame ]; then
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
    [ -n "$extents" ] && IFS=, read -r l r t b <<<"$extents"
  fi
  echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
}

# The screen as a PNG file: all of it, the window with its frame ("frame"), or
# the part from the window to the top right corner ("corner").
# The window's own picture is laid over the screen's: under openbox on Xvfb a
# dialog opened from another one is not always drawn on the screen, though it
# is painted. Taken once the window has been painted: until then it is flat.
shot() {
  local file=$1 id=$2 what=${3:-screen} colours=0 x y w h left=0 top=0 width height
  for _ in $(seq 120); do
    sleep 0.25
    xwd -id "$id" -silent | xwdtopnm 2>/dev/null >"$work/window.ppm"
    colours=$(ppmhist -noheader <"$work/window.ppm" 2>/dev/null | wc -l)
    [ "$colours" -gt 8 ] && break
  done
  [ "$colours" -gt 8 ] || fail "the window for $file was not painted within 30 s"
  xwd -root -silent | xwdtopnm 2>/dev/null >"$work/screen.ppm"
  read -r x y w h <<<"$(place "$id")"
  read -r width height < <(pamfile "$work/screen.ppm" | sed -n 's/.*, \([0-9]*\) by \([0-9]*\) .*/\1 \2/p')
  if [ "$what" = frame ]; then read -r left top width height <<<"$(place "$id" frame)"; fi
  if [ "$what" = corner ]; then  # from the window to the screen's top right corner
    left=$((x > 40 ? x - 40 : 0))
    width=$((width - left))
    height=$((y + h + 40 < height ? y + h + 40 : height))
  fi
  pamcut -left "$left" -top "$top" -width "$width" -height "$height" -pad "$work/screen.ppm" |
    pamcomp -xoff=$((x - left)) -yoff=$((y - top)) "$work/window.ppm" - | pnmtopng >"$out/$file"
  echo "wrote $out/$file"
}

mkdir -p "$out"

# --- the icon and its menu ----------------------------------------------------------
# The icon is the small window of telwick that trayer took in.
icon=""
for _ in $(seq 1200); do
  for id in $(xdotool search --class telwick 2>/dev/null); do
    geometry=$(xwininfo -id "$id" 2>/dev/null)
    width=$(sed -n 's/^ *Width: *//p' <<<"$geometry")
    map=$(sed -n 's/^ *Map State: *//p' <<<"$geometry")
    if [ "$map" = IsViewable ] && [ "${width:-0}" -le 64 ]; then icon=$id; break; fi
  done
  [ -n "$icon" ] && break
  kill -0 "$telwick_pid" 2>/dev/null || fail "telwick ended early"
  sleep 0.1
done
[ -n "$icon" ] || fail "the tray icon did not show within 120 s"

# A right click on the icon; the id of the menu once it is open.
open_menu() {
  local id height
  xdotool mousemove --window "$icon" 8 8 click 3
  for _ in $(seq 1200); do
    for id in $(xdotool search --onlyvisible --class telwick 2>/dev/null); do
      height=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *Height: *//p')
      if [ "$id" != "$icon" ] && [ "${height:-0}" -gt 60 ]; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.1
  done
  fail "the tray menu did not open within 120 s"
}

menu=$(open_menu)
shot tray-menu.png "$menu" corner
xdotool key Escape

# --- the dialogs ------------------------------------------------------------------
xdotool mousemove --window "$icon" 8 8 click --repeat 2 --delay 80 1
list=$(window Configurations)
shot configurations.png "$list" frame
# The editor on the first row (the accounting workstation's record).
# A window opened from the icon has no focused control, and its buttons'
# Alt keys work only once one has it: a click on the first row gives it.
xdotool mousemove --window "$list" 100 40 click 1
sleep 0.3
press "$list" alt+e
editor=$(window Configuration)
shot configuration.png "$editor" frame
press "$editor" Escape
gone Configuration
press "$list" Escape
gone Configurations

open_menu >/dev/null
xdotool key Down Down Return
database=$(window "Database connection")
# A long login typed into the empty fields.
xdotool mousemove --window "$database" 286 185 click 1
xdotool type --delay 5 'svc-telwick-monitoring@corvane-research.example'
xdotool mousemove --window "$database" 286 212 click 1
xdotool type --delay 5 'not-the-real-one'
shot database-connection.png "$database" frame
press "$database" Escape
gone "Database connection"

# --- the boxes of events: a short text, then a long one ------------------------------
sqlite3 "$db" "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter)
               VALUES (3, 4, 3, 1, 'C:;95');"
box=$(window Telwick)
shot message-box-short.png "$box" frame
press "$box" Return
gone Telwick

sqlite3 "$db" "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter)
               VALUES (3, 4, 3, 6, '$long_text');"
box=$(window Telwick)
xdotool mousemove 400 580
shot message-box.png "$box"
# The whole text opened below the beginning: OK, then Tab to "Show Details...".
press "$box" Tab space
sleep 0.5
shot message-box-details.png "$box"
# Opened, the box still leaves a third of the screen free (its frame aside).
read -r _ _ _ box_height <<<"$(place "$box")"
[ "$box_height" -le 400 ] || fail "the message box is $box_height pixels high on a screen of 600"
press "$box" Escape
gone Telwick

# The service's stop: the icon goes, and the program ends with status 0.
kill -TERM "$telwick_pid"
for _ in $(seq 300); do kill -0 "$telwick_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$telwick_pid" 2>/dev/null && fail "telwick did not end within 30 s of SIGTERM"
telwick_status=0
wait "$telwick_pid" || telwick_status=$?
[ "$telwick_status" -eq 0 ] || fail "telwick ended with status $telwick_status"
echo "screenshots: all pictures taken into $out"
