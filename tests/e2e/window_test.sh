#!/usr/bin/env bash
# The real program in a real X server: its window, frames that reach it, a real SPACE that smashes
# the banner and keeps it running, and a real ESC that ends it with status 0 within two seconds.
source "$(dirname "$0")/lib.sh"
need "$PROGRAM" "$TOOL"
command -v xdotool >/dev/null || fail "xdotool is not installed"

start_xvfb
start_demo
find_window
[ "$WIDTH" = 640 ] && [ "$HEIGHT" = 640 ] || fail "client area is ${WIDTH}x${HEIGHT}, not 640x640"
pass "window \"$TITLE\" with a 640x640 client area"

# The banner (x 95..542, y 212..385) and the prompt line (at y 500); the heads-up line below them
# changes with the frame rate and is left out.
banner() { "$TOOL" sum "$WINDOW" 90 205 460 190 || fail "could not read the window's pixels"; }
prompt() { "$TOOL" sum "$WINDOW" 195 495 310 25 || fail "could not read the window's pixels"; }

# Before SPACE nothing moves: the picture is the same frame after frame.
banner_before=$(banner)
prompt_before=$(prompt)
sleep 0.5
[ "$(banner)" = "$banner_before" ] || fail "the banner changes before SPACE"
[ "$(prompt)" = "$prompt_before" ] || fail "the prompt changes before SPACE"
pass "the banner stands still before SPACE"

# Keyboard focus as a window manager would give it on a click (Xvfb runs none).
xdotool windowfocus --sync "$WINDOW" || fail "xdotool windowfocus"
press_key space 0.5
sleep 0.2
running || fail "the program ended after SPACE"
[ "$(prompt)" != "$prompt_before" ] || fail "the prompt did not change after SPACE"
pass "SPACE changes the prompt to the restart wording"
# The balls start outside the window and need about half a second of simulated time to arrive.
for tries in $(seq 1 50); do
  [ "$(banner)" != "$banner_before" ] && break
  sleep 0.1
done
[ "$(banner)" != "$banner_before" ] || fail "the banner was not hit within 5 s of SPACE"
running || fail "the program ended after SPACE"
pass "the balls smash the banner and the program keeps running"

xdotool keydown --window "$WINDOW" Escape || fail "xdotool keydown Escape"
wait_exit 2
xdotool keyup --window "$WINDOW" Escape 2>/dev/null
[ "$STATUS" = 0 ] || fail "after ESC: status $STATUS after ${ELAPSED} ms"
pass "ESC ends it with status 0 in ${ELAPSED} ms"
