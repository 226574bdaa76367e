#!/usr/bin/env bash
# qmrctl against modules behind the real ser2net: qmrsim's pseudo-terminals served on free
# localhost ports, RFC 2217 and raw TCP. Every outcome is judged by the emulator's state file.
#   ser2net.sh QMRCTL QMRSIM
set -uo pipefail
QMRCTL=${1:?usage: ser2net.sh QMRCTL QMRSIM}
QMRSIM=${2:?usage: ser2net.sh QMRCTL QMRSIM}
command -v ser2net >/dev/null || { echo "ser2net is not installed (script/setup installs it)"; exit 77; }
command -v jq >/dev/null || { echo "jq is not installed"; exit 77; }
WORK=$(mktemp -d /tmp/qmr-ser2net.XXXXXX)
declare -A SIM PORT RAW
SER2NET=
FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
cleanup() {
  for p in "${!SIM[@]}"; do [ -n "${SIM[$p]}" ] && kill "${SIM[$p]}" 2>/dev/null; done
  [ -n "$SER2NET" ] && kill "$SER2NET" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# A localhost port nobody listens on (a connection to it is refused).
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    (: <"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
plug() { # plug NAME [qmrsim options...]
  local n=$1
  shift
  [ -n "${SIM[$n]-}" ] && { kill "${SIM[$n]}"; wait "${SIM[$n]}" 2>/dev/null; }
  rm -f "$WORK/$n.json"
  "$QMRSIM" --link "$WORK/$n" --state "$WORK/$n.json" "$@" >>"$WORK/sim-$n.log" 2>&1 &
  SIM[$n]=$!
  for _ in $(seq 50); do [ -e "$WORK/$n" ] && return 0; sleep 0.1; done
  fail "qmrsim $n did not start"
}
state() { jq -r "$2" "$WORK/$1.json" 2>/dev/null; } # state NAME FILTER

# One RFC 2217 port and one raw port per emulator. The connector's line setting is where the
# line starts; over RFC 2217 the tool sets its own.
start_ser2net() {
  : >"$WORK/ser2net.yaml"
  for n in a b c; do
    cat >>"$WORK/ser2net.yaml" <<YAML
connection: &rfc$n
  accepter: telnet(rfc2217),tcp,127.0.0.1,${PORT[$n]}
  connector: serialdev,$WORK/$n,19200e81,local
connection: &raw$n
  accepter: tcp,127.0.0.1,${RAW[$n]}
  connector: serialdev,$WORK/$n,57600e81,local
YAML
  done
  ser2net -n -d -c "$WORK/ser2net.yaml" >>"$WORK/ser2net.log" 2>&1 &
  SER2NET=$!
  for _ in $(seq 100); do (: <"/dev/tcp/127.0.0.1/${RAW[c]}") 2>/dev/null && return 0; sleep 0.1; done
  fail "ser2net did not start: $(cat "$WORK/ser2net.log")"
}
stop_ser2net() { kill "$SER2NET" 2>/dev/null; wait "$SER2NET" 2>/dev/null; SER2NET=; }
for n in a b c; do PORT[$n]=$(free_port); RAW[$n]=$(free_port); done
url() { echo "rfc2217://127.0.0.1:${PORT[$1]}"; }

# The settings file maps every COM number to nothing but COM5, a network port.
conf() { # conf URL
  printf '[Ports]\n' >"$WORK/conf.ini"
  for n in $(seq 1 16); do
    if [ "$n" = 5 ]; then printf 'COM5=%s\n' "$1"; else printf 'COM%d=\n' "$n"; fi
  done >>"$WORK/conf.ini"
}
ctl() { "$QMRCTL" --config "$WORK/conf.ini" "$@"; }

plug a --line 57600,e,8,1 --data1 'ÿ12ÿÿ'
plug b
plug c
start_ser2net

# The sweep finds the module at its own line setting, which only a line setting that reached
# the pseudo-terminal can do (the emulator answers only at its baud rate).
conf "$(url a)"
out=$(ctl scan --all-lines --json) || fail "scan over RFC 2217: $out"
# (A pseudo-terminal keeps no parity, so the sweep's first 57600 setting answers.)
[ "$(jq -r .module.line <<<"$out")" = 57600,n,8,1 ] || fail "sweep found the line: $out"
[ "$(jq -r .module.com <<<"$out")" = 5 ] || fail "the module is not on COM5: $out"
[ "$(jq -r .module.device <<<"$out")" = "$(url a)" ] || fail "device: $out"
out=$(ctl ports --json)
[ "$(jq -r '.ports[4].openable' <<<"$out")" = true ] || fail "ports: COM5 not openable: $out"

# Every setting procedure, each judged by the emulator's state.
ctl --port "$(url a)" set-id 07 08 >/dev/null || fail "set-id"
[ "$(state a .reader1.id)/$(state a .reader2.id)" = 07/08 ] || fail "set-id: $(state a .reader1.id)"
ctl --port "$(url a)" set-mode one --rs485 40 >/dev/null || fail "set-mode"
[ "$(state a .mode)/$(state a .rs485)" = 1/2 ] || fail "set-mode: $(state a .mode) $(state a .rs485)"
ctl --port "$(url a)" set-line 38400,e,8,1 >/dev/null || fail "set-line"
[ "$(state a .line)" = 38400,e,8,1 ] || fail "set-line: $(state a .line)"
ctl --port "$(url a)" factory >/dev/null || fail "factory"
[ "$(state a .line)/$(state a .reader1.id)/$(state a .mode)" = 19200,e,8,1/01/0 ] ||
  fail "factory: $(cat "$WORK/a.json")"
ctl --port "$(url a)" one-reader >/dev/null || fail "one-reader"
[ "$(state a .mode)" = 1 ] || fail "one-reader: mode $(state a .mode)"

# Process mode; the first reader's data holds 0xFF bytes, which arrive doubled and must come
# out single and intact.
out=$(ctl --port "$(url a)" poll --count 2 2>&1) || fail "poll: $out"
grep -qiF '\xFF12\xFF\xFF' <<<"$out" || fail "poll data with 0xFF bytes: $out"

# A raw TCP port cannot change the line: at the server's line setting it works, and the sweep
# tries that once, not twelve times.
plug b --line 57600,e,8,1
out=$(ctl --port "tcp://127.0.0.1:${RAW[b]}" scan --all-lines --json) || fail "raw scan: $out"
[ "$(state b .commands)" -ge 1 ] || fail "raw: the module heard nothing"
plug b --line 19200,e,8,1
start=$SECONDS
out=$(ctl --port "tcp://127.0.0.1:${RAW[b]}" scan --all-lines --trace 2>&1) && fail "raw scan at another line found a module"
# The remembered line's attempts and one of the sweep, at the same line: not twelve lines.
[ "$(grep -c ' tx ' <<<"$out")" -le 5 ] || fail "raw port swept: $(grep -c ' tx ' <<<"$out") frames"

# Three server ports provisioned at once.
plug a --serial1 30000010 --serial2 30000021
plug b --serial1 30000110 --serial2 30000121
plug c --serial1 30000210 --serial2 30000221
# (qmrctl itself in the background, not a shell around it, so SIGINT reaches it.)
"$QMRCTL" --config "$WORK/conf.ini" provision --ports "$(url a),$(url b),$(url c)" --record "$WORK/record.jsonl" \
  >"$WORK/provision.out" 2>&1 &
PROVISION=$!
for _ in $(seq 300); do
  [ "$(jq -s '[.[] | select(.outcome == "ok")] | length' "$WORK/record.jsonl" 2>/dev/null)" = 3 ] && break
  sleep 0.1
done
kill -INT $PROVISION
for _ in $(seq 100); do kill -0 $PROVISION 2>/dev/null || break; sleep 0.1; done
kill -0 $PROVISION 2>/dev/null && { fail "provision did not stop on SIGINT"; kill -9 $PROVISION; }
wait $PROVISION
ids=$(for n in a b c; do echo "$(state "$n" .reader1.id) $(state "$n" .reader2.id)"; done | tr ' ' '\n' | sort | tr '\n' ' ')
[ "$ids" = "01 02 03 04 05 06 " ] || fail "provisioned IDs: $ids ($(cat "$WORK/provision.out"))"

# A port another client holds is reported as held.
exec 3<>"/dev/tcp/127.0.0.1/${PORT[a]}"
sleep 0.2
out=$(ctl ports --json)
[ "$(jq -r '.ports[4].error' <<<"$out")" = busy ] || fail "held port: $(jq -c '.ports[4]' <<<"$out")"
out=$(ctl --port "$(url a)" scan 2>&1) && fail "scan on a held port succeeded"
grep -q "in use" <<<"$out" || fail "held port not named: $out"
exec 3<&-
sleep 0.2

# The server stops in the middle of process mode: the poll ends as a failure, a later scan
# (with the server back) works.
"$QMRCTL" --config "$WORK/conf.ini" --port "$(url a)" poll --count 1000 >"$WORK/poll.out" 2>&1 &
POLL=$!
sleep 1.5
stop_ser2net
for _ in $(seq 50); do kill -0 $POLL 2>/dev/null || break; sleep 0.1; done
if kill -0 $POLL 2>/dev/null; then
  fail "poll did not end when the server went away"
  kill $POLL
fi
wait $POLL && fail "poll ended as a success without its server"
start_ser2net
ctl --port "$(url a)" scan >/dev/null || fail "scan after the server came back"

# A server that never answers the negotiation (a raw port spoken to as RFC 2217) costs about
# a second in a sweep over all twelve lines, and the reason is named. The bound only tells
# one wait from twelve (a second each) with room for a loaded machine; figures are bench's.
start=$(date +%s%N)
out=$(ctl --port "rfc2217://127.0.0.1:${RAW[c]}" scan --all-lines 2>&1) && fail "scan of a silent server succeeded"
took=$((($(date +%s%N) - start) / 1000000))
[ "$took" -le 8000 ] || fail "a silent server took $took ms"
grep -q "did not complete" <<<"$out" || fail "silent server not named: $out"
# A host that does not answer, without a packet leaving this machine: a listener whose accept
# queue is full drops further connection attempts silently. Bounded the same way.
python3 - "$WORK/deadport" <<'PY' &
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(0)
fillers = []
for _ in range(4):  # fill the queue; the kernel takes one more than the backlog
    c = socket.socket()
    c.setblocking(False)
    c.connect_ex(s.getsockname())
    fillers.append(c)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
time.sleep(60)
PY
DEAD=$!
for _ in $(seq 50); do [ -s "$WORK/deadport" ] && break; sleep 0.1; done
dead="rfc2217://127.0.0.1:$(cat "$WORK/deadport")"
start=$(date +%s%N)
out=$(ctl --port "$dead" scan --all-lines 2>&1) && fail "scan of a dead host succeeded"
took=$((($(date +%s%N) - start) / 1000000))
[ "$took" -le 8000 ] || fail "dead host took $took ms"
grep -q "no answer from 127.0.0.1" <<<"$out" || fail "dead host not named: $out"
kill $DEAD 2>/dev/null

# A raw port's line is the server's: an operation that would move the module off it is
# refused before a setting command goes out, with exit 2 (the module stays reachable).
plug b --line 57600,e,8,1
rawurl="tcp://127.0.0.1:${RAW[b]}"
ctl --port "$rawurl" scan --all-lines >/dev/null || fail "raw scan before set-line"
heard=$(state b .commands)
out=$(ctl --port "$rawurl" set-line 115200,e,8,1 2>&1)
rc=$?
[ "$rc" = 2 ] || fail "set-line on a raw port: exit $rc: $out"
[ "$(state b .commands)" = "$heard" ] || fail "set-line on a raw port sent $(($(state b .commands) - heard)) commands"
grep -q "raw TCP port" <<<"$out" || fail "set-line on a raw port: reason not given: $out"
[ "$(state b .line)" = 57600,e,8,1 ] || fail "set-line on a raw port moved the module: $(state b .line)"
out=$(ctl --port "$rawurl" set-id 03 04 2>&1) || fail "set-id on a raw port: $out"

out=$(ctl --port "tcp://127.0.0.1:$(free_port)" scan 2>&1) && fail "scan of a closed port succeeded"
grep -q "refused" <<<"$out" || fail "refused connection not named: $out"

[ "$FAILURES" = 0 ] && echo "all ser2net checks passed"
exit $((FAILURES > 0))
