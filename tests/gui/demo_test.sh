#!/usr/bin/env bash
# The demo as the README has it, on programs already built: in the shell of
# "scripts/demo.sh --cli", the example site plan is applied to every converter the simulated
# stick hears, and each is done and verified.
#
# usage: tests/gui/demo_test.sh BUILD_DIR
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp /tmp/quarn-demo-test-XXXXXX)
trap 'rm -f "$out"' EXIT
printf '%s\n' 'quarn-cli --port ttySIM0 export site.json &&' \
  'quarn-cli --template site.json site apply site-plan.csv; echo "site apply exit $?"' |
  "$src/scripts/demo-run.sh" "$1" --cli >"$out" 2>&1
status=$?
cat "$out"
demo_dir=$(sed -n 's/.*their transcripts stay in \(\/tmp\/quarn-demo-[A-Za-z0-9]*\)$/\1/p' "$out")
[ -n "$demo_dir" ] && rm -rf "$demo_dir"
failures=0
expect() {
  if grep -qF -- "$1" "$out"; then echo "ok:   $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
expect "row   converter link             result"
for converter in $(awk -F, 'NR > 1 && $2 == "wireless" { print $1 }' "$src/examples/site-plan.csv"); do
  expect "$converter  wireless         done, verified"
done
expect "site apply exit 0"
[ "$status" -eq 0 ] || { echo "FAIL: the demo ended with $status"; failures=$((failures + 1)); }
exit "$failures"
