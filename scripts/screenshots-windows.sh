#!/usr/bin/env bash
# Pictures of telwick.exe as a person sees it on Windows, and one drive of a
# dialog from end to end. The real build-windows/telwick.exe runs under Wine,
# in a private prefix, on a private X server (Xvfb) with a window manager
# (openbox) and a panel with a notification area (tint2: trayer does not take
# Wine's icons), against a demo database whose names are longer than the
# dialogs' fields. It takes, with the window frames:
#   tray-menu.png           the icon with its menu open, in the screen's corner
#   configurations.png      the configuration list
#   configuration.png       the editor on a record
#   database-connection.png the database dialog with a long login typed in
#   message-box-short.png   the box of an event with a short text
#   message-box.png         the whole screen, the box of an event with a 10 KB text
#   message-box-details.png the same box with its details (the whole text) opened
# Then it opens the list from the menu, edits the first record's event level,
# confirms both dialogs, and reads the record back with `wine reg query`; and
# it ends the program through the menu's "Exit".
#
#   bash scripts/screenshots-windows.sh                # into build-windows/screenshots/windows
#   bash scripts/screenshots-windows.sh --update-docs  # into docs/screenshots/windows (to commit them)
#
# Everything lives in a private temporary folder (HOME, the Wine prefix, the
# database); the X server picks a free display of its own. Every wait has a
# deadline, a generous one: on a loaded machine Wine, the panel and each
# window take their time. Exit status 0 when every picture was taken and the
# record held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TELWICK_WINDOWS_BUILD_DIR:-$top/build-windows}
out=$build/screenshots/windows
[ "${1:-}" = "--update-docs" ] && out=$top/docs/screenshots/windows

