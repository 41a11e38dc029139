#!/usr/bin/env bash
# Checks the floors of the code. Floors from the ground: platform, settings,
# database, monitor, dialogs, service; tools/, tests/, bench/ and fuzz/ sit on
# top. A folder named posix, win or qt anywhere under src/ is a platform
# folder: only there may a file include one system's headers. Fails, naming
# file and include, when
#   - an include in src/ points at a floor above its own, or is written
#     relative ("../x.h") instead of from src/;
#   - a project header is included with angle brackets (<settings/x.h>)
#     anywhere in src/, tests/, tools/, bench/ or fuzz/;
#   - a file of src/ outside a platform folder includes a header of one
#     system: POSIX (<unistd.h>, <sys/...>, <fcntl.h>, ...), systemd, OpenSSL,
#     Win32 (<windows.h>, <winsock2.h>, ...) or Qt (<Q...>); the C++ library,
#     ODBC (<sql.h>, <sqlext.h>, <sqlucode.h>) and <sqlite3.h> are portable;
#   - the POSIX part of the platform includes its Qt part;
#   - a folder's CMakeLists.txt compiles files of another folder.
# Exit status 0 when the tree keeps its floors.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
failed=0
fail() { echo "layers: $*" >&2; failed=1; }

# One awk pass over every include of src/.
find src -type f \( -name '*.cpp' -o -name '*.h' \) | sort | xargs grep -Hn '^[[:space:]]*#[[:space:]]*include' |
awk '
  BEGIN {
    split("platform settings database monitor dialogs service", names, " ")
    for (i in names) floor[names[i]] = i
    # Headers of one system (by name, or by the folder they sit in).
    posix = "^(unistd|fcntl|pwd|grp|spawn|poll|pthread|dlfcn|dirent|termios|sched|syslog|semaphore|netdb|libgen|glob|wordexp|ifaddrs|utime|err|execinfo|paths|strings|aio|mqueue|langinfo|iconv|nl_types|ucontext|mntent|shadow|utmp|utmpx)\\.h$|^(sys|arpa|netinet|net|linux|asm|bits|systemd|openssl|security)/"
    win = "^(windows|windowsx|winsock|winsock2|ws2tcpip|ws2def|mswsock|iphlpapi|winreg|winsvc|winbase|winuser|wingdi|winnt|windef|winerror|winternl|winevt|winioctl|winnls|wincrypt|wincred|wintrust|bcrypt|ncrypt|shellapi|shlobj|shlwapi|shobjidl|objbase|ole2|oleauto|combaseapi|commctrl|commdlg|cderr|wtsapi32|tlhelp32|psapi|dbghelp|aclapi|accctrl|sddl|lm|lmcons|userenv|evntprov|evntrace|ntsecapi|securitybaseapi|processthreadsapi|synchapi|handleapi|fileapi|errhandlingapi|sysinfoapi|libloaderapi|io|direct|conio|process|tchar|mmsystem|uxtheme|dwmapi|richedit|prsht|sspi|rpc|objidl|initguid|knownfolders|versionhelpers|debugapi)\\.h$"
  }
  function platformFolder(path) { return path ~ /(^|\/)(posix|win|qt)\// }
  {
    split($0, p, ":"); file = p[1]; line = p[2]
    rel = substr(file, 5); own = rel; sub(/\/.*/, "", own)
    if (!(own in floor)) { print file ": a folder of src/ outside the floors (" own ")"; next }
    if (match($0, /#[[:space:]]*include[[:space:]]*"[^"]*"/)) {
      inc = substr($0, RSTART, RLENGTH); sub(/^[^"]*"/, "", inc); sub(/"$/, "", inc)
      if (inc ~ /^\.\.?\// || inc ~ /\/\.\.\//) { print file ":" line ": include \"" inc "\" is relative; write it from src/"; next }
      target = inc; if (!sub(/\/.*/, "", target)) next   # generated files beside the source (ui_*.h, *.moc)
      if (!(target in floor)) next
      if (floor[target] > floor[own]) print file ":" line ": include \"" inc "\" points up from " own " to " target
      if (rel ~ /^platform\/posix\// && inc ~ /^platform\/qt\//)
        print file ":" line ": include \"" inc "\": the POSIX part of the platform must not use its Qt part"
    } else if (match($0, /#[[:space:]]*include[[:space:]]*<[^>]*>/)) {
      inc = substr($0, RSTART, RLENGTH); sub(/^[^<]*</, "", inc); sub(/>$/, "", inc)
      top = inc; sub(/\/.*/, "", top)
      if (inc ~ /\// && ((top in floor) || top == "support"))
        print file ":" line ": include <" inc "> is a project header: write it with quotes, from src/"
      else if (!platformFolder(rel)) {
        kind = ""
        if (inc ~ posix) kind = "POSIX"
        else if (tolower(inc) ~ win) kind = "Win32"
        else if (inc ~ /^Q[tA-Z]/) kind = "Qt"
        if (kind != "")
          print file ":" line ": include <" inc "> is a " kind " header: only a platform folder (posix/, win/, qt/) may use it"
      }
    }
  }' >"${TMPDIR:-/tmp}/telwick-layers.$$"
if [ -s "${TMPDIR:-/tmp}/telwick-layers.$$" ]; then
  sed 's/^/layers: /' "${TMPDIR:-/tmp}/telwick-layers.$$" >&2
  failed=1
fi
rm -f "${TMPDIR:-/tmp}/telwick-layers.$$"

# Project headers with angle brackets in the folders above src/.
while IFS= read -r hit; do
  fail "${hit%%:*}:$(echo "$hit" | cut -d: -f2): include <$(echo "$hit" | sed 's/.*<\([^>]*\)>.*/\1/')> is a project header: write it with quotes"
done < <(find tests tools bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort |
         xargs -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(platform|settings|database|monitor|dialogs|service|support)/' || true)

# Every folder compiles its own files only: no source path or glob that leaves
# the folder of its CMakeLists.txt.
while IFS= read -r cm; do
  while IFS=: read -r line text; do
    code=${text%%#*}
    case $code in
      *include_directories*|*compile_definitions*) continue ;;
    esac
    if [[ $code =~ \.\./ ]] ||
       [[ $code =~ (PROJECT_SOURCE_DIR|CMAKE_SOURCE_DIR)\}/[^[:space:]\"]*\.(cpp|h|ui|qrc) ]]; then
      fail "$cm:$line: compiles files of another folder: $(echo "$code" | sed 's/^[[:space:]]*//')"
    fi
  done < <(grep -n '' "$cm")
done < <(find src tools tests bench fuzz -name CMakeLists.txt | sort)

[ $failed -eq 0 ] && echo "layers: every include keeps its floor and its platform; every folder compiles its own files"
exit $failed
