#!/usr/bin/env bash
# Measures Quarn as a whole program and its hot paths, against the targets:
#   key lists (2 x 65,536 entries) loaded < 100 ms    start to window shown < 0.5 s
#   idle CPU < 0.2 % (wired) and < 1 % (wireless) of one core
#   one 112-byte frame appended to a 100,000-frame log < 2 ms (the log keeps its last 16 MB)
#   150 radio frames per second for a minute with no growing backlog
#
#   bench/measure.sh [section ...]     sections: hot start idle load log timer (default: all)
#   BUILD=dir                          build directory (default build-bench, configured here
#                                      with -DQUARN_BENCH=ON when missing)
#   IDLE_S=30 LOAD_S=60 STARTS=5       lengths of the idle and load runs, start-up repetitions
#
# Every run of quarn gets its own Xvfb and working directory, and a quarn-sim on a PTY.
# Needs only what scripts/install-deps.sh installs (Xvfb, xdotool) and libbenchmark-dev for the
# hot paths. Results go to standard output; the runs' files stay in the printed directory.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build-bench}"
idleSeconds="${IDLE_S:-30}"
loadSeconds="${LOAD_S:-60}"
starts="${STARTS:-5}"
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(hot start idle load log timer)

# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "measure: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DQUARN_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target quarn quarn-sim quarn_hot_paths_bench quarn_log_bench \
  quarn_timer_refresh_bench >/dev/null

quarn="$build/app/quarn"
sim="$build/sim/quarn-sim"
work="$(mktemp -d /tmp/quarn-measure-XXXXXX)"
clk="$(getconf CLK_TCK)"
echo "measure: files in $work"

startSim() {  # startSim DIR LINKNAME ARGS... ; sets simPid, simEntry
  local dir="$1" name="$2"
  shift 2
  "$sim" --link "$dir/$name" --transcript "$dir/transcript.txt" "$@" >"$dir/sim-entry.txt" 2>"$dir/sim-err.txt" &
  simPid=$!
  pids+=("$simPid")
  for _ in $(seq 100); do [ -s "$dir/sim-entry.txt" ] && break; sleep 0.05; done
  simEntry="$(head -n 1 "$dir/sim-entry.txt")"
}

cpuPercent() { awk -v t="$1" -v s="$2" -v c="$clk" 'BEGIN { printf "%.3f", 100 * t / c / s }'; }

# Full key lists in a working directory: 65,536 converters and 65,536 meters.
makeRunDir() {
  local dir="$1"
  mkdir -p "$dir/dongleKeys" "$dir/meterKeys"
  awk 'BEGIN { print "simulated converter;12345678;000102030405060708090A0B0C0D0E0F";
               for (i = 1; i < 65536; i++) printf "Converter %d;%08X;%08X%08X%08X%08X\n", i, 268435456 + i * 7, i, i * 3, i * 5, i * 11 }' \
    >"$dir/dongleKeys/keys.txt"
  awk 'BEGIN { for (i = 0; i < 65536; i++) printf "Meter %d;%08X;%08X%08X%08X%08X;%08X%08X%08X%08X\n", i, 536870912 + i * 7, i, i * 3, i * 5, i * 11, i * 13, i * 17, i * 19, i * 23 }' \
    >"$dir/meterKeys/keys.txt"
}

# Starts quarn in DIR on the current display; sets quarnPid and startMs (when the process began).
startQuarn() {
  local dir="$1" ports="$2"
  startMs=$(($(date +%s%N) / 1000000))
  (cd "$dir" && DISPLAY=$display QUARN_VIRTUAL_PORTS="$ports" exec "$quarn" >"$dir/quarn-out.txt" 2>&1) &
  quarnPid=$!
  pids+=("$quarnPid")
}

# The connection dialog answered; over the air, also until the stick got its start command.
connectQuarn() {  # connectQuarn DIR MODE
  chooseConnection "$1" "$2" || return 1
  [ "$2" = wired ] && return 0
  for _ in $(seq 50); do grep -q "AB0000" "$1/transcript.txt" 2>/dev/null && return 0; sleep 0.1; done
  echo "measure: the stick got no AB 00 00 ($1)" >&2
  return 1
}

summary="$work/summary.txt"

# ---- hot paths ----
if wants hot; then
  note "== hot paths: $build/bench/quarn_hot_paths_bench"
  "$build/bench/quarn_hot_paths_bench" --benchmark_out="$work/hot_paths.json" --benchmark_out_format=json 2>&1 |
    grep -E '^(BM_|Benchmark|Load)' | tee -a "$summary"
fi

