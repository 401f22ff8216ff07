#!/bin/bash
# Smoke run of the Windows build under Wine on a private Xvfb display: quarn.exe starts, the
# connection dialog appears, a wired run reaches the Linux quarn-sim through a pseudo-terminal
# that Wine maps as COM5 (REQ_UD2 goes out, the answer comes back; the simulator then ends and
# the saved log must say the connection was lost), a wireless run finds a simulated stick named
# through QUARN_VIRTUAL_PORTS, a stick pulled out and plugged back is opened again (the port
# unmapped and mapped while quarn.exe runs, and the device change broadcast as Windows does), the
# key files other accounts can read are warned about, and the window keeps answering a stick that
# floods garbage. Then
# quarn-cli.exe writes and reads back a settings file through COM5, applies a two-converter site
# plan through a simulated stick on COM6, refuses a --key-file others can read, and fails as
# documented on a COM port that is not there. Screenshots are left in the output folder.
#
#   scripts/windows-test.sh [output folder]
#   QUARN_WIN_EXE=...   the program (default build/windows/app/quarn.exe)
#   QUARN_WIN_CLI=...   quarn-cli.exe (default build/windows/cli/quarn-cli.exe beside it)
#   QUARN_WIN_POST=...  the device-change broadcaster (default build/windows/tests/...)
#   QUARN_SIM=...       the Linux simulator (default: build/linux, then build/release)
#
# Exits 77 (skipped) when there is no Windows build, Wine, Xvfb or simulator.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
exe=${QUARN_WIN_EXE:-$repo/build/windows/app/quarn.exe}
cli=${QUARN_WIN_CLI:-$(dirname "$exe")/../cli/quarn-cli.exe}
post_change=${QUARN_WIN_POST:-$(dirname "$exe")/../tests/quarn_post_device_change.exe}
sim=${QUARN_SIM:-}
if [ -z "$sim" ]; then
  for candidate in "$repo/build/linux/sim/quarn-sim" "$repo/build/release/sim/quarn-sim"; do
    [ -x "$candidate" ] && { sim=$candidate; break; }
  done
fi
skip() { echo "SKIP: $*"; exit 77; }
[ -f "$exe" ] || skip "no Windows build at $exe (scripts/build-windows.sh makes it)"
if [ -z "$sim" ] || [ ! -x "$sim" ]; then skip "no quarn-sim (build the Linux tree first)"; fi
for tool in wine wineserver Xvfb xdotool import; do
  command -v $tool >/dev/null 2>&1 || skip "$tool is not installed"
done

