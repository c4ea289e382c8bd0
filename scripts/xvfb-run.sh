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
# to refuse the first connection).
for _ in $(seq 50); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "display $DISPLAY does not answer" >&2; exit 1; }

if [ "$want_wm" -eq 1 ]; then
  openbox >/dev/null 2>&1 &
  started+=($!)
  # A window mapped while the window manager is still starting may be left unmanaged and unmapped:
  # wait until it announces itself on the root window.
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" ||
    { echo "the window manager did not start" >&2; exit 1; }
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
