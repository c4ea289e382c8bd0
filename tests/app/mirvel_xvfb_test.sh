#!/usr/bin/env bash
# The program on a real display, run inside scripts/xvfb-run.sh.
#
#   mirvel_xvfb_test.sh <mirvel> <mirvel-initdb> <output directory> tray|notray <tessera-dump>
#
# tray: a database made by the creation tool for alice (A's registry names it); B (bob, its
# registry empty) starts without "SHOW": the directory dialog asks, the script types the
# directory, B connects and stays hidden; A starts with "SHOW" and posts a message to bob through
# its window (its caller not in the contacts, and not added); within the poll B's alert shows and
# its tray icon animates; "Aller voir" shows B's window; B answers with a new message (the text
# quoted, the answer stored); B prints the message: the preview's "PDF" button writes a file
# whose text pdftotext reads back (the labels, the caller, the message), and the preview's
# "Fermer" closes it; each station quits through its tray icon's menu ("&Quitter", then
# "&Quitter" in "Confirmation"): both end with exit code 0 and both users disconnected in the
# table.
# notray (with a window manager, without trayer): A without "SHOW" shows at once; the close box
# iconifies it; restored, its menu button opens the tray's menu, whose "&Quitter" and the
# confirmation's "&Quitter" end the program with exit code 0.
# Every wait is bounded (xdotool's --sync waits under a timeout); screenshots, the PDF and the
# error logs stay in the output directory: the one beside the database (its parent folder, shared
# by the stations once connected) and the one each station writes in its working directory
# before it is connected.
set -uo pipefail
mirvel=$1
initdb=$2
out=$3/artifacts/app-ui
mode=$4
dump=$5
if [ "$mode" = tray ] && ! command -v pdftotext >/dev/null 2>&1; then
  echo "missing: pdftotext (Debian package poppler-utils); run scripts/setup.sh" >&2
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
mkdir -p "$out"
work=$(mktemp -d)
pids=()

