#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Vantrel with the
# arguments given to this script.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vantrel_setup
cmake --preset default >/dev/null
cmake --build --preset default --target vantrel
# Without a display the program says so itself and runs on the offscreen
# platform; the terminal then shows what happens.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec build/vantrel --console "$@"
fi
exec build/vantrel "$@"
