#!/usr/bin/env bash
# Quarn side by side with a generic serial terminal (CuteCom, Debian) on the same traffic.
#
#   bench/sidebyside.sh [section ...]   sections: idle wireless wired latency long (default: all)
#   BUILD=dir (default build)  IDLE_S=60  FLOOD_S=30  LONG_S=180
#   RATES='10 100 1000 5000' (stick frames per second, one wireless round set each)  RATE=5000 (long)
#   SIZE=WxH  both windows resized to WxH before a flood (default: each at its own default size;
#             Quarn's log area is then about four times CuteCom's output area)
#   PERF='perf record options' (e.g. -g): each quarn flood recorded, perf.data (quarn) and
#             perf-x.data (its X server) in its run's folder
#
# Every program runs on its own Xvfb; CPU is utime+stime from /proc/<pid>/stat of the program
# plus its own X server. The traffic comes from bench/pty_writer.cpp (quarn_pty_writer): a PTY
# pair whose slave is linked where the program opens it, frames paced on an absolute clock,
# the backlog (bytes queued for the reader + bytes the writer still holds) sampled every second.
#   idle      bare FOX window, quarn wired, quarn wireless, CuteCom: port open, nothing arriving,
#             all four at once for IDLE_S
#   wireless  per rate in RATES, stick frames per second (33 bytes: a 30-byte converter radio
#             frame, written whole as the stick sends it; CuteCom's port at the stick's
#             2,000,000 baud), FLOOD_S each, interleaved quarn, CuteCom, quarn, CuteCom;
#             _NET_WM_PING round trips every 100 ms meanwhile (quarn_x_ping)
#   wired     112-byte long frames at the pace of a 2400-baud 8E1 line, bytes in 10 ms chunks,
#             interleaved as above
#   latency   the wired flood with strace -ttt on quarn: writer's last byte of a frame to
#             quarn's first write to the X server after the read that took it
# CPU is counted per byte the device sent (the same traffic for both), and each set ends with
# the ratio quarn / CuteCom of each round.
#   long      quarn under the wireless flood for LONG_S, resident memory every 10 s
# CuteCom is installed here when missing (apt-get); it runs with bench's modem-line shim
# preloaded, since a PTY has no modem lines and Qt's serial port closes it otherwise.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build}"
idleS="${IDLE_S:-60}"
floodS="${FLOOD_S:-30}"
longS="${LONG_S:-180}"
rate="${RATE:-5000}"
read -r -a rates <<<"${RATES:-10 100 1000 5000}"
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(idle wireless wired latency long)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"

command -v cutecom >/dev/null || apt-get install -y --no-install-recommends cutecom >/dev/null
for tool in Xvfb xdotool strace cutecom; do
  command -v "$tool" >/dev/null || { echo "sidebyside: $tool is missing" >&2; exit 1; }
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DQUARN_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target quarn quarn_pty_writer quarn_x_ping quarn_bare_fox_window \
  quarn_modem_lines_shim >/dev/null

quarn="$build/app/quarn"
writer="$build/bench/quarn_pty_writer"
ping="$build/bench/quarn_x_ping"
bare="$build/bench/quarn_bare_fox_window"
shim="$build/bench/libquarn_modem_lines_shim.so"
stick='USB\VID_10C4&PID_0003\ZJ000042'
work="$(mktemp -d /tmp/quarn-sidebyside-XXXXXX)"
clk="$(getconf CLK_TCK)"
summary="$work/summary.txt"
echo "sidebyside: files in $work"


startWriter() {  # startWriter DIR LINKNAME ARGS...: sets writerPid
  local dir="$1" name="$2"
  shift 2
  "$writer" --link "$dir/$name" "$@" >"$dir/writer.txt" 2>&1 &
  writerPid=$!
  pids+=("$writerPid")
  local i
  for i in $(seq 50); do grep -q ready "$dir/writer.txt" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}

