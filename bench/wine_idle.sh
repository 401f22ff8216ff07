#!/usr/bin/env bash
# quarn.exe idle under Wine, set against a bare FOX window cross-built the same way, in one run.
#
#   bench/wine_idle.sh            IDLE_S=30 ROUNDS=2 BUILD=dir of the Linux bench tree (build/bench)
#
# One Xvfb, one Wine prefix; the two programs take turns (bare, quarn, bare, quarn), each alone
# for IDLE_S. quarn.exe has the stick open: quarn_pty_writer's PTY, mapped as COM6 and named as the
# stick through QUARN_VIRTUAL_PORTS; the writer acknowledges what it is sent and sends nothing
# else. CPU is utime+stime from /proc of the program, of the Wine server and of the X server over
# the turn, as % of one core. Needs scripts/build-windows.sh to have run (FOX's cache).
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$here/build/bench}"
idleS="${IDLE_S:-30}"
rounds="${ROUNDS:-2}"
cache=${QUARN_WIN_CACHE:-${HOME:-/tmp}/.cache/quarn-win}
fox=$(find "$cache" -mindepth 1 -maxdepth 1 -type d -name 'fox-*-mingw64' 2>/dev/null | sort | head -n 1)
[ -n "$fox" ] || { echo "wine_idle: no FOX for MinGW in $cache; run scripts/build-windows.sh" >&2; exit 1; }

winBuild=$here/build/windows-bench
if [ ! -f "$winBuild/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$winBuild" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUARN_FOX_PREFIX="$fox" -DQUARN_BUILD_TESTS=OFF -DQUARN_BENCH=ON -DQUARN_WERROR=ON \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi
nice cmake --build "$winBuild" -j2 --target quarn quarn_bare_fox_window >/dev/null
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DQUARN_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target quarn_pty_writer >/dev/null

quarn=$winBuild/app/quarn.exe
bare=$winBuild/bench/quarn_bare_fox_window.exe
writer=$build/bench/quarn_pty_writer
work=$(mktemp -d /tmp/quarn-wine-idle-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
clk=$(getconf CLK_TCK)
pids=()
# shellcheck source=scripts/wine-lib.sh
. "$here/scripts/wine-lib.sh"
cleanup() { wine_cleanup "$work"; }
trap cleanup EXIT
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

wine_session "$here" || { echo "wine_idle: no X server came up" >&2; exit 1; }

"$writer" --link "$work/ttyStick" --mode dongle >"$work/writer.out" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do [ -L "$work/ttyStick" ] && break; sleep 0.1; done
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$(readlink -f "$work/ttyStick")" /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w
mkdir -p "$work/run"
cp -r "$here/Quarnconfig.txt" "$here/dongleKeys" "$here/meterKeys" "$work/run/"

# Starts one program, readies it, measures IDLE_S, stops it; prints one line.
turn() {  # turn name
  local pid server p0 s0 x0 p s x exe=$bare
  [ "$1" = quarn ] && exe=$quarn
  if [ "$1" = quarn ]; then
    # A PTY keeps no parity: on a second open Wine's only change is the parity it drops, and
    # glibc's tcsetattr fails (EINVAL). Setting the line back from this side gives it changes.
    stty -F "$(readlink -f "$work/ttyStick")" raw 38400
    (cd "$work/run" && QUARN_VIRTUAL_PORTS='COM6|USB\VID_10C4&PID_0003\ZJ000042|stick' exec wine "$quarn") \
      >"$work/quarn.out" 2>&1 &
    local dialog=""
    for _ in $(seq 200); do
      dialog=$(xdotool search --onlyvisible --name '^Select wired or wireless operation.$' 2>/dev/null | head -n 1 || true)
      [ -n "$dialog" ] && break
      sleep 0.3
    done
    [ -n "$dialog" ] || { echo "wine_idle: quarn.exe showed no connection dialog" >&2; exit 1; }
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 26)) click 1  # OK: wireless is chosen
    sleep 5
    if ! grep -q "Silabs CDC found." "$work/quarn.out" || grep -q "^Error" "$work/quarn.out"; then
      echo "wine_idle: the stick was not opened:" >&2; cat "$work/quarn.out" >&2; exit 1
    fi
  else
    (exec wine "$bare") >"$work/bare.out" 2>&1 &
    sleep 6
  fi
  # Wine names the process after the program (cut to 15 characters, as the kernel keeps it).
  pid=$(ours "$(basename "$exe" | cut -c1-15)")
  server=$(ours 'wineserver(64)?')
  if [ -z "$pid" ] || [ -z "$server" ]; then echo "wine_idle: $1 or the Wine server is not running" >&2; exit 1; fi
  p0=$(ticks "$pid"); s0=$(ticks "$server"); x0=$(ticks "$xPid")
  sleep "$idleS"
  if [ ! -d "/proc/$pid" ] || [ ! -d "/proc/$server" ]; then
    echo "wine_idle: $1 ended during the turn" >&2
    # shellcheck disable=SC2009 # the whole table with arguments, for the log; pgrep gives less
    ps -eo pid,comm,args | grep -i -E 'wine|quarn' >&2
    exit 1
  fi
  [ -z "${KEEP:-}" ] || import -window root "$work/$1-$(date +%s).png"
  p=$(($(ticks "$pid") - p0)); s=$(($(ticks "$server") - s0)); x=$(($(ticks "$xPid") - x0))
  awk -v w="$1" -v p="$p" -v s="$s" -v x="$x" -v c="$clk" -v t="$idleS" 'BEGIN {
    printf "wine idle %-6s %d s: program %.2f %% (%d ticks), wineserver %.2f %% (%d), X %.2f %% (%d), together %.2f %% of a core\n",
      w, t, 100 * p / c / t, p, 100 * s / c / t, s, 100 * x / c / t, x, 100 * (p + s + x) / c / t }'
  # The program alone ends; the Wine server and its services stay for the next turn.
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
  sleep 1
}

for _ in $(seq "$rounds"); do
  turn bare
  turn quarn
done
