#!/usr/bin/env bash
# Runs a command on a private X display: Xvfb at 96 dpi (its display number chosen by Xvfb
# itself), a notification area (trayer) unless --no-tray, a window manager (openbox) with --wm.
# The command runs with QT_QPA_PLATFORM=xcb.  Only what this script started is stopped.
#
#   scripts/xvfb-run.sh [--wm] [--no-tray] -- command [args...]
#
# A missing tool prints what to install and exits 77 (CTest's skip code), except under CI
# (the variable CI set), where it is a failure: CI must never pass by skipping.
set -uo pipefail

want_wm=0
want_tray=1
while [ $# -gt 0 ]; do
  case "$1" in
    --wm) want_wm=1; shift ;;
    --no-tray) want_tray=0; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: $0 [--wm] [--no-tray] -- command [args...]" >&2
  exit 2
fi

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$1 (Debian package $2)"); }
need Xvfb xvfb
need xdotool xdotool
need import imagemagick
[ "$want_tray" -eq 1 ] && need trayer trayer
[ "$want_wm" -eq 1 ] && need openbox openbox
[ "$want_wm" -eq 1 ] && need xprop x11-utils
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing: ${missing[*]}; run scripts/setup.sh" >&2
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
fi

started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${fd_file:-}" ] && rm -f "$fd_file"
}
trap cleanup EXIT

fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$fd_file" 2>/dev/null &
started+=($!)
for _ in $(seq 100); do
  [ -s "$fd_file" ] && break
  sleep 0.1
done
display=$(head -n1 "$fd_file")
if [ -z "$display" ]; then
  echo "Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
# The display must answer a client before anything starts on it (a loaded machine has been seen
# to refuse the first connection, and to take seconds to answer when many displays start at once).
for _ in $(seq 300); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "display $DISPLAY does not answer" >&2; exit 1; }

if [ "$want_wm" -eq 1 ]; then
  # A window mapped while the window manager is still starting may be left unmanaged and unmapped:
  # wait until it announces itself on the root window (up to 30 s on a loaded machine), starting
  # it again if it ended before.
  wm_log=$(mktemp)
  wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
  for attempt in 1 2 3; do
    openbox >/dev/null 2>>"$wm_log" &
    wm_pid=$!
    started+=($wm_pid)
    for _ in $(seq 300); do
      wm_up && break
      kill -0 "$wm_pid" 2>/dev/null || break
      sleep 0.1
    done
    wm_up && break
    echo "openbox, attempt $attempt: not announced" >>"$wm_log"
  done
  if ! wm_up; then
    echo "the window manager did not start:" >&2
    cat "$wm_log" >&2
    rm -f "$wm_log"
    exit 1
  fi
  rm -f "$wm_log"
fi
if [ "$want_tray" -eq 1 ]; then
  trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 32 \
         --transparent false --tint 0x3060a0 --SetDockType true >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 50); do
    xdotool search --class trayer >/dev/null 2>&1 && break
    sleep 0.1
  done
fi

"$@"
