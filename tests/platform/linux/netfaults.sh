#!/usr/bin/env bash
# qmrctl against ser2net inside a network namespace this test makes, with the faults of real
# networks: a name whose first address is dead, a name server that never answers, a server
# that vanishes silently during provisioning and comes back. No packet leaves the namespace.
#   netfaults.sh QMRCTL QMRSIM
set -uo pipefail
QMRCTL=${1:?usage: netfaults.sh QMRCTL QMRSIM}
QMRSIM=${2:?usage: netfaults.sh QMRCTL QMRSIM}
skip() { echo "SKIPPED: $*"; exit 77; }
command -v ser2net >/dev/null || skip "ser2net is not installed (script/setup installs it)"
command -v nft >/dev/null || skip "nft is not installed (script/setup installs nftables)"
command -v ip >/dev/null || skip "ip is not installed (script/setup installs iproute2)"
command -v jq >/dev/null || skip "jq is not installed"
NS=qmr-netfaults-$$
ip netns add "$NS" 2>/dev/null || skip "network namespaces cannot be made here (not root?)"
WORK=$(mktemp -d /tmp/qmr-netfaults.XXXXXX)
SIM=
SER2NET=
PROVISION=
FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
cleanup() {
  for p in $PROVISION $SER2NET $SIM ${DNS-}; do kill "$p" 2>/dev/null; done
  sleep 0.5
  for p in $PROVISION $SER2NET $SIM ${DNS-}; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  ip netns del "$NS" 2>/dev/null
  rm -rf "/etc/netns/$NS" "$WORK"
}
trap cleanup EXIT
in_ns() { ip netns exec "$NS" "$@"; }

# lo up plus an address of its own, so look-ups see IPv4 configured.
in_ns ip link set lo up
in_ns ip addr add 198.18.0.1/32 dev lo
in_ns ip addr add 198.18.0.53/32 dev lo # the silent name server
in_ns ip -6 addr add 2001:db8::1/128 dev lo 2>/dev/null || true
# A name with a dead address first (::1, where nothing gets through to the server's port)
# and the live one second; a name server that never answers.
mkdir -p "/etc/netns/$NS"
printf '127.0.0.1 localhost\n::1 qmr-twice\n127.0.0.1 qmr-twice\n' >"/etc/netns/$NS/hosts"
printf 'nameserver 198.18.0.53\noptions timeout:5 attempts:2\n' >"/etc/netns/$NS/resolv.conf"

PORT=$((20000 + RANDOM % 40000))
"$QMRSIM" --link "$WORK/a" --state "$WORK/a.json" >"$WORK/sim.log" 2>&1 &
SIM=$!
for _ in $(seq 50); do [ -e "$WORK/a" ] && break; sleep 0.1; done
cat >"$WORK/ser2net.yaml" <<YAML
connection: &rfc
  accepter: telnet(rfc2217),tcp,127.0.0.1,$PORT
  connector: serialdev,$WORK/a,19200e81,local
  options:
    chardelay: false
YAML
ip netns exec "$NS" ser2net -n -d -c "$WORK/ser2net.yaml" >"$WORK/ser2net.log" 2>&1 &
SER2NET=$!
for _ in $(seq 100); do in_ns bash -c "(: </dev/tcp/127.0.0.1/$PORT)" 2>/dev/null && break; sleep 0.1; done
printf '[Ports]\n' >"$WORK/conf.ini"
for n in $(seq 1 16); do printf 'COM%d=\n' "$n" >>"$WORK/conf.ini"; done
ctl() { in_ns "$QMRCTL" --config "$WORK/conf.ini" "$@"; }
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

# The first address is dead (its packets dropped): the second still gets its chance.
in_ns nft add table ip6 qmrdead
in_ns nft add chain ip6 qmrdead in '{ type filter hook input priority 0; }'
in_ns nft add rule ip6 qmrdead in tcp dport "$PORT" drop
out=$(ctl --port "rfc2217://qmr-twice:$PORT" scan 2>&1) || fail "a name with a dead first address: $out"

