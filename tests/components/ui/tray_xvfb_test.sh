#!/usr/bin/env bash
# The components' real-display test, run inside scripts/xvfb-run.sh: the tray icon shows in
# trayer's area (screenshot pixels), a double click runs the default menu item, a right click
# opens the pop-up menu; with a window manager, a form with a minimum size cannot be made
# smaller by it.  Screenshots stay in the output directory for a person to look at.
#   tray_xvfb_test.sh <demo program> <output directory> [placement]
set -uo pipefail
demo=$1
out=$2
mode=${3:-}
markers="$out/tray-xvfb-markers${mode:+-$mode}.txt"
rm -f "$markers"

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
geometry() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

if [ "$mode" = placement ]; then
  "$demo" "$markers" placement &
  demo_pid=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --pid "$demo_pid" --name '^Mirvel placement$' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || fail "no window titled 'Mirvel placement'"
  # No --sync: a window manager that keeps the minimum never reaches the asked size.
  xdotool windowsize "$window" 300 200
  sleep 1
  read -r _ _ w h <<<"$(geometry "$window")"
  import -window root "$out/tray-xvfb-placement.png" || true
  [ "$w" -ge 635 ] && [ "$h" -ge 452 ] || fail "resized below the minimum: ${w}x${h}"
  kill "$demo_pid"
  wait "$demo_pid" 2>/dev/null
  echo "tray-xvfb placement: ok (${w}x${h})"
  exit 0
fi

"$demo" "$markers" &
demo_pid=$!
wait_marker ready || fail "the tray icon did not show"

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
[ -n "$icon" ] || fail "no tray icon inside trayer's area ($tx $ty $tw $th)"
read -r ix iy iw ih <<<"$icon"
shot="$out/tray-xvfb-icon.png"
import -window root "$shot" || fail "no screenshot"
colours=$(convert "$shot" -crop "${iw}x${ih}+${ix}+${iy}" +repage -format %k info:)
[ "${colours:-0}" -gt 1 ] || fail "the tray icon's area is plain background"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click --repeat 2 --delay 80 1
wait_marker default-item || fail "the double click did not run the default item"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
wait_marker popup || fail "the right click did not open the menu"
import -window root "$out/tray-xvfb-menu.png" || true
xdotool key Escape
kill "$demo_pid"
wait "$demo_pid" 2>/dev/null
echo "tray-xvfb: ok (screenshots in $out)"
