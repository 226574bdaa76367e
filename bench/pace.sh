#!/usr/bin/env bash
# Process mode's pace and CPU, quiet and beside a busy neighbour: the real window (qmrconfig
# on Xvfb, driven by xdotool) and `qmrctl poll`, each against qmrsim on a pseudo-terminal, the
# polls timed where the module hears them (qmrsim's log). Beside each measurement the
# machine's wake-up lateness for a 2 ms sleep is sampled at the same time (build/bench/
# wakelateness): a plain sleeper (default timer slack) and one with the 1 ns slack the clock
# sets. The neighbour is one shell loop spinning at normal priority, ended by `timeout`.
# A benchmark: it measures and prints, it never fails on a figure.
#   bench/pace.sh [BUILD [SECONDS [RUNS]]]      (defaults build, 20 s a measurement, 1 run)
# BUILD may name several build folders ("build ../old/build"): their programs are measured
# in turn under the same conditions, the emulator and the sampler coming from the first.
set -u
cd "$(dirname "$0")/.."
BUILDS=${1:-build}
SECONDS_EACH=${2:-20}
RUNS=${3:-1}
FIRST=${BUILDS%% *}
QMRSIM=$FIRST/src/platform/linux/qmrsim
LATENESS=$FIRST/bench/wakelateness
for tool in Xvfb xdotool xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "pace.sh: $tool is missing: no window figures" >&2; NOWINDOW=1; }
done
TMP=$(mktemp -d /tmp/qmrpace-$$-XXXX)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  if [ -n "${KEEP:-}" ]; then echo "files kept in $TMP"; else rm -rf "$TMP"; fi
}
trap cleanup EXIT

# CPU ticks (user + system) of a process.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Figures of the poll frames qmrsim heard between two line counts of its log:
# "polls mean_ms min_ms median_ms".
gaps() {
  sed -n "$(($1 + 1)),$2p" "$TMP/sim.log" |
    awk -F'\t' '$2 == "rx" && $4 ~ /^A[0-9_][0-9_]F$/ && $5 ~ /accepted$/ { print $1 }' |
    awk 'NR > 1 { g = ($1 - last) / 1000.0; print g } { last = $1 }' | sort -n |
    awk '{ v[NR] = $1; s += $1 } END { if (NR < 2) { print "0 0 0 0"; exit }
           printf "%d %.3f %.3f %.3f\n", NR + 1, s / NR, v[1], v[int((NR + 1) / 2)] }'
}

lines() { wc -l <"$TMP/sim.log"; }

# One measurement of a running process mode (pid $1) for SECONDS_EACH, with the lateness
# sampled beside it; prints one row.
measure() {
  local what=$1 pid=$2 load=$3
  "$LATENESS" "$SECONDS_EACH" >"$TMP/late-plain" &
  local lp=$!
  "$LATENESS" "$SECONDS_EACH" --min-slack >"$TMP/late-min" &
  local lm=$!
  local l0 c0 t0 l1 c1 t1
  l0=$(lines); c0=$(ticks "$pid"); t0=$(date +%s%N)
  sleep "$SECONDS_EACH"
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$lp" "$lm"
    echo "$what $BUILD $load: process mode ended during the measurement"
    return
  fi
  l1=$(lines); c1=$(ticks "$pid"); t1=$(date +%s%N)
  wait "$lp" "$lm"
  read -r n mean min median < <(gaps "$l0" "$l1")
  read -r plainMed plainP99 plainMean _ <"$TMP/late-plain"
  read -r minMed minP99 minMean _ <"$TMP/late-min"
  awk -v what="$what $BUILD" -v load="$load" -v n="$n" -v mean="$mean" -v min="$min" -v med="$median" \
      -v cpu="$((c1 - c0))" -v hz="$(getconf CLK_TCK)" -v wall="$((t1 - t0))" \
      -v pm="$plainMed" -v p99="$plainP99" -v pmean="$plainMean" -v mm="$minMed" -v m99="$minP99" \
      -v mmean="$minMean" \
      -v avg="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
        beyond = mean - 49; allow = 6 * pm / 1000 + 0.2
        printf "%-14s %-6s %4d polls  %.3f ms a poll (median %.3f, closest %.3f)  beyond %.3f ms  allowance %.3f ms  ratio %.4f  CPU %.2f %%  lateness plain %.0f/%.0f/%.0f us, min slack %.0f/%.0f/%.0f us (median/99 %%/mean)  load %s\n",
               what, load, n, mean, med, min, beyond, allow, 49 / mean, cpu / hz * 1e9 / wall * 100,
               pm, p99, pmean, mm, m99, mmean, avg }'
}

