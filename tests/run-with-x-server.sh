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
# A loaded machine can take many seconds to bring the server up.
for _ in $(seq 600); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start"; exit 1; }
export QT_QPA_PLATFORM=xcb

status=0
echo "== without a window manager"
"$test_program" || status=1
echo "== under openbox"
# The checks that only a window manager allows (activation, focus) must not pass unseen: wait
# until openbox has taken the screen, start it again if it ended without doing so (seen on a
# loaded machine), and fail the run if it never does.
wm_up() { [[ "$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null)" == *"window id #"* ]]; }
wm_log=$(mktemp)
for _ in 1 2 3; do
    openbox --sm-disable >"$wm_log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 200); do
        wm_up && break
        kill -0 "$wm_pid" 2>/dev/null || break
        sleep 0.1
    done
    wm_up && break
    kill "$wm_pid" 2>/dev/null || true
    wait "$wm_pid" 2>/dev/null || true
done
if wm_up; then
    "$test_program" || status=1
else
    echo "openbox did not take the screen:" && cat "$wm_log"
    status=1
fi
rm -f "$wm_log"
exit $status
