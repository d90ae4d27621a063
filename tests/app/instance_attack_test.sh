#!/usr/bin/env bash
# The single-instance guard against another local user and against the home
# under other names: a squatter or a flood of connections never stops or
# pins the running copy, and a home given through a link or a bind mount
# finds the copy already running there.
set -u
exe=$1
probe=$2
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to make test users"; exit 77; }
command -v useradd >/dev/null && command -v setpriv >/dev/null || { echo "SKIP: useradd or setpriv missing"; exit 77; }
work=$(mktemp -d)
chmod 755 "$work"
victim=vtv$$ attacker=vta$$
cleanup() {
  pkill -9 -u "$victim" 2>/dev/null; pkill -9 -u "$attacker" 2>/dev/null
  umount "$work/bound" 2>/dev/null
  userdel "$victim" 2>/dev/null; userdel "$attacker" 2>/dev/null
  rm -rf "$work" "/tmp/vantrel-$vuid"
}
fail() { echo "FAIL: $*"; exit 1; }
useradd -M -N -s /usr/sbin/nologin "$victim" && useradd -M -N -s /usr/sbin/nologin "$attacker" ||
  { echo "SKIP: cannot add users"; exit 77; }
vuid=$(id -u "$victim")
trap cleanup EXIT
setpriv --reuid="$victim" --regid="$(id -g "$victim")" --clear-groups test -x "$exe" ||
  { echo "SKIP: $exe cannot be run by another user here"; exit 77; }

as() {
  local user=$1
  shift
  setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/$user" QT_QPA_PLATFORM=offscreen "$@"
}
vgid=$(id -g "$victim")
home="$work/home"
mkdir -p "$home" "$work/$victim" "$work/$attacker"
chown "$victim" "$home" "$work/$victim"
chown "$attacker" "$work/$attacker"

start_victim() {
  # Not through a function: $! must be the program itself.
  setpriv --reuid="$victim" --regid="$vgid" --clear-groups env -i PATH=/usr/bin:/bin HOME="$work/$victim" \
    QT_QPA_PLATFORM=offscreen "$exe" --home "$1" --watch-backend inotify >/dev/null 2>"$work/err" &
  vpid=$!
  # Up once it holds the guard (only the holder writes its process id into
  # the lock file, wherever the guard had to go) and has made its window,
  # which is when it sets SIGTERM to end it; or once it has ended.
  local mask
  for _ in $(seq 200); do
    kill -0 "$vpid" 2>/dev/null || return
    mask=$(awk '$1 == "SigCgt:" { print $2 }' "/proc/$vpid/status" 2>/dev/null)
    grep -qsx "$vpid" "/tmp/vantrel-$vuid"/*.lock "$1/.vantrel-run"/*.lock && [ -n "$mask" ] &&
      (((0x$mask >> 14) & 1)) && return
    sleep 0.05
  done
}
# The socket names a process has bound.
names_of() {
  local inodes
  inodes=$(ls -l "/proc/$1/fd" 2>/dev/null | sed -n 's/.*socket:\[\([0-9]*\)\].*/\1/p')
  for i in $inodes; do awk -v i="$i" '$7 == i && NF >= 8 { print $8 }' /proc/net/unix; done | sort -u
}

# Someone else made the fallback folder of the guard first.
rm -rf "/tmp/vantrel-$vuid"
as "$attacker" mkdir -m 777 "/tmp/vantrel-$vuid"
start_victim "$home"
kill -0 "$vpid" 2>/dev/null || fail "a planted guard folder stopped the program: $(cat "$work/err")"
as "$victim" timeout 5 "$exe" --home "$home" --watch-backend inotify >/dev/null 2>"$work/second"
grep -q "程序已运行,无需重复运行!" "$work/second" || fail "with a planted guard folder the home was not guarded"
names=$(names_of "$vpid")
[ -n "$names" ] || fail "the running copy has no socket to find"
kill -TERM "$vpid"; wait "$vpid"

# Another user takes every name the guard used before the program starts.
k=0
for n in $names; do
  k=$((k + 1))
  as "$attacker" "$probe" bind "$n" >"$work/bind.$k" 2>&1 &
done
# Each squatter says so once it has bound what it could.
for _ in $(seq 200); do
  done_binding=1
  for i in $(seq "$k"); do grep -qs "^bound" "$work/bind.$i" || done_binding=; done
  [ -n "$done_binding" ] && break
  sleep 0.05
done
start_victim "$home"
kill -0 "$vpid" 2>/dev/null || fail "another user's squatting kept the program from running: $(cat "$work/err")"
pkill -u "$attacker"

# Another user floods every socket of the running copy.
names=$(names_of "$vpid")
before=$(ls "/proc/$vpid/fd" | wc -l)
k=0
for n in $names; do
  k=$((k + 1))
  (ulimit -n 4096 2>/dev/null; as "$attacker" "$probe" flood "$n" 1100 >"$work/flood.$k" 2>&1) &
done
# Measured once every flooder has said how many went through and the
# program has taken in all that waits on its sockets.
queued() { ss -x -a -n 2>/dev/null | awk -v names="$names" '
  BEGIN { n = split(names, list); for (i = 1; i <= n; i++) ours[list[i]] = 1 }
  ($5 in ours) && $3 + 0 > 0 { found = 1 } END { exit !found }'; }
for _ in $(seq 200); do
  flooded=1
  for i in $(seq "$k"); do grep -qs "^connected" "$work/flood.$i" || flooded=; done
  [ -n "$flooded" ] && ! queued && break
  sleep 0.05
done
after=$(ls "/proc/$vpid/fd" | wc -l)
kill -0 "$vpid" 2>/dev/null || fail "the flood ended the program"
[ "$after" -le $((before + 20)) ] || fail "another user's connections hold $((after - before)) of the program's descriptors ($(cat "$work"/flood.*))"
pkill -u "$attacker"

# The same home through a link and through a bind mount is the same home.
ln -s "$home" "$work/link"
as "$victim" timeout 5 "$exe" --home "$work/link" --watch-backend inotify >/dev/null 2>"$work/second"
[ $? -eq 0 ] || fail "a second copy ran on the home given through a link"
grep -q "程序已运行,无需重复运行!" "$work/second" || fail "no notice for the home through a link"
mkdir "$work/bound"
if mount --bind "$home" "$work/bound" 2>/dev/null; then
  as "$victim" timeout 5 "$exe" --home "$work/bound" --watch-backend inotify >/dev/null 2>"$work/second"
  [ $? -eq 0 ] || fail "a second copy ran on the home through a bind mount"
  umount "$work/bound"
else
  echo "note: bind mounts are not possible here; that case was not tried"
fi
kill -TERM "$vpid"; wait "$vpid"
echo "instance guard: squatting, flooding and other names of the home all held"
