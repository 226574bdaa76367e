#!/usr/bin/env bash
# The native window under Wine, worked from outside as a person would: qmrconfig.exe on a
# virtual X display, the Linux emulator on the prefix's COM3, and qmrdriver.exe reading and
# working the controls by ID. The outcome is judged by the window's controls, the registry
# and the emulator's state file. Screenshots of English and Chinese go to the artefacts.
# Last, the same at 144 DPI: the in-process tests again, the layout scaled, screenshots.
# First the window's in-process tests (tst_tfrmmodule.exe, which need a display as well).
#   window.sh qmrconfig.exe qmrdriver.exe QMRSIM WORKDIR ARTEFACTS [tst_tfrmmodule.exe]
# Exits 77 (skipped) without Xvfb, Wine or the Linux emulator.
set -u
QMRCONFIG=$1
DRIVER=$2
QMRSIM=$3
WORK=$4
ARTEFACTS=$5
UNIT_TESTS=${6:-}
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in Xvfb xdpyinfo wine; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -n "$QMRSIM" ] && [ -x "$QMRSIM" ] || skip "no Linux emulator (configure with -DQMR_HOST_QMRSIM=...)"

rm -rf "$WORK"
mkdir -p "$WORK" "$ARTEFACTS"
WORK=$(cd "$WORK" && pwd)
PREFIX=$WORK/wineprefix
FAILURES=0
XVFB="" SIM="" APP=""

cleanup() {
  [ -n "$APP" ] && kill "$APP" 2>/dev/null
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null
  "$SOURCE/script/wineprefix" --kill "$PREFIX"
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

# A free display; the prefix is made on it, so Wine's desktop process draws there.
DISP=""
for n in $(seq 141 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then DISP=":$n"; break; fi
done
[ -n "$DISP" ] || skip "no free X display number"
# Room for the window at 144 DPI, and at 192 DPI in the in-process tests (1120 x 850 and its
# frame): a window is kept within the size of the screen.
Xvfb "$DISP" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
for _ in $(seq 1 50); do xdpyinfo -display "$DISP" >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo -display "$DISP" >/dev/null 2>&1 || skip "Xvfb did not start"
export DISPLAY=$DISP
"$SOURCE/script/wineprefix" "$PREFIX" || { echo "FAILED: no Wine prefix"; exit 1; }
export WINEPREFIX=$PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

fail() { echo "FAILED: $*"; FAILURES=$((FAILURES + 1)); }
# The emulator stands in for a module, which answers in time however busy the PC is; on a
# loaded machine it runs at a higher priority where that is allowed, and so does the program.
FIRST=()
nice -n -5 true 2>/dev/null && [ -z "$(nice -n -5 true 2>&1)" ] && FIRST=(nice -n -5)
# One step of the driver; its output (through a file, never a pipe) on standard output.
drv() {
  wine "$DRIVER" "$@" >"$WORK/driver.out" 2>"$WORK/driver.err" </dev/null
  local status=$?
  tr -d '\r' <"$WORK/driver.out"
  return $status
}
# expect VALUE STEP ARGS...: the driver's output must be VALUE.
expect() {
  local want=$1
  shift
  local got
  got=$(drv "$@")
  [ "$got" = "$want" ] || fail "$*: '$got', expected '$want'"
}
# expect_in PART STEP ARGS...: the driver's output must contain PART.
expect_in() {
  local part=$1
  shift
  local got
  got=$(drv "$@")
  case $got in *"$part"*) ;; *) fail "$*: '$got' does not contain '$part'" ;; esac
}
step() { drv "$@" >/dev/null || fail "$*: $(cat "$WORK/driver.out")"; }

