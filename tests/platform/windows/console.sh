#!/usr/bin/env bash
# qmrctl.exe on a console of its own under Wine (consoleprobe.exe): it turns on what it needs
# while it runs (UTF-8 output, virtual-terminal processing where the console has it), leaves
# no escape sequence shown as text, and gives the console back as it found it (code page 437,
# output mode 0x3) however it ends: normally, stopped by Ctrl-C in process mode, ended by a
# second Ctrl-C, ended by Ctrl-C before process mode.
#   console.sh QMRCTL_EXE QMRSIM PREFIX CONSOLEPROBE_EXE     (exit 77: skipped, no qmrsim)
set -uo pipefail
EXE=${1:?usage: console.sh QMRCTL_EXE QMRSIM PREFIX CONSOLEPROBE_EXE}
QMRSIM=${2-}
PREFIX=${3:?usage: console.sh QMRCTL_EXE QMRSIM PREFIX CONSOLEPROBE_EXE}
PROBE=${4:?usage: console.sh QMRCTL_EXE QMRSIM PREFIX CONSOLEPROBE_EXE}
source "$(dirname "$0")/comports.sh"

# Wine's console draws a window: it needs a display, a virtual one of the test's own.
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
DISP=""
for n in $(seq 191 240); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then DISP=":$n"; break; fi
done
[ -n "$DISP" ] || { echo "SKIP: no free X display number"; exit 77; }
Xvfb "$DISP" -screen 0 800x600x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${DISP#:}" ] && break; sleep 0.1; done
export DISPLAY=$DISP
# A prefix of the test's own, made on that display: a session's desktop process takes the
# display it first sees, and the shared prefix may have started without one.
SOURCE=$(cd "$(dirname "$0")/../../.." && pwd)
PREFIX=$WORK/prefix
"$SOURCE/script/wineprefix" "$PREFIX" >"$WORK/wineprefix.log" 2>&1 ||
  { echo "FAIL: no Wine prefix"; cat "$WORK/wineprefix.log"; exit 1; }
trap '"$SOURCE/script/wineprefix" --kill "$PREFIX"; kill "$XVFB" 2>/dev/null; wait "$XVFB" 2>/dev/null; cleanup' EXIT

FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
# probe WHAT CTRL_C_COUNT DELAY_MS ARGS...: qmrctl ARGS on a console; the report in $WORK/report.
probe() {
  local what=$1
  wine_run "$PROBE" "$2" "$3" "$EXE" "${@:4}" 2>"$WORK/screen" | tr -d '\r' >"$WORK/report"
  echo "== $what"
  cat "$WORK/report"
  echo "-- the screen:"
  tail -n 8 "$WORK/screen"
  grep -q '^before 437 0x3$' "$WORK/report" || fail "$what: the console was not set up: $(cat "$WORK/report")"
  grep -q '^after 437 0x3$' "$WORK/report" || fail "$what: the console was not given back"
  [ "$(awk '$1 == "screen" { print $3 }' "$WORK/report")" = 0 ] ||
    fail "$what: escape sequences shown as text"
}
field() { awk -v k="$1" '$1 == k { print $2 }' "$WORK/report"; }

# A normal end.
probe "help" 0 0 --help
[ "$(field exit)" = 0x0 ] || fail "help: exit $(field exit)"
[ "$(awk '$1 == "screen" { print $2 }' "$WORK/report")" -gt 0 ] || fail "help: nothing shown"

start_sim com3 --log "$WORK/module.log"

# Ctrl-C in process mode stops it; the program ends normally (0). While it ran the console
# had UTF-8 output.
probe "poll, one Ctrl-C" 1 2000 poll
[ "$(field exit)" = 0x0 ] || fail "poll, one Ctrl-C: exit $(field exit)"
[ "$(field during)" = 65001 ] || fail "poll: the output code page while it ran was $(field during)"
grep -c 'A01' "$WORK/module.log" >/dev/null || fail "poll: no poll reached the module"

grep -q 'replies$' "$WORK/screen" || fail "poll, one Ctrl-C: no count of replies at the end"

# A second Ctrl-C while the first is being handled ends the program at once, as Windows' own
# default action would (STATUS_CONTROL_C_EXIT).
probe "poll, two Ctrl-C" 2 2000 poll
[ "$(field exit)" = 0xc000013a ] || fail "poll, two Ctrl-C: exit $(field exit)"
grep -q 'replies$' "$WORK/screen" && fail "poll, two Ctrl-C: it ended normally"

# Ctrl-C before process mode (here in a scan sweep that finds a silent module on COM3) ends the
# program, as the system's default does.
rm -f "$PREFIX/dosdevices/com3"
LINKED=()
start_sim com4 --fault-silent
probe "scan, Ctrl-C" 1 1500 scan --all-lines
[ "$(field exit)" = 0xc000013a ] || fail "scan, Ctrl-C: exit $(field exit), expected the end by Ctrl-C"
grep -q 'Module Not Find' "$WORK/screen" && fail "scan, Ctrl-C: the scan ran to its end"

[ "$FAILURES" -eq 0 ] || exit 1
echo "console: all passed"
