#!/usr/bin/env bash
# Runs the first-minutes walk through the real windows on a virtual X server
# with a window manager and a tray: at 1920x1080, at 1024x768, and at 1920x1080
# drawn at twice the scale. With VANTREL_SHOTS_DIR set, each run leaves its
# pictures in a folder of its own there.
#   first_minutes_test.sh FIRST-MINUTES-TEST
set -u
test_binary=$1
skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb openbox trayer xdpyinfo; do command -v "$tool" >/dev/null || skip "$tool is missing"; done
. "$(dirname "$0")/../../scripts/xvfb.sh"
status=0
run() {
  local size=$1 scale=$2 name=$3
  vantrel_start_xvfb "${size}x24" || skip "no virtual X server"
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
  openbox >/dev/null 2>&1 &
  local wm=$!
  trayer --edge top --align right --widthtype request --height 28 --transparent false >/dev/null 2>&1 &
  local tray=$!
  # The window manager owns the screen once it has set its property.
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done
  local shots=""
  if [ -n "${VANTREL_SHOTS_DIR:-}" ]; then shots="$VANTREL_SHOTS_DIR/$name"; mkdir -p "$shots"; fi
  echo "== $name: ${size}, scale ${scale}"
  if ! VANTREL_SHOTS_DIR="$shots" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" "$test_binary"; then
    echo "FAIL: the walk at $name"
    status=1
  fi
  kill "$tray" "$wm" 2>/dev/null
  wait "$tray" "$wm" 2>/dev/null
  vantrel_stop_xvfb
}
run 1920x1080 1 1920x1080
run 1024x768 1 1024x768
run 1920x1080 2 1920x1080-2x
exit $status
