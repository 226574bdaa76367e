#!/usr/bin/env bash
# Start-up of qmrconfig on a virtual X display: time from launch until its window is mapped,
# and resident memory once it is shown. Runs it 5 times; needs Xvfb and xdotool.
#   bench/startup.sh [build-dir]
set -u
BUILD=${1:-build}
APP="$BUILD/src/window/qmrconfig"
TMP=$(mktemp -d)
Xvfb :77 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
trap 'kill $XVFB 2>/dev/null; rm -rf "$TMP"' EXIT
export DISPLAY=:77
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
mkdir -p "$TMP/config/TAVEX"
printf '[Ports]\n' >"$TMP/config/TAVEX/QMRConfig.conf"
for run in 1 2 3 4 5; do
  t0=$(date +%s%N)
  XDG_CONFIG_HOME="$TMP/config" XDG_RUNTIME_DIR="$TMP" "$APP" >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --name "QLN-72RT Module Config" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || { echo "qmrconfig ended before its window showed" >&2; exit 1; }
    sleep 0.005
  done
  t1=$(date +%s%N)
  sleep 0.5
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  printf 'run %d: shown after %4d ms, resident %6.1f MB\n' "$run" $(( (t1 - t0) / 1000000 )) \
    "$(echo "$rss / 1024" | bc -l)"
  kill "$pid"; wait "$pid" 2>/dev/null
done
