#!/usr/bin/env bash
# quarn-cli keys check against telegrams built by the openssl command line alone (enc for
# AES-128-CBC, mac for the CMAC key derivation of mode 7): every verdict, and the bad lines.
# Then keys import: a private new file, nothing written on a refusal or a conflict.
#   keys_cli_test.sh QUARN_CLI
set -euo pipefail
cli=$1
for tool in openssl jq perl; do
  command -v $tool >/dev/null || { echo "$tool missing (scripts/install-deps.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/meterKeys"
chmod 700 "$work/meterKeys"

hex() { od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }
unhex() { perl -ne 's/([0-9A-Fa-f]{2})/print chr(hex($1))/ge'; }
# AES-128-CBC of hex plaintext (whole blocks) under hex key and IV, hex out.
cbc() { printf '%s' "$3" | unhex | openssl enc -aes-128-cbc -K "$1" -iv "$2" -nopad | hex; }
cmac() { printf '%s' "$2" | unhex | openssl mac -cipher AES-128-CBC -macopt "hexkey:$1" CMAC | tr a-f A-F; }
kcv() { cbc "$1" 00000000000000000000000000000000 00000000000000000000000000000000 | cut -c1-6; }
reverse() { echo "$1" | sed 's/../& /g' | tr ' ' '\n' | grep . | tac | tr -d '\n'; }

plain=2F2F0C1378563412046D1A2B3C4D2F2F2F2F2F2F2F2F2F2F2F2F2F2F2F2F2F2F
keyA=000102030405060708090A0B0C0D0E0F
keyB=F0E1D2C3B4A5968778695A4B3C2D1E0F
keyC=11111111222222223333333344444444
keyD=DEADBEEFDEADBEEFDEADBEEFDEADBEEF
keyE=55555555555555555555555555555555

# address: manufacturer 2D2C (KAM), id LSB first, version 1B, type 07
address() { echo "2D2C${1}1B07"; }
# mode 5: 44 address 7A access status CF(0x0520) then CBC with IV address + 8 x access
mode5() {
  local a; a=$(address "$2")
  echo "44${a}7A420020 05$(cbc "$1" "${a}4242424242424242" "$plain")" | tr -d ' '
}
# mode 7: AFL with counter, short header with extension 10, key = CMAC(K, 00 counter id 07x7)
mode7() {
  local a kenc; a=$(address "$2")
  kenc=$(cmac "$1" "00${3}${2}07070707070707")
  echo "44${a}900F002C25${3}AAAAAAAAAAAAAAAA7A100010071 0$(cbc "$kenc" 00000000000000000000000000000000 "${plain:0:32}")" | tr -d ' '
}

cat > "$work/meterKeys/site.txt" <<KEYS
# label;id;first key;second key
right5;00000001;$keyA;$keyB
second;00000002;$keyC;$keyB
right7;00000003;$keyA
reversed;00000004;$(reverse $keyD)
wrong;00000005;$keyC
holder;00000099;$keyD
KEYS

{
  echo "# built by openssl $(openssl version | cut -d' ' -f2)"
  mode5 $keyA 01000000                       # 00000001 right (first key)
  mode5 $keyB 02000000                       # 00000002 right (second key)
  mode7 $keyA 03000000 04030201              # 00000003 right, mode 7
  mode5 $keyD 04000000                       # 00000004 reversed
  mode5 $keyE 05000000                       # 00000005 wrong (key E is listed nowhere)
  mode7 $keyD 06000000 09000000              # 00000006 other-entry 00000099
  mode5 $keyB 07000000                       # 00000007 no entry, key B only listed as a second key
  mode5 $(echo $keyD | tr D E) 08000000      # 00000008 no-key
  echo "442D2C090000001B077A42000000 0C1378563412"      # 00000009 plain
  echo "442D2C100000001B078D20421122334455660102"     # 00000010 unsupported CI 0x8D
  t=$(mode5 $keyA 11000000); printf 'telegram=|%02X%s|\n' $(( ${#t} / 2 )) "$t"   # log form, length byte
  echo "not a telegram"                                # refused: line 13
  t=$(mode5 $keyA 12000000); echo "${t:0:60}"          # refused: cut short, line 14
  printf '\x00\xff\xfe garbage\n'                      # refused: line 15
} > "$work/telegrams.txt"
cat > "$work/expected.txt" <<EXPECTED
00000001 right 00000001 $(kcv $keyA)
00000002 right 00000002 $(kcv $keyB)
00000003 right 00000003 $(kcv $keyA)
00000004 reversed 00000004 $(kcv $keyD)
00000005 wrong 00000005 $(kcv $keyC)
00000006 other-entry 00000099 $(kcv $keyD)
00000007 other-entry 00000001 $(kcv $keyB)
00000008 no-key null null
00000009 plain null null
00000010 unsupported null null
00000011 other-entry 00000001 $(kcv $keyA)
EXPECTED

set +e
"$cli" --home "$work" --json keys check "$work/telegrams.txt" > "$work/out.json" 2> "$work/err.txt"
code=$?
set -e
jq -r '.meters[] | "\(.id) \(.verdict) \(.keyEntry) \(.kcv)"' "$work/out.json" > "$work/got.txt"
fail=0
if ! diff -u "$work/expected.txt" "$work/got.txt"; then fail=1; fi
# Meter 00000011 (a log line with its length byte) decrypts under entry 00000001's key only if
# the length byte was taken as one; the security column names the unsupported CI.
[ "$(jq -r '.meters[] | select(.id=="00000010") | .security' "$work/out.json")" = "CI 0x8D" ] || { echo "CI 0x8D not named"; fail=1; }
[ "$(jq -r '.meters[] | select(.id=="00000003") | .security' "$work/out.json")" = "mode 7" ] || { echo "mode 7 not named"; fail=1; }
[ "$(jq -r '[.refused[].line] | join(",")' "$work/out.json")" = "13,14,15" ] || { echo "refused lines wrong"; cat "$work/out.json"; fail=1; }
[ "$(jq -r '.meters[0].rssiMinDbm' "$work/out.json")" = "null" ] || { echo "offline RSSI not null"; fail=1; }
[ "$code" = 1 ] || { echo "exit code $code, expected 1 (not every key right)"; fail=1; }
grep -q "line 14: 32 encrypted bytes announced, 16 are there" "$work/err.txt" || { echo "no refusal for line 14"; cat "$work/err.txt"; fail=1; }
# No key in any output.
for key in $keyA $keyB $keyC $keyD $keyE; do
  if grep -qi "$key" "$work/out.json" "$work/err.txt"; then echo "key $key printed"; fail=1; fi
done
[ $fail = 0 ] && echo "keys check: every verdict as built by openssl $(openssl version | cut -d' ' -f2)"

# ---- keys import ----
before=$(ls "$work/meterKeys" | sort | tr '\n' ' ')
refuse() {  # name, file contents: refused with exit code 2, meterKeys/ unchanged
  printf '%b' "$2" > "$work/$1"
  set +e; "$cli" --home "$work" keys import "$work/$1" > /dev/null 2>&1; code=$?; set -e
  [ "$code" = 2 ] || { echo "import $1: exit code $code, expected 2"; fail=1; }
  [ "$(ls "$work/meterKeys" | sort | tr '\n' ' ')" = "$before" ] || { echo "import $1 wrote a file"; fail=1; }
}
refuse bom.csv '\xEF\xBB\xBF12345678;'$keyA'\n'
refuse utf16.csv '\xFF\xFE1\x002\x00'
refuse third.csv 'ID;Key\n12345678;'$keyA';'$keyB';'$keyC'\n'
refuse badhex.csv '12345678;'${keyA:0:31}'X\n'
refuse dup.csv '12345678;'$keyA'\n12345678;'$keyB'\n'
# A conflict with a listed ID: exit code 1, nothing written.
printf '00000005;%s\n' $keyA > "$work/conflict.csv"
set +e; "$cli" --home "$work" keys import "$work/conflict.csv" > /dev/null 2> "$work/err.txt"; code=$?; set -e
[ "$code" = 1 ] && grep -q "00000005 is listed in" "$work/err.txt" || { echo "conflict: exit code $code"; fail=1; }
[ "$(ls "$work/meterKeys" | sort | tr '\n' ' ')" = "$before" ] || { echo "conflict wrote a file"; fail=1; }
# A good list: a new file of mode 600, keys only by check value on the output.
printf 'Meter;Key;KEK\n"12000001" , %s , %s\n12000002,%s\n' "$(echo $keyE | sed 's/../& /g')" $keyB $keyC > "$work/vendor.csv"
"$cli" --home "$work" --json keys import --into vendor.txt "$work/vendor.csv" > "$work/import.json"
[ "$(stat -c %a "$work/meterKeys/vendor.txt")" = 600 ] || { echo "imported file not 600"; fail=1; }
[ "$(jq -r '[.entries[] | "\(.id):\(.kcv):\(.kcvSecond)"] | join(" ")' "$work/import.json")" = \
  "12000001:$(kcv $keyE):$(kcv $keyB) 12000002:$(kcv $keyC):null" ] || { echo "import entries wrong"; cat "$work/import.json"; fail=1; }
grep -qi "$keyE\|$keyB" "$work/import.json" && { echo "import printed a key"; fail=1; }
# Imported keys are found by the key check (meter 12000002 sends under key C).
mode5 $keyC 02000012 > "$work/new.txt"
[ "$("$cli" --home "$work" --json keys check "$work/new.txt" | jq -r '.meters[0] | "\(.verdict) \(.keyEntry)"')" = "right 12000002" ] || { echo "imported key not used"; fail=1; }
[ $fail = 0 ] && echo "keys import: refusals, conflict and a private new file as expected"
exit $fail