start_app() {
  "${FIRST[@]}" wine "$QMRCONFIG" >"$WORK/qmrconfig.log" 2>&1 </dev/null &
  APP=$!
  drv find 20 >/dev/null || { fail "the window did not appear"; exit 1; }
  sleep 0.5
}
# Exit is the way out: the program ends with code 0.
exit_app() {
  step click btnExit
  for _ in $(seq 1 100); do kill -0 "$APP" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$APP" 2>/dev/null; then fail "Exit did not end the program"; return; fi
  wait "$APP"
  local code=$?
  APP=""
  [ "$code" -eq 0 ] || fail "qmrconfig ended with $code"
  expect "" gone
}
# The emulator on a pseudo-terminal, mapped as COM3 of the prefix.
start_sim() {
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null && wait "$SIM" 2>/dev/null
  rm -f "$WORK/state.json" "$WORK/ttyQMR"
  "${FIRST[@]}" "$QMRSIM" --link "$WORK/ttyQMR" --state "$WORK/state.json" --log "$WORK/sim-frames.log" "$@" >"$WORK/sim.log" 2>&1 &
  SIM=$!
  for _ in $(seq 1 50); do [ -e "$WORK/ttyQMR" ] && break; sleep 0.1; done
  [ -e "$WORK/ttyQMR" ] || { fail "the emulator did not start"; exit 1; }
  ln -sfn "$(readlink -f "$WORK/ttyQMR")" "$PREFIX/dosdevices/com3"
}
state() { tr -d ' \n' <"$WORK/state.json" 2>/dev/null; }
# expect_state REGEX: the emulator's last state (compact JSON) matches.
expect_state() {
  state | grep -Eq "$1" || fail "emulator state does not match $1: $(state)"
}
# operate BUTTON NAME: clicks a setting button and waits for "NAME Ok". On a loaded machine
# the emulator may answer a frame too late; a setting that ends in "NAME Error" is tried once
# more, and said so, before the check fails.
operate() {
  local button=$1 name=$2 got
  for attempt in 1 2; do
    step click "$button"
    got=$(drv wait-any pnMsg 60 "$name Ok" "$name Error")
    case $got in
      *"$name Ok"*) return 0 ;;
      *"$name Error"*) echo "note: $name ended in an error (attempt $attempt)" ;;
      *) fail "$name did not end: $got"; return 1 ;;
    esac
  done
  fail "$name: $got"
}
shot() {
  command -v import >/dev/null && import -window root "$ARTEFACTS/$1" 2>/dev/null ||
    echo "note: no screenshot $1 (ImageMagick's import)"
}

# The display's DPI as Windows' display settings set it; programs started after it take it.
# (On a busy machine Wine now and then fails to start reg.exe at all, "Application could not
# be started": that start is tried again, up to three times.)
set_dpi() {
  local key try
  for key in 'HKCU\Control Panel\Desktop' \
    'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    for try in 1 2 3; do
      wine reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >"$WORK/reg.out" 2>&1 </dev/null &&
        break
      grep -q "could not be started" "$WORK/reg.out" && [ "$try" -lt 3 ] && sleep 1 && continue
      fail "LogPixels $1: $(tr -d '\r' <"$WORK/reg.out")"
      break
    done
  done
}
unit_tests() {
  [ -n "$UNIT_TESTS" ] || return 0
  echo "== the window in its test program's process at $1 DPI"
  QMR_TEST_DPI=$1 wine "$UNIT_TESTS" >"$WORK/unit.log" 2>&1 </dev/null || { tr -d '\r' <"$WORK/unit.log"; fail "tst_tfrmmodule at $1 DPI"; }
  grep -a "PASSED\|FAILED" "$WORK/unit.log" | tr -d '\r'
}

set_dpi 96
unit_tests 96

