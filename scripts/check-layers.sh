#!/usr/bin/env bash
# Checks the floors of the code. Floors from the ground: platform (with its
# posix/ and qt/ parts), settings, database, monitor, dialogs, service; tools/,
# tests/, bench/ and fuzz/ sit on top. Fails, naming file and include, when
#   - an include in src/ points at a floor above its own, or is written
#     relative ("../x.h") instead of from src/;
#   - the POSIX part of the platform includes its Qt part or any Qt header, or
#     the settings include a Qt header (both are built without Qt);
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
  }
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
    } else if (match($0, /#[[:space:]]*include[[:space:]]*<Q[tA-Z][^>]*>/)) {
      if (rel ~ /^platform\/posix\// || rel ~ /^platform\/[^\/]*$/ || own == "settings") {
        inc = substr($0, RSTART, RLENGTH); sub(/^[^<]*/, "", inc)
        print file ":" line ": include " inc ": this part is built without Qt"
      }
    }
  }' >"${TMPDIR:-/tmp}/telwick-layers.$$"
if [ -s "${TMPDIR:-/tmp}/telwick-layers.$$" ]; then
  sed 's/^/layers: /' "${TMPDIR:-/tmp}/telwick-layers.$$" >&2
  failed=1
fi
rm -f "${TMPDIR:-/tmp}/telwick-layers.$$"

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

[ $failed -eq 0 ] && echo "layers: every include keeps its floor; every folder compiles its own files"
exit $failed
