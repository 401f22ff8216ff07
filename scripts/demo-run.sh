#!/usr/bin/env bash
# The demo itself, on programs already built: starts two simulators (a converter on the M-Bus
# wire, and a USB wireless stick with every wireless converter of examples/site-plan.csv behind
# it) on PTYs of their own, and starts Quarn, or with --cli a shell for quarn-cli, in a private
# working folder made from the repository's examples (Quarnconfig.txt, dongleKeys/, meterKeys/,
# help/, site-plan.csv). The simulators end when Quarn or the shell ends.
#
# usage: scripts/demo-run.sh BUILD_DIR [--cli] [arguments for quarn]
#        (with --cli, standard input feeds the shell, so a script can run commands in the demo)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:?usage: scripts/demo-run.sh BUILD_DIR [--cli]}" && pwd)
shift
cli=0
if [ "${1:-}" = --cli ]; then
  cli=1
  shift
fi

for program in "$build/app/quarn" "$build/sim/quarn-sim" "$build/cli/quarn-cli"; do
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
  echo "Simulators stopped; their transcripts stay in $demo_dir" >&2
}
trap stop_sims EXIT

# Starts one simulator in this shell (so that the trap knows its pid); its first line of
# output, kept in $role-entry.txt, is its QUARN_VIRTUAL_PORTS entry.
start_sim() {
  local role=$1 link=$2
  shift 2
  "$build/sim/quarn-sim" --role "$role" --link "$demo_dir/$link" "$@" \
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

# The stick hears every wireless converter of the example site plan, each with the key the
# plan gives it, or the simulator's own key (the one dongleKeys/example.txt lists) where the
# plan leaves it to the key list.
sim_key=000102030405060708090A0B0C0D0E0F
awk -F, -v default_key="$sim_key" 'NR > 1 && $2 == "wireless" {
  print $1, ($3 == "" ? default_key : $3) }' examples/site-plan.csv >"$demo_dir/converters.txt"

start_sim wired ttySIM0
start_sim dongle ttySIM1 --converters "$demo_dir/converters.txt"
QUARN_VIRTUAL_PORTS="$(head -n 1 "$demo_dir/wired-entry.txt");$(head -n 1 "$demo_dir/dongle-entry.txt")"
export QUARN_VIRTUAL_PORTS

# Quarn reads its keys from the working folder and warns when others can read them; the
# repository's copies are as git left them, so Quarn works on private copies.
work=$demo_dir/work
(umask 077 && mkdir "$work" && cp -R Quarnconfig.txt dongleKeys meterKeys examples/site-plan.csv "$work/")
ln -s "$(pwd)/help" "$work/help"

if [ "$cli" = 1 ]; then
  export PATH="$build/cli:$PATH"
  export QUARN_HOME=$work  # quarn-cli's working folder: the keys and Quarnconfig.txt
  cat >&2 <<TEXT

A shell in $work (copies of the examples in $(pwd)),
with quarn-cli on its PATH, QUARN_HOME set to it, and two simulated devices:
  ttySIM0  a converter on the M-Bus wire (12345678)
  ttySIM1  a USB wireless M-Bus stick hearing the converters of site-plan.csv
           ($(cut -d' ' -f1 "$demo_dir/converters.txt" | tr '\n' ' '))

  quarn-cli ports
  quarn-cli --port ttySIM0 identify
  quarn-cli --port ttySIM0 export site.json
  quarn-cli --template site.json site check site-plan.csv
  quarn-cli --template site.json --report day1.json site apply site-plan.csv

End the shell (exit, or Ctrl+D) to stop the simulators.

TEXT
  status=0
  (cd "$work" && bash "$@") || status=$?
  exit "$status"
fi

cat <<TEXT

Quarn starts in $work (copies of the examples in $(pwd))
with two simulated devices:
  ttySIM0  a converter on the M-Bus wire      (transcript: $demo_dir/wired-transcript.txt)
  ttySIM1  a USB wireless M-Bus stick, with the converters of site-plan.csv behind it
           (transcript: $demo_dir/dongle-transcript.txt)

Wired:    in "Select wired or wireless operation." click "Wired connection", then OK.
          In "Select wired parameters." pick ttySIM0 in the list and press Connect.
          The tab "Communication log" shows >>> REQ_UD2 and the converter's answer;
          "Converter ID" on the Settings tab shows SN: 12345678.
Wireless: keep "Wireless connection" and press OK; the status line shows the stick's ID.
          After a second or two press "Find converter", keep 12345678 and press Select.

Quarn runs once per choice: quit it (Ctrl+Q) and run this script again for the other one.
For quarn-cli against the same simulators: scripts/demo.sh --cli

TEXT

status=0
(cd "$work" && "$build/app/quarn" "$@") || status=$?
exit "$status"