# quarn on the current display, connected: sets progPid, winId.
startQuarn() {  # startQuarn DIR MODE
  local dir="$1" mode="$2" ports
  mkdir -p "$dir/dongleKeys" "$dir/meterKeys"
  echo "simulated converter;12345678;000102030405060708090A0B0C0D0E0F" >"$dir/dongleKeys/keys.txt"
  echo "Meter 0;20000000;000102030405060708090A0B0C0D0E0F;000102030405060708090A0B0C0D0E0F" >"$dir/meterKeys/keys.txt"
  if [ "$mode" = wired ]; then ports="$dir/COM1"; else ports="$dir/ttyUSB9|$stick|Wireless M-Bus stick (bench)"; fi
  (cd "$dir" && DISPLAY=$display QUARN_VIRTUAL_PORTS="$ports" exec "$quarn" >"$dir/quarn-out.txt" 2>&1) &
  progPid=$!
  pids+=("$progPid")
  chooseConnection "$dir" "$mode" || return 1
  sleep 2
  winId="$(waitWindow "Quarn v[0-9.]*" 5)"
  # The log in view, as CuteCom's is: the "Communication log" tab (its place in the window).
  [ -n "$winId" ] && DISPLAY=$display xdotool mousemove --window "$winId" 131 43 click 1
  sleep 0.5
  # shellcheck disable=SC2010 # ls -l shows where each descriptor points; a glob would not
  ls -l "/proc/$progPid/fd" | grep -q /dev/pts/ || { echo "sidebyside: quarn did not open the port ($dir)" >&2; return 1; }
}

# CuteCom on the current display, hex output on, the port open: sets progPid, winId.
startCutecom() {  # startCutecom DIR LINKNAME BAUD
  local dir="$1"
  local link="$dir/$2"
  mkdir -p "$dir/home/.config/CuteCom"
  rm -f "/var/lock/LCK..$(echo "$link" | tr / _)"
  cat >"$dir/home/.config/CuteCom/CuteCom5.conf" <<EOF
[sessions]
1\\BaudRate=$3
1\\DataBits=8
1\\Device=$link
1\\FlowControl=0
1\\OpenMode=3
1\\Parity=0
1\\StopBits=1
1\\autoReconnect=false
1\\name=Default
1\\showCtrlCharacters=false
1\\showTimestamp=false
size=1
EOF
  (HOME="$dir/home" XDG_RUNTIME_DIR="$dir" DISPLAY=$display LD_PRELOAD="$shim" exec cutecom >"$dir/cutecom-out.txt" 2>&1) &
  progPid=$!
  pids+=("$progPid")
  winId="$(waitWindow "CuteCom - Default" 15)"
  [ -n "$winId" ] || { echo "sidebyside: no CuteCom window ($dir)" >&2; return 1; }
  sleep 1
  # "Hex output" check box and "Open" button (positions in CuteCom 0.51's default layout).
  DISPLAY=$display xdotool mousemove 101 640 click 1 sleep 0.3 mousemove 50 43 click 1
  sleep 1
  # shellcheck disable=SC2010 # ls -l shows where each descriptor points; a glob would not
  ls -l "/proc/$progPid/fd" | grep -q /dev/pts/ || { echo "sidebyside: CuteCom did not open the port ($dir)" >&2; return 1; }
}

