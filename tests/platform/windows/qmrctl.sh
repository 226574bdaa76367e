#!/usr/bin/env bash
# qmrctl.exe under Wine against the Linux emulator, each command checked by the module's state
# (qmrsim --state) and the exit code; the settings remembered in the prefix's registry.
#   qmrctl.sh QMRCTL_EXE QMRSIM PREFIX     (exit 77: skipped, no qmrsim given)
# COM5 is the module, COM3 a silent one, so a sweep (which starts at COM1) shows on COM3's
# log and a scan at the remembered COM5 does not.
set -uo pipefail
EXE=${1:?usage: qmrctl.sh QMRCTL_EXE QMRSIM PREFIX}
QMRSIM=${2-}
PREFIX=${3:?usage: qmrctl.sh QMRCTL_EXE QMRSIM PREFIX}
source "$(dirname "$0")/comports.sh"

FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
# qmrctl ARGS...: runs qmrctl.exe; stdout, stderr (line ends as Linux ones) and the exit code
# in $WORK/out, $WORK/err, $CODE.
qmrctl() {
  wine_run "$EXE" "$@" >"$WORK/out.raw" 2>"$WORK/err.raw"
  CODE=$?
  tr -d '\r' <"$WORK/out.raw" >"$WORK/out"
  tr -d '\r' <"$WORK/err.raw" >"$WORK/err"
}
expect_code() { # expect_code CODE what
  [ "$CODE" = "$1" ] || { fail "$2: exit code $CODE, expected $1"; cat "$WORK/out" "$WORK/err" >&2; }
}
state() { jq -r "$1" "$WORK/state.json"; }
expect_state() { # expect_state JQ-FILTER VALUE what
  local value
  value=$(state "$1")
  [ "$value" = "$2" ] || fail "$3: module state $1 is '$value', expected '$2'"
}
registry() { # registry NAME: the value as reg.exe shows it ("REG_DWORD 0x5")
  wine_run reg query 'HKCU\Software\TAVEX\QMRConfig' /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v n="$1" '$1 == n { print $2, $3 }'
}
lines() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }

# Nothing remembered from an earlier run.
wine_run reg delete 'HKCU\Software\TAVEX\QMRConfig' /f >/dev/null 2>&1
wine_run reg delete 'HKLM\Software\TAVEX\QMRConfig' /f >/dev/null 2>&1

# No module on any port: 1, and the reason on stderr.
qmrctl scan
expect_code 1 "scan without a module"
grep -q '^Module Not Find' "$WORK/err" || fail "scan without a module: stderr is '$(cat "$WORK/err")'"

start_sim com3 --fault-silent --log "$WORK/silent.log"
start_sim com5 --id1 03 --id2 04 --rs485 40 --state "$WORK/state.json" --log "$WORK/module.log"

# The first scan sweeps from COM1: it passes the silent COM3 and finds the module on COM5.
qmrctl scan --json
expect_code 0 "scan --json"
[ "$(jq -r '.ok, .module.com, .module.device, .module.id1, .module.id2, .module.rs485' \
      "$WORK/out" | paste -sd' ')" = 'true 5 \\.\COM5 03 04 40' ] ||
  fail "scan --json printed $(cat "$WORK/out")"
[ "$(registry ScanCommNo)" = "REG_DWORD 0x5" ] || fail "ScanCommNo in the registry: '$(registry ScanCommNo)'"
[ "$(registry ScanBaudRate)" = "REG_SZ 19200,e,8,1" ] ||
  fail "ScanBaudRate in the registry: '$(registry ScanBaudRate)'"
[ "$(lines "$WORK/silent.log")" -gt 0 ] || fail "the first scan did not sweep past COM3"

# The next run finds the module at the remembered COM5 without a sweep.
silent_before=$(lines "$WORK/silent.log")
start=$(date +%s%N)
qmrctl scan
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
expect_code 0 "second scan"
[ "$(lines "$WORK/silent.log")" = "$silent_before" ] || fail "the second scan swept COM3 again"
echo "second scan (remembered port): ${elapsed_ms} ms"

