#!/usr/bin/env bash
# Runs the real quarn under valgrind's memcheck on an X server of its own, beside quarn-sim as
# a wired converter: the connection dialog and the port dialog are answered with xdotool, the
# converter's answer is given time to arrive and be logged, then Ctrl+Q ends the program.
# Fails when memcheck reports an invalid access or a definite leak that tests/data/valgrind.supp
# does not put down to the toolkit or the X libraries.
#
# usage: scripts/valgrind-smoke.sh [BUILD_DIR]   (default: build; needs app/quarn, sim/quarn-sim)
# Writes valgrind.log and quarn-trace.txt into BUILD_DIR/valgrind-smoke/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
quarn=$build/app/quarn
sim=$build/sim/quarn-sim
suppressions=$root/tests/data/valgrind.supp
out=$build/valgrind-smoke
leak_exit=99  # memcheck's status when it found errors

for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "valgrind-smoke: $tool is needed" >&2; exit 2; }
done
for program in "$quarn" "$sim"; do
  [ -x "$program" ] || { echo "valgrind-smoke: $program was not built" >&2; exit 2; }
done

mkdir -p "$out"
work=$(mktemp -d /tmp/quarn-valgrind-XXXXXX)
xvfb_pid=
sim_pid=
quarn_pid=
finish() {
  [ -n "$quarn_pid" ] && kill -KILL "$quarn_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# An X server of our own, on the first display number from a private range that it can take
# and that answers.
for number in $(seq $((100 + $$ % 300)) $((120 + $$ % 300))); do
  Xvfb ":$number" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>"$work/xvfb.err" &
  xvfb_pid=$!
  if wait_for 50 env DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1 &&
      kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$number"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "valgrind-smoke: Xvfb did not start" >&2; exit 2; }

# The converter, on a port whose name sorts before any the system lists, so that it is the
# first entry of the port dialog.
link=$work/tty00SIM
"$sim" --role wired --link "$link" --transcript "$work/transcript.txt" >"$work/sim-entry" 2>"$work/sim.err" &
sim_pid=$!
wait_for 50 test -s "$work/sim-entry" || { echo "valgrind-smoke: quarn-sim did not start" >&2; cat "$work/sim.err" >&2; exit 2; }
export QUARN_VIRTUAL_PORTS=$(head -n 1 "$work/sim-entry")

mkdir -p "$work/home" "$work/run"
start=$(date +%s)
(
  cd "$work/run"
  HOME=$work/home exec valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --error-exitcode=$leak_exit --suppressions="$suppressions" \
    --gen-suppressions=all --num-callers=30 --log-file="$out/valgrind.log" "$quarn"
) >"$out/quarn-trace.txt" 2>&1 &
quarn_pid=$!

window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window "$1")" ]; }

wait_for 900 has_window "Select wired or wireless operation." ||
  { echo "valgrind-smoke: no connection dialog" >&2; exit 1; }
choice=$(window "Select wired or wireless operation.")
xdotool mousemove --window "$choice" 30 69 click 1
sleep 0.5
xdotool windowfocus --sync "$choice" key Return

wait_for 600 has_window "Select wired parameters." || { echo "valgrind-smoke: no port dialog" >&2; exit 1; }
ports=$(window "Select wired parameters.")
sleep 1
xdotool windowfocus --sync "$ports" key Return

answered() { grep -q "REQ_UD2.*accepted" "$work/transcript.txt" 2>/dev/null; }
wait_for 600 answered || { echo "valgrind-smoke: quarn-sim saw no REQ_UD2" >&2; exit 1; }
# The answer goes out after the simulator's turnaround; the 200 ms poll, slowed by memcheck,
# reads and logs it within a few seconds.
sleep 5
has_window "Quarn" && { echo "valgrind-smoke: an error box is open" >&2; exit 1; }

main=$(window "Quarn v1.3.0")
[ -n "$main" ] || { echo "valgrind-smoke: no main window" >&2; exit 1; }
xdotool windowfocus --sync "$main" key ctrl+q
status=0
wait "$quarn_pid" || status=$?
quarn_pid=
took=$(( $(date +%s) - start ))

echo "valgrind-smoke: quarn under memcheck ran ${took} s, exit status $status"
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|suppressed:" \
  "$out/valgrind.log" | sed 's/^==[0-9]*== */  /'
if [ "$status" -ne 0 ]; then
  echo "valgrind-smoke: FAILED; see $out/valgrind.log" >&2
  exit 1
fi
echo "valgrind-smoke: no invalid accesses and no definite leaks outside the suppressed libraries"
