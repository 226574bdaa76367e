#!/usr/bin/env bash
# The Windows installer under Wine: a silent installation into the default folder and one
# into a folder given with /D=, each checked (files, Start menu, the uninstall entry, the PATH
# left alone, the installed qmrctl.exe runs and tells its version) and then silently
# uninstalled, leaving nothing behind.
#   tests/installer/install.sh SETUP.exe WORKDIR VERSION PROGRAM.exe...
# PROGRAM.exe are the programs as the installer packed them (the built ones, stripped); each
# must be installed unchanged. The test makes
# its own prefix WORKDIR/wineprefix with script/wineprefix (no host serial port mapped) and
# ends that prefix's wineserver when it stops. Exit status 77: no Wine here (skipped).
set -euo pipefail

setup=$(realpath "${1:?usage: install.sh SETUP.exe WORKDIR VERSION PROGRAM.exe...}")
work=${2:?}
version=${3:?}
shift 3
programs=("$@")
[ ${#programs[@]} -gt 0 ] || { echo "install.sh: no programs given" >&2; exit 2; }

root=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v wine >/dev/null; then
  echo "install.sh: wine not found: skipped" >&2
  exit 77
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/wineprefix
trap '"$root/script/wineprefix" --kill "$prefix"' EXIT

out=$work/out.txt err=$work/err.txt
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Runs a Windows program in the prefix; its output lands in $out and $err, never in a pipe.
run() {
  "$root/script/wine-run" "$prefix" "$@" >"$out" 2>"$err" </dev/null
}
show_output() {
  echo "--- stdout:" >&2
  cat "$out" >&2
  echo "--- stderr:" >&2
  cat "$err" >&2
}
# The uninstaller copies itself to the temporary folder, starts the copy and returns at once:
# wait, a minute at most, for what it removes to be gone.
wait_until() {
  local deadline=$((SECONDS + 60))
  until "$@"; do
    if [ $SECONDS -ge $deadline ]; then
      return 1
    fi
    sleep 0.2
  done
}
absent() { [ ! -e "$1" ]; }
no_uninstall_entry() { ! run reg query "$uninstall_key"; }

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qmrconfig'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
drive_c=$prefix/drive_c
start_menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/QMRConfig"
shortcuts=("qmrctl command prompt.lnk" "Read me.lnk" "Uninstall QMRConfig.lnk")
for program in "${programs[@]}"; do
  [ "$(basename "$program")" != qmrconfig.exe ] || shortcuts+=("QMRConfig.lnk")
done

started=$SECONDS
"$root/script/wineprefix" "$prefix"
echo "prefix made in $((SECONDS - started)) s"

run reg query "$environment_key" /v PATH || { show_output; fail "reading the PATH"; }
path_before=$(grep -i 'PATH' "$out" || true)

# One installation: $1 the Windows folder, $2 the same folder on the host, then the installer's
# arguments.
install_and_uninstall() {
  local windir=$1 hostdir=$2
  shift 2
  local started=$SECONDS

  local status=0
  run "$setup" /S "$@" || status=$?
  if [ $status -ne 0 ]; then
    show_output
    fail "silent installation into $windir: exit status $status"
    return
  fi
  echo "installed into $windir in $((SECONDS - started)) s"

  local program name
  for program in "${programs[@]}"; do
    name=$(basename "$program")
    if [ ! -f "$hostdir/$name" ]; then
      fail "$name not installed in $windir"
    elif ! cmp -s "$program" "$hostdir/$name"; then
      fail "$windir\\$name is not the built $name"
    fi
  done
  [ -f "$hostdir/Uninstall.exe" ] || fail "no Uninstall.exe in $windir"
  if [ ! -f "$hostdir/readme.txt" ]; then
    fail "no readme.txt in $windir"
  else
    grep -q "QMRConfig $version for Windows" "$hostdir/readme.txt" ||
      fail "readme.txt does not name version $version"
    grep -q $'\r$' "$hostdir/readme.txt" || fail "readme.txt has no Windows line ends"
  fi
  local shortcut
  for shortcut in "${shortcuts[@]}"; do
    [ -f "$start_menu/$shortcut" ] || fail "no Start-menu entry \"$shortcut\""
  done

  status=0
  run "$windir\\qmrctl.exe" --version || status=$?
  if [ $status -ne 0 ]; then
    show_output
    fail "installed qmrctl.exe --version: exit status $status"
  elif ! grep -q "^qmrctl $version" "$out"; then
    show_output
    fail "installed qmrctl.exe --version does not print \"qmrctl $version\""
  fi

  if ! run reg query "$uninstall_key"; then
    show_output
    fail "no uninstall entry $uninstall_key"
  else
    # reg prints each value as "    NAME    TYPE    DATA".
    local value
    for value in "DisplayName|QMRConfig" "DisplayVersion|$version" "Publisher|TAVEX" \
      "UninstallString|\"$windir\\Uninstall.exe\""; do
      tr -d '\r' <"$out" | grep -Fxq "    ${value%%|*}    REG_SZ    ${value#*|}" ||
        fail "the uninstall entry lacks ${value%%|*} = ${value#*|}"
    done
  fi

  run reg query "$environment_key" /v PATH || true
  [ "$(grep -i 'PATH' "$out" || true)" = "$path_before" ] || fail "the installer changed the PATH"

  started=$SECONDS
  status=0
  run "$windir\\Uninstall.exe" /S || status=$?
  if [ $status -ne 0 ]; then
    show_output
    fail "silent uninstallation from $windir: exit status $status"
  fi
  wait_until absent "$hostdir" || fail "$windir still there a minute after uninstalling"
  wait_until absent "$start_menu" || fail "the Start-menu folder stays after uninstalling"
  # The uninstaller removes its entry last.
  wait_until no_uninstall_entry || fail "the uninstall entry stays after uninstalling"
  echo "uninstalled from $windir in $((SECONDS - started)) s"
}

install_and_uninstall 'C:\Program Files\TAVEX\QMRConfig' "$drive_c/Program Files/TAVEX/QMRConfig"
[ ! -e "$drive_c/Program Files/TAVEX" ] || fail "the empty TAVEX folder stays after uninstalling"

# /D= must come last and unquoted, so a folder without spaces (Wine would quote the argument).
mkdir -p "$drive_c/Tools"
install_and_uninstall 'C:\Tools\QMR' "$drive_c/Tools/QMR" '/D=C:\Tools\QMR'
[ -d "$drive_c/Tools" ] || fail "the uninstaller removed the folder above its own"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installer: installed, ran and uninstalled silently, twice"
