# shellcheck shell=bash
# What the bench scripts share: the processes they start (ended on exit), private X servers,
# windows found and driven with xdotool, CPU and memory read from /proc. Sourced after the
# script sets `sections`; `note` writes to the file the script names in `summary`.

pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
trap cleanup EXIT

# shellcheck disable=SC2154 # sections and summary are set by the script that sources this file
wants() { local s; for s in "${sections[@]}"; do [ "$s" = "$1" ] && return 0; done; return 1; }
# shellcheck disable=SC2154 # as above
note() { echo "$*" | tee -a "$summary"; }

display=""
x() { DISPLAY=$display "$@"; }

# shellcheck source=scripts/private-x.sh
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/private-x.sh"

# An Xvfb of its own for a run in DIR: sets display and xPid.
startXvfb() {  # startXvfb DIR
  start_private_x "$1/xvfb.log" 1600x1200x24 -noreset || { echo "bench: no X server came up" >&2; return 1; }
  pids+=("$xPid")
}

waitWindow() {  # waitWindow TITLE-REGEX SECONDS: prints the id of the visible window, or nothing
  local deadline=$((SECONDS + $2)) id=""
  while [ -z "$id" ] && [ $SECONDS -le "$deadline" ]; do
    id="$(x xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)"
    [ -n "$id" ] || sleep 0.01
  done
  echo "$id"
}
keys() { x xdotool windowfocus --sync "$1" 2>/dev/null || true; shift; x xdotool key --delay 60 "$@"; }

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rssKb() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$1/status"; }

# Answers Quarn's connection dialog: wireless is preselected; wired is one Shift+Tab away from OK,
# and its port dialog takes the port listed first.
chooseConnection() {  # chooseConnection DIR MODE
  local dir="$1" mode="$2" dialog port notFound
  dialog="$(waitWindow "Select wired or wireless operation." 10)"
  [ -n "$dialog" ] || { echo "bench: no connection dialog ($dir)" >&2; return 1; }
  sleep 0.5  # a key sent while the dialog is still being mapped gets lost
  if [ "$mode" != wired ]; then
    keys "$dialog" Return
    return 0
  fi
  keys "$dialog" shift+Tab space Tab Return
  port="$(waitWindow "Select wired parameters." 10)"
  if [ -z "$port" ]; then
    notFound="$(waitWindow "USB wireless MBUS dongle not found!" 2)"
    [ -n "$notFound" ] || { echo "bench: no port dialog ($dir)" >&2; return 1; }
    echo "bench: the wired radio button was not taken; went wired through the not-found notice" >&2
    keys "$notFound" Return
    port="$(waitWindow "Select wired parameters." 10)"
  fi
  keys "$port" Return
}
