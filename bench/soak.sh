#!/usr/bin/env bash
# Wireless soak: quarn-sim plays the USB stick with steady radio traffic while commands go to
# the converter at a steady pace; at the end the script checks memory, the simulator's
# transcript (every secured request accepted) and the message counter (strictly increasing).
#
#   bench/soak.sh [SECONDS]        default 1800 (30 minutes); "bench/soak.sh 120" for two.
#                                  The plain libraries (bench/soak_session.cpp) do what the
#                                  window's dongle timer (every 5 ms) and command handlers do:
#                                  a command every COMMAND_MS, in turn Get Data and Set Data of
#                                  the four slots, Scan, option bits read and written.
#   bench/soak.sh --gui [SECONDS]  the real program under its own Xvfb, driven with xdotool:
#                                  Find converter and the partner dialog, then the Get Data,
#                                  Set Data and Scan buttons and "Set option bits" in turn, the
#                                  log cleared with Ctrl+R before each memory sample.
#   BUILD=dir                      build directory with -DQUARN_BENCH=ON (default build-bench;
#                                  configured and built here if needed)
#   BEACON_MS=10                   radio frame period of the simulated converter
#   COMMAND_MS=1000 (2000 --gui)   pace of the commands
#   KEEP=1                         keep the run's files when every check passed
#   SIM_ARGS="..."                 further quarn-sim switches, e.g. a fault, to see a check fail
#
# Exit status 0 when every check passed.
set -euo pipefail

gui=0
if [ "${1:-}" = "--gui" ]; then
  gui=1
  shift
fi
seconds="${1:-1800}"
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build-bench}"
beaconMs="${BEACON_MS:-10}"
commandMs="${COMMAND_MS:-$([ $gui = 1 ] && echo 2000 || echo 1000)}"
rssSlackKb="${RSS_SLACK_KB:-1024}"   # what allocator noise may add over a whole soak
converterKey="000102030405060708090A0B0C0D0E0F"

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 10 ]; then
  echo "usage: bench/soak.sh [--gui] [SECONDS]   (at least 10)" >&2
  exit 2
fi

if [ $gui = 1 ]; then
  targets=(quarn quarn-sim quarn_widget_positions)
  cfg=(-DQUARN_BENCH=ON)
else
  targets=(quarn_soak_session quarn-sim)
  cfg=(-DQUARN_BENCH=ON -DQUARN_BUILD_GUI=OFF)
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" "${cfg[@]}" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

work="$(mktemp -d /tmp/quarn-soak-XXXXXX)"
sections=()
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"

mkdir -p "$work/dongleKeys" "$work/meterKeys"
echo "simulated converter;12345678;$converterKey" >"$work/dongleKeys/keys.txt"

# shellcheck disable=SC2086 # SIM_ARGS holds quarn-sim's options, one word each
"$build/sim/quarn-sim" --role dongle --link "$work/ttySTICK" --beacon-ms "$beaconMs" \
  --transcript "$work/transcript.txt" --exit-after $((seconds + 120)) ${SIM_ARGS:-} >"$work/entry.txt" &
simPid=$!
pids+=("$simPid")
for _ in $(seq 50); do
  [ -s "$work/entry.txt" ] && [ -e "$work/ttySTICK" ] && break
  sleep 0.1
done
entry="$(head -n 1 "$work/entry.txt")"
[ -n "$entry" ] || { echo "soak: quarn-sim did not start" >&2; exit 1; }

echo "soak: $seconds s$([ $gui = 1 ] && echo ', real program'), radio frame period ${beaconMs} ms, a command every ${commandMs} ms; files in $work"