out=${1:-$(mktemp -d "${TMPDIR:-/tmp}/quarn-wine.XXXXXX")}
mkdir -p "$out"
out=$(cd "$out" && pwd)
# Nothing of an earlier run may pass for this one's (the simulator appends to its transcript).
rm -f "$out"/*.png "$out"/*.out "$out"/*.txt
work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-wine-run.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset QUARN_VIRTUAL_PORTS
pids=()
# shellcheck source=scripts/wine-lib.sh
. "$repo/scripts/wine-lib.sh"
cleanup() { KEEP="" wine_cleanup "$work"; }
trap cleanup EXIT


say "preparing the Wine prefix"
started=$(date +%s)
wine_session "$repo" || fail "no X server came up"
say "prefix ready in $(( $(date +%s) - started )) s"

# Maps COM<n> onto a pseudo-terminal; the server reads the mapping when it starts.
map_port() {  # map_port COM5 /dev/pts/N
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}

# The working folder: the repository's examples.
run_dir=$work/run
mkdir -p "$run_dir"
cp "$repo/Quarnconfig.txt" "$run_dir/"
cp -r "$repo/dongleKeys" "$repo/meterKeys" "$repo/help" "$run_dir/"
# Wine gives a file the access control list its mode bits imply (others: Everyone): dongleKeys
# is open to other accounts, the configuration and meterKeys are the user's own.
chmod 755 "$run_dir/dongleKeys"
chmod 700 "$run_dir/meterKeys"
chmod 600 "$run_dir/Quarnconfig.txt"
key_warning='Warning: dongleKeys is readable by other users; run icacls "dongleKeys" /inheritance:r /grant:r "%USERNAME%":(OI)(CI)F.'

shot() { import -window root "$out/$1.png"; }

# File -> Save log... into a Linux path; FOX's own chooser takes a typed full name.
save_log() {  # save_log main-window path
  rm -f "$2"
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  xdotool key alt+f
  sleep 0.5
  xdotool key Down Down Down Return
  local chooser
  chooser=$(wait_window "Save log" 10) || { shot no-save-dialog; fail "no Save log dialog"; }
  sleep 0.5
  # Without a window manager the keyboard stays where it was: click into "File Name" (left of
  # OK, second row from the bottom), select its text with a triple click and type over it.
  eval "$(xdotool getwindowgeometry --shell "$chooser")"
  xdotool mousemove $(( X + WIDTH / 2 )) $(( Y + HEIGHT - 40 )) click --repeat 3 --delay 80 1
  sleep 0.3
  xdotool type --delay 20 "Z:${2//\//\\}"
  xdotool key Return
  for _ in $(seq 30); do [ -s "$2" ] && return 0; sleep 0.2; done
  shot no-saved-log
  fail "the log was not saved to $2"
}

start_quarn() {  # start_quarn log-name
  (cd "$run_dir" && exec wine "$exe") >"$out/$1.out" 2>&1 &
  quarn_pid=$!
  pids+=("$quarn_pid")
}


# quarn-sim on a new pseudo-terminal that Wine maps as COMn; its pid in $sim_pid, the PTY in $sim_tty.
start_sim() {  # start_sim COMn name quarn-sim-options...
  local com=$1 name=$2
  shift 2
  "$sim" --link "$work/tty-$name" --exit-after 120 "$@" >"$out/sim-$name.out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 50); do [ -L "$work/tty-$name" ] && break; sleep 0.1; done
  [ -L "$work/tty-$name" ] || fail "quarn-sim ($name) made no link"
  sim_tty=$(readlink -f "$work/tty-$name")
  map_port "$com" "$sim_tty"
}

# quarn.exe told through QUARN_VIRTUAL_PORTS that the stick is on COMn (Wine's SetupAPI knows no
# USB identity); "Wireless connection" is chosen already, so the connection dialog gets OK.
start_stick_quarn() {  # start_stick_quarn COMn name description
  QUARN_VIRTUAL_PORTS="$1|USB\VID_10C4&PID_0003\ZJ000042|$3" start_quarn "$2"
  choice=$(wait_window "Select wired or wireless operation." 60) || { shot "no-dialog-$2"; fail "no connection dialog"; }
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$choice")"
  click_in "$choice" $(( WIDTH / 2 )) $(( HEIGHT - 26 ))
}

stop_quarn() {
  kill "$quarn_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wait "$quarn_pid" 2>/dev/null || true
}

# --- Wired: quarn-sim on a pseudo-terminal mapped as COM5.
say "wired run"
start_sim COM5 wired --role wired --transcript "$out/wired-transcript.txt"
sim_wired=$sim_pid

start_quarn wired
choice=$(wait_window "Select wired or wireless operation." 60) || { shot no-dialog; fail "no connection dialog"; }
sleep 1
shot 1-connection-dialog
say "connection dialog $choice"
# "Wired connection" is the second radio button; OK sits centred at the bottom.
click_in "$choice" 30 63
eval "$(xdotool getwindowgeometry --shell "$choice")"
click_in "$choice" $(( WIDTH / 2 )) $(( HEIGHT - 26 ))
ports=$(wait_window "Select wired parameters." 20) || { shot no-port-dialog; fail "no port dialog"; }
sleep 0.5
# The list holds the ports of the registry's SERIALCOMM list in byte order: open it, step down
# to COM5 and take it, which also accepts the dialog.
steps=$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' |
  grep -o 'COM[0-9]*$' | LC_ALL=C sort -u | grep -n '^COM5$' | cut -d: -f1)
[ -n "$steps" ] || fail "COM5 is not in the registry's SERIALCOMM list"
choose_port "$ports" "$steps"
sleep 3
shot 2-wired-run
grep -q . "$out/wired-transcript.txt" 2>/dev/null || fail "quarn-sim received no request"
say "quarn-sim received: $(head -n 1 "$out/wired-transcript.txt")"

# The port vanishing: quarn-sim ends and its pseudo-terminal with it. The log, saved through
# File -> Save log... (Wine sees the Linux root as Z:), must hold the request, the answer and
# the loss.
kill "$sim_wired"
sleep 2
shot 3-wired-port-gone
main=$(wait_window "Quarn v[0-9.]*" 5) || fail "no main window"
save_log "$main" "$out/wired-log.txt"
for line in ">>> REQ_UD2" "<<< Answer" "Connection lost: COM5" "$key_warning"; do
  grep -qF "$line" "$out/wired-log.txt" || fail "the saved log has no \"$line\""
done
say "the log holds the request, the answer and \"$(grep -o 'Connection lost: COM5[^.]*' "$out/wired-log.txt" | head -n 1)\""
# The key files: the one others can read is warned about on standard output and in the log, the
# private ones are not.
grep -qF "$key_warning" "$out/wired.out" || fail "no warning about dongleKeys on standard output (see wired.out)"
if grep -E "Warning: (meterKeys|Quarnconfig.txt) is" "$out/wired.out" "$out/wired-log.txt"; then
  fail "a private key file was warned about"
fi
say "warned: $key_warning"
stop_quarn

# --- Wireless: a simulated stick on a pseudo-terminal mapped as COM6, named as the stick through
# QUARN_VIRTUAL_PORTS (Wine's SetupAPI knows no USB identity for it).
say "wireless run"
start_sim COM6 dongle --role dongle --transcript "$out/dongle-transcript.txt"
start_stick_quarn COM6 wireless "Wireless M-Bus stick (simulated)"
sleep 4
shot 4-wireless-run
grep -q "Silabs CDC found." "$out/wireless.out" || fail "the stick was not found (see wireless.out)"
grep -q . "$out/dongle-transcript.txt" 2>/dev/null || fail "the simulated stick received no frame"
say "stick found; it received: $(head -n 1 "$out/dongle-transcript.txt")"
stop_quarn

# --- The stick pulled out and plugged back (COM8). Mapped and unmapped while quarn.exe runs, as a
# USB adapter's driver does: Wine's dosdevices link and the registry's SERIALCOMM entry, then the
# device change broadcast as Windows sends it (Wine has no Plug and Play serial drivers to).
say "stick unplugged and plugged back"
[ -f "$post_change" ] || fail "no $post_change (scripts/build-windows.sh --tests builds it)"
plug_stick() {  # plug_stick name: a fresh simulated stick behind COM8
  "$sim" --link "$work/tty-$1" --exit-after 120 --role dongle --transcript "$out/$1-transcript.txt" \
    >"$out/sim-$1.out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 50); do [ -L "$work/tty-$1" ] && break; sleep 0.1; done
  [ -L "$work/tty-$1" ] || fail "quarn-sim ($1) made no link"
  ln -sfn "$(readlink -f "$work/tty-$1")" "$WINEPREFIX/dosdevices/com8"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\QuarnStick' /d COM8 /f >/dev/null 2>&1
  wine "$post_change" || fail "the device change was not broadcast"
}
unplug_stick() {
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com8"
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\QuarnStick' /f >/dev/null 2>&1
  wine "$post_change" || fail "the device change was not broadcast"
}
wait_line() {  # wait_line file text seconds
  for _ in $(seq $(( $3 * 5 ))); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.2; done
  return 1
}
plug_stick stick-first
start_stick_quarn COM8 replug "Wireless M-Bus stick (simulated)"
wait_line "$out/replug.out" "Silabs CDC found." 20 || fail "the stick on COM8 was not found (see replug.out)"
sleep 2
grep -q . "$out/stick-first-transcript.txt" 2>/dev/null || fail "the stick on COM8 received no frame"
unplug_stick
wait_line "$out/replug.out" "Port COM8 removed." 10 || fail "quarn.exe heard of no port removed (see replug.out)"
say "unplugged: \"Port COM8 removed.\""
plug_stick stick-back
wait_line "$out/replug.out" "Port COM8 arrived." 10 || fail "quarn.exe heard of no port arriving (see replug.out)"
for _ in $(seq 25); do grep -q . "$out/stick-back-transcript.txt" 2>/dev/null && break; sleep 0.2; done
grep -q . "$out/stick-back-transcript.txt" 2>/dev/null || fail "the stick plugged back received no frame"
shot 5-stick-back
main=$(wait_window "Quarn v[0-9.]*" 5) || fail "no main window after the stick came back"
save_log "$main" "$out/replug-log.txt"
for line in "Connection lost: COM8" "Stick ZJ000042 is back on COM8."; do
  grep -qF "$line" "$out/replug-log.txt" || fail "the saved log has no \"$line\" (see replug-log.txt)"
done
say "plugged back: \"Port COM8 arrived.\", the log says \"Stick ZJ000042 is back on COM8.\", the stick was started again"
stop_quarn

# --- A stick that floods garbage at full speed (COM7): the window must keep answering. The About
# box (ctrl-a) has to come up within 5 s while the flood goes on.
say "flooding stick"
start_sim COM7 flood --role dongle --flood
start_stick_quarn COM7 flood "Wireless M-Bus stick (flooding)"
sleep 3
main=$(wait_window "Quarn v[0-9.]*" 5) || fail "no main window under the flood"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus "$main"
asked=$(date +%s%N)
xdotool key ctrl+a
wait_window "About Quarn" 5 >/dev/null || { shot no-about-under-flood; fail "the window did not answer ctrl-a within 5 s under the flood"; }
say "About box $(( ($(date +%s%N) - asked) / 1000000 )) ms after ctrl-a, under the flood"
shot 6-about-under-flood
kill -0 "$quarn_pid" 2>/dev/null || fail "quarn.exe ended under the flood"
grep -q "^Dongle frame .* dropped" "$out/flood.out" || fail "no flood reached quarn.exe (see flood.out)"
stop_quarn

# --- quarn-cli.exe: a fresh wired quarn-sim on the pseudo-terminal mapped as COM5.
say "quarn-cli.exe"
[ -f "$cli" ] || fail "no quarn-cli.exe at $cli"
start_sim COM5 cli --role wired --transcript "$out/cli-transcript.txt"
cli_tty=$sim_tty
cp "$repo/tests/data/settings/good.json" "$run_dir/"
sim_key=000102030405060708090A0B0C0D0E0F
run_cli() {  # run_cli name args...: output in $out/cli-name.out and .err, exit code in $code
  local name=$1
  shift
  code=0
  # A pseudo-terminal drops even parity, and glibc's tcsetattr fails (EINVAL) when nothing else
  # changed, as after an earlier run under Wine: one flag set back makes the next open change it.
  stty -F "$cli_tty" -ignbrk 2>/dev/null || true
  (cd "$run_dir" && exec wine "$cli" --home . "$@") >"$out/cli-$name.out" 2>"$out/cli-$name.err" || code=$?
  tr -d '\r' <"$out/cli-$name.out" >"$out/cli-$name.txt"
  say "quarn-cli $*: exit $code; $(head -n 1 "$out/cli-$name.txt")$(head -n 1 "$out/cli-$name.err")"
}
run_cli apply --port COM5 --key $sim_key apply good.json
[ "$code" = 0 ] || fail "quarn-cli apply exited $code (see cli-apply.err)"
[ "$(cat "$out/cli-apply.txt")" = "written and read back: slot 1, slot 2, slot 3, slot 4, option bits" ] ||
  fail "quarn-cli apply printed something else (see cli-apply.out)"
run_cli export --port COM5 --key $sim_key export back.json
[ "$code" = 0 ] || fail "quarn-cli export exited $code (see cli-export.err)"
cmp -s "$run_dir/back.json" "$repo/tests/data/settings/good.json" ||
  { cp "$run_dir/back.json" "$out/" 2>/dev/null || true; fail "the exported file differs from good.json"; }
say "exported file equals what was applied"
# Key files others can read: a warning on standard error for dongleKeys, and a --key-file that
# Everyone may read is refused before anything is sent; the user's own key is taken.
grep -qF 'Warning: ./dongleKeys is readable by other users; run icacls "./dongleKeys"' <(tr -d '\r' <"$out/cli-apply.err") ||
  fail "quarn-cli did not warn about dongleKeys (see cli-apply.err)"
printf '%s\n' $sim_key >"$run_dir/open.key"
printf '%s\n' $sim_key >"$run_dir/own.key"
chmod 644 "$run_dir/open.key"
chmod 600 "$run_dir/own.key"
run_cli keyopen --port COM5 --key-file open.key identify
[ "$code" = 2 ] || fail "quarn-cli took a key file others can read (exit $code)"
grep -qF 'other accounts can read it (icacls "open.key" /inheritance:r /grant:r "%USERNAME%":F)' \
  <(tr -d '\r' <"$out/cli-keyopen.err") || fail "quarn-cli gave another reason (see cli-keyopen.err)"
run_cli keyown --port COM5 --key-file own.key export own.json
[ "$code" = 0 ] || fail "quarn-cli refused the user's own key file (exit $code, see cli-keyown.err)"
say "--key-file: refused when others can read it, taken when private"
# A COM port that is not there: exit code 3 and the message, before anything is sent.
wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' | grep -q 'COM99$' &&
  fail "COM99 exists in this prefix; the failure case needs a port that does not"
run_cli missing --port COM99 --key $sim_key identify
[ "$code" = 3 ] || fail "quarn-cli on COM99 exited $code, not 3"
grep -qx "quarn-cli: port COM99 not found (quarn-cli ports lists them)" <(tr -d '\r' <"$out/cli-missing.err") ||
  fail "quarn-cli on COM99 gave another message (see cli-missing.err)"

# A two-converter site plan over the air: a simulated stick on COM6 with two converters behind
# it, named as the stick through QUARN_VIRTUAL_PORTS (Wine's SetupAPI knows no USB identity).
printf 'A0000001 %s\nA0000002 %s\n' $sim_key $sim_key >"$work/site.txt"
printf 'converter,slot1\nA0000001,87654321\nA0000002,12345678\n' >"$run_dir/plan.csv"
start_sim COM6 site --role dongle --converters "$work/site.txt" --transcript "$out/site-transcript.txt"
QUARN_VIRTUAL_PORTS='COM6|USB\VID_10C4&PID_0003\ZJ000042|Wireless M-Bus stick (simulated)' \
  run_cli site --key $sim_key --template good.json --report site-report.json site apply plan.csv
[ "$code" = 0 ] || fail "quarn-cli site apply exited $code (see cli-site.err)"
[ "$(grep -c ' done, verified$' <(tr -d '\r' <"$out/cli-site.err"))" = 2 ] ||
  fail "quarn-cli site apply did not report two converters done (see cli-site.err)"
for id in A0000001 A0000002; do
  [ "$(grep -c "converter $id: .*Set Data" "$out/site-transcript.txt")" = 4 ] ||
    fail "converter $id did not get its four slots (see site-transcript.txt)"
done
say "site apply: two converters over the air done and verified, four slots each in the transcript"

say "screenshots and output in $out"
