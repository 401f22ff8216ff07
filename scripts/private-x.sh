# shellcheck shell=bash
# A private X server for the scripts and the benchmarks: one Xvfb on a display of its own, known
# to answer before anyone uses it. Sourced; needs Xvfb and xdotool.
#
#   start_private_x LOG SCREEN [Xvfb option ...]
#     sets display (":N") and xPid and returns 0, or returns 1 with no server left running; the
#     caller ends xPid. Xvfb's own messages go to LOG.
#
# The numbers come from a range above the low ones that xvfb-run -a and -displayfd servers take,
# so that a test run beside this never loses its display to ours. A number counts as ours only
# when its lock file holds our server's pid and the server answers: a server that lost the number
# to someone else's ends at once and the next number is tried.

private_x_answers() {  # private_x_answers NUMBER: waits up to 10 s while our server lives
  for _ in $(seq 100); do
    kill -0 "$xPid" 2>/dev/null || return 1
    if [ "$( { tr -d ' \n' <"/tmp/.X$1-lock"; } 2>/dev/null)" = "$xPid" ] &&
        DISPLAY=":$1" xdotool getdisplaygeometry >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

start_private_x() {
  local log=$1 screen=$2 first number
  shift 2
  first=$((300 + $$ % 500))
  for number in $(seq "$first" $((first + 20))); do
    [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 "$screen" -nolisten tcp "$@" >/dev/null 2>"$log" &
    xPid=$!
    if private_x_answers "$number"; then
      # shellcheck disable=SC2034 # for the script that sourced this file
      display=":$number"
      return 0
    fi
    kill "$xPid" 2>/dev/null || true
    wait "$xPid" 2>/dev/null || true
  done
  xPid=
  return 1
}
