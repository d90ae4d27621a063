#!/usr/bin/env bash
# Pictures of the program as a person sees it: a virtual X server with a
# window manager and a tray, the program on a temporary home with a few rules
# and events, and a PNG of each window state in OUTDIR.
set -euo pipefail
out=${1:?usage: scripts/screenshots.sh OUTDIR}
cd "$(dirname "$0")/.."
source scripts/setup.sh
VANTREL_PACKAGES+=(xvfb openbox trayer fonts-wqy-zenhei)
vantrel_setup
mkdir -p "$out"
out=$(cd "$out" && pwd)

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target screenshot_tour first_minutes_test

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 2
openbox >/dev/null 2>&1 &
trayer --edge top --align right --widthtype request --height 28 --transparent false >/dev/null 2>&1 &
sleep 1.5
QT_QPA_PLATFORM=xcb build/tests/screenshot_tour "$out"
kill "$xvfb" 2>/dev/null || true
# A newcomer's first minutes at 1920x1080, 1024x768 and twice the scale:
# the first start, the editor with a name pattern, a failed copy's row.
VANTREL_SHOTS_DIR="$out/first-minutes" tests/app/first_minutes_test.sh build/tests/first_minutes_test
