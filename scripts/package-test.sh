#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root (dpkg-deb -x: no root needed, the
# machine's own files stay untouched) and tries what was unpacked as a user would: the
# launcher makes the working folder, quarn's window appears on a private Xvfb next to the
# installed quarn-sim, and the udev rule, desktop entry and manual pages are checked.
#
# usage: scripts/package-test.sh [build-dir]   (default build/release; configured if needed)
set -uo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/release}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
die() { echo "FAIL: $*"; exit 1; }

for tool in cmake cpack dpkg-deb Xvfb xdotool man readelf; do
  command -v "$tool" >/dev/null || die "$tool is needed"
done

tmp=$(mktemp -d /tmp/quarn-pkg-XXXXXX) || die "no temporary folder"
chmod 755 "$tmp"  # the read-only check runs the launcher as another user
xvfb_pid=
sim_pid=
app_pid=
cleanup() {
  for pid in $app_pid $sim_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

# --- build and pack
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || die "configure failed"
fi
# cpack alone, as the README has it: it builds what it packs, whatever was built before (the
# demo builds some of it). Into a folder of its own, so a package made by hand in the build
# folder is left alone.
cpack -V -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 ||
  { tail -40 "$tmp/cpack.log"; die "cpack failed"; }
build_line=$(grep 'CPack Verbose: Execute: .* --build .* --target ' "$tmp/cpack.log")
for prog in quarn quarn-sim quarn-cli; do
  check "cpack builds $prog before it packs" grep -qE -- "--target( [a-z-]+)* $prog( |\$)" <<<"$build_line"
done
debs=("$tmp"/cpack/quarn_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || die "cpack made no quarn_*.deb"
pass "package $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
check "package name quarn" test "$(field Package)" = quarn
check "version 1.3.0" test "$(field Version)" = 1.3.0
depends=$(field Depends)
for dep in libfox-1.6-0 libudev1 libssl3; do
  check "depends on $dep" grep -qw -- "$dep" <<<"$depends"
done
check "recommends xdg-utils" grep -qw xdg-utils <<<"$(field Recommends)"
check "maintainer at quarn.example.org" grep -q '@quarn.example.org>' <<<"$(field Maintainer)"

root=$tmp/root
dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x failed"
usr=$root/usr
for f in bin/quarn bin/quarn-sim bin/quarn-launcher; do
  check "$f executable" test -x "$usr/$f"
done
for f in share/quarn/help/index.html share/quarn/skel/Quarnconfig.txt \
  share/quarn/skel/dongleKeys/example.txt share/quarn/skel/meterKeys/example.txt \
  share/quarn/icons/quarn_big.gif share/quarn/icons/quarn_mini.gif \
  share/icons/hicolor/48x48/apps/quarn.png share/applications/quarn.desktop \
  share/man/man1/quarn.1.gz share/man/man1/quarn-sim.1.gz share/man/man1/quarn-launcher.1.gz \
  share/man/man1/quarn-cli.1.gz bin/quarn-cli \
  share/doc/quarn/changelog.gz share/doc/quarn/examples/site-plan.csv \
  lib/udev/rules.d/60-quarn-dongle.rules; do
  check "$f installed" test -f "$usr/$f"
done
check "48x48 icon is a 48x48 PNG" grep -q 'PNG image data, 48 x 48' <<<"$(file -b "$usr/share/icons/hicolor/48x48/apps/quarn.png" 2>/dev/null || echo none)"
# Hardened as the distribution builds its programs: full RELRO (a RELRO segment and immediate
# binding), position-independent, stack protector and fortified C library calls.
for prog in quarn quarn-sim; do
  bin=$usr/bin/$prog
  check "$prog: RELRO segment" grep -q GNU_RELRO <<<"$(readelf -lW "$bin" 2>&1)"
  check "$prog: immediate binding" grep -qE '\(BIND_NOW\)|\(FLAGS(_1)?\).* NOW' <<<"$(readelf -dW "$bin" 2>&1)"
  check "$prog: position-independent executable" grep -qE 'Type: +DYN' <<<"$(readelf -hW "$bin" 2>&1)"
  symbols=$(readelf --dyn-syms -W "$bin" 2>&1)
  check "$prog: stack protector" grep -q '__stack_chk_fail' <<<"$symbols"
  check "$prog: fortified C library calls" grep -qE '__[a-z0-9_]+_chk(@| |$)' <<<"$(grep -v __stack_chk <<<"$symbols")"
done
missing_libs=$(ldd "$usr/bin/quarn" "$usr/bin/quarn-sim" 2>&1 | grep 'not found')
check "installed programs find their libraries" test -z "$missing_libs"

# --- udev rule: the dongle's tty goes to dialout, 0660, raw without echo, and ModemManager keeps off it
rule=$(grep -v '^#' "$usr/lib/udev/rules.d/60-quarn-dongle.rules" | grep 'SUBSYSTEM=="tty"')
for part in 'ATTRS{idVendor}=="10c4"' 'ATTRS{idProduct}=="0003"' 'GROUP="dialout"' 'MODE="0660"' \
  'ENV{ID_MM_DEVICE_IGNORE}="1"' 'RUN+="/bin/stty -F /dev/%k raw -echo"'; do
  check "udev rule has $part" grep -qF -- "$part" <<<"$rule"
done

# --- desktop entry
desktop=$usr/share/applications/quarn.desktop
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1)
  check "desktop-file-validate quiet" test -z "$out"
  [ -z "$out" ] || echo "$out"
else
  echo "note: desktop-file-validate not installed (package desktop-file-utils), skipped"
fi
exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
check "desktop entry runs quarn-launcher" test "$exec_cmd" = quarn-launcher
check "desktop entry's command is installed" test -x "$usr/bin/$exec_cmd"
icon=$(sed -n 's/^Icon=//p' "$desktop")
check "desktop entry's icon is installed" test -f "$usr/share/icons/hicolor/48x48/apps/$icon.png"

# --- manual pages: they render, without warnings, and say what they must
for page in quarn quarn-sim quarn-launcher; do
  warnings=$(cd "$usr/share/man" && MANWIDTH=80 man --warnings -l "man1/$page.1.gz" 2>&1 >/dev/null)
  check "man $page renders without warnings" test -z "$warnings"
  [ -z "$warnings" ] || echo "$warnings"
done
quarn_man=$(MANWIDTH=200 man -l "$usr/share/man/man1/quarn.1.gz" 2>/dev/null)
for text in QUARN_VIRTUAL_PORTS Quarnconfig.txt dongleKeys meterKeys help/index.html -display \
  'standard output' 'EXIT STATUS' QUARN_HOME dialout; do
  check "quarn(1) mentions $text" grep -qF -- "$text" <<<"$quarn_man"
done
sim_man=$(MANWIDTH=200 man -l "$usr/share/man/man1/quarn-sim.1.gz" 2>/dev/null)
# Every flag quarn-sim knows is documented.
flags=$("$usr/bin/quarn-sim" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
check "quarn-sim --help lists flags" test -n "$flags"
for flag in $flags; do
  check "quarn-sim(1) documents $flag" grep -qF -- "$flag" <<<"$sim_man"
done
check "quarn-sim(1) documents --help" grep -qF -- "--help" <<<"$sim_man"
check "quarn-sim(1) has the transcript format" grep -q '^TRANSCRIPT' <<<"$sim_man"

# --- the launcher, without a display first
# Without DISPLAY the toolkit tries :0, which may be somebody else's X server; quarn is told
# to use a display that surely does not exist, so it ends at once with the toolkit's message.
free=9000
while [ -e "/tmp/.X11-unix/X$free" ] || [ -e "/tmp/.X$free-lock" ]; do free=$((free + 1)); done
launcher=$usr/bin/quarn-launcher
home=$tmp/home
mkdir -p "$home"
run_launcher() {  # run_launcher name [env assignments...]: stdout+stderr in $tmp/name.out
  local name=$1; shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QUARN_HOME -u XDG_DATA_HOME HOME="$home" "$@" \
    timeout 20 "$launcher" -display ":$free" >"$tmp/$name.out" 2>&1
  echo $? >"$tmp/$name.rc"
}
rc_of() { cat "$tmp/$1.rc"; }

work=$tmp/work1
run_launcher first QUARN_HOME="$work"
check "no display: launcher says so first" grep -q 'quarn-launcher: no display' "$tmp/first.out"
check "no display: quarn itself reports it" grep -q 'unable to open display' "$tmp/first.out"
check "no display: exit status 1" test "$(rc_of first)" = 1
check "first run: working folder made" test -d "$work"
check "first run: Quarnconfig.txt copied" cmp -s "$work/Quarnconfig.txt" "$usr/share/quarn/skel/Quarnconfig.txt"
for keys in dongleKeys meterKeys; do
  check "first run: $keys/example.txt present" test -s "$work/$keys/example.txt"
  check "first run: $keys example fully commented" test -z "$(grep -v '^#' "$work/$keys/example.txt")"
  check "first run: $keys example shows the format" \
    test "$(grep -c '' "$work/$keys/example.txt")" = "$(grep -c '' "$usr/share/quarn/skel/$keys/example.txt")"
done
# What the launcher makes holds keys: the user's alone.
mode_of() { stat -c %a -- "$1" 2>/dev/null; }
private_modes() {  # private_modes what folder: the folder, its key folders and files made
  local what=$1 dir=$2
  check "$what: working folder mode 700" test "$(mode_of "$dir")" = 700
  check "$what: Quarnconfig.txt mode 600" test "$(mode_of "$dir/Quarnconfig.txt")" = 600
  for keys in dongleKeys meterKeys; do
    check "$what: $keys mode 700" test "$(mode_of "$dir/$keys")" = 700
    check "$what: $keys/example.txt mode 600" test "$(mode_of "$dir/$keys/example.txt")" = 600
  done
}
private_modes "first run" "$work"
check "first run: help page reachable" test -f "$work/help/index.html"
check "first run: help is the installed page" cmp -s "$work/help/index.html" "$usr/share/quarn/help/index.html"
check "first run: no help warning" test -z "$(grep 'help page' "$tmp/first.out")"

# A second run replaces nothing of the user's.
echo "my line 1" >"$work/Quarnconfig.txt"
echo "mine;00000001;000102030405060708090A0B0C0D0E0F" >"$work/dongleKeys/example.txt"
rm "$work/meterKeys/example.txt"
chmod 640 "$work/Quarnconfig.txt"
chmod 750 "$work/dongleKeys"
run_launcher second QUARN_HOME="$work"
check "second run keeps Quarnconfig.txt" test "$(cat "$work/Quarnconfig.txt")" = "my line 1"
check "second run keeps the modes the user chose" \
  test "$(mode_of "$work/Quarnconfig.txt") $(mode_of "$work/dongleKeys")" = "640 750"
check "second run keeps key files" grep -q '^mine;' "$work/dongleKeys/example.txt"
check "second run brings back no deleted example" test ! -e "$work/meterKeys/example.txt"

# Default places: $XDG_DATA_HOME/quarn, else ~/.local/share/quarn; a relative XDG_DATA_HOME
# does not count.
# A umask that lets everybody in changes nothing of that.
(umask 000 && run_launcher xdg XDG_DATA_HOME="$tmp/xdg")
check "XDG_DATA_HOME/quarn used" test -f "$tmp/xdg/quarn/Quarnconfig.txt"
private_modes "umask 000" "$tmp/xdg/quarn"
(cd "$tmp" && run_launcher relxdg XDG_DATA_HOME=relative)
check "relative XDG_DATA_HOME ignored" test ! -e "$tmp/relative"
check "HOME/.local/share/quarn used by default" test -f "$home/.local/share/quarn/Quarnconfig.txt"

# A help folder of the user's own without the page: a warning, and quarn still starts.
mkdir -p "$tmp/work2/help"
run_launcher nohelp QUARN_HOME="$tmp/work2"
check "missing help page warned" grep -q 'help page .*missing' "$tmp/nohelp.out"
check "missing help page: quarn started anyway" grep -q 'unable to open display' "$tmp/nohelp.out"

# A working folder that cannot be made: message, exit 1, quarn not started.
touch "$tmp/afile"
run_launcher uncreatable QUARN_HOME="$tmp/afile/sub"
check "uncreatable folder: exit 1" test "$(rc_of uncreatable)" = 1
check "uncreatable folder: message" grep -q 'cannot create the working folder' "$tmp/uncreatable.out"
check "uncreatable folder: quarn not started" test -z "$(grep 'unable to open display' "$tmp/uncreatable.out")"

# A read-only working folder (root writes anywhere, so root tries it as nobody).
mkdir -p "$tmp/readonly"
chmod 555 "$tmp/readonly"
as_user=()
if [ "$(id -u)" = 0 ]; then
  if command -v setpriv >/dev/null; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else
    as_user=(skip)
  fi
fi
if [ "${as_user[0]:-}" = skip ]; then
  echo "note: running as root without setpriv: read-only folder check skipped"
else
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" QUARN_HOME="$tmp/readonly" \
    "${as_user[@]}" timeout 20 "$launcher" -display ":$free" >"$tmp/readonly.out" 2>&1
  rc=$?
  check "read-only folder: exit 1" test "$rc" = 1
  check "read-only folder: message" grep -q 'is read-only' "$tmp/readonly.out"
  check "read-only folder: nothing written" test -z "$(ls -A "$tmp/readonly")"
fi

# Someone outside the group dialout is told so, and quarn still starts.
if [ "$(id -u)" = 0 ] && [ "${as_user[0]:-}" != skip ]; then
  mkdir -p "$tmp/nobody"
  chown 65534:65534 "$tmp/nobody"
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" QUARN_HOME="$tmp/nobody/work" \
    "${as_user[@]}" timeout 20 "$launcher" -display ":$free" >"$tmp/nodialout.out" 2>&1
  check "not in dialout: warned" grep -q 'not in the group dialout' "$tmp/nodialout.out"
  check "not in dialout: quarn started anyway" grep -q 'unable to open display' "$tmp/nodialout.out"
  check "not in dialout: working folder made" test -f "$tmp/nobody/work/Quarnconfig.txt"
fi

# --- on a private X server
# shellcheck source=scripts/private-x.sh
. "$src/scripts/private-x.sh"
start_private_x "$tmp/xvfb.log" 1600x1000x24 -noreset || die "Xvfb did not start"
xvfb_pid=$xPid

# The error dialog: with a display, an unusable folder is also told in a window.
if command -v xmessage >/dev/null; then
  env DISPLAY="$display" HOME="$home" QUARN_HOME="$tmp/afile/sub" timeout 20 "$launcher" \
    >"$tmp/dialog.out" 2>&1 &
  dialog_pid=$!
  box=$(DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible --name '^Quarn$' 2>/dev/null | head -1)
  check "error dialog shown" test -n "$box"
  [ -n "$box" ] && DISPLAY=$display xdotool key --window "$box" Return 2>/dev/null
  wait "$dialog_pid"
  rc=$?
  check "error dialog: exit 1 once closed" test "$rc" = 1
else
  echo "note: xmessage not installed (package x11-utils), error dialog check skipped"
fi

# quarn-sim as the wired converter, and quarn started by the installed launcher.
"$usr/bin/quarn-sim" --role wired --link "$tmp/sim/ttySIM0" --exit-after 60 >"$tmp/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  [ -s "$tmp/sim.out" ] && break
  sleep 0.1
done
ports=$(head -1 "$tmp/sim.out")
check "quarn-sim prints its port" test "$ports" = "$tmp/sim/ttySIM0"

work=$tmp/work3
# A key folder of the user's own that others can read: quarn warns about it at start.
mkdir -p "$work/dongleKeys"
chmod 755 "$work/dongleKeys"
echo "# mine" >"$work/dongleKeys/example.txt"
env -u WAYLAND_DISPLAY DISPLAY="$display" HOME="$home" QUARN_HOME="$work" \
  QUARN_VIRTUAL_PORTS="$ports" "$launcher" >"$tmp/gui.out" 2>"$tmp/gui.err" &
app_pid=$!
window=$(DISPLAY=$display timeout 15 xdotool search --sync --onlyvisible --name '^Quarn v1\.3\.0$' 2>/dev/null | head -1)
check "main window Quarn v1.3.0 appears" test -n "$window"
check "launcher silent when all is in place" test -z "$(grep quarn-launcher "$tmp/gui.err")"
check "GUI run: working folder made" test -f "$work/Quarnconfig.txt"
check "GUI run: quarn runs in the working folder" \
  test "$(readlink -f "/proc/$app_pid/cwd" 2>/dev/null)" = "$(readlink -f "$work")"

# Close it as a user would: any dialog in front is dismissed with Escape (the connection
# choice, the dongle notice and the port dialog all take it), then Ctrl+Q on the main window.
ended=0
for _ in $(seq 40); do
  if ! kill -0 "$app_pid" 2>/dev/null; then ended=1; break; fi
  for w in $(DISPLAY=$display xdotool search --onlyvisible --name '.' 2>/dev/null); do
    [ "$w" = "$window" ] && continue
    name=$(DISPLAY=$display xdotool getwindowname "$w" 2>/dev/null)
    echo "      dismissing \"$name\""
    echo "$name" >>"$tmp/dialogs"
    DISPLAY=$display xdotool windowfocus --sync "$w" key Escape 2>/dev/null
  done
  if [ -n "$window" ]; then
    DISPLAY=$display xdotool windowfocus --sync "$window" key ctrl+q 2>/dev/null
  fi
  sleep 0.25
done
if [ "$ended" = 1 ]; then
  wait "$app_pid"
  rc=$?
  app_pid=
  check "quarn ends with status 0" test "$rc" = 0
else
  fail "quarn did not end on Escape and Ctrl+Q"
fi
# Closing the connection choice keeps its default, wireless: the dongle search runs, and its
# trace must reach standard output through the launcher.
if grep -qx 'Select wired or wireless operation.' "$tmp/dialogs" 2>/dev/null; then
  check "trace output of the dongle search on stdout" grep -q '^PORTS class GUID found.' "$tmp/gui.out"
fi
check "quarn warns about the key folder others can read" grep -qxF \
  'Warning: dongleKeys is readable by other users; run chmod 700 dongleKeys.' "$tmp/gui.out"
check "quarn warns about nothing the launcher made" \
  test -z "$(grep -E '^Warning: (meterKeys|Quarnconfig.txt)' "$tmp/gui.out")"
check "quarn wrote nothing into the working folder" \
  test "$(cd "$work" && find . -mindepth 1 | sort | tr '\n' ' ')" = \
  "./Quarnconfig.txt ./dongleKeys ./dongleKeys/example.txt ./help ./meterKeys ./meterKeys/example.txt "

if [ "$failures" -ne 0 ]; then
  echo "--- quarn stdout"; cat "$tmp/gui.out"
  echo "--- quarn stderr"; cat "$tmp/gui.err"
  echo "$failures check(s) failed"
  exit 1
fi
echo "all package checks passed"
