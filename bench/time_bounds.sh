#!/usr/bin/env bash
# The millisecond bounds the tests only report under CTest, asserted here on a quiet machine:
# the window's event-loop gaps under device faults (faults_test, 100 ms), the port layer's
# reads, writes and waits (serial_test), and the key list and receiver throughput figures.
#
#   bench/time_bounds.sh        BUILD=dir (default build/release) holding the test programs
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build/release}"
export QUARN_TIME_BOUNDS=1
status=0
for test in serial_test keylist_test mbus_test; do
  "$build/tests/$test" --gtest_brief=1 || status=1
done
if [ -x "$build/tests/faults_test" ]; then
  xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" "$build/tests/faults_test" --gtest_brief=1 || status=1
fi
exit "$status"
