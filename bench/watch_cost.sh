#!/usr/bin/env bash
# What whole-disk watching costs the rest of the machine, as root after a
# build: a writer's CPU per change with 0, 1 and 10 users watching, each
# through a watch helper of their own or all through the shared watch
# service, and the kernel memory a stopped reader lets a flood of changes
# take. Each figure RUNS times (default 3).
#   bench/watch_cost.sh BUILD-DIR [RUNS] [CHANGES] [helper|service]
#   watchers=K cpu_us_per_change=C ratio_to_none=R
#   stopped_reader changes=N kernel_mb=M
set -u
build=$1
runs=${2:-3}
changes=${3:-1000000}
mode=${4:-helper}
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 2; }
work=$(mktemp -d)
chmod 755 "$work"
users=()
cleanup() {
  for u in "${users[@]}"; do pkill -KILL -u "$u" 2>/dev/null; done
  sleep 0.2
  for u in "${users[@]}"; do userdel "$u" 2>/dev/null; done
  [ -n "${service_user:-}" ] && userdel "$service_user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null || exit 1
helper="$work/prefix/bin/vantrel-watch-helper"
socket="$work/run/watch.sock"
writer="$build/bench/bench_writer"
for i in $(seq 0 10); do
  u="vantrel-c$$-$i"
  useradd -M -N -s /usr/sbin/nologin "$u" || exit 1
  users+=("$u")
done
as() { local who=$1; shift; setpriv --reuid "$(id -u "$who")" --regid "$(id -g "$who")" --init-groups "$@"; }
if [ "$mode" = service ]; then
  service_user="vantrel-cs$$"
  useradd --system -M -s /usr/sbin/nologin "$service_user" || exit 1
  mkdir -m 755 "$work/run" && chown "$service_user" "$work/run"
fi
# The service runs only while someone watches, as socket activation and its
# ending when idle leave it: nobody watching costs nothing.
start_service() {
  setpriv --reuid "$service_user" --regid "$(id -g "$service_user")" --clear-groups \
    --inh-caps +sys_admin,+dac_read_search --ambient-caps +sys_admin,+dac_read_search \
    "$work/prefix/libexec/vantrel-watch-service" --listen "$socket" 2>/dev/null &
  for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
}
# One user watching: a helper of their own, or a connection to the service.
reader() {
  if [ "$mode" = service ]; then
    as "$1" perl -MIO::Socket::UNIX -e '$s = IO::Socket::UNIX->new(Peer => shift) or die "connect: $!\n";
      while (sysread($s, $b, 65536)) {}' "$socket" &
  else
    as "$1" "$helper" | cat >/dev/null &
  fi
}
readers() { if [ "$mode" = service ]; then pgrep -c -x perl; else pgrep -c -x vantrel-watch-h; fi; }
stop_reader() { if [ "$mode" = service ]; then pkill -STOP -u "$1" -x perl; else pkill -STOP -u "$1" -x vantrel-watch-h; fi; }
mkdir -m 777 "$work/writes"
# User 0 writes; users 1..K watch.
cost() { as "${users[0]}" "$writer" files "$work/writes" 100000 | sed 's/.*cpu_us_per_change=\([0-9.]*\).*/\1/'; }
watch() {
  [ "$mode" = service ] && start_service
  for i in $(seq 1 "$1"); do reader "${users[$i]}"; done
  for _ in $(seq 100); do
    [ "$(readers)" -ge "$1" ] && break
    sleep 0.05
  done
  sleep 1 # every helper past its start: marking is done
}
stop_watching() {
  for i in $(seq 1 10); do pkill -KILL -u "${users[$i]}" 2>/dev/null; done
  if [ "$mode" = service ]; then
    pkill -KILL -u "$service_user" 2>/dev/null
    rm -f "$socket"
  fi
  sleep 0.5
}
for run in $(seq "$runs"); do
  none=$(cost)
  echo "mode=$mode watchers=0 cpu_us_per_change=$none ratio_to_none=1.00"
  for k in 1 10; do
    watch "$k"
    c=$(cost)
    echo "mode=$mode watchers=$k cpu_us_per_change=$c ratio_to_none=$(awk -v c="$c" -v n="$none" 'BEGIN { printf "%.2f", c / n }')"
    stop_watching
  done
done
for run in $(seq "$runs"); do
  [ "$mode" = service ] && start_service
  reader "${users[1]}"
  sleep 1
  stop_reader "${users[1]}"
  before=$(awk '$1 == "SUnreclaim:" { print $2 }' /proc/meminfo)
  as "${users[0]}" "$writer" files "$work/writes" "$changes" >/dev/null
  after=$(awk '$1 == "SUnreclaim:" { print $2 }' /proc/meminfo)
  echo "stopped_reader mode=$mode changes=$changes kernel_mb=$(((after - before) / 1024))"
  stop_watching
done