echo "== start-up: every box, every caption, the first selections"
step regclear
start_app
expect "TAVEX QLN-72RT Module Config V3.20-01" find 1
step layout 96 || drv layout 96
expect "Start Scan Module!" text pnMsg
expect "S/N : ________-_" text pnSerial
expect "VER : __.__-__" text pnVersion
expect "Scan Module" text btnScan
expect "ID 1:" text lblID
expect "ID 2:" text lblID2
expect "__" text pnID
expect "__" text pnID2
expect "Set Module ID" text btnID
expect "BaudRate:" text lblBaudRate
expect "Set Module Baud Rate (Reset)" text btnBaudRate
expect "Set Module Mode" text btnMode
expect "Process Module" text btnProcess
expect "Quick Setting" text gbDefault
expect "Default" text tsDefault
expect "(Factory Default)" text btnFactory
expect "(One Reader)" text btnOne
expect "English" text btnEng
expect "Exit" text btnExit
expect_in "TAVEX Technology Corp.   " text pnTAVEX
expect "" text pnQMR1
expect "" text pnQMR2
expect "4800,n,8,1|4800,e,8,1|9600,n,8,1|9600,e,8,1|19200,n,8,1|19200,e,8,1|38400,n,8,1|38400,e,8,1|57600,n,8,1|57600,e,8,1|115200,n,8,1|115200,e,8,1" items cmbBaudRate
expect 5 cursel cmbBaudRate
expect "19200,e,8,1" text cmbBaudRate
expect "Two Reader|One Reader" items cmbMode
expect 0 cursel cmbMode
expect "RS485 24|RS485 32|RS485 40" items cmbRS485
expect 1 cursel cmbRS485
expect 1 check chkLock
expect "1 99" range sbID
expect "1 99" range sbID2
expect 1 pos sbID
expect red text shComm
expect ff0000 pixel shComm 11 10
expect btnScan focus

echo "== the ID scroll bars: step 1, page 10, stops at 1 and 99"
step scroll sbID lineright
expect 02 text pnID
step scroll sbID pageright
expect 12 text pnID
step scroll sbID right
expect 99 text pnID
step scroll sbID lineright
expect 99 pos sbID
step scroll sbID left
expect 01 text pnID
step scroll sbID pageleft
expect 1 pos sbID
expect "__" text pnID2

echo "== the window refuses to close from outside; the process goes on"
step close
step sysclose
step altf4
sleep 1
kill -0 "$APP" 2>/dev/null || fail "WM_CLOSE ended the program"
expect "TAVEX QLN-72RT Module Config V3.20-01" find 1

echo "== languages switch at once and are remembered"
step click btnGB
drv wait-text frmModule "转换模组设定程式" 5 >/dev/null || fail "no Simplified title: $(cat "$WORK/driver.out")"
expect "TAVEX QLN-72RT 转换模组设定程式 V3.20-01" text frmModule
expect "请先扫描模组!" text pnMsg
expect "序号 : ________-_" text pnSerial
expect "(出厂预设)" text btnFactory
expect "结束" text btnExit
expect "English" text btnEng
expect "Two Reader|One Reader" items cmbMode
expect "01" text pnID
expect ChineseGB regget LanguageFlag
sleep 0.5
shot window-win32-chinese.png
step click btnBIG5
drv wait-text frmModule "轉換模組設定程式" 5 >/dev/null || fail "no Traditional title"
expect "請先掃描模組!" text pnMsg
expect "結束" text btnExit
expect ChineseBIG5 regget LanguageFlag
exit_app
start_app
expect "TAVEX QLN-72RT 轉換模組設定程式 V3.20-01" find 1
expect "結束" text btnExit
expect "編號 1:" text lblID
step click btnEng
drv wait-text btnExit "Exit" 5 >/dev/null || fail "English did not come back"
expect "Start Scan Module!" text pnMsg
expect English regget LanguageFlag

echo "== the tab order; Enter on a focused button presses it"
expect btnEng focus
for name in btnGB btnBIG5 sbID2 cmbRS485 chkLock btnScan sbID btnID cmbBaudRate btnBaudRate \
  cmbMode btnMode btnProcess btnExit btnFactory btnOne btnEng; do
  step key tab
  expect "$name" focus
done
step key tab
expect btnGB focus
step key return
drv wait-text btnExit "结束" 5 >/dev/null || fail "Enter on btnGB did not press it"
step click btnEng
drv wait-text btnExit "Exit" 5 >/dev/null || fail "English did not come back"

echo "== a locked scan (Enter, focus on a list, presses Scan) finds the module on COM3"
start_sim --serial1 QA000001 --serial2 QB000002 --version 03.20-01 --id1 01 --id2 05 \
  --data1 CARD-0001 --data2 CARD-0002
