# Sourced by the end-to-end scripts: finds the Windows files, gives each
# script a private Wine prefix, a display and a fresh working folder, starts
# and drives the program through vykprobe, and cleans up on every exit.
# Every wait is bounded; a missing Windows file fails the test.
# Where no 32-bit program runs (Wine's 32-bit loader fails), the same tests
# run the 64-bit build of the same sources under wine64 instead: the 32-bit
# program cannot start there at all.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
VYK_ROOT=$E2E_ROOT
: "${VYK_WIN32_BUILD_DIR:=$E2E_ROOT/build/win32}"
: "${VYK_WIN64_BUILD_DIR:=$E2E_ROOT/build/win64}"
: "${VYK_HOST_BUILD_DIR:=$E2E_ROOT/build/host}"
: "${VYK_E2E_OUT:=$E2E_ROOT/build/e2e-shots}"
: "${VYK_E2E_WINEPREFIX:=$E2E_ROOT/build/e2e-wine}"
export WINEPREFIX=$VYK_E2E_WINEPREFIX
. "$E2E_ROOT/scripts/wine-env.sh"

# E2E_PRESET and E2E_BUILD_DIR: the build whose Windows files run; E2E_WINE:
# the loader that starts them (the scripts call it, never `wine` itself,
# which would pick the 32-bit loader wherever that is installed).
if vyk_wine32_runs; then
  E2E_PRESET=win32
  E2E_BUILD_DIR=$VYK_WIN32_BUILD_DIR
  E2E_WINE=wine
else
  E2E_PRESET=win64
  E2E_BUILD_DIR=$VYK_WIN64_BUILD_DIR
  E2E_WINE=$VYK_WINE64
  export WINELOADER=$VYK_WINE64 WINEARCH=win64
fi

E2E_NAME=${E2E_NAME:-$(basename "$0" .sh)}
E2E_PIDS=()
E2E_STATUS=1

e2e_log() { echo "[$E2E_NAME] $*"; }

e2e_fail() {
  echo "[$E2E_NAME] FAIL: $*" >&2
  e2e_shot "failed" || true
  exit 1
}

# The first file of that name under the build directory of E2E_PRESET.
e2e_find_win_file() {
  local name=$1 found
  if [ ! -d "$E2E_BUILD_DIR" ]; then
    echo "[$E2E_NAME] FAIL: no $E2E_PRESET build directory $E2E_BUILD_DIR (build the $E2E_PRESET preset first)" >&2
    return 1
  fi
  found=$(find "$E2E_BUILD_DIR" -name "$name" -type f -not -path '*/CMakeFiles/*' 2>/dev/null | head -n1)
  if [ -z "$found" ]; then
    echo "[$E2E_NAME] FAIL: $name is missing under $E2E_BUILD_DIR (build the $E2E_PRESET preset first)" >&2
    return 1
  fi
  echo "$found"
}

e2e_find_simctl() {
  if [ -n "${VYKSIMCTL:-}" ] && [ -x "$VYKSIMCTL" ]; then echo "$VYKSIMCTL"; return 0; fi
  local found
  found=$(find "$VYK_HOST_BUILD_DIR" -name vyksimctl -type f -perm -u+x 2>/dev/null | head -n1)
  if [ -z "$found" ]; then
    echo "[$E2E_NAME] FAIL: vyksimctl is missing under $VYK_HOST_BUILD_DIR (build the host preset first)" >&2
    return 1
  fi
  echo "$found"
}

e2e_cleanup() {
  local rc=$?
  # Ends every Wine process of this private prefix, the program included.
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  local p
  for p in "${E2E_PIDS[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  vyk_stop_display
  if [ "$rc" -eq 0 ] && [ -n "${E2E_WORK:-}" ] && [ -z "${VYK_E2E_KEEP:-}" ]; then
    rm -rf "$E2E_WORK"
  elif [ -n "${E2E_WORK:-}" ]; then
    echo "[$E2E_NAME] working folder kept: $E2E_WORK" >&2
  fi
  exit "$rc"
}

# Sets E2E_EXE, E2E_PORTLIB, E2E_SIMLIB, E2E_PROBE, E2E_WORK; starts the
# display and the prefix.
e2e_setup() {
  if [ "$E2E_PRESET" = win64 ]; then
    e2e_log "the 64-bit build of the same sources: this machine runs no 32-bit program ($E2E_BUILD_DIR under $E2E_WINE)"
  fi
  E2E_EXE=$(e2e_find_win_file VYK_UU.exe) || exit 1
  # The 64-bit build has no port library of its own to embed (its program
  # then writes no io.dll): E2E_PORTLIB stays empty there.
  E2E_PORTLIB=
  if [ "$E2E_PRESET" = win32 ]; then
    E2E_PORTLIB=$(e2e_find_win_file vykport32.dll) || exit 1
  fi
  E2E_SIMLIB=$(e2e_find_win_file vyksim.dll) || exit 1
  E2E_PROBE=$(e2e_find_win_file vykprobe.exe) || exit 1
  mkdir -p "$VYK_E2E_OUT" "$E2E_ROOT/build/e2e-work"
  E2E_WORK=$(mktemp -d "$E2E_ROOT/build/e2e-work/$E2E_NAME.XXXXXX")
  trap e2e_cleanup EXIT
  trap 'exit 1' INT TERM
  vyk_start_display || e2e_fail "no display"
  timeout 300 bash -c '. "$1"; vyk_init_prefix' _ "$E2E_ROOT/scripts/wine-env.sh" ||
    e2e_fail "the Wine prefix $WINEPREFIX could not be made"
  # A program left over from an earlier, interrupted run would answer
  # instead of ours.
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  # VYK_E2E_TECHNICIAN=1 (the guide's pictures): the program and its files in
  # C:\VYK_UU of the prefix, the paths a technician's log shows.
  if [ -n "${VYK_E2E_TECHNICIAN:-}" ]; then
    rm -rf "$E2E_WORK"
    E2E_WORK="$WINEPREFIX/drive_c/VYK_UU"
    rm -rf "$E2E_WORK"
    mkdir -p "$E2E_WORK"
  fi
  e2e_log "display $DISPLAY, prefix $WINEPREFIX, work $E2E_WORK"
}

