#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each one for
# the given number of seconds (default 300), starting from the seed corpus in
# fuzz/corpus/<target>/ plus whatever earlier runs added in
# build-fuzz/corpus/<target>/. Further arguments name the targets to run.
#
# Writes one line per target to $TELWICK_FUZZ_OUT (default
# build-fuzz/fuzz-results.tsv): target, executions, seconds, executions per
# second, coverage, corpus size, peak RSS (MiB), result. Exit status 1 when a
# target found a crash, leak, time-out or failed expectation; its input is kept
# in build-fuzz/artifacts/.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
shift || true
dir=${TELWICK_FUZZ_BUILD:-$top/build-fuzz}
out=${TELWICK_FUZZ_OUT:-$dir/fuzz-results.tsv}

# -O1 with line tables: quick to build, fast enough to fuzz, readable stacks.
flags="-O1 -g1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=None -DTELWICK_FUZZ=ON -DTELWICK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null || exit 1
cmake --build "$dir" --target fuzz_all -j2 >"$dir/fuzz-build.log" 2>&1 || {
  tail -n 40 "$dir/fuzz-build.log"; echo "fuzz: build failed (see $dir/fuzz-build.log)" >&2; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$dir"/fuzz/fuzz_*; do [ -f "$f" ] && [ -x "$f" ] && targets+=("$(basename "$f")"); done
fi

mkdir -p "$dir/artifacts" "$dir/logs" "$(dirname "$out")"
printf 'target\texecutions\tseconds\texec_per_second\tcoverage\tcorpus\tpeak_rss_mb\tresult\n' >"$out"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  bin="$dir/fuzz/$t"
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  [ -d "$top/fuzz/corpus/$t" ] && cp -n "$top/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null
  log="$dir/logs/$t.log"
  # Each target runs in a folder of its own, which it may use for its hive.
  work=$(mktemp -d "${TMPDIR:-/tmp}/telwick-fuzz-XXXXXX")
  start=$(date +%s.%N)
  (cd "$work" && TELWICK_FUZZ_WORK="$work" "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" "$corpus" >"$log" 2>&1)
  rc=$?
  end=$(date +%s.%N)
  rm -rf "$work"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  corp=$(find "$corpus" -type f | wc -l)
  secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  if [ $rc -eq 0 ]; then
    result=ok
  else
    status=1
    what=$(grep -m1 -oE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer): [^ ]+( [^ ]+)?|runtime error: .*|expectation failed: .*' "$log" | head -n1)
    art=$(grep -m1 -oE "$dir/artifacts/[^ ]+" "$log" | head -n1)
    result="FAILED: ${what:-exit status $rc}${art:+ (input: ${art#"$top"/})}"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$t" "${execs:-0}" "$secs" "${rate:-0}" "${cov:-0}" "$corp" "${rss:-0}" "$result" >>"$out"
  printf 'fuzz: %-18s %10s runs in %6s s (%s/s)  %s\n' "$t" "${execs:-0}" "$secs" "${rate:-0}" "$result"
done
exit $status
