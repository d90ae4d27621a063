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
# How long each leg took, said at the end: what a change to the tests costs.
phases=()
phase_started=$(date +%s)
phase() {
  local now
  now=$(date +%s)
  phases+=("$1: $((now - phase_started)) s")
  phase_started=$now
}
trap 'printf "%s\n" "${phases[@]}"' EXIT

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
phase "build"
ctest --preset default -j "$jobs"
phase "tests"

if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize -j "$jobs"
  phase "sanitizer build"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset sanitize -j "$jobs"
  phase "sanitizer tests"
fi

# A few seconds of each fuzz target from its seeds: a crash on a known input
# fails the tests.
if [ "${VANTREL_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh 3
  phase "fuzz"
fi

# The Windows build of the core and its tests, under Wine, once in the ANSI
# code page 1252 and once in 936 (a zh_CN locale): narrow Windows calls that
# would mangle UTF-8 show in one or the other. A test of its own proves
# which code page each run had.
if [ "${VANTREL_SKIP_WINDOWS:-0}" != 1 ]; then
  VANTREL_WINDOWS_JOBS="$jobs" bash scripts/build-windows.sh
  export WINEPREFIX="$PWD/build-windows/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # The window's tests draw on a virtual X server of the leg's own; Wine's
  # desktop takes its display when the server below starts.
  source scripts/xvfb.sh
  vantrel_start_xvfb
  # Without a wineserver that stays, every test process would start one.
  stop_wineserver() { wineserver -k 2>/dev/null || true; vantrel_stop_xvfb; }
  trap 'stop_wineserver; printf "%s\n" "${phases[@]}"' EXIT
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # The server and the services Wine starts with the first program stay for
  # the whole leg; started here with no terminal or pipe of ours, so that no
  # test's output pipe is held open by them after the test ends.
  wineserver -p </dev/null >/dev/null 2>&1
  build-windows/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1
  LANG=C.UTF-8 VANTREL_EXPECTED_ACP=1252 ctest --preset windows -j "$jobs"
  # What depends on no code page (label once) ran in the first.
  LANG=zh_CN.UTF-8 VANTREL_EXPECTED_ACP=936 ctest --preset windows -j "$jobs" -LE once
  stop_wineserver
  trap 'printf "%s\n" "${phases[@]}"' EXIT
  phase "Windows leg"
fi
