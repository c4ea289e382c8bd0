#!/usr/bin/env bash
# The program on a real display, run inside scripts/xvfb-run.sh.
#
#   mirvel_xvfb_test.sh <mirvel> <mirvel-initdb> <output directory> tray|notray
#
# tray: a database made by the creation tool for alice (A's registry names it); A starts with
# "SHOW" and its window shows; B (bob, its registry empty) starts without it: the directory
# dialog asks, the script types the directory, B connects and stays hidden; the end of the
# session (SIGTERM) ends both with exit code 0.
# notray (with a window manager, without trayer): A without "SHOW" shows at once; the close box
# iconifies it; restored, its menu button opens the tray's menu, whose "&Quitter" and the
# confirmation's "&Quitter" end the program with exit code 0.
# Every wait is bounded; screenshots and the error log stay in the output directory.
set -uo pipefail
mirvel=$1
initdb=$2
out=$3/artifacts/app-ui
mode=$4
mkdir -p "$out"
work=$(mktemp -d)
pids=()

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  cp "$work"/db/ERROR.LOG "$out/ERROR-$mode.LOG" 2>/dev/null
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
  # shellcheck disable=SC2046
  env $(station_env "$1" "$2") "$mirvel" ${3:-} >"$work/$1.out" 2>&1 &
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
ends_with_zero() {  # ends_with_zero PID: waits at most 10 s
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$1" 2>/dev/null && return 1
  wait "$1"
}

mkdir -p "$work/db"
# shellcheck disable=SC2046
env $(station_env a alice) "$initdb" --register --user alice "$work/db" >/dev/null ||
  fail "the creation tool failed"

if [ "$mode" = tray ]; then
  start a alice SHOW
  a=$last_pid
  visible_window "$a" "Gestion des messages" >/dev/null || fail "A's window did not show"
  shot a-shown
  start b bob
  b=$last_pid
  dialog=$(visible_window "$b" "Chemin vers la base") || fail "B did not ask for the directory"
  shot b-asks
  xdotool windowactivate --sync "$dialog" 2>/dev/null
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
  xdotool search --all --onlyvisible --pid "$b" --name "Gestion des messages" >/dev/null 2>&1 &&
    fail "B's window showed without SHOW"
  shot b-connected
  kill -TERM "$a" "$b"
  ends_with_zero "$a" || fail "A did not end with 0 on SIGTERM"
  ends_with_zero "$b" || fail "B did not end with 0 on SIGTERM"
else
  start a alice
  a=$last_pid
  window=$(visible_window "$a" "Gestion des messages") || fail "no window without a tray"
  shot shown
  xdotool windowactivate --sync "$window" 2>/dev/null
  xdotool key alt+F4
  for _ in $(seq 50); do
    xdotool search --all --onlyvisible --pid "$a" --name "Gestion des messages" >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --all --onlyvisible --pid "$a" --name "Gestion des messages" >/dev/null 2>&1 &&
    fail "the close box did not iconify the window"
  kill -0 "$a" 2>/dev/null || fail "the close box ended the program"
  shot iconified
  xdotool windowactivate --sync "$window" 2>/dev/null
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
  xdotool windowactivate --sync "$confirm" 2>/dev/null
  xdotool key alt+q
  ends_with_zero "$a" || fail "Quitter did not end the program with 0"
fi
echo "mirvel_xvfb_test ($mode): passed; screenshots in $out"
