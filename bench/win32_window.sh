#!/usr/bin/env bash
# The Win32 window's benchmark under Wine, as the tests run it: the build's
# prefix, a wineserver that stays, a virtual X server.
#   bench/win32_window.sh burst [--files N] | rows [--rows N]
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEPREFIX="$PWD/build-windows/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=${LANG:-C.UTF-8}
source scripts/xvfb.sh
vantrel_start_xvfb
trap 'wineserver -k 2>/dev/null || true; vantrel_stop_xvfb' EXIT
wineserver -k 2>/dev/null || true
wineserver -p
build-windows/wine-run.sh build-windows/bench/win32_window_bench.exe "$@"
