#!/usr/bin/env bash
# Whole-disk watching tried as a hostile local user would, after root
# installed the program: another user hides names behind a folder others may
# only pass through, floods the machine while their own helper is stopped,
# makes folders by the hundred thousand, starts helpers without end, and a
# FUSE mount stops answering; the watching user's helper is killed and
# stopped. No name the watcher could not list may reach them, no other
# user's process id, no memory may grow without bound, and the program must
# never hang or run blind.
#   watch_attack_test.sh BUILD-DIR WRITE-RULE-FILE BENCH-WRITER
set -u
build=$1
write_rules=$2
writer=$3
. "$(dirname "$0")/watch_lib.sh"
[ "$(id -u)" -eq 0 ] || skip "needs root, to install with capabilities and to make throwaway users"
for tool in useradd userdel setpriv setcap perl iconv mount umount pgrep pkill; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d)
chmod 755 "$work"
watcher="vantrel-w$$"
attacker="vantrel-a$$"
hang="$work/hang"
cleanup() {
  pkill -KILL -u "$watcher" 2>/dev/null
  pkill -KILL -u "$attacker" 2>/dev/null
  # Never asked anything: it would not answer.
  grep -q " $hang " /proc/self/mountinfo && umount -l "$hang"
  # The last descriptor of the connection gone, whatever waited on it ends.
  exec 9>&- 2>/dev/null
  # Gone before their users are.
  for _ in $(seq 100); do
    pgrep -u "$watcher,$attacker" >/dev/null 2>&1 || break
    sleep 0.02
  done
  userdel "$watcher" 2>/dev/null
  userdel "$attacker" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

useradd -M -N -s /usr/sbin/nologin "$watcher" || skip "useradd could not make a user"
useradd -M -N -s /usr/sbin/nologin "$attacker" || skip "useradd could not make a second user"

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
bin="$work/prefix/bin"
findmnt -n -o OPTIONS -T "$bin" | grep -qw nosuid && skip "$work is on a nosuid mount, where file capabilities do not count"
cp "$writer" "$work/writer" && chmod 755 "$work/writer"

helper_of() { pgrep -n -u "$(id -u "$1")" -x vantrel-watch-h; }

# The watcher's helper, run directly: what it writes is what that user learns.
mkdir -m 755 "$work/public" "$work/mine"
chown "$watcher" "$work/mine"
as "$watcher" "$bin/vantrel-watch-helper" | cat >"$work/direct" &
wait_for 10 grep -q . "$work/direct" || fail "the helper did not start: $(cat "$work/direct")"

# (1) A folder others may pass through but not list hides what is below it.
mkdir -m 711 "$work/passage"
chown "$attacker" "$work/passage"
as "$attacker" sh -c "mkdir -m 755 '$work/passage/sub' && echo x >'$work/passage/sub/secret-below-passage'"
# (2) Who made a change is told only for the watcher's own processes.
echo root >"$work/public/by-root.txt"
# Alive while the helper looks up whose it is.
as "$watcher" sh -c "echo own >'$work/mine/own.txt'; exec tail -f /dev/null" &
wait_for 10 sh -c "grep -qa own.txt '$work/direct'" || fail "the watcher's own change never came"
decode "$work/direct" >"$work/direct.txt"
grep -q "secret-below-passage" "$work/direct.txt" && fail "a name below a search-only folder reached another user"
grep -q " $work/public/by-root.txt$" "$work/direct.txt" || fail "a change in a public folder did not come: $(cat "$work/direct.txt")"
grep " $work/public/by-root.txt$" "$work/direct.txt" | grep -qv "^change [0-9]* 0 " && fail "root's process id reached another user"
grep " $work/mine/own.txt$" "$work/direct.txt" | grep -q "^change [0-9]* 0 " && fail "the watcher's own process id was not told"

# (3) Rights are those at the change: a folder opened right after a secret
# name came and went in it, or moved out of a private folder into a public
# one, gives away nothing of what happened while it was private.
run_races "$attacker" "$work"
as "$watcher" sh -c "echo own >'$work/mine/after-races.txt'"
wait_for 10 sh -c "grep -qa after-races.txt '$work/direct'" || fail "the watcher's change after the races never came"
decode "$work/direct" >"$work/direct.txt"
check_races "$work/direct.txt" ""

# (4) One user runs a few helpers at most: every helper is a queue that
# every change on the machine is written to.
for i in 1 2 3; do as "$watcher" "$bin/vantrel-watch-helper" | cat >"$work/extra$i" & done
wait_for 10 sh -c "for f in '$work'/extra1 '$work'/extra2 '$work'/extra3; do [ -s \"\$f\" ] || exit 1; done"
refused=$(cat "$work"/extra* | tr -d '\0' | grep -ac "already runs")
[ "$refused" -ge 1 ] || fail "a fourth helper of one user was started"
pkill -u "$(id -u "$watcher")" -x vantrel-watch-h
wait_for 5 sh -c "! pgrep -u $(id -u "$watcher") -x vantrel-watch-h >/dev/null" || fail "helpers outlived their readers"

# (5) A stopped helper costs its user a loss, not the machine its memory.
as "$watcher" "$bin/vantrel-watch-helper" | cat >"$work/stopped" &
wait_for 10 grep -q . "$work/stopped" || fail "the helper did not start"
kill -STOP "$(helper_of "$watcher")"
mkdir -m 700 "$work/flood" && chown "$attacker" "$work/flood"
before=$(kb SUnreclaim /proc/meminfo)
as "$attacker" "$work/writer" files "$work/flood" 300000 >/dev/null || fail "the flood did not run"
after=$(kb SUnreclaim /proc/meminfo)
grown=$(((after - before) / 1024))
echo "kernel memory grown by ${grown} MB with a stopped helper and 300000 changes"
# The kernel's own bounded queue holds a few MB; without a bound this many
# changes take over 50 MB, a million about 600.
[ "$grown" -lt 25 ] || fail "a stopped helper let kernel memory grow by ${grown} MB"
pkill -KILL -u "$(id -u "$watcher")" -x vantrel-watch-h

# (6) Another user's private folders do not swell the watcher's helper.
as "$watcher" "$bin/vantrel-watch-helper" | cat >"$work/swell" &
wait_for 10 grep -q . "$work/swell" || fail "the helper did not start"
pid=$(helper_of "$watcher")
# Each inside the last, deeper than any path can name.
as "$attacker" "$work/writer" nested "$work/flood" 100000 >/dev/null || fail "the folders were not made"
# Done once the watcher's own change after them is told: the helper names
# in order.
as "$watcher" sh -c "echo own >'$work/mine/after-folders.txt'"
wait_for 120 grep -qa after-folders.txt "$work/swell" || fail "the helper never got through the folders"
rss=$(($(kb VmRSS "/proc/$pid/status") / 1024))
echo "helper resident ${rss} MB after another user's 100000 private folders, one inside the next"
# AddressSanitizer's shadow and quarantine take their own share.
limit=64
grep -q "^VANTREL_SANITIZE:BOOL=ON" "$build/CMakeCache.txt" 2>/dev/null && limit=256
[ "$rss" -lt "$limit" ] || fail "another user's private folders swelled the helper to ${rss} MB"
pkill -KILL -u "$(id -u "$watcher")" -x vantrel-watch-h

# (7) A FUSE mount that never answers holds up neither start nor quitting;
# (8) a helper that dies or stops is noticed and watching resumes.
exec 9<>/dev/fuse || skip "no /dev/fuse"
mkdir "$hang"
mount -i -t fuse -o fd=9,rootmode=40000,user_id=0,group_id=0 hang "$hang" || skip "could not mount a FUSE file system"
home="$work/home"
mkdir -p "$home/vantrel" "$home/runtime"
chmod 700 "$home/runtime"
# Its rules name their folders, one of them on the mount that never answers.
printf '[监控设置]\r\n全盘监控=真\r\n自定义路径=真\r\n保存日志=真\r\n' | iconv -f UTF-8 -t GB18030 >"$home/vantrel/config.ini"
"$write_rules" "$home/vantrel/data.jl" 新建文件 "$work/mine" "【复制文件】$work/mine/copies" \
  新建文件 "$hang/inbox" "【复制文件】$work/mine/copies" || fail "could not write the rules"
chown -R "$watcher" "$home" "$work/mine"
log="$home/vantrel/log/$(date +%Y%m%d)/log.txt"
listed() { [ -f "$log" ] && iconv -f GB18030 -t UTF-8 "$log" | grep -q "$1"; }
started=$(ms)
env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" PATH=/usr/bin:/bin \
  setpriv --reuid "$(id -u "$watcher")" --regid "$(id -g "$watcher")" --init-groups \
  "$bin/vantrel-headless" --home "$home/vantrel" --watch-backend fanotify 9>&- >"$work/out" 2>"$work/err" &
program=$!
# Ready once a change is listed.
wait_for 5 sh -c "echo a >'$work/mine/first.txt'; iconv -f GB18030 -t UTF-8 '$log' 2>/dev/null | grep -q first.txt" ||
  fail "not watching 5 s after start with an unanswering FUSE mount: $(cat "$work/err")"
echo "ready in $(($(ms) - started)) ms with an unanswering FUSE mount"
listed "$hang/inbox 位于 fuse 文件系统" || fail "a rule's folder on a mount the helper cannot see was not told"
# Killed: watching again within 5 s.
killed=$(ms)
kill -KILL "$(helper_of "$watcher")"
wait_for 5 sh -c "echo b >'$work/mine/after-kill.txt'; iconv -f GB18030 -t UTF-8 '$log' | grep -q after-kill.txt" ||
  fail "not watching 5 s after the helper was killed: $(iconv -f GB18030 -t UTF-8 "$log" | tail -5)"
echo "watching again $(($(ms) - killed)) ms after the helper was killed"
listed "监控助手已退出" || fail "the helper's death was not told"
# Stopped: noticed, ended, and watching again. Stopped once it has said it
# watches: one stopped while it starts is a helper that never answered.
wait_for 10 listed "监控助手已重新启动" || fail "no helper runs again: $(iconv -f GB18030 -t UTF-8 "$log" | tail -5)"
kill -STOP "$(helper_of "$watcher")"
wait_for 15 sh -c "echo c >'$work/mine/after-stop.txt'; iconv -f GB18030 -t UTF-8 '$log' | grep -q after-stop.txt" ||
  fail "not watching again after the helper was stopped: $(iconv -f GB18030 -t UTF-8 "$log" | tail -5)"
listed "没有应答" || fail "a stopped helper was not told"
quit=$(ms)
kill -TERM "$program"
wait_for 5 sh -c "! kill -0 $program 2>/dev/null" || fail "the program did not quit within 5 s of SIGTERM"
wait "$program" || fail "exit code $? after SIGTERM: $(cat "$work/err")"
echo "quit in $(($(ms) - quit)) ms"

# The same for root's program, which reads fanotify itself.
roothome="$work/roothome"
mkdir -p "$roothome"
cp "$home/vantrel/config.ini" "$roothome/config.ini"
"$write_rules" "$roothome/data.jl" 新建文件 "$work/public" "【复制文件】$work/public/copies" || fail "could not write root's rules"
rootlog="$roothome/log/$(date +%Y%m%d)/log.txt"
started=$(ms)
"$bin/vantrel-headless" --home "$roothome" --watch-backend fanotify 9>&- >"$work/rootout" 2>"$work/rooterr" &
program=$!
wait_for 5 sh -c "echo a >'$work/public/root-first.txt'; iconv -f GB18030 -t UTF-8 '$rootlog' 2>/dev/null | grep -q root-first.txt" ||
  fail "root's program not watching 5 s after start with an unanswering FUSE mount: $(cat "$work/rooterr")"
echo "root's program ready in $(($(ms) - started)) ms"
quit=$(ms)
kill -TERM "$program"
wait_for 5 sh -c "! kill -0 $program 2>/dev/null" || fail "root's program did not quit within 5 s of SIGTERM"
echo "root's program quit in $(($(ms) - quit)) ms"
echo "watch attacks: nothing leaked, memory bounded, no hang, never blind"
