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

fail() {
  echo "FAIL: $*" >&2
  [ -f "$markers" ] && { echo "markers:" >&2; cat "$markers" >&2; }
  [ -n "${demo_pid:-}" ] && kill "$demo_pid" 2>/dev/null
  exit 1
}
wait_marker() {
  for _ in $(seq 100); do
    grep -qx "$1" "$markers" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# Prints "x y width height" of a window.
geometry() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

"$demo" "$markers" &
demo_pid=$!
wait_marker ready || fail "the demo did not start with a tray icon"

window=$(xdotool search --sync --onlyvisible --name '^Mirvel demo$' | head -n1)
[ -n "$window" ] || fail "no window titled 'Mirvel demo'"
# The button lies at (20, 20) size 140 x 40 in the client area.
xdotool mousemove --window "$window" 90 40 click 1
wait_marker clicked || fail "the button click did not reach the program"

# trayer's panel: the widest of its windows.
tx=0 ty=0 tw=0 th=0
for id in $(xdotool search --class trayer); do
  read -r x y w h <<<"$(geometry "$id")"
  if [ "$w" -gt "$tw" ]; then tx=$x ty=$y tw=$w th=$h; fi
done
icon=""
for id in $(xdotool search --pid "$demo_pid"); do
  read -r x y w h <<<"$(geometry "$id")"
  if [ "$w" -le 64 ] && [ "$h" -le 64 ] && [ "$x" -ge "$tx" ] && [ "$y" -ge "$ty" ] &&
     [ $((x + w)) -le $((tx + tw)) ] && [ $((y + h)) -le $((ty + th)) ]; then
    icon="$x $y $w $h"
  fi
done
[ -n "$icon" ] || fail "no tray icon of the demo inside trayer's area ($tx $ty $tw $th)"
read -r ix iy iw ih <<<"$icon"
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click --repeat 2 --delay 80 1
wait_marker tray-double-click || fail "the tray double click did not reach the program"

import -window root "$shot" || fail "no screenshot"
colours=$(convert "$shot" -crop "${iw}x${ih}+${ix}+${iy}" +repage -format %k info:)
[ "${colours:-0}" -gt 1 ] || fail "the tray icon's area is plain background"

kill -TERM "$demo_pid"
wait "$demo_pid"
status=$?
[ "$status" -eq 0 ] || fail "exit code $status after SIGTERM"
for word in query-end-session end-session destroyed; do
  grep -qx "$word" "$markers" || fail "no $word"
done
echo "gui-xvfb: ok (screenshot $shot)"
