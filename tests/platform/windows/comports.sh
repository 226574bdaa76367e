# Shared by the tests that run Windows programs against the Linux emulator: checks the
# arguments, starts qmrsim copies on pseudo-terminals and links them into the Wine prefix as
# COM ports, and undoes it all when the script ends. Sourced with EXE QMRSIM PREFIX set.

WINE_RUN=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/script/wine-run

if [ -z "$QMRSIM" ]; then
  echo "SKIP: no Linux qmrsim given (configure with -DQMR_HOST_QMRSIM=/path/to/qmrsim)"
  exit 77
fi
if [ ! -x "$QMRSIM" ]; then
  echo "FAIL: qmrsim is not at $QMRSIM (build it in the Linux build first)" >&2
  exit 1
fi
if [ ! -d "$PREFIX/dosdevices" ]; then
  echo "FAIL: no Wine prefix at $PREFIX; make it with script/wineprefix $PREFIX" >&2
  exit 1
fi
WORK=$(mktemp -d)
SIM_PIDS=()
LINKED=()

cleanup() {
  for com in "${LINKED[@]}"; do rm -f "$PREFIX/dosdevices/$com"; done
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SIM_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# start_sim COMNAME qmrsim-options...: a qmrsim whose pseudo-terminal is PREFIX's COMNAME.
start_sim() {
  local com=$1
  shift
  if [ -e "$PREFIX/dosdevices/$com" ] || [ -L "$PREFIX/dosdevices/$com" ]; then
    echo "FAIL: $PREFIX/dosdevices/$com is taken already" >&2
    exit 1
  fi
  "$QMRSIM" --link "$WORK/$com" "$@" >"$WORK/$com.out" 2>&1 </dev/null &
  SIM_PIDS+=($!)
  for _ in $(seq 400); do [ -L "$WORK/$com" ] && break; sleep 0.05; done
  if [ ! -L "$WORK/$com" ]; then
    echo "FAIL: qmrsim made no pseudo-terminal for $com" >&2
    cat "$WORK/$com.out" >&2
    exit 1
  fi
  # The real /dev/pts/N: Wine does not follow a link to a link here.
  ln -s "$(readlink -f "$WORK/$com")" "$PREFIX/dosdevices/$com"
  LINKED+=("$com")
}

wine_run() { "$WINE_RUN" "$PREFIX" "$@"; }
