#!/usr/bin/env bash
# Runs a test program on a real X server of its own (Xvfb): once with no window manager, as
# on a bare server, and once under openbox, as on a desktop.
set -euo pipefail
test_program=$1
display_number=$((90 + RANDOM % 400))
while [ -e "/tmp/.X${display_number}-lock" ]; do display_number=$((display_number + 1)); done
export DISPLAY=":${display_number}"
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
export QT_QPA_PLATFORM=xcb

status=0
echo "== without a window manager"
"$test_program" || status=1
echo "== under openbox"
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# The checks that only a window manager allows (activation, focus) must not pass unseen on a
# loaded machine where openbox is slow to take over the screen.
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; }
for _ in $(seq 600); do wm_up && break; sleep 0.1; done
if wm_up; then "$test_program" || status=1; else echo "openbox did not start"; status=1; fi
exit $status
