#!/usr/bin/env bash
# Builds the Windows installer build-windows/telwick-VERSION-x64.msi from
# build-windows/telwick.exe (built first; $1 names another build folder) with
# wixl, and prints its path last. With --check it then tries the installer
# under Wine in a private prefix: installed, the service registered and left
# stopped while there are no settings, started by an install once they exist,
# then removed with nothing left behind but the settings. Status 0 when all of
# it holds.
#
#   bash scripts/package-windows.sh [BUILD_DIR] [--check]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build-windows
check=0
for arg in "$@"; do
  case $arg in
    --check) check=1 ;;
    *) dir=$arg ;;
  esac
done
for tool in wixl msibuild; do
  command -v $tool >/dev/null || { echo "$tool is missing: apt-get install wixl msitools" >&2; exit 1; }
done

[ -f "$dir/telwick.exe" ] || bash "$top/scripts/build-windows.sh" "$dir" --target telwick >/dev/null
version=$(sed -n 's/^project(Telwick VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
msi=$dir/telwick-$version-x64.msi

stage=$(mktemp -d)
prefix=
cleanup() {
  if [ -n "$prefix" ]; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  fi
  rm -rf "$stage"
}
trap cleanup EXIT

# The program without its debugging symbols (a tenth of the size).
cp "$dir/telwick.exe" "$stage/telwick.exe"
x86_64-w64-mingw32-strip "$stage/telwick.exe"
rm -f "$msi"
# wixl reads the file from the folder it runs in; it warns about the two
# attributes it does not know (written below instead).
(cd "$stage" && wixl -a x64 -D Version="$version" -D Exe=telwick.exe -o "$msi" "$top/packaging/windows/telwick.wxs" \
  2> >(grep -v -e 'Permanent' -e 'ForceCreateOnInstall' -e '^$' >&2))
# What wixl has no element or attribute for: the start only with settings, the
# vendor's folder removed, the settings key created and kept.
q() { msibuild "$msi" -q "$1"; }
q "UPDATE \`Component\` SET \`Condition\` = 'TELWICKSERVER' WHERE \`Component\` = 'StartWithSettings'"
q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`DirProperty\`, \`InstallMode\`) VALUES ('RemoveVendorFolder', 'Program', 'CorvaneFolder', 2)"
q "UPDATE \`Component\` SET \`Attributes\` = 272 WHERE \`Component\` = 'SettingsKey'"  # 64-bit, permanent
q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('SettingsKey', 2, 'SOFTWARE\\Corvane\\Telwick', '+', 'SettingsKey')"

if [ "$check" = 1 ]; then
  prefix=$stage/wine
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  quiet() { "$@" 2> >(grep -v -i -e wine32 -e multiarch -e dpkg -e '^$' >&2); }
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Windows without an X display (the service makes a hidden window), and a
  # crash that ends the program instead of waiting in the debugger.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
  wineserver -w
  # Services live while the server does (Wine ends them with the last process).
  wineserver -p >/dev/null 2>&1
  failed=0
  fail() { echo "package-windows: $*" >&2; failed=1; }
  state() { wine sc query Telwick 2>/dev/null | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
  waitstate() {
    for _ in $(seq 300); do [ "$(state)" = "$1" ] && return 0; sleep 0.1; done
    return 1
  }
  exe="$prefix/drive_c/Program Files/Corvane/Telwick/telwick.exe"
  source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Telwick'
  settings='HKLM\SOFTWARE\Corvane\Telwick'
  winmsi=$(winepath -w "$msi")

  quiet wine msiexec /i "$winmsi" /qn || fail "install: status $?"
  [ -f "$exe" ] || fail "install: no $exe"
  [ "$(state)" = STOPPED ] || fail "install: the service is $(state), not STOPPED, without settings"
  wine reg query "$source" /v EventMessageFile 2>/dev/null | grep -q 'C:\\Program Files\\Corvane\\Telwick\\telwick.exe' ||
    fail "install: the event source names no message file"
  wine reg query "$settings" >/dev/null 2>&1 || fail "install: no settings key"

  # With the database set, an install starts the service.
  quiet wine msiexec /x "$winmsi" /qn || fail "remove: status $?"
  wine reg add "$settings" /v Server /d 'Z:\nonexistent\corvane.db' /f >/dev/null 2>&1
  quiet wine msiexec /i "$winmsi" /qn || fail "second install: status $?"
  waitstate RUNNING || fail "second install: the service is $(state), not RUNNING, with settings"

  # Removed: stopped, and nothing but the settings left.
  quiet wine msiexec /x "$winmsi" /qn || fail "remove: status $?"
  [ -z "$(state)" ] || fail "remove: the service is still registered ($(state))"
  # (Wine's installer leaves the vendor's folder empty behind, whatever the
  # RemoveFile rows say; the program's folder goes.)
  [ ! -e "$prefix/drive_c/Program Files/Corvane/Telwick" ] ||
    fail "remove: $(find "$prefix/drive_c/Program Files/Corvane/Telwick") left"
  ! wine reg query "$source" >/dev/null 2>&1 || fail "remove: the event source is still registered"
  wine reg query "$settings" /v Server 2>/dev/null | grep -q corvane.db || fail "remove: the settings are gone"
  pgrep -f 'Corvane.Telwick.telwick.exe' >/dev/null && fail "remove: telwick.exe still runs"
  [ "$failed" = 0 ] || exit 1
  echo "package-windows: installed, started with settings only, removed leaving the settings" >&2
fi
echo "$msi"
