#!/usr/bin/env bash
# The real-display test, run inside scripts/xvfb-run.sh: starts the demo, clicks its button by
# its window's title, double-clicks its tray icon inside trayer's area, keeps a screenshot, and
# ends it with SIGTERM, which must go through the end-of-session messages to exit code 0.
#   gui_xvfb_test.sh <demo program> <output directory>
set -uo pipefail
demo=$1
out=$2
markers="$out/gui-xvfb-markers.txt"
shot="$out/gui-xvfb-screenshot.png"
rm -f "$markers" "$shot"

. "$(dirname "${BASH_SOURCE[0]}")/../../xvfb_common.sh"

"$demo" "$markers" &
demo_pid=$!
wait_marker ready || fail "the demo did not start with a tray icon"

window=$(xdotool search --sync --onlyvisible --name '^Mirvel demo$' | head -n1)
[ -n "$window" ] || fail "no window titled 'Mirvel demo'"
# The button lies at (20, 20) size 140 x 40 in the client area.
xdotool mousemove --window "$window" 90 40 click 1
wait_marker clicked || fail "the button click did not reach the program"

find_tray_icon || fail "no tray icon of the demo inside trayer's area ($tray_area)"
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click --repeat 2 --delay 80 1
wait_marker tray-double-click || fail "the tray double click did not reach the program"

check_tray_icon_shot "$shot"

kill -TERM "$demo_pid"
wait "$demo_pid"
status=$?
[ "$status" -eq 0 ] || fail "exit code $status after SIGTERM"
for word in query-end-session end-session destroyed; do
  grep -qx "$word" "$markers" || fail "no $word"
done
echo "gui-xvfb: ok (screenshot $shot)"