qmrctl set-id 07 08
expect_code 0 "set-id 07 08"
expect_state .reader1.id 07 "set-id"
expect_state .reader2.id 08 "set-id"

qmrctl factory
expect_code 0 "factory"
expect_state '[.reader1.id, .reader2.id, .mode, .rs485, .lineIndex] | join(" ")' "01 05 0 1 5" "factory"

qmrctl set-line 7
expect_code 0 "set-line 7"
expect_state .lineIndex 7 "set-line"
[ "$(registry ScanBaudRateNo)" = "REG_DWORD 0x7" ] ||
  fail "ScanBaudRateNo in the registry: '$(registry ScanBaudRateNo)'"
# The module now answers at its new line setting only, which the registry remembers.
qmrctl scan --json
expect_code 0 "scan at the new line setting"
[ "$(jq -r .module.lineIndex "$WORK/out")" = 7 ] || fail "scan after set-line printed $(cat "$WORK/out")"

qmrctl poll --count 3
expect_code 0 "poll --count 3"
[ "$(wc -l <"$WORK/out")" = 3 ] || fail "poll --count 3 printed $(cat "$WORK/out")"
grep -q 'reader 1  ID 01' "$WORK/out" && grep -q 'reader 2  ID 05' "$WORK/out" ||
  fail "poll output: $(cat "$WORK/out")"
# The port was given back: the next run opens it again.
qmrctl scan
expect_code 0 "scan after poll"

# Ctrl-C (Wine passes SIGINT on as a console Ctrl-C) stops an endless poll cleanly: 0, the
# count of replies on stderr, and the port given back.
# Wine itself, not script/wine-run, which shows the output only at the end; to files, as there.
(
  export WINEPREFIX=$(cd "$PREFIX" && pwd) WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  exec wine "$EXE" poll >"$WORK/poll.out" 2>"$WORK/poll.err" </dev/null
) &
program=$!
for _ in $(seq 600); do [ "$(lines "$WORK/poll.out")" -ge 2 ] && break; sleep 0.05; done
if [ "$(lines "$WORK/poll.out")" -ge 2 ]; then
  kill -INT "$program"
  wait "$program"
  CODE=$?
  expect_code 0 "poll stopped by Ctrl-C"
  grep -q 'replies' "$WORK/poll.err" || fail "poll stopped by Ctrl-C: stderr '$(cat "$WORK/poll.err")'"
  qmrctl scan
  expect_code 0 "scan after an interrupted poll"
else
  fail "poll without --count printed no replies: $(cat "$WORK/poll.out" "$WORK/poll.err")"
  kill "$program"
  wait "$program"
fi

# Usage errors: 2, one line on stderr, nothing sent to the module.
module_before=$(lines "$WORK/module.log")
commands_before=$(state .commands)
qmrctl set-id 100
expect_code 2 "set-id 100"
[ -s "$WORK/out" ] && fail "set-id 100 printed '$(cat "$WORK/out")'"
[ "$(wc -l <"$WORK/err")" = 1 ] && grep -q "'100'" "$WORK/err" || fail "set-id 100: stderr '$(cat "$WORK/err")'"
qmrctl scan --config "C:\\qmr.conf"
expect_code 2 "scan --config"
grep -q 'not available on Windows' "$WORK/err" || fail "scan --config: stderr '$(cat "$WORK/err")'"
[ "$(lines "$WORK/module.log")" = "$module_before" ] && [ "$(state .commands)" = "$commands_before" ] ||
  fail "a usage error sent frames to the module"

# --port: only the named port, which is not remembered; the silent COM3 alone finds nothing.
qmrctl --port COM5 scan --json
expect_code 0 "--port COM5 scan"
[ "$(jq -r .module.com "$WORK/out")" = 5 ] || fail "--port COM5 scan printed $(cat "$WORK/out")"
silent_before=$(lines "$WORK/silent.log")
qmrctl --port COM3 scan
expect_code 1 "--port COM3 scan (no module there)"
[ "$(lines "$WORK/silent.log")" -gt "$silent_before" ] || fail "--port COM3 scan did not try COM3"