# qmrctl polling the emulator on COM2 until it is interrupted.
runQmrctl() {
  local load=$1
  "$BUILD/src/platform/unix/qmrctl" --config "$TMP/qmrctl.conf" --port COM2 poll >"$TMP/poll.out" 2>&1 &
  local pid=$!
  for _ in $(seq 100); do grep -q "polling" "$TMP/poll.out" && break; sleep 0.1; done
  sleep 1
  measure qmrctl "$pid" "$load"
  kill -INT "$pid" 2>/dev/null || { echo "qmrctl ended early:"; tail -n 3 "$TMP/poll.out"; }
  wait "$pid" 2>/dev/null
}

# The window: lock box, Scan (the remembered port answers at once), Process Module; measured;
# Process Module again to stop; the program ended.
runWindow() {
  local load=$1
  XDG_CONFIG_HOME="$TMP/config" XDG_RUNTIME_DIR="$TMP" QT_QPA_PLATFORM=xcb "$BUILD/src/window/qmrconfig" \
    >"$TMP/qmrconfig.log" 2>&1 &
  local app=$! wid=""
  for _ in $(seq 100); do
    wid=$(xdotool search --name "QLN-72RT Module Config" 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || { echo "window: did not appear"; kill "$app"; return; }
  sleep 0.5
  local before
  before=$(grep -c "A00N" "$TMP/sim.log")
  xdotool mousemove --window "$wid" 180 94 click 1
  for _ in $(seq 100); do [ "$(grep -c "A00N" "$TMP/sim.log")" -gt "$before" ] && break; sleep 0.1; done
  sleep 0.5
  before=$(grep -c "A01F" "$TMP/sim.log")
  xdotool mousemove --window "$wid" 180 384 click 1
  for _ in $(seq 30); do [ "$(grep -c "A01F" "$TMP/sim.log")" -gt "$before" ] && break; sleep 0.1; done
  if [ "$(grep -c "A01F" "$TMP/sim.log")" -eq "$before" ]; then
    echo "window $BUILD $load: process mode did not start"; kill "$app"; wait "$app" 2>/dev/null
    return
  fi
  sleep 1
  measure window "$app" "$load"
  xdotool mousemove --window "$wid" 180 384 click 1
  sleep 0.5
  kill "$app"; wait "$app" 2>/dev/null
}

# The emulator stands in for a module, a device of its own that the PC's load does not slow:
# it runs at a real-time priority where it may (it works a few microseconds a frame), so its
# stamps carry little of the machine's noise and it never misses a frame the neighbour held up.
PRIORITY=()
if chrt -f 10 true 2>/dev/null; then PRIORITY=(chrt -f 10)
elif nice -n -10 true 2>/dev/null; then PRIORITY=(nice -n -10); fi
"${PRIORITY[@]}" "$QMRSIM" --link "$TMP/ttyQMR" --log "$TMP/sim.log" >"$TMP/sim.out" 2>&1 </dev/null &
PIDS+=($!)
for _ in $(seq 100); do [ -e "$TMP/ttyQMR" ] && break; sleep 0.05; done
mkdir -p "$TMP/config/TAVEX"
{
  echo "[QMRConfig]"; echo "ScanCommNo=2"; echo "ScanBaudRate=19200,e,8,1"; echo "ScanBaudRateNo=5"
  echo "[Ports]"; echo "COM2=$TMP/ttyQMR"
} >"$TMP/config/TAVEX/QMRConfig.conf"
cp "$TMP/config/TAVEX/QMRConfig.conf" "$TMP/qmrctl.conf"

if [ -z "${NOWINDOW:-}" ]; then
  DISP=""
  for n in $(seq 141 190); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then DISP=":$n"; break; fi
  done
  Xvfb "$DISP" -screen 0 800x600x24 -nolisten tcp >"$TMP/xvfb.log" 2>&1 &
  PIDS+=($!)
  export DISPLAY=$DISP
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

echo "process mode, 49 ms floor a poll; $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-); emulator at ${PRIORITY[*]:-normal priority}"
for run in $(seq "$RUNS"); do
  for load in quiet busy; do
    if [ "$load" = busy ]; then
      timeout $((8 * SECONDS_EACH + 60)) bash -c 'while :; do :; done' &
      NEIGHBOUR=$!
      sleep 1
    fi
    for BUILD in $BUILDS; do
      [ -z "${NOWINDOW:-}" ] && runWindow "$load"
      runQmrctl "$load"
    done
    if [ "$load" = busy ]; then kill "$NEIGHBOUR" 2>/dev/null; wait "$NEIGHBOUR" 2>/dev/null; fi
  done
done
