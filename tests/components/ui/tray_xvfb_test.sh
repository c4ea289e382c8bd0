#!/usr/bin/env bash
# The components' real-display test, run inside scripts/xvfb-run.sh: the tray icon shows in
# trayer's area (screenshot pixels), a double click runs the default menu item, a right click
# opens the pop-up menu; with a window manager, a form with a minimum size cannot be made
# smaller by it, and the size it was left at comes back after a close and a restart; a hint shows
# over a truncated data edit while the mouse rests there.  Screenshots stay in the output
# directory for a person to look at.
#   tray_xvfb_test.sh <demo program> <output directory> [placement|hint]
set -uo pipefail
demo=$1
out=$2
mode=${3:-}
markers="$out/tray-xvfb-markers${mode:+-$mode}.txt"
rm -f "$markers"

. "$(dirname "${BASH_SOURCE[0]}")/../../xvfb_common.sh"

find_window() {
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --pid "$demo_pid" --name "^Mirvel ${1:-placement}\$" 2>/dev/null |
      head -n1)
    [ -n "$window" ] && return 0
    sleep 0.2
  done
  return 1
}

if [ "$mode" = hint ]; then
  "$demo" "$markers" hint &
  demo_pid=$!
  find_window hint || fail "no window titled 'Mirvel hint'"
  read -r x y _ _ <<<"$(geometry "$window")"
  # Rest the mouse over the edit (at 20, 20 in the form): its value does not fit, so the hint
  # shows, and stays while the mouse rests (the hint window must not take the mouse from it).
  xdotool mousemove $((x + 60)) $((y + 30))
  wait_marker hint-shown || fail "no hint over the truncated edit"
  import -window root "$out/tray-xvfb-hint.png" || true
  sleep 2
  grep -qx hint-hidden "$markers" && fail "the hint went away while the mouse rested"
  xdotool click 1
  wait_marker hint-hidden || fail "a click did not hide the hint"
  kill "$demo_pid"
  wait "$demo_pid" 2>/dev/null
  echo "tray-xvfb hint: ok"
  exit 0
fi

if [ "$mode" = placement ]; then
  rm -f "$markers.ini"
  "$demo" "$markers" placement &
  demo_pid=$!
  find_window || fail "no window titled 'Mirvel placement'"
  # No --sync: a window manager that keeps the minimum never reaches the asked size.
  xdotool windowsize "$window" 300 200
  sleep 1
  read -r _ _ w h <<<"$(geometry "$window")"
  import -window root "$out/tray-xvfb-placement.png" || true
  [ "$w" -ge 635 ] && [ "$h" -ge 452 ] || fail "resized below the minimum: ${w}x${h}"

  # A size above the minimum is kept across a close (through the window manager) and a restart.
  xdotool windowsize "$window" 760 540
  sleep 1
  read -r _ _ saved_w saved_h <<<"$(geometry "$window")"
  [ "$saved_w" -ge 700 ] && [ "$saved_h" -ge 500 ] || fail "not resized: ${saved_w}x${saved_h}"
  # The window manager may not have published the active window yet, and xdotool then drops the
  # key with the activation: ask again, a few times, until the program has ended.
  for _ in $(seq 5); do
    xdotool windowactivate --sync "$window" key alt+F4 2>/dev/null
    for _ in $(seq 20); do
      kill -0 "$demo_pid" 2>/dev/null || break 2
      sleep 0.1
    done
  done
  kill -0 "$demo_pid" 2>/dev/null && fail "closing the window did not end the program"
  wait "$demo_pid" 2>/dev/null
  grep -q '^FormWidth=' "$markers.ini" 2>/dev/null || fail "no size saved in $markers.ini"

  rm -f "$markers"
  "$demo" "$markers" placement &
  demo_pid=$!
  find_window || fail "no window after the restart"
  wait_marker "restored .*" || fail "the placement was not restored"
  sleep 1
  read -r _ _ w h <<<"$(geometry "$window")"
  import -window root "$out/tray-xvfb-placement-restored.png" || true
  [ "$w" -eq "$saved_w" ] && [ "$h" -eq "$saved_h" ] ||
    fail "came back at ${w}x${h}, saved ${saved_w}x${saved_h}"
  kill "$demo_pid"
  wait "$demo_pid" 2>/dev/null
  echo "tray-xvfb placement: ok (minimum kept, ${w}x${h} restored)"
  exit 0
fi

"$demo" "$markers" &
demo_pid=$!
wait_marker ready || fail "the tray icon did not show"

find_tray_icon || fail "no tray icon inside trayer's area ($tray_area)"
check_tray_icon_shot "$out/tray-xvfb-icon.png"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click --repeat 2 --delay 80 1
wait_marker default-item || fail "the double click did not run the default item"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
wait_marker popup || fail "the right click did not open the menu"
import -window root "$out/tray-xvfb-menu.png" || true
xdotool key Escape
kill "$demo_pid"
wait "$demo_pid" 2>/dev/null
echo "tray-xvfb: ok (screenshots in $out)"
