#!/usr/bin/env bash
# quarn.exe under Wine: how long a wired frame takes from its last byte on the wire to the screen.
#
#   bench/wine_latency.sh         SECONDS_RUN=20 BUILD=dir of the Linux bench tree (build/bench)
#
# quarn_pty_writer floods 112-byte M-Bus frames at 2400 baud's pace onto a PTY that Wine maps as
# COM9 (a dosdevices link, named through QUARN_VIRTUAL_PORTS); quarn.exe has it open as its wired
# port. strace -f -ttt on quarn.exe: per frame, the writer's mark (last byte written) to the first
# write to the X server after quarn.exe's next read of the PTY. Needs scripts/build-windows.sh to
# have run (quarn.exe in build/windows).
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build/bench}"
runS="${SECONDS_RUN:-20}"
quarn=${QUARN_WIN_EXE:-$here/build/windows/app/quarn.exe}
[ -f "$quarn" ] || { echo "wine_latency: no $quarn; run scripts/build-windows.sh" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DQUARN_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target quarn_pty_writer >/dev/null
writer=$build/bench/quarn_pty_writer
command -v strace >/dev/null || { echo "wine_latency: strace is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/quarn-wine-latency-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
# shellcheck source=scripts/wine-lib.sh
. "$here/scripts/wine-lib.sh"
cleanup() { wine_cleanup "$work"; }
trap cleanup EXIT
wine_session "$here" || { echo "wine_latency: no X server came up" >&2; exit 1; }

"$writer" --link "$work/ttyWired" --mode wired --line-baud 2400 --chunk-ms 10 --seconds "$runS" \
  --marks "$work/marks.txt" >"$work/writer.out" 2>&1 &
writerPid=$!
pids+=("$writerPid")
for _ in $(seq 50); do grep -q ready "$work/writer.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/writer.out" || { echo "wine_latency: the writer did not come up" >&2; exit 1; }
# Wine opens COM9 through its dosdevices link; no server restart is needed for it.
ln -sfn "$(readlink -f "$work/ttyWired")" "$WINEPREFIX/dosdevices/com9"
mkdir -p "$work/run"
cp -r "$here/Quarnconfig.txt" "$here/dongleKeys" "$here/meterKeys" "$work/run/"

(cd "$work/run" && QUARN_VIRTUAL_PORTS='COM9' exec wine "$quarn") >"$work/quarn.out" 2>&1 &
pids+=("$!")
choice=$(wait_window "Select wired or wireless operation." 60) || { echo "wine_latency: no connection dialog" >&2; exit 1; }
sleep 1
click_in "$choice" 30 63  # "Wired connection"
eval "$(xdotool getwindowgeometry --shell "$choice")"
click_in "$choice" $(( WIDTH / 2 )) $(( HEIGHT - 26 ))
ports=$(wait_window "Select wired parameters." 20) || { echo "wine_latency: no port dialog" >&2; exit 1; }
sleep 0.5
# The list is in byte order: COM1 (Wine's own), then COM9.
choose_port "$ports" 2
sleep 2
# The log in view: the "Communication log" tab, where the Linux benches click it too.
main=$(wait_window "Quarn v[0-9.]*" 10) || { echo "wine_latency: no main window" >&2; exit 1; }
click_in "$main" 131 43
sleep 1
pid=$(ours quarn.exe)
[ -n "$pid" ] || { echo "wine_latency: quarn.exe is not running" >&2; exit 1; }
# shellcheck disable=SC2010 # ls -l shows where each descriptor points
ls -l "/proc/$pid/fd" | grep -q /dev/pts/ || { echo "wine_latency: quarn.exe did not open COM9" >&2; cat "$work/quarn.out" >&2; exit 1; }

strace -f -ttt -yy -e trace=read,write,writev,sendmsg -p "$pid" -o "$work/strace.txt" 2>/dev/null &
stracePid=$!
pids+=("$stracePid")
sleep 1
kill -USR1 "$writerPid"
sleep $(( runS + 1 ))
kill "$stracePid"
wait "$stracePid" 2>/dev/null || true
# With -f each line starts with the thread's id, then the time. Per mark: quarn.exe's first read
# of the PTY at or after it (1 ms of slack for the writer's clock), then its first write to the X
# server after that read (xcb's writev on its socket; Wine's own requests go through pipes and
# sendmsg), leaving out the pointer query Wine's X driver sends every 200 ms.
awk 'FNR == NR { m[++nm] = $1 / 1e6; next }
     /read\([0-9]+<\/dev\/pts/ && !/= -1/ { rt[++nr] = $2 }
     /writev\([0-9]+<UNIX-STREAM:/ && !/iov_base="&\\0\\2\\0/ { wt[++nw] = $2 }
     END { for (i = 1; i <= nm; i++) { r = 0; for (j = 1; j <= nr; j++) if (rt[j] >= m[i] - 0.001) { r = rt[j]; break }
             if (!r) continue; for (k = 1; k <= nw; k++) if (wt[k] > r) { d = (wt[k] - m[i]) * 1000; if (d < 0) d = 0
               w = (r - m[i]) * 1000; if (w < 0) w = 0; printf "%.3f %.3f\n", d, w; break } } }' \
  "$work/marks.txt" "$work/strace.txt" >"$work/latency.txt"
# Each line: on screen, then the port's read (the wake-up), both in ms after the mark.
summary() {  # summary column
  sort -n -k"$1" "$work/latency.txt" | awk -v c="$1" '{ a[NR] = $c } $c > 5 { n++ }
    END { if (NR) printf "median %.2f ms, max %.2f ms, over 5 ms: %d of %d", a[int((NR + 1) / 2)], a[NR], n, NR; else print "no frames" }'
}
echo "wine wired latency (strace -f on quarn.exe): port read after the frame's last byte: $(summary 2)"
echo "wine wired latency (strace -f on quarn.exe): on screen (first X write after that read): $(summary 1)"
