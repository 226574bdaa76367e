#!/usr/bin/env bash
# The Win32 serial port against the Linux emulator: COM3 is a qmrsim at its default line
# setting, COM4 a silent one, COM5 one that answers 60 ms late; runs the GoogleTest program tst_serialdevice.exe under Wine.
#   serialdevice.sh TST_EXE QMRSIM PREFIX     (exit 77: skipped, no qmrsim given)
set -uo pipefail
EXE=${1:?usage: serialdevice.sh TST_EXE QMRSIM PREFIX}
QMRSIM=${2-}
PREFIX=${3:?usage: serialdevice.sh TST_EXE QMRSIM PREFIX}
source "$(dirname "$0")/comports.sh"

start_sim com3
start_sim com4 --fault-silent
start_sim com5 --fault-delay 60
wine_run "$EXE"