# provision on COM5: the module gets the next ID (one-reader mode: one number), mode and RS-485
# as asked, and the record (JSON lines, a Windows path under a folder with Chinese characters,
# which only the wide calls reach) a "started" line before and an "ok" line after; a second run
# on the same record is refused at once while the first holds it; Ctrl-C then ends the wait for
# the next module with 0.
RECDIR="$WORK/现场记录"
REC="$RECDIR/record.jsonl"
mkdir -p "$RECDIR"
(
  export WINEPREFIX=$(cd "$PREFIX" && pwd) WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  exec wine "$EXE" provision --ports COM5 --first-id 21 --mode one --rs485 24 \
    --record "Z:$REC" >"$WORK/provision.out" 2>"$WORK/provision.err" </dev/null
) &
program=$!
for _ in $(seq 600); do grep -q '"outcome":"ok"' "$REC" 2>/dev/null && break; sleep 0.05; done
if grep -q '"outcome":"ok"' "$REC" 2>/dev/null; then
  qmrctl provision --ports COM3 --record "Z:$REC"
  expect_code 2 "a second provision run on a held record"
  grep -q 'is in use by another qmrctl run' "$WORK/err" ||
    fail "second run on a held record: stderr is '$(cat "$WORK/err")'"
  kill -INT "$program"
  wait "$program"
  CODE=$?
  expect_code 0 "provision stopped by Ctrl-C"
  [ "$(jq -r .outcome "$REC" | paste -sd' ')" = "started ok" ] ||
    fail "provision record: $(cat "$REC")"
  [ "$(jq -r 'select(.outcome == "ok") | .id1' "$REC")" = 21 ] ||
    fail "provision record IDs: $(cat "$REC")"
  expect_state '[.reader1.id, .mode, .rs485] | join(" ")' "21 1 0" "provision"
else
  fail "provision wrote no outcome: $(ls -R "$WORK"; cat "$REC" "$WORK/provision.out" "$WORK/provision.err" 2>&1)"
  kill "$program"
  wait "$program"
fi

# ports: every COM number with whether it opens; the module's port is the remembered one.
qmrctl ports --json
expect_code 0 "ports --json"
[ "$(jq -r '[.ports[] | select(.openable) | .com] | join(" ")' "$WORK/out")" = "3 5" ] ||
  fail "ports --json: $(cat "$WORK/out")"
[ "$(jq -r '[.ports[] | select(.remembered) | .com] | join(" ")' "$WORK/out")" = "5" ] ||
  fail "ports --json remembered: $(cat "$WORK/out")"
[ "$(jq -r '.ports[0] | [.exists, .error] | join(" ")' "$WORK/out")" = "false not-found" ] ||
  fail "ports --json COM1: $(cat "$WORK/out")"
qmrctl ports
expect_code 0 "ports"
grep -q '^COM5 .* ok  (remembered)$' "$WORK/out" || fail "ports: $(cat "$WORK/out")"

# check-port through the loopback plug the emulator plays on COM7, told ten bits a byte: the
# six n lines are the ones judged (a pseudo-terminal does not carry the parity).
start_sim com7 --loopback --bits-per-byte 10
qmrctl check-port COM7 --json
expect_code 1 "check-port COM7 (the e lines are judged at ten bits a byte)"
[ "$(jq -r '[.lines[] | select((.line | contains(",n,")) and .ok)] | length' "$WORK/out")" = 6 ] ||
  fail "check-port COM7: $(cat "$WORK/out")"

wine_run reg delete 'HKCU\Software\TAVEX\QMRConfig' /f >/dev/null 2>&1
if [ "$FAILURES" -gt 0 ]; then
  echo "$FAILURES check(s) failed" >&2
  exit 1
fi
echo "all qmrctl.exe checks passed"
