#!/usr/bin/env bash
# quarn-cli survey against quarn-sim's meters over the simulated stick: every meter heard, its
# RSSI from the converter's scans within what the simulator plays, and every verdict as made;
# then site survey of two converters behind the stick into a report.
#   survey_cli_test.sh QUARN_SIM QUARN_CLI
set -euo pipefail
sim=$1
cli=$2
command -v jq >/dev/null || { echo "jq missing (scripts/install-deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
chmod 700 "$work"
simpid=
trap '[ -n "$simpid" ] && kill $simpid 2>/dev/null; rm -rf "$work"' EXIT
mkdir -m 700 "$work/home" "$work/home/meterKeys" "$work/run"

keyA=000102030405060708090A0B0C0D0E0F
keyB=F0E1D2C3B4A5968778695A4B3C2D1E0F
keyC=11111111222222223333333344444444
keyD=DEADBEEF00112233445566778899AABB
keyE=55555555555555555555555555555555
keyF=0123456789ABCDEF0123456789ABCDEF
keyG=77777777777777777777777777777777
reversedD=$(echo $keyD | sed 's/../& /g' | tr ' ' '\n' | grep . | tac | tr -d '\n')

# id man version type mode key interval rssi wander
cat > "$work/meters.txt" <<METERS
12345678 KAM 1B 07 5 $keyA 300 -70 8
00000002 KAM 1B 07 7 $keyB 350 -88 4
00000003 ABB 01 02 0 - 400 -60 0
00000004 KAM 1B 07 5 $keyD 300 -75 2
00000005 KAM 1B 07 7 $keyE 300 -80 2
00000006 KAM 1B 07 5 $keyF 300 -65 2
00000007 LUG 02 04 5 $keyG 300 -95 2
METERS
cat > "$work/home/meterKeys/site.txt" <<KEYS
m1;12345678;$keyA
m2;00000002;$keyC;$keyB
m4;00000004;$reversedD
m5;00000005;$keyC
holder;00000099;$keyF
KEYS

"$sim" --role dongle --link "$work/run/tty" --meters "$work/meters.txt" --exit-after 60 > "$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
export QUARN_VIRTUAL_PORTS=$(head -1 "$work/sim.out")
set +e
"$cli" --home "$work/home" --wireless --key $keyA --json survey --seconds 5 --scan-every 1 > "$work/out.json"
code=$?
set -e

fail=0
[ "$code" = 1 ] || { echo "exit code $code, expected 1 (not every key right)"; fail=1; }
got=$(jq -r '.meters[] | "\(.id) \(.security) \(.verdict) \(.keyEntry)"' "$work/out.json")
expected="00000003 none plain null
00000002 mode 7 right 00000002
00000004 mode 5 reversed 00000004
00000005 mode 7 wrong 00000005
00000006 mode 5 other-entry 00000099
12345678 mode 5 right 12345678
00000007 mode 5 no-key null"
if [ "$got" != "$expected" ]; then
  echo "verdicts differ:"; diff <(echo "$expected") <(echo "$got") || true; fail=1
fi
# Every meter heard by the stick and named by every answered scan, its RSSI where it was played.
answered=$(jq -r '.scansAnswered' "$work/out.json")
[ "$answered" -ge 3 ] || { echo "only $answered scans answered"; fail=1; }
bad=$(jq -r --argjson n "$answered" '.meters[] | select(.frames < 3 or .scans != $n) | .id' "$work/out.json")
[ -z "$bad" ] || { echo "meters heard too little or scanned too seldom: $bad"; fail=1; }
rssi() { jq -r --arg id "$1" '.meters[] | select(.id == $id) | "\(.rssiMinDbm) \(.rssiMeanDbm) \(.rssiMaxDbm)"' "$work/out.json"; }
check_rssi() {  # id, centre, wander
  read -r min mean max <<< "$(rssi "$1")"
  [ "$min" -ge $(( $2 - $3 )) ] && [ "$max" -le $(( $2 + $3 )) ] && [ "$min" -le "$max" ] ||
    { echo "meter $1: RSSI $min/$mean/$max outside $2 +- $3"; fail=1; }
}
check_rssi 12345678 -70 8
check_rssi 00000002 -88 4
check_rssi 00000003 -60 0
check_rssi 00000007 -95 2
for key in $keyA $keyB $keyC $keyD $keyE $keyF $keyG; do
  grep -qi "$key" "$work/out.json" && { echo "key $key printed"; fail=1; }
done
[ $fail = 0 ] && echo "survey: $answered scans, every verdict and RSSI as the simulator played them"
[ $fail = 0 ] || cat "$work/out.json"

# ---- site survey: two converters behind the stick, each the partner in turn ----
kill $simpid 2>/dev/null; wait $simpid 2>/dev/null || true
keyX=00112233445566778899AABBCCDDEEFF
printf '12345678 %s\n2A00B017 %s\n' $keyA $keyX > "$work/converters.txt"
printf 'converter,link,key,wiredAddress,slot1,slot2,slot3,slot4\n12345678,,%s,,12345678,,,\n2A00B017,,%s,,00000002,,,\n' \
  $keyA $keyX > "$work/plan.csv"
: > "$work/sim.out"
"$sim" --role dongle --link "$work/run/tty" --converters "$work/converters.txt" --meters "$work/meters.txt" \
  --exit-after 60 > "$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
export QUARN_VIRTUAL_PORTS=$(head -1 "$work/sim.out")
set +e
"$cli" --home "$work/home" --seconds 3 --scan-every 1 --out "$work/site.json" site survey "$work/plan.csv" \
  > "$work/site.txt" 2>&1
code=$?
set -e
[ "$code" = 0 ] || { echo "site survey: exit code $code"; cat "$work/site.txt"; fail=1; }
[ "$(stat -c %a "$work/site.json")" = 600 ] || { echo "site survey report not 600"; fail=1; }
got=$(jq -r '.converters[] | "\(.converter) \(.status) \([.meters[] | select(.id == "00000004") | .verdict] | join(","))"' \
  "$work/site.json")
[ "$got" = "12345678 done reversed
2A00B017 done reversed" ] || { echo "site survey converters: $got"; fail=1; }
[ "$(jq '[.converters[].meters | length] | min' "$work/site.json")" = 7 ] || { echo "site survey: meters missing"; fail=1; }
[ $fail = 0 ] && echo "site survey: both converters surveyed into $(basename "$work/site.json")"
exit $fail
