#!/usr/bin/env bash
# The 3D showcase in a real X server: its window and scene, real key presses that switch shadows,
# culling and particles (the heads-up line's switches change and come back), arrow keys that move
# the camera, ESC and the close box that end it with status 0, and no display that ends it at once
# with status 1.
source "$(dirname "$0")/lib.sh"
PROGRAM="$BUILD_DIR/showcase"
TITLE="Kestrelwing Showcase"
need "$PROGRAM" "$TOOL"
command -v xdotool >/dev/null || fail "xdotool is not installed"

start_xvfb
start_demo
find_window
[ "$WIDTH" = 640 ] && [ "$HEIGHT" = 640 ] || fail "client area is ${WIDTH}x${HEIGHT}, not 640x640"
pass "window \"$TITLE\" with a 640x640 client area"

# The scene fills the window: the floor's lower half is lit and textured, not the clear colour.
clear_pixels=$("$TOOL" count "$WINDOW" 0 400 640 200 101820) || fail "could not read pixels"
[ "$clear_pixels" -lt 1000 ] || fail "$clear_pixels pixels of the lower window show the clear colour"
pass "the floor covers the lower window"

xdotool windowfocus --sync "$WINDOW" || fail "xdotool windowfocus"
switches() { "$TOOL" sum "$WINDOW" 200 4 430 22 || fail "could not read the heads-up line"; }
# Whether the heads-up line comes to equal (eq) or differ from (ne) $2 within 3 s: a key's effect
# reaches the window a frame or two after the key, and a loaded machine draws slowly.
switches_become() {
  local now
  for _ in $(seq 30); do
    now=$(switches)
    if [ "$1" = eq ]; then [ "$now" = "$2" ] && return 0; else [ "$now" != "$2" ] && return 0; fi
    sleep 0.1
  done
  return 1
}
initial=$(switches)
# The program polls the keyboard once a frame and acts on a key going down: each key is held, and
# then left up, for longer than a slow frame takes, so that no press or release falls between two
# frames.
for key in s c p; do
  press_key "$key" 0.6
  switches_become ne "$initial" || fail "key $key did not change the heads-up line"
  sleep 0.5
  press_key "$key" 0.6
  switches_become eq "$initial" || fail "key $key pressed twice did not switch back"
  sleep 0.5
  running || fail "the program ended after key $key"
done
pass "S, C and P switch shadows, culling and particles, and back"

# Arrow keys orbit the camera (the headless tests check where it goes).
press_key Left 0.6
running || fail "the program ended after the arrow key"
pass "arrow keys are taken while running"

xdotool keydown --window "$WINDOW" Escape || fail "xdotool keydown Escape"
wait_exit 3
# The window is gone: the key goes up in the server itself, or the next program would start with
# ESC held.
xdotool keyup Escape || fail "xdotool keyup Escape"
[ "$STATUS" = 0 ] || fail "after ESC: status $STATUS after ${ELAPSED} ms"
pass "ESC ends it with status 0 in ${ELAPSED} ms"

start_demo
find_window
"$TOOL" close "$WINDOW" || fail "could not send WM_DELETE_WINDOW"
wait_exit 5 || fail "still running 5 s after WM_DELETE_WINDOW"
[ "$STATUS" = 0 ] || fail "after WM_DELETE_WINDOW: status $STATUS"
pass "the close box ends it with status 0 in ${ELAPSED} ms"

env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$PROGRAM" >"$WORK/stdout" 2>"$WORK/stderr" &
DEMO_PID=$!
wait_exit 10 || fail "still running 10 s after starting without a display"
[ "$STATUS" = 1 ] || fail "no display: status $STATUS, expected 1"
grep -q "^showcase: could not open the 640 x 640 window: engine error [0-9]*" "$WORK/stderr" ||
  fail "no display: unexpected message: $(cat "$WORK/stderr")"
pass "no display: \"$(head -1 "$WORK/stderr")\", status 1"
