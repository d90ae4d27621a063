#!/usr/bin/env bash
# What whole-disk watching costs the rest of the machine, as root after a
# build: a writer's CPU per change with 0, 1 and 10 users' watch helpers
# running, and the kernel memory a stopped helper lets a flood of changes
# take. Each figure RUNS times (default 3).
#   bench/watch_cost.sh BUILD-DIR [RUNS] [CHANGES]
#   watchers=K cpu_us_per_change=C ratio_to_none=R
#   stopped_helper changes=N kernel_mb=M
set -u
build=$1
runs=${2:-3}
changes=${3:-1000000}
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 2; }
work=$(mktemp -d)
chmod 755 "$work"
users=()
cleanup() {
  for u in "${users[@]}"; do pkill -KILL -u "$u" 2>/dev/null; done
  sleep 0.2
  for u in "${users[@]}"; do userdel "$u" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null || exit 1
helper="$work/prefix/bin/vantrel-watch-helper"
writer="$build/bench/bench_writer"
for i in $(seq 0 10); do
  u="vantrel-c$$-$i"
  useradd -M -N -s /usr/sbin/nologin "$u" || exit 1
  users+=("$u")
done
as() { local who=$1; shift; setpriv --reuid "$(id -u "$who")" --regid "$(id -g "$who")" --init-groups "$@"; }
mkdir -m 777 "$work/writes"
# User 0 writes; users 1..K watch.
cost() { as "${users[0]}" "$writer" files "$work/writes" 100000 | sed 's/.*cpu_us_per_change=\([0-9.]*\).*/\1/'; }
watch() {
  for i in $(seq 1 "$1"); do as "${users[$i]}" "$helper" | cat >/dev/null & done
  for _ in $(seq 100); do
    [ "$(pgrep -c -x vantrel-watch-h)" -ge "$1" ] && break
    sleep 0.05
  done
  sleep 1 # every helper past its start: marking is done
}
stop_watching() { for i in $(seq 1 10); do pkill -KILL -u "${users[$i]}" 2>/dev/null; done; sleep 0.5; }
for run in $(seq "$runs"); do
  none=$(cost)
  echo "watchers=0 cpu_us_per_change=$none ratio_to_none=1.00"
  for k in 1 10; do
    watch "$k"
    c=$(cost)
    echo "watchers=$k cpu_us_per_change=$c ratio_to_none=$(awk -v c="$c" -v n="$none" 'BEGIN { printf "%.2f", c / n }')"
    stop_watching
  done
done
for run in $(seq "$runs"); do
  as "${users[1]}" "$helper" | cat >/dev/null &
  sleep 1
  pkill -STOP -u "${users[1]}" -x vantrel-watch-h
  before=$(awk '$1 == "SUnreclaim:" { print $2 }' /proc/meminfo)
  as "${users[0]}" "$writer" files "$work/writes" "$changes" >/dev/null
  after=$(awk '$1 == "SUnreclaim:" { print $2 }' /proc/meminfo)
  echo "stopped_helper changes=$changes kernel_mb=$(((after - before) / 1024))"
  stop_watching
done
