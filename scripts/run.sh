#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Vantrel with the
# arguments given to this script; as root it first gives the watch helper in
# build/ its capabilities, so that ordinary users may start build/vantrel
# and watch the whole disk.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vantrel_setup
cmake --preset default >/dev/null
cmake --build --preset default --target vantrel
# The watch helper beside the program is the one file with capabilities;
# only root can give them, and a rebuild takes them away again.
if [ "$(id -u)" -eq 0 ]; then
  setcap cap_sys_admin,cap_dac_read_search+ep build/vantrel-watch-helper
fi
# Without a display the program says so itself and runs on the offscreen
# platform; the terminal then shows what happens.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec build/vantrel --console "$@"
fi
exec build/vantrel "$@"
