#!/usr/bin/env bash
# Quarn against real kernel drivers: a QEMU guest (TCG) boots Debian's own kernel package with the
# host's root read-only over virtio-9p. In the guest the stick is a USB gadget (dummy_hcd, configfs
# ACM function) bound by cdc_acm as /dev/ttyACM0 and played by quarn-sim on /dev/ttyGS0; the wired
# converter is quarn-sim on the host behind QEMU's FTDI adapter (ftdi_sio, /dev/ttyUSB0); udev runs
# with the package's rule. Each check prints one line; the last line is "N passed, M failed".
#   scripts/vm-test.sh [BUILD_DIR]   (default build/release; root, to install what is missing)
# QUARN_VM_CHECKS="name ..." runs only those checks (while working on one; names as in guest_main).
# The kernel package is fetched with apt and kept in ${QUARN_VM_CACHE:-~/.cache/quarn-vm}.
set -euo pipefail

key=000102030405060708090A0B0C0D0E0F
stick_serial=ZJ000042
gadget=/sys/kernel/config/usb_gadget/quarn
dialout_user=quarn-vm-dialout
other_user=quarn-vm-other
# Another installation may hold apt's lock for a while.
wait_lock=(-o DPkg::Lock::Timeout=600)

# ---------------------------------------------------------------- host: building the rig

rig_fail() {
  echo "vm-test: cannot build the rig: $*" >&2
  echo "0 passed, 1 failed"
  exit 2
}

install_vm_packages() {
  local packages=(qemu-system-x86 busybox-static udev kmod util-linux passwd coreutils xvfb xdotool)
  local missing=() p
  for p in "${packages[@]}"; do
    # Unpacked and configured; a trigger still pending (another install under way) does not matter.
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -Eq 'ok (installed|triggers-)' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || rig_fail "missing packages (${missing[*]}); run as root to install them"
  echo "vm-test: installing ${missing[*]}"
  apt-get "${wait_lock[@]}" update -q >/dev/null || rig_fail "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}" >/dev/null ||
    rig_fail "apt-get install ${missing[*]} failed"
}

