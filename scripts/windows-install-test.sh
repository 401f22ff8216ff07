#!/bin/bash
# The Windows installer's round trip under Wine, in a fresh prefix of its own: a silent install,
# the files, the Start-menu shortcut and the uninstaller in place; the installed quarn.exe
# started from the shortcut in Documents\Quarn finds a simulated stick (quarn-sim on a
# pseudo-terminal mapped as COM6); then a silent uninstall, after which only the user's own
# working folder is left.
#
#   scripts/windows-install-test.sh [output folder]
#   QUARN_WIN_SETUP=...  the installer (default: the newest build/windows/quarn-*-setup.exe)
#   QUARN_SIM=...        the Linux simulator (default: build/linux, then build/release)
#
# Exits 77 (skipped) when there is no installer, Wine, Xvfb or simulator.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
setup=${QUARN_WIN_SETUP:-$(find "$repo/build/windows" -maxdepth 1 -name 'quarn-*-setup.exe' 2>/dev/null | sort | tail -n 1)}
sim=${QUARN_SIM:-}
if [ -z "$sim" ]; then
  for candidate in "$repo/build/linux/sim/quarn-sim" "$repo/build/release/sim/quarn-sim"; do
    [ -x "$candidate" ] && { sim=$candidate; break; }
  done
fi
skip() { echo "SKIP: $*"; exit 77; }
[ -n "$setup" ] && [ -f "$setup" ] || skip "no installer in build/windows (scripts/build-windows.sh makes it)"
if [ -z "$sim" ] || [ ! -x "$sim" ]; then skip "no quarn-sim (build the Linux tree first)"; fi
for tool in wine wineserver Xvfb xdotool; do
  command -v $tool >/dev/null 2>&1 || skip "$tool is not installed"
done

out=${1:-$(mktemp -d "${TMPDIR:-/tmp}/quarn-install.XXXXXX")}
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/*.out "$out"/*.txt
work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-install-run.XXXXXX")
# A home of its own: Wine links the prefix's Documents to $HOME, which the installer fills.
export HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$HOME"
unset QUARN_VIRTUAL_PORTS
pids=()
# shellcheck source=scripts/wine-lib.sh
. "$repo/scripts/wine-lib.sh"
cleanup() { KEEP="" wine_cleanup "$work"; }
trap cleanup EXIT


say "a fresh prefix"
wine_session "$repo" || fail "no X server came up"
drive_c=$WINEPREFIX/drive_c
program=$drive_c/Program\ Files/Quarn
# The profile Wine made for this account (named after it), beside Public.
profile=$(find "$drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
[ -n "$profile" ] || fail "the prefix has no user profile"
documents=$(readlink -f "$profile/Documents")
start_menu=$profile/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn'
# Files the user had before: the uninstaller must leave them.
mkdir -p "$documents"
echo "the user's own" >"$documents/notes.txt"
before=$(cd "$drive_c" && find . -path ./windows -prune -o -print | LC_ALL=C sort)

say "installing $(basename "$setup") silently"
wine "$setup" /S >"$out/install.out" 2>&1 || fail "the installer exited $? (see install.out)"
wineserver -w
for file in quarn.exe quarn-cli.exe uninstall.exe help/index.html examples/Quarnconfig.txt; do
  [ -f "$program/$file" ] || fail "Program Files\\Quarn\\$file is missing after the install"
done
[ -n "$(ls "$program/examples/dongleKeys")" ] || fail "no example keys under Program Files\\Quarn\\examples"
for file in Quarnconfig.txt dongleKeys meterKeys help/index.html; do
  [ -e "$documents/Quarn/$file" ] || fail "Documents\\Quarn\\$file is missing after the install"
done
[ -f "$start_menu/Quarn.lnk" ] || fail "no Start-menu shortcut"
wine reg query "$uninstall_key" /v UninstallString 2>/dev/null | tr -d '\r' | grep -qF 'C:\Program Files\Quarn\uninstall.exe' ||
  fail "the uninstaller is not registered"
say "installed: Program Files\\Quarn, Documents\\Quarn, the Start-menu shortcut, the uninstaller registered"

say "the installed quarn.exe from its shortcut, against a simulated stick on COM6"
"$sim" --link "$work/tty-stick" --exit-after 120 --role dongle --transcript "$out/stick-transcript.txt" \
  >"$out/sim.out" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do [ -L "$work/tty-stick" ] && break; sleep 0.1; done
[ -L "$work/tty-stick" ] || fail "quarn-sim made no link"
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$(readlink -f "$work/tty-stick")" /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w
# start.exe opens the shortcut as the Start menu does: its target in its working folder.
QUARN_VIRTUAL_PORTS='COM6|USB\VID_10C4&PID_0003\ZJ000042|Wireless M-Bus stick (simulated)' \
  wine start /wait /unix "$start_menu/Quarn.lnk" >"$out/start.out" 2>&1 &
pids+=("$!")
choice=$(wait_window "Select wired or wireless operation." 60) ||
  fail "the installed quarn.exe showed no connection dialog (see start.out)"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$choice")"
click_in "$choice" $(( WIDTH / 2 )) $(( HEIGHT - 26 ))  # OK: wireless is chosen
for _ in $(seq 50); do grep -q . "$out/stick-transcript.txt" 2>/dev/null && break; sleep 0.2; done
# Started through start.exe its standard output is not ours: the stick's start frame tells.
grep -q "start" "$out/stick-transcript.txt" 2>/dev/null ||
  fail "the installed quarn.exe did not start the stick (see stick-transcript.txt)"
say "it found the stick; the stick received: $(head -n 1 "$out/stick-transcript.txt")"
wineserver -k >/dev/null 2>&1 || true
wineserver -w 2>/dev/null

say "uninstalling silently"
wine "$program/uninstall.exe" /S >"$out/uninstall.out" 2>&1 || fail "the uninstaller exited $? (see uninstall.out)"
wineserver -w  # the uninstaller runs on from a copy of itself
[ ! -e "$program" ] || fail "Program Files\\Quarn is still there: $(cd "$program" && find . | head -n 5 | tr '\n' ' ')"
[ ! -e "$start_menu/Quarn.lnk" ] || fail "the Start-menu shortcut is still there"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstaller's registry entry is still there"
[ -f "$documents/Quarn/Quarnconfig.txt" ] && [ -d "$documents/Quarn/dongleKeys" ] ||
  fail "the user's working folder Documents\\Quarn did not stay"
[ "$(cat "$documents/notes.txt")" = "the user's own" ] || fail "the user's own file changed"
# Everything else is as before the install, but for the working folder and what Wine keeps.
after=$(cd "$drive_c" && find . -path ./windows -prune -o -print | LC_ALL=C sort)
left=$(LC_ALL=C comm -13 <(echo "$before") <(echo "$after") |
  grep -v -e '/Temp' -e '/AppData/Local/' -e '/AppData/Roaming/Microsoft/Windows/Recent' || true)
[ -z "$left" ] || fail "left behind by the round trip: $(echo "$left" | head -n 5 | tr '\n' ' ')"
say "uninstalled: Program Files\\Quarn, the shortcut and the registry entry gone; Documents\\Quarn and the user's files kept"
