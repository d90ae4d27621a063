#!/usr/bin/env bash
# Pictures of the Windows window as a person sees it: the Windows build,
# Wine in the build's prefix with a Chinese locale, on a virtual X server
# with a window manager and a tray; a PNG of each state in OUTDIR.
set -euo pipefail
out=${1:?usage: scripts/screenshots-windows.sh OUTDIR}
cd "$(dirname "$0")/.."
mkdir -p "$out"
out=$(cd "$out" && pwd)
VANTREL_WINDOWS_SETUP_ONLY=1 bash scripts/build-windows.sh
for p in openbox trayer; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' && continue
  [ "$(id -u)" -eq 0 ] || { echo "missing $p; as root: apt-get install -y $p" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p"
done
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target win32_screenshot_tour

source scripts/xvfb.sh
vantrel_start_xvfb 1280x900x24
export WINEPREFIX="$PWD/build-windows/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8
trap 'wineserver -k 2>/dev/null || true; kill $(jobs -p) 2>/dev/null || true; vantrel_stop_xvfb' EXIT
openbox >/dev/null 2>&1 &
trayer --edge top --align right --widthtype request --height 28 --transparent false >/dev/null 2>&1 &
# Wine's desktop and the tray take their display with the first program.
wineserver -k 2>/dev/null || true
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wine build-windows/tests/win32_screenshot_tour.exe "$out"