for tool in Xvfb xsetroot openbox tint2 xdotool xwd xwdtopnm pnmtopng pamcut pamcomp pamfile ppmhist xwininfo xprop \
  sqlite3 wine wineboot wineserver; do
  command -v "$tool" >/dev/null || { echo "screenshots-windows: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
exe=$build/telwick.exe
[ -f "$exe" ] || { echo "screenshots-windows: $exe is not built (scripts/build-windows.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/telwick-winshots-XXXXXX)
pids=()
cleanup() {
  local i
  # Wine's processes first (telwick.exe, explorer.exe for the tray), then the desktop.
  WINEPREFIX=$work/wine wineserver -k 2>/dev/null || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "screenshots-windows: $*" >&2
  if [ -s "$work/telwick.log" ]; then
    echo "--- telwick.exe's output:" >&2
    grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32' "$work/telwick.log" |
      tail -c 2000 >&2 || true
    echo >&2
  fi
  exit 1
}

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# --- the Wine prefix: made without a display, a crash ends with a status --------
(unset DISPLAY; wineboot -i >"$work/wineboot.log" 2>&1 && wineserver -w) || fail "wineboot failed: $(tail -5 "$work/wineboot.log")"
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f >/dev/null 2>&1

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
# A light panel along the top: the task list, the notification area, a clock.
cat >"$work/tint2rc" <<'EOF'
rounded = 0
border_width = 1
background_color = #dcdcdc 100
border_color = #a0a0a0 100
panel_items = TSC
panel_size = 100% 28
panel_position = top center horizontal
panel_background_id = 1
panel_padding = 4 2 4
taskbar_mode = single_desktop
task_font_color = #000000 100
task_active_font_color = #000000 100
systray_padding = 4 2 6
systray_icon_size = 20
time1_format = %H:%M
clock_font_color = #000000 100
EOF
tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
timeout 120 xdotool search --sync --class tint2 >/dev/null || fail "tint2 did not show"
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
# The database as the SQLite ODBC driver sees it: under Wine odbc32 hands the
# connection to the host's unixODBC and its Linux driver, which takes the
# file's Linux path (on Windows it is a path such as C:\Corvane\archive.db).
key='HKLM\SOFTWARE\Corvane\Telwick'
setting() { wine reg add "$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1 || fail "cannot set $1"; }
setting Server "$db"
setting Trusted_Connection No
setting Checkinterval 1000
# Records: computer;type;level;message box;event log;batch;batch path;
batch='C:\Program Files\Corvane\Telwick\scripts\notify-accounting-backup-failure.cmd'
setting config0 "6;2;5;1;1;1;$batch;"
setting config1 "3;4;3;1;1;0;;"
setting config2 ";;2;0;1;0;;"

wine "$exe" -debug >"$work/telwick.log" 2>&1 &
pids+=($!)
telwick_pid=$!

# --- helpers ----------------------------------------------------------------------
# The id of a visible window with exactly this title, not a small one; empty
# when there is none.
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
    kill -0 "$telwick_pid" 2>/dev/null || fail "telwick.exe ended while a window \"$1\" was awaited"
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
  sleep 0.2
  xdotool key --clearmodifiers "$@"
}

# A click of a mouse button (1 left, 3 right) at x y inside a window. Wine
# takes a click only from a pointer that moved there first.
click() {
  local id=$1 x=$2 y=$3 button=${4:-1}
  xdotool mousemove --window "$id" $((x > 2 ? x - 2 : x + 2)) "$y"
  sleep 0.15
  xdotool mousemove --window "$id" "$x" "$y"
  sleep 0.15
  xdotool mousedown "$button"
  sleep 0.1
  xdotool mouseup "$button"
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
# the part from the window to the top right corner ("corner"). The window's
# own picture is laid over the screen's, taken once it has been painted.
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
# Wine's notification area puts each icon in a small window of explorer.exe,
# which tint2 takes in; the prefix is ours, so the one icon there is telwick's.
# Only once the panel has taken it in: before that Wine may map it on its own
# in the screen's corner, under the panel, where no click reaches it.
find_icon() {
  local id info width x
  for id in $(xdotool search --onlyvisible --class explorer.exe 2>/dev/null); do
    info=$(xwininfo -id "$id" 2>/dev/null)
    width=$(sed -n 's/^ *Width: *//p' <<<"$info")
    x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    if [ "${width:-0}" -le 32 ] && [ "${x:-0}" -gt 0 ]; then echo "$id"; return 0; fi
  done
}
# The icon, waited for up to the given tenths of a second.
wait_icon() {
  local id
  for _ in $(seq "$1"); do
    id=$(find_icon)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$telwick_pid" 2>/dev/null || fail "telwick.exe ended early"
    sleep 0.1
  done
}
icon=$(wait_icon 1200)
[ -n "$icon" ] || fail "the tray icon did not show within 120 s"
# The start goes on after the icon is shown: the first click waits for it.
sleep 1

# The popup menu: the visible window of telwick.exe without a title.
find_menu() {
  local id height
  for id in $(xdotool search --onlyvisible --class telwick.exe 2>/dev/null); do
    height=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *Height: *//p')
    if [ "${height:-0}" -gt 60 ] && [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ]; then
      echo "$id"
      return 0
    fi
  done
}

# A right click on the icon; the id of the menu once it is open. Wine's tray
# now and then misses the first click on an icon: a few tries.
open_menu() {
  local id
  for _ in $(seq 8); do
    # Found again each time: Wine and the panel now and then take the icon
    # out and in again.
    icon=$(wait_icon 600)
    [ -n "$icon" ] || fail "the tray icon was gone for 60 s"
    click "$icon" 10 10 3
    for _ in $(seq 100); do
      id=$(find_menu)
      if [ -n "$id" ]; then echo "$id"; return 0; fi
      sleep 0.1
    done
  done
  fail "the tray menu did not open after eight right clicks on $icon; explorer.exe's windows: $(
    for id in $(xdotool search --class explorer.exe 2>/dev/null); do
      printf '%s %s; ' "$id" "$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *\(Absolute upper-left [XY]\|Width\|Height\|Map State\): *//p' | tr '\n' ' ')"
    done)"
}

# An item of the open menu, by its place: the menu's items are 6 rows, the
# separators thinner than the others.
choose() {
  local menu=$1 item=$2 h y
  h=$(xwininfo -id "$menu" | sed -n 's/^ *Height: *//p')
  case $item in  # the middle of each item; separators count a third of an item
    notify) y=$((h * 3 / 26)) ;;
    database) y=$((h * 9 / 26)) ;;
    enabled) y=$((h * 17 / 26)) ;;
    exit) y=$((h * 23 / 26)) ;;
  esac
  click "$menu" 30 "$y" 1
}

