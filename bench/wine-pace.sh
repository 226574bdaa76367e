#!/usr/bin/env bash
# Process-mode pace of the Windows build under Wine: qmrctl.exe polls a qmrsim on COM3 (a
# pseudo-terminal) and the polls are timed where the module hears them, from qmrsim's log.
# The floor is the pause between polls (20 slices of 2 ms) plus a frame's pauses (9 ms):
# 49 ms a poll. Each run polls on a quiet machine, then beside a busy neighbour (one shell
# loop spinning at normal priority, ended by `timeout`), with the machine's wake-up lateness
# for a 2 ms sleep sampled at the same time (build/bench/wakelateness, a plain sleeper).
# A benchmark: it measures and prints, it never fails on a figure.
#   bench/wine-pace.sh [WIN_BUILD [LINUX_BUILD [POLLS [RUNS]]]]
#   (defaults build-win, build, 400 polls, 2 runs; QMRCTL=path runs another qmrctl.exe;
#   LOADS="quiet" skips the neighbour)
set -euo pipefail
cd "$(dirname "$0")/.."
WIN=${1:-build-win}
LIN=${2:-build}
POLLS=${3:-400}
RUNS=${4:-2}
QMRCTL=${QMRCTL:-$WIN/src/platform/windows/qmrctl.exe}
QMRSIM=$LIN/src/platform/linux/qmrsim
LATENESS=$LIN/bench/wakelateness
LOADS=${LOADS:-quiet busy}
TMP=$(mktemp -d)
PREFIX=$TMP/prefix
SIM=
cleanup() {
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null && wait "$SIM" 2>/dev/null
  script/wineprefix --kill "$PREFIX" >/dev/null 2>&1 || true
  rm -rf "$TMP"
}
trap cleanup EXIT

script/wineprefix "$PREFIX" >/dev/null
# The emulator stands in for a module, which the PC's load does not slow (see bench/pace.sh).
PRIORITY=()
if chrt -f 10 true 2>/dev/null; then PRIORITY=(chrt -f 10)
elif nice -n -10 true 2>/dev/null; then PRIORITY=(nice -n -10); fi
"${PRIORITY[@]}" "$QMRSIM" --link "$TMP/com3" --log "$TMP/sim.log" >"$TMP/sim.out" 2>&1 </dev/null &
SIM=$!
for _ in $(seq 100); do [ -L "$TMP/com3" ] && break; sleep 0.05; done
ln -s "$(readlink -f "$TMP/com3")" "$PREFIX/dosdevices/com3"

echo "qmrctl.exe poll --count $POLLS under Wine, load $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$RUNS"); do
 for load in $LOADS; do
  NEIGHBOUR=
  if [ "$load" = busy ]; then
    timeout $((POLLS / 10 + 60)) bash -c 'while :; do :; done' &
    NEIGHBOUR=$!
    sleep 1
  fi
  "$LATENESS" "$(echo "$POLLS * 0.05" | bc)" >"$TMP/late" &
  LATE=$!
  : >"$TMP/sim.log"
  # CPU time of the program (Wine's own server runs apart and is not counted).
  cpu0=$(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
  t0=$(date +%s%N)
  script/wine-run "$PREFIX" "$QMRCTL" --port COM3 poll --count "$POLLS" >"$TMP/poll.out" 2>&1 ||
    { echo "poll failed:"; cat "$TMP/poll.out"; exit 1; }
  cpu1=$(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
  t1=$(date +%s%N)
  cpu=$(echo "($cpu1 - $cpu0) * 100 / $(getconf CLK_TCK) * 1000000000 / ($t1 - $t0)" | bc -l)
  wait "$LATE"
  read -r lateMed lateP99 lateMean _ <"$TMP/late"
  if [ -n "$NEIGHBOUR" ]; then kill "$NEIGHBOUR" 2>/dev/null; wait "$NEIGHBOUR" 2>/dev/null || true; fi
  # The poll frames the module accepted (A<id>F), their stamps in microseconds.
  awk -F'\t' '$2 == "rx" && $4 ~ /^A[0-9][0-9]F$/ && $5 ~ /accepted$/ { print $1 }' "$TMP/sim.log" |
    awk -v run="$run-$load" -v cpu="$cpu" -v lm="$lateMed" -v lp="$lateP99" -v lmean="$lateMean" '
      NR > 1 { gap[NR - 1] = ($1 - last) / 1000.0 }
      NR == 1 { first = $1 }
      { last = $1 }
      END {
        n = NR - 1
        if (n < 2) { print "run " run ": too few polls"; exit }
        # sort the gaps for the median and the extremes
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (gap[j] < gap[i]) { t = gap[i]; gap[i] = gap[j]; gap[j] = t }
        mean = (last - first) / 1000.0 / n
        printf "run %s: %d polls, %.2f ms a poll (median %.2f, min %.2f, max %.2f), %.2f polls/s, ratio to the 49 ms floor %.3f, %.2f ms beyond it, CPU %.1f %% of a core; a 2 ms sleep wakes %.0f us late (median), %.0f us (99 %%), %.0f us (mean)\n",
               run, n + 1, mean, gap[int((n + 1) / 2)], gap[1], gap[n], 1000.0 / mean, 49.0 / mean, mean - 49, cpu, lm, lp, lmean
      }'
 done
done