# One flood: writer, program, flood for S seconds; prints a result line.
floodRun() {  # floodRun NAME PROGRAM MODE SECONDS
  local name="$1" prog="$2" mode="$3" s="$4" dir="$work/$1" link t0 x0 t1 x1 r0 r1 shown
  mkdir -p "$dir"
  startXvfb "$dir"
  if [ "$mode" = wired ]; then
    link=COM1
    startWriter "$dir" "$link" --mode wired --line-baud 2400 --chunk-ms 10 --seconds "$s" --marks "$dir/marks.txt"
  else
    link=ttyUSB9
    startWriter "$dir" "$link" --mode dongle --rate "$rate" --seconds "$s"
  fi
  if [ "$prog" = quarn ]; then startQuarn "$dir" "$mode" || { cleanup; return 1; }
  else startCutecom "$dir" "$link" "$([ "$mode" = wired ] && echo 2400 || echo 2000000)" || { cleanup; return 1; }
  fi
  if [ -n "${SIZE:-}" ]; then
    DISPLAY=$display xdotool windowsize --sync "$winId" "${SIZE%x*}" "${SIZE#*x}" ||
      { echo "sidebyside: could not size $name to $SIZE" >&2; cleanup; return 1; }
  fi
  { DISPLAY=$display xdotool getwindowgeometry "$winId" | sed -n 's/^ *Geometry: //p'; } >"$dir/geometry.txt" || true
  sleep 1
  t0="$(ticks "$progPid")"; x0="$(ticks "$xPid")"; r0="$(rssKb "$progPid")"
  kill -USR1 "$writerPid"
  # Event-loop round trips, quarn only (CuteCom's Qt left _NET_WM_PING unanswered here).
  if [ "$prog" = quarn ] && [ -n "${winId:-}" ] && [ "$mode" != wired ]; then
    DISPLAY=$display "$ping" "$winId" 100 "$((s - 1))" >"$dir/ping.txt" 2>"$dir/ping-err.txt" &
    pids+=("$!")
  fi
  local perfPid=""
  if [ "$prog" = quarn ] && [ -n "${PERF:-}" ]; then
    # shellcheck disable=SC2086 # PERF holds perf's options, one word each
    perf record $PERF -o "$dir/perf.data" -p "$progPid" -- sleep "$s" >"$dir/perf-out.txt" 2>&1 &
    perfPid=$!
    pids+=("$perfPid")
    # shellcheck disable=SC2086 # as above
    perf record $PERF -o "$dir/perf-x.data" -p "$xPid" -- sleep "$s" >"$dir/perf-x-out.txt" 2>&1 &
    pids+=("$!")
  fi
  : >"$dir/rss.txt"
  local i
  for i in $(seq "$s"); do sleep 1; echo "$i $(rssKb "$progPid")" >>"$dir/rss.txt"; done
  for i in $(seq 30); do grep -q '^done' "$dir/writer.txt" && break; sleep 0.2; done
  [ -z "$perfPid" ] || wait "$perfPid" 2>/dev/null || true
  t1="$(ticks "$progPid")"; x1="$(ticks "$xPid")"; r1="$(rssKb "$progPid")"
  DISPLAY=$display import -window root "$dir/screen.png" 2>/dev/null || true
  local frames bytes
  frames="$(awk '/^done/ { sub("frames=", "", $2); print $2 }' "$dir/writer.txt")"
  bytes="$(awk '/^done/ { sub("bytes=", "", $3); print $3 }' "$dir/writer.txt")"
  # Bytes the device sent in the flood: whole 33-byte stick frames (the writer's count also holds
  # the ACKs to quarn's requests), the wire's bytes as written.
  if [ "$mode" != wired ]; then shown=$((frames * 33)); else shown=$bytes; fi
  local backlog
  backlog="$(awk -v n="$s" '/^[0-9]/ { q = $4 + $5; if (q > m) m = q; if ($1 <= n / 2) { a += q; ac++ } else { b += q; bc++ } }
    END { printf "backlog max %d B, mean %.0f -> %.0f B (1st -> 2nd half)", m, ac ? a / ac : 0, bc ? b / bc : 0 }' "$dir/writer.txt")"
  note "$(awk -v name="$name" -v f="$frames" -v b="$bytes" -v sh="$shown" -v pt=$((t1 - t0)) -v xt=$((x1 - x0)) -v c="$clk" -v s="$s" \
    -v r0="$r0" -v r1="$r1" -v bl="$backlog" \
    'BEGIN { printf "%-16s %d frames (%.0f/s), %d B written, %d B sent; CPU prog %.1f %% + X %.1f %% of a core; %.3f us (prog+X) per sent byte; RSS %d -> %d kB; %s\n",
             name, f, f / s, b, sh, 100 * pt / c / s, 100 * xt / c / s, 1e6 * (pt + xt) / c / sh, r0, r1, bl }')"
  [ -s "$dir/ping.txt" ] && note "$name ping: $(cat "$dir/ping.txt")"
  cleanup
}

if wants idle; then
  note "== idle, port open, nothing arriving, $idleS s, all four at once (CPU of the program only, and of its X server)"
  declare -A idleProg idleX
  for who in bare quarn-wired quarn-wireless cutecom; do
    dir="$work/idle-$who"
    mkdir -p "$dir"
    startXvfb "$dir"
    case $who in
      bare) DISPLAY=$display "$bare" & progPid=$!; pids+=("$progPid"); waitWindow "Bare FOX window" 10 >/dev/null ;;
      quarn-wired) startWriter "$dir" COM1 --mode wired; startQuarn "$dir" wired ;;
      quarn-wireless) startWriter "$dir" ttyUSB9 --mode dongle; startQuarn "$dir" wireless ;;
      cutecom) startWriter "$dir" ttyUSB9 --mode wired; startCutecom "$dir" ttyUSB9 2400 ;;
    esac
    idleProg[$who]=$progPid
    idleX[$who]=$xPid
  done
  sleep 3
  declare -A p0 x0
  for who in "${!idleProg[@]}"; do p0[$who]="$(ticks "${idleProg[$who]}")"; x0[$who]="$(ticks "${idleX[$who]}")"; done
  sleep "$idleS"
  for who in bare quarn-wired quarn-wireless cutecom; do
    p=$(($(ticks "${idleProg[$who]}") - ${p0[$who]})); x=$(($(ticks "${idleX[$who]}") - ${x0[$who]}))
    note "$(awk -v w="$who" -v p="$p" -v x="$x" -v c="$clk" -v s="$idleS" -v r="$(rssKb "${idleProg[$who]}")" \
      'BEGIN { printf "idle %-15s %.3f %% of a core (%d ticks of 1/%d s), its X server %.3f %% (%d ticks); RSS %d kB\n", w, 100 * p / c / s, p, c, 100 * x / c / s, x, r }')"
  done
  cleanup
