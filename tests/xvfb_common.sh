# The steps the real-display test scripts share; sourced by them, inside scripts/xvfb-run.sh.
# The sourcing script sets `markers` (the demo's marker file) and, once the demo runs,
# `demo_pid`.

# Fails the test with a message, showing the markers seen so far, and stops the demo.
fail() {
  echo "FAIL: $*" >&2
  [ -f "$markers" ] && { echo "markers:" >&2; cat "$markers" >&2; }
  [ -n "${demo_pid:-}" ] && kill "$demo_pid" 2>/dev/null
  exit 1
}

# Waits up to ten seconds for a line matching the pattern (whole line) to stand `count` times
# (default 1) in the markers.
wait_marker() {
  local want=${2:-1} seen
  for _ in $(seq 100); do
    seen=$(grep -cx "$1" "$markers" 2>/dev/null)
    [ "${seen:-0}" -ge "$want" ] && return 0
    sleep 0.1
  done
  return 1
}

# Prints "x y width height" of a window.
geometry() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

# Looks for the demo's icon inside trayer's panel (the widest of its windows): sets tray_area to
# the panel's "x y width height", and ix, iy, iw, ih to the icon's place.  False when no window
# of the demo lies there.
find_tray_icon() {
  local id x y w h tx=0 ty=0 tw=0 th=0 icon=""
  for id in $(xdotool search --class trayer); do
    read -r x y w h <<<"$(geometry "$id")"
    if [ "$w" -gt "$tw" ]; then tx=$x ty=$y tw=$w th=$h; fi
  done
  tray_area="$tx $ty $tw $th"
  for id in $(xdotool search --pid "$demo_pid"); do
    read -r x y w h <<<"$(geometry "$id")"
    if [ "$w" -le 64 ] && [ "$h" -le 64 ] && [ "$x" -ge "$tx" ] && [ "$y" -ge "$ty" ] &&
       [ $((x + w)) -le $((tx + tw)) ] && [ $((y + h)) -le $((ty + th)) ]; then
      icon="$x $y $w $h"
    fi
  done
  [ -n "$icon" ] || return 1
  read -r ix iy iw ih <<<"$icon"
}

# Keeps a screenshot of the screen in the file given, and fails unless the icon's place found by
# find_tray_icon shows more than one colour there.
check_tray_icon_shot() {
  import -window root "$1" || fail "no screenshot"
  local colours
  colours=$(convert "$1" -crop "${iw}x${ih}+${ix}+${iy}" +repage -format %k info:)
  [ "${colours:-0}" -gt 1 ] || fail "the tray icon's area is plain background"
}
