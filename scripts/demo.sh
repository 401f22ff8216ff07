#!/usr/bin/env bash
# Installs what is missing, builds Quarn and quarn-sim, starts two simulators (a converter on
# the M-Bus wire and a USB wireless stick with the converter behind it) on PTYs of their own,
# and starts Quarn in a private working folder made from the repository's examples
# (Quarnconfig.txt, dongleKeys/, meterKeys/, help/). The simulators end when Quarn ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target quarn quarn-sim

for program in build/release/app/quarn build/release/sim/quarn-sim; do
  if [ ! -x "$program" ]; then
    echo "$program was not built; see the build output above."
    exit 1
  fi
done

demo_dir=$(mktemp -d /tmp/quarn-demo-XXXXXX)
sim_pids=()
# shellcheck disable=SC2317 # called by the EXIT trap, which shellcheck does not follow
stop_sims() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  echo "Simulators stopped; their transcripts stay in $demo_dir"
}
trap stop_sims EXIT

# Starts one simulator in this shell (so that the trap knows its pid); its first line of
# output, kept in $role-entry.txt, is its QUARN_VIRTUAL_PORTS entry.
start_sim() {
  local role=$1 link=$2
  build/release/sim/quarn-sim --role "$role" --link "$demo_dir/$link" \
    --transcript "$demo_dir/$role-transcript.txt" >"$demo_dir/$role-entry.txt" 2>"$demo_dir/$role-errors.txt" &
  sim_pids+=("$!")
  for _ in $(seq 50); do
    if [ -s "$demo_dir/$role-entry.txt" ] && [ -e "$demo_dir/$link" ]; then return 0; fi
    sleep 0.1
  done
  echo "quarn-sim --role $role did not start:" >&2
  cat "$demo_dir/$role-errors.txt" >&2
  return 1
}

start_sim wired ttySIM0
start_sim dongle ttySIM1
QUARN_VIRTUAL_PORTS="$(head -n 1 "$demo_dir/wired-entry.txt");$(head -n 1 "$demo_dir/dongle-entry.txt")"
export QUARN_VIRTUAL_PORTS

# Quarn reads its keys from the working folder and warns when others can read them; the
# repository's copies are as git left them, so Quarn works on private copies.
work=$demo_dir/work
(umask 077 && mkdir "$work" && cp -R Quarnconfig.txt dongleKeys meterKeys "$work/")
ln -s "$(pwd)/help" "$work/help"
program=$(pwd)/build/release/app/quarn

cat <<TEXT

Quarn starts in $work (copies of the examples in $(pwd))
with two simulated devices:
  ttySIM0  a converter on the M-Bus wire      (transcript: $demo_dir/wired-transcript.txt)
  ttySIM1  a USB wireless M-Bus stick, with the same converter behind it
           (transcript: $demo_dir/dongle-transcript.txt)

Wired:    in "Select wired or wireless operation." click "Wired connection", then OK.
          In "Select wired parameters." pick ttySIM0 in the list and press Connect.
          The tab "Communication log" shows >>> REQ_UD2 and the converter's answer;
          "Converter ID" on the Settings tab shows SN: 12345678.
Wireless: keep "Wireless connection" and press OK; the status line shows the stick's ID.
          After a second or two press "Find converter", keep 12345678 and press Select.

Quarn runs once per choice: quit it (Ctrl+Q) and run this script again for the other one.

TEXT

status=0
(cd "$work" && "$program" "$@") || status=$?
exit "$status"