for _ in 1 2 3 4; do step key tab; done
expect cmbRS485 focus
step key return
drv wait-text pnMsg "Get Module Info Ok" 60 >/dev/null || fail "locked scan: $(cat "$WORK/driver.out")"
expect_in "#3" text pnMsg
expect_in "QA000001" text pnSerial
expect_in "03.20-01" text pnVersion
expect 01 text pnID
expect 05 text pnID2
expect yellow text shComm
expect ffff00 pixel shComm 11 10
expect 3 regget ScanCommNo
expect 5 regget ScanBaudRateNo
expect "19200,e,8,1" regget ScanBaudRate
expect 1 enabled frmModule

echo "== process mode started and stopped, the readers' data shown"
step click btnProcess
drv wait-text btnProcess "Cancel Process Module" 10 >/dev/null || fail "process mode did not start"
drv wait-text pnQMR1 "CARD-0001" 10 >/dev/null || fail "no data of reader 1: $(cat "$WORK/driver.out")"
drv wait-text pnQMR2 "CARD-0002" 10 >/dev/null || fail "no data of reader 2: $(cat "$WORK/driver.out")"
expect 0 enabled btnExit
expect 0 enabled btnScan
expect 0 enabled btnGB
expect 0 enabled btnFactory
expect 1 enabled btnProcess
shot window-win32-process.png
# Still running: a poll the emulator left unanswered would have ended it before the click.
expect "Cancel Process Module" text btnProcess
step click btnProcess
drv wait-not-text btnProcess "Cancel" 10 >/dev/null || fail "process mode did not stop"
expect "Process Module" text btnProcess
expect yellow text shComm
expect 1 enabled btnExit
expect 1 enabled btnFactory
expect 1 enabled btnScan

echo "== Set Module ID writes both IDs"
step scroll sbID pageright
step scroll sbID lineright
step scroll sbID2 right
expect 12 text pnID
expect 99 text pnID2
operate btnID "Set Module ID"
expect_state '"reader1":\{[^}]*"id":"12"'
expect_state '"reader2":\{[^}]*"id":"99"'
expect 1 enabled frmModule

echo "== an unlocked scan sweeps the line settings and remembers the one found"
start_sim --line 38400,n,8,1 --id1 21 --id2 22
step click chkLock
expect 0 check chkLock
step click btnScan
drv wait-text pnMsg "Get Module Info Ok" 120 >/dev/null || fail "unlocked scan: $(cat "$WORK/driver.out")"
expect 21 text pnID
expect 22 text pnID2
expect 6 cursel cmbBaudRate
expect 3 regget ScanCommNo
expect 6 regget ScanBaudRateNo
expect "38400,n,8,1" regget ScanBaudRate
shot window-win32-english.png

echo "== Factory Default sets the module back"
operate btnFactory "Set Factory Default"
expect_state '"line":"19200,e,8,1"'
expect_state '"reader1":\{[^}]*"id":"01"'
expect_state '"reader2":\{[^}]*"id":"05"'
expect_state '"mode":"0"'

echo "== a reply field that is no number: a message box, then the window is idle again"
start_sim --line 38400,n,8,1 --serial1 QA00000X
step click btnScan
drv wait-any pnMsg 60 "Get Module Info Error" "Get Module Info Ok" >/dev/null
expect_in "Get Module Info Error" text pnMsg
for _ in $(seq 1 50); do drv messagebox >/dev/null && break; sleep 0.2; done
expect_in "TAVEX QLN-72RT Module Config: " messagebox
expect_in "X" messagebox dismiss
sleep 0.5
drv messagebox >/dev/null && fail "the message box is still open"
expect 1 enabled frmModule
expect 1 enabled btnScan
expect red text shComm

