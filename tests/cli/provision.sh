#!/usr/bin/env bash
# qmrctl provision in real time against three qmrsim instances: each port plays a stream of
# modules (an emulator stopped and started again with other serial numbers is the next
# module), qmrctl is killed with SIGKILL in the middle of the stream and started again on the
# same record, and at the end every ID was given once, in order, and each module holds the IDs
# the record gives it.
#   provision.sh QMRCTL QMRSIM
set -uo pipefail
QMRCTL=${1:?usage: provision.sh QMRCTL QMRSIM}
QMRSIM=${2:?usage: provision.sh QMRCTL QMRSIM}
WORK=$(mktemp -d /tmp/qmr-provision.XXXXXX)
PORTS=(a b c)
declare -A SIM
CTL=
FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
cleanup() {
  for p in "${PORTS[@]}"; do
    [ -n "${SIM[$p]-}" ] && kill "${SIM[$p]}" 2>/dev/null && wait "${SIM[$p]}" 2>/dev/null
  done
  [ -n "$CTL" ] && kill -9 "$CTL" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# The settings file maps no COM number to a device, so no real port is ever touched.
printf '[Ports]\n' >"$WORK/conf.ini"
for n in $(seq 1 16); do printf 'COM%d=\n' "$n" >>"$WORK/conf.ini"; done

# serial PORT N READER: the serial number of a reader of the Nth module on PORT, e.g. 20251210.
serial() {
  local digit
  case $1 in a) digit=1 ;; b) digit=2 ;; *) digit=3 ;; esac
  printf '2025%d%d%s' "$digit" "$2" "$3"
}
# plug PORT N: the Nth module on PORT (its emulator, with serial numbers of its own).
plug() {
  local p=$1 n=$2
  "$QMRSIM" --link "$WORK/$p" --serial1 "$(serial "$p" "$n" 10)" --serial2 "$(serial "$p" "$n" 21)" \
    --state "$WORK/$p.$n.json" >/dev/null 2>&1 &
  SIM[$p]=$!
  for _ in $(seq 50); do [ -e "$WORK/$p" ] && return 0; sleep 0.1; done
  fail "qmrsim for $p $n did not start"
}
unplug() { # unplug PORT
  kill "${SIM[$1]}" 2>/dev/null
  wait "${SIM[$1]}" 2>/dev/null
  SIM[$1]=
}
serial1of() { serial "$1" "$2" 10; }
# handled PORT N: the record has this module's outcome, or qmrctl left it alone.
handled() {
  local s
  s=$(serial1of "$1" "$2")
  [ -n "$(jq -R --arg s "$s" 'fromjson? | select(.serial1 == $s and .outcome != "started")' \
    "$WORK/record.jsonl" 2>/dev/null)" ] ||
    grep -q "already in the record: $s" "$WORK"/out.* 2>/dev/null
}
wait_handled() { # wait_handled PORT N [SECONDS]
  for _ in $(seq $((${3:-30} * 10))); do handled "$1" "$2" && return 0; sleep 0.1; done
  fail "module $2 on port $1 was not handled"
  return 1
}
start_qmrctl() { # start_qmrctl RUN
  "$QMRCTL" --config "$WORK/conf.ini" provision --ports "$WORK/a,$WORK/b,$WORK/c" \
    --record "$WORK/record.jsonl" --rs485 40 >"$WORK/out.$1" 2>"$WORK/err.$1" &
  CTL=$!
}

# Run 1: the first module on every port, then the second ones, killed with SIGKILL while
# they are being configured.
for p in "${PORTS[@]}"; do plug "$p" 1; done
start_qmrctl 1
for p in "${PORTS[@]}"; do wait_handled "$p" 1; done
for p in "${PORTS[@]}"; do unplug "$p"; plug "$p" 2; done
# Until the first of them is entered in the record: the others may not be yet.
for _ in $(seq 100); do
  grep -q "\"serial1\":\"$(serial1of a 2)\"\|\"serial1\":\"$(serial1of b 2)\"\|\"serial1\":\"$(serial1of c 2)\"" \
    "$WORK/record.jsonl" && break
  sleep 0.05
done
kill -9 "$CTL"
wait "$CTL" 2>/dev/null
CTL=

# Run 2 on the same record: the second modules (done, half done or untouched), then a third.
start_qmrctl 2
for p in "${PORTS[@]}"; do wait_handled "$p" 2; done
for p in "${PORTS[@]}"; do unplug "$p"; plug "$p" 3; done
for p in "${PORTS[@]}"; do wait_handled "$p" 3; done
kill -INT "$CTL"
wait "$CTL"
CODE=$?
CTL=
[ "$CODE" = 0 ] || fail "the resumed run ended with $CODE, expected 0"
grep -q "modules configured" "$WORK/err.2" || fail "no summary: $(cat "$WORK/err.2")"

# The record: every line whole, IDs handed out once and in order across the two runs; a
# module cut off by the kill is finished with the IDs it was given.
if ! jq -e . "$WORK/record.jsonl" >/dev/null; then
  fail "the record holds a line that is no JSON"
fi
STARTED=$(jq -r 'select(.outcome == "started") | "\(.serial1) \(.id1) \(.id2)"' "$WORK/record.jsonl")
EXPECT=1
declare -A GIVEN
while read -r s id1 id2; do
  if [ -n "${GIVEN[$s]-}" ]; then
    [ "${GIVEN[$s]}" = "$id1 $id2" ] || fail "$s started again with $id1/$id2, it had ${GIVEN[$s]}"
    continue
  fi
  GIVEN[$s]="$id1 $id2"
  [ "$id1" = "$EXPECT" ] && [ "$id2" = $((EXPECT + 1)) ] ||
    fail "IDs $id1/$id2 handed out where $EXPECT/$((EXPECT + 1)) were next"
  EXPECT=$((EXPECT + 2))
done <<<"$STARTED"
[ "${#GIVEN[@]}" -ge 6 ] || fail "only ${#GIVEN[@]} modules were started"

# Every module the record gives as done holds its IDs and the asked RS-485 setting; the
# first and third modules of every port are done.
for p in "${PORTS[@]}"; do
  for n in 1 2 3; do
    s=$(serial1of "$p" "$n")
    ok=$(jq -r --arg s "$s" 'select(.serial1 == $s and .outcome == "ok") | "\(.id1) \(.id2)"' \
      "$WORK/record.jsonl" | tail -n 1)
    if [ -z "$ok" ]; then
      [ "$n" = 2 ] || fail "module $n on $p ($s) is not done"
      continue
    fi
    read -r id1 id2 <<<"$ok"
    state=$(jq -r '"\(.reader1.id) \(.reader2.id) \(.rs485)"' "$WORK/$p.$n.json")
    [ "$state" = "$(printf '%02d %02d 2' "$id1" "$id2")" ] ||
      fail "module $n on $p holds '$state', the record gives $id1/$id2"
  done
done

if [ "$FAILURES" -gt 0 ]; then
  echo "--- out.1" >&2; cat "$WORK/out.1" "$WORK/err.1" >&2
  echo "--- out.2" >&2; cat "$WORK/out.2" "$WORK/err.2" >&2
  echo "--- record" >&2; cat "$WORK/record.jsonl" >&2
  exit 1
fi
echo "provision: all checks passed"
