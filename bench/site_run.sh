#!/usr/bin/env bash
# A whole site over the air: quarn-sim plays a stick with N converters behind it (two meters
# each), quarn-cli site apply writes and reads back every one. Prints the whole run, the time per
# converter (from its partner frame to its last answer), and the sum of the requests' answer
# times: the simulator answers each request REPLY_MS + 30 ms + REPLY_MS after it arrives (ACK,
# "sent" report, the converter's answer), so that sum is what the converters cost; the rest is
# listening and quarn-cli's own turnaround.
#
#   bench/site_run.sh [N]      default 30 converters
#   BUILD=dir                  build directory holding cli/quarn-cli and sim/quarn-sim
#                              (default build/release)
#   REPLY_MS=20                the simulator's turnaround
#   KEEP=1                     keep the run's files
set -euo pipefail

count="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build/release}"
replyMs="${REPLY_MS:-20}"
cli="$build/cli/quarn-cli"
sim="$build/sim/quarn-sim"
[ -x "$cli" ] && [ -x "$sim" ] || { echo "site_run: build quarn-cli and quarn-sim in $build first" >&2; exit 2; }

sections=()
summary=/dev/null
source "$root/bench/lib.sh"
dir="$(mktemp -d /tmp/quarn-site-run-XXXXXX)"
[ -n "${KEEP:-}" ] || trap 'cleanup; rm -rf "$dir"' EXIT
mkdir -p "$dir/home/meterKeys"
key=000102030405060708090A0B0C0D0E0F
echo "converter,slot1,slot2" >"$dir/plan.csv"
for i in $(seq 1 "$count"); do
  id=$(printf 'E%07X' "$i")
  m1=$(printf '2%07X' $((2 * i))) m2=$(printf '2%07X' $((2 * i + 1)))
  echo "$id $key" >>"$dir/site.txt"
  echo "$id,$m1,$m2" >>"$dir/plan.csv"
  printf 'm;%s;00112233445566778899AABBCCDDEEFF\nm;%s;FFEEDDCCBBAA99887766554433221100\n' "$m1" "$m2" \
    >>"$dir/home/meterKeys/meters.txt"
done

"$sim" --role dongle --link "$dir/ttySIM0" --converters "$dir/site.txt" --reply-ms "$replyMs" \
  --transcript "$dir/transcript.txt" --exit-after 600 >"$dir/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/sim.out" ] && break; sleep 0.05; done
entry="$(head -n 1 "$dir/sim.out")"

start=$(date +%s.%N)
code=0
QUARN_VIRTUAL_PORTS="$entry" "$cli" --home "$dir/home" --key "$key" \
  --template "$root/tests/data/settings/good.json" --report "$dir/report.json" site apply "$dir/plan.csv" \
  >"$dir/table.txt" 2>"$dir/progress.txt" || code=$?
end=$(date +%s.%N)

python3 - "$dir" "$start" "$end" "$replyMs" "$code" "$count" <<'EOF'
import json, sys
d, start, end, reply, code, count = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
def secs(stamp):
    h, m, s = stamp.split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)
answerMs = 2 * reply + 30
per, requests, first, last, current = {}, 0, None, None, None
for line in open(d + "/transcript.txt"):
    f = line.rstrip("\n").split("\t")
    t = secs(f[0])
    if "partner" in f[5]:
        current = f[5].split()[1]
        per[current] = [t, t]
    elif f[3] == "secured":
        requests += 1
        per[current][1] = t + answerMs / 1000.0
        first = t if first is None else first
        last = t + answerMs / 1000.0
report = json.load(open(d + "/report.json"))
done = sum(1 for c in report["converters"] if c["status"] == "done")
times = sorted((b - a) * 1000 for a, b in per.values())
whole = (end - start) * 1000
answers = requests * answerMs
print(f"converters {count}, done and verified {done}, exit code {code}")
print(f"whole run (quarn-cli start to exit) {whole:.0f} ms; first request to last answer {(last - first) * 1000:.0f} ms")
print(f"requests {requests}, {answerMs} ms each to answer: sum of answer times {answers} ms "
      f"({answers / whole * 100:.1f} % of the whole run)")
print(f"per converter (partner frame to last answer): median {times[len(times) // 2]:.0f} ms, "
      f"min {times[0]:.0f} ms, max {times[-1]:.0f} ms; {requests // max(len(per), 1)} requests each")
EOF