# Unpacks the kernel package that linux-image-amd64 points at today, once, with its module index.
fetch_kernel() {
  kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$kpkg" ] || rig_fail "apt-cache depends linux-image-amd64 names no kernel package"
  kver=${kpkg#linux-image-}
  kdir=$cache/$kpkg
  [ -f "$kdir/.unpacked" ] && return 0
  echo "vm-test: fetching $kpkg into $cache"
  rm -rf "$kdir" "$cache/download"
  mkdir -p "$cache/download"
  (cd "$cache/download" && apt-get "${wait_lock[@]}" download "$kpkg" >/dev/null 2>&1) || rig_fail "apt-get download $kpkg failed"
  dpkg-deb -x "$cache"/download/"$kpkg"_*.deb "$kdir" || rig_fail "dpkg-deb -x failed"
  depmod -b "$kdir" "$kver" || rig_fail "depmod failed"
  rm -rf "$cache/download"
  touch "$kdir/.unpacked"
}

# A busybox initramfs that loads virtio, 9p and overlay (in modprobe's dependency order), mounts
# the host's root read-only under a tmpfs overlay and hands over to this script's guest half.
build_initramfs() {
  local dir=$run/initramfs m line
  rm -rf "$dir"
  mkdir -p "$dir/bin" "$dir/m"
  cp /bin/busybox "$dir/bin/busybox"
  : >"$dir/modules.list"
  for m in virtio_pci 9pnet_virtio 9p overlay; do
    while read -r line; do
      case $line in insmod\ *) line=${line#insmod }; line=${line%% *} ;; *) continue ;; esac
      grep -qx "$(basename "$line")" "$dir/modules.list" && continue
      cp "$line" "$dir/m/" && basename "$line" >>"$dir/modules.list"
    done < <(modprobe --show-depends -d "$kdir" -S "$kver" "$m")
  done
  cat >"$dir/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev
for m in $(cat /modules.list); do insmod /m/$m || echo "initramfs: insmod $m failed"; done
mkdir -p /lower /rw /newroot
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /lower || exec sh
mount -t tmpfs -o mode=0755 rw /rw && mkdir /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /newroot || exec sh
mkdir -p /newroot/vmout
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /newroot/vmout || exec sh
umount /proc /sys /dev
exec switch_root /newroot /bin/bash "$quarn_repo/scripts/vm-test.sh" --guest
EOF
  chmod 755 "$dir/init"
  (cd "$dir" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$run/initramfs.gz" || rig_fail "cpio failed"
}

host_main() {
  repo=$(cd "$(dirname "$0")/.." && pwd)
  build=$(cd "${1:-$repo/build/release}" 2>/dev/null && pwd) || rig_fail "no build folder ${1:-build/release}"
  local b
  for b in cli/quarn-cli sim/quarn-sim app/quarn; do
    [ -x "$build/$b" ] || rig_fail "$build/$b is not built"
  done
  cache=${QUARN_VM_CACHE:-${HOME:-/tmp}/.cache/quarn-vm}
  run=$build/vm
  mkdir -p "$cache"
  rm -rf "$run"
  mkdir -p "$run/out"
  chmod 0777 "$run/out"
  local checks c
  checks=$(echo "${QUARN_VM_CHECKS:-}" | tr -s ' ,' ',' | sed 's/^,//; s/,$//')
  for c in ${checks//,/ }; do
    declare -F "check_$c" >/dev/null || rig_fail "QUARN_VM_CHECKS names no check $c"
  done
  local started=$SECONDS
  install_vm_packages
  fetch_kernel
  build_initramfs
  echo "vm-test: rig ready ($kpkg) after $((SECONDS - started)) s"

  # The wired converter on the host; QEMU's FTDI adapter carries its PTY into the guest.
  mkdir -p "$run/sim" && chmod 700 "$run/sim"
  "$build/sim/quarn-sim" --role wired --link "$run/sim/ttyWIRED" --transcript "$run/out/wired-transcript.txt" \
    >"$run/sim/wired.out" 2>&1 &
  local sim_pid=$!
  for _ in $(seq 50); do [ -e "$run/sim/ttyWIRED" ] && break; sleep 0.1; done
  [ -e "$run/sim/ttyWIRED" ] || rig_fail "quarn-sim (wired) did not start: $(cat "$run/sim/wired.out")"

  local status=0
  timeout "${QUARN_VM_TIMEOUT:-420}" qemu-system-x86_64 -machine pc,accel=tcg -cpu max -smp 2 -m 1536 \
    -nographic -no-reboot -kernel "$kdir/boot/vmlinuz-$kver" -initrd "$run/initramfs.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 quarn_repo=$repo quarn_build=$build quarn_kdir=$kdir${checks:+ quarn_checks=$checks}" \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev local,id=results,path="$run/out",security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=results,mount_tag=results \
    -chardev serial,id=wired,path="$run/sim/ttyWIRED" \
    -device qemu-xhci,id=xhci -device usb-serial,bus=xhci.0,chardev=wired \
    </dev/null >"$run/console.log" 2>&1 || status=$?
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true

  local results=$run/out/results.txt
  [ -f "$results" ] && cat "$results"
  local passed failed
  passed=$(grep -c '^ok ' "$results" 2>/dev/null || true)
  failed=$(grep -c '^FAIL ' "$results" 2>/dev/null || true)
  if ! grep -q '^guest done' "$results" 2>/dev/null; then
    echo "FAIL guest did not finish (QEMU status $status); last console lines:"
    tail -n 30 "$run/console.log" | sed 's/^/  | /'
    failed=$((failed + 1))
  fi
  echo "vm-test: whole run $((SECONDS - started)) s; console in $run/console.log"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# ---------------------------------------------------------------- guest: setting the scene

say() { echo "$*" | tee -a /vmout/results.txt; }

# quarn_kdir, quarn_repo and quarn_build come from the kernel command line, as init's environment.
# shellcheck disable=SC2154
guest_setup() {
  mount -t proc proc /proc
  set -x
  mount -t sysfs sys /sys
  mount -t devtmpfs dev /dev
  # Linked by systemd on a normal boot; bash's process substitution needs /dev/fd.
  ln -sfn /proc/self/fd /dev/fd
  mkdir -p /dev/pts /dev/shm
  mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
  mount -t tmpfs tmpfs /run
  # /tmp stays the overlay's (writable, in memory): a tmpfs over it would hide a checkout or build
  # that lives below the host's /tmp.
  mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  local kver
  kver=$(uname -r)
  mkdir -p /usr/lib/modules
  ln -sfn "$quarn_kdir/lib/modules/$kver" "/usr/lib/modules/$kver"
  modprobe configfs && mount -t configfs configfs /sys/kernel/config
  # The rule as the package installs it.
  install -m 644 "$quarn_repo/packaging/60-quarn-dongle.rules" /usr/lib/udev/rules.d/60-quarn-dongle.rules
  /lib/systemd/systemd-udevd --daemon --resolve-names=early
  udevadm trigger --action=add >/dev/null 2>&1
  modprobe -a xhci_pci ftdi_sio cdc_acm libcomposite usb_f_acm
  # Two device controllers: the second plugs a second stick with the same serial.
  modprobe dummy_hcd num=2
  useradd -m -G dialout "$dialout_user"
  useradd -m "$other_user"
  # Unprivileged accounts must reach the binaries (only the overlay's copy of each folder changes).
  local d=$quarn_build
  while [ "$d" != / ]; do chmod o+x "$d"; d=$(dirname "$d"); done
  gadget_plug
  udevadm settle -t 30
  # The stick's far side: quarn-sim on the gadget's tty.
  "$quarn_build/sim/quarn-sim" --role dongle --device /dev/ttyGS0 --transcript /vmout/dongle-transcript.txt \
    >/tmp/dongle-sim.out 2>&1 &
  dongle_sim_pid=$!
  wait_for /dev/ttyUSB0 30
  set +x
}

gadget_plug() {
  if [ ! -d $gadget ]; then
    mkdir $gadget
    echo 0x10c4 >$gadget/idVendor
    echo 0x0003 >$gadget/idProduct
    mkdir $gadget/strings/0x409
    echo $stick_serial >$gadget/strings/0x409/serialnumber
    echo "Quarn test rig" >$gadget/strings/0x409/manufacturer
    echo "Wireless M-Bus stick" >$gadget/strings/0x409/product
    mkdir -p $gadget/configs/c.1 $gadget/functions/acm.usb0
    ln -s $gadget/functions/acm.usb0 $gadget/configs/c.1/
  fi
  udc_name >$gadget/UDC
  wait_for /dev/ttyACM0 30
}

gadget_unplug() { echo "" >$gadget/UDC; }

wait_for() {
  for _ in $(seq $(($2 * 10))); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# Waits until PATH is gone (the kernel has removed the device), at most SECONDS.
wait_gone() {
  for _ in $(seq $(($2 * 10))); do [ -e "$1" ] || return 0; sleep 0.1; done
  return 1
}

# Runs quarn-cli as USER (root when empty) in a working folder of that user; output in $out, $err.
cli_as() {
  local user=$1
  shift
  local home=/tmp/home-${user:-root}
  mkdir -p "$home"
  out=$home/out.txt err=$home/err.txt
  local as=()
  if [ -n "$user" ]; then
    chown "$user" "$home"
    as=(setpriv --reuid="$user" --regid="$user" --init-groups env HOME="$home")
  fi
  local status=0
  "${as[@]}" "$quarn_build/cli/quarn-cli" --home "$home" "$@" >"$out" 2>"$err" || status=$?
  echo "\$ ${user:-root}: quarn-cli $* -> $status"
  tail -n 8 "$out" "$err"
  return $status
}

# ---------------------------------------------------------------- guest: the checks

check_ports_lists_both() {
  cli_as "" ports || return 1
  # The stick's line, then its by-id link on the next line; that link leads to the device.
  local link
  link=$(grep -A1 "^ttyACM0  /dev/ttyACM0  10c4:0003  $stick_serial  Wireless M-Bus stick  \[wireless stick\]$" "$out" |
    sed -n 2p | tr -d ' ')
  echo "by-id link: $link"
  [[ $link == /dev/serial/by-id/usb-*_$stick_serial-if00 ]] && [ "$(readlink -f "$link")" = /dev/ttyACM0 ] &&
    grep -q "^ttyUSB0  /dev/ttyUSB0  0403:6001 " "$out"
}

check_udev_rule() {
  # Raw without echo from the start: a stick that talks before Quarn opens it gets nothing back.
  stty -F /dev/ttyACM0 -a | tee /tmp/acm0-stty.txt
  [ "$(stat -c '%G %a' /dev/ttyACM0)" = "dialout 660" ] &&
    grep -qw -- -echo /tmp/acm0-stty.txt && grep -qw -- -icanon /tmp/acm0-stty.txt &&
    udevadm info -q property -n /dev/ttyACM0 | grep -qx 'ID_MM_DEVICE_IGNORE=1'
}

check_wired_identify() {
  cli_as "" --port ttyUSB0 --key $key identify &&
    grep -q 'REQ_UD2.*accepted' /vmout/wired-transcript.txt
}

check_wired_get_set_secured() {
  cli_as "" --port ttyUSB0 --key $key set 2 --field wiredAddress=7 &&
    cli_as "" --port ttyUSB0 --key $key get 2 && grep -q 'wiredAddress *7$' "$out"
}

check_wired_get_set_plain() {
  cli_as "" --port ttyUSB0 --plain set 3 --field wiredAddress=9 &&
    cli_as "" --port ttyUSB0 --plain get 3 && grep -q 'wiredAddress *9$' "$out"
}

check_wired_line_2400_8E1() {
  local before
  before=$(grep -c REQ_UD2 /vmout/wired-transcript.txt)
  # Held for seconds: after REQ_UD2, a Get Data under a wrong key goes unanswered until the
  # time-out (the driver keeps its settings after a close, so a reading after it proves less).
  cli_as "" --port ttyUSB0 --key FF0102030405060708090A0B0C0D0E0F --timeout 4 get 1 &
  local cli=$! line='' held=0 status=0
  wait_transcript REQ_UD2 /vmout/wired-transcript.txt "$before" 20 &&
    kill -0 $cli && line=$(stty -a -F /dev/ttyUSB0) && kill -0 $cli && held=1
  echo "held: $held; $line"
  wait $cli || status=$?
  [ $status -eq 4 ] && [ $held -eq 1 ] || return 1
  echo "$line" | grep -q 'speed 2400 baud' && echo "$line" | grep -qw parenb &&
    echo "$line" | grep -qw -- -parodd && echo "$line" | grep -qw cs8 && echo "$line" | grep -qw -- -cstopb
}

check_wireless_get_set() {
  # The stick found as the window finds it: by its instance identifier, then its serial.
  cli_as "" --verbose --wireless --key $key set 2 --field wiredAddress=11 &&
    grep -qF 'Found instanceID: [USB\VID_10C4&PID_0003\ZJ000042]' "$err" &&
    grep -qF "Found one instance, serial: [$stick_serial]" "$err" && grep -q 'MBUS converter found' "$err" &&
    cli_as "" --wireless --key $key get 2 && grep -q 'wiredAddress *11$' "$out" &&
    grep -q 'accepted.*start' /vmout/dongle-transcript.txt
}

check_dialout_user_both_devices() {
  cli_as $dialout_user --wireless --key $key identify && cli_as $dialout_user --port ttyUSB0 --key $key identify
}

check_other_user_told_dialout() {
  ! cli_as $other_user --port ttyUSB0 --key $key identify && grep -q "not in the dialout group" "$err" &&
    ! cli_as $other_user --wireless --key $key identify && grep -q "not in the dialout group" "$err"
}

# Waits, at most SECONDS, until FILE holds more than COUNT lines matching PATTERN. One tail looks
# at the file every 50 ms (polling: inotify would miss the host's writes to the shared folder); a
# loop of greps, each slow to start under TCG, could sleep past a quick exchange such as a whole
# apply. The file may not exist yet. tail ends by itself at its next line or its time-out.
wait_transcript() {
  local seen
  seen=$(grep -m $(($3 + 1)) -c -- "$1" < <(exec timeout "$4" tail ---disable-inotify -s 0.05 -n +1 -F "$2" 2>/dev/null))
  [ "$seen" -gt "$3" ]
}

check_second_cli_in_use() {
  # The first holds the stick while it listens for a converter that is not there; started
  # directly, so that $! is quarn-cli itself (setpriv and env exec it).
  local as=(setpriv --reuid="$dialout_user" --regid="$dialout_user" --init-groups env HOME=/tmp)
  "${as[@]}" "$quarn_build/cli/quarn-cli" --home /tmp --wireless --converter 99999999 --timeout 12 identify \
    >/dev/null 2>/tmp/first.err &
  local first=$!
  wait_transcript 'start' /vmout/dongle-transcript.txt "$(grep -c start /vmout/dongle-transcript.txt)" 30 || return 1
  local second=/tmp/second.err status=0
  "${as[@]}" "$quarn_build/cli/quarn-cli" --home /tmp --wireless --key $key identify >/dev/null 2>$second || status=$?
  echo "second quarn-cli -> $status:"
  cat $second
  # The first has done its part: what it would still hear is not asked for.
  kill $first
  wait $first
  [ $status -eq 3 ] && grep -q "in use" $second && ! grep -q "not found" $second
}

check_unplug_mid_apply() {
  local before
  before=$(grep -c 'Set Data' /vmout/dongle-transcript.txt)
  cli_as "" --wireless --key $key apply "$quarn_repo/tests/data/settings/good.json" &
  local cli=$!
  wait_transcript 'Set Data' /vmout/dongle-transcript.txt "$before" 30 || return 1
  gadget_unplug
  local status=0
  wait $cli || status=$?
  gadget_plug
  # Port lost and the step that failed named; on a fast machine the unplug may come before the
  # first slot is written, so what was written before it is not asked for. A write the kernel
  # refuses as the device goes says "Not sent: No such device" before the hang-up is seen.
  [ $status -eq 3 ] && grep -Eq "^quarn-cli: .+ failed: ([Nn]ot sent|Connection lost)" /tmp/home-root/err.txt
}

check_traffic_after_replug() {
  udevadm settle -t 10
  cli_as "" --wireless --key $key get 1
}

# The window, run by the dialout member on an X server of its own; its trace is its output.
window_start() {
  export DISPLAY=:9
  Xvfb :9 -screen 0 1280x800x24 -nolisten tcp -noreset -ac >/dev/null 2>&1 &
  wait_until 30 xdotool getdisplaygeometry || return 1
  mkdir -p /tmp/win && chown $dialout_user /tmp/win
  (cd /tmp/win && exec setpriv --reuid=$dialout_user --regid=$dialout_user --init-groups env HOME=/tmp/win \
    DISPLAY=:9 "$quarn_build/app/quarn" >/tmp/win/trace.txt 2>&1) &
  window_pid=$!
  wait_until 60 window_named "Select wired or wireless operation." || return 1
  xdotool windowfocus --sync "$(window_named "Select wired or wireless operation.")" key Return  # wireless
}

window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 | grep .; }

# The first USB device controller: dummy_hcd's.
udc_name() {
  local udc
  for udc in /sys/class/udc/*; do
    [ -e "$udc" ] && basename "$udc"
    return 0
  done
}

wait_until() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 5))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}

# File, Save log..., the name typed into the chooser's name field.
window_save_log() {
  rm -f /tmp/win/log.txt
  xdotool windowfocus --sync "$(window_named "Quarn v.*")" key alt+f
  sleep 0.5
  xdotool key Down Down Down Return
  wait_until 20 window_named "Save log" || return 1
  local dialog
  dialog=$(window_named "Save log")
  # The "File Name" field is left of OK, on the second row from the chooser's bottom, whatever
  # its size; a triple click selects the suggested name to type over.
  local WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$dialog" | grep -E '^(WIDTH|HEIGHT)=')"
  xdotool windowfocus --sync "$dialog" mousemove --window "$dialog" $((WIDTH / 2)) $((HEIGHT - 40)) \
    click --repeat 3 --delay 80 1
  sleep 0.3
  xdotool type --delay 30 /tmp/win/log.txt
  xdotool key Return
  wait_until 20 test -s /tmp/win/log.txt
}

check_window_finds_stick() {
  local before
  before=$(grep -c start /vmout/dongle-transcript.txt)
  window_start || return 1
  wait_transcript start /vmout/dongle-transcript.txt "$before" 30 || return 1
  cat /tmp/win/trace.txt
  grep -qF 'Found instanceID: [USB\VID_10C4&PID_0003\ZJ000042]' /tmp/win/trace.txt &&
    grep -qF "Found one instance, serial: [$stick_serial]" /tmp/win/trace.txt && grep -q 'Silabs CDC found' /tmp/win/trace.txt
}

check_window_unplug_replug() {
  local before
  before=$(grep -c start /vmout/dongle-transcript.txt)
  gadget_unplug
  wait_gone /dev/ttyACM0 10 && udevadm settle -t 10
  # A stick that comes and goes within 100 ms, then the stick for good.
  udc_name >$gadget/UDC
  sleep 0.05
  gadget_unplug
  wait_gone /dev/ttyACM0 10 && udevadm settle -t 10
  gadget_plug
  # Once it says the stick is back, the window starts it again; the converter is heard at once
  # and then every second, so a log saved a little later shows it.
  wait_transcript start /vmout/dongle-transcript.txt "$before" 30 || return 1
  for _ in 1 2 3; do
    window_save_log || return 1
    heard_since_back && break
  done
  sed -n '/Connection lost/,$p' /tmp/win/log.txt | head -n 8
  grep -q "^Connection lost: ttyACM0" /tmp/win/log.txt && heard_since_back
}

# The saved log shows the converter heard after the line saying the stick is back.
heard_since_back() {
  sed -n "/^Stick $stick_serial is back on ttyACM0\.\$/,\$p" /tmp/win/log.txt | grep -q 'MBUS converter found'
}

check_window_answers_and_quits() {
  xdotool windowfocus --sync "$(window_named "Quarn v.*")" key ctrl+q
  wait_until 20 eval "! kill -0 $window_pid" || return 1
  wait "$window_pid"
}

check_dangling_by_id_link() {
  # A stale link left behind: the listing goes on and the stick is still found.
  ln -s /dev/ttyACM7 /dev/serial/by-id/usb-Gone_Wireless_M-Bus_stick_ZJ000099-if00
  cli_as "" ports && grep -q "^ttyACM0 .*\[wireless stick\]$" "$out" && ! grep -q ZJ000099 "$out" &&
    cli_as "" --wireless --key "$key" identify
  local status=$?
  rm -f /dev/serial/by-id/usb-Gone_Wireless_M-Bus_stick_ZJ000099-if00
  return $status
}

check_nothing_unsent_reached_devices() {
  # Every frame either simulator received was one Quarn sent: none refused, no noise; the one
  # exception is the wired request sent under a wrong key on purpose.
  grep -q $'\taccepted\t' /vmout/dongle-transcript.txt && grep -q $'\taccepted\t' /vmout/wired-transcript.txt &&
    ! grep -v -e $'\taccepted\t' -e $'\trefused: bad MAC\t' /vmout/dongle-transcript.txt /vmout/wired-transcript.txt &&
    ! grep -q 'refused' /vmout/dongle-transcript.txt
}

# Plays a stick on gadget tty GS with quarn-sim's extra OPTIONS; its pid in $sim_pid.
stick_sim() {
  local gs=$1 transcript=$2
  shift 2
  "$quarn_build/sim/quarn-sim" --role dongle --device "$gs" --transcript "$transcript" "$@" >"$transcript.out" 2>&1 &
  sim_pid=$!
}

check_unplug_mid_frame() {
  # The stick now sends half of each answer and the rest only after 30 s; what it hears goes on
  # every 100 ms, so the half answer is often run into the next frame before the reader gives
  # it up, and sometimes not: the unplug must end as a lost link either way.
  kill "$dongle_sim_pid" && wait "$dongle_sim_pid"
  stick_sim /dev/ttyGS0 /vmout/midframe-transcript.txt --stall-midpayload --stall-ms 30000 --beacon-ms 100
  cli_as "" --verbose --wireless --key $key --timeout 20 get 1 &
  local cli=$! status=0 took=99
  # The half answer has been read once the trace gives it up: alone, or run into the frames that
  # followed it (the stick's frames carry no checksum).
  if wait_transcript "Get Data" /vmout/midframe-transcript.txt 0 30 &&
    wait_until 10 grep -Eq "Dongle frame .* dropped|Ignored Get Data answer" /tmp/home-root/err.txt; then
    local t0=$SECONDS
    gadget_unplug
    wait $cli || status=$?
    took=$((SECONDS - t0))
    echo "quarn-cli ended $took s after the unplug"
    gadget_plug
  else
    wait $cli
  fi
  kill "$sim_pid" && wait "$sim_pid"
  stick_sim /dev/ttyGS0 /vmout/dongle-transcript.txt
  dongle_sim_pid=$sim_pid
  # Kept with the results: which way the half answer went shows only in this trace.
  cp /tmp/home-root/err.txt /vmout/midframe-cli.txt
  grep -E "dropped|Ignored|Connection lost" /tmp/home-root/err.txt
  [ $status -eq 3 ] && [ $took -le 5 ] && grep -q "Connection lost" /tmp/home-root/err.txt
}

# A second gadget like the first, on the second controller: the same serial, its own tty.
second_stick_plug() {
  local g=${gadget}2 udc
  mkdir -p $g/strings/0x409 $g/configs/c.1 $g/functions/acm.usb1
  echo 0x10c4 >$g/idVendor
  echo 0x0003 >$g/idProduct
  echo $stick_serial >$g/strings/0x409/serialnumber
  echo "Wireless M-Bus stick" >$g/strings/0x409/product
  [ -e $g/configs/c.1/acm.usb1 ] || ln -s $g/functions/acm.usb1 $g/configs/c.1/
  udc=$(printf '%s\n' /sys/class/udc/* | sed -n 2p)
  basename "$udc" >$g/UDC
  wait_for /dev/ttyACM1 30
}

check_two_sticks_same_serial() {
  second_stick_plug || return 1
  udevadm settle -t 10
  stick_sim /dev/ttyGS1 /vmout/second-transcript.txt
  local second=$sim_pid status=1
  # Both listed; without a choice quarn-cli names both and takes neither (their one serial
  # names neither); the port chosen is the stick that answers.
  if timeout 20 "$quarn_build/cli/quarn-cli" ports | tee /tmp/two-ports.txt &&
    [ "$(grep -c "^ttyACM[01]  .* $stick_serial  Wireless M-Bus stick  \[wireless stick\]$" /tmp/two-ports.txt)" -eq 2 ]; then
    local first_before second_before
    first_before=$(grep -c accepted /vmout/dongle-transcript.txt)
    second_before=$(grep -c accepted /vmout/second-transcript.txt)
    if cli_as "" --wireless --key $key identify; then
      echo "quarn-cli took a stick without a choice"
    elif grep -q "more than one stick" "$err"; then
      cli_as "" --wireless --port ttyACM1 --key $key identify && cli_as "" --wireless --port ttyACM1 --key $key get 1 &&
        grep -q "stick $stick_serial on ttyACM1" "$err"
      status=$?
    fi
    local first_grew=0 second_grew=0
    [ "$(grep -c accepted /vmout/dongle-transcript.txt)" -gt "$first_before" ] && first_grew=1
    [ "$(grep -c accepted /vmout/second-transcript.txt)" -gt "$second_before" ] && second_grew=1
    echo "requests reached: first stick $first_grew, second stick $second_grew"
    [ $((first_grew + second_grew)) -eq 1 ] || status=1
  fi
  echo "" >${gadget}2/UDC
  kill "$second" && wait "$second"
  return $status
}

# After a replug the stick's tty is new: the kernel starts it cooked with echo on. This stick
# talks first: a ^Z and two stale status frames, held by the gadget until the host reads. cdc_acm
# starts reading within open(), so they arrive before Quarn can make the tty raw: only the
# package's rule (raw without echo as the tty appears) keeps them from coming back ahead of the
# start frame ("^Z" as 5E 5A), where the stick would take them for the head of a frame.
check_stick_talks_first() {
  local talk=/vmout/talkfirst-transcript.txt status=1
  kill "$dongle_sim_pid" && wait "$dongle_sim_pid"
  gadget_unplug
  wait_gone /dev/ttyACM0 10 && udevadm settle -t 10
  gadget_plug && udevadm settle -t 10 && rm -f $talk
  # What the package's rule left (opening it here sends nothing: nothing is queued yet).
  stty -F /dev/ttyACM0 -a | grep -ow -- '-\?\(echo\|icanon\|isig\)'
  stick_sim /dev/ttyGS0 $talk
  # quarn-sim prints the tty once it holds it raw: the bytes below go out as written.
  if wait_until 10 grep -qx /dev/ttyGS0 "$talk.out"; then
    printf '\x1a\x50\x00\x00\x20\x00\x00' | dd of=/dev/ttyGS0 oflag=noctty conv=notrunc status=none
    cli_as "" --wireless --key $key get 1 && grep -q 'wiredAddress ' "$out" && status=0
  fi
  kill "$sim_pid" && wait "$sim_pid"
  stick_sim /dev/ttyGS0 /vmout/dongle-transcript.txt
  dongle_sim_pid=$sim_pid
  echo "the stick received:"
  cat $talk
  [ $status -eq 0 ] && head -n 1 $talk | grep -q $'\tdongle\tAB0000\tdongle 0xAB\taccepted\tstart$' &&
    ! grep -q refused $talk
}

run_check() {
  local name=$1 log=/tmp/check-$1.log
  local t0=$SECONDS
  if "check_$name" >"$log" 2>&1; then
    say "ok   $name ($((SECONDS - t0)) s)"
  else
    say "FAIL $name ($((SECONDS - t0)) s)"
    sed 's/^/  | /' "$log" | tail -n 30 | tee -a /vmout/results.txt
  fi
}

# Whether check NAME is to run: all of them unless QUARN_VM_CHECKS chose some.
# shellcheck disable=SC2154
chosen() { [ -z "${quarn_checks:-}" ] || [[ ,$quarn_checks, == *,$1,* ]]; }

guest_main() {
  # As the first process, a failing command must not end the guest: each check reports its own.
  # Without pipefail, "... | grep -q" stays true when grep's early exit ends the writer.
  set +e +o pipefail
  guest_setup >/vmout/setup.log 2>&1 || { say "FAIL setup"; tail -n 30 /vmout/setup.log | sed 's/^/  | /' | tee -a /vmout/results.txt; }
  say "guest up after $(cut -d' ' -f1 /proc/uptime) s"
  local c
  for c in ports_lists_both udev_rule wired_identify wired_get_set_secured wired_get_set_plain \
    wired_line_2400_8E1 wireless_get_set dialout_user_both_devices other_user_told_dialout second_cli_in_use \
    unplug_mid_apply traffic_after_replug window_finds_stick window_unplug_replug window_answers_and_quits \
    dangling_by_id_link nothing_unsent_reached_devices unplug_mid_frame two_sticks_same_serial \
    stick_talks_first; do
    chosen "$c" && run_check $c
  done
  say "guest done after $(cut -d' ' -f1 /proc/uptime) s"
  sync
  echo o >/proc/sysrq-trigger
  sleep 10
}

if [ "${1:-}" = --guest ]; then
  guest_main
else
  host_main "$@"
fi
