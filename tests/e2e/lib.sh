# Shared steps of the end-to-end tests: a private Xvfb, the real program, clean-up.
# Sourced by the *_test.sh scripts, which receive the build directory as $1.

set -u

BUILD_DIR=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
PROGRAM="$BUILD_DIR/tileburst"
TOOL="$BUILD_DIR/x11_window_tool"
TITLE="Kestrelwing Demo: TileBurst"
WORK=$(mktemp -d)
XVFB_PID=""
DEMO_PID=""

cleanup() {
  if [ -n "$DEMO_PID" ] && kill -0 "$DEMO_PID" 2>/dev/null; then kill "$DEMO_PID" 2>/dev/null; fi
  if [ -n "$XVFB_PID" ] && kill -0 "$XVFB_PID" 2>/dev/null; then kill "$XVFB_PID" 2>/dev/null; fi
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$WORK/stderr" ]; then
    echo "--- program stderr:" >&2
    cat "$WORK/stderr" >&2
  fi
  if [ -n "$XVFB_PID" ] && ! kill -0 "$XVFB_PID" 2>/dev/null; then
    echo "--- Xvfb ended; its log:" >&2
    cat "$WORK/xvfb.log" >&2
  fi
  exit 1
}

pass() { echo "ok: $*"; }

need() {
  for file in "$@"; do
    [ -x "$file" ] || fail "$file is not built"
  done
}

# Starts a private Xvfb and exports DISPLAY. Xvfb picks a free display number itself and
# reports it (-displayfd), so tests running at the same time never share or steal a server.
# -noreset: by default the server resets when its last client leaves (here the readiness probe),
# and a client connecting during the reset is turned away.
start_xvfb() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local tries number
  for tries in $(seq 1 200); do
    number=""
    # The number is complete once its line feed is written.
    [ "$(wc -l <"$WORK/display")" -ge 1 ] && number=$(tr -dc 0-9 <"$WORK/display")
    if [ -n "$number" ] && DISPLAY=":$number" xdpyinfo >/dev/null 2>&1; then
      export DISPLAY=":$number"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  fail "could not start Xvfb"
}

# Starts the program on the X server; its output goes to $WORK/stdout and $WORK/stderr.
start_demo() {
  SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy "$PROGRAM" >"$WORK/stdout" 2>"$WORK/stderr" &
  DEMO_PID=$!
}

# Waits for the program's window; sets WINDOW, WIDTH, HEIGHT. Start-up may briefly show a
# window that is replaced, so the search is repeated once the program has settled.
find_window() {
  local found
  "$TOOL" find "$TITLE" 10000 >/dev/null || fail "no window titled \"$TITLE\" appeared"
  sleep 1
  running || fail "the program ended during start-up"
  found=$("$TOOL" find "$TITLE" 2000) || fail "the window titled \"$TITLE\" went away"
  read -r WINDOW WIDTH HEIGHT <<<"$found"
}

running() { kill -0 "$DEMO_PID" 2>/dev/null; }

# Waits up to $1 seconds for the program to end; sets STATUS and ELAPSED (milliseconds).
wait_exit() {
  local limit_ms=$(($1 * 1000)) start now
  start=$(date +%s%N)
  while running; do
    now=$(date +%s%N)
    if [ $(((now - start) / 1000000)) -gt "$limit_ms" ]; then
      ELAPSED=$(((now - start) / 1000000))
      STATUS=timeout
      return 1
    fi
    sleep 0.02
  done
  now=$(date +%s%N)
  ELAPSED=$(((now - start) / 1000000))
  wait "$DEMO_PID"
  STATUS=$?
  DEMO_PID=""
  return 0
}

# Holds a key for a moment, as a person does: the program samples held keys once per frame.
press_key() {
  xdotool keydown --window "$WINDOW" "$1" || fail "xdotool keydown $1"
  sleep "${2:-0.3}"
  xdotool keyup --window "$WINDOW" "$1" || fail "xdotool keyup $1"
}
