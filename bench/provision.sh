#!/usr/bin/env bash
# Modules provisioned per minute by qmrctl provision with 1, 2, 4 and 8 emulated adapters:
# each adapter is a qmrsim on a pseudo-terminal that, once the record shows its module done,
# is stopped and started again with new serial numbers (the next module plugged in).
# One-reader mode, so the 99 IDs last for the longest run.
#   bench/provision.sh [QMRCTL] [QMRSIM] [SECONDS]      (default build/..., 20 s per count)
# Run it by hand on an otherwise quiet machine; it measures, it never fails a build.
set -uo pipefail
QMRCTL=${1:-build/src/platform/unix/qmrctl}
QMRSIM=${2:-build/src/platform/linux/qmrsim}
SECONDS_PER_RUN=${3:-20}
WORK=$(mktemp -d /tmp/qmr-provbench.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
printf '[Ports]\n' >"$WORK/conf.ini"
for n in $(seq 1 16); do printf 'COM%d=\n' "$n" >>"$WORK/conf.ini"; done

done_in() { # done_in RECORD SERIAL1
  [ -n "$(jq -R --arg s "$2" 'fromjson? | select(.serial1 == $s and .outcome != "started")' \
    "$1" 2>/dev/null)" ]
}
# player DIR PORT: plugs module after module into the adapter PORT until killed.
player() {
  local dir=$1 port=$2 n=0 sim serial
  trap 'kill $sim 2>/dev/null; exit 0' TERM
  while :; do
    n=$((n + 1))
    serial=$(printf '6%02d%05d' "$port" "$n")
    "$QMRSIM" --link "$dir/p$port" --serial1 "$serial" --serial2 "$(printf '7%02d%05d' "$port" "$n")" \
      >/dev/null 2>&1 &
    sim=$!
    until done_in "$dir/record.jsonl" "$serial"; do sleep 0.05; done
    kill "$sim"
    wait "$sim" 2>/dev/null
  done
}

printf '%-9s %-9s %-16s %s\n' adapters modules "modules/minute" "vs one adapter"
BASE=
for count in 1 2 4 8; do
  dir="$WORK/$count"
  mkdir -p "$dir"
  PIDS=()
  ports=
  for p in $(seq 1 "$count"); do
    player "$dir" "$p" &
    PIDS+=($!)
    ports+="${ports:+,}$dir/p$p"
  done
  sleep 0.5
  "$QMRCTL" --config "$WORK/conf.ini" provision --mode one --ports "$ports" \
    --record "$dir/record.jsonl" >/dev/null 2>&1 &
  ctl=$!
  sleep "$SECONDS_PER_RUN"
  kill -INT "$ctl"
  wait "$ctl" 2>/dev/null
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  modules=$(jq -R 'fromjson? | select(.outcome == "ok")' "$dir/record.jsonl" | jq -s length)
  rate=$(awk -v m="$modules" -v s="$SECONDS_PER_RUN" 'BEGIN { printf "%.1f", m * 60 / s }')
  [ -z "$BASE" ] && BASE=$rate
  printf '%-9s %-9s %-16s %s\n' "$count" "$modules" "$rate" \
    "$(awk -v r="$rate" -v b="$BASE" 'BEGIN { printf "%.2fx", (b > 0 ? r / b : 0) }')"
done
