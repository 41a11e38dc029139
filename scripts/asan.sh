#!/usr/bin/env bash
# Builds the whole program and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan and runs every test there, with the
# same environment as scripts/test.sh (a private PostgreSQL is started when the
# caller has none). Every sanitized process, the service started by the
# end-to-end tests included, writes its findings to build-asan/sanitizer/; the
# findings are summed up in build-asan/asan-results.tsv. Exit status 0 only when
# every test passed and no sanitizer found anything.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${TELWICK_ASAN_BUILD:-$top/build-asan}
out=${TELWICK_ASAN_OUT:-$dir/asan-results.tsv}
start=$(date +%s)

# -O1 with line tables: the build takes far less time than -O2 -g, the tests
# still run at a good pace, and the reports name file and line.
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -g1" \
  -DTELWICK_SANITIZE=ON -DTELWICK_BENCH=OFF >/dev/null || exit 1
cmake --build "$dir" -j2 >"$dir/asan-build.log" 2>&1 || {
  tail -n 40 "$dir/asan-build.log"; echo "asan: build failed (see $dir/asan-build.log)" >&2; exit 1; }
built=$(date +%s)

# shellcheck source=scripts/test-env.sh
source "$top/scripts/test-env.sh"

logs="$dir/sanitizer"
rm -rf "$logs" && mkdir -p "$logs"
supp="$top/tests/reliability/lsan.supp"
export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
export UBSAN_OPTIONS="log_path=$logs/ubsan:print_stacktrace=1:halt_on_error=1"
export TELWICK_RELIABILITY_OUT="$dir/reliability/results.tsv"
# Every process costs more under the sanitizers: a smaller burst of events.
export TELWICK_BURST_EVENTS=${TELWICK_BURST_EVENTS:-2000}

ctest --test-dir "$dir" --output-on-failure -j2 --timeout 900 >"$dir/asan-ctest.log" 2>&1
rc=$?
end=$(date +%s)
tail -n 25 "$dir/asan-ctest.log"

# The findings, one kind a line.
count() { cat "$logs"/* 2>/dev/null | grep -cE "$1" || true; }
asan=$(count 'ERROR: AddressSanitizer')
leaks=$(count 'ERROR: LeakSanitizer')
ubsan=$(count 'runtime error:')
tests=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$dir/asan-ctest.log" | tail -n1)
failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of.*/\1/p' "$dir/asan-ctest.log" | tail -n1)
{
  printf 'item\tvalue\n'
  printf 'tests\t%s\n' "${tests:-0}"
  printf 'tests_failed\t%s\n' "${failed:-0}"
  printf 'address_errors\t%s\n' "$asan"
  printf 'leaks\t%s\n' "$leaks"
  printf 'undefined_behaviour\t%s\n' "$ubsan"
  printf 'build_seconds\t%s\n' "$((built - start))"
  printf 'test_seconds\t%s\n' "$((end - built))"
} >"$out"
echo "asan: ${tests:-0} tests, ${failed:-0} failed; findings: $asan address, $leaks leak, $ubsan undefined behaviour (reports in $logs)"
if [ "$asan" -gt 0 ] || [ "$leaks" -gt 0 ] || [ "$ubsan" -gt 0 ]; then
  grep -hE -A12 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$logs"/* | head -n 80
  exit 1
fi
exit $rc
