#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 60) from its seed corpus; a crash stops with its input saved in the
# current folder. Prints each target's executions.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
source scripts/setup.sh
vantrel_setup
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in rule_file ini shell_link time_pictures; do
  exe=build-fuzz/fuzz/fuzz_$(echo "$target" | sed -E 's/(^|_)([a-z])/\U\2/g')
  # A copy, so that what the run learns never changes the seeds in the tree.
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target/"
  log="$work/$target.log"
  if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 "$work/$target" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz $target: FAILED"
    exit 1
  fi
  runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "fuzz $target: ${runs:-?} executions in ${seconds}s, no crash"
done
