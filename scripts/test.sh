#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the normal
# build and once under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vantrel_setup
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize -j "$jobs"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset sanitize -j "$jobs"
fi

# A few seconds of each fuzz target from its seeds: a crash on a known input
# fails the tests.
if [ "${VANTREL_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh 3
fi
