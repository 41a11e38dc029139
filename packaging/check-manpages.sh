#!/bin/sh
# Renders each manual page given (roff source, or gzip-compressed) with groff
# and with man, and fails on any warning either of them prints.
set -u
status=0
for page in "$@"; do
  case "$page" in
    *.gz) src=$(mktemp) && gzip -dc "$page" > "$src" ;;
    *) src=$page ;;
  esac
  out=$(LC_ALL=C.UTF-8 groff -ww -z -t -man "$src" 2>&1)
  out2=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$src" 2>&1 >/dev/null)
  [ "$src" = "$page" ] || rm -f "$src"
  if [ -n "$out$out2" ]; then
    printf '%s: warnings:\n%s\n%s\n' "$page" "$out" "$out2"
    status=1
  fi
done
exit $status