# A name server that never answers: the open ends within its budget, the reason named.
ip netns exec "$NS" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("198.18.0.53", 53))
open(sys.argv[1], "w").write("bound")
time.sleep(120)' "$WORK/dns" &
DNS=$!
for _ in $(seq 50); do [ -s "$WORK/dns" ] && break; sleep 0.1; done
start=$(date +%s%N)
out=$(ctl --port "rfc2217://qmr-nowhere.example:$PORT" scan 2>&1) && fail "scan through a silent name server succeeded"
took=$(ms_since "$start")
[ "$took" -le 4000 ] || fail "a silent name server took $took ms"
grep -q "name server" <<<"$out" || fail "silent name server not named: $out"

# Provisioning while the server vanishes without a word (its packets dropped) and comes back:
# the port is shown unavailable, then the module is found again.
ip netns exec "$NS" "$QMRCTL" --config "$WORK/conf.ini" provision --ports "rfc2217://127.0.0.1:$PORT" \
  --json --record "$WORK/record.jsonl" >"$WORK/provision.out" 2>&1 &
PROVISION=$!
for _ in $(seq 100); do grep -q '"done"' "$WORK/provision.out" 2>/dev/null && break; sleep 0.1; done
in_ns nft add table ip qmrloss
in_ns nft add chain ip qmrloss in '{ type filter hook input priority 0; }'
in_ns nft add rule ip qmrloss in tcp sport "$PORT" drop
for _ in $(seq 300); do grep -q '"unavailable"' "$WORK/provision.out" && break; sleep 0.1; done
grep -q '"unavailable"' "$WORK/provision.out" || fail "a lost server not shown as unavailable: $(cat "$WORK/provision.out")"
lines=$(wc -l <"$WORK/provision.out")
in_ns nft delete table ip qmrloss
for _ in $(seq 100); do [ "$(tail -n +"$((lines + 1))" "$WORK/provision.out" | grep -c '"waiting"\|"skipped"\|"configuring"')" -gt 0 ] && break; sleep 0.1; done
[ "$(tail -n +"$((lines + 1))" "$WORK/provision.out" | grep -c '"waiting"\|"skipped"\|"configuring"')" -gt 0 ] ||
  fail "provisioning did not carry on when the server came back: $(cat "$WORK/provision.out")"
kill -INT $PROVISION
for _ in $(seq 100); do kill -0 $PROVISION 2>/dev/null || break; sleep 0.1; done
kill -0 $PROVISION 2>/dev/null && fail "provision did not stop on SIGINT: $(cat "$WORK/provision.out")"

# Process mode while the server vanishes without a word: it ends in its failure outcome (at the
# first poll left without a reply), not as a success and not never.
ip netns exec "$NS" "$QMRCTL" --config "$WORK/conf.ini" --port "rfc2217://127.0.0.1:$PORT" \
  poll --count 100000 >"$WORK/poll.out" 2>&1 &
POLL=$!
sleep 1.5
in_ns nft add table ip qmrloss
in_ns nft add chain ip qmrloss in '{ type filter hook input priority 0; }'
in_ns nft add rule ip qmrloss in tcp sport "$PORT" drop
start=$(date +%s%N)
for _ in $(seq 200); do kill -0 $POLL 2>/dev/null || break; sleep 0.1; done
if kill -0 $POLL 2>/dev/null; then
  fail "poll went on for 20 s after its server was lost"
  kill -9 $POLL
fi
wait $POLL && fail "poll ended as a success without its server"
echo "process mode noticed the loss after $(ms_since "$start") ms: $(tail -2 "$WORK/poll.out")"
in_ns nft delete table ip qmrloss

[ "$FAILURES" = 0 ] && echo "all network fault checks passed"
exit $((FAILURES > 0))
