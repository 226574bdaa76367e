#!/usr/bin/env bash
# qmrctl's bash completion in bash with bash-completion loaded, as a user's shell runs it:
# the line is split into words as readline splits it, and the completion function gives the
# candidates for the last word.
#   completion.sh QMRCTL
set -uo pipefail

qmrctl=$1
loader=/usr/share/bash-completion/bash_completion
if [ ! -r "$loader" ]; then
  echo "SKIP: bash-completion is not installed (script/setup installs it)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qmrctl-completion.$$.XXXX")
trap 'rm -rf "$work"' EXIT
XDG_CONFIG_HOME=$work "$qmrctl" --completion bash >"$work/qmrctl" || {
  echo "FAIL: qmrctl --completion bash"
  exit 1
}
# shellcheck disable=SC1090
source "$loader"
source "$work/qmrctl"
complete -p qmrctl >/dev/null || {
  echo "FAIL: the script registers no completion for qmrctl"
  exit 1
}

# The candidates for the end of LINE, sorted, on one line.
candidates() {
  local line=$1 word
  COMP_WORDS=()
  for word in $line; do
    # readline breaks "--lang=b" at the "=" (COMP_WORDBREAKS).
    if [[ $word == *=* ]]; then
      COMP_WORDS+=("${word%%=*}" "=")
      [ -n "${word#*=}" ] && COMP_WORDS+=("${word#*=}")
    else
      COMP_WORDS+=("$word")
    fi
  done
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _qmrctl qmrctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

failures=0
# LINE | the candidates that must be offered | those that must not
check() {
  local line=$1 want=$2 unwanted=${3:-} got w
  got=" $(candidates "$line")"
  for w in $want; do
    [[ $got == *" $w "* ]] || { echo "FAIL: '$line' does not offer $w (offers:$got)"; failures=$((failures + 1)); }
  done
  for w in $unwanted; do
    [[ $got != *" $w "* ]] || { echo "FAIL: '$line' offers $w"; failures=$((failures + 1)); }
  done
}

cd "$work" && touch site.csv
check "qmrctl " "ports scan set-id set-line set-mode factory one-reader poll provision"
check "qmrctl set-" "set-id set-line set-mode" "scan ports"
check "qmrctl --port COM3 s" "scan set-id" "COM3"
check "qmrctl --lang " "en gb big5"
check "qmrctl scan --lang=b" "big5" "en gb"
check "qmrctl poll --" "--count --port --all-lines --json --lang" "--rs485 --ports --record"
check "qmrctl ports --" "--json --trace" "--port --all-lines --count"
check "qmrctl set-mode one --" "--rs485 --port" "--count --mode"
check "qmrctl provision --" "--ports --first-id --mode --rs485 --line --record --again --all-lines" "--port --count"
check "qmrctl provision --mode " "two one"
check "qmrctl set-mode two --rs485 " "24 32 40"
check "qmrctl provision --line 19" "19200,e,8,1 19200,n,8,1" "38400,e,8,1"
check "qmrctl provision --record " "site.csv"
check "qmrctl --config s" "site.csv"
check "qmrctl --json scan " "" "scan ports"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "completion: all checks passed"