echo "== process mode goes on while the mouse holds the ID scroll bar's arrow"
# Holding a scroll-bar arrow runs the scroll bar's own modal loop: the window's message
# processing does not come back until the button is let go. A reply that comes meanwhile must
# be read when it does, not be judged late. The emulator answers after 60 ms, as a slow line
# would, so a hold is likely to begin while a reply is awaited; the hold is on the left arrow
# of IDs at their lowest, so the polled ID stays what the module has.
hold_arrow() {
  local point
  point=$(drv arrow-point sbID left) || { fail "no arrow point: $point"; return; }
  # shellcheck disable=SC2086
  xdotool mousemove $point mousedown 1
  sleep 2
  xdotool mouseup 1
}
if command -v xdotool >/dev/null; then
  rm -f "$WORK/sim-frames.log"
  start_sim --line 38400,n,8,1 --fault-delay 60
  step click btnScan
  drv wait-text pnMsg "Get Module Info Ok" 60 >/dev/null || fail "scan before the hold: $(cat "$WORK/driver.out")"
  expect 1 pos sbID
  step click btnProcess
  drv wait-text btnProcess "Cancel Process Module" 10 >/dev/null || fail "process mode did not start"
  sleep 1
  hold_started=$(date +%s%N)
  for hold in 1 2 3; do
    hold_arrow
    sleep 0.7
  done
  hold_ended=$(date +%s%N)
  expect "Cancel Process Module" text btnProcess
  expect 1 pos sbID
  step click btnProcess
  drv wait-not-text btnProcess "Cancel" 10 >/dev/null || fail "process mode did not stop"
  # The polls as the module heard them: no gap longer than a hold (2 s) and a margin, and polls
  # all through the holds.
  awk -F'\t' '$2 == "rx" && $4 ~ /^A[0-9][0-9]F$/ { print $1 }' "$WORK/sim-frames.log" >"$WORK/polls"
  longest=$(awk 'NR > 1 && $1 - last > max { max = $1 - last } { last = $1 } END { print int(max / 1000) }' "$WORK/polls")
  echo "longest gap between polls while holding the arrow: $longest ms"
  [ "$longest" -lt 2600 ] || fail "a gap of $longest ms between polls"
  [ "$(wc -l <"$WORK/polls")" -gt 20 ] || fail "only $(wc -l <"$WORK/polls") polls"
  echo "holds took $(( (hold_ended - hold_started) / 1000000 )) ms"
else
  fail "xdotool is not installed"
fi

echo "== Exit is the way out"
exit_app

echo "== a real double click on Process Module: the first click starts the mode, the second stops it"
# The mouse on the X display, as a person clicks: the second click comes within the
# double-click time, which a Win32 button reports as a double click rather than a click.
if command -v xdotool >/dev/null; then
  step regset ScanCommNo dword 3
  step regset ScanBaudRateNo dword 5
  step regset ScanBaudRate sz 19200,e,8,1
  start_sim --line 19200,e,8,1 --data1 DOUBLE-01 --data2 DOUBLE-02
  start_app
  expect 1 check chkLock
  step click btnScan
  drv wait-text pnMsg "Get Module Info Ok" 60 >/dev/null || fail "scan before the double click: $(cat "$WORK/driver.out")"
  expect "" text pnQMR1
  read -r X Y <<<"$(drv centre btnProcess)"
  xdotool mousemove --sync "$X" "$Y" click --repeat 2 --delay 80 1
  # The mode polls at least once before it sees the stop: the reader's data shows it ran.
  drv wait-text pnQMR1 "DOUBLE-01" 10 >/dev/null || fail "the double click started no process mode: $(cat "$WORK/driver.out")"
  drv wait-not-text btnProcess "Cancel" 10 >/dev/null || fail "the second click did not stop process mode"
  sleep 1
  expect "Process Module" text btnProcess
  expect yellow text shComm
  expect 1 enabled btnExit
  expect 1 enabled btnScan
  exit_app
else
  echo "note: no xdotool; the double click on Process Module was not tried"
fi

echo "== at 144 DPI: the layout and the fonts scaled, every caption whole"
set_dpi 144
unit_tests 144
start_app
step layout 144 || drv layout 144
expect "Start Scan Module!" text pnMsg
sleep 0.5
shot window-win32-144dpi.png
step click btnBIG5
drv wait-text btnExit "結束" 5 >/dev/null || fail "no Traditional captions at 144 DPI"
sleep 0.5
shot window-win32-144dpi-chinese.png
step click btnEng
drv wait-text btnExit "Exit" 5 >/dev/null || fail "English did not come back at 144 DPI"
exit_app
set_dpi 96

if [ "$FAILURES" -ne 0 ]; then
  echo "FAILED: $FAILURES checks; screenshots in $ARTEFACTS"
  exit 1
fi
echo "PASSED: the native window under Wine; screenshots in $ARTEFACTS"
