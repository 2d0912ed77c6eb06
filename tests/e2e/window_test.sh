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

# The background: a 64 x 64 shader-made texture stretched tenfold, so window pixel (x, y) shows
# texel (x / 10, y / 10) = (sin(|a| * 10) * 0.5 + 0.5, sin(5 a.y), cos(5 a.x)) at the texel's
# centre a, clamped and scaled to 0..255. Sampled away from the banner and the text.
expected_background() {
  awk -v x="$1" -v y="$2" 'function c(v) { v = v < 0 ? 0 : (v > 1 ? 1 : v); return int(v * 255 + 0.5) }
    BEGIN { ax = (int(x / 10) + 0.5) / 64; ay = (int(y / 10) + 0.5) / 64
            printf "%d %d %d\n", c(sin(sqrt(ax * ax + ay * ay) * 10) * 0.5 + 0.5), c(sin(5 * ay)), c(cos(5 * ax)) }'
}
for point in "5 5" "45 125" "600 30" "615 455" "30 630" "330 620"; do
  set -- $point
  got=$("$TOOL" pixel "$WINDOW" "$1" "$2") || fail "could not read pixel ($1, $2)"
  read -r er eg eb <<<"$(expected_background "$1" "$2")"
  gr=$((16#${got:0:2})); gg=$((16#${got:2:2})); gb=$((16#${got:4:2}))
  for pair in "$gr $er" "$gg $eg" "$gb $eb"; do
    set -- $pair
    [ $(( $1 > $2 ? $1 - $2 : $2 - $1 )) -le 1 ] ||
      fail "background at ($point) is #$got, expected $er $eg $eb"
  done
done
pass "the shader-made background fills the window"

# The banner lies over it: plus signs in the colours of its four lines and grey on the grid.
for colour in ff0000 ffff00 00ff00 0000ff 808080; do
  n=$("$TOOL" count "$WINDOW" 95 212 450 176 "$colour") || fail "could not read the banner"
  [ "$n" -gt 100 ] || fail "only $n pixels of #$colour in the banner"
done
pass "the banner's bodies show in red, yellow, green, blue and grey over the background"

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
xdotool keyup Escape || fail "xdotool keyup Escape"  # the window is gone: up in the server
[ "$STATUS" = 0 ] || fail "after ESC: status $STATUS after ${ELAPSED} ms"
pass "ESC ends it with status 0 in ${ELAPSED} ms"
