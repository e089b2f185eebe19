#!/usr/bin/env bash
# The desktop program as a user runs it, on a real X server (Xvfb, Qt's xcb
# platform): started on the emulated target, the Upgrade button clicked with
# the mouse, the window closed with Escape; the emulated flash then holds the
# image. Leaves a screenshot of the finished upgrade in WORK_DIR.
# Usage: xvfb_end_to_end.sh PROGRAM MAKE_DEMO_IMAGES WORK_DIR
set -euo pipefail
program=$1
make_images=$2
work=$3
fail() { echo "FAIL: $*"; [ -f "$log" ] && tail -20 "$log"; exit 1; }

rm -rf "$work"
mkdir -p "$work/runtime" "$work/state"
chmod 700 "$work/runtime"
cd "$work"
"$make_images" Data >/dev/null
log="$work/state/vane-upgrade/vane-upgrade-gui.log"

# A display of our own: the first free number from 120 on.
display=120
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
gui=
cleanup() {
  [ -n "$gui" ] && kill "$gui" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_STATE_HOME="$work/state"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Waits up to 20 s for a line in the log.
wait_for_line() {
  for _ in $(seq 1000); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.02
  done
  fail "the log never said '$1'"
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
start=$(now_ms)
"$program" --emulate --emulate-flash "$work/flash.bin" >"$work/stdout.log" 2>&1 &
gui=$!
window=
for _ in $(seq 1000); do
  window=$(xdotool search --onlyvisible --name '^TALMO Upgrade for Mirra$' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.02
done
[ -n "$window" ] || fail "no window"
shown=$(now_ms)
wait_for_line "Shown: Connected"
connected=$(now_ms)
echo "PASS: the window shows Connected"
sleep 1
rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$gui/status")
echo "FIGURES: window shown after $((shown - start)) ms, Connected after $((connected - start)) ms, resident at idle ${rss} KiB"

# The Upgrade button: template (291,103) 68x43 dialog units; the window's base
# units are 8 by 15 pixels (Liberation Sans, 13 pixels).
xdotool mousemove --window "$window" 650 232 click 1
wait_for_line "Shown: Complete!"
echo "PASS: the upgrade ran to Complete!"
sleep 0.3
import -window "$window" "$work/xvfb-screenshot.png" 2>/dev/null || true

xdotool windowfocus --sync "$window"
xdotool key --window "$window" Escape
for _ in $(seq 100); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui" 2>/dev/null && fail "the window did not close on Escape"
wait "$gui" || fail "the program ended with $?"
gui=
cmp -n "$(stat -c %s Data/Vane_TX_V1030.fir)" Data/Vane_TX_V1030.fir "$work/flash.bin" ||
  fail "the emulated flash does not hold the image"
echo "PASS: the emulated flash holds the image"
