#!/usr/bin/env bash
# The date edit's real-display test, run inside scripts/xvfb-run.sh --wm: Alt+Down drops the
# calendar under the edit (screenshot pixels), Right moves its highlight a day, Enter writes that
# day into the edit; dropped again, Escape closes it without a change; a click on a day writes
# that day.  The screenshot of the
# open calendar stays in the output directory for a person to look at.
#   date_edit_xvfb_test.sh <demo program> <output directory>
set -uo pipefail
demo=$1
out=$2
markers="$out/date-edit-xvfb-markers.txt"
shot="$out/date-edit-xvfb-calendar.png"
rm -f "$markers" "$shot"

. "$(dirname "${BASH_SOURCE[0]}")/../../xvfb_common.sh"

"$demo" "$markers" &
demo_pid=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --pid "$demo_pid" --name '^Mirvel date edit$' 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window titled 'Mirvel date edit'"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
wait_marker ready || fail "the date edit did not get the focus"

xdotool key alt+Down
wait_marker 'dropped .*' || fail "Alt+Down did not drop the calendar"
read -r _ px py pw ph <<<"$(grep -m1 '^dropped ' "$markers")"
sleep 0.3
import -window root "$shot" || fail "no screenshot"
colours=$(convert "$shot" -crop "${pw}x${ph}+${px}+${py}" +repage -format %k info:)
[ "${colours:-0}" -gt 2 ] || fail "the calendar's area shows no calendar ($colours colours)"

xdotool key Right
sleep 0.2
xdotool key Return
wait_marker closed || fail "Enter did not close the calendar"
wait_marker 'text 08/12/2026' || fail "Enter did not write the highlighted date"

xdotool key alt+Down
wait_marker 'dropped .*' 2 || fail "the calendar did not drop a second time"
xdotool key Right
sleep 0.2
xdotool key Escape
wait_marker closed 2 || fail "Escape did not close the calendar"
sleep 0.3
[ "$(tail -n1 "$markers")" = closed ] || fail "Escape changed the text"

# A click on a day (row 3, column 3 of the grid under the 18-pixel title bar: the 17th of
# December 2026 with weeks starting on Monday) closes the calendar and writes that day.
xdotool key alt+Down
wait_marker 'dropped .*' 3 || fail "the calendar did not drop a third time"
cell_w=$(((pw - 2) / 7))
cell_h=$(((ph - 2 - 18) / 7))
xdotool mousemove $((px + 1 + 3 * cell_w + cell_w / 2)) $((py + 1 + 18 + 3 * cell_h + cell_h / 2)) \
  click 1
wait_marker closed 3 || fail "a click on a day did not close the calendar"
wait_marker 'text 17/12/2026' || fail "a click on a day did not write it"

kill "$demo_pid"
wait "$demo_pid" 2>/dev/null
echo "date-edit-xvfb: ok (screenshot $shot)"