menu=$(open_menu)
# The pointer off the icon, so that its tip does not cover the menu.
read -r menu_x menu_y _ menu_h <<<"$(place "$menu")"
xdotool mousemove $((menu_x - 60)) $((menu_y + menu_h + 60))
sleep 0.8
shot tray-menu.png "$menu" corner
# A left click on the icon closes the menu without a choice. (A click on
# the desktop would on Windows too; Wine's menu does not see clicks outside
# Wine's windows.)
click "$(wait_icon 600)" 10 10 1
for _ in $(seq 300); do [ -z "$(find_menu)" ] && break; sleep 0.1; done
[ -z "$(find_menu)" ] || fail "the tray menu did not close on a left click on the icon"

# --- the dialogs ------------------------------------------------------------------
# A double click on the icon opens the list (tried again, as the right click).
list=""
for _ in $(seq 4); do
  icon=$(wait_icon 600)
  [ -n "$icon" ] || fail "the tray icon was gone for 60 s"
  xdotool mousemove --window "$icon" 8 8
  sleep 0.15
  xdotool mousemove --window "$icon" 10 10 click --repeat 2 --delay 80 1
  for _ in $(seq 100); do
    list=$(find_window Configurations)
    [ -n "$list" ] && break
    sleep 0.1
  done
  [ -n "$list" ] && break
done
[ -n "$list" ] || fail "a double click on the icon opened no list"
shot configurations.png "$list" frame
# The editor on the first row (the build server's record, whose name and
# batch path are longer than their fields): the list has the focus, Home
# selects its first row.
press "$list" Home
sleep 0.3
press "$list" alt+e
editor=$(window Configuration)
shot configuration.png "$editor" frame
press "$editor" Escape
gone Configuration
press "$list" Escape
gone Configurations

choose "$(open_menu)" database
database=$(window "Database connection")
# A long login typed into the empty fields: from the server's box, Tab to the
# option buttons, Tab to the user name.
press "$database" Tab Tab
xdotool type --delay 5 'svc-telwick-monitoring@corvane-research.example'
xdotool key Tab
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
press "$box" alt+d
sleep 0.5
shot message-box-details.png "$box"
# Opened, the box still leaves a third of the screen free (its frame aside).
read -r _ _ _ box_height <<<"$(place "$box")"
[ "$box_height" -le 400 ] || fail "the message box is $box_height pixels high on a screen of 600"
press "$box" Escape
gone Telwick

# --- one dialog from end to end: the menu, a changed record, OK, the registry ----
# The first record's event level becomes the one before it in the editor's
# list (levels come in number order).
next_level=$(sqlite3 "$db" "SELECT descriptionnr FROM t_description WHERE descriptiontypenr = 19 AND lang = 1
                            AND descriptionnr < 5 ORDER BY descriptionnr DESC LIMIT 1;")
[ -n "$next_level" ] || fail "the demo database has no event level before 5"
choose "$(open_menu)" notify
list=$(window Configurations)
press "$list" Home
sleep 0.3
press "$list" alt+e
editor=$(window Configuration)
# The focus is on the computer; two tabs to the event level, one up, OK.
press "$editor" Tab Tab Up Return
gone Configuration
press "$list" Return
gone Configurations
stored=""
for _ in $(seq 150); do
  stored=$(wine reg query "$key" /v config0 2>/dev/null | tr -d '\r' | sed -n 's/^ *config0 *REG_SZ *//p')
  [ "$stored" = "6;2;$next_level;1;1;1;$batch;" ] && break
  sleep 0.2
done
[ "$stored" = "6;2;$next_level;1;1;1;$batch;" ] ||
  fail "config0 is \"$stored\" after the edit, not \"6;2;$next_level;1;1;1;$batch;\""
echo "the edited record is in the registry: $stored"

# --- the menu's "Exit": the icon goes, and the program ends with status 0 ---------
choose "$(open_menu)" exit
for _ in $(seq 300); do kill -0 "$telwick_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$telwick_pid" 2>/dev/null && fail "telwick.exe did not end within 30 s of Exit"
telwick_status=0
wait "$telwick_pid" || telwick_status=$?
[ "$telwick_status" -eq 0 ] || fail "telwick.exe ended with status $telwick_status"
echo "screenshots-windows: all pictures taken into $out"
