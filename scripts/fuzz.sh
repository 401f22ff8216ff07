#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build/fuzz and runs each one after the
# other for a while, starting from the seeds in tests/fuzz/corpus.
#   scripts/fuzz.sh            20 s per target
#   scripts/fuzz.sh quick      5 s per target (for the test run)
#   scripts/fuzz.sh 600        600 s per target
#   scripts/fuzz.sh 60 key_list config_file    only these targets
# Fails when any target reports a crash, a sanitizer finding, a failed check, a time-out or a
# memory blow-up; the input that did it is left in build/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
if [ $# -gt 0 ]; then
  case "$1" in
    quick) seconds=5 ;;
    *[!0-9]*|'') echo "usage: $0 [seconds|quick] [target...]" >&2; exit 2 ;;
    *) seconds=$1 ;;
  esac
  shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(wired_stream dongle_dispatch dongle_stream answer_parser key_list config_file hex_text
    virtual_ports settings_file site_plan site_report meter_telegram)
fi

cxx=${FUZZ_CXX:-clang++}
cc=${FUZZ_CC:-clang}
build=build/fuzz

start=$(date +%s)
cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 >/dev/null
echo "== fuzz targets built in $(( $(date +%s) - start )) s"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
passed_targets=0
failed_targets=0
for t in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$t
  work=$build/corpus/$t  # new finds stay here, the committed seeds stay as they are
  artifacts=$build/artifacts/$t
  log=$build/$t.log
  mkdir -p "$work" "$artifacts"
  t0=$(date +%s)
  status=0
  "$build/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "$seeds" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - t0 ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error|FUZZ_CHECK failed' "$log"; then
    echo "FAIL $t: exit $status after ${elapsed} s, ${runs:-?} executions; see $log"
    grep -E 'ERROR|runtime error|FUZZ_CHECK|SUMMARY|Test unit written' "$log" | head -8 || true
    failed=1
    failed_targets=$((failed_targets + 1))
  else
    echo "ok   $t: ${runs:-?} executions in ${elapsed} s"
    passed_targets=$((passed_targets + 1))
  fi
done
echo "fuzz: $passed_targets passed, $failed_targets failed"
exit $failed
