#!/usr/bin/env bash
# Started where nothing can be shown (the environment of an ssh session or a container: no DISPLAY,
# no WAYLAND_DISPLAY, no SDL_VIDEODRIVER), the program says so in one line on standard error and
# exits with status 1 at once, instead of running invisibly on a driver that shows nothing.
source "$(dirname "$0")/lib.sh"
need "$PROGRAM"

start=$(date +%s%N)
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$PROGRAM" >"$WORK/stdout" 2>"$WORK/stderr" &
DEMO_PID=$!
wait_exit 10 || fail "still running 10 s after starting without a display"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[ "$STATUS" = 1 ] || fail "status $STATUS, expected 1"
lines=$(wc -l <"$WORK/stderr")
[ "$lines" = 1 ] || fail "expected one line on standard error, got $lines"
grep -q "^tileburst: could not open the 640 x 640 window: engine error [0-9]*, " "$WORK/stderr" ||
  fail "unexpected message: $(cat "$WORK/stderr")"
[ ! -s "$WORK/stdout" ] || fail "unexpected standard output: $(cat "$WORK/stdout")"
# A second is the aim; the margin is for a loaded machine, not for a program that ran frames.
[ "$elapsed_ms" -lt 3000 ] || fail "took $elapsed_ms ms to give up"

# A display that is named but does not answer is no display either: no fallback to offscreen.
env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:987 "$PROGRAM" >"$WORK/stdout" 2>"$WORK/stderr" &
DEMO_PID=$!
wait_exit 10 || fail "still running 10 s after starting with a display that does not answer"
[ "$STATUS" = 1 ] || fail "unanswered display: status $STATUS, expected 1"
grep -q "^tileburst: could not open the 640 x 640 window: engine error [0-9]*, " "$WORK/stderr" ||
  fail "unanswered display: unexpected message: $(cat "$WORK/stderr")"
pass "no display: \"$(head -1 "$WORK/stderr")\", status 1 after $elapsed_ms ms"
