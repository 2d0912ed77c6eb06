#!/usr/bin/env bash
# A close request from the window system (WM_DELETE_WINDOW, as a window manager's close button
# sends) ends the real program with status 0.
source "$(dirname "$0")/lib.sh"
need "$PROGRAM" "$TOOL"

start_xvfb
start_demo
find_window
sleep 0.3
running || fail "the program ended before the close request"
"$TOOL" close "$WINDOW" || fail "could not send WM_DELETE_WINDOW"
wait_exit 5 || fail "still running 5 s after WM_DELETE_WINDOW"
[ "$STATUS" = 0 ] || fail "after WM_DELETE_WINDOW: status $STATUS"
pass "WM_DELETE_WINDOW ends it with status 0 in ${ELAPSED} ms"