cleanup() {
  local pid alive
  # Only after a failure is a station left: the end of the session first, so that it
  # disconnects and writes its log, then no choice.
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 30); do
    alive=""
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ -z "$alive" ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  cp "$work"/ERROR.LOG "$out/ERROR-$mode.LOG" 2>/dev/null
  for f in "$work"/*/ERROR.LOG; do [ -f "$f" ] && cp "$f" "$out/ERROR-$mode-$(basename "$(dirname "$f")").LOG"; done
  for f in "$work"/*.out; do [ -f "$f" ] && cp "$f" "$out/$mode-$(basename "$f")"; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($mode): $*" >&2
  import -window root "$out/failure-$mode.png" 2>/dev/null
  echo "screenshots in $out" >&2
  exit 1
}
shot() { import -window root "$out/$mode-$1.png" 2>/dev/null || true; }

# station NAME LOGIN: its own home, registry and runtime directory.
station_env() {
  local dir=$work/$1
  mkdir -p "$dir/home" "$dir/registry" "$dir/runtime"
  chmod 700 "$dir/runtime"
  echo "HOME=$dir/home MIRVEL_REGISTRY_DIR=$dir/registry XDG_RUNTIME_DIR=$dir/runtime MIRVEL_LOGIN=$2"
}
start() {  # start NAME LOGIN [SHOW]
  # Each station in its own working directory, so a log written before connecting stays apart.
  mkdir -p "$work/$1"
  # shellcheck disable=SC2046
  (cd "$work/$1" && exec env $(station_env "$1" "$2") "$mirvel" ${3:-}) >"$work/$1${run_suffix:-}.out" 2>&1 &
  pids+=($!)
  last_pid=$!
}
# Waits for a visible window of `pid` whose name matches; prints its id.
visible_window() {
  local w
  for _ in $(seq 100); do
    w=$(xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | head -n1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# not_added PID NAME: a save of a message whose caller is not in the contacts asks whether to add it;
# "&Non".  No window manager gives the box the keyboard: the script does.
not_added() {
  local pid=$1 box
  box=$(visible_window "$pid" "^Confirmation$") || fail "$2's save did not ask about the caller"
  shot "$2-caller-question"
  timeout 5 xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key alt+n
  for _ in $(seq 50); do
    xdotool search --all --onlyvisible --pid "$pid" --name "^Confirmation$" >/dev/null 2>&1 ||
      return 0
    sleep 0.1
  done
  fail "$2's question about the caller stayed"
}
# disconnected LOGIN...: each user's Statut is 0 in the users table, read by the dump tool.
disconnected() {
  local table login
  table=$("$dump" "$work/db/Users.DAT") || fail "the dump tool could not read Users.DAT"
  for login in "$@"; do
    grep -qE "NomReseau=\"$login\" .* Statut=0 " <<<"$table" ||
      fail "$login is still connected: $(grep -E "NomReseau=\"$login\"" <<<"$table")"
  done
}
ends_with_zero() {  # ends_with_zero PID: waits at most 10 s
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$1" 2>/dev/null && return 1
  # Ended and reaped: the clean-up must not signal its number again.
  local rc pid kept=()
  wait "$1"
  rc=$?
  for pid in "${pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  pids=("${kept[@]}")
  return "$rc"
}

# tray_area: the notification area's strip as a crop geometry (WxH+X+Y), the widest of
# trayer's windows.
tray_area() {
  # shellcheck disable=SC2034  # set by the geometry the script evaluates
  local w X Y WIDTH HEIGHT SCREEN WINDOW best=""
  local tw=0
  for w in $(xdotool search --onlyvisible --class trayer 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$WIDTH" -gt "$tw" ] && { tw=$WIDTH best="${WIDTH}x${HEIGHT}+${X}+${Y}"; }
  done
  [ -n "$best" ] && echo "$best"
}
# tray_icon PID: the id of the station's icon window inside the notification area's strip.
tray_icon() {
  # shellcheck disable=SC2034  # set by the geometry the script evaluates
  local w X Y WIDTH HEIGHT SCREEN WINDOW tx=0 ty=0 tw=0 th=0
  # The panel is the widest of trayer's windows.
  for w in $(xdotool search --onlyvisible --class trayer 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$WIDTH" -gt "$tw" ] && { tx=$X ty=$Y tw=$WIDTH th=$HEIGHT; }
  done
  [ "$tw" -gt 0 ] || return 1
  for w in $(xdotool search --all --onlyvisible --pid "$1" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$X" -ge "$tx" ] && [ "$Y" -ge "$ty" ] && [ $((X + WIDTH)) -le $((tx + tw)) ] &&
      [ $((Y + HEIGHT)) -le $((ty + th)) ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}
# menu_of PID ICON: the id of a visible window of the station that is neither its icon nor one
# of its titled windows (the popup menu).
menu_of() {
  local w
  for w in $(xdotool search --all --onlyvisible --pid "$1" 2>/dev/null); do
    [ "$w" = "$2" ] && continue
    case "$(xdotool getwindowname "$w" 2>/dev/null)" in
      Gestion*|Confirmation) continue ;;
    esac
    echo "$w"
    return 0
  done
  return 1
}
# quit_from_tray PID NAME: a right click on the station's icon opens its menu; its last item,
# "&Quitter", asks "Confirmation", whose "&Quitter" ends the station with exit code 0.  A click
# or a key lost while the display is busy is tried again; a menu left open is closed first.
quit_from_tray() {
  # shellcheck disable=SC2034  # set by the geometry the script evaluates
  local pid=$1 icon menu confirm="" X Y WIDTH HEIGHT SCREEN WINDOW ix iy
  icon=$(tray_icon "$pid") || fail "$2's icon is not in the notification area"
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  ix=$((X + WIDTH / 2)) iy=$((Y + HEIGHT / 2))
  for _ in 1 2 3; do
    menu=$(menu_of "$pid" "$icon") && xdotool key Escape && sleep 0.3
    xdotool mousemove "$ix" "$iy" click 3
    menu=""
    for _ in $(seq 30); do
      menu=$(menu_of "$pid" "$icon") && break
      sleep 0.1
    done
    [ -n "$menu" ] || continue
    sleep 0.3
    shot "$2-tray-menu"
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 12))
    sleep 0.2
    xdotool click 1
    confirm=$(visible_window "$pid" "^Confirmation$") && break
  done
  [ -n "$confirm" ] || fail "$2's tray menu gave no Quitter that asks for confirmation"
  sleep 0.3
  shot "$2-confirmation"
  for _ in 1 2 3; do
    timeout 5 xdotool windowfocus --sync "$confirm" 2>/dev/null
    xdotool key alt+q
    for _ in $(seq 30); do
      xdotool search --all --onlyvisible --pid "$pid" --name "^Confirmation$" >/dev/null 2>&1 ||
        break 2
      sleep 0.1
    done
  done
  ends_with_zero "$pid" || fail "$2 did not end with exit code 0 after Quitter"
  shot "$2-quit"
}

# click WINDOW X Y: a real click at a place of the window's layout (from its top left corner).
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.4; }
# dumped TABLE PATTERN: the table's records, read by the dump tool, hold the pattern.
dumped() { "$dump" "$work/db/$1.DAT" | grep -qa "$2"; }
# shown_and_active PID WHAT: the station's main window is mapped and the active one.
shown_and_active() {
  local w active
  for _ in $(seq 30); do
    w=$(xdotool search --all --onlyvisible --pid "$1" --name "Gestion des messages" | head -n1)
    active=$(xdotool getactivewindow 2>/dev/null)
    [ -n "$w" ] && [ "$w" = "$active" ] && return 0
    sleep 0.1
  done
  fail "$2: the main window is not mapped and active"
}
# open_by_key PID WINDOW KEY NAME: presses KEY in the activated WINDOW and prints the window
# named NAME that it opens, once that has had time to draw.
open_by_key() {
  timeout 5 xdotool windowactivate --sync "$2" 2>/dev/null
  xdotool key "$3"
  visible_window "$1" "$4" || return 1
  sleep 0.5
}
# a_office PID: the office's own use of A's window, with the mouse, under the window manager.
a_office() {
  local pid=$1 win contacts dispo box boxes zoom w icon X Y WIDTH HEIGHT SCREEN WINDOW n
  win=$(visible_window "$pid" "Gestion des messages") || fail "A's window is gone"
  # The contacts: "Nouveau", a name, "Sauver" makes a client; "Supprimer" and OK delete it.
  contacts=$(open_by_key "$pid" "$win" alt+c "Fichier des Contacts") || fail "no contacts window"
  click "$contacts" 54 539
  click "$contacts" 159 256
  xdotool type --delay 5 "Garage Martin"
  click "$contacts" 384 539
  shot a-contacts-saved
  dumped Clients 'Societe="Garage Martin"' || fail "Nouveau and Sauver made no client"
  click "$contacts" 274 539
  box=$(visible_window "$pid" "^Confirmation$") || fail "Supprimer asked nothing"
  xdotool key Return
  sleep 0.5
  dumped Clients 'Garage Martin' && fail "Supprimer left the client"
  click "$contacts" 600 539
  # The availabilities: a key before "Modifier" raises an error box above the dialog, which
  # blocks it (a second click and key raise no second box); then "Modifier", a note, "Sauver".
  dispo=$(open_by_key "$pid" "$win" alt+d "Utilisateurs connect") ||
    fail "no availabilities dialog"
  click "$dispo" 470 108
  xdotool type "x"
  box=$(visible_window "$pid" "^Erreur$") || fail "a key before Modifier raised no box"
  xprop -id "$box" WM_TRANSIENT_FOR | grep -q "$(printf '0x%x' "$dispo")" ||
    fail "the error box does not belong to the dialog"
  xprop -root _NET_CLIENT_LIST_STACKING | grep -qE "$(printf '0x%x' "$dispo").*$(printf '0x%x' "$box")" ||
    fail "the error box is under the dialog"
  click "$dispo" 470 108
  xdotool type "y"
  sleep 0.5
  shot a-error-box
  boxes=$(xdotool search --all --onlyvisible --pid "$pid" --name "^Erreur$" | wc -l)
  [ "$boxes" -eq 1 ] || fail "the dialog took input under its error box ($boxes boxes)"
  timeout 5 xdotool windowactivate --sync "$box" 2>/dev/null
  xdotool key Return
  sleep 0.3
  click "$dispo" 375 278
  xdotool type --delay 5 "En rendez-vous jusqu'a 15 h"
  click "$dispo" 470 278
  shot a-availability
  grep -rqa "En rendez-vous jusqu'a 15 h" "$work/db" || fail "Modifier and Sauver stored no note"
  click "$dispo" 565 359
  # A new message, then the caller search over it: no recipients dialog opens by itself.
  timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null
  xdotool key alt+n
  sleep 0.3
  click "$win" 622 93
  visible_window "$pid" "lection d'un interlocuteur" >/dev/null || fail "no caller search"
  sleep 0.5
  shot a-caller-search
  xdotool search --all --onlyvisible --pid "$pid" --name "Choix des destinataires" >/dev/null &&
    fail "the recipients dialog opened by itself"
  xdotool key Escape
  sleep 0.5
  xdotool search --all --onlyvisible --pid "$pid" --name "Choix des destinataires" >/dev/null &&
    fail "the recipients dialog opened by itself"
  timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null
  xdotool key alt+a
  sleep 0.3
  # The zoom opens as wide as the message and two thirds as high as the window.
  click "$win" 180 206
  sleep 0.5
  zoom=""
  for w in $(xdotool search --all --onlyvisible --pid "$pid"); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$WIDTH" = 640 ] && [ "$HEIGHT" = 313 ] && zoom=$w
  done
  [ -n "$zoom" ] || fail "the zoom window is not 640x313"
  shot a-zoom
  click "$win" 300 120
  # The window at its smallest, with bob's answer in the grid.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  [ "$WIDTH" = 640 ] && [ "$HEIGHT" = 470 ] || fail "A's window is ${WIDTH}x${HEIGHT}"
  import -window "$win" "$out/main-640x470.png" 2>/dev/null
  # Back from the tray: ten double clicks on the icon after hiding, then three second starts.
  icon=$(tray_icon "$pid") || fail "A's icon is not in the notification area"
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  for n in $(seq 10); do
    timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null
    xdotool key alt+f
    for _ in $(seq 30); do
      xdotool search --all --onlyvisible --pid "$pid" --name "Gestion des messages" >/dev/null ||
        break
      sleep 0.1
    done
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click --repeat 2 --delay 80 1
    sleep 1
    shown_and_active "$pid" "double click $n"
  done
  for n in 1 2 3; do
    timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null
    xdotool key alt+f
    sleep 0.5
    run_suffix=-again-$n start a alice
    ends_with_zero "$last_pid" || fail "the second start $n did not end with 0"
    sleep 1
    shown_and_active "$pid" "second start $n"
  done
  n=$(find "$work/a/runtime" -name 'msg-*.sock' | wc -l)
  [ "$n" -eq 1 ] || fail "the second starts left $((n - 1)) message sockets behind"

  shot a-office-done
}

# a_statuses PID: once bob has quit, the availabilities and the users editor (from the tray's
# menu) show both statuses, for a person to see them whole.
a_statuses() {
  # shellcheck disable=SC2034  # set by the geometry the script evaluates
  local pid=$1 win dispo users icon X Y WIDTH HEIGHT SCREEN WINDOW
  win=$(visible_window "$pid" "Gestion des messages") || fail "A's window is gone"
  dispo=$(open_by_key "$pid" "$win" alt+d "Utilisateurs connect") ||
    fail "no availabilities dialog"
  import -window "$dispo" "$out/availabilities.png" 2>/dev/null
  click "$dispo" 565 359
  icon=$(tray_icon "$pid") || fail "A's icon is not in the notification area"
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 0.5
  xdotool key f
  users=$(visible_window "$pid" "^Fichier des utilisateurs$") || fail "no users editor"
  sleep 0.5
  import -window "$users" "$out/users-editor.png" 2>/dev/null
  timeout 5 xdotool windowactivate --sync "$users" 2>/dev/null
  xdotool key alt+F4
  sleep 0.5
}

mkdir -p "$work/db"
# shellcheck disable=SC2046
env $(station_env a alice) "$initdb" --register --user alice "$work/db" >/dev/null ||
  fail "the creation tool failed"

if [ "$mode" = tray ]; then
  # The notification area must be shown before B starts: a station with no tray shows at once.
  # A loaded machine may take many seconds to start it.
  for _ in $(seq 300); do
    xdotool search --onlyvisible --class trayer >/dev/null 2>&1 && break
    sleep 0.1
  done
  xdotool search --onlyvisible --class trayer >/dev/null 2>&1 ||
    fail "the notification area did not show"
  # Shown is not yet managing icons: give the notification area time to claim its selection.
  sleep 2
  # B first, so that bob is in the users table when A's recipient list is read.
  start b bob
  b=$last_pid
  dialog=$(visible_window "$b" "Chemin vers la base") || fail "B did not ask for the directory"
  shot b-asks
  timeout 5 xdotool windowactivate --sync "$dialog" 2>/dev/null
  xdotool key ctrl+a
  xdotool type --delay 5 "$work/db"
  xdotool key Return
  for _ in $(seq 100); do
    xdotool search --all --onlyvisible --pid "$b" --name "Chemin vers la base" >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --all --onlyvisible --pid "$b" --name "Chemin vers la base" >/dev/null 2>&1 &&
    fail "the directory dialog stayed"
  sleep 1
  kill -0 "$b" 2>/dev/null || fail "B ended"
  if xdotool search --all --onlyvisible --pid "$b" --name "Gestion des messages" >/dev/null 2>&1
  then
    xdotool search --onlyvisible --class trayer >/dev/null 2>&1 ||
      fail "B's window showed: the notification area went away"
    fail "B's window showed without SHOW"
  fi
  shot b-connected

  start a alice SHOW
  a=$last_pid
  window=$(visible_window "$a" "Gestion des messages") || fail "A's window did not show"
  sleep 1
  shot a-shown
  # A posts to bob: "&Nouveau", the recipient, the subject, the text, "&Sauver".  Positions are
  # those of the form's layout, from the window's top left corner (no window manager here).
  timeout 5 xdotool windowactivate --sync "$window" 2>/dev/null
  xdotool key alt+n
  sleep 0.5
  xdotool mousemove --window "$window" 200 94 click 1
  sleep 0.5
  xdotool type --delay 20 "bob"
  xdotool key Return
  sleep 0.3
  xdotool mousemove --window "$window" 458 92 click 1
  xdotool key ctrl+a
  xdotool type --delay 5 "Dupuis"
  xdotool mousemove --window "$window" 100 180 click 1
  xdotool key ctrl+a
  xdotool type --delay 5 "Devis en retard"
  xdotool mousemove --window "$window" 300 235 click 1
  xdotool type --delay 5 "Merci de rappeler Martin pour le devis"
  shot a-typed
  xdotool key alt+s
  not_added "$a" a
  saved=$(date +%s)
  sleep 0.5
  shot a-saved

  # Within the poll (5 s) and 2 s more: B's alert, and its tray icon animating.
  alert=""
  while [ $(($(date +%s) - saved)) -le 7 ]; do
    alert=$(xdotool search --all --onlyvisible --pid "$b" --name "Gestion des appels" 2>/dev/null |
      head -n1)
    [ -n "$alert" ] && break
    sleep 0.2
  done
  [ -n "$alert" ] || fail "B's alert did not show within 7 s of the save"
  shot b-alert
  tray_crop=$(tray_area) || fail "the notification area went away"
  frames=()
  for i in 1 2 3 4 5; do
    import -window root -crop "$tray_crop" +repage "$out/tray-frame-$i.png" 2>/dev/null
    frames+=("$(import -window root -crop "$tray_crop" +repage rgb:- 2>/dev/null | md5sum)")
    sleep 0.2
  done
  [ "$(printf '%s\n' "${frames[@]}" | sort -u | wc -l)" -ge 2 ] ||
    fail "B's tray icon did not animate"

  grep -rqa "Merci de rappeler Martin pour le devis" "$work/db" || fail "A's message is not stored"

  # B goes to see the message.
  timeout 5 xdotool windowactivate --sync "$alert" 2>/dev/null
  xdotool key alt+v
  visible_window "$b" "Gestion des messages" >/dev/null || fail "Aller voir did not show B's window"
  sleep 1
  shot b-shown

  # B answers with a new message: the text quoted, line by line, then "&Sauver".  The tool
  # buttons sit above the message memo, at the form's layout positions.
  bwindow=$(visible_window "$b" "Gestion des messages") || fail "B's window is gone"
  timeout 5 xdotool windowactivate --sync "$bwindow" 2>/dev/null
  xdotool mousemove --window "$bwindow" 281 208
  sleep 0.3
  xdotool click 1
  sleep 0.5
  shot b-answer
  xdotool key alt+s
  not_added "$b" b
  stored=""
  for _ in $(seq 50); do
    grep -rqa ">Merci de rappeler Martin pour le devis" "$work/db" && { stored=1; break; }
    sleep 0.1
  done
  shot b-answered
  [ -n "$stored" ] || fail "B's quoted answer is not stored"

  # B prints the message: the preview, its "PDF" button, the file typed in the save dialog; the
  # preview's buttons sit on its top row, "Fermer" closes it.
  xdotool mousemove --window "$bwindow" 231 208
  sleep 0.3
  xdotool click 1
  preview=$(visible_window "$b" "^Aper") || fail "the print button opened no preview"
  shot b-preview
  # At 100 % the A4 page is taller than the preview: the wheel scrolls it to its bottom.
  page_before=$(import -window "$preview" rgb:- 2>/dev/null | md5sum)
  xdotool mousemove --window "$preview" 400 400 click --repeat 30 --delay 20 5
  sleep 0.5
  shot b-preview-bottom
  [ "$(import -window "$preview" rgb:- 2>/dev/null | md5sum)" != "$page_before" ] ||
    fail "the preview's page does not scroll"
  xdotool mousemove --window "$preview" 253 20 click 1
  visible_window "$b" "Enregistrer en PDF" >/dev/null ||
    fail "the preview's PDF button asked nothing"
  sleep 0.5  # the file name field takes the keys once the dialog has the focus
  pdf=$work/message.pdf
  xdotool type --delay 5 "$pdf"
  sleep 0.3
  shot b-pdf-dialog
  xdotool key Return
  for _ in $(seq 50); do
    [ -s "$pdf" ] && break
    sleep 0.1
  done
  [ -s "$pdf" ] || fail "the preview wrote no PDF"
  cp "$pdf" "$out/$mode-message.pdf"
  text=$(pdftotext "$pdf" - 2>/dev/null)
  grep -q "^Interlocteur : Dupuis" <<<"$text" || fail "the PDF lacks the caller and its label"
  grep -q "Merci de rappeler Martin pour le devis" <<<"$text" || fail "the PDF lacks the message"
  # The print dialog speaks French too (kept for a person to look at); Escape leaves it.
  xdotool mousemove --window "$preview" 179 20 click 1
  printing=$(visible_window "$b" "^Imprimer") || fail "the preview's Imprimer asked nothing"
  sleep 0.5
  shot b-print-dialog
  timeout 5 xdotool windowactivate --sync "$printing" 2>/dev/null
  xdotool key Escape
  sleep 0.5
  xdotool mousemove --window "$preview" 327 20 click 1
  for _ in $(seq 50); do
    xdotool search --all --onlyvisible --pid "$b" --name "^Aper" >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --all --onlyvisible --pid "$b" --name "^Aper" >/dev/null 2>&1 &&
    fail "the preview's Fermer did not close it"
  shot b-printed

  a_office "$a"
  quit_from_tray "$b" b
  a_statuses "$a"
  quit_from_tray "$a" a
  disconnected alice bob
else
  start a alice
  a=$last_pid
  window=$(visible_window "$a" "Gestion des messages") || fail "no window without a tray"
  shot shown
  # The window manager closes the active window: a key sent before it took the window is lost.
  for _ in 1 2 3; do
    timeout 5 xdotool windowactivate --sync "$window" 2>/dev/null
    xdotool key alt+F4
    for _ in $(seq 30); do
      xdotool search --all --onlyvisible --pid "$a" --name "Gestion des messages" >/dev/null 2>&1 ||
        break 2
      sleep 0.1
    done
  done
  xdotool search --all --onlyvisible --pid "$a" --name "Gestion des messages" >/dev/null 2>&1 &&
    fail "the close box did not iconify the window"
  kill -0 "$a" 2>/dev/null || fail "the close box ended the program"
  shot iconified
  timeout 5 xdotool windowactivate --sync "$window" 2>/dev/null
  visible_window "$a" "Gestion des messages" >/dev/null || fail "the window did not come back"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # The menu button sits at the left of the bottom bar.
  sleep 0.5
  shot restored
  confirm=""
  for _ in 1 2 3; do
    xdotool mousemove --window "$window" 20 $((HEIGHT - 20)) click 1
    sleep 1
    shot menu
    xdotool key q
    confirm=$(visible_window "$a" "^Confirmation$") && break
    xdotool key Escape
  done
  [ -n "$confirm" ] || fail "the menu's Quitter asked nothing"
  shot confirmation
  timeout 5 xdotool windowactivate --sync "$confirm" 2>/dev/null
  xdotool key alt+q
  ends_with_zero "$a" || fail "Quitter did not end the program with 0"
  disconnected alice
fi
echo "mirvel_xvfb_test ($mode): passed; screenshots in $out"