fi

# quarn, CuteCom, quarn, CuteCom on the same traffic: runs PROGRAM-NAME-1 and PROGRAM-NAME-2,
# then the ratio quarn / CuteCom of each round.
interleaved() {  # interleaved NAME MODE
  local n program ratios=""
  for n in 1 2; do
    for program in quarn cutecom; do
      floodRun "$program-$1-$n" "$program" "$2" "$floodS" || note "$program-$1-$n failed"
    done
    ratios+="$(awk -v n="$1-$n" '$1 == "quarn-" n { q = $(NF - 1) } $1 == "cutecom-" n { c = $(NF - 1) }
      END { if (q && c) printf " %.2f", q / c; else printf " -" }' \
      <(sed -n 's/^\([^ ]*\) .* \([0-9.]*\) us (prog+X) per sent byte.*/\1 \2 x/p' "$summary"))"
  done
  note "$1 ratio quarn / CuteCom, CPU (prog+X) per sent byte, round 1 and 2:$ratios"
}

if wants wireless; then
  for rate in "${rates[@]}"; do
    note "== wireless: $rate stick frames/s of 33 bytes (30-byte converter frames), $floodS s each, interleaved"
    interleaved "wl$rate" wireless
  done
  rate="${RATE:-5000}"
fi

if wants wired; then
  note "== wired: 112-byte long frames at a 2400-baud 8E1 line's pace (218 B/s, 10 ms chunks), $floodS s each, interleaved"
  interleaved wired wired
fi

if wants latency; then
  note "== wired answer latency: last byte written -> quarn's first X write after reading it (strace -ttt), 20 s"
  dir="$work/latency"
  mkdir -p "$dir"
  startXvfb "$dir"
  startWriter "$dir" COM1 --mode wired --line-baud 2400 --chunk-ms 10 --seconds 20 --marks "$dir/marks.txt"
  if startQuarn "$dir" wired; then
    strace -ttt -yy -e trace=read,write,writev,sendmsg -p "$progPid" -o "$dir/strace.txt" &
    sPid=$!
    pids+=("$sPid")
    sleep 1
    kill -USR1 "$writerPid"
    sleep 21
    kill "$sPid"; wait "$sPid" 2>/dev/null || true
    # Per mark: the first read of the port at or after it (1 ms of slack: quarn may read before
    # the writer takes its clock), then the first write to the X socket after that read.
    awk 'FNR == NR { m[++nm] = $1 / 1e6; next }
         /read\([0-9]+<\/dev\/pts/ && !/= -1/ { rt[++nr] = $1 }
         /(writev|sendmsg|write)\([0-9]+<(UNIX|socket)/ { wt[++nw] = $1 }
         END { for (i = 1; i <= nm; i++) { r = 0; for (j = 1; j <= nr; j++) if (rt[j] >= m[i] - 0.001) { r = rt[j]; break }
                 if (!r) continue; for (k = 1; k <= nw; k++) if (wt[k] > r) { d = (wt[k] - m[i]) * 1000; if (d < 0) d = 0; print d; break } } }' \
      "$dir/marks.txt" "$dir/strace.txt" | sort -n >"$dir/latency.txt"
    note "latency: $(awk '{ a[NR] = $1 } END { if (NR) printf "%d frames, median %.2f ms, max %.2f ms, over 20 ms: %d", NR, a[int((NR + 1) / 2)], a[NR], c; else print "no frames" } $1 > 20 { c++ }' "$dir/latency.txt")"
  else
    note "latency: run failed"
  fi
  cleanup
fi

if wants long; then
  note "== long wireless flood: quarn, $rate frames/s for $longS s, resident memory"
  floodRun quarn-long quarn wireless "$longS" || note "quarn-long failed"
  note "quarn-long RSS every 10 s: $(awk 'NR % 10 == 0 { printf "%s ", $2 }' "$work/quarn-long/rss.txt")"
fi
echo "sidebyside: summary in $summary"