# Windows path of a Unix path (drive Z: is the Unix root in every prefix;
# drive C: its drive_c).
e2e_winpath() {
  local p c="$WINEPREFIX/drive_c/"
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  if [[ $p == "$c"* ]]; then
    p=${p#"$c"}
    echo "C:\\${p//\//\\}"
    return
  fi
  echo "Z:${p//\//\\}"
}

# A fresh folder holding a copy of the program; prints its path.
e2e_new_folder() {
  local dir="$E2E_WORK/$1"
  # A technician's folder holds the program itself.
  [ -n "${VYK_E2E_TECHNICIAN:-}" ] && [ "$1" = app ] && dir=$E2E_WORK
  mkdir -p "$dir"
  cp "$E2E_EXE" "$dir/VYK_UU.exe"
  echo "$dir"
}

# A fresh simulated notebook folder; extra arguments are key=value settings.
e2e_new_sim() {
  local dir="$E2E_WORK/$1" simctl
  shift
  simctl=$(e2e_find_simctl) || exit 1
  timeout 30 "$simctl" init "$dir" >/dev/null || e2e_fail "vyksimctl init $dir failed"
  if [ $# -gt 0 ]; then
    timeout 30 "$simctl" set "$dir" "$@" >/dev/null || e2e_fail "vyksimctl set $* failed"
  fi
  echo "$dir"
}

# Starts the program in FOLDER (its current folder), in the background.
# Sets E2E_APP_PID (the wine launcher's pid) and E2E_APP_RC_FILE.
e2e_start() {
  local dir=$1 simdir=${2:-}
  E2E_APP_RC_FILE="$dir/.exit-code"
  rm -f "$E2E_APP_RC_FILE"
  (
    cd "$dir"
    if [ -n "$simdir" ]; then export VYKSIM_DIR; VYKSIM_DIR=$(e2e_winpath "$simdir"); fi
    rc=0
    "$E2E_WINE" VYK_UU.exe >"$dir/.wine-out" 2>&1 || rc=$?
    echo "$rc" >"$E2E_APP_RC_FILE"
  ) &
  E2E_APP_PID=$!
  E2E_PIDS+=("$E2E_APP_PID")
  probe find 30 >/dev/null || e2e_fail "the window did not appear within 30 s"
}

# Waits up to SECS for the program started last to end; prints its exit code.
e2e_wait_exit() {
  local secs=${1:-30} i
  for i in $(seq $((secs * 10))); do
    if [ -f "$E2E_APP_RC_FILE" ]; then cat "$E2E_APP_RC_FILE"; return 0; fi
    sleep 0.1
  done
  return 1
}

# Runs the probe; its own exit code is passed on.
probe() {
  timeout 180 "$E2E_WINE" "$E2E_PROBE" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# Loads FILE through "Load Bin File" and its open dialog, and waits for the
# line with its length.
e2e_load_image() {
  probe click "Load Bin File" || e2e_fail "cannot press Load Bin File"
  probe open-file "$(e2e_winpath "$1")" || e2e_fail "the open dialog could not be answered"
  probe wait-log "File Length: $(stat -c %s "$1") Byte" 30 >/dev/null || e2e_fail "the load of $1 did not finish"
}

# Saves a screenshot of the whole screen under VYK_E2E_OUT.
e2e_shot() {
  local file="$VYK_E2E_OUT/$E2E_NAME-$1.png"
  if timeout 30 import -window root "$file" 2>/dev/null; then
    e2e_log "screenshot $file"
  fi
}

# The byte at OFFSET (decimal or 0x..) of FILE, as two hex digits.
e2e_byte() {
  od -An -tx1 -j "$(($2))" -N1 "$1" | tr -d ' \n'
}

e2e_expect() {
  local what=$1 got=$2 want=$3
  [ "$got" = "$want" ] || e2e_fail "$what: got [$got], want [$want]"
}

# The text of status panel N from a saved `probe panels` output.
e2e_panel() {
  sed -n "s/^panel $2 .* text=\[\(.*\)\]\$/\1/p" <<<"$1"
}

# Date and time shapes of the status panels and stamped lines.
E2E_DATE_RE='[01][0-9]/[0-3][0-9]/[0-9][0-9]'
E2E_TIME_RE='[0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
