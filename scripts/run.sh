#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Vantrel with the
# arguments given to this script.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vantrel_setup
cmake --preset default >/dev/null
cmake --build --preset default --target vantrel
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting Vantrel on the offscreen platform (the monitor and its rules still run)."
  export QT_QPA_PLATFORM=offscreen
fi
exec build/vantrel "$@"
