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
  if [ -n "$quarn_pid" ]; then kill -KILL "$quarn_pid" 2>/dev/null || true; fi
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
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

# An X server of our own. -noreset matters: by default the server resets whenever its last
# client leaves and drops any client that connected meanwhile, and every xdotool call below is
# such a client; quarn, starting slowly under memcheck, was dropped that way ("unable to open
# display").
# shellcheck source=scripts/private-x.sh
. "$root/scripts/private-x.sh"
if start_private_x "$work/xvfb.err" 1600x1000x24 -noreset; then
  xvfb_pid=$xPid
  export DISPLAY=$display
fi
[ -n "$xvfb_pid" ] || { echo "valgrind-smoke: Xvfb did not start" >&2; cat "$work/xvfb.err" >&2; exit 2; }

# Some machines cannot run programs under memcheck at all (no room for its address space, a
# processor it cannot decode, a sandbox it stalls in). That says nothing about quarn, so it is a
# skip, with the reason.
if ! timeout 120 valgrind --tool=memcheck -q xdotool getdisplaygeometry >"$work/probe.out" 2>&1 ||
    ! grep -qE '^[0-9]+ [0-9]+$' "$work/probe.out"; then
  echo "valgrind-smoke: SKIPPED, memcheck cannot run a plain X client here:" >&2
  sed 's/^/  /' "$work/probe.out" >&2
  exit 77
fi

# The converter, on a port whose name sorts before any the system lists, so that it is the
# first entry of the port dialog.
link=$work/tty00SIM
"$sim" --role wired --link "$link" --transcript "$work/transcript.txt" >"$work/sim-entry" 2>"$work/sim.err" &
sim_pid=$!
wait_for 50 test -s "$work/sim-entry" || { echo "valgrind-smoke: quarn-sim did not start" >&2; cat "$work/sim.err" >&2; exit 2; }
QUARN_VIRTUAL_PORTS=$(head -n 1 "$work/sim-entry")
export QUARN_VIRTUAL_PORTS

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
running() { kill -0 "$quarn_pid" 2>/dev/null; }
elapsed() { echo "$(( $(date +%s) - start )) s"; }

# What a failure needs to be understood from a CI log alone.
explain() {
  echo "valgrind-smoke: $1 after $(elapsed)" >&2
  if running; then
    echo "  quarn is still running: $(grep -E '^State:' "/proc/$quarn_pid/status" 2>/dev/null)" >&2
  else
    echo "  quarn is no longer running" >&2
  fi
  if kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "  Xvfb $DISPLAY is still running" >&2
  else
    echo "  Xvfb $DISPLAY has ended" >&2
  fi
  tail -n 15 "$work/xvfb.err" | sed 's/^/    /' >&2
  echo "  visible windows:" >&2
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    echo "    '$(xdotool getwindowname "$id" 2>/dev/null)'" >&2
  done
  echo "  end of valgrind.log:" >&2
  tail -n 40 "$out/valgrind.log" 2>/dev/null | sed 's/^/    /' >&2
  echo "  end of quarn's output:" >&2
  tail -n 20 "$out/quarn-trace.txt" 2>/dev/null | sed 's/^/    /' >&2
  exit 1
}

# Waits up to $1 tenths of a second for window $2, giving up at once when quarn has ended.
wait_window() {
  local tenths=$1
  for _ in $(seq "$tenths"); do
    has_window "$2" && return 0
    running || return 1
    sleep 0.1
  done
  return 1
}

# Memcheck makes start-up slow (about 3 s here, much longer on a loaded machine), hence the
# generous limits; a failure still ends as soon as quarn does.
wait_window 1800 "Select wired or wireless operation." || explain "no connection dialog"
echo "valgrind-smoke: connection dialog after $(elapsed)"
choice=$(window "Select wired or wireless operation.")
xdotool mousemove --window "$choice" 30 69 click 1
sleep 0.5
xdotool windowfocus --sync "$choice" key Return

wait_window 600 "Select wired parameters." || explain "no port dialog"
ports=$(window "Select wired parameters.")
sleep 1
xdotool windowfocus --sync "$ports" key Return

answered() { grep -q "REQ_UD2.*accepted" "$work/transcript.txt" 2>/dev/null; }
wait_for 600 answered || explain "quarn-sim saw no REQ_UD2"
echo "valgrind-smoke: REQ_UD2 answered after $(elapsed)"
# The answer goes out after the simulator's turnaround; the 200 ms poll, slowed by memcheck,
# reads and logs it within a few seconds.
sleep 5
has_window "Quarn" && explain "an error box is open"

main=$(window "Quarn v1.3.0")
[ -n "$main" ] || explain "no main window"
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
