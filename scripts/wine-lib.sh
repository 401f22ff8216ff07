# Helpers the scripts that drive Wine share; sourced, not run. The caller sets WINEPREFIX and
# keeps the processes it starts in the array pids; fail names the caller's output folder $out.
# shellcheck shell=bash

fail() { echo "FAIL: $*"; echo "(output in ${out:-?})"; exit 1; }
say() { printf '== %s\n' "$*"; }

# A display of our own (private-x.sh) and a fresh prefix on it; fails when no X server came up.
wine_session() {  # wine_session repository
  # shellcheck source=scripts/private-x.sh
  . "$1/scripts/private-x.sh"
  start_private_x /dev/null 1600x1000x24 || return 1
  pids+=("$xPid")
  export DISPLAY=$display
  wineboot -i >/dev/null 2>&1
  wineserver -w
}

# Ends what the run started and the prefix's Wine server; removes the work folder unless KEEP.
wine_cleanup() {  # wine_cleanup work-folder
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${KEEP:-}" ] || rm -rf "$1"
}

# The id of the first visible window titled exactly so, waiting up to the given seconds.
wait_window() {  # wait_window "title" seconds -> window id on stdout
  local deadline=$(( $(date +%s) + $2 )) id
  while [ "$(date +%s)" -lt "$deadline" ]; do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.3
  done
  return 1
}

# Clicks at x,y inside a window.
click_in() {  # click_in window x y
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $(( X + $2 )) $(( Y + $3 )) click 1
  sleep 0.3
}

# The newest process of that name in this run's prefix (other Wine runs may share the machine).
ours() {  # ours name-pattern
  local p found=""
  for p in $(pgrep -x "$1"); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && found=$p
  done
  echo "$found"
}

# In the port dialog: takes the port at that place of the list (1: the first) and accepts it.
choose_port() {  # choose_port window position
  click_in "$1" 109 28
  for _ in $(seq $(( $2 - 1 ))); do xdotool key Down; sleep 0.2; done
  xdotool key Return
  sleep 1
  if xdotool search --onlyvisible --name "^Select wired parameters.\$" >/dev/null 2>&1; then
    eval "$(xdotool getwindowgeometry --shell "$1")"
    click_in "$1" $(( WIDTH / 2 )) $(( HEIGHT - 33 ))
  fi
}
