#!/usr/bin/env bash
# Started with no display at all, the program says so in one line on standard error and exits
# with status 1 instead of running without a window.
source "$(dirname "$0")/lib.sh"
need "$PROGRAM"

env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy \
  "$PROGRAM" >"$WORK/stdout" 2>"$WORK/stderr" &
DEMO_PID=$!
wait_exit 10 || fail "still running 10 s after starting without a display"
[ "$STATUS" = 1 ] || fail "status $STATUS, expected 1"
lines=$(wc -l <"$WORK/stderr")
[ "$lines" = 1 ] || fail "expected one line on standard error, got $lines"
grep -q "^tileburst: could not open the 640 x 640 window: engine error [0-9]*, " "$WORK/stderr" ||
  fail "unexpected message: $(cat "$WORK/stderr")"
[ ! -s "$WORK/stdout" ] || fail "unexpected standard output: $(cat "$WORK/stdout")"
pass "no display: \"$(cat "$WORK/stderr")\", status 1"
