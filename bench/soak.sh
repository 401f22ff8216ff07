#!/usr/bin/env bash
# Wireless soak: quarn-sim plays the USB stick with steady radio traffic, and a session over
# the plain libraries (bench/soak_session.cpp: the dongle timer every 5 ms and a converter
# command every second, in turn Get Data, Set Data, Scan and option bits) runs against it.
# At the end it checks memory, the simulator's transcript and the message counter.
#
#   bench/soak.sh [SECONDS]          default 1800 (30 minutes); "bench/soak.sh 120" for two
#   BUILD=dir bench/soak.sh ...      build directory configured with -DQUARN_BENCH=ON
#                                    (default build-bench; built here if needed)
#   BEACON_MS=10 COMMAND_MS=1000     radio frame period of the simulated converter and the
#                                    pace of commands
#
# Exit status 0 when every check passed.
set -euo pipefail

seconds="${1:-1800}"
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build-bench}"
beaconMs="${BEACON_MS:-10}"
commandMs="${COMMAND_MS:-1000}"
rssSlackKb="${RSS_SLACK_KB:-512}"   # what allocator noise may add over a whole soak

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 10 ]; then
  echo "usage: bench/soak.sh [SECONDS]   (at least 10)" >&2
  exit 2
fi

if [ ! -x "$build/bench/quarn_soak_session" ] || [ ! -x "$build/sim/quarn-sim" ]; then
  cmake -S "$here" -B "$build" -DQUARN_BENCH=ON -DQUARN_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" -j2 --target quarn_soak_session quarn-sim >/dev/null
fi

work="$(mktemp -d /tmp/quarn-soak-XXXXXX)"
simPid=""
cleanup() {
  if [ -n "$simPid" ] && kill -0 "$simPid" 2>/dev/null; then
    kill "$simPid" 2>/dev/null || true
    wait "$simPid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

mkdir -p "$work/keys"
echo "simulated converter;12345678;000102030405060708090A0B0C0D0E0F" >"$work/keys/keys.txt"

"$build/sim/quarn-sim" --role dongle --link "$work/ttySTICK" --beacon-ms "$beaconMs" \
  --transcript "$work/transcript.txt" --exit-after $((seconds + 60)) >"$work/entry.txt" &
simPid=$!
for _ in $(seq 50); do
  [ -s "$work/entry.txt" ] && [ -e "$work/ttySTICK" ] && break
  sleep 0.1
done
entry="$(head -n 1 "$work/entry.txt")"
[ -n "$entry" ] || { echo "soak: quarn-sim did not start" >&2; exit 1; }

echo "soak: $seconds s, radio frame period ${beaconMs} ms, a command every ${commandMs} ms; files in $work"
QUARN_VIRTUAL_PORTS="$entry" timeout $((seconds + 60)) "$build/bench/quarn_soak_session" \
  --seconds "$seconds" --command-ms "$commandMs" --keys "$work/keys" >"$work/session.txt"
sleep 1  # the last request may still sit in the PTY for the simulator to read
cleanup

value() { awk -v k="$1" '$1 == k { print $2 }' "$work/session.txt"; }

failures=0
check() {  # check NAME CONDITION-RESULT DETAIL
  if [ "$2" = ok ]; then echo "ok    $1: $3"; else echo "FAIL  $1: $3"; failures=$((failures + 1)); fi
}

sent="$(value commands_sent)"
failed="$(value commands_failed)"
rssStart="$(value rss_start_kb)"
rssEnd="$(value rss_end_kb)"
queuedMax="$(value queued_max)"
incoming="$(value incoming_frames)"

# Secured requests as the simulated converter saw them: verdict and counter.
secured="$work/secured.txt"
awk -F'\t' '$4 == "secured" { c = ""; if (match($6, /ctr=[0-9]+/)) c = substr($6, RSTART + 4, RLENGTH - 4); print $5 "\t" c }' \
  "$work/transcript.txt" >"$secured"
accepted="$(awk -F'\t' '$1 == "accepted"' "$secured" | wc -l)"
refused="$(grep -c "refused" "$work/transcript.txt" || true)"
drift="$(awk -F'\t' '$1 == "accepted" { if (seen && $2 + 0 <= last) bad++; last = $2 + 0; seen = 1 } END { print bad + 0 }' "$secured")"

growth=$((rssEnd - rssStart))
check "commands" "$([ "$failed" = 0 ] && [ "$sent" -gt 0 ] && echo ok)" "$sent sent, $failed not sent"
check "every request accepted" "$([ "$refused" = 0 ] && [ "$accepted" = "$sent" ] && echo ok)" \
  "$accepted secured requests accepted of $sent sent, $refused refused"
check "counter strictly increasing" "$([ "$drift" = 0 ] && echo ok)" "$drift accepted requests with a counter not above the one before"
check "resident memory" "$([ "$growth" -le "$rssSlackKb" ] && echo ok)" \
  "${rssStart} kB after start, ${rssEnd} kB at the end (log text not kept: $(value log_text_bytes) bytes would have been logged)"
check "no backlog" "$([ "$queuedMax" -lt 600 ] && echo ok)" \
  "at most $queuedMax bytes waiting in the stick's queue at a sample; $incoming converter frames logged; $(value ticks) ticks"
grep '^sample' "$work/session.txt" | awk 'NR % 60 == 0 { printf "      t=%ss queued=%s logged=%s rss=%skB\n", $2, $3, $4, $5 }'

[ "$failures" = 0 ] && echo "soak: all checks passed" || echo "soak: $failures check(s) failed"
[ "$failures" = 0 ]