# ---- the real program, driven through the X server ----
declare -A at
clickAt() {  # clickAt LABEL#N [DY]: clicks the centre of a button or menu title, DY pixels lower
  local xy="${at[$1]:-}"
  [ -n "$xy" ] || { echo "soak: no widget $1" >&2; return 1; }
  # A menu item takes a click only once the pointer has entered it.
  x xdotool mousemove --window "$main" "${xy% *}" $((${xy#* } + ${2:-0}))
  sleep 0.2
  x xdotool click 1
}
acceptedCount() { awk -F'\t' '$4 == "secured" && $5 == "accepted"' "$work/transcript.txt" | wc -l; }

runGui() {
  startXvfb "$work"
  x "$build/bench/quarn_widget_positions" >"$work/positions.txt"
  local label px py
  while IFS=$'\t' read -r _ label px py _; do at["$label"]="$px $py"; done <"$work/positions.txt"
  menuDrop=$(awk -F'\t' '$2 == "Converter options#1" { print int($5 / 2 + 12) }' "$work/positions.txt")

  (cd "$work" && DISPLAY=$display QUARN_VIRTUAL_PORTS="$entry" exec "$build/app/quarn" >"$work/quarn-out.txt" 2>&1) &
  quarnPid=$!
  pids+=("$quarnPid")
  local dialog
  dialog="$(waitWindow "Select wired or wireless operation." 10)"
  [ -n "$dialog" ] || { echo "soak: no connection dialog" >&2; return 1; }
  sleep 0.5
  keys "$dialog" Return
  main="$(waitWindow "Quarn v1.3.0" 10)"
  sleep 2  # the converter's first radio frames
  clickAt "Find converter#1"
  local partner
  partner="$(waitWindow "Select wireless partner." 10)"
  [ -n "$partner" ] || { echo "soak: no partner dialog" >&2; return 1; }
  sleep 0.5
  keys "$partner" Return
  for _ in $(seq 50); do grep -q "dongle 0x01.*accepted" "$work/transcript.txt" && break; sleep 0.1; done
  grep -q "dongle 0x01.*accepted" "$work/transcript.txt" || { echo "soak: no partner chosen" >&2; return 1; }

  actions=("Get Data#1" "Get Data#2" "Get Data#3" "Get Data#4" "Set Data#1" "Set Data#2"
           "Set Data#3" "Set Data#4" "Scan#1" options)
  expected=0
  misses=0
  lost=0
  local begin=$SECONDS n=0 nextSample=$((SECONDS + 10)) a options
  : >"$work/rss.txt"
  while [ $((SECONDS - begin)) -lt "$seconds" ]; do
    a="${actions[$((n % ${#actions[@]}))]}"
    n=$((n + 1))
    if [ "$a" = options ]; then
      clickAt "Converter options#1"
      sleep 0.3
      clickAt "Converter options#1" "$menuDrop"
      options="$(waitWindow "Set converter options." 3)"
      if [ -n "$options" ]; then
        sleep 1  # the answer ticks the checks
        keys "$options" Return
        expected=$((expected + 2))
      else
        misses=$((misses + 1))
        keys "$main" Escape
      fi
    else
      local before
      before="$(acceptedCount)"
      clickAt "$a"
      expected=$((expected + 1))
      # A click that brings no request within 3 s is noted with what the screen showed.
      for _ in $(seq 30); do [ "$(acceptedCount)" -gt "$before" ] && break; sleep 0.1; done
      if [ "$(acceptedCount)" -le "$before" ]; then
        lost=$((lost + 1))
        echo "$((SECONDS - begin)) s: $a brought no request; windows: $(x xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|')" >>"$work/lost.txt"
        if command -v import >/dev/null; then x import -window root "$work/lost-$lost.png" 2>/dev/null || true; fi
      fi
    fi
    sleep "$(awk -v m="$commandMs" 'BEGIN { print m / 1000 }')"
    if [ $SECONDS -ge $nextSample ]; then
      keys "$main" ctrl+r
      sleep 0.2
      echo "$((SECONDS - begin)) $(rssKb "$quarnPid") $(acceptedCount)" >>"$work/rss.txt"
      nextSample=$((SECONDS + 10))
    fi
  done
  sleep 2  # the last answers
  keys "$main" ctrl+r
  sleep 0.5
  rssStart="$(awk 'NR == 1 { print $2 }' "$work/rss.txt")"
  rssEnd="$(rssKb "$quarnPid")"
  sent=$expected
  failed=$misses
  queuedMax="-"
  cleanup
}

runLibraries() {
  QUARN_VIRTUAL_PORTS="$entry" timeout $((seconds + 60)) "$build/bench/quarn_soak_session" \
    --seconds "$seconds" --command-ms "$commandMs" --keys "$work/dongleKeys" >"$work/session.txt"
  sleep 1  # the last request may still sit in the PTY for the simulator to read
  cleanup
  value() { awk -v k="$1" '$1 == k { print $2 }' "$work/session.txt"; }
  sent="$(value commands_sent)"
  failed="$(value commands_failed)"
  rssStart="$(value rss_start_kb)"
  rssEnd="$(value rss_end_kb)"
  queuedMax="$(value queued_max)"
  echo "      $(value incoming_frames) converter frames logged, $(value ticks) ticks," \
    "$(value log_text_bytes) bytes of log text (counted, not kept)"
}

if [ $gui = 1 ]; then runGui; else runLibraries; fi

failures=0
check() {  # check NAME ok-or-empty DETAIL
  if [ "$2" = ok ]; then echo "ok    $1: $3"; else echo "FAIL  $1: $3"; failures=$((failures + 1)); fi
}

# Secured requests as the simulated converter saw them: verdict and counter.
awk -F'\t' '$4 == "secured" { c = ""; if (match($6, /ctr=[0-9]+/)) c = substr($6, RSTART + 4, RLENGTH - 4); print $5 "\t" c }' \
  "$work/transcript.txt" >"$work/secured.txt"
accepted="$(awk -F'\t' '$1 == "accepted"' "$work/secured.txt" | wc -l)"
refused="$(grep -c "refused" "$work/transcript.txt" || true)"
drift="$(awk -F'\t' '$1 == "accepted" { if (seen && $2 + 0 <= last) bad++; last = $2 + 0; seen = 1 } END { print bad + 0 }' "$work/secured.txt")"
growth=$((rssEnd - rssStart))

check "commands" "$([ "$failed" = 0 ] && [ "$sent" -gt 0 ] && echo ok)" "$sent requests sent, $failed not sent"
check "every request accepted" "$([ "$refused" = 0 ] && [ "$accepted" = "$sent" ] && echo ok)" \
  "$accepted secured requests accepted of $sent sent, $refused refused"
if [ $gui = 1 ]; then
  check "every click answered" "$([ "$lost" = 0 ] && echo ok)" \
    "$lost button clicks brought no request within 3 s$([ "$lost" = 0 ] || echo "; see $work/lost.txt")"
fi
check "counter strictly increasing" "$([ "$drift" = 0 ] && echo ok)" \
  "$drift accepted requests with a counter not above the one before"
if [ $gui = 1 ]; then
  check "resident memory" "$([ "$growth" -le "$rssSlackKb" ] && echo ok)" \
    "${rssStart} kB at the first sample, ${rssEnd} kB at the end, both with the log just cleared"
  awk 'NR % 6 == 0 { printf "      t=%ss rss=%skB accepted=%s\n", $1, $2, $3 }' "$work/rss.txt"
else
  check "resident memory" "$([ "$growth" -le "$rssSlackKb" ] && echo ok)" \
    "${rssStart} kB after start, ${rssEnd} kB at the end"
  check "no backlog" "$([ "$queuedMax" -lt 600 ] && echo ok)" \
    "at most $queuedMax bytes waiting in the stick's queue at a sample"
  grep '^sample' "$work/session.txt" | awk 'NR % 60 == 0 { printf "      t=%ss queued=%s logged=%s rss=%skB\n", $2, $3, $4, $5 }'
fi

if [ "$failures" = 0 ]; then
  echo "soak: all checks passed"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
else
  echo "soak: $failures check(s) failed; files in $work"
fi
[ "$failures" = 0 ]
