#!/usr/bin/env bash
# qmrctl.exe under Wine against a module behind the real ser2net on the Linux side: a sweep
# over RFC 2217 that finds the module at a non-default line setting, a setting procedure
# judged by the emulator's state, and a network port named in the registry's Ports key.
#   ser2net.sh QMRCTL_EXE QMRSIM PREFIX     (exit 77: skipped, no qmrsim or ser2net)
set -uo pipefail
EXE=${1:?usage: ser2net.sh QMRCTL_EXE QMRSIM PREFIX}
QMRSIM=${2-}
PREFIX=${3:?usage: ser2net.sh QMRCTL_EXE QMRSIM PREFIX}
command -v ser2net >/dev/null || { echo "SKIP: ser2net is not installed"; exit 77; }
source "$(dirname "$0")/comports.sh"

FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
SER2NET=
trap '[ -n "$SER2NET" ] && kill "$SER2NET" 2>/dev/null; cleanup' EXIT
qmrctl() {
  wine_run "$EXE" "$@" >"$WORK/out.raw" 2>"$WORK/err.raw"
  CODE=$?
  tr -d '\r' <"$WORK/out.raw" >"$WORK/out"
  tr -d '\r' <"$WORK/err.raw" >"$WORK/err"
}
state() { jq -r "$1" "$WORK/state.json"; }
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    (: <"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}

# The module on a pseudo-terminal that only ser2net opens (no COM link in the prefix).
"$QMRSIM" --link "$WORK/net" --line 38400,e,8,1 --state "$WORK/state.json" >"$WORK/sim.out" 2>&1 </dev/null &
SIM_PIDS+=($!)
for _ in $(seq 100); do [ -L "$WORK/net" ] && break; sleep 0.05; done
PORT=$(free_port)
cat >"$WORK/ser2net.yaml" <<YAML
connection: &net
  accepter: telnet(rfc2217),tcp,127.0.0.1,$PORT
  connector: serialdev,$WORK/net,19200e81,local
YAML
ser2net -n -d -c "$WORK/ser2net.yaml" >"$WORK/ser2net.log" 2>&1 &
SER2NET=$!
for _ in $(seq 50); do (: <"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.1; done
URL=rfc2217://127.0.0.1:$PORT
wine_run reg delete 'HKCU\Software\TAVEX\QMRConfig' /f >/dev/null 2>&1

qmrctl --port "$URL" scan --all-lines --json
[ "$CODE" = 0 ] || fail "scan over RFC 2217: exit $CODE: $(cat "$WORK/out" "$WORK/err")"
[ "$(jq -r '.module.line, .module.device' "$WORK/out" | paste -sd' ')" = "38400,n,8,1 $URL" ] ||
  fail "scan over RFC 2217 found $(cat "$WORK/out")"

qmrctl --port "$URL" --all-lines set-id 11 12
[ "$CODE" = 0 ] || fail "set-id: exit $CODE: $(cat "$WORK/out" "$WORK/err")"
[ "$(state '[.reader1.id, .reader2.id] | join(" ")')" = "11 12" ] ||
  fail "set-id: the module holds $(state '[.reader1.id, .reader2.id] | join(" ")')"

# COM7 named in the registry's Ports key is the network port.
wine_run reg add 'HKCU\Software\TAVEX\QMRConfig\Ports' /v COM7 /t REG_SZ /d "$URL" /f >/dev/null 2>&1
qmrctl ports --json
[ "$(jq -r '.ports[6] | [.device, .openable] | join(" ")' "$WORK/out")" = "$URL true" ] ||
  fail "ports with COM7 in the registry: $(cat "$WORK/out")"
wine_run reg delete 'HKCU\Software\TAVEX\QMRConfig' /f >/dev/null 2>&1

if [ "$FAILURES" -gt 0 ]; then
  echo "$FAILURES check(s) failed" >&2
  exit 1
fi
echo "all qmrctl.exe ser2net checks passed"