# ---- start to window shown, full key lists ----
if wants start; then
  note "== start to the connection dialog shown, 2 x 65,536 keys, $starts runs"
  times=()
  for run in $(seq "$starts"); do
    dir="$work/start-$run"
    makeRunDir "$dir"
    startXvfb "$dir"
    startQuarn "$dir" ""
    id="$(waitWindow "Select wired or wireless operation." 10)"
    shownMs=$(($(date +%s%N) / 1000000))
    [ -n "$id" ] || { note "run $run: no window within 10 s"; cleanup; continue; }
    times+=($((shownMs - startMs)))
    note "run $run: $((shownMs - startMs)) ms, resident $(rssKb "$quarnPid") kB"
    cleanup
  done
  if [ ${#times[@]} -gt 0 ]; then
    note "start to window (ms) median $(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'), all: ${times[*]}"
  fi
fi

# ---- idle CPU, wired and wireless ----
idleRun() {  # idleRun MODE
  local mode="$1" dir="$work/idle-$1" ports t0 t1 r0
  mkdir -p "$dir"
  makeRunDir "$dir"
  startXvfb "$dir"
  if [ "$mode" = wired ]; then
    startSim "$dir" COM1 --role wired
    ports="$dir/COM1"
  else
    startSim "$dir" ttyUSB9 --role dongle
    ports="$simEntry"
  fi
  startQuarn "$dir" "$ports"
  connectQuarn "$dir" "$mode" || { cleanup; return 1; }
  sleep 3  # connect, first answers, first repaints
  r0="$(rssKb "$quarnPid")"
  t0="$(ticks "$quarnPid")"
  sleep "$idleSeconds"
  t1="$(ticks "$quarnPid")"
  note "$mode: $(cpuPercent $((t1 - t0)) "$idleSeconds") % of one core over $idleSeconds s ($((t1 - t0)) ticks of 1/$clk s); resident $r0 kB after connecting, $(rssKb "$quarnPid") kB at the end"
  note "$mode: simulator saw $(grep -c accepted "$dir/transcript.txt" || true) accepted requests: $(cut -f4 "$dir/transcript.txt" | sort | uniq -c | tr -s ' ' | tr '\n' ',')"
  cleanup
}
if wants idle; then
  note "== idle CPU over $idleSeconds s (quarn-sim defaults: wired converter; stick with a converter frame every 1000 ms)"
  idleRun wired || note "wired: run failed"
  idleRun wireless || note "wireless: run failed"
fi

# ---- 150 radio frames per second ----
# The stick's queue as the PTY holds it for quarn: FIONREAD on a second descriptor of the slave
# (root may open it past TIOCEXCL; nothing is read).
queuedBytes() {
  perl -e 'open(my $f, "<", $ARGV[0]) or exit 1; my $n = pack("L", 0);
           ioctl($f, 0x541B, $n) or exit 1; print unpack("L", $n), "\n";' "$1" 2>/dev/null || echo "?"
}
if wants load; then
  note "== wireless run with 150 radio frames per second (converter every 10 ms, another meter every 20 ms) for $loadSeconds s"
  dir="$work/load"
  mkdir -p "$dir"
  makeRunDir "$dir"
  startXvfb "$dir"
  startSim "$dir" ttyUSB9 --role dongle --beacon-ms 10
  startQuarn "$dir" "$simEntry"
  if connectQuarn "$dir" wireless; then
    sleep 2
    r0="$(rssKb "$quarnPid")"
    t0="$(ticks "$quarnPid")"
    w0="$(awk '$1 == "wchar:" { print $2 }' "/proc/$simPid/io")"
    : >"$dir/queue.txt"
    for s in $(seq "$loadSeconds"); do
      sleep 1
      echo "$s $(queuedBytes "$dir/ttyUSB9") $(rssKb "$quarnPid")" >>"$dir/queue.txt"
    done
    t1="$(ticks "$quarnPid")"
    w1="$(awk '$1 == "wchar:" { print $2 }' "/proc/$simPid/io")"
    note "load: the stick wrote $(((w1 - w0) / loadSeconds)) bytes/s to quarn; $(grep -c 'wrote' "$dir/sim-err.txt" || true) of its writes were cut short (PTY full)"
    note "load: CPU $(cpuPercent $((t1 - t0)) "$loadSeconds") % of one core; resident $r0 kB -> $(rssKb "$quarnPid") kB"
    note "load: bytes queued for quarn, per 10 s: $(awk 'NR % 10 == 0 { printf "%ss=%s ", $1, $2 }' "$dir/queue.txt")"
    note "load: queue max $(awk '$2 != "?" && $2 > m { m = $2 } END { print m + 0 }' "$dir/queue.txt") bytes; first half mean $(awk -v n="$loadSeconds" '$1 <= n / 2 { s += $2; c++ } END { printf "%.0f", s / c }' "$dir/queue.txt"), second half mean $(awk -v n="$loadSeconds" '$1 > n / 2 { s += $2; c++ } END { printf "%.0f", s / c }' "$dir/queue.txt")"
  else
    note "load: run failed"
  fi
  cleanup
fi

# ---- the log with 100,000 frames ----
if wants log; then
  note "== log: the real window logs 100,000 frames of 112 bytes ($build/bench/quarn_log_bench)"
  dir="$work/log"
  mkdir -p "$dir"
  startXvfb "$dir"
  # The last server started is this section's: the bench reads its CPU around each phase.
  DISPLAY=$display XSERVER_PID="${pids[-1]}" "$build/bench/quarn_log_bench" 100000 | tee "$dir/log_bench.txt" | grep -v '^filled' | tee -a "$summary"
  cleanup
fi

# ---- what an idle poll timer costs the window ----
if wants timer; then
  note "== an idle poll timer on the real window, its handler answering handled (1) or not (0), 10 s each"
  dir="$work/timer"
  mkdir -p "$dir"
  startXvfb "$dir"
  DISPLAY=$display "$build/bench/quarn_timer_refresh_bench" 10 | tee -a "$summary"
  cleanup
fi

echo "measure: summary in $summary"
