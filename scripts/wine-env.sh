# Sourced: a private Wine prefix and a display for the Windows programs.
# Uses the caller's display when there is one, otherwise starts Xvfb.
: "${VYK_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEPREFIX="${WINEPREFIX:-$VYK_ROOT/build/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH="${WINEARCH:-win64}"

# Whether this machine can start Wine's 32-bit loader, which every program
# of the win32 build needs. Some virtual machines run 64-bit user code only:
# there a 32-bit program fails with "Exec format error" (ENOEXEC) however
# Wine is installed.
vyk_wine32_runs() {
  local loader=/usr/lib/wine/wine
  [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1
}

# Wine's 64-bit loader: it starts 64-bit Windows programs where the 32-bit
# one cannot run (`wine` and `wineboot` would still pick the 32-bit one).
VYK_WINE64=/usr/lib/wine/wine64

vyk_no_wine32_text="this machine runs 64-bit programs only (a 32-bit program fails with \"Exec format error\"), so Wine cannot start the 32-bit Windows files"

vyk_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n
  for n in $(seq 91 99); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      VYK_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
      echo "wine-env: Xvfb on :$n did not come up" >&2
      return 1
    fi
  done
  echo "wine-env: no free display number" >&2
  return 1
}

vyk_stop_display() {
  if [ -n "${VYK_XVFB_PID:-}" ]; then
    kill "$VYK_XVFB_PID" 2>/dev/null || true
    wait "$VYK_XVFB_PID" 2>/dev/null || true
    unset VYK_XVFB_PID
  fi
}

vyk_init_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    if vyk_wine32_runs; then
      wineboot -i >/dev/null 2>&1 || true
    else
      WINELOADER=$VYK_WINE64 "$VYK_WINE64" wineboot -i >/dev/null 2>&1 || true
    fi
    wineserver -w || true
  fi
}
